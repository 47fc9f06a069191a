// The seam between the EEPROM protocol and what carries its transfers.
#ifndef QUELLIX_BUS_H
#define QUELLIX_BUS_H

#include <cstdint>

// One function table per transport: the i2c-dev device on the board, the chip
// model in the simulator. `ioctl` takes the i2c-dev requests (I2C_FUNCS,
// I2C_SLAVE, I2C_RDWR, I2C_SMBUS) with the kernel's argument structures and
// returns the kernel's result or -errno. `now_ns` is a monotonic clock and
// `pause_ns` sleeps on it.
struct qx_bus {
    int (*ioctl)(void *ctx, unsigned long request, void *arg);
    uint64_t (*now_ns)(void *ctx);
    void (*pause_ns)(void *ctx, uint64_t ns);
    void *ctx;
};

// The only way the protocol reaches the transport: -errno on failure, and an
// I2C_RDWR that the kernel reports as partly done is a failure (-EIO).
int qx_bus_call(const qx_bus *bus, unsigned long request, void *arg);

#endif
