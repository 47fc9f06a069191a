// The EEPROM protocol against the chip model, through the simulated adapter and
// its virtual clock: every wait below passes in virtual time.
#include "chip24.h"
#include "eeprom.h"
#include "sim_bus.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <linux/i2c-dev.h>
#include <vector>

namespace {

constexpr uint64_t MS = 1000000;
constexpr uint64_t US = 1000;

std::vector<uint8_t> pattern(size_t n, uint8_t first)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(first + i * 7);
    }
    return v;
}

class Eeprom : public ::testing::Test {
protected:
    void SetUp() override { use(sim_adapter_full(), 100000, 5 * MS); }

    void use(sim_adapter adapter, uint32_t bus_hz, uint64_t write_cycle_ns)
    {
        chip24_init(&chip, write_cycle_ns);
        sim_bus_init(&bus, &chip, &adapter, bus_hz);
        ops = sim_bus_ops(&bus);
    }

    int write(uint32_t offset, const std::vector<uint8_t> &data)
    {
        return qx_eeprom_write(&ops, 0x50, offset, data.data(), static_cast<uint32_t>(data.size()));
    }

    int read(uint32_t offset, std::vector<uint8_t> *out)
    {
        return qx_eeprom_read(&ops, 0x50, offset, out->data(), static_cast<uint32_t>(out->size()));
    }

    std::vector<uint8_t> mem(uint32_t offset, uint32_t length) const
    {
        return std::vector<uint8_t>(chip.mem + offset, chip.mem + offset + length);
    }

    // Writes a whole label at its offset, checks the bytes around it, reads it back.
    void expect_label_round_trip(const std::vector<uint8_t> &label)
    {
        ASSERT_EQ(0, write(512, label));
        EXPECT_EQ(0u, chip.wraps);
        EXPECT_EQ(label, mem(512, 2360));
        EXPECT_EQ(0xFF, chip.mem[511]);
        EXPECT_EQ(0xFF, chip.mem[512 + 2360]);
        std::vector<uint8_t> out(2360);
        ASSERT_EQ(0, read(512, &out));
        EXPECT_EQ(label, out);
    }

    uint64_t bound_ns() const
    {
        return qx_bound_ns(&bus.clock, bus.stats.bytes, chip.page_writes, chip.write_cycle_ns);
    }

    chip24 chip;
    sim_bus bus;
    qx_bus ops;
};

// --- Page splitting and data placement

TEST_F(Eeprom, WritesOfEveryLengthAndStartAroundPageBoundariesLandExactly)
{
    for (uint32_t start = 0; start <= 70; ++start) {
        for (uint32_t length = 1; length <= 70; ++length) {
            use(sim_adapter_full(), 400000, 100 * US);
            const std::vector<uint8_t> data = pattern(length, static_cast<uint8_t>(start));
            std::vector<uint8_t> expected = mem(0, 160);
            std::copy(data.begin(), data.end(), expected.begin() + start);
            ASSERT_EQ(0, write(start, data)) << start << "+" << length;
            ASSERT_EQ(0u, chip.wraps) << start << "+" << length;
            ASSERT_EQ(expected, mem(0, 160)) << start << "+" << length;
            const uint32_t pages = (start + length - 1) / 32 - start / 32 + 1;
            ASSERT_EQ(pages, chip.page_writes) << start << "+" << length;
        }
    }
}

TEST_F(Eeprom, ReadsOfEveryLengthAndStartAroundPageBoundariesAreOneTransfer)
{
    const std::vector<uint8_t> content = pattern(CHIP24_SIZE, 3);
    std::copy(content.begin(), content.end(), chip.mem);
    for (uint32_t start = 0; start <= 70; ++start) {
        for (uint32_t length = 1; length <= 70; ++length) {
            bus.stats = qx_bus_stats{};
            std::vector<uint8_t> out(length);
            ASSERT_EQ(0, read(start, &out));
            ASSERT_EQ(mem(start, length), out) << start << "+" << length;
            ASSERT_EQ(1u, bus.stats.transactions);
        }
    }
}

TEST_F(Eeprom, LabelRoundTripAtItsOffset)
{
    expect_label_round_trip(pattern(2360, 9));
}

// --- Write cycles and acknowledge polling

TEST_F(Eeprom, WriteCyclesArePolledThroughWithLittleTimeLostPerPage)
{
    for (uint32_t hz : {100000u, 400000u}) {
        use(sim_adapter_full(), hz, 5 * MS);
        ASSERT_EQ(0, write(512, pattern(2360, 1)));
        EXPECT_EQ(74u, chip.page_writes);
        EXPECT_GT(bus.stats.polls, 0u);
        // Nothing may hide in the model: it never beats the physical bound...
        EXPECT_GE(bus.clock.now_ns, bound_ns());
        // ...and polling wastes less than 0.2 ms a page beyond the write cycle.
        EXPECT_LT(bus.clock.now_ns - bound_ns(), chip.page_writes * 200 * US) << hz;
        // The chip is ready when the call returns.
        EXPECT_GE(bus.clock.now_ns, chip.busy_until_ns);
    }
}

TEST_F(Eeprom, ReadWaitsForAWriteCycleStillRunning)
{
    chip.mem[100] = 0x42;
    chip.busy_until_ns = 3 * MS;
    std::vector<uint8_t> out(1);
    ASSERT_EQ(0, read(100, &out));
    EXPECT_EQ(0x42, out[0]);
    EXPECT_GT(bus.stats.polls, 0u);
    EXPECT_GE(bus.clock.now_ns, 3 * MS);
}

TEST_F(Eeprom, ChipThatNeverAcknowledgesFailsAfterTheDeadline)
{
    chip.never_ack = true;
    std::vector<uint8_t> out(16, 0x11);
    EXPECT_EQ(-ETIMEDOUT, read(0, &out));
    EXPECT_EQ(std::vector<uint8_t>(16, 0x11), out);
    EXPECT_GE(bus.clock.now_ns, QX_WRITE_TIMEOUT_NS);
    // One attempt at most starts after the deadline.
    EXPECT_LT(bus.clock.now_ns, QX_WRITE_TIMEOUT_NS + QX_POLL_PAUSE_NS + 250 * US);
    EXPECT_GT(bus.stats.polls, 10u);

    use(sim_adapter_full(), 100000, 5 * MS);
    chip.never_ack = true;
    EXPECT_EQ(-ETIMEDOUT, write(0, pattern(40, 1)));
    EXPECT_EQ(0u, chip.page_writes);
    EXPECT_EQ(std::vector<uint8_t>(40, 0xFF), mem(0, 40));
}

TEST_F(Eeprom, OtherAddressNeverAnswers)
{
    std::vector<uint8_t> out(4);
    EXPECT_EQ(-ETIMEDOUT, qx_eeprom_read(&ops, 0x51, 0, out.data(), 4));
    EXPECT_EQ(0u, bus.stats.transactions);
}

TEST_F(Eeprom, SlowAttemptsDoNotShortenTheDeadline)
{
    // Each transaction takes 20 ms and the chip needs 24 ms per page: the
    // attempt that starts at about 20 ms is still before the deadline, so the
    // one after it, at about 40 ms, must still be made.
    sim_adapter slow = sim_adapter_full();
    slow.slow_ns = 20 * MS;
    use(slow, 100000, 24 * MS);
    const std::vector<uint8_t> data = pattern(40, 5);
    ASSERT_EQ(0, write(30, data));
    EXPECT_EQ(data, mem(30, 40));

    use(slow, 100000, 24 * MS);
    chip.busy_until_ns = 24 * MS;
    std::vector<uint8_t> out(8);
    EXPECT_EQ(0, read(0, &out));
    EXPECT_EQ(2u, bus.stats.polls);
}

// --- Only "not acknowledged" means busy

// Transfers number `first` to `first + times - 1` fail with `error` before
// they reach the chip.
struct faulty_bus {
    qx_bus inner;
    int error;
    int first;
    int times;
    int attempts;
};

int faulty_ioctl(void *ctx, unsigned long request, void *arg)
{
    auto *f = static_cast<faulty_bus *>(ctx);
    if (request == I2C_RDWR || request == I2C_SMBUS) {
        ++f->attempts;
        if (f->attempts >= f->first && f->attempts < f->first + f->times) {
            return f->error;
        }
    }
    return f->inner.ioctl(f->inner.ctx, request, arg);
}

uint64_t faulty_now(void *ctx)
{
    auto *f = static_cast<faulty_bus *>(ctx);
    return f->inner.now_ns(f->inner.ctx);
}

void faulty_pause(void *ctx, uint64_t ns)
{
    auto *f = static_cast<faulty_bus *>(ctx);
    f->inner.pause_ns(f->inner.ctx, ns);
}

class Errors : public Eeprom {
protected:
    int read_through(int error, int times, std::vector<uint8_t> *out)
    {
        faulty = faulty_bus{ops, error, 1, times, 0};
        const qx_bus wrapped{faulty_ioctl, faulty_now, faulty_pause, &faulty};
        return qx_eeprom_read(&wrapped, 0x50, 0, out->data(), static_cast<uint32_t>(out->size()));
    }

    int write_through(int error, int first, const std::vector<uint8_t> &data)
    {
        faulty = faulty_bus{ops, error, first, 1, 0};
        const qx_bus wrapped{faulty_ioctl, faulty_now, faulty_pause, &faulty};
        return qx_eeprom_write(&wrapped, 0x50, 0, data.data(), static_cast<uint32_t>(data.size()));
    }

    faulty_bus faulty;
};

TEST_F(Errors, RemoteIoIsANackAndRetried)
{
    chip.mem[0] = 0x77;
    std::vector<uint8_t> out(1);
    EXPECT_EQ(0, read_through(-EREMOTEIO, 3, &out));
    EXPECT_EQ(0x77, out[0]);
    EXPECT_EQ(4, faulty.attempts);
}

TEST_F(Errors, LostArbitrationFailsAtOnce)
{
    std::vector<uint8_t> out(1, 0x11);
    EXPECT_EQ(-EAGAIN, read_through(-EAGAIN, 1, &out));
    EXPECT_EQ(1, faulty.attempts);
    EXPECT_EQ(0x11, out[0]);
}

TEST_F(Errors, IoErrorDuringAWriteFailsAtOnce)
{
    EXPECT_EQ(-EIO, write_through(-EIO, 1, pattern(64, 1)));
    EXPECT_EQ(1, faulty.attempts);
    EXPECT_EQ(0u, chip.page_writes);
}

TEST_F(Errors, IoErrorOnTheSecondPageStopsTheWrite)
{
    EXPECT_EQ(-EIO, write_through(-EIO, 2, pattern(96, 1)));
    EXPECT_EQ(2, faulty.attempts);
    EXPECT_EQ(1u, chip.page_writes);
    EXPECT_EQ(pattern(32, 1), mem(0, 32));
    EXPECT_EQ(std::vector<uint8_t>(64, 0xFF), mem(32, 64));
}

// --- Adapters with limits

TEST_F(Eeprom, AdapterRefusingLongMessagesStillCarriesTheLabel)
{
    for (int refusal : {EOPNOTSUPP, EINVAL}) {
        sim_adapter limited = sim_adapter_full();
        limited.max_msg = 100;
        limited.refuse_errno = refusal;
        use(limited, 100000, 5 * MS);
        const std::vector<uint8_t> label = pattern(2360, 4);
        ASSERT_EQ(0, write(512, label));
        std::vector<uint8_t> out(2360);
        ASSERT_EQ(0, read(512, &out));
        EXPECT_EQ(label, out);
        // The working size is found once and kept: one refusal per halving at most.
        EXPECT_GT(bus.stats.refused, 0u);
        EXPECT_LE(bus.stats.refused, 7u);
    }
}

TEST_F(Eeprom, AdapterRefusingAWholePageWritesInSmallerPieces)
{
    for (uint32_t max_msg : {32u, 33u, 20u}) {
        sim_adapter limited = sim_adapter_full();
        limited.max_msg = max_msg;
        use(limited, 100000, 5 * MS);
        const std::vector<uint8_t> data = pattern(100, 9);
        ASSERT_EQ(0, write(30, data)) << max_msg;
        EXPECT_EQ(data, mem(30, 100));
        EXPECT_EQ(0u, chip.wraps);
        EXPECT_GT(chip.page_writes, 5u);  // five write cycles would carry it in whole pages
    }
}

TEST_F(Eeprom, ReadsThroughAnAdapterTaking32To63BytesAMessage)
{
    const std::vector<uint8_t> label = pattern(2360, 8);
    for (uint32_t max_msg : {32u, 48u, 63u}) {
        sim_adapter limited = sim_adapter_full();
        limited.max_msg = max_msg;
        use(limited, 100000, 5 * MS);
        std::copy(label.begin(), label.end(), chip.mem + 512);
        std::vector<uint8_t> out(2360);
        ASSERT_EQ(0, read(512, &out)) << max_msg;
        EXPECT_EQ(label, out);
    }
}

TEST_F(Eeprom, AdapterRefusingEvenSmallPiecesFailsCleanly)
{
    sim_adapter tiny = sim_adapter_full();
    tiny.max_msg = 9;
    use(tiny, 100000, 5 * MS);
    std::vector<uint8_t> out(64, 0x11);
    EXPECT_EQ(-EOPNOTSUPP, read(0, &out));
    EXPECT_EQ(std::vector<uint8_t>(64, 0x11), out);
    EXPECT_EQ(-EOPNOTSUPP, write(0, pattern(64, 1)));
    EXPECT_EQ(0u, chip.page_writes);
    EXPECT_EQ(0u, bus.stats.transactions);
}

TEST_F(Eeprom, SmbusOnlyAdapterRoundTripsTheLabel)
{
    use(sim_adapter_smbus(), 100000, 5 * MS);
    expect_label_round_trip(pattern(2360, 6));
}

TEST_F(Eeprom, SmbusWritesOfEveryLengthAroundPageBoundariesLandExactly)
{
    for (uint32_t start = 28; start <= 36; ++start) {
        for (uint32_t length = 1; length <= 70; ++length) {
            use(sim_adapter_smbus(), 400000, 100 * US);
            const std::vector<uint8_t> data = pattern(length, static_cast<uint8_t>(length));
            std::vector<uint8_t> expected = mem(0, 128);
            std::copy(data.begin(), data.end(), expected.begin() + start);
            ASSERT_EQ(0, write(start, data)) << start << "+" << length;
            ASSERT_EQ(0u, chip.wraps);
            ASSERT_EQ(expected, mem(0, 128)) << start << "+" << length;
        }
    }
}

TEST_F(Eeprom, AdapterWithNeitherFunctionFailsCleanly)
{
    sim_adapter none = sim_adapter_full();
    none.funcs = 0;
    use(none, 100000, 5 * MS);
    std::vector<uint8_t> out(16, 0x11);
    EXPECT_EQ(-EOPNOTSUPP, read(0, &out));
    EXPECT_EQ(-EOPNOTSUPP, write(0, pattern(16, 1)));
    EXPECT_EQ(std::vector<uint8_t>(16, 0x11), out);
    EXPECT_EQ(std::vector<uint8_t>(16, 0xFF), mem(0, 16));
    EXPECT_EQ(0u, bus.stats.transactions + bus.stats.polls);
}

TEST_F(Eeprom, ShortMessageCountIsAFailure)
{
    sim_adapter partial = sim_adapter_full();
    partial.short_count = true;
    use(partial, 100000, 5 * MS);
    std::vector<uint8_t> out(16, 0x11);
    EXPECT_EQ(-EIO, read(0, &out));
    EXPECT_EQ(std::vector<uint8_t>(16, 0x11), out);
    EXPECT_EQ(-EIO, write(0, pattern(16, 1)));
    EXPECT_EQ(0u, chip.page_writes);
}

// --- Arguments

TEST_F(Eeprom, RangeBeyondTheWordAddressSpaceIsRefusedBeforeAnyTransfer)
{
    std::vector<uint8_t> two(2);
    EXPECT_EQ(-EINVAL, read(65535, &two));
    EXPECT_EQ(-EINVAL, write(65535, two));
    EXPECT_EQ(-EINVAL, qx_eeprom_read(&ops, 0x50, 0, nullptr, 1));
    EXPECT_EQ(-EINVAL, qx_eeprom_write(&ops, 0x50, 0, nullptr, 1));
    std::vector<uint8_t> last(1);
    EXPECT_EQ(0, read(65535, &last)); // the last word address is still valid
    EXPECT_EQ(1u, bus.stats.transactions);
}

TEST_F(Eeprom, ZeroLengthMovesNothing)
{
    uint8_t byte = 0;
    EXPECT_EQ(0, qx_eeprom_read(&ops, 0x50, 10, &byte, 0));
    EXPECT_EQ(0, qx_eeprom_write(&ops, 0x50, 10, &byte, 0));
    EXPECT_EQ(0u, bus.stats.transactions + bus.stats.polls);
}

} // namespace
