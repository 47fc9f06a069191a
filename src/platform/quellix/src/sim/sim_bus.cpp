#include "sim_bus.h"

#include <cerrno>
#include <cstring>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

namespace {

// i2c-dev refuses longer messages in I2C_RDWR.
constexpr uint32_t KERNEL_MAX_MSG = 8192;

sim_bus *self(void *ctx)
{
    return static_cast<sim_bus *>(ctx);
}

void end_transaction(sim_bus *bus, uint64_t start_ns, uint64_t bits)
{
    bus->clock.now_ns = start_ns + qx_bits_ns(&bus->clock, bits) + bus->adapter.slow_ns;
    const uint32_t pages_before = bus->chip->page_writes;
    chip24_stop(bus->chip, bus->clock.now_ns);
    if (bus->chip->page_writes != pages_before && bus->on_write_cycle != nullptr) {
        bus->on_write_cycle(bus->hook_ctx);
    }
}

void count_transaction(sim_bus *bus, uint64_t bytes)
{
    ++bus->stats.transactions;
    bus->stats.bytes += bytes;
}

// One transaction: a start, each message with its address byte (a repeated
// start between them), a stop. Returns the messages carried, -ENXIO when an
// address is not acknowledged, or -EIO, as many adapter drivers report it,
// when a data byte is not (the transaction stops after that byte). The chip
// answers as it is at the start condition: a real one decides at the
// acknowledge bit, a little later, so the model never shows less time than the
// bus needs.
int run_transaction(sim_bus *bus, const i2c_msg *msgs, uint32_t count)
{
    const uint64_t start_ns = bus->clock.now_ns;
    uint64_t bits = 0;
    uint64_t bytes = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const i2c_msg &msg = msgs[i];
        bits += 1 + 9;
        const bool seven_bit = (msg.flags & I2C_M_TEN) == 0 && msg.addr <= 0x7F;
        if (!seven_bit || !chip24_select(bus->chip, static_cast<uint8_t>(msg.addr), start_ns)) {
            end_transaction(bus, start_ns, bits + 1);
            ++bus->stats.polls;
            return -ENXIO;
        }
        uint32_t acknowledged = msg.len;
        if (msg.flags & I2C_M_RD) {
            chip24_read(bus->chip, msg.buf, msg.len);
        } else {
            acknowledged = chip24_write(bus->chip, msg.buf, msg.len);
        }
        if (acknowledged < msg.len) {
            // The refused byte was clocked out too; the master stops after it.
            end_transaction(bus, start_ns, bits + 9ull * (acknowledged + 1) + 1);
            count_transaction(bus, bytes + 1 + acknowledged + 1);
            return -EIO;
        }
        bits += 9ull * msg.len;
        bytes += 1ull + msg.len;
    }
    end_transaction(bus, start_ns, bits + 1);
    count_transaction(bus, bytes);
    return static_cast<int>(count);
}

int rdwr(sim_bus *bus, const i2c_rdwr_ioctl_data *data)
{
    if ((bus->adapter.funcs & I2C_FUNC_I2C) == 0) {
        return -EOPNOTSUPP;
    }
    if (data->nmsgs == 0 || data->nmsgs > I2C_RDWR_IOCTL_MAX_MSGS) {
        return -EINVAL;
    }
    for (uint32_t i = 0; i < data->nmsgs; ++i) {
        if (data->msgs[i].len > KERNEL_MAX_MSG) {
            return -EINVAL;
        }
        if (bus->adapter.max_msg != 0 && data->msgs[i].len > bus->adapter.max_msg) {
            ++bus->stats.refused;
            return -bus->adapter.refuse_errno;
        }
    }
    const uint32_t count = bus->adapter.short_count ? data->nmsgs - 1 : data->nmsgs;
    return count == 0 ? 0 : run_transaction(bus, data->msgs, count);
}

// The SMBus calls an EEPROM with 16-bit word addresses needs, turned into the
// messages the I2C core would put on the bus for them.
int smbus(sim_bus *bus, const i2c_smbus_ioctl_data *args)
{
    uint8_t out[I2C_SMBUS_BLOCK_MAX + 1];
    i2c_msg msg{bus->slave, 0, 0, out};
    unsigned long needs = 0;
    i2c_smbus_data *data = args->data;
    if (args->read_write == I2C_SMBUS_WRITE && args->size == I2C_SMBUS_BYTE_DATA) {
        needs = I2C_FUNC_SMBUS_WRITE_BYTE_DATA;
        out[0] = args->command;
        out[1] = data->byte;
        msg.len = 2;
    } else if (args->read_write == I2C_SMBUS_WRITE && args->size == I2C_SMBUS_I2C_BLOCK_DATA) {
        needs = I2C_FUNC_SMBUS_WRITE_I2C_BLOCK;
        const uint8_t n = data->block[0];
        if (n == 0 || n > I2C_SMBUS_BLOCK_MAX) {
            return -EINVAL;
        }
        out[0] = args->command;
        std::memcpy(&out[1], &data->block[1], n);
        msg.len = static_cast<uint16_t>(n + 1);
    } else if (args->read_write == I2C_SMBUS_READ && args->size == I2C_SMBUS_BYTE) {
        needs = I2C_FUNC_SMBUS_READ_BYTE;
        msg.flags = I2C_M_RD;
        msg.buf = &data->byte;
        msg.len = 1;
    } else {
        return -EOPNOTSUPP;
    }
    if ((bus->adapter.funcs & needs) == 0) {
        return -EOPNOTSUPP;
    }
    const int r = run_transaction(bus, &msg, 1);
    return r < 0 ? r : 0;
}

int sim_ioctl(void *ctx, unsigned long request, void *arg)
{
    sim_bus *bus = self(ctx);
    switch (request) {
    case I2C_FUNCS:
        *static_cast<unsigned long *>(arg) = bus->adapter.funcs;
        return 0;
    case I2C_SLAVE: {
        const auto addr = reinterpret_cast<uintptr_t>(arg);
        if (addr > 0x7F) {
            return -EINVAL;
        }
        bus->slave = static_cast<uint16_t>(addr);
        return 0;
    }
    case I2C_RDWR:
        return rdwr(bus, static_cast<const i2c_rdwr_ioctl_data *>(arg));
    case I2C_SMBUS:
        return smbus(bus, static_cast<const i2c_smbus_ioctl_data *>(arg));
    default:
        return -ENOTTY;
    }
}

uint64_t sim_now(void *ctx)
{
    return self(ctx)->clock.now_ns;
}

void sim_pause(void *ctx, uint64_t ns)
{
    sim_bus *bus = self(ctx);
    bus->clock.now_ns += ns;
    ++bus->stats.pauses;
    bus->stats.pause_ns += ns;
}

} // namespace

sim_adapter sim_adapter_full()
{
    return sim_adapter{I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL, 0, EOPNOTSUPP, false, 0};
}

sim_adapter sim_adapter_smbus()
{
    return sim_adapter{I2C_FUNC_SMBUS_BYTE | I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_I2C_BLOCK,
                       0, EOPNOTSUPP, false, 0};
}

void sim_bus_init(sim_bus *bus, chip24 *chip, const sim_adapter *adapter, uint32_t bus_hz)
{
    *bus = sim_bus{*adapter, chip, qx_vclock{0, bus_hz}, 0, qx_bus_stats{}, nullptr, nullptr};
}

qx_bus sim_bus_ops(sim_bus *bus)
{
    return qx_bus{sim_ioctl, sim_now, sim_pause, bus};
}
