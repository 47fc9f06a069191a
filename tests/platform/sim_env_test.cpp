// The simulator's settings from the environment.
#include "scoped_env.h"
#include "sim_env.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <linux/i2c.h>

namespace {

// Every variable the simulator reads, cleared for the test and restored after.
class SimEnv : public ::testing::Test {
protected:
    scoped_env image{"QUELLIX_SIM_IMAGE", nullptr};
    scoped_env fail_read{"QUELLIX_SIM_FAIL_READ", nullptr};
    scoped_env fail_write{"QUELLIX_SIM_FAIL_WRITE", nullptr};
    scoped_env stall{"QUELLIX_SIM_STALL_AFTER_READ", nullptr};
    scoped_env stall_file{"QUELLIX_SIM_STALL_FILE", nullptr};
    scoped_env hz{"QUELLIX_SIM_BUS_HZ", nullptr};
    scoped_env twr{"QUELLIX_SIM_TWR_US", nullptr};
    scoped_env adapter{"QUELLIX_SIM_ADAPTER", nullptr};
    scoped_env max_msg{"QUELLIX_SIM_MAX_MSG", nullptr};
    scoped_env short_count{"QUELLIX_SIM_SHORT_COUNT", nullptr};
    scoped_env stats{"QUELLIX_SIM_STATS", nullptr};
    scoped_env stuck{"QUELLIX_SIM_STUCK_BYTE", nullptr};
    scoped_env protect{"QUELLIX_SIM_WRITE_PROTECT", nullptr};
    scoped_env torn{"QUELLIX_SIM_TORN_BYTES", nullptr};
    scoped_env fail_after_write{"QUELLIX_SIM_FAIL_READ_AFTER_WRITE", nullptr};
    scoped_env page{"QUELLIX_SIM_PAGE", nullptr};
    scoped_env driver{"QUELLIX_SIM_DRIVER", nullptr};
    scoped_env driver_page{"QUELLIX_SIM_DRIVER_PAGE", nullptr};
    scoped_env short_io{"QUELLIX_SIM_SHORT_IO", nullptr};
    sim_env env{};
};

TEST_F(SimEnv, Defaults)
{
    ASSERT_EQ(0, sim_env_load(&env));
    EXPECT_STREQ("quellix-eeprom.bin", env.image);
    EXPECT_EQ(100000u, env.bus_hz);
    EXPECT_EQ(5000000u, env.write_cycle_ns);
    EXPECT_NE(0u, env.adapter.funcs & I2C_FUNC_I2C);
    EXPECT_EQ(0u, env.adapter.max_msg);
    EXPECT_FALSE(env.adapter.short_count);
    EXPECT_EQ(0u, env.stall_after_read);
    EXPECT_EQ(nullptr, env.stats);
    EXPECT_EQ(nullptr, env.fail_read);
    EXPECT_EQ(CHIP24_SIZE, env.stuck_byte);
    EXPECT_EQ(chip24_protect::none, env.write_protect);
    EXPECT_EQ(CHIP24_PAGE, env.chip_page);
    EXPECT_FALSE(env.driver);
    EXPECT_EQ(1u, env.driver_page);
    EXPECT_EQ(CHIP24_PAGE, env.torn_bytes);
    EXPECT_FALSE(env.fail_read_after_write);
}

TEST_F(SimEnv, BusModelSettings)
{
    scoped_env a{"QUELLIX_SIM_BUS_HZ", "400000"};
    scoped_env b{"QUELLIX_SIM_TWR_US", "10000"};
    scoped_env c{"QUELLIX_SIM_ADAPTER", "smbus"};
    scoped_env d{"QUELLIX_SIM_MAX_MSG", "64"};
    scoped_env e{"QUELLIX_SIM_SHORT_COUNT", "1"};
    scoped_env f{"QUELLIX_SIM_STUCK_BYTE", "612"};
    scoped_env g{"QUELLIX_SIM_TORN_BYTES", "0"};
    scoped_env h{"QUELLIX_SIM_FAIL_READ_AFTER_WRITE", "1"};
    ASSERT_EQ(0, sim_env_load(&env));
    EXPECT_EQ(612u, env.stuck_byte);
    EXPECT_EQ(0u, env.torn_bytes);
    EXPECT_TRUE(env.fail_read_after_write);
    EXPECT_EQ(400000u, env.bus_hz);
    EXPECT_EQ(10000000u, env.write_cycle_ns);
    EXPECT_EQ(0u, env.adapter.funcs & I2C_FUNC_I2C);
    EXPECT_NE(0u, env.adapter.funcs & I2C_FUNC_SMBUS_WRITE_I2C_BLOCK);
    EXPECT_EQ(64u, env.adapter.max_msg);
    EXPECT_TRUE(env.adapter.short_count);
}

TEST_F(SimEnv, AdapterWithoutFunctions)
{
    scoped_env a{"QUELLIX_SIM_ADAPTER", "none"};
    ASSERT_EQ(0, sim_env_load(&env));
    EXPECT_EQ(0u, env.adapter.funcs);
}

TEST_F(SimEnv, MalformedValuesAreRefused)
{
    const char *const cases[][2] = {
        {"QUELLIX_SIM_BUS_HZ", "fast"},        {"QUELLIX_SIM_BUS_HZ", "100k"},
        {"QUELLIX_SIM_BUS_HZ", "-1"},          {"QUELLIX_SIM_TWR_US", "5ms"},
        {"QUELLIX_SIM_ADAPTER", "spi"},        {"QUELLIX_SIM_MAX_MSG", "0"},
        {"QUELLIX_SIM_SHORT_COUNT", "2"},      {"QUELLIX_SIM_FAIL_READ", "2,,3"},
        {"QUELLIX_SIM_FAIL_READ", "2,"},       {"QUELLIX_SIM_FAIL_WRITE", "x"},
        {"QUELLIX_SIM_FAIL_WRITE", " 1"},      {"QUELLIX_SIM_STALL_AFTER_READ", "1"},
        {"QUELLIX_SIM_STUCK_BYTE", "8192"},    {"QUELLIX_SIM_WRITE_PROTECT", "on"},
        {"QUELLIX_SIM_WRITE_PROTECT", "NACK"}, {"QUELLIX_SIM_TORN_BYTES", "32"},
        {"QUELLIX_SIM_FAIL_READ_AFTER_WRITE", "2"}, {"QUELLIX_SIM_PAGE", "24"},
        {"QUELLIX_SIM_DRIVER_PAGE", "512"},    {"QUELLIX_SIM_DRIVER", "at25"},
    };
    for (const auto &c : cases) {
        scoped_env bad{c[0], c[1]};
        EXPECT_EQ(-EINVAL, sim_env_load(&env)) << c[0] << "=" << c[1];
    }
}

TEST_F(SimEnv, CallLists)
{
    EXPECT_TRUE(sim_env_lists("2,3,4", 3));
    EXPECT_TRUE(sim_env_lists("2,3,4", 4));
    EXPECT_FALSE(sim_env_lists("2,3,4", 1));
    EXPECT_FALSE(sim_env_lists("2,3,4", 5));
    EXPECT_FALSE(sim_env_lists("12", 1));
    EXPECT_FALSE(sim_env_lists("12", 2));
    EXPECT_TRUE(sim_env_lists("12", 12));
    EXPECT_TRUE(sim_env_lists("all", 1));
    EXPECT_TRUE(sim_env_lists("all", 1000));
    EXPECT_FALSE(sim_env_lists(nullptr, 1));
    EXPECT_FALSE(sim_env_lists("1,x", 1));
}

} // namespace
