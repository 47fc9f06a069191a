// A set cut short by a kill or a termination signal, or by failed writes, on
// the simulated EEPROM: the label is never lost.
#include <unistd.h>

#include <csignal>

#include "harness.h"

using Strings = std::vector<std::string>;

namespace {

// A set here writes 62 pages, only those that differ from what the part holds:
// 31 of zeros to erase, then the 31 of the label that are not all zeros. After
// 46 the erase is done and the write pass half-way.
const std::string HALF_WAY = "46";

const std::vector<std::pair<uint8_t, std::string>> ALL_ITEMS = {
    {0x10, "rack"},      {0x11, "CH-1"},     {0x12, "SN-CH"},  {0x20, "2026-01-01"},
    {0x21, "maker"},     {0x22, "board"},    {0x23, "SN-BD"},  {0x24, "PN-BD"},
    {0x25, "file"},      {0x30, "old"},      {0x31, "product"}, {0x32, "PN-P"},
    {0x33, "v1"},        {0x34, "SN-P"},     {0x35, "asset"},  {0x36, "pfile"},
    {0x60, "sysmaker"},  {0x61, "system"},   {0x62, "v2"},     {0x63, "SN-S"},
    {0x64, "description"}, {0x65, "issue"},  {0x66, "clei"},   {0x67, "bom"},
    {0x68, "model"},     {0x50, "extended information"},
};

std::vector<std::pair<uint8_t, std::string>> with_new_0x30()
{
    auto items = ALL_ITEMS;
    items[9].second = "NEW";
    return items;
}

bool record_exists()
{
    return access(RECORD_FILE, F_OK) == 0;
}

} // namespace

class InterruptE2e : public E2eTest {
protected:
    void SetUp() override
    {
        E2eTest::SetUp();
        put_label(make_label(ALL_ITEMS));
    }
    // The next run restores the wanted label, says so once and leaves no record.
    void expect_restored_by_getall()
    {
        const run_result all = run({"getall"});
        EXPECT_EQ(0, all.status);
        EXPECT_EQ(Strings{std::string("elabel_record_decide|label restored from an unfinished "
                                      "write-back; record ") +
                          RECORD_FILE + " removed\n"},
                  all.messages());
        EXPECT_NE(std::string::npos, all.out.find("[0x30]prd_manufacture:               NEW\n\r"));
        EXPECT_NE(std::string::npos,
                  all.out.find("[0x50]extend_info:                   extended information\n\r"));
        EXPECT_EQ(wanted, label());
        EXPECT_FALSE(record_exists());
    }
    const std::vector<uint8_t> wanted = make_label(with_new_0x30());
};

TEST_F(InterruptE2e, SetKilledHalfWayIsFinishedByTheNextRun)
{
    const run_result r =
        run({"set", "0x30", "NEW"}, {{"QUELLIX_SIM_SIGNAL_AFTER_PAGES", HALF_WAY}});
    EXPECT_EQ(SIGKILL, r.signal);
    EXPECT_EQ("", r.out);
    EXPECT_NE(wanted, label());
    EXPECT_TRUE(record_exists());
    expect_restored_by_getall();
}

TEST_F(InterruptE2e, FailedWritePassIsFinishedByTheNextRun)
{
    const run_result r = run({"set", "0x30", "NEW"}, {{"QUELLIX_SIM_FAIL_WRITE", "2,3,4"}});
    EXPECT_EQ(255, r.status);
    EXPECT_EQ(std::vector<uint8_t>(LABEL_LEN, 0), label());
    EXPECT_TRUE(record_exists());
    expect_restored_by_getall();
}

TEST_F(InterruptE2e, TerminationSignalWaitsForTheWriteBackAndItsOutcomeLine)
{
    for (const auto &[name, sig] : {std::pair<const char *, int>{"INT", SIGINT},
                                    {"TERM", SIGTERM},
                                    {"HUP", SIGHUP}}) {
        put_label(make_label(ALL_ITEMS));
        const run_result r = run({"set", "0x30", "NEW"}, {{"QUELLIX_SIM_SIGNAL", name},
                                                          {"QUELLIX_SIM_SIGNAL_AFTER_PAGES",
                                                           HALF_WAY}});
        // The signal ends the run once the write-back is done and its outcome
        // printed: the label written and no record left.
        EXPECT_EQ(sig, r.signal) << name;
        EXPECT_EQ("[elabel_set] success.\r\n", r.out) << name;
        EXPECT_EQ(Strings{"elabel_set_run|elabel_set success."}, r.messages()) << name;
        EXPECT_EQ(wanted, label()) << name;
        EXPECT_FALSE(record_exists()) << name;
    }
}

TEST_F(InterruptE2e, RestoreIsNotEndedBeforeTheRecordIsGone)
{
    run({"set", "0x30", "NEW"}, {{"QUELLIX_SIM_SIGNAL_AFTER_PAGES", HALF_WAY}});
    ASSERT_TRUE(record_exists());
    // SIGINT after the restore's last page (15 erased, 31 written): it waits
    // until the record is removed and the restore logged, then ends the run.
    const run_result r = run({"getall"}, {{"QUELLIX_SIM_SIGNAL", "INT"},
                                          {"QUELLIX_SIM_SIGNAL_AFTER_PAGES", "46"}});
    EXPECT_EQ(SIGINT, r.signal);
    EXPECT_EQ(Strings{std::string("elabel_record_decide|label restored from an unfinished "
                                  "write-back; record ") +
                      RECORD_FILE + " removed\n"},
              r.messages());
    EXPECT_EQ(wanted, label());
    EXPECT_FALSE(record_exists());
}
