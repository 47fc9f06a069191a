// The board build's own code, from its library calls down to the i2c-dev
// transport, with a scripted adapter under its system calls: a 24C64 behind
// it, a virtual monotonic clock, and errors chosen per case.
#include "chip24.h"
#include "quellix.h"
#include "sim_bus.h"
#include "sys.h"
#include "syslog_record.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <vector>

namespace {

constexpr uint64_t MS = 1000000;
constexpr uint64_t SECOND = 1000000000;
constexpr int FD = 7;
// A clock that never reaches the deadline would poll forever; the adapter
// gives up after this many transfers instead.
constexpr int MAX_TRANSFERS = 100000;

struct script {
    int open_errno;          // open fails with it
    int funcs_errno;         // I2C_FUNCS fails with it
    int nack_errno;          // what a transfer the chip does not acknowledge fails with
    int fail_errno;          // transfer number fail_at fails with it
    int fail_at;
    uint64_t clock_start_ns; // monotonic time when the call starts
    bool never_ack;
};

struct adapter {
    script s;
    chip24 chip;
    sim_bus bus;
    qx_bus ops;
    int opens;
    int closes;
    int open_flags;
    int transfers;
    int nacks;
};

adapter g;

void start(const script &s)
{
    g = adapter{};
    g.s = s;
    chip24_init(&g.chip, 5 * MS);
    g.chip.never_ack = s.never_ack;
    const sim_adapter full = sim_adapter_full();
    sim_bus_init(&g.bus, &g.chip, &full, 100000);
    g.ops = sim_bus_ops(&g.bus);
}

int fail(int error)
{
    errno = error;
    return -1;
}

int transfer(unsigned long request, void *arg)
{
    if (++g.transfers == g.s.fail_at) {
        return fail(g.s.fail_errno);
    }
    if (g.transfers > MAX_TRANSFERS) {
        return fail(ELOOP);
    }
    const int r = g.ops.ioctl(g.ops.ctx, request, arg);
    if (r == -ENXIO) {
        ++g.nacks;
        return fail(g.s.nack_errno);
    }
    return r < 0 ? fail(-r) : r;
}

} // namespace

int qx_sys_open(const char *, int flags)
{
    if (g.s.open_errno) {
        return fail(g.s.open_errno);
    }
    ++g.opens;
    g.open_flags = flags;
    return FD;
}

int qx_sys_ioctl(int fd, unsigned long request, void *arg)
{
    if (fd != FD || g.opens == g.closes) {
        return fail(EBADF);
    }
    if (request == I2C_FUNCS && g.s.funcs_errno) {
        return fail(g.s.funcs_errno);
    }
    if (request == I2C_RDWR || request == I2C_SMBUS) {
        return transfer(request, arg);
    }
    const int r = g.ops.ioctl(g.ops.ctx, request, arg);
    return r < 0 ? fail(-r) : r;
}

int qx_sys_close(int fd)
{
    if (fd != FD || g.opens == g.closes) {
        return fail(EBADF);
    }
    ++g.closes;
    return 0;
}

int qx_sys_clock_gettime(clockid_t clock, timespec *ts)
{
    if (clock != CLOCK_MONOTONIC) {
        return fail(EINVAL);
    }
    const uint64_t now = g.s.clock_start_ns + g.bus.clock.now_ns;
    ts->tv_sec = static_cast<time_t>(now / SECOND);
    ts->tv_nsec = static_cast<long>(now % SECOND);
    return 0;
}

int qx_sys_clock_nanosleep(clockid_t clock, int flags, const timespec *request, timespec *)
{
    if (clock != CLOCK_MONOTONIC || flags != 0) {
        return EINVAL;
    }
    g.ops.pause_ns(g.ops.ctx, static_cast<uint64_t>(request->tv_sec) * SECOND +
                                  static_cast<uint64_t>(request->tv_nsec));
    return 0;
}

namespace {

struct board_case {
    const char *name;
    script s;
    int expected;
};

// Two pages, so that the second one and the final wait each poll through a
// write cycle; then, when the write worked, the bytes are read back.
TEST(BoardTransport, ScriptedAdapter)
{
    const std::vector<uint8_t> data(40, 0x5A);
    const board_case cases[] = {
        {"ENXIO is busy; a write cycle crosses a second",
         {0, 0, ENXIO, 0, 0, SECOND - 3 * MS, false}, 0},
        {"EREMOTEIO is busy", {0, 0, EREMOTEIO, 0, 0, 0, false}, 0},
        {"deadline across a second", {0, 0, ENXIO, 0, 0, 5 * SECOND - 10 * MS, true}, -ETIMEDOUT},
        {"EIO while busy fails at once", {0, 0, ENXIO, EIO, 2, 0, false}, -EIO},
        {"EAGAIN fails at once", {0, 0, ENXIO, EAGAIN, 1, 0, false}, -EAGAIN},
        {"I2C_FUNCS refused", {0, ENOTTY, ENXIO, 0, 0, 0, false}, -ENOTTY},
        {"open refused", {EACCES, 0, ENXIO, 0, 0, 0, false}, -EACCES},
    };
    for (const board_case &c : cases) {
        SCOPED_TRACE(c.name);
        start(c.s);
        g_log.clear();
        std::vector<uint8_t> in(data);
        EXPECT_EQ(c.expected, driver_i2c_set_data("/scripted/i2c-8", -96, 30, in.data(), 40));
        EXPECT_EQ(c.s.open_errno ? 0 : 1, g.opens);
        EXPECT_EQ(g.opens, g.closes);
        EXPECT_EQ(c.expected ? 1u : 0u, g_log.size());
        if (g.opens) {
            EXPECT_EQ(O_RDWR | O_CLOEXEC, g.open_flags);
        }
        if (c.s.fail_at) {
            EXPECT_EQ(c.s.fail_at, g.transfers);
        }
        if (c.expected == -ETIMEDOUT) {
            EXPECT_GE(g.bus.clock.now_ns, 25 * MS);
            EXPECT_LT(g.bus.clock.now_ns, 26 * MS);
        }
        if (c.expected == 0) {
            EXPECT_GT(g.nacks, 0);
            std::vector<uint8_t> out(40);
            EXPECT_EQ(0, driver_i2c_get_data("/scripted/i2c-8", -96, 30, out.data(), 40));
            EXPECT_EQ(data, out);
            EXPECT_EQ(2, g.closes);
        }
    }
}

} // namespace
