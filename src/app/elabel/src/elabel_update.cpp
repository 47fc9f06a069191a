#include "elabel_log.h"
#include "elabel_platform.h"
#include "elabel_writeback.h"

namespace {

void log_failed_pass(elabel_pass failed)
{
    if (failed == elabel_pass::erase) {
        ELABEL_ERR_FOR("driver_elabel_update", "fail to driver_flash_eraseElectronicLabel\r\n");
    } else {
        ELABEL_ERR_FOR("driver_elabel_update", "fail to driver_flash_writElectronicLabel\r\n");
    }
}

} // namespace

extern "C" int32_t driver_elabel_update(void)
{
    if (elabel_data == nullptr) {
        return -4;
    }
    auto *elabel_bak = static_cast<uint8_t *>(elabel_platform.memory.alloc(ELABEL_DATA_LEN));
    if (elabel_bak == nullptr) {
        ELABEL_ERR("fail to malloc elabel_bak\r\n");
        return -4;
    }
    if (elabel_platform.memory.copy(elabel_bak, ELABEL_DATA_LEN, elabel_data, ELABEL_DATA_LEN) != 0) {
        elabel_platform.memory.dealloc(elabel_bak);
        ELABEL_ERR("driver_elabel_update memcpy_s error.\n");
        return -4;
    }
    // The image carries the items of the label it replaces. Done only when
    // the device was read back holding the copy.
    static elabel_result res;
    const int32_t ret =
        elabel_write_label(elabel_bak, elabel_write_kind::update, &res, log_failed_pass);
    elabel_platform.memory.dealloc(elabel_bak);
    if (ret == -8) {
        ELABEL_ERR("driver_elabel bus busy.\n");
    }
    return ret;
}
