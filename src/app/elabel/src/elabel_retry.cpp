#include "elabel_retry.h"

#include "elabel_platform.h"

namespace {

constexpr useconds_t BUSY_PAUSE_US = 1000;

} // namespace

int32_t elabel_retry_while_busy(int32_t (*op)(), int tries)
{
    int32_t ret = 0;
    for (int attempt = 0; attempt < tries; ++attempt) {
        ret = op();
        if (ret != -8) {
            break;
        }
        elabel_platform.sleep_us(BUSY_PAUSE_US);
    }
    return ret;
}
