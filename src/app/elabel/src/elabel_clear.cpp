#include "elabel_log.h"
#include "elabel_platform.h"
#include "elabel_record.h"
extern "C" int32_t driver_elabel_clear(void)
{
    (void)elabel_record_remove();  // so that the next load does not undo the clear
    if (elabel_data != nullptr) {
        if (elabel_platform.fill(elabel_data, ELABEL_DATA_LEN, 0, ELABEL_DATA_LEN) != 0) {
            ELABEL_ERR("driver_elabel_clear memset_s error.\n");
            return -4;
        }
        (void)driver_elabel_set_default();
    }
    if (driver_flash_eraseElectronicLabel() != 0) {
        ELABEL_ERR("driver_elabel_clear: fail to erase flash\r\n");
        return -1;
    }
    ELABEL_ERR("driver_elabel_clear: clear OK\r\n");
    return 0;
}
