// The board build: the three library calls over i2c-dev.
#include "quellix.h"

#include "api_args.h"
#include "eeprom.h"
#include "i2cdev.h"

#include <cstring>
#include <syslog.h>

namespace {

using transfer_fn = int (*)(const qx_bus *, uint8_t, uint32_t, uint8_t *, uint32_t);

int read_transfer(const qx_bus *bus, uint8_t addr7, uint32_t offset, uint8_t *buffer,
                  uint32_t length)
{
    return qx_eeprom_read(bus, addr7, offset, buffer, length);
}

int write_transfer(const qx_bus *bus, uint8_t addr7, uint32_t offset, uint8_t *buffer,
                   uint32_t length)
{
    return qx_eeprom_write(bus, addr7, offset, buffer, length);
}

int32_t run(const char *what, transfer_fn transfer, const char *device, int8_t address,
            uint64_t offset, uint8_t *buffer, uint32_t length)
{
    int r = qx_check_args(device, buffer, offset, length);
    if (r || length == 0) {
        return r;
    }
    int fd = -1;
    qx_bus bus{};
    r = qx_i2cdev_open(device, &fd, &bus);
    if (r == 0) {
        r = transfer(&bus, qx_address7(address), static_cast<uint32_t>(offset), buffer, length);
        qx_i2cdev_close(fd);
    }
    if (r) {
        syslog(LOG_ERR, "quellix: %s of %u bytes at %llu on %s address 0x%02x failed: %s", what,
               length, static_cast<unsigned long long>(offset), device, qx_address7(address),
               std::strerror(-r));
    }
    return r;
}

} // namespace

extern "C" int32_t driver_i2c_get_data(const char *device, int8_t address, uint64_t offset,
                                       uint8_t *buffer, uint32_t length)
{
    return run("read", read_transfer, device, address, offset, buffer, length);
}

extern "C" int32_t driver_i2c_set_data(const char *device, int8_t address, uint64_t offset,
                                       uint8_t *buffer, uint32_t length)
{
    return run("write", write_transfer, device, address, offset, buffer, length);
}
