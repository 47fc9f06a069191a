#include "elabel_image.h"
#include "elabel_log.h"
#include "elabel_platform.h"

extern "C" int32_t driver_elabel_get_data(uint8_t id, uint8_t *out, uint32_t out_size,
                                          uint16_t *out_len)
{
    if (elabel_data == nullptr && driver_elabel_init() != 0) {
        ELABEL_ERR("driver_elabel_init error\r\n");
        return -1;
    }
    const elabel_item_desc *item = driver_elabel_find_item(id);
    if (item == nullptr) {
        ELABEL_ERR("driver_elabel_set_data: no item %d\r\n", id);
        return -6;
    }
    if (elabel_data == nullptr) {
        ELABEL_ERR("driver_elabel_get_data: elabel data is NULL\r\n");
        return -4;
    }
    const uint16_t len = elabel_item_len(elabel_data, *item);
    const uint8_t *field = elabel_item_field(elabel_data, *item);
    // A length beyond the field (possible in an unverified image) is refused
    // like a failed copy, so nothing is read past the item.
    if (len > item->max_len || elabel_platform.memory.copy(out, out_size, field, len) != 0) {
        ELABEL_ERR("item_id %u driver_elabel_get_data memcpy_s error.data_size is %u, len is %u\n",
                   static_cast<unsigned>(id), out_size, static_cast<unsigned>(len));
        ELABEL_ERR("driver_elabel_get_data memcpy_s error. data is %.*s\n",
                   elabel_item_text_len(elabel_data, *item), reinterpret_cast<const char *>(field));
        return -4;
    }
    if (out_len != nullptr) {
        *out_len = len;
    }
    return 0;
}
