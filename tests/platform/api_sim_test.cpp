// The simulated libquellix.so through its three calls, as a program sees it.
// The simulator counts calls per process, so each scenario runs in a child
// process with its own environment; the children report their results back
// through a pipe.
#include "quellix.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr const char *DEVICE = "/dev/i2c-8";
constexpr int8_t ADDRESS = -96; // 0xA0

const char *const SIM_VARIABLES[] = {
    "QUELLIX_SIM_IMAGE",     "QUELLIX_SIM_FAIL_READ",   "QUELLIX_SIM_FAIL_WRITE",
    "QUELLIX_SIM_STALL_AFTER_READ", "QUELLIX_SIM_STALL_FILE", "QUELLIX_SIM_BUS_HZ",
    "QUELLIX_SIM_TWR_US",    "QUELLIX_SIM_ADAPTER",     "QUELLIX_SIM_MAX_MSG",
    "QUELLIX_SIM_SHORT_COUNT", "QUELLIX_SIM_STATS",
};

using env_map = std::map<std::string, std::string>;

// What a child sends back: one number per report() call.
class reporter {
public:
    explicit reporter(int fd) : fd_(fd) {}
    void operator()(int64_t value)
    {
        if (write(fd_, &value, sizeof value) != sizeof value) {
            _exit(120);
        }
    }
    void bytes(const std::vector<uint8_t> &data)
    {
        for (uint8_t b : data) {
            (*this)(b);
        }
    }

private:
    int fd_;
};

struct child {
    pid_t pid = -1;
    int out = -1;
};

child start_child(const env_map &env, const std::function<void(reporter &)> &body)
{
    int fds[2];
    if (pipe(fds) != 0) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // Descriptors of the test (a held lock among them) stay with the test.
        for (int fd = 3; fd < 1024; ++fd) {
            if (fd != fds[1]) {
                close(fd);
            }
        }
        for (const char *name : SIM_VARIABLES) {
            unsetenv(name);
        }
        for (const auto &[name, value] : env) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        reporter report(fds[1]);
        body(report);
        _exit(0);
    }
    close(fds[1]);
    return child{pid, fds[0]};
}

// Collects what the child reported; fails the test unless it exited cleanly.
std::vector<int64_t> finish_child(const child &c)
{
    std::vector<int64_t> values;
    int64_t v = 0;
    while (read(c.out, &v, sizeof v) == static_cast<ssize_t>(sizeof v)) {
        values.push_back(v);
    }
    close(c.out);
    int status = -1;
    waitpid(c.pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    return values;
}

std::vector<int64_t> in_child(const env_map &env, const std::function<void(reporter &)> &body)
{
    return finish_child(start_child(env, body));
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(seed + i * 13);
    }
    return v;
}

int32_t get(uint64_t offset, std::vector<uint8_t> *buffer)
{
    return driver_i2c_get_data(DEVICE, ADDRESS, offset, buffer->data(),
                               static_cast<uint32_t>(buffer->size()));
}

int32_t set(uint64_t offset, std::vector<uint8_t> data)
{
    return driver_i2c_set_data(DEVICE, ADDRESS, offset, data.data(),
                               static_cast<uint32_t>(data.size()));
}

std::vector<int64_t> widen(const std::vector<uint8_t> &bytes)
{
    return std::vector<int64_t>(bytes.begin(), bytes.end());
}

std::vector<std::string> lines_of(const std::string &path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The value of `key=` in a statistics line, or -1.
int64_t field(const std::string &line, const std::string &key)
{
    const std::string needle = " " + key + "=";
    const std::string padded = " " + line;
    const size_t at = padded.find(needle);
    return at == std::string::npos ? -1 : std::atoll(padded.c_str() + at + needle.size());
}

class SimApi : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/quellix-api-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir = tmpl;
        image = dir + "/eeprom.bin";
    }

    void TearDown() override
    {
        const std::string cmd = "rm -rf '" + dir + "'";
        EXPECT_EQ(0, std::system(cmd.c_str()));
    }

    env_map with_image(env_map extra = {}) const
    {
        extra["QUELLIX_SIM_IMAGE"] = image;
        return extra;
    }

    std::vector<uint8_t> image_bytes() const
    {
        std::ifstream in(image, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    bool exists(const std::string &path) const { return access(path.c_str(), F_OK) == 0; }

    std::string dir;
    std::string image;
};

// --- The image file

TEST_F(SimApi, BlankImageIsCreatedOnFirstUse)
{
    const auto got = in_child(with_image(), [](reporter &report) {
        std::vector<uint8_t> buffer(16, 0);
        report(get(512, &buffer));
        report.bytes(buffer);
    });
    std::vector<int64_t> expected{0};
    expected.resize(17, 0xFF);
    EXPECT_EQ(expected, got);
    EXPECT_EQ(std::vector<uint8_t>(8192, 0xFF), image_bytes());
}

TEST_F(SimApi, DefaultImageIsInTheCurrentDirectory)
{
    const std::string where = dir;
    const auto got = in_child({}, [where](reporter &report) {
        report(chdir(where.c_str()));
        report(set(0, {1, 2, 3}));
    });
    EXPECT_EQ((std::vector<int64_t>{0, 0}), got);
    image = dir + "/quellix-eeprom.bin";
    const std::vector<uint8_t> bytes = image_bytes();
    ASSERT_EQ(8192u, bytes.size());
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 0xFF}), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4));
}

TEST_F(SimApi, WritesLandAtTheirOffsetAndLastAcrossProcesses)
{
    const std::vector<uint8_t> label = pattern(2360, 1);
    EXPECT_EQ((std::vector<int64_t>{0}),
              in_child(with_image(), [&](reporter &report) { report(set(512, label)); }));
    const std::vector<uint8_t> bytes = image_bytes();
    ASSERT_EQ(8192u, bytes.size());
    EXPECT_EQ(label, std::vector<uint8_t>(bytes.begin() + 512, bytes.begin() + 512 + 2360));
    EXPECT_EQ(0xFF, bytes[511]);
    EXPECT_EQ(0xFF, bytes[512 + 2360]);

    const auto got = in_child(with_image(), [](reporter &report) {
        std::vector<uint8_t> buffer(2360);
        report(get(512, &buffer));
        report.bytes(buffer);
    });
    std::vector<int64_t> expected{0};
    const std::vector<int64_t> wide = widen(label);
    expected.insert(expected.end(), wide.begin(), wide.end());
    EXPECT_EQ(expected, got);
}

TEST_F(SimApi, ImageOfTheWrongSizeIsAnIoError)
{
    std::ofstream(image, std::ios::binary) << "short";
    const auto got = in_child(with_image(), [](reporter &report) {
        std::vector<uint8_t> buffer(4);
        report(get(0, &buffer));
        report(set(0, {1}));
    });
    EXPECT_EQ((std::vector<int64_t>{-EIO, -EIO}), got);
    EXPECT_EQ(5u, image_bytes().size());
}

// --- Arguments

TEST_F(SimApi, BadArgumentsAreRefusedWithoutTouchingTheImage)
{
    const auto got = in_child(with_image(), [](reporter &report) {
        uint8_t byte = 0;
        report(driver_i2c_get_data(nullptr, ADDRESS, 0, &byte, 1));
        report(driver_i2c_set_data(nullptr, ADDRESS, 0, &byte, 1));
        report(driver_i2c_get_data(DEVICE, ADDRESS, 0, nullptr, 1));
        report(driver_i2c_set_data(DEVICE, ADDRESS, 0, nullptr, 1));
        report(driver_i2c_get_data(DEVICE, ADDRESS, 65535, &byte, 2));
        report(driver_i2c_set_data(DEVICE, ADDRESS, 1ull << 40, &byte, 1));
        report(driver_i2c_get_data(DEVICE, ADDRESS, 0, &byte, 0));
        report(driver_i2c_set_data(DEVICE, ADDRESS, 0, &byte, 0));
    });
    EXPECT_EQ((std::vector<int64_t>{-EINVAL, -EINVAL, -EINVAL, -EINVAL, -EINVAL, -EINVAL, 0, 0}),
              got);
    EXPECT_FALSE(exists(image));
}

TEST_F(SimApi, OnlyAddressA0Answers)
{
    const auto got = in_child(with_image(), [](reporter &report) {
        std::vector<uint8_t> buffer(1);
        report(driver_i2c_get_data(DEVICE, static_cast<int8_t>(0xA2), 0, buffer.data(), 1));
        report(driver_i2c_set_data(DEVICE, static_cast<int8_t>(0xA4), 0, buffer.data(), 1));
        report(driver_i2c_get_data(DEVICE, static_cast<int8_t>(0xA0), 0, buffer.data(), 1));
    });
    ASSERT_EQ(3u, got.size());
    EXPECT_LT(got[0], 0);
    EXPECT_LT(got[1], 0);
    EXPECT_EQ(0, got[2]);
}

// --- Injected faults

TEST_F(SimApi, FailReadFailsTheListedCallsOnly)
{
    const auto got = in_child(with_image({{"QUELLIX_SIM_FAIL_READ", "2,3"}}), [](reporter &report) {
        std::vector<uint8_t> buffer(4, 0x11);
        report(set(0, {9}));
        for (int i = 0; i < 4; ++i) {
            buffer[0] = 0x11;
            report(get(0, &buffer));
            report(buffer[0]);
        }
    });
    EXPECT_EQ((std::vector<int64_t>{0, 0, 9, -EIO, 0x11, -EIO, 0x11, 0, 9}), got);
}

TEST_F(SimApi, FailedCallDoesNotTouchTheChip)
{
    const auto got = in_child(with_image({{"QUELLIX_SIM_FAIL_READ", "1"},
                                          {"QUELLIX_SIM_FAIL_WRITE", "1"}}),
                              [](reporter &report) {
                                  std::vector<uint8_t> buffer(4);
                                  report(get(0, &buffer));
                                  report(set(0, {1}));
                              });
    EXPECT_EQ((std::vector<int64_t>{-EIO, -EIO}), got);
    EXPECT_FALSE(exists(image));
}

TEST_F(SimApi, FailWriteAllFailsEveryWriteAndKeepsTheContents)
{
    EXPECT_EQ((std::vector<int64_t>{0}),
              in_child(with_image(), [](reporter &report) { report(set(100, {7, 7})); }));
    const auto got = in_child(with_image({{"QUELLIX_SIM_FAIL_WRITE", "all"}}), [](reporter &report) {
        report(set(100, {1, 2}));
        report(set(100, {1, 2}));
        std::vector<uint8_t> buffer(2);
        report(get(100, &buffer));
        report.bytes(buffer);
    });
    EXPECT_EQ((std::vector<int64_t>{-EIO, -EIO, 0, 7, 7}), got);
}

TEST_F(SimApi, ReadsAndWritesAreNumberedSeparately)
{
    const auto got = in_child(with_image({{"QUELLIX_SIM_FAIL_WRITE", "2"}}), [](reporter &report) {
        std::vector<uint8_t> buffer(1);
        report(get(0, &buffer));
        report(set(0, {1}));
        report(get(0, &buffer));
        report(set(0, {2}));
        report(set(0, {3}));
    });
    EXPECT_EQ((std::vector<int64_t>{0, 0, 0, -EIO, 0}), got);
}

TEST_F(SimApi, StallWaitsAfterTheNthReadWithTheImageUnlocked)
{
    const std::string go = dir + "/go";
    const child c = start_child(
        with_image({{"QUELLIX_SIM_STALL_AFTER_READ", "2"}, {"QUELLIX_SIM_STALL_FILE", go}}),
        [](reporter &report) {
            std::vector<uint8_t> buffer(1);
            report(get(0, &buffer));
            report(get(0, &buffer));
            report(get(0, &buffer));
        });
    // The test waits for the marker in real time, bounded, and never measures it.
    for (int i = 0; i < 20000 && !exists(go + ".stalled"); ++i) {
        usleep(1000);
    }
    ASSERT_TRUE(exists(go + ".stalled"));
    int status = 0;
    EXPECT_EQ(0, waitpid(c.pid, &status, WNOHANG)); // still waiting
    const int fd = open(image.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(0, flock(fd, LOCK_EX | LOCK_NB)); // the call released its lock
    close(fd);
    std::ofstream{go};
    EXPECT_EQ((std::vector<int64_t>{0, 0, 0}), finish_child(c));
}

// --- Several processes on one image

TEST_F(SimApi, TwoProcessesShareOneImageWithoutLosingWrites)
{
    constexpr int WRITES = 250;
    auto writer = [](uint32_t base) {
        return [base](reporter &report) {
            int failures = 0;
            for (int i = 0; i < WRITES; ++i) {
                failures += set(base + i, {static_cast<uint8_t>(i)}) != 0;
            }
            report(failures);
        };
    };
    const child a = start_child(with_image(), writer(1024));
    const child b = start_child(with_image(), writer(4096));
    EXPECT_EQ((std::vector<int64_t>{0}), finish_child(a));
    EXPECT_EQ((std::vector<int64_t>{0}), finish_child(b));
    const std::vector<uint8_t> bytes = image_bytes();
    ASSERT_EQ(8192u, bytes.size());
    for (int i = 0; i < WRITES; ++i) {
        EXPECT_EQ(i, bytes[1024 + i]) << i;
        EXPECT_EQ(i, bytes[4096 + i]) << i;
    }
}

TEST_F(SimApi, CallWaitsForTheImageLockAndHoldsItWhileItRuns)
{
    EXPECT_EQ((std::vector<int64_t>{0}),
              in_child(with_image(), [](reporter &report) { report(set(0, {1})); }));
    const int fd = open(image.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, flock(fd, LOCK_EX));
    const child c = start_child(with_image(), [](reporter &report) { report(set(0, {2})); });
    usleep(200000);
    int status = 0;
    EXPECT_EQ(0, waitpid(c.pid, &status, WNOHANG)); // blocked on the lock
    EXPECT_EQ(1, image_bytes()[0]);
    close(fd);
    EXPECT_EQ((std::vector<int64_t>{0}), finish_child(c));
    EXPECT_EQ(2, image_bytes()[0]);
}

// --- Adapter settings and the bus-time statistics

TEST_F(SimApi, LimitedAdaptersStillCarryTheLabel)
{
    const std::vector<uint8_t> label = pattern(2360, 5);
    for (const env_map &adapter : {env_map{{"QUELLIX_SIM_ADAPTER", "smbus"}},
                                   env_map{{"QUELLIX_SIM_MAX_MSG", "64"}}}) {
        unlink(image.c_str());
        const auto got = in_child(with_image(adapter), [&](reporter &report) {
            std::vector<uint8_t> buffer(2360);
            report(set(512, label));
            report(get(512, &buffer));
            report(buffer == label);
        });
        EXPECT_EQ((std::vector<int64_t>{0, 0, 1}), got) << adapter.begin()->first;
    }
}

TEST_F(SimApi, AdapterWithoutFunctionsOrWithShortCountsFails)
{
    for (const env_map &adapter : {env_map{{"QUELLIX_SIM_ADAPTER", "none"}},
                                   env_map{{"QUELLIX_SIM_SHORT_COUNT", "1"}}}) {
        const auto got = in_child(with_image(adapter), [](reporter &report) {
            std::vector<uint8_t> buffer(16);
            report(get(512, &buffer));
            report(set(512, buffer));
        });
        ASSERT_EQ(2u, got.size());
        EXPECT_LT(got[0], 0);
        EXPECT_LT(got[1], 0);
    }
}

TEST_F(SimApi, MalformedSettingFailsTheCall)
{
    const auto got = in_child(with_image({{"QUELLIX_SIM_BUS_HZ", "fast"}}), [](reporter &report) {
        std::vector<uint8_t> buffer(1);
        report(get(0, &buffer));
    });
    EXPECT_EQ((std::vector<int64_t>{-EINVAL}), got);
}

TEST_F(SimApi, StatisticsLineForEachCall)
{
    const std::string stats = dir + "/stats";
    for (const char *hz : {"100000", "400000"}) {
        in_child(with_image({{"QUELLIX_SIM_STATS", stats}, {"QUELLIX_SIM_BUS_HZ", hz},
                             {"QUELLIX_SIM_FAIL_READ", "2"}}),
                 [](reporter &) {
                     std::vector<uint8_t> buffer(2360, 0);
                     set(512, buffer);
                     get(512, &buffer);
                     get(512, &buffer);
                 });
    }
    const std::vector<std::string> lines = lines_of(stats);
    ASSERT_EQ(6u, lines.size());
    for (size_t at : {0u, 3u}) {
        const std::string &write_line = lines[at];
        const std::string &read_line = lines[at + 1];
        const std::string &failed_line = lines[at + 2];
        EXPECT_EQ(0, write_line.rfind("op=write call=1 offset=512 length=2360 result=0 ", 0));
        EXPECT_EQ(74, field(write_line, "page_writes"));
        EXPECT_EQ(0, field(write_line, "wraps"));
        EXPECT_GT(field(write_line, "polls"), 0);
        EXPECT_GE(field(write_line, "elapsed_ns"), field(write_line, "bound_ns"));
        EXPECT_LE(field(write_line, "elapsed_ns"), field(write_line, "bound_ns") * 103 / 100);
        EXPECT_GE(field(write_line, "bound_ns"), 74 * 5000000);
        EXPECT_EQ(0, read_line.rfind("op=read call=1 offset=512 length=2360 result=0 ", 0));
        EXPECT_EQ(1, field(read_line, "transactions"));
        EXPECT_EQ(2364, field(read_line, "bytes")); // two address bytes, word address, data
        EXPECT_EQ(0, field(read_line, "page_writes"));
        EXPECT_EQ(-EIO, field(failed_line, "result"));
        EXPECT_EQ(0, field(failed_line, "elapsed_ns"));
    }
    // Four times the clock: a quarter of the read's bus time.
    EXPECT_EQ(100000, field(lines[1], "bus_hz"));
    EXPECT_EQ(400000, field(lines[4], "bus_hz"));
    EXPECT_EQ(field(lines[1], "elapsed_ns"), 4 * field(lines[4], "elapsed_ns"));
}

TEST_F(SimApi, WriteCycleSettingStretchesTheWrite)
{
    const std::string stats = dir + "/stats";
    for (const char *twr : {"5000", "10000"}) {
        in_child(with_image({{"QUELLIX_SIM_STATS", stats}, {"QUELLIX_SIM_TWR_US", twr}}),
                 [](reporter &) { set(0, std::vector<uint8_t>(64, 1)); });
    }
    const std::vector<std::string> lines = lines_of(stats);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(5000000, field(lines[0], "twr_ns"));
    EXPECT_EQ(10000000, field(lines[1], "twr_ns"));
    // Two pages, each waited for 5 ms longer (give or take one poll).
    EXPECT_EQ(2 * 5000000, field(lines[1], "bound_ns") - field(lines[0], "bound_ns"));
    EXPECT_GT(field(lines[1], "elapsed_ns") - field(lines[0], "elapsed_ns"), 2 * 5000000 - 400000);
}

} // namespace
