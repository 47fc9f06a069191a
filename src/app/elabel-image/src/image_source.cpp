// Where a label comes from: a label file, or the board's label as stored.
#include <cstring>

#include "elabel_image.h"
#include "image_tool.h"

namespace {

// How bad a status is among several operands'.
int rank(int status)
{
    switch (status) {
    case IMAGE_OK:
        return 0;
    case IMAGE_INVALID:
        return 1;
    case IMAGE_PENDING:
        return 2;
    case IMAGE_USAGE:
        return 3;
    default:
        return 4;
    }
}

} // namespace

bool image_is_board(const char *operand)
{
    return std::strcmp(operand, "board") == 0;
}

int image_load_label(const char *operand, long offset, image_file *file, bool *pending)
{
    *pending = false;
    if (!image_is_board(operand)) {
        return image_load(operand, offset, file);
    }
    if (image_board_read(file->bytes, pending) != IMAGE_OK) {
        return IMAGE_DEVICE;
    }
    file->size = ELABEL_DATA_LEN;
    file->label_at = 0;
    return IMAGE_OK;
}

int image_worse(int a, int b)
{
    return rank(a) >= rank(b) ? a : b;
}
