#include "elabel_image.h"
#include "elabel_names.h"
#include "image_tool.h"

namespace {

const char *state_name(elabel_item_state state)
{
    switch (state) {
    case elabel_item_state::too_long:
        return "length-beyond-capacity";
    case elabel_item_state::bad_crc:
        return "checksum-mismatch";
    default:
        return "ok";
    }
}

// The bytes of an item that a listing shows: its length, never beyond its field.
uint16_t shown_len(const uint8_t *label, const elabel_item_desc &item)
{
    const uint16_t len = elabel_item_len(label, item);
    return len <= item.max_len ? len : item.max_len;
}

uint16_t computed_crc(const uint8_t *label, const elabel_item_desc &item)
{
    return elabel_crc16(elabel_item_field(label, item), shown_len(label, item));
}

// Printable ASCII as it is, quote and backslash escaped, every other byte as
// \xHH (listing) or \u00HH (JSON: the byte's value as the code point).
void put_quoted(FILE *out, const uint8_t *bytes, size_t size, bool json)
{
    std::fputc('"', out);
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = bytes[i];
        if (b == '"' || b == '\\') {
            std::fputc('\\', out);
            std::fputc(b, out);
        } else if (b >= 0x20 && b < 0x7F) {
            std::fputc(b, out);
        } else {
            std::fprintf(out, json ? "\\u%04x" : "\\x%02x", b);
        }
    }
    std::fputc('"', out);
}

void put_json_item(FILE *out, const uint8_t *label, int row)
{
    const elabel_item_desc &item = elabel_item_table[row];
    std::fprintf(out,
                 "    {\"id\": %u, \"name\": \"%s\", \"capacity\": %u, \"state\": \"%s\", "
                 "\"length\": %u, \"crc\": %u, \"computed_crc\": %u, \"text\": ",
                 static_cast<unsigned>(item.id), elabel_item_names[row],
                 static_cast<unsigned>(item.max_len), state_name(elabel_item_check(label, item)),
                 static_cast<unsigned>(elabel_item_len(label, item)),
                 static_cast<unsigned>(elabel_item_crc(label, item)),
                 static_cast<unsigned>(computed_crc(label, item)));
    put_quoted(out, elabel_item_field(label, item), shown_len(label, item), true);
    std::fputs(row + 1 < ELABEL_ITEM_NUM ? "},\n" : "}\n", out);
}

} // namespace

size_t image_problems(const uint8_t *label, const char *path, bool report)
{
    size_t count = 0;
    const uint32_t magic = elabel_get_le32(label);
    if (magic != ELABEL_MAGIC) {
        ++count;
        if (report) {
            image_error("%s: magic 0x%08x is not 0x%08x", path, magic, ELABEL_MAGIC);
        }
    }
    for (int row = 0; row < ELABEL_ITEM_NUM; ++row) {
        const elabel_item_desc &item = elabel_item_table[row];
        const elabel_item_state state = elabel_item_check(label, item);
        if (state == elabel_item_state::ok) {
            continue;
        }
        ++count;
        if (!report) {
            continue;
        }
        if (state == elabel_item_state::too_long) {
            image_error("%s: item 0x%02x (%s): length %u beyond capacity %u", path, item.id,
                        elabel_item_names[row], elabel_item_len(label, item), item.max_len);
        } else {
            image_error("%s: item 0x%02x (%s): checksum 0x%04x, computed 0x%04x", path, item.id,
                        elabel_item_names[row], elabel_item_crc(label, item),
                        computed_crc(label, item));
        }
    }
    return count;
}

void image_show_text(FILE *out, const uint8_t *label)
{
    const uint32_t magic = elabel_get_le32(label);
    std::fprintf(out, "magic 0x%08x %s\n", magic, magic == ELABEL_MAGIC ? "ok" : "wrong");
    std::fprintf(out, "%-4s  %-18s  %-22s  %6s  %s\n", "id", "name", "state", "length", "text");
    for (int row = 0; row < ELABEL_ITEM_NUM; ++row) {
        const elabel_item_desc &item = elabel_item_table[row];
        std::fprintf(out, "0x%02x  %-18s  %-22s  %6u  ", static_cast<unsigned>(item.id),
                     elabel_item_names[row], state_name(elabel_item_check(label, item)),
                     static_cast<unsigned>(elabel_item_len(label, item)));
        put_quoted(out, elabel_item_field(label, item), shown_len(label, item), false);
        std::fputc('\n', out);
    }
}

void image_show_json(FILE *out, const uint8_t *label, size_t label_at)
{
    const uint32_t magic = elabel_get_le32(label);
    std::fprintf(out, "{\n  \"offset\": %zu,\n  \"magic\": %u,\n  \"magic_ok\": %s,\n", label_at,
                 magic, magic == ELABEL_MAGIC ? "true" : "false");
    std::fprintf(out, "  \"valid\": %s,\n  \"items\": [\n",
                 image_problems(label, "", false) == 0 ? "true" : "false");
    for (int row = 0; row < ELABEL_ITEM_NUM; ++row) {
        put_json_item(out, label, row);
    }
    std::fputs("  ]\n}\n", out);
}
