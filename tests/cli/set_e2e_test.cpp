// The set command of the production binary on the simulated EEPROM.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "harness.h"

using Strings = std::vector<std::string>;

namespace {

const std::string ID_ERROR = "[elabel_set] item id error.\r\n";
const std::string SET_ERROR = "[elabel_set] error.\r\n";
const std::string UPDATE_ERROR = "[elabel_update] error.\r\n";
const std::string SUCCESS = "[elabel_set] success.\r\n";

bool wait_for_file(const std::string &path)
{
    for (int i = 0; i < 10000; ++i) {
        if (access(path.c_str(), F_OK) == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

size_t count(const Strings &lines, const std::string &line)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

} // namespace

class SetE2e : public E2eTest {
protected:
    void SetUp() override
    {
        E2eTest::SetUp();
        put_label(original);
    }
    const std::vector<uint8_t> original = make_label({{0x31, "Widget"}, {0x60, "Maker"}});
};

TEST_F(SetE2e, SetsAnItemAndWritesTheLabelBack)
{
    const run_result r = run({"set", "0x30", "ACME"});
    EXPECT_EQ(SUCCESS, r.out);
    EXPECT_EQ(0, r.status);
    ASSERT_EQ(1u, r.log.size());
    EXPECT_EQ("elabel_set_run|elabel_set success.", r.messages()[0]);
    EXPECT_EQ(6, r.log[0].priority);

    const auto image = label();
    EXPECT_EQ(make_label({{0x30, "ACME"}, {0x31, "Widget"}, {0x60, "Maker"}}), image);
    EXPECT_EQ("", label_problems(image));
    // Block of 0x30 at 588: checksum 0x3F24, length 4, text, zeros to the end of the field.
    EXPECT_EQ(0x24, image[588]);
    EXPECT_EQ(0x3F, image[589]);
    EXPECT_EQ(4, image[590]);
    EXPECT_EQ(0, image[591]);

    const run_result all = run({"getall"});
    EXPECT_NE(std::string::npos,
              all.out.find("[0x30]prd_manufacture:               ACME\n\r"));
    EXPECT_EQ("[elabel_data] ACME\r\n", run({"get", "30"}).out);
}

TEST_F(SetE2e, ShorterTextZeroesTheRestOfTheField)
{
    ASSERT_EQ(0, run({"set", "0x31", "W"}).status);
    const auto image = label();
    EXPECT_EQ("W", item_text(image, 0x31));
    EXPECT_EQ(std::vector<uint8_t>(67, 0),
              std::vector<uint8_t>(image.begin() + 660 + 5, image.begin() + 660 + 72));
}

TEST_F(SetE2e, MalformedIdsAreRefused)
{
    for (const char *id : {"30", "0x", "0x3g", "x30", "0x30 ", "-0x30"}) {
        const run_result r = run({"set", id, "ACME"});
        EXPECT_EQ(ID_ERROR, r.out) << id;
        EXPECT_EQ(255, r.status) << id;
        ASSERT_EQ(1u, r.log.size()) << id;
        EXPECT_EQ("elabel_set_run|item_id error. ret=-1 item_id=0x0\r\n", r.messages()[0]) << id;
    }
    EXPECT_EQ(original, label());
}

TEST_F(SetE2e, IdsOutsideTheSettableRangeAreRefusedAndItsTopIsSet)
{
    const run_result r = run({"set", "0x10", "ACME"});
    EXPECT_EQ(ID_ERROR, r.out);
    EXPECT_EQ(250, r.status);
    EXPECT_EQ(Strings{"elabel_set_run|item_id error. ret=-6 item_id=0x10\r\n"}, r.messages());

    EXPECT_EQ(250, run({"set", "0x69", "x"}).status);
    EXPECT_EQ(250, run({"set", "0x2F", "x"}).status);
    EXPECT_EQ(original, label());

    // 0x68 is the last settable id.
    EXPECT_EQ(SUCCESS, run({"set", "0x68", "top"}).out);
    EXPECT_EQ("top", item_text(label(), 0x68));
}

TEST_F(SetE2e, IdWithoutAnItemIsRefused)
{
    const run_result r = run({"set", "0x37", "ACME"});
    EXPECT_EQ(SET_ERROR, r.out);
    EXPECT_EQ(250, r.status);
    EXPECT_EQ((Strings{"set_data_to_elabel_mem|no item 55\r\n",
                       "elabel_set_run|driver_elabel_set_data error. ret=-6"}),
              r.messages());
    EXPECT_EQ(original, label());
}

TEST_F(SetE2e, TextLengthLimits)
{
    const run_result long_text = run({"set", "0x64", std::string(496, 'd')});
    EXPECT_EQ("Data is too long, should be less than 496\r\n" + SET_ERROR, long_text.out);
    EXPECT_EQ(250, long_text.status);
    EXPECT_EQ(original, label());

    EXPECT_EQ(SUCCESS, run({"set", "0x64", std::string(495, 'd')}).out);
    EXPECT_EQ(std::string(495, 'd'), item_text(label(), 0x64));

    const run_result r68 = run({"set", "0x65", std::string(48, 'e')});
    EXPECT_EQ("Data is too long, should be less than 48\r\n" + SET_ERROR, r68.out);
    EXPECT_EQ(250, r68.status);
}

TEST_F(SetE2e, EmptyTextEmptiesTheItem)
{
    ASSERT_EQ(SUCCESS, run({"set", "0x50", "ext"}).out);
    const run_result r = run({"set", "0x50", ""});
    EXPECT_EQ(SUCCESS, r.out);
    EXPECT_EQ(0, r.status);
    const run_result get = run({"get", "50"});
    EXPECT_EQ("[elabel_read] invalid elabel data.\r\n", get.out);
    EXPECT_EQ(255, get.status);
    EXPECT_EQ("", label_problems(label()));
}

TEST_F(SetE2e, OnlyTheLow32BitsOfTheIdCount)
{
    EXPECT_EQ(SUCCESS, run({"set", "0x100000030", "wide"}).out);
    EXPECT_EQ("wide", item_text(label(), 0x30));
}

TEST_F(SetE2e, TextIsStoredAndShownByteForByte)
{
    const std::string text = "a b  %s %n %x \xC3\xA9\xFF\x80~\\";
    const run_result r = run({"set", "0x61", text});
    EXPECT_EQ(SUCCESS, r.out);
    EXPECT_EQ(text, item_text(label(), 0x61));
    EXPECT_EQ("[elabel_data] " + text + "\r\n", run({"get", "61"}).out);
    EXPECT_NE(std::string::npos, run({"getall"}).out.find("]sys_name:                      " + text + "\n\r"));
}

TEST_F(SetE2e, BusyLockFromTheStart)
{
    lock_holder other;
    ASSERT_TRUE(other.held());
    const run_result r = run({"set", "0x30", "ACME"});
    EXPECT_EQ("[elabel_set] elabel init error.\r\n", r.out);
    EXPECT_EQ(248, r.status);
    const Strings lines = r.messages();
    EXPECT_EQ(4u, count(lines, "driver_elabel_init|driver_elabel bus busy.\n"));
    EXPECT_EQ("elabel_set_run|driver_elabel_init error. ret=-8\r\n", lines.back());
    EXPECT_EQ(6u, lines.size());
    EXPECT_EQ(original, label());
}

// A write-protected part, whether it refuses the data bytes or takes and drops
// them: the set fails, the label stays readable and unchanged, nothing is left
// pending, and once the protection is lifted the set works.
TEST_F(SetE2e, WriteProtectedPartFailsTheSetAndKeepsTheLabel)
{
    const struct {
        const char *mode;
        const char *why;
    } parts[] = {
        {"nack", "the device still holds the label it had; record "},
        {"ignore", "label read back unchanged: the device ignored the writes (write-protected?); "
                   "record "},
    };
    for (const auto &part : parts) {
        put_label(original);
        const std::map<std::string, std::string> protect = {{"QUELLIX_SIM_WRITE_PROTECT", part.mode}};
        const run_result r = run({"set", "0x30", "ACME"}, protect);
        EXPECT_EQ(UPDATE_ERROR, r.out) << part.mode;
        EXPECT_EQ(255, r.status) << part.mode;
        EXPECT_EQ(1u, count(r.messages(), std::string("elabel_record_decide|") + part.why + RECORD_FILE +
                                              " removed\n"))
            << part.mode;
        EXPECT_EQ(original, label()) << part.mode;
        EXPECT_NE(0, access(RECORD_FILE, F_OK)) << part.mode;
        EXPECT_EQ("[elabel_data] Widget\r\n", run({"get", "31"}, protect).out) << part.mode;
        const run_result all = run({"getall"}, protect);
        EXPECT_NE(std::string::npos, all.out.find("]prd_name:                      Widget\n\r"))
            << part.mode;
        EXPECT_TRUE(all.log.empty()) << part.mode;
    }
    EXPECT_EQ(SUCCESS, run({"set", "0x30", "ACME"}).out);
    EXPECT_EQ(make_label({{0x30, "ACME"}, {0x31, "Widget"}, {0x60, "Maker"}}), label());
}

TEST_F(SetE2e, ConcurrentSetWaitsAndBothChangesSurvive)
{
    // The first run stops inside its load, holding the lock it keeps until its
    // write-back is done; a second run started meanwhile waits for it, then loads
    // the first one's label. Both report success, and both changes stay.
    const std::string go = dir_ + "/go";
    const int first = start({"set", "0x30", "A"}, {{"QUELLIX_SIM_STALL_AFTER_READ", "2"},
                                                   {"QUELLIX_SIM_STALL_FILE", go}});
    ASSERT_TRUE(wait_for_file(go + ".stalled"));
    const int second = start({"set", "0x31", "B"});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    close(open(go.c_str(), O_CREAT | O_WRONLY, 0600));
    EXPECT_EQ(SUCCESS, finish(first).out);
    EXPECT_EQ(SUCCESS, finish(second).out);
    EXPECT_EQ("A", item_text(label(), 0x30));
    EXPECT_EQ("B", item_text(label(), 0x31));
}

TEST_F(SetE2e, WriteFailuresAfterTheErase)
{
    const run_result r = run({"set", "0x30", "ACME"}, {{"QUELLIX_SIM_FAIL_WRITE", "2,3,4"}});
    EXPECT_EQ(UPDATE_ERROR, r.out);
    EXPECT_EQ(255, r.status);
    const Strings lines = r.messages();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ("driver_elabel_update|fail to driver_flash_writElectronicLabel\r\n",
              lines[lines.size() - 3]);
    EXPECT_EQ(std::string("elabel_record_decide|label not written whole; record ") + RECORD_FILE +
                  " kept\n",
              lines[lines.size() - 2]);
    EXPECT_EQ("elabel_set_run|elabel_update error. ret=-1", lines.back());
    // The erase went through, so the label region is left zeroed.
    EXPECT_EQ(std::vector<uint8_t>(LABEL_LEN, 0), label());
}

TEST_F(SetE2e, FailedEraseLeavesTheDeviceUnchanged)
{
    const run_result r = run({"set", "0x30", "ACME"}, {{"QUELLIX_SIM_FAIL_WRITE", "1"}});
    EXPECT_EQ(UPDATE_ERROR, r.out);
    EXPECT_EQ(255, r.status);
    // The device still holds what it had: nothing is left for a later run to finish.
    const Strings lines = r.messages();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ((Strings{"driver_elabel_update|fail to driver_flash_eraseElectronicLabel\r\n",
                       std::string("elabel_record_decide|the device still holds the label it had; record ") +
                           RECORD_FILE + " removed\n",
                       "elabel_set_run|elabel_update error. ret=-1"}),
              Strings(lines.end() - 3, lines.end()));
    EXPECT_EQ(original, label());
    EXPECT_NE(0, access(RECORD_FILE, F_OK));
}

TEST_F(SetE2e, WriteThatSucceedsOnTheThirdAttempt)
{
    const run_result r = run({"set", "0x30", "ACME"}, {{"QUELLIX_SIM_FAIL_WRITE", "2,3"}});
    EXPECT_EQ(SUCCESS, r.out);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(make_label({{0x30, "ACME"}, {0x31, "Widget"}, {0x60, "Maker"}}), label());
}

// A region without the magic is kept as found, then gets a label whose items
// that fail their check are empty; the set changes its one item on that.
TEST_F(SetE2e, WrongMagicKeepsTheRegionAndEmptiesItsDamagedItems)
{
    auto image = make_label({{0x31, "Widget"}, {0x30, "ACME"}});
    image[0] = 0x00;
    image[660 + 4] = 'w';  // 0x31 now fails its checksum
    put_label(image);
    const run_result r = run({"set", "0x62", "v2"});
    EXPECT_EQ(SUCCESS, r.out);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("driver_elabel_verify|item(10) crc error,set default", r.messages().at(0));
    EXPECT_EQ("driver_elabel_init|magic_num is 454c4100  not right.\n", r.messages().at(1));

    auto expected = make_label({{0x30, "ACME"}, {0x62, "v2"}});
    std::copy(image.begin() + 660 + 5, image.begin() + 660 + 72, expected.begin() + 660 + 5);
    EXPECT_EQ(expected, label());
    const auto kept = kept_labels();
    ASSERT_EQ(1u, kept.size());
    EXPECT_EQ(image, kept[0]);
}

TEST_F(SetE2e, ConcurrentSetsNeverInterleave)
{
    const uint8_t ids[] = {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x60, 0x61};
    std::vector<int> pids;
    for (int round = 0; round < 3; ++round) {
        for (uint8_t id : ids) {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "0x%02x", id);
            pids.push_back(start({"set", hex, "value " + std::to_string(round) + " " + hex}));
        }
    }
    for (int pid : pids) {
        const run_result r = finish(pid);
        EXPECT_TRUE(r.status == 0 || r.status == 248) << r.status << " " << r.out;
        EXPECT_TRUE(r.out == SUCCESS || r.out == UPDATE_ERROR ||
                    r.out == "[elabel_set] elabel init error.\r\n")
            << r.out;
    }
    const auto image = label();
    EXPECT_EQ("", label_problems(image));
    EXPECT_EQ(0, run({"getall"}).status);
}

class RepairE2e : public E2eTest {
protected:
    void SetUp() override
    {
        E2eTest::SetUp();
        capture_err_ = true;
    }
};

// A set over a damaged item keeps the label as it was before storing the
// item's default, and names both on standard error; a write-back it could not
// read back says what is known.
TEST_F(RepairE2e, SetKeepsTheDamagedLabelAndSaysWhatItCouldNotCheck)
{
    std::vector<uint8_t> damaged = make_label({{0x12, "CS0001"}, {0x30, "ACME"}});
    const size_t text = 84 + 4;  // chassis_serial_num's text: "cS0001", checksum of "CS0001"
    ASSERT_EQ('C', damaged[text]);
    damaged[text] ^= 0x20;
    put_label(damaged);
    const run_result r = run({"set", "0x31", "NAME"});
    EXPECT_EQ(SUCCESS, r.out);
    EXPECT_EQ(0, r.status);
    const std::string said = "elabel: item 0x12 (chassis_serial_num) failed its check and is stored "
                             "as its default; the label as it was is kept in ";
    ASSERT_EQ(0u, r.err.find(said)) << r.err;
    const std::string kept = r.err.substr(said.size(), r.err.find('\n') - said.size());
    EXPECT_EQ(0u, kept.rfind("/var/lib/elabel/kept-label-", 0)) << kept;
    std::ifstream in(kept, std::ios::binary);
    EXPECT_EQ(damaged, std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                            std::istreambuf_iterator<char>()));
    EXPECT_EQ("", item_text(label(), 0x12));
    EXPECT_EQ("NAME", item_text(label(), 0x31));

    // Reads 1 and 2 are the load's; the read-back's three tries fail.
    const run_result unread = run({"set", "0x30", "NEW"}, {{"QUELLIX_SIM_FAIL_READ", "3,4,5"}});
    EXPECT_EQ(UPDATE_ERROR, unread.out);
    EXPECT_EQ(255, unread.status);
    EXPECT_EQ(std::string("elabel: the label was written but could not be read back; the "
                          "pending-write record ") +
                  RECORD_FILE + " stays and the next run checks it\n",
              unread.err);
    EXPECT_EQ("[elabel_data] NEW\r\n", run({"get", "30"}).out);
    EXPECT_NE(0, access(RECORD_FILE, F_OK));
}
