#include "elabel_log.h"
#include "elabel_platform.h"
#include "elabel_writeback.h"

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
    elabel_writeback wb{};
    wb.keep_repairs = true;  // the image carries the items of the label it replaces
    if (elabel_writeback_begin(&wb, elabel_bak) != 0) {
        elabel_platform.memory.dealloc(elabel_bak);
        ELABEL_ERR("driver_elabel bus busy.\n");
        return -8;
    }
    elabel_writeback_passes(&wb);
    if (wb.failed == elabel_pass::erase) {
        ELABEL_ERR("fail to driver_flash_eraseElectronicLabel\r\n");
    }
    if (wb.failed == elabel_pass::write) {
        ELABEL_ERR("fail to driver_flash_writElectronicLabel\r\n");
    }
    // Done only when the device was read back holding the copy.
    const int32_t ret = elabel_writeback_end(&wb);
    elabel_platform.memory.dealloc(elabel_bak);
    return ret;
}
