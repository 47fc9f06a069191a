#include "elabel_json.h"

#include "elabel_image.h"
#include "elabel_names.h"

namespace {

// Length of the UTF-8 sequence that starts with `lead` and the smallest value
// it may encode (anything smaller is overlong); 0 for a byte no sequence starts with.
size_t sequence_len(uint8_t lead, uint32_t *least)
{
    if (lead < 0x80) {
        *least = 0;
        return 1;
    }
    if (lead >= 0xC2 && lead < 0xE0) {
        *least = 0x80;
        return 2;
    }
    if (lead >= 0xE0 && lead < 0xF0) {
        *least = 0x800;
        return 3;
    }
    if (lead >= 0xF0 && lead < 0xF5) {
        *least = 0x10000;
        return 4;
    }
    return 0;
}

// Length of the well-formed character at `bytes`, or 0.
size_t char_len(const uint8_t *bytes, size_t size)
{
    uint32_t least = 0;
    const size_t n = sequence_len(bytes[0], &least);
    if (n == 0 || n > size) {
        return 0;
    }
    uint32_t value = n == 1 ? bytes[0] : bytes[0] & (0x7Fu >> n);
    for (size_t i = 1; i < n; ++i) {
        if ((bytes[i] & 0xC0) != 0x80) {
            return 0;
        }
        value = value << 6 | (bytes[i] & 0x3Fu);
    }
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    return value < least || surrogate || value > 0x10FFFF ? 0 : n;
}

void put_hex(FILE *out, const uint8_t *bytes, size_t size)
{
    std::fputc('"', out);
    for (size_t i = 0; i < size; ++i) {
        std::fprintf(out, "%02x", bytes[i]);
    }
    std::fputc('"', out);
}

// The text as it is (valid UTF-8, no control bytes), quote and backslash escaped;
// null otherwise.
void put_text(FILE *out, const uint8_t *bytes, size_t size)
{
    if (!elabel_is_plain_utf8(bytes, size)) {
        std::fputs("null", out);
        return;
    }
    std::fputc('"', out);
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] == '"' || bytes[i] == '\\') {
            std::fputc('\\', out);
        }
        std::fputc(bytes[i], out);
    }
    std::fputc('"', out);
}

void put_item(FILE *out, const uint8_t *label, int row, bool last)
{
    const elabel_item_desc &item = elabel_item_table[row];
    const uint8_t *field = elabel_item_field(label, item);
    const uint16_t shown = elabel_item_shown_len(label, item);
    std::fprintf(out,
                 "    {\"id\": %u, \"id_hex\": \"0x%02x\", \"name\": \"%s\", \"capacity\": %u, "
                 "\"state\": \"%s\", \"length\": %u, \"crc\": %u, \"computed_crc\": %u, \"hex\": ",
                 static_cast<unsigned>(item.id), static_cast<unsigned>(item.id),
                 elabel_item_names[row], static_cast<unsigned>(item.max_len),
                 elabel_item_state_name(label, item),
                 static_cast<unsigned>(elabel_item_len(label, item)),
                 static_cast<unsigned>(elabel_item_crc(label, item)),
                 static_cast<unsigned>(elabel_crc16(field, shown)));
    put_hex(out, field, shown);
    std::fputs(", \"text\": ", out);
    put_text(out, field, shown);
    std::fputs(last ? "}\n" : "},\n", out);
}

} // namespace

bool elabel_is_plain_utf8(const uint8_t *bytes, size_t size)
{
    for (size_t i = 0; i < size;) {
        if (bytes[i] < 0x20 || bytes[i] == 0x7F) {
            return false;
        }
        const size_t n = char_len(bytes + i, size - i);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

void elabel_json_write(FILE *out, const uint8_t *label, size_t label_at,
                       bool (*per_board)(const elabel_item_desc &item))
{
    const uint32_t magic = elabel_get_le32(label);
    std::fprintf(out, "{\n  \"format\": \"%s\",\n  \"version\": %d,\n", ELABEL_JSON_FORMAT,
                 ELABEL_JSON_VERSION);
    if (per_board != nullptr) {
        std::fputs("  \"template\": true,\n", out);
    }
    std::fprintf(out, "  \"offset\": %zu,\n  \"magic\": %u,\n  \"magic_ok\": %s,\n", label_at,
                 magic, magic == ELABEL_MAGIC ? "true" : "false");
    std::fprintf(out, "  \"valid\": %s,\n  \"items\": [\n",
                 elabel_image_is_valid(label) ? "true" : "false");
    int last = ELABEL_ITEM_NUM - 1;
    while (per_board != nullptr && per_board(elabel_item_table[last])) {
        --last;
    }
    for (int row = 0; row <= last; ++row) {
        if (per_board == nullptr || !per_board(elabel_item_table[row])) {
            put_item(out, label, row, row == last);
        }
    }
    std::fputs("  ]\n}\n", out);
}
