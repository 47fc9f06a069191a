// Items named on the command line or in a document, and the texts put in them.
#include <cstring>

#include "elabel_image.h"
#include "elabel_names.h"
#include "image_tool.h"
#include "quellix.h"

namespace {

constexpr size_t ID_TEXT_MAX = 32;

// The items each board has its own of: serial numbers, the date it was made, its asset tag.
constexpr uint8_t PER_BOARD_IDS[] = {0x12, 0x20, 0x23, 0x34, 0x35, 0x63};

int row_of(const elabel_item_desc &item)
{
    return static_cast<int>(&item - elabel_item_table);
}

const elabel_item_desc *find_by_name(const char *text, size_t len)
{
    for (int row = 0; row < ELABEL_ITEM_NUM; ++row) {
        const char *name = elabel_item_names[row];
        if (std::strlen(name) == len && std::memcmp(name, text, len) == 0) {
            return &elabel_item_table[row];
        }
    }
    return nullptr;
}

// The id in hexadecimal with an optional 0x, as elabel's get and set read it,
// except that a value beyond 0xFF names no item (elabel keeps its low byte).
const elabel_item_desc *find_by_id(const char *text, size_t len)
{
    char id[ID_TEXT_MAX + 1];
    if (len > ID_TEXT_MAX) {
        return nullptr;
    }
    std::memcpy(id, text, len);
    id[len] = '\0';
    const int32_t value = common_16_char2int(id);
    if (value < 0 || value > 0xFF) {
        return nullptr;
    }
    return driver_elabel_find_item(static_cast<uint8_t>(value));
}

} // namespace

const elabel_item_desc *image_find_item(const char *text, size_t len)
{
    const elabel_item_desc *item = find_by_name(text, len);
    return item != nullptr ? item : find_by_id(text, len);
}

bool image_is_per_board(const elabel_item_desc &item)
{
    for (const uint8_t id : PER_BOARD_IDS) {
        if (item.id == id) {
            return true;
        }
    }
    return false;
}

const char *image_item_name(const elabel_item_desc &item)
{
    return elabel_item_names[row_of(item)];
}

int image_put_text(uint8_t *label, const elabel_item_desc &item, const uint8_t *text, size_t len,
                   const char *who)
{
    const unsigned most = item.max_len - 1u;  // the field keeps a terminating zero
    if (len > most) {
        image_error("%s: item 0x%02x (%s): text of %zu %s; at most %u bytes fit", who, item.id,
                    image_item_name(item), len, image_bytes(len), most);
        return IMAGE_USAGE;
    }
    for (size_t i = 0; i < len; ++i) {
        if (text[i] < 0x20 || text[i] == 0x7F) {
            image_error("%s: item 0x%02x (%s): control byte 0x%02x at byte %zu of the text", who,
                        item.id, image_item_name(item), text[i], i);
            return IMAGE_USAGE;
        }
    }
    uint8_t *field = elabel_item_field(label, item);
    std::memset(field, 0, item.max_len);
    if (len > 0) {
        std::memcpy(field, text, len);
    }
    elabel_item_seal(label, item, static_cast<uint16_t>(len));
    return IMAGE_OK;
}

int image_patch_item(uint8_t *label, const char *arg, uint32_t *rows, const char *who)
{
    const char *eq = std::strchr(arg, '=');
    const elabel_item_desc *item =
        eq != nullptr ? image_find_item(arg, static_cast<size_t>(eq - arg)) : nullptr;
    if (eq == nullptr) {
        image_error("%s: '%s' is not ID=TEXT", who, arg);
        return IMAGE_USAGE;
    }
    if (item == nullptr) {
        image_error("%s: '%.*s' names no item (a hexadecimal id such as 30 or 0x30, or a name)",
                    who, static_cast<int>(eq - arg), arg);
        return IMAGE_USAGE;
    }
    const uint32_t bit = 1u << row_of(*item);
    if ((*rows & bit) != 0) {
        image_error("%s: item 0x%02x (%s) given twice", who, item->id, image_item_name(*item));
        return IMAGE_USAGE;
    }
    *rows |= bit;
    const char *text = eq + 1;
    return image_put_text(label, *item, reinterpret_cast<const uint8_t *>(text), std::strlen(text),
                          who);
}

int image_item_list(const char *list, uint32_t *rows, const char *who)
{
    const char *at = list;
    for (;;) {
        const char *comma = std::strchr(at, ',');
        const size_t len = comma != nullptr ? static_cast<size_t>(comma - at) : std::strlen(at);
        const elabel_item_desc *item = len > 0 ? image_find_item(at, len) : nullptr;
        if (item == nullptr) {
            image_error("%s: '%.*s' names no item (a hexadecimal id such as 30 or 0x30, or a name)",
                        who, static_cast<int>(len), at);
            return IMAGE_USAGE;
        }
        *rows |= 1u << row_of(*item);
        if (comma == nullptr) {
            return IMAGE_OK;
        }
        at = comma + 1;
    }
}
