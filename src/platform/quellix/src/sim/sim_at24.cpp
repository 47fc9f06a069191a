#include "sim_at24.h"

#include "../eeprom.h"
#include "chip24.h"

#include <algorithm>

namespace {

sim_at24 *self(void *ctx)
{
    return static_cast<sim_at24 *>(ctx);
}

// What one call of the file may move from `offset`: the file ends with the chip.
uint32_t span(const sim_at24 *driver, size_t count, uint64_t offset)
{
    if (offset >= CHIP24_SIZE) {
        return 0;
    }
    uint64_t n = std::min<uint64_t>(count, CHIP24_SIZE - offset);
    if (driver->io_max != 0) {
        n = std::min<uint64_t>(n, driver->io_max);
    }
    return static_cast<uint32_t>(n);
}

long at24_pread(void *ctx, uint8_t *buffer, size_t count, uint64_t offset)
{
    const sim_at24 *driver = self(ctx);
    const uint32_t n = span(driver, count, offset);
    const int r = n == 0 ? 0
                         : qx_eeprom_read(driver->bus, CHIP24_ADDRESS, static_cast<uint32_t>(offset),
                                          buffer, n);
    return r < 0 ? r : static_cast<long>(n);
}

long at24_pwrite(void *ctx, const uint8_t *buffer, size_t count, uint64_t offset)
{
    const sim_at24 *driver = self(ctx);
    const uint32_t n = span(driver, count, offset);
    const int r = n == 0 ? 0
                         : qx_eeprom_write(driver->bus, CHIP24_ADDRESS,
                                           static_cast<uint32_t>(offset), buffer, n, driver->page);
    return r < 0 ? r : static_cast<long>(n);
}

} // namespace

qx_file sim_at24_file(sim_at24 *driver)
{
    return qx_file{at24_pread, at24_pwrite, driver};
}
