#include "elabel.h"
#include "elabel_log.h"
#include "elabel_platform.h"

namespace {

constexpr int LOAD_TRIES = 10;
constexpr useconds_t BUSY_PAUSE_US = 1000;

} // namespace

extern "C" int32_t elabel_get_data(uint8_t id, uint8_t *out, uint32_t out_size, uint16_t *out_len)
{
    int32_t ret = 0;
    for (int attempt = 0; attempt < LOAD_TRIES; ++attempt) {
        ret = driver_elabel_init();
        if (ret != -8) {
            break;
        }
        elabel_platform.sleep_us(BUSY_PAUSE_US);
    }
    if (ret != 0) {
        ELABEL_ERR("driver_elabel_init error. ret=%d\r\n", ret);
        return ret;
    }
    return driver_elabel_get_data(id, out, out_size, out_len);
}
