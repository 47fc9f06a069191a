// The simulator's adapter settings and its bus-time statistics, through the
// library's calls.
#include "sim_api_fixture.h"

#include <cerrno>
#include <unistd.h>

using namespace simapi;

namespace {

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

// A protected label write changes nothing and waits for no write cycle: with
// nack it fails on the first page, with ignore it seems to succeed.
TEST_F(SimApi, WriteProtectedPartKeepsItsContents)
{
    const std::vector<uint8_t> stored = pattern(2360, 3);
    in_child(with_image(), [&](reporter &) { set(512, stored); });
    const std::vector<uint8_t> before = image_bytes();
    const std::string stats = dir + "/stats";
    // Each write first reads what the part holds: one combined transfer on an
    // I2C adapter (its repeated start one more bit), 2361 on an SMBus one.
    struct row {
        const char *mode;
        const char *adapter;
        int64_t result;
        int64_t transactions;
        int64_t repeated_starts;
    };
    for (const row &r : {row{"nack", "i2c", -EIO, 2, 1}, row{"nack", "smbus", -EIO, 2362, 0},
                         row{"ignore", "i2c", 0, 76, 1}, row{"ignore", "smbus", 0, 2509, 0}}) {
        unlink(stats.c_str());
        const auto got = in_child(with_image({{"QUELLIX_SIM_WRITE_PROTECT", r.mode},
                                              {"QUELLIX_SIM_ADAPTER", r.adapter},
                                              {"QUELLIX_SIM_STATS", stats}}),
                                  [&](reporter &report) {
                                      std::vector<uint8_t> buffer(2360);
                                      report(set(512, pattern(2360, 7)));
                                      report(get(512, &buffer));
                                      report(buffer == stored);
                                  });
        SCOPED_TRACE(std::string(r.mode) + " " + r.adapter);
        EXPECT_EQ((std::vector<int64_t>{r.result, 0, 1}), got);
        EXPECT_EQ(before, image_bytes());
        const std::string line = lines_of(stats).at(0);
        EXPECT_EQ(r.transactions, field(line, "transactions"));
        EXPECT_EQ(0, field(line, "page_writes") + field(line, "polls"));
        // The bytes sent plus a start and a stop bit (10 us each) per
        // transaction, and no time spent polling.
        EXPECT_EQ(field(line, "bound_ns") + r.transactions * 20000 + r.repeated_starts * 10000,
                  field(line, "elapsed_ns"));
    }
}

TEST_F(SimApi, StatisticsLineForEachCall)
{
    const std::string stats = dir + "/stats";
    for (const char *hz : {"100000", "400000"}) {
        unlink(image.c_str());
        in_child(with_image({{"QUELLIX_SIM_STATS", stats}, {"QUELLIX_SIM_BUS_HZ", hz},
                             {"QUELLIX_SIM_FAIL_READ", "2"}}),
                 [](reporter &) {
                     std::vector<uint8_t> buffer(2360, 0);
                     set(512, pattern(2360, 9));
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
        unlink(image.c_str());
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
