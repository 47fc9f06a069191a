#include <cstring>

#include "elabel_image.h"
#include "image_tool.h"

namespace {

// Where the output's label goes and how long the output is.
int output_layout(const image_options &opt, const image_file *from, size_t *size, size_t *at)
{
    if (opt.eeprom_size >= 0) {
        *size = static_cast<size_t>(opt.eeprom_size);
        *at = opt.offset >= 0 ? static_cast<size_t>(opt.offset) : ELABEL_FLASH_OFFSET;
    } else if (from != nullptr) {
        *size = from->size;
        *at = from->label_at;
    } else {
        *size = ELABEL_DATA_LEN;
        *at = 0;
    }
    if (*size < ELABEL_DATA_LEN || *at > *size - ELABEL_DATA_LEN) {
        image_error("build: an image of %zu %s has no room for the label at byte %zu (%d bytes)",
                    *size, image_bytes(*size), *at, ELABEL_DATA_LEN);
        return IMAGE_USAGE;
    }
    if (from != nullptr && *size < from->size) {
        image_error("build: %s: %zu bytes, longer than the image of %zu %s",
                    image_file_name(opt.from), from->size, *size, image_bytes(*size));
        return IMAGE_USAGE;
    }
    return IMAGE_OK;
}

// The output before the items are patched: blank (0xFF) around an empty label,
// or the --from file's bytes and label.
void start_output(const image_file *from, uint8_t *bytes, size_t size, size_t at)
{
    std::memset(bytes, 0xFF, size);
    uint8_t *label = bytes + at;
    if (from == nullptr) {
        std::memset(label, 0, ELABEL_DATA_LEN);
    } else {
        const bool bare = from->label_at == 0 && from->size == ELABEL_DATA_LEN;
        if (!bare) {
            std::memcpy(bytes, from->bytes, from->size);
        }
        std::memmove(label, from->bytes + from->label_at, ELABEL_DATA_LEN);
    }
    elabel_put_le32(label, ELABEL_MAGIC);
}

// The --json document's items, then the command line's, which may override them;
// *given: the items the command line names.
int patch_items(const image_options &opt, uint8_t *label, uint32_t *given)
{
    static image_file doc;
    if (opt.json_in != nullptr) {
        uint32_t from_doc = 0;
        if (image_read(opt.json_in, &doc) != IMAGE_OK ||
            image_json_patch(doc.bytes, doc.size, opt.json_in, label, &from_doc) != IMAGE_OK) {
            return IMAGE_USAGE;
        }
    }
    uint32_t from_args = 0;
    for (int i = 0; i < opt.nargs; ++i) {
        if (image_patch_item(label, opt.args[i], &from_args) != IMAGE_OK) {
            return IMAGE_USAGE;
        }
    }
    *given = from_args;
    return IMAGE_OK;
}

// --require: each item listed needs a text of its own as ID=TEXT, never the
// template's or --from's, and not an empty one. One line per item missing.
int check_required(const image_options &opt, uint32_t required, uint32_t given, const uint8_t *label)
{
    int missing = 0;
    for (int row = 0; row < ELABEL_ITEM_NUM; ++row) {
        const elabel_item_desc &item = elabel_item_table[row];
        if ((required & 1u << row) == 0) {
            continue;
        }
        if ((given & 1u << row) == 0 || elabel_item_len(label, item) == 0) {
            image_error("build: item 0x%02x (%s) is required (--require) but %s", item.id,
                        image_item_name(item),
                        (given & 1u << row) == 0 ? "not given as ID=TEXT" : "given empty");
            ++missing;
        }
    }
    if (missing != 0) {
        image_error("build: %s not written: %d required %s missing", opt.output, missing,
                    missing == 1 ? "item" : "items");
        return IMAGE_USAGE;
    }
    return IMAGE_OK;
}

} // namespace

int image_build_run(const image_options &opt)
{
    static image_file from;
    static image_file out;
    bool pending = false;
    uint32_t required = 0;
    if (opt.require != nullptr &&
        image_item_list(opt.require, &required, "build: --require") != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    if (opt.from != nullptr) {
        const int loaded = image_load_label(opt.from, opt.offset, &from, &pending);
        if (loaded != IMAGE_OK) {
            return loaded;
        }
    }
    if (pending) {
        image_error("build: %s not written: the board's label may be as a cut write-back left "
                    "it; finish the write-back first ('elabel-image recover')",
                    opt.output);
        return IMAGE_PENDING;
    }
    const image_file *base = opt.from != nullptr ? &from : nullptr;
    if (output_layout(opt, base, &out.size, &out.label_at) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    start_output(base, out.bytes, out.size, out.label_at);
    uint8_t *label = out.bytes + out.label_at;
    uint32_t given = 0;
    if (patch_items(opt, label, &given) != IMAGE_OK ||
        check_required(opt, required, given, label) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    // Items kept from --from must be valid too: the output is a valid label.
    if (image_problems(label, opt.from != nullptr ? opt.from : "", true) != 0) {
        image_error("build: %s not written: the label would not check", opt.output);
        return IMAGE_INVALID;
    }
    return image_write_output(opt.output, out.bytes, out.size);
}
