#include "eeprom.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

namespace {

enum class path_kind { i2c, smbus };

struct session {
    const qx_bus *bus;
    uint16_t addr;
    path_kind kind;
    uint32_t chunk; // longest read message to try; shrinks when the adapter refuses one
};

constexpr unsigned long SMBUS_NEEDS = I2C_FUNC_SMBUS_WRITE_I2C_BLOCK |
                                      I2C_FUNC_SMBUS_WRITE_BYTE_DATA | I2C_FUNC_SMBUS_READ_BYTE;
// An SMBus block carries the low address byte before the data.
constexpr uint32_t SMBUS_WRITE_MAX = I2C_SMBUS_BLOCK_MAX - 1;

bool range_ok(uint32_t offset, uint32_t length)
{
    return length <= QX_ADDRESS_SPACE && offset <= QX_ADDRESS_SPACE - length;
}

bool is_nack(int r)
{
    return r == -ENXIO || r == -EREMOTEIO;
}

bool is_length_refusal(int r)
{
    return r == -EOPNOTSUPP || r == -EINVAL;
}

int open_session(const qx_bus *bus, uint8_t addr7, session *s)
{
    unsigned long funcs = 0;
    const int r = qx_bus_call(bus, I2C_FUNCS, &funcs);
    if (r) {
        return r;
    }
    *s = session{bus, addr7, path_kind::i2c, QX_MAX_CHUNK};
    if (funcs & I2C_FUNC_I2C) {
        return 0;
    }
    if ((funcs & SMBUS_NEEDS) != SMBUS_NEEDS) {
        return -EOPNOTSUPP;
    }
    s->kind = path_kind::smbus;
    // I2C_SLAVE takes the address itself as its argument, not a pointer to it.
    return qx_bus_call(bus, I2C_SLAVE, reinterpret_cast<void *>(uintptr_t{addr7}));
}

// Acknowledge polling: the timestamp is taken before each attempt, so an attempt
// that itself takes long never cuts the wait short.
int call_polled(const session *s, unsigned long request, void *arg)
{
    const qx_bus *bus = s->bus;
    const uint64_t deadline = bus->now_ns(bus->ctx) + QX_WRITE_TIMEOUT_NS;
    for (;;) {
        const uint64_t started = bus->now_ns(bus->ctx);
        const int r = qx_bus_call(bus, request, arg);
        if (!is_nack(r)) {
            return r;
        }
        if (started >= deadline) {
            return -ETIMEDOUT;
        }
        bus->pause_ns(bus->ctx, QX_POLL_PAUSE_NS);
    }
}

int rdwr(const session *s, i2c_msg *msgs, uint32_t count)
{
    i2c_rdwr_ioctl_data data{msgs, count};
    return call_polled(s, I2C_RDWR, &data);
}

int smbus(const session *s, uint8_t read_write, uint8_t command, uint32_t size,
          i2c_smbus_data *data)
{
    i2c_smbus_ioctl_data args{read_write, command, size, data};
    return call_polled(s, I2C_SMBUS, &args);
}

// One combined transfer: the word address, a repeated start, then the read.
int i2c_read_chunk(const session *s, uint32_t offset, uint8_t *buffer, uint32_t n)
{
    uint8_t word[2] = {static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset)};
    i2c_msg msgs[2] = {
        {s->addr, 0, 2, word},
        {s->addr, I2C_M_RD, static_cast<uint16_t>(n), buffer},
    };
    return rdwr(s, msgs, 2);
}

int i2c_read(session *s, uint32_t offset, uint8_t *buffer, uint32_t length)
{
    uint32_t done = 0;
    while (done < length) {
        const uint32_t n = std::min(length - done, s->chunk);
        const int r = i2c_read_chunk(s, offset + done, buffer + done, n);
        if (is_length_refusal(r) && n > QX_MIN_CHUNK) {
            s->chunk = std::max(QX_MIN_CHUNK, n / 2);
            continue;
        }
        if (r) {
            return r;
        }
        done += n;
    }
    return 0;
}

// Sets the address pointer with a byte-data write, then reads byte by byte
// from the current address.
int smbus_read(const session *s, uint32_t offset, uint8_t *buffer, uint32_t length)
{
    i2c_smbus_data data{};
    data.byte = static_cast<uint8_t>(offset);
    int r = smbus(s, I2C_SMBUS_WRITE, static_cast<uint8_t>(offset >> 8),
                  I2C_SMBUS_BYTE_DATA, &data);
    for (uint32_t i = 0; r == 0 && i < length; ++i) {
        r = smbus(s, I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE, &data);
        if (r == 0) {
            buffer[i] = data.byte;
        }
    }
    return r;
}

int write_piece(const session *s, uint32_t offset, const uint8_t *data, uint32_t n)
{
    const auto high = static_cast<uint8_t>(offset >> 8);
    const auto low = static_cast<uint8_t>(offset);
    if (s->kind == path_kind::smbus) {
        i2c_smbus_data block{};
        block.block[0] = static_cast<uint8_t>(n + 1);
        block.block[1] = low;
        std::memcpy(&block.block[2], data, n);
        return smbus(s, I2C_SMBUS_WRITE, high, I2C_SMBUS_I2C_BLOCK_DATA, &block);
    }
    uint8_t message[2 + QX_MAX_PAGE];
    message[0] = high;
    message[1] = low;
    std::memcpy(&message[2], data, n);
    i2c_msg msg{s->addr, 0, static_cast<uint16_t>(n + 2), message};
    return rdwr(s, &msg, 1);
}

// After the last page: a one-byte current-address read, repeated until the
// chip acknowledges again, so the next caller finds it ready.
int wait_write_cycle(const session *s)
{
    uint8_t byte = 0;
    if (s->kind == path_kind::smbus) {
        i2c_smbus_data data{};
        return smbus(s, I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE, &data);
    }
    i2c_msg msg{s->addr, I2C_M_RD, 1, &byte};
    return rdwr(s, &msg, 1);
}

uint32_t piece_length(uint32_t offset, uint32_t left, uint32_t page, uint32_t limit)
{
    return std::min({left, page - offset % page, limit});
}

// Checks the arguments and opens a session: a negative errno, 0 to go on, or 1
// when there is nothing to move.
int begin_transfer(const qx_bus *bus, uint8_t addr7, uint32_t offset, const uint8_t *buffer,
                   uint32_t length, session *s, uint32_t page = QX_PAGE_SIZE)
{
    if (buffer == nullptr || !range_ok(offset, length) || !qx_page_ok(page)) {
        return -EINVAL;
    }
    if (length == 0) {
        return 1;
    }
    return open_session(bus, addr7, s);
}

int read_range(session *s, uint32_t offset, uint8_t *buffer, uint32_t length)
{
    return s->kind == path_kind::i2c ? i2c_read(s, offset, buffer, length)
                                     : smbus_read(s, offset, buffer, length);
}

// Writes page by page, skipping each piece that `held` (what the part holds,
// or null) already has, then waits for the last write cycle.
int write_pieces(session *s, uint32_t offset, const uint8_t *buffer, uint32_t length,
                 uint32_t page, const uint8_t *held)
{
    uint32_t limit = s->kind == path_kind::smbus ? SMBUS_WRITE_MAX : QX_MAX_PAGE;
    uint32_t done = 0;
    bool wrote = false;
    while (done < length) {
        const uint32_t n = piece_length(offset + done, length - done, page, limit);
        if (held != nullptr && std::memcmp(held + done, buffer + done, n) == 0) {
            done += n;
            continue;
        }
        const int r = write_piece(s, offset + done, buffer + done, n);
        // An adapter that refuses a page in one message gets smaller pieces,
        // each with its own write cycle; the size that works is kept.
        if (is_length_refusal(r) && s->kind == path_kind::i2c && n > QX_MIN_WRITE_PIECE) {
            limit = std::max(QX_MIN_WRITE_PIECE, n / 2);
            continue;
        }
        if (r) {
            return r;
        }
        wrote = true;
        done += n;
    }
    return wrote ? wait_write_cycle(s) : 0;
}

} // namespace

int qx_eeprom_read(const qx_bus *bus, uint8_t addr7, uint32_t offset, uint8_t *buffer,
                   uint32_t length)
{
    session s{};
    int r = begin_transfer(bus, addr7, offset, buffer, length, &s);
    if (r) {
        return r < 0 ? r : 0;
    }
    auto *staging = static_cast<uint8_t *>(std::malloc(length));
    if (staging == nullptr) {
        return -ENOMEM;
    }
    r = read_range(&s, offset, staging, length);
    if (r == 0) {
        std::memcpy(buffer, staging, length);
    }
    std::free(staging);
    return r;
}

int qx_eeprom_write(const qx_bus *bus, uint8_t addr7, uint32_t offset, const uint8_t *buffer,
                    uint32_t length, uint32_t page)
{
    session s{};
    const int r = begin_transfer(bus, addr7, offset, buffer, length, &s, page);
    if (r) {
        return r < 0 ? r : 0;
    }
    return write_pieces(&s, offset, buffer, length, page, nullptr);
}

int qx_eeprom_update(const qx_bus *bus, uint8_t addr7, uint32_t offset, const uint8_t *buffer,
                     uint32_t length, uint32_t page)
{
    session s{};
    int r = begin_transfer(bus, addr7, offset, buffer, length, &s, page);
    if (r) {
        return r < 0 ? r : 0;
    }
    auto *held = static_cast<uint8_t *>(std::malloc(length));
    if (held == nullptr) {
        return -ENOMEM;
    }
    r = read_range(&s, offset, held, length);
    if (r == 0) {
        r = write_pieces(&s, offset, buffer, length, page, held);
    }
    std::free(held);
    return r;
}
