// The board build of libquellix.so where no bus is needed: every failure before
// the first transfer, with its descriptor closed and its one log line.
#include "quellix.h"
#include "syslog_record.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <syslog.h>
#include <unistd.h>
#include <vector>

namespace {

int open_descriptors()
{
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    int n = 0;
    while (readdir(dir) != nullptr) {
        ++n;
    }
    closedir(dir);
    return n;
}

class Board : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_log.clear();
        char tmpl[] = "/tmp/quellix-board-XXXXXX";
        const int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        not_a_bus = tmpl;
    }
    void TearDown() override { unlink(not_a_bus.c_str()); }

    std::string not_a_bus;
    uint8_t buffer[16] = {};
};

TEST_F(Board, MissingDeviceFailsWithItsErrnoAndOneLogLine)
{
    EXPECT_EQ(-ENOENT, driver_i2c_get_data("/nonexistent/i2c-8", -96, 512, buffer, 16));
    ASSERT_EQ(1u, g_log.size());
    EXPECT_EQ(LOG_ERR, g_log[0].first);
    EXPECT_NE(std::string::npos, g_log[0].second.find("/nonexistent/i2c-8"));
    EXPECT_EQ(std::string::npos, g_log[0].second.find('\n'));
}

TEST_F(Board, DeviceThatIsNoBusFailsAndIsClosed)
{
    const int before = open_descriptors();
    // The kernel says ENOTTY; a user-mode emulator may say ENOSYS.
    EXPECT_LT(driver_i2c_get_data(not_a_bus.c_str(), -96, 512, buffer, 16), 0);
    EXPECT_LT(driver_i2c_set_data(not_a_bus.c_str(), -96, 512, buffer, 16), 0);
    EXPECT_EQ(before, open_descriptors());
    EXPECT_EQ(2u, g_log.size());
}

TEST_F(Board, BadArgumentsFailBeforeTheDeviceIsOpened)
{
    EXPECT_EQ(-EINVAL, driver_i2c_get_data(nullptr, -96, 0, buffer, 1));
    EXPECT_EQ(-EINVAL, driver_i2c_get_data("/nonexistent/i2c-8", -96, 0, nullptr, 1));
    EXPECT_EQ(-EINVAL, driver_i2c_set_data("/nonexistent/i2c-8", -96, 65535, buffer, 2));
    EXPECT_EQ(0, driver_i2c_get_data("/nonexistent/i2c-8", -96, 0, buffer, 0));
    EXPECT_EQ(0, driver_i2c_set_data("/nonexistent/i2c-8", -96, 0, buffer, 0));
}

} // namespace
