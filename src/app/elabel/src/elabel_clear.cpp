#include "elabel_judge.h"
#include "elabel_log.h"
#include "elabel_platform.h"
#include "elabel_writeback.h"

extern "C" int32_t driver_elabel_clear(void)
{
    // The image goes back to its defaults, the region is erased under the lock.
    if (elabel_data != nullptr) {
        if (elabel_platform.memory.fill(elabel_data, ELABEL_DATA_LEN, 0, ELABEL_DATA_LEN) != 0) {
            ELABEL_ERR("driver_elabel_clear memset_s error.\n");
            return -4;
        }
        (void)driver_elabel_set_default();
    }
    // A write-back of zeros whose erase pass is its write pass.
    static elabel_result res;
    const int32_t ret = elabel_write_label(elabel_zeros(), elabel_write_kind::clear, &res);
    if (ret == -8) {
        ELABEL_ERR("driver_elabel bus busy.\n");
    }
    if (ret != 0) {
        ELABEL_ERR("driver_elabel_clear: fail to erase flash\r\n");
        return ret;
    }
    ELABEL_ERR("driver_elabel_clear: clear OK\r\n");
    return 0;
}
