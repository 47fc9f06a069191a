// The simulator's transport: an i2c-dev adapter in front of the chip model. It
// takes the same requests and structures the kernel takes, advances a virtual
// clock by what each transaction costs on the bus, and can act like a limited
// adapter.
#ifndef QUELLIX_SIM_BUS_H
#define QUELLIX_SIM_BUS_H

#include "../bus.h"
#include "chip24.h"
#include "vclock.h"

struct sim_adapter {
    unsigned long funcs;   // what I2C_FUNCS reports
    uint32_t max_msg;      // longer messages are refused with refuse_errno; 0: no limit
    int refuse_errno;      // EOPNOTSUPP or EINVAL, as adapter drivers report it
    bool short_count;      // carries one message fewer than asked and says so
    uint64_t slow_ns;      // extra time each transaction takes (clock stretching)
};

// Plain I2C with the SMBus calls emulated, as most adapters report.
sim_adapter sim_adapter_full();
// The SMBus calls a 16-bit addressed EEPROM needs, and no plain I2C.
sim_adapter sim_adapter_smbus();

struct sim_bus {
    sim_adapter adapter;
    chip24 *chip;
    qx_vclock clock;
    uint16_t slave; // set by I2C_SLAVE for the SMBus calls
    qx_bus_stats stats;
    // Called after every stop that starts a write cycle, when set.
    void (*on_write_cycle)(void *ctx);
    void *hook_ctx;
};

void sim_bus_init(sim_bus *bus, chip24 *chip, const sim_adapter *adapter, uint32_t bus_hz);

// The function table the protocol layer runs on.
qx_bus sim_bus_ops(sim_bus *bus);

#endif
