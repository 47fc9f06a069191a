// diff A B: two labels item by item, each a label file or the board's label.
#include <cstring>
#include <initializer_list>

#include "elabel_image.h"
#include "image_tool.h"

namespace {

// One side's label: the board's, read as stored, or a file's.
int load_side(const char *side, long offset, uint8_t *label, bool *pending)
{
    static image_file file;
    bool read_pending = false;
    const int ret = image_load_label(side, offset, &file, &read_pending);
    if (ret == IMAGE_OK) {
        std::memcpy(label, file.bytes + file.label_at, ELABEL_DATA_LEN);
        *pending = *pending || read_pending;
    }
    return ret;
}

// An item's text as show writes it, and its state when it is not ok.
void put_side(const uint8_t *label, const elabel_item_desc &item)
{
    image_put_quoted(stdout, elabel_item_field(label, item), image_shown_len(label, item));
    if (elabel_item_check(label, item) != elabel_item_state::ok) {
        std::printf(" (%s)", image_state_name(label, item));
    }
}

bool same_block(const uint8_t *a, const uint8_t *b, const elabel_item_desc &item)
{
    return std::memcmp(a + item.offset, b + item.offset, ELABEL_ITEM_HEAD_LEN + item.max_len) == 0;
}

// Only the bytes behind the shown text differ (stale bytes after the length).
bool same_shown(const uint8_t *a, const uint8_t *b, const elabel_item_desc &item)
{
    const uint16_t len = image_shown_len(a, item);
    return std::strcmp(image_state_name(a, item), image_state_name(b, item)) == 0 &&
           len == image_shown_len(b, item) &&
           std::memcmp(elabel_item_field(a, item), elabel_item_field(b, item), len) == 0;
}

// One side blank, the other not: one line says so instead of 26 items of 0xFF.
void put_blank_line(const uint8_t *a, const uint8_t *b)
{
    std::fputs("label  ", stdout);
    for (const uint8_t *side : {a, b}) {
        if (image_is_blank(side)) {
            std::printf("blank (all %d bytes 0x%02x)", ELABEL_DATA_LEN, IMAGE_BLANK_BYTE);
        } else {
            std::printf("magic 0x%08x", elabel_get_le32(side));
        }
        std::fputs(side == a ? "  " : "\n", stdout);
    }
}

} // namespace

int image_print_differences(const uint8_t *a, const uint8_t *b)
{
    if (image_is_blank(a) != image_is_blank(b)) {
        put_blank_line(a, b);
        return 1;
    }
    int differences = 0;
    const uint32_t magic_a = elabel_get_le32(a);
    const uint32_t magic_b = elabel_get_le32(b);
    if (magic_a != magic_b) {
        std::printf("magic  0x%08x  0x%08x\n", magic_a, magic_b);
        ++differences;
    }
    for (const elabel_item_desc &item : elabel_item_table) {
        if (same_block(a, b, item)) {
            continue;
        }
        std::printf("0x%02x  %-18s  ", item.id, image_item_name(item));
        put_side(a, item);
        std::fputs("  ", stdout);
        put_side(b, item);
        std::fputs(same_shown(a, b, item) ? "  (stored bytes after the text differ)\n" : "\n",
                   stdout);
        ++differences;
    }
    return differences;
}

int image_diff_run(const image_options &opt)
{
    uint8_t a[ELABEL_DATA_LEN];
    uint8_t b[ELABEL_DATA_LEN];
    bool pending = false;
    int ret = load_side(opt.args[0], opt.offset, a, &pending);
    if (ret == IMAGE_OK) {
        ret = load_side(opt.args[1], opt.offset, b, &pending);
    }
    if (ret != IMAGE_OK) {
        return ret;
    }
    const int differences = image_print_differences(a, b);
    if (image_flush_stdout() != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    // A board read while its label may be as a cut left it is no comparison to trust.
    return image_worse(differences == 0 ? IMAGE_OK : IMAGE_INVALID,
                       pending ? IMAGE_PENDING : IMAGE_OK);
}
