// The read commands of the production binary on the simulated EEPROM.
#include <sys/stat.h>

#include <cstdio>

#include "harness.h"

using Strings = std::vector<std::string>;

namespace {

const std::pair<uint8_t, const char *> names[] = {
    {0x10, "chassis_type"},    {0x11, "chassis_part_num"}, {0x12, "chassis_serial_num"},
    {0x20, "bd_mfg_time"},     {0x21, "bd_manufacture"},   {0x22, "bd_product_name"},
    {0x23, "bd_serial_num"},   {0x24, "bd_part_num"},      {0x25, "bd_file_id"},
    {0x30, "prd_manufacture"}, {0x31, "prd_name"},         {0x32, "prd_part_num"},
    {0x33, "prd_version"},     {0x34, "prd_serial_num"},   {0x35, "prd_asset_tag"},
    {0x36, "prd_file_id"},     {0x60, "sys_manufacture"},  {0x61, "sys_name"},
    {0x62, "sys_version"},     {0x63, "sys_serial_num"},   {0x64, "sys_description"},
    {0x65, "sys_issuenumber"}, {0x66, "sys_cleicode"},     {0x67, "sys_bom"},
    {0x68, "sys_model"},       {0x50, "extend_info"},
};

// What getall prints for these item texts.
std::string listing(const std::map<uint8_t, std::string> &texts = {})
{
    std::string out = "=============================ELABEL=====================\n\r"
                      "      magic_num:                     0x454c4142\n\r";
    for (const auto &[id, name] : names) {
        char label[64];
        std::snprintf(label, sizeof(label), "[0x%02x]%s:", id, name);
        std::string line = label;
        line.resize(37, ' ');
        const auto text = texts.find(id);
        out += line + (text != texts.end() ? text->second : "") + "\n\r";
    }
    return out + "=============================================================\n\r";
}

} // namespace

class ReadE2e : public E2eTest {};

TEST_F(ReadE2e, ArgumentCountsWithoutACommand)
{
    put_label(make_label());
    const run_result none = run({});
    EXPECT_EQ(USAGE, none.out);
    EXPECT_EQ(0, none.status);

    const run_result five = run({"getall", "a", "b", "c"});
    EXPECT_EQ(USAGE, five.out);
    EXPECT_EQ(255, five.status);

    const run_result extra = run({"getall", "extra"});
    EXPECT_EQ(USAGE, extra.out);
    EXPECT_EQ(255, extra.status);

    const run_result unknown = run({"show"});
    EXPECT_EQ(USAGE, unknown.out);
    EXPECT_EQ(255, unknown.status);
    EXPECT_TRUE(unknown.log.empty());
}

TEST_F(ReadE2e, GetallListsEveryItem)
{
    put_label(make_label({{0x10, "rack"}, {0x30, "ACME"}, {0x64, "two words"}, {0x50, "x"}}));
    const run_result r = run({"getall"});
    EXPECT_EQ(listing({{0x10, "rack"}, {0x30, "ACME"}, {0x64, "two words"}, {0x50, "x"}}), r.out);
    EXPECT_EQ(0, r.status);
    EXPECT_TRUE(r.log.empty());
}

TEST_F(ReadE2e, GetPrintsOneItem)
{
    put_label(make_label({{0x10, "rack"}, {0x50, "ext"}}));
    const run_result r = run({"get", "10"});
    EXPECT_EQ("[elabel_data] rack\r\n", r.out);
    EXPECT_EQ(0, r.status);

    // Only the low 8 bits of the id count.
    EXPECT_EQ("[elabel_data] ext\r\n", run({"get", "0x150"}).out);
}

TEST_F(ReadE2e, GetOfAnUnknownItemFails)
{
    put_label(make_label());
    const run_result r = run({"get", "37"});
    EXPECT_EQ(std::string("[elabel_read] error.\r\n") + USAGE, r.out);
    EXPECT_EQ(255, r.status);
    EXPECT_EQ(Strings{"driver_elabel_get_data|driver_elabel_set_data: no item 55\r\n"},
              r.messages());
    EXPECT_EQ(3, r.log.at(0).priority);

    const run_result junk = run({"get", "zz"});
    EXPECT_EQ(std::string("[elabel_read] error.\r\n") + USAGE, junk.out);
    EXPECT_EQ(255, junk.status);
}

TEST_F(ReadE2e, GetOfAnEmptyItemFails)
{
    put_label(make_label({{0x30, "ACME"}}));
    const run_result r = run({"get", "31"});
    EXPECT_EQ("[elabel_read] invalid elabel data.\r\n", r.out);
    EXPECT_EQ(255, r.status);
    EXPECT_TRUE(r.log.empty());
}

// A blank part gets a label with its items empty, which later runs read; the
// run that wrote it says so and fails, and only text reaches the terminal.
TEST_F(ReadE2e, BlankDeviceGetsALabelAndTheReadSaysSo)
{
    // No image file: the simulator starts with a blank (all 0xFF) chip.
    capture_err_ = true;
    const run_result first = run({"getall"});
    EXPECT_EQ(255, first.status);
    EXPECT_EQ("driver_elabel_init|magic_num is ffffffff  not right.\n",
              first.messages().at(26));
    EXPECT_EQ(listing(), first.out);
    EXPECT_NE(std::string::npos, first.err.find("elabel: the part held no label (its first word "
                                                "was 0xffffffff)"))
        << first.err;
    EXPECT_EQ("", label_problems(label()));
    EXPECT_TRUE(kept_labels().empty());  // nothing but 0xFF was there
    const auto all = device();
    EXPECT_EQ(std::vector<uint8_t>(LABEL_AT, 0xFF), std::vector<uint8_t>(all.begin(), all.begin() + LABEL_AT));
    EXPECT_EQ(std::vector<uint8_t>(SIM_SIZE - LABEL_AT - LABEL_LEN, 0xFF),
              std::vector<uint8_t>(all.begin() + LABEL_AT + LABEL_LEN, all.end()));

    const run_result second = run({"getall"});
    EXPECT_EQ(listing(), second.out);
    EXPECT_EQ(0, second.status);
    EXPECT_TRUE(second.log.empty());

    // A blank part that ignores writes: no label is made up, nothing raw is shown.
    std::remove(image_path_.c_str());
    const run_result ignored = run({"getall"}, {{"QUELLIX_SIM_WRITE_PROTECT", "ignore"}});
    EXPECT_EQ(255, ignored.status);
    EXPECT_EQ("Elabel data is NULL\n", ignored.out);
    EXPECT_NE(std::string::npos, ignored.err.find("none could be written there")) << ignored.err;
    const run_result get = run({"get", "30"}, {{"QUELLIX_SIM_WRITE_PROTECT", "ignore"}});
    EXPECT_EQ(255, get.status);
    EXPECT_EQ(std::string::npos, get.out.find('\xFF'));
}

TEST_F(ReadE2e, LockFileIsCreatedPrivate)
{
    put_label(make_label());
    EXPECT_EQ(0, run({"getall"}).status);
    struct stat st {};
    ASSERT_EQ(0, stat(LOCK_FILE, &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(ReadE2e, BusyLockShowsNoData)
{
    put_label(make_label({{0x10, "rack"}}));
    lock_holder other;
    ASSERT_TRUE(other.held());
    const run_result r = run({"getall"});
    EXPECT_EQ("Elabel data is NULL\n", r.out);
    EXPECT_EQ(248, r.status);
    EXPECT_EQ((Strings{"driver_elabel_init|driver_elabel bus busy.\n",
                       "elabel_main|driver_elabel_init failed.\n"}),
              r.messages());
}

TEST_F(ReadE2e, BusyLockFailsGetAfterTwoLoads)
{
    put_label(make_label({{0x10, "rack"}}));
    lock_holder other;
    ASSERT_TRUE(other.held());
    const run_result r = run({"get", "10"});
    EXPECT_EQ(std::string("[elabel_read] error.\r\n") + USAGE, r.out);
    EXPECT_EQ(255, r.status);
    EXPECT_EQ((Strings{"driver_elabel_init|driver_elabel bus busy.\n",
                       "elabel_main|driver_elabel_init failed.\n",
                       "driver_elabel_init|driver_elabel bus busy.\n",
                       "driver_elabel_get_data|driver_elabel_init error\r\n"}),
              r.messages());
}

TEST_F(ReadE2e, UnreadableDeviceIsNeverWritten)
{
    const auto image = make_label({{0x30, "ACME"}});
    put_label(image);
    const run_result r = run({"getall"}, {{"QUELLIX_SIM_FAIL_READ", "all"}});
    EXPECT_EQ("Elabel data is NULL\n", r.out);
    EXPECT_EQ(255, r.status);
    EXPECT_EQ("driver_elabel_init|magic_num is 0  not right.\n", r.messages().at(3));
    EXPECT_EQ(image, label());

    const run_result set = run({"set", "0x30", "NEW"}, {{"QUELLIX_SIM_FAIL_READ", "all"}});
    EXPECT_EQ("[elabel_set] elabel init error.\r\n", set.out);
    EXPECT_EQ(255, set.status);
    EXPECT_EQ(image, label());
}
