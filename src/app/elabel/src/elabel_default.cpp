#include <cstring>

#include "elabel_image.h"
#include "elabel_log.h"
#include "elabel_platform.h"

namespace {

// Writes the row's default text (with its NUL) to the start of its field and
// seals the item with the default's length; the rest of the field stays.
int32_t reset_item(const elabel_item_desc &item)
{
    const size_t len = std::strlen(item.default_value);
    uint8_t *field = elabel_data != nullptr ? elabel_item_field(elabel_data, item) : nullptr;
    if (elabel_platform.memory.copy(field, item.max_len, item.default_value, len + 1) != 0) {
        return 1;
    }
    elabel_item_seal(elabel_data, item, static_cast<uint16_t>(len));
    return 0;
}

void store_magic()
{
    if (elabel_data != nullptr) {
        elabel_put_le32(elabel_data, ELABEL_MAGIC);
    }
}

} // namespace

extern "C" int32_t driver_elabel_item_set_default(int32_t row)
{
    if (row < 0 || row >= ELABEL_ITEM_NUM) {
        return 1;
    }
    store_magic();
    if (reset_item(elabel_item_table[row]) != 0) {
        ELABEL_ERR("[driver_elabel_set_default] memcpy_s error.\n");
        return 1;
    }
    return 0;
}

extern "C" int32_t driver_elabel_set_default(void)
{
    store_magic();
    for (const auto &item : elabel_item_table) {
        if (reset_item(item) != 0) {
            ELABEL_ERR("[driver_elabel_set_default] memcpy_s error.\n");
            return 1;
        }
    }
    return 0;
}
