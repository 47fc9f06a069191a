#include "elabel.h"
#include "elabel_log.h"
#include "elabel_retry.h"

namespace {

constexpr int LOAD_TRIES = 10;

} // namespace

extern "C" int32_t elabel_get_data(uint8_t id, uint8_t *out, uint32_t out_size, uint16_t *out_len)
{
    const int32_t ret = elabel_retry_while_busy(driver_elabel_init, LOAD_TRIES);
    if (ret != 0) {
        ELABEL_ERR("driver_elabel_init error. ret=%d\r\n", ret);
        return ret;
    }
    return driver_elabel_get_data(id, out, out_size, out_len);
}
