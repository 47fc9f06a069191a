// program --dry-run and set --dry-run: the board's label read as stored, the
// label the command would write built beside it, and what differs printed as
// diff prints it. Nothing is written, nothing settled, nothing kept.
#include <cstring>

#include "elabel_image.h"
#include "image_tool.h"

namespace {

uint8_t board[ELABEL_DATA_LEN];
uint8_t planned[ELABEL_DATA_LEN];
uint8_t patch[ELABEL_DATA_LEN];

// The differences and a last line; 0 nothing to change, 1 changes, and 5 instead
// when the board was read while a write-back is pending.
int report(bool pending)
{
    const int changes = image_print_differences(board, planned);
    if (changes == 0) {
        std::puts("dry run: nothing to change");
    } else {
        std::printf("dry run: %d %s, nothing written\n", changes, changes == 1 ? "change" : "changes");
    }
    if (image_flush_stdout() != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    if (pending) {
        return IMAGE_PENDING;
    }
    return changes == 0 ? IMAGE_OK : IMAGE_INVALID;
}

// set keeps every item it does not name as stored, a damaged one included.
void note_damaged(uint32_t rows)
{
    for (int row = 0; row < ELABEL_ITEM_NUM; ++row) {
        const elabel_item_desc &item = elabel_item_table[row];
        if ((rows & 1u << row) == 0 && elabel_item_check(board, item) != elabel_item_state::ok) {
            image_error("set: item 0x%02x (%s) on the board is damaged (%s); set would keep it "
                        "as stored",
                        item.id, image_item_name(item), image_state_name(board, item));
        }
    }
}

} // namespace

int image_program_dry_run(const image_options &opt)
{
    static image_file file;
    const char *path = opt.args[0];
    if (image_load(path, opt.offset, &file) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    const uint8_t *label = file.bytes + file.label_at;
    if (image_problems(label, path, true) != 0) {
        image_error("%s: program would refuse it: the label does not check", image_file_name(path));
        return IMAGE_USAGE;
    }
    bool pending = false;
    if (image_board_read(board, &pending) != IMAGE_OK) {
        return IMAGE_DEVICE;
    }
    std::memcpy(planned, label, ELABEL_DATA_LEN);
    return report(pending);
}

int image_set_dry_run(const image_options &opt)
{
    uint32_t rows = 0;
    if (image_set_items(opt, patch, &rows) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    bool pending = false;
    if (image_board_read(board, &pending) != IMAGE_OK) {
        return IMAGE_DEVICE;
    }
    const uint32_t magic = elabel_get_le32(board);
    if (magic != ELABEL_MAGIC) {
        image_error("set: the board holds no label (magic 0x%08x is not 0x%08x): set would "
                    "refuse it; build one with 'elabel-image build' and write it with "
                    "'elabel-image program'",
                    magic, ELABEL_MAGIC);
        return IMAGE_DEVICE;
    }
    note_damaged(rows);
    std::memcpy(planned, board, ELABEL_DATA_LEN);
    for (int row = 0; row < ELABEL_ITEM_NUM; ++row) {
        const elabel_item_desc &item = elabel_item_table[row];
        if ((rows & 1u << row) != 0) {
            std::memcpy(planned + item.offset, patch + item.offset,
                        ELABEL_ITEM_HEAD_LEN + item.max_len);
        }
    }
    return report(pending);
}
