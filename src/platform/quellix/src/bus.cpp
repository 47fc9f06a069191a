#include "bus.h"

#include <cerrno>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

int qx_bus_call(const qx_bus *bus, unsigned long request, void *arg)
{
    const int r = bus->ioctl(bus->ctx, request, arg);
    if (r < 0) {
        return r;
    }
    if (request == I2C_RDWR) {
        const auto *data = static_cast<const i2c_rdwr_ioctl_data *>(arg);
        return r == static_cast<int>(data->nmsgs) ? 0 : -EIO;
    }
    return 0;
}
