#include <cctype>
#include <cstring>

#include "elabel_image.h"
#include "elabel_names.h"
#include "image_tool.h"

namespace {

// An item id in hexadecimal, with or without 0x: one or two digits.
bool parse_id(const char *text, size_t len, uint8_t *out)
{
    if (len > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text += 2;
        len -= 2;
    }
    if (len == 0 || len > 2) {
        return false;
    }
    unsigned value = 0;
    for (size_t i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (std::isxdigit(c) == 0) {
            return false;
        }
        value = value * 16 + static_cast<unsigned>(std::isdigit(c) != 0 ? c - '0' : std::tolower(c) - 'a' + 10);
    }
    *out = static_cast<uint8_t>(value);
    return true;
}

int row_of(const elabel_item_desc *item)
{
    return static_cast<int>(item - elabel_item_table);
}

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
        image_error("build: an image of %zu bytes has no room for the label at byte %zu", *size,
                    *at);
        return IMAGE_USAGE;
    }
    if (from != nullptr && *size < from->size) {
        image_error("build: %s: %zu bytes, longer than the image of %zu bytes", opt.from, from->size,
                    *size);
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

} // namespace

int image_patch_item(uint8_t *label, const char *arg)
{
    const char *eq = std::strchr(arg, '=');
    uint8_t id = 0;
    if (eq == nullptr || !parse_id(arg, static_cast<size_t>(eq - arg), &id)) {
        image_error("build: '%s' is not ID=TEXT with a hexadecimal id", arg);
        return IMAGE_USAGE;
    }
    const elabel_item_desc *item = driver_elabel_find_item(id);
    if (item == nullptr) {
        image_error("build: no item 0x%02x", id);
        return IMAGE_USAGE;
    }
    const char *text = eq + 1;
    const size_t len = std::strlen(text);
    if (len >= item->max_len) {
        image_error("build: item 0x%02x (%s): text of %zu bytes, must be shorter than %u", id,
                    elabel_item_names[row_of(item)], len, item->max_len);
        return IMAGE_USAGE;
    }
    uint8_t *field = elabel_item_field(label, *item);
    std::memset(field, 0, item->max_len);
    std::memcpy(field, text, len + 1);  // len < max_len: the terminator fits
    elabel_item_seal(label, *item, static_cast<uint16_t>(len));
    return IMAGE_OK;
}

int image_build_run(const image_options &opt)
{
    static image_file from;
    static image_file out;
    if (opt.output == nullptr) {
        image_error("build: no output file (-o OUT)");
        return IMAGE_USAGE;
    }
    if (opt.from != nullptr && image_load(opt.from, opt.offset, &from) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    const image_file *base = opt.from != nullptr ? &from : nullptr;
    if (output_layout(opt, base, &out.size, &out.label_at) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    start_output(base, out.bytes, out.size, out.label_at);
    uint8_t *label = out.bytes + out.label_at;
    for (int i = 0; i < opt.nargs; ++i) {
        if (image_patch_item(label, opt.args[i]) != IMAGE_OK) {
            return IMAGE_USAGE;
        }
    }
    // Items kept from --from must be valid too: the output is a valid label.
    if (image_problems(label, opt.from != nullptr ? opt.from : "", true) != 0) {
        image_error("build: %s not written: the label would not check", opt.output);
        return IMAGE_INVALID;
    }
    const int ret = image_write_file(opt.output, out.bytes, out.size);
    if (ret != 0) {
        image_error("%s: %s", opt.output, std::strerror(-ret));
        return IMAGE_USAGE;
    }
    return IMAGE_OK;
}
