// The simulated libquellix.so through its three calls, as a program sees it:
// the image file, the argument checks, injected faults, the stall, and several
// processes on one image.
#include "sim_api_fixture.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace simapi;

namespace {

std::vector<int64_t> widen(const std::vector<uint8_t> &bytes)
{
    return std::vector<int64_t>(bytes.begin(), bytes.end());
}

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

// A cut that tears its page keeps only the page's first bytes; reads fail once
// the process has written a page. (SIGINT, ignored, stands in for the cut.)
TEST_F(SimApi, TornPageAndReadsFailingOnceWritingBegan)
{
    const auto got = in_child(with_image({{"QUELLIX_SIM_SIGNAL_AFTER_PAGES", "2"},
                                          {"QUELLIX_SIM_SIGNAL", "INT"},
                                          {"QUELLIX_SIM_TORN_BYTES", "5"},
                                          {"QUELLIX_SIM_FAIL_READ_AFTER_WRITE", "1"}}),
                              [](reporter &report) {
                                  std::signal(SIGINT, SIG_IGN);
                                  std::vector<uint8_t> buffer(96);
                                  report(get(512, &buffer));
                                  report(set(512, pattern(96, 1)));
                                  report(get(512, &buffer));
                              });
    EXPECT_EQ((std::vector<int64_t>{0, 0, -EIO}), got);
    auto torn = pattern(96, 1);
    std::fill(torn.begin() + 32 + 5, torn.begin() + 64, 0xFF);
    const auto bytes = image_bytes();
    EXPECT_EQ(torn, std::vector<uint8_t>(bytes.begin() + 512, bytes.begin() + 608));
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

} // namespace
