// A write-back cut short, by a power cut or a failed write, loses no label: the
// pending-write record lets the next load finish it.
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>

#include "elabel_platform.h"
#include "elabel_record.h"
#include "fake_platform.h"

using fake::g;
using fake::messages;
using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;

namespace {

// 148 page writes: the erase and the write of 2360 bytes, 74 pages each.
constexpr int WRITE_BACK_PAGES = 148;

const Bytes OLD_LABEL = fake::make_image({
    {0x10, "rack"}, {0x11, "CH-1"}, {0x12, "SN-CH"}, {0x20, "2026-01-01"}, {0x21, "maker"},
    {0x22, "board"}, {0x23, "SN-BD"}, {0x24, "PN-BD"}, {0x25, "file"}, {0x30, "old"},
    {0x31, "product"}, {0x32, "PN-P"}, {0x33, "v1"}, {0x34, "SN-P"}, {0x35, "asset"},
    {0x36, "pfile"}, {0x60, "sysmaker"}, {0x61, "system"}, {0x62, "v2"}, {0x63, "SN-S"},
    {0x64, "description"}, {0x65, "issue"}, {0x66, "clei"}, {0x67, "bom"}, {0x68, "model"},
    {0x50, "extended information"},
});

Bytes new_label()
{
    Bytes image = OLD_LABEL;
    const elabel_item_desc &item = fake::item_of(0x30);
    uint8_t *field = image.data() + item.offset + ELABEL_ITEM_HEAD_LEN;
    std::memcpy(field, "new", 3);
    fake::put_le16(image, item.offset, elabel_crc16(field, 3));
    return image;
}

const Bytes NEW_LABEL = new_label();

std::string restored()
{
    return "elabel_record_decide|label restored from an unfinished write-back; record " +
           fake::record_path() + " removed\n";
}

std::string never_changed()
{
    return "elabel_record_decide|unfinished write-back never changed the label; record " +
           fake::record_path() + " removed\n";
}

// The record set aside, named after its checksum; the label left alone.
std::string set_aside(const std::string &why)
{
    return "elabel_record_decide|" + why + "; record " + fake::record_path() + " set aside as " +
           fake::record_path() + ".set-aside-";
}

void set_and_write_back()
{
    if (driver_elabel_init() == 0 && set_data_to_elabel_mem(0x30, "new") == 0) {
        (void)driver_elabel_update();
    }
}

void load()
{
    (void)driver_elabel_init();
}

Bytes prefix_then_zeros(const Bytes &image, size_t n)
{
    Bytes out(image.begin(), image.begin() + static_cast<long>(n));
    out.resize(image.size(), 0);
    return out;
}

Bytes record_bytes()
{
    std::ifstream in(fake::record_path(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void put_record_bytes(const Bytes &bytes)
{
    std::ofstream out(fake::record_path(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<long>(bytes.size()));
}

void put_le32(Bytes &bytes, size_t at, uint32_t v)
{
    fake::put_le16(bytes, at, static_cast<uint16_t>(v));
    fake::put_le16(bytes, at + 2, static_cast<uint16_t>(v >> 16));
}

// A fresh load of what a cut left: it must find a whole label, and no record after it.
void expect_whole_label_after_load(const Bytes &expected, const std::string &why)
{
    g.log.clear();
    g.writes = 0;
    EXPECT_EQ(0, driver_elabel_init()) << why;
    EXPECT_EQ(expected, fake::label()) << why;
    EXPECT_EQ(expected, fake::current_image()) << why;
    EXPECT_FALSE(fake::record_exists()) << why;
}

} // namespace

class RecordTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        fake::put_label(OLD_LABEL);
    }
};

TEST_F(RecordTest, WriteBackCutAtEveryPageEndsWithTheOldLabelOrTheNew)
{
    for (int cut = 0; cut <= WRITE_BACK_PAGES; ++cut) {
        const std::string why = "cut after page " + std::to_string(cut);
        fake::put_label(OLD_LABEL);
        fake::run_cut_short(cut, set_and_write_back);
        ASSERT_TRUE(fake::record_exists()) << why;
        // Before the first page the old label is still whole: the write-back
        // never changed it. After it, the record is written again, unless the
        // device already holds all of it (the last pages of this label are zeros).
        const bool done = fake::label() == NEW_LABEL;
        const Bytes &expected = cut == 0 ? OLD_LABEL : NEW_LABEL;
        expect_whole_label_after_load(expected, why);
        const Strings log =
            cut == 0 ? Strings{never_changed()} : done ? Strings{} : Strings{restored()};
        EXPECT_EQ(log, messages()) << why;
        EXPECT_EQ(cut == 0 || done ? 0 : 2, g.writes) << why;
    }
}

TEST_F(RecordTest, RestoreCutAtEveryPageIsFinishedByTheNextLoad)
{
    const Bytes cut_write = prefix_then_zeros(NEW_LABEL, 26 * 32);
    for (int cut = 0; cut <= WRITE_BACK_PAGES; ++cut) {
        const std::string why = "restore cut after page " + std::to_string(cut);
        fake::put_label(cut_write);
        ASSERT_EQ(0, elabel_record_store(NEW_LABEL.data(), OLD_LABEL.data(), false));
        fake::run_cut_short(cut, load);
        expect_whole_label_after_load(NEW_LABEL, why);
    }
}

TEST_F(RecordTest, RecordIsStoredBeforeTheEraseAndRemovedAfterTheWrite)
{
    ASSERT_EQ(0, driver_elabel_init());
    ASSERT_EQ(0, set_data_to_elabel_mem(0x30, "new"));
    fake::run_cut_short(0, [] { (void)driver_elabel_update(); });
    const Bytes record = record_bytes();
    ASSERT_EQ(ELABEL_RECORD_LEN, record.size());
    EXPECT_EQ(NEW_LABEL, Bytes(record.begin() + 20, record.begin() + 20 + ELABEL_DATA_LEN));
    EXPECT_EQ(OLD_LABEL, Bytes(record.begin() + 24 + ELABEL_DATA_LEN,
                               record.begin() + 24 + 2 * ELABEL_DATA_LEN));
    struct stat st {};
    ASSERT_EQ(0, stat(fake::record_path().c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    ASSERT_EQ(0, stat(g.record_dir.c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);

    // The record left behind is settled before the next write-back stores its own.
    EXPECT_EQ(0, driver_elabel_update());
    EXPECT_FALSE(fake::record_exists());
    EXPECT_EQ(NEW_LABEL, fake::label());
    EXPECT_EQ(Strings{never_changed()}, messages());
}

// The device judged against the record's two images: what the write-back
// leaves when cut is finished; its own labels end the record; anything else
// sets the record aside and loads what the device holds.
TEST_F(RecordTest, DeviceStatesAtLoad)
{
    Bytes bad_item = NEW_LABEL;
    bad_item[fake::item_of(0x31).offset] ^= 1;
    const size_t before_last_block = fake::item_of(0x50).offset;
    const Bytes cut_but_valid = prefix_then_zeros(NEW_LABEL, before_last_block);
    ASSERT_TRUE(elabel_image_is_valid(cut_but_valid.data()));
    // A page in the unused tail of sys_description's field, left as 0xFF by a
    // write cycle cut short, then the erase's zeros.
    const size_t torn_at = 50 * 32;
    Bytes torn_page = prefix_then_zeros(NEW_LABEL, torn_at);
    std::fill(torn_page.begin() + torn_at, torn_page.begin() + torn_at + 32, 0xFF);
    ASSERT_TRUE(elabel_image_is_valid(torn_page.data()));
    // The erase pass cut: zeros, a page half erased, the old label's rest.
    Bytes cut_erase = OLD_LABEL;
    std::fill(cut_erase.begin(), cut_erase.begin() + 600, 0);
    // Two torn pages, which no single cut leaves (two pages of 32 bytes, not one of 64).
    Bytes two_torn = prefix_then_zeros(NEW_LABEL, torn_at);
    std::fill(two_torn.begin() + torn_at, two_torn.begin() + torn_at + 64, 0xFF);
    // The old label with zeros written over its tail by other means.
    Bytes zero_tail = OLD_LABEL;
    std::fill(zero_tail.begin() + 2100, zero_tail.end(), 0);
    const Bytes third = fake::make_image({{0x30, "third"}});
    // A blank part gets the magic and its items empty.
    Bytes blank_with_magic(ELABEL_DATA_LEN, 0xFF);
    std::copy(OLD_LABEL.begin(), OLD_LABEL.begin() + 4, blank_with_magic.begin());
    for (const elabel_item_desc &item : elabel_item_table) {
        std::fill_n(blank_with_magic.begin() + static_cast<long>(item.offset), 5, 0);
    }
    const std::string foreign = "unfinished write-back does not match what the device holds";
    const struct {
        const char *what;
        Bytes device;
        Bytes after;
        std::string log;  // the first line, or its start
    } cases[] = {
        {"the record itself", NEW_LABEL, NEW_LABEL, ""},
        {"the label it replaces", OLD_LABEL, OLD_LABEL, never_changed()},
        {"a write pass cut where the label still looks valid", cut_but_valid, NEW_LABEL,
         restored()},
        {"an erased region", Bytes(ELABEL_DATA_LEN, 0), NEW_LABEL, restored()},
        {"an erase pass cut", cut_erase, NEW_LABEL, restored()},
        {"a write pass cut inside a page's write cycle, where the label still looks valid",
         torn_page, NEW_LABEL, restored()},
        {"two torn pages", two_torn, two_torn, set_aside(foreign)},
        {"an item that fails its check", bad_item, bad_item, set_aside(foreign)},
        {"another valid label", third, third, set_aside(foreign)},
        {"the old label with another tail", zero_tail, zero_tail, set_aside(foreign)},
        {"a blank part", Bytes(ELABEL_DATA_LEN, 0xFF), blank_with_magic, set_aside(foreign)},
    };
    for (const auto &c : cases) {
        fake::put_label(c.device);
        ASSERT_EQ(0, elabel_record_store(NEW_LABEL.data(), OLD_LABEL.data(), false));
        g.writes_held_signals.clear();
        g.log.clear();
        g.writes = 0;
        driver_elabel_init();
        const bool restores = c.after != c.device;
        EXPECT_EQ(c.after, fake::label()) << c.what;
        EXPECT_FALSE(fake::record_exists()) << c.what;
        const std::string first = g.log.empty() ? "" : messages()[0];
        EXPECT_EQ(c.log.empty(), g.log.empty()) << c.what;
        EXPECT_EQ(0u, first.find(c.log)) << c.what << ": " << first;
        EXPECT_EQ(restores ? 2 : 0, g.writes) << c.what;
        EXPECT_EQ(std::vector<bool>(static_cast<size_t>(g.writes), true), g.writes_held_signals)
            << c.what;
        const bool aside = c.log.find(" set aside as ") != std::string::npos;
        EXPECT_EQ(aside, first.find("set-aside-") != std::string::npos) << c.what;
        if (aside) {
            const std::string path =
                first.substr(first.find(" set aside as ") + 14, fake::record_path().size() + 19);
            EXPECT_EQ(0, access(path.c_str(), F_OK)) << c.what << ": " << path;
            EXPECT_EQ(0, unlink(path.c_str()));
        }
    }
}

// A record that does not check is never removed: set aside with the label
// left alone, or, when only the label it replaces is damaged, set aside and
// its write-back finished from the label it writes. A later format stays.
TEST_F(RecordTest, DamagedRecordIsSetAsideNeverRemoved)
{
    // The checksum is the standard CRC-32: its check value.
    EXPECT_EQ(0xCBF43926u, elabel_record_crc32(reinterpret_cast<const uint8_t *>("123456789"), 9));
    ASSERT_EQ(0, elabel_record_store(NEW_LABEL.data(), OLD_LABEL.data(), false));
    const Bytes good = record_bytes();
    auto changed = [&](size_t at, uint8_t value) {
        Bytes bytes = good;
        bytes[at] = value;
        return bytes;
    };
    constexpr size_t REPLACED_AT = 20 + ELABEL_DATA_LEN + 4;
    enum { aside, finished, stays };
    const char *const damaged_said = "elabel_record_decide|pending-write record damaged: ";
    const struct {
        const char *what;
        Bytes bytes;
        int becomes;
        const char *said = "elabel_record_decide|pending-write record damaged: ";
        const char *fault = nullptr;  // a file call that fails meanwhile
    } cases[] = {
        {"empty", Bytes(), aside},
        {"cut in its image", Bytes(good.begin(), good.begin() + 1000), aside},
        {"a bit flipped in its image", changed(100, good[100] ^ 0x10), aside},
        {"not our tag", changed(0, 'X'), aside},
        {"a bit flipped in the label it replaces",
         changed(REPLACED_AT + 100, good[REPLACED_AT + 100] ^ 0x10), finished},
        {"cut in the label it replaces", Bytes(good.begin(), good.begin() + 3000), finished},
        // The restore's own record cannot be stored: the damaged one stays where it was.
        {"damaged in the label it replaces, no room for the restore's record",
         changed(REPLACED_AT + 100, good[REPLACED_AT + 100] ^ 0x10), stays, damaged_said, "rename"},
        {"a later format", changed(7, '4'), stays,
         "elabel_record_decide|pending-write record of a later format: "},
    };
    const Bytes device = prefix_then_zeros(NEW_LABEL, 64);
    for (const auto &c : cases) {
        fake::put_label(device);
        put_record_bytes(c.bytes);
        (void)!system(("rm -f " + fake::record_path() + ".*").c_str());
        g.log.clear();
        g.writes = 0;
        if (c.fault != nullptr) {
            g.file_faults = {{c.fault, ENOSPC}};
        }
        const int32_t loaded = driver_elabel_init();
        g.file_faults.clear();
        if (c.becomes == stays) {
            EXPECT_EQ(c.bytes, record_bytes()) << c.what;
        }
        EXPECT_EQ(c.becomes == finished ? NEW_LABEL : device, fake::label()) << c.what;
        EXPECT_EQ(c.becomes == finished ? 2 : 0, g.writes) << c.what;
        EXPECT_EQ(c.becomes == stays, fake::record_exists()) << c.what;
        EXPECT_EQ(c.becomes == stays ? -1 : 0, loaded) << c.what;
        // Set aside under a name that says the label may be torn, until a whole
        // label was written.
        EXPECT_EQ(c.becomes == aside ? 1u : 0u, fake::files_like("pending-label.damaged-").size())
            << c.what;
        EXPECT_EQ(c.becomes == finished ? 1u : 0u,
                  fake::files_like("pending-label.set-aside-").size())
            << c.what;
        ASSERT_FALSE(g.log.empty());
        EXPECT_EQ(0u, messages()[0].find(c.said)) << c.what << ": " << messages()[0];
    }
    // A later format (the last row) refuses writes, and says why.
    EXPECT_EQ(-1, driver_elabel_init());
    elabel_writeback_report report{};
    EXPECT_EQ(-1, driver_elabel_clear());
    elabel_writeback_report_get(&report);
    EXPECT_EQ(ELABEL_WRITEBACK_REFUSED, report.outcome);
    EXPECT_NE(nullptr, std::strstr(report.why, "is of a later format")) << report.why;
    EXPECT_EQ(device, fake::label());
}

TEST_F(RecordTest, FailedWriteLeavesTheRecordAndTheNextLoadFinishesIt)
{
    ASSERT_EQ(0, driver_elabel_init());
    ASSERT_EQ(0, set_data_to_elabel_mem(0x30, "new"));
    g.fail_writes = {2, 3, 4};
    EXPECT_EQ(-1, driver_elabel_update());
    EXPECT_TRUE(fake::record_exists());
    EXPECT_EQ(Bytes(ELABEL_DATA_LEN, 0), fake::label());
    g.fail_writes.clear();
    driver_elabel_release();
    expect_whole_label_after_load(NEW_LABEL, "after a failed write pass");
    EXPECT_EQ(Strings{restored()}, messages());
}

TEST_F(RecordTest, FailedRestoreKeepsTheRecordAndLoadsNothing)
{
    fake::put_label(prefix_then_zeros(NEW_LABEL, 64));
    ASSERT_EQ(0, elabel_record_store(NEW_LABEL.data(), OLD_LABEL.data(), false));
    g.fail_writes = {1};  // the restore's erase
    EXPECT_EQ(-1, driver_elabel_init());
    EXPECT_EQ(nullptr, elabel_data);  // so nothing can be written back from it
    EXPECT_TRUE(fake::record_exists());
    EXPECT_EQ(1, g.writes);
    EXPECT_EQ(2, g.reads);  // the record check's and the restore's read-back
    EXPECT_EQ((Strings{
                  "driver_flash_eraseElectronicLabel|[driver_flash_eraseElectronicLabel] "
                  "i2c_write_data error.\n",
                  "elabel_record_decide|label not restored from the unfinished write-back; "
                  "record " + fake::record_path() + " kept\n",
                  "driver_elabel_init|label not read: an unfinished write-back is pending (record " +
                      fake::record_path() + ")\n",
              }),
              messages());

    g.fail_every_read = true;
    g.log.clear();
    EXPECT_EQ(-1, driver_elabel_init());
    EXPECT_TRUE(fake::record_exists());
    ASSERT_EQ(5u, g.log.size());  // three failed reads, this line, nothing read
    EXPECT_EQ("elabel_record_decide|label not checked against the unfinished write-back; "
              "record " + fake::record_path() + " kept\n",
              messages().at(3));

    g.fail_every_read = false;
    g.fail_writes.clear();
    expect_whole_label_after_load(NEW_LABEL, "after the bus came back");
}

TEST_F(RecordTest, RecordUnreadableForNowIsKeptAndLoadsNothing)
{
    fake::put_label(prefix_then_zeros(NEW_LABEL, 64));
    ASSERT_EQ(0, elabel_record_store(NEW_LABEL.data(), OLD_LABEL.data(), false));
    // Out of descriptors: the record cannot be opened, which says nothing about it.
    fake::run_cut_short(-1, [] {
        const int lowest_free = dup(0);
        close(lowest_free);
        const rlimit limit{static_cast<rlim_t>(lowest_free), static_cast<rlim_t>(lowest_free)};
        setrlimit(RLIMIT_NOFILE, &limit);
        if (driver_elabel_init() != -1 || elabel_data != nullptr || g.writes != 0 ||
            g.log.size() != 2 ||
            g.log[0].message.find("not read: Too many open files; record ") ==
                std::string::npos) {
            _exit(3);
        }
    });
    EXPECT_TRUE(fake::record_exists());
    expect_whole_label_after_load(NEW_LABEL, "with descriptors again");
}

TEST_F(RecordTest, ClearDropsThePendingRecord)
{
    ASSERT_EQ(0, elabel_record_store(NEW_LABEL.data(), OLD_LABEL.data(), false));
    EXPECT_EQ(0, driver_elabel_clear());
    EXPECT_FALSE(fake::record_exists());
    g.log.clear();
    EXPECT_EQ(-1, driver_elabel_init());  // the zeroed region, not the record's label
    EXPECT_EQ(Strings{"driver_elabel_init|magic_num is 0  not right.\n"}, messages());
}

TEST_F(RecordTest, RecordThatCannotBeStoredIsLoggedAndTheWriteBackGoesAhead)
{
    const std::string blocker = g.record_dir + ".file";
    std::ofstream(blocker).put('x');
    const std::string dir = blocker + "/records";
    elabel_platform.record_dir = dir.c_str();
    ASSERT_EQ(0, driver_elabel_init());
    ASSERT_EQ(0, set_data_to_elabel_mem(0x30, "new"));
    EXPECT_EQ(0, driver_elabel_update());
    EXPECT_EQ(NEW_LABEL, fake::label());
    EXPECT_EQ((Strings{"elabel_record_store|pending-write record " + dir +
                       "/pending-label not stored (mkdir: Not a directory); writing back "
                       "without it\n"}),
              messages());
    EXPECT_EQ(LOG_ERR, g.log.at(0).priority);
}

// A stale temporary removed before the exclusive create, the temporary synced
// before its rename, the directory synced after it; a failed store leaves no temporary.
TEST_F(RecordTest, StoreCallsAtTheSeam)
{
    ASSERT_EQ(0, mkdir(g.record_dir.c_str(), 0700));
    const std::string temp = fake::record_path() + ".tmp";
    std::ofstream(temp).put('x');  // left by a store that was cut
    g.file_calls.clear();
    ASSERT_EQ(0, elabel_record_store(NEW_LABEL.data(), OLD_LABEL.data(), false));
    EXPECT_EQ((Strings{"mkdir", "unlink", "open", "write", "fsync", "close", "rename", "open",
                       "fsync", "close"}),
              g.file_calls);
    for (const char *call : {"write", "fsync", "rename"}) {
        g.file_faults = {{call, EIO}};
        EXPECT_EQ(-1, elabel_record_store(NEW_LABEL.data(), OLD_LABEL.data(), true)) << call;
        g.file_faults.clear();
        EXPECT_NE(0, access(temp.c_str(), F_OK)) << call;
    }
}

TEST_F(RecordTest, RecordThatCannotBeStoredTakesAnOlderOneAway)
{
    ASSERT_EQ(0, driver_elabel_init());
    ASSERT_EQ(0, set_data_to_elabel_mem(0x30, "new"));
    // A record left behind (its removal failed), and no room for a new one.
    ASSERT_EQ(0, elabel_record_store(OLD_LABEL.data(), OLD_LABEL.data(), false));
    ASSERT_EQ(0, mkdir((fake::record_path() + ".tmp").c_str(), 0700));
    g.log.clear();
    g.fail_writes = {2, 3, 4};
    EXPECT_EQ(-1, driver_elabel_update());
    EXPECT_FALSE(fake::record_exists());  // never to be restored over a newer label
    EXPECT_EQ(0u, messages().at(0).find("elabel_record_store|pending-write record "));
}

TEST_F(RecordTest, CallersSignalMaskComesBackOnEveryPath)
{
    sigset_t callers;
    sigemptyset(&callers);
    sigaddset(&callers, SIGUSR1);
    sigaddset(&callers, SIGINT);  // already held by the caller: must stay held
    sigset_t saved;
    ASSERT_EQ(0, pthread_sigmask(SIG_SETMASK, &callers, &saved));
    auto mask_is_callers = [] {
        sigset_t now;
        pthread_sigmask(SIG_BLOCK, nullptr, &now);
        for (int sig = 1; sig < NSIG; ++sig) {
            if (sigismember(&now, sig) != (sig == SIGUSR1 || sig == SIGINT ? 1 : 0)) {
                return false;
            }
        }
        return true;
    };
    const struct {
        const char *what;
        std::set<int> fail_writes;
        bool busy;
    } paths[] = {
        {"success", {}, false},
        {"failed erase", {1}, false},
        {"failed write", {2, 3, 4}, false},
        {"busy lock", {}, true},
    };
    for (const auto &p : paths) {
        fake::put_label(OLD_LABEL);
        ASSERT_EQ(0, driver_elabel_init());
        g.fail_writes = p.fail_writes;
        g.lock_busy = p.busy;
        g.writes = 0;
        g.writes_held_signals.clear();
        (void)driver_elabel_update();
        EXPECT_TRUE(mask_is_callers()) << p.what;
        EXPECT_TRUE(g.writes == 0 || sigismember(&g.last_write_mask, SIGUSR1) == 1) << p.what;
        EXPECT_EQ(std::vector<bool>(static_cast<size_t>(g.writes), true), g.writes_held_signals)
            << p.what;
        g.lock_busy = false;
        g.fail_writes.clear();
        (void)driver_elabel_init();  // restores after the failures
        EXPECT_TRUE(mask_is_callers()) << p.what << ", then a load";
    }
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}
