#include <cstring>

#include "elabel_image.h"
#include "image_tool.h"

namespace {

uint16_t computed_crc(const uint8_t *label, const elabel_item_desc &item)
{
    return elabel_crc16(elabel_item_field(label, item), image_shown_len(label, item));
}

// Problem `at` (-1 the magic, else an item's row) as text; false when there is none.
bool problem_text(const uint8_t *label, int at, char *text, size_t size)
{
    if (at < 0) {
        const uint32_t magic = elabel_get_le32(label);
        if (magic == ELABEL_MAGIC) {
            return false;
        }
        std::snprintf(text, size, "magic 0x%08x is not 0x%08x", magic, ELABEL_MAGIC);
        return true;
    }
    const elabel_item_desc &item = elabel_item_table[at];
    const elabel_item_state state = elabel_item_check(label, item);
    if (state == elabel_item_state::ok) {
        return false;
    }
    if (state == elabel_item_state::too_long) {
        std::snprintf(text, size, "item 0x%02x (%s): length %u beyond capacity %u", item.id,
                      image_item_name(item), elabel_item_len(label, item), item.max_len);
    } else {
        std::snprintf(text, size, "item 0x%02x (%s): checksum 0x%04x, computed 0x%04x", item.id,
                      image_item_name(item), elabel_item_crc(label, item),
                      computed_crc(label, item));
    }
    return true;
}

// Calls see(text) for each problem; returns the count. A blank label is one problem.
template <typename See>
size_t each_problem(const uint8_t *label, See see)
{
    char text[160];
    if (image_is_blank(label)) {
        std::snprintf(text, sizeof(text), "no label: all %d bytes are 0x%02x (a blank chip)",
                      ELABEL_DATA_LEN, IMAGE_BLANK_BYTE);
        see(text);
        return 1;
    }
    size_t count = 0;
    for (int at = -1; at < ELABEL_ITEM_NUM; ++at) {
        if (problem_text(label, at, text, sizeof(text))) {
            see(text);
            ++count;
        }
    }
    return count;
}

} // namespace

bool image_is_blank(const uint8_t *label)
{
    for (size_t i = 0; i < ELABEL_DATA_LEN; ++i) {
        if (label[i] != IMAGE_BLANK_BYTE) {
            return false;
        }
    }
    return true;
}

size_t image_problems(const uint8_t *label, const char *path, bool report)
{
    const char *name = image_file_name(path);
    return each_problem(label, [&](const char *text) {
        if (report) {
            image_error("%s: %s", name, text);
        }
    });
}

size_t image_first_problem(const uint8_t *label, char *text, size_t size)
{
    text[0] = '\0';
    return each_problem(label, [&](const char *problem) {
        if (text[0] == '\0') {
            std::snprintf(text, size, "%s", problem);
        }
    });
}

// Printable ASCII as it is, quote and backslash escaped, every other byte as \xHH.
void image_put_quoted(FILE *out, const uint8_t *bytes, size_t size)
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
            std::fprintf(out, "\\x%02x", b);
        }
    }
    std::fputc('"', out);
}

void image_show_item(FILE *out, const uint8_t *label, const elabel_item_desc &item)
{
    std::fprintf(out, "0x%02x  %-18s  %-22s  %6u  ", static_cast<unsigned>(item.id),
                 image_item_name(item), image_state_name(label, item),
                 static_cast<unsigned>(elabel_item_len(label, item)));
    image_put_quoted(out, elabel_item_field(label, item), image_shown_len(label, item));
    std::fputc('\n', out);
}

void image_show_text(FILE *out, const uint8_t *label)
{
    const uint32_t magic = elabel_get_le32(label);
    std::fprintf(out, "magic 0x%08x %s\n", magic, magic == ELABEL_MAGIC ? "ok" : "wrong");
    std::fprintf(out, "%-4s  %-18s  %-22s  %6s  %s\n", "id", "name", "state", "length", "text");
    for (const elabel_item_desc &item : elabel_item_table) {
        image_show_item(out, label, item);
    }
}
