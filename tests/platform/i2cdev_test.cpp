// The board build's own code, from its library calls down to its transports,
// with a scripted adapter under its system calls: a 24C64 behind it, a virtual
// monotonic clock, a sysfs of a few paths with a kernel driver's nvmem file, and
// errors chosen per case.
#include "chip24.h"
#include "quellix.h"
#include "sim_at24.h"
#include "sim_bus.h"
#include "sys.h"
#include "syslog_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <set>
#include <string>
#include <sys/sysmacros.h>
#include <syslog.h>
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
    std::string opened;
};

// The sysfs the board build sees: the device node and the paths that exist.
constexpr const char *SYSFS = "/scripted-sys";
// A file call scripted to return 0: nothing moved.
constexpr long MOVES_NOTHING = 1L << 30;
struct sysfs {
    bool device_is_node; // /scripted/i2c-8 is the i2c-dev node of adapter 8
    std::set<std::string> present;
    // Per nvmem file call: 0 goes to the driver, N > 0 to it for at most N
    // bytes, -errno fails, MOVES_NOTHING returns 0.
    std::vector<long> io_results;
    size_t io_calls;
    sim_at24 driver;
};

sysfs g_fs;

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
    g_fs = sysfs{};
    g_fs.driver = sim_at24{&g.ops, 32, 0};
}

size_t errors_logged()
{
    return static_cast<size_t>(std::count_if(g_log.begin(), g_log.end(), [](const auto &line) {
        return line.first == LOG_ERR;
    }));
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

int qx_sys_open(const char *path, int flags)
{
    if (g.s.open_errno) {
        return fail(g.s.open_errno);
    }
    ++g.opens;
    g.open_flags = flags;
    g.opened = path;
    return FD;
}

int qx_sys_stat(const char *path, struct stat *st)
{
    *st = {};
    if (g_fs.device_is_node && std::string(path) == "/scripted/i2c-8") {
        st->st_mode = S_IFCHR | 0600;
        st->st_rdev = makedev(89, 8);
        return 0;
    }
    if (g_fs.present.count(path) == 0) {
        return fail(ENOENT);
    }
    st->st_mode = S_IFREG | 0600;
    return 0;
}

const char *qx_sys_sysfs_root()
{
    return SYSFS;
}

namespace {

ssize_t file_io(int fd, bool write, void *buffer, size_t count, off_t offset)
{
    if (fd != FD || g.opens == g.closes) {
        return fail(EBADF);
    }
    const size_t call = g_fs.io_calls++;
    const long scripted = call < g_fs.io_results.size() ? g_fs.io_results[call] : 0;
    if (scripted == MOVES_NOTHING) {
        return 0;
    }
    if (scripted < 0) {
        return fail(static_cast<int>(-scripted));
    }
    if (scripted > 0) {
        count = std::min(count, static_cast<size_t>(scripted));
    }
    const qx_file file = sim_at24_file(&g_fs.driver);
    auto *bytes = static_cast<uint8_t *>(buffer);
    const long r = write ? file.pwrite(file.ctx, bytes, count, static_cast<uint64_t>(offset))
                         : file.pread(file.ctx, bytes, count, static_cast<uint64_t>(offset));
    return r < 0 ? fail(static_cast<int>(-r)) : r;
}

} // namespace

ssize_t qx_sys_pread(int fd, void *buffer, size_t count, off_t offset)
{
    return file_io(fd, false, buffer, count, offset);
}

ssize_t qx_sys_pwrite(int fd, const void *buffer, size_t count, off_t offset)
{
    return file_io(fd, true, const_cast<void *>(buffer), count, offset);
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
        EXPECT_EQ(c.expected ? 1u : 0u, errors_logged());
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

// Which way each call goes, by what sysfs shows, and the nvmem file's results
// checked: a write, then a read of what it wrote. The write's first file call
// is its read of what the part holds.
TEST(BoardTransport, KernelDriverNvmemFileOrI2cDev)
{
    const std::string bus = "/scripted/i2c-8";
    const std::string client = std::string(SYSFS) + "/bus/i2c/devices/8-0050";
    const std::string driver = client + "/driver";
    const std::string eeprom = client + "/eeprom";
    const std::string nvmem = client + "/8-0050/nvmem";
    const std::string numbered = client + "/8-00500/nvmem";
    struct route_case {
        const char *name;
        bool node;
        std::vector<std::string> present;
        std::vector<long> io_results;
        std::string opened; // what the write opens: the file, or the bus device
        int expected;
        const char *error; // in the error's log line
    };
    const route_case cases[] = {
        {"legacy eeprom file", true, {driver, eeprom}, {}, eeprom, 0, nullptr},
        {"nvmem device below the client", true, {driver, nvmem}, {}, nvmem, 0, nullptr},
        {"numbered nvmem device", true, {driver, numbered}, {}, numbered, 0, nullptr},
        {"short transfers and EINTR go on", true, {driver, eeprom}, {-EINTR, 9, 7, -EINTR, 5},
         eeprom, 0, nullptr},
        {"no driver bound", true, {eeprom}, {}, bus, 0, nullptr},
        {"not a device node", false, {driver, eeprom}, {}, bus, 0, nullptr},
        {"a driver without an nvmem file", true, {driver}, {}, bus, 0, nullptr},
        {"a failing write names the file", true, {driver, eeprom}, {0, -EIO}, eeprom, -EIO,
         "write of 40 bytes at 30 on /scripted-sys/bus/i2c/devices/8-0050/eeprom address 0x50 "
         "failed: Input/output error"},
        {"a write that moves nothing", true, {driver, eeprom}, {0, MOVES_NOTHING}, eeprom, -EIO,
         "failed"},
        {"a failed compare read fails the write", true, {driver, eeprom}, {-EACCES}, eeprom,
         -EACCES, "Permission denied"},
    };
    const std::vector<uint8_t> data(40, 0x5A);
    for (const route_case &c : cases) {
        SCOPED_TRACE(c.name);
        start(script{0, 0, ENXIO, 0, 0, 0, false});
        g_fs.device_is_node = c.node;
        g_fs.present.insert(c.present.begin(), c.present.end());
        g_fs.io_results = c.io_results;
        g_log.clear();
        std::vector<uint8_t> in(data);
        const int r = driver_i2c_set_data(bus.c_str(), -96, 30, in.data(), 40);
        EXPECT_EQ(c.expected, r);
        EXPECT_EQ(c.opened, g.opened);
        EXPECT_EQ(g.opens, g.closes);
        const bool through_file = c.opened != bus;
        if (through_file) {
            EXPECT_EQ(O_RDWR | O_CLOEXEC, g.open_flags);
            EXPECT_EQ(0, g.transfers);
        }
        EXPECT_EQ(c.error ? 1u : 0u, errors_logged());
        if (c.error) {
            EXPECT_NE(std::string::npos, g_log.back().second.find(c.error)) << g_log.back().second;
            EXPECT_EQ(0, std::memcmp(g.chip.mem + 30, std::vector<uint8_t>(40, 0xFF).data(), 40));
        }
        if (r == 0) {
            EXPECT_EQ(0, std::memcmp(g.chip.mem + 30, data.data(), 40));
            std::vector<uint8_t> out(40);
            EXPECT_EQ(0, driver_i2c_get_data(bus.c_str(), -96, 30, out.data(), 40));
            EXPECT_EQ(data, out);
            EXPECT_EQ(through_file ? O_RDONLY | O_CLOEXEC : O_RDWR | O_CLOEXEC, g.open_flags);
        }
    }
}

// The way taken goes to the log after the first transfer that worked, and
// again only when it changes.
TEST(BoardTransport, WayTakenIsLoggedOnceUntilItChanges)
{
    const std::string eeprom = std::string(SYSFS) + "/bus/i2c/devices/8-0050/eeprom";
    uint8_t byte = 0;
    start(script{0, 0, ENXIO, 0, 0, 0, false});
    g_fs.device_is_node = true;
    ASSERT_EQ(0, driver_i2c_get_data("/scripted/i2c-8", -96, 0, &byte, 1));
    g_log.clear();
    g_fs.present = {std::string(SYSFS) + "/bus/i2c/devices/8-0050/driver", eeprom};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(0, driver_i2c_get_data("/scripted/i2c-8", -96, 0, &byte, 1));
    }
    g_fs.present.clear();
    ASSERT_EQ(0, driver_i2c_set_data("/scripted/i2c-8", -96, 0, &byte, 1));
    ASSERT_EQ(2u, g_log.size());
    EXPECT_EQ(LOG_INFO, g_log[0].first);
    EXPECT_EQ("quellix: EEPROM 0x50 on /scripted/i2c-8 through its kernel driver's " + eeprom,
              g_log[0].second);
    EXPECT_EQ("quellix: EEPROM 0x50 on /scripted/i2c-8 through i2c-dev", g_log[1].second);
}

} // namespace
