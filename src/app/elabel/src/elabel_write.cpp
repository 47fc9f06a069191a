#include <cstdio>
#include <cstring>

#include "elabel_image.h"
#include "elabel_log.h"
#include "elabel_platform.h"

extern "C" int32_t set_data_to_elabel_mem(uint8_t id, const char *text)
{
    if (elabel_data == nullptr || text == nullptr) {
        ELABEL_ERR("elabel_data or data is NULL\r\n");
        return -4;
    }
    const elabel_item_desc *item = driver_elabel_find_item(id);
    if (item == nullptr) {
        ELABEL_ERR("no item %d\r\n", id);
        return -6;
    }
    const size_t n = std::strlen(text);
    if (n >= item->max_len) {
        ELABEL_ERR("Data is too long, should be less than %d\r\n", item->max_len);
        std::printf("Data is too long, should be less than %u\r\n", static_cast<unsigned>(item->max_len));
        return -6;
    }
    uint8_t *field = elabel_item_field(elabel_data, *item);
    errno_t ret = elabel_platform.memory.fill(field, item->max_len, 0, item->max_len);
    if (ret != 0) {
        ELABEL_ERR("memset_s error. ret=%d\n", ret);
        return -4;
    }
    ret = elabel_platform.memory.copy(field, item->max_len, text, n);
    if (ret != 0) {
        ELABEL_ERR("memcpy_s error. ret=%d\n", ret);
        return -4;
    }
    elabel_item_seal(elabel_data, *item, static_cast<uint16_t>(n));
    return 0;
}

extern "C" int32_t driver_elabel_set_data(uint8_t id, const uint8_t *data, uint16_t offset,
                                          int32_t count)
{
    if (elabel_data == nullptr && driver_elabel_init() != 0) {
        ELABEL_ERR("driver_elabel_init error\r\n");
        return -1;
    }
    if (data == nullptr || count <= 0) {
        ELABEL_ERR("driver_elabel_set_data: argument invalid\r\n");
        return -6;
    }
    const elabel_item_desc *item = driver_elabel_find_item(id);
    if (item == nullptr) {
        ELABEL_ERR("driver_elabel_set_data: no item %d\r\n", id);
        return -6;
    }
    const int64_t end = static_cast<int64_t>(offset) + count;
    if (end >= item->max_len) {
        ELABEL_ERR("driver_elabel_set_data: data to write is too long \r\n");
        return -6;
    }
    if (elabel_data == nullptr) {
        return -4;
    }
    uint8_t *field = elabel_item_field(elabel_data, *item);
    if (offset == 0 && elabel_platform.memory.fill(field, item->max_len, 0, item->max_len) != 0) {
        ELABEL_ERR("driver_elabel_set_data memset_s error.\n");
        return -4;
    }
    if (elabel_platform.memory.copy(field + offset, item->max_len - offset, data,
                             static_cast<size_t>(count)) != 0) {
        ELABEL_ERR("driver_elabel_set_data memcpy_s error.\n");
        return -4;
    }
    elabel_item_seal(elabel_data, *item, static_cast<uint16_t>(end));
    return 0;
}

extern "C" int32_t elabel_set_data(uint8_t id, const uint8_t *data, uint16_t offset, int32_t count)
{
    if (driver_elabel_init() != 0) {
        ELABEL_ERR("driver_elabel_init failed.\n");
    }
    return driver_elabel_set_data(id, data, offset, count);
}
