// The items set changes and their texts: a --json document's, then the
// command line's, which override them. With --from FILE an operand without
// "=" names an item whose text is taken from that label file.
#include <cstring>

#include "elabel_image.h"
#include "image_tool.h"

namespace {

// ITEM of --from: the item's text in the label file, checked as ID=TEXT's is.
// A damaged item there is refused: its bytes are not a text to restore.
int take_from_file(const char *from, const uint8_t *source, const char *name, uint8_t *patch,
                   uint32_t *rows)
{
    const elabel_item_desc *item = image_find_item(name, std::strlen(name));
    if (item == nullptr) {
        image_error("set: '%s' names no item (a hexadecimal id such as 30 or 0x30, or a name)",
                    name);
        return IMAGE_USAGE;
    }
    const uint32_t bit = 1u << (item - elabel_item_table);
    if ((*rows & bit) != 0) {
        image_error("set: item 0x%02x (%s) given twice", item->id, image_item_name(*item));
        return IMAGE_USAGE;
    }
    *rows |= bit;
    if (elabel_item_check(source, *item) != elabel_item_state::ok) {
        image_error("set: %s: item 0x%02x (%s) is damaged there (%s): nothing written; take its "
                    "text from the factory file or a set-aside record",
                    image_file_name(from), item->id, image_item_name(*item),
                    image_state_name(source, *item));
        return IMAGE_USAGE;
    }
    return image_put_text(patch, *item, elabel_item_field(source, *item),
                          elabel_item_len(source, *item), "set");
}

// The --from label file, never the board.
int load_from(const char *from, image_file *file)
{
    if (image_is_board(from)) {
        image_error("set: --from takes a label file, not board (./board names a file)");
        return IMAGE_USAGE;
    }
    return image_load(from, -1, file);
}

} // namespace

int image_set_items(const image_options &opt, uint8_t *patch, uint32_t *rows)
{
    static image_file doc;
    static image_file from;
    uint32_t from_doc = 0;
    if (opt.json_in != nullptr &&
        (image_read(opt.json_in, &doc) != IMAGE_OK ||
         image_json_patch(doc.bytes, doc.size, opt.json_in, patch, &from_doc) != IMAGE_OK)) {
        return IMAGE_USAGE;
    }
    if (opt.from != nullptr && load_from(opt.from, &from) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    uint32_t from_args = 0;
    for (int i = 0; i < opt.nargs; ++i) {
        const char *arg = opt.args[i];
        const int ret = opt.from != nullptr && std::strchr(arg, '=') == nullptr
                            ? take_from_file(opt.from, from.bytes + from.label_at, arg, patch,
                                             &from_args)
                            : image_patch_item(patch, arg, &from_args, "set");
        if (ret != IMAGE_OK) {
            return IMAGE_USAGE;
        }
    }
    *rows = from_doc | from_args;
    if (*rows == 0) {
        image_error("set: no item named (ID=TEXT... or --json FILE)");
        return IMAGE_USAGE;
    }
    return IMAGE_OK;
}
