// A write-back reports what the device holds after it, and leaves a record
// only where the device may hold a state that a later load must finish.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "elabel_keep.h"
#include "elabel_record.h"
#include "fake_platform.h"

using fake::g;
using fake::messages;
using Bytes = std::vector<uint8_t>;

namespace {

const Bytes OLD_LABEL = fake::make_image({{0x30, "old"}, {0x31, "product"}});
const Bytes NEW_LABEL = fake::make_image({{0x30, "new"}, {0x31, "product"}});
constexpr int WORN_CELL = ELABEL_FLASH_OFFSET + 592;  // the first byte of prd_manufacture

bool logged(const std::string &text)
{
    for (const auto &line : messages()) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

} // namespace

class WriteBackTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        fake::put_label(OLD_LABEL);
        ASSERT_EQ(0, driver_elabel_init());
        ASSERT_EQ(0, set_data_to_elabel_mem(0x30, "new"));
        g.log.clear();
        g.reads = 0;
    }
};

TEST_F(WriteBackTest, ResultAndRecordFollowWhatIsReadBack)
{
    const struct {
        const char *what;
        void (*fault)();
        bool record_kept;
        const char *log;
    } cases[] = {
        {"a part that ignores writes", [] { g.ignore_writes = true; }, false,
         "the device ignored the writes (write-protected?); record "},
        {"a worn cell", [] { g.stuck_at = WORN_CELL; }, false,
         "label read back other than written (a worn cell?); record "},
        // The lock was let go since the load: read 1 is of the label replaced.
        {"a read-back that fails", [] { g.fail_reads = {2, 3, 4}; }, true,
         "label not read back after the write-back; record "},
        {"a label to replace that cannot be read", [] { g.fail_reads = {1, 2, 3}; }, false,
         "label not written: the label it would replace could not be read"},
    };
    for (const auto &c : cases) {
        fake::put_label(OLD_LABEL);
        g.ignore_writes = false;
        g.stuck_at = -1;
        g.fail_writes.clear();
        g.fail_reads.clear();
        g.reads = g.writes = 0;
        g.log.clear();
        c.fault();
        EXPECT_EQ(-1, driver_elabel_update()) << c.what;
        EXPECT_EQ(c.record_kept, fake::record_exists()) << c.what;
        EXPECT_TRUE(logged(c.log)) << c.what;
        (void)elabel_record_remove();
        (void)!system(("rm -f " + fake::record_path() + ".set-aside-*").c_str());
    }
    g.stuck_at = -1;
    g.fail_reads.clear();
    EXPECT_EQ(0, driver_elabel_update());
    EXPECT_EQ(NEW_LABEL, fake::label());
    EXPECT_FALSE(fake::record_exists());
}

// A device that changed, but not into the label, never keeps the next loads
// from reading it: its record is set aside at once. One that ignored a
// restore's writes keeps the record, which outlives the write protection.
TEST_F(WriteBackTest, WornCellSetsTheRecordAsideAndIgnoredRestoreKeepsIt)
{
    g.stuck_at = WORN_CELL;
    EXPECT_EQ(-1, driver_elabel_update());
    g.stuck_at = -1;
    EXPECT_FALSE(fake::record_exists());
    EXPECT_TRUE(logged("label read back other than written (a worn cell?); record " +
                       fake::record_path() + " set aside as "));
    const Bytes worn = fake::label();
    g.writes = 0;
    (void)driver_elabel_init();
    EXPECT_EQ(0, g.writes);
    EXPECT_EQ(worn, fake::label());

    Bytes cut = NEW_LABEL;
    std::fill(cut.begin() + 19 * 32, cut.end(), 0);  // a write pass cut after page 19
    fake::put_label(cut);
    ASSERT_EQ(0, elabel_record_store(NEW_LABEL.data(), OLD_LABEL.data(), false));
    g.ignore_writes = true;
    g.log.clear();
    g.writes = 0;
    EXPECT_EQ(-1, driver_elabel_init());
    EXPECT_EQ(2, g.writes);
    EXPECT_EQ(cut, fake::label());
    EXPECT_TRUE(fake::record_exists());
    EXPECT_TRUE(logged("label not restored: the device ignored the writes (write-protected?); "
                       "record " + fake::record_path() + " kept"));
    g.ignore_writes = false;
    EXPECT_EQ(0, driver_elabel_init());
    EXPECT_EQ(NEW_LABEL, fake::label());
    EXPECT_FALSE(fake::record_exists());
}

// A clear is a write-back of zeros: refused, it leaves the label and nothing
// pending; cut, its record makes the next load finish it, never bring back an
// older write-back.
TEST_F(WriteBackTest, ClearIsExactLikeAnyWriteBack)
{
    const struct {
        const char *what;
        void (*fault)();
        int32_t result;
        int writes;
    } cases[] = {
        {"a lock held elsewhere", [] { g.lock_busy = true; }, -8, 0},
        {"a part that ignores writes", [] { g.ignore_writes = true; }, -1, 1},
        {"an erase read back", [] {}, 0, 1},
    };
    for (const auto &c : cases) {
        fake::put_label(OLD_LABEL);
        g.lock_busy = g.ignore_writes = false;
        g.fail_writes.clear();
        g.writes = 0;
        c.fault();
        const int opens = g.lock_opens;
        EXPECT_EQ(c.result, driver_elabel_clear()) << c.what;
        EXPECT_EQ(c.result == 0 ? Bytes(ELABEL_DATA_LEN, 0) : OLD_LABEL, fake::label()) << c.what;
        EXPECT_FALSE(fake::record_exists()) << c.what;
        EXPECT_EQ(c.writes, g.writes) << c.what;
        EXPECT_EQ(opens + 1, g.lock_opens) << c.what;  // under its own lock
        EXPECT_EQ(g.lock_opens, g.lock_closes) << c.what;
    }
    g.lock_busy = g.ignore_writes = false;
    // A write-back left pending, then a clear cut after 10 of its 74 pages.
    fake::put_label(OLD_LABEL);
    ASSERT_EQ(0, elabel_record_store(NEW_LABEL.data(), OLD_LABEL.data(), false));
    fake::run_cut_short(10, [] { (void)driver_elabel_clear(); });
    ASSERT_TRUE(fake::record_exists());
    driver_elabel_release();
    g.log.clear();
    EXPECT_EQ(-1, driver_elabel_init());  // the clear finished: no magic, written back
    EXPECT_TRUE(logged("label restored from an unfinished write-back"));
    EXPECT_EQ(fake::make_image(), fake::label());
    EXPECT_FALSE(fake::record_exists());
}

TEST_F(WriteBackTest, RecordThatCannotBeReadIsKeptAndLoadsNothing)
{
    const struct {
        const char *call;
        int err;
    } faults[] = {{"open", EACCES}, {"open", EIO}, {"read", EIO}};
    fake::put_label(OLD_LABEL);
    for (const auto &f : faults) {
        const std::string why = std::string(f.call) + " " + std::strerror(f.err);
        ASSERT_EQ(0, elabel_record_store(NEW_LABEL.data(), OLD_LABEL.data(), false));
        g.file_faults = {{f.call, f.err}};
        g.writes = 0;
        g.log.clear();
        EXPECT_EQ(-1, driver_elabel_init()) << why;
        EXPECT_EQ(nullptr, elabel_data) << why;
        EXPECT_EQ(0, g.writes) << why;
        g.file_faults.clear();
        EXPECT_TRUE(fake::record_exists()) << why;
        EXPECT_TRUE(logged(std::string(" not read: ") + std::strerror(f.err) + "; record "))
            << why;
    }
    g.file_faults = {{"open", ENOENT}};  // no record: the load goes on
    EXPECT_EQ(0, driver_elabel_init());
}

TEST_F(WriteBackTest, RecordOfAnEarlierFormatIsSetAsideNeverReplayed)
{
    // Tag, length, offset, the image alone, CRC-32.
    Bytes record = {'E', 'L', 'A', 'B', 'P', 'W', 'R', '1', 0x38, 0x09, 0, 0, 0x00, 0x02, 0, 0};
    record.insert(record.end(), NEW_LABEL.begin(), NEW_LABEL.end());
    const uint32_t crc = elabel_record_crc32(record.data(), record.size());
    for (int i = 0; i < 4; ++i) {
        record.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    }
    ASSERT_EQ(0, mkdir(g.record_dir.c_str(), 0700));
    std::ofstream(fake::record_path(), std::ios::binary)
        .write(reinterpret_cast<const char *>(record.data()), static_cast<long>(record.size()));
    fake::put_label(Bytes(ELABEL_DATA_LEN, 0));  // an erased region, which the record would fill
    g.log.clear();
    g.writes = 0;
    driver_elabel_init();
    EXPECT_FALSE(fake::record_exists());
    EXPECT_TRUE(logged("written by an earlier version, without the label it replaces; record "));
    EXPECT_NE(NEW_LABEL, fake::label());
}

// A record left pending is settled before a write-back stores its own: kept
// while the bus fails, so that its label is never lost, finished once it works.
TEST_F(WriteBackTest, PendingRecordIsSettledBeforeTheNextWriteBack)
{
    const Bytes other = fake::make_image({{0x30, "other"}});
    fake::put_label(Bytes(ELABEL_DATA_LEN, 0));  // its erase pass went through
    ASSERT_EQ(0, elabel_record_store(other.data(), OLD_LABEL.data(), false));
    const auto record_image = [] {
        std::ifstream in(fake::record_path(), std::ios::binary);
        const Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        return bytes.size() < 20 + ELABEL_DATA_LEN ? Bytes() : Bytes(bytes.begin() + 20,
                                                                     bytes.begin() + 20 + ELABEL_DATA_LEN);
    };
    g.fail_writes = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(-1, driver_elabel_update());
    EXPECT_EQ(other, record_image());
    EXPECT_TRUE(logged("label not written: an unfinished write-back is pending"));
    // A restore that cannot store its own record leaves the device alone.
    g.fail_writes.clear();
    g.file_faults = {{"rename", EIO}};
    g.writes = 0;
    EXPECT_EQ(-1, driver_elabel_update());
    EXPECT_EQ(0, g.writes);
    EXPECT_EQ(other, record_image());
    g.file_faults.clear();
    g.log.clear();
    EXPECT_EQ(0, driver_elabel_update());
    EXPECT_TRUE(logged("label restored from an unfinished write-back"));
    EXPECT_EQ(NEW_LABEL, fake::label());
    EXPECT_FALSE(fake::record_exists());
}

// What is not a regular file at the record's path is no record: it never
// blocks or stops a load, and a link to a valid record is not followed.
TEST_F(WriteBackTest, RecordPathThatIsNoFileIsSetAsideAndADirectoryBlocksWrites)
{
    const std::string path = fake::record_path();
    const std::string valid = path + ".elsewhere";
    ASSERT_EQ(0, elabel_record_store(NEW_LABEL.data(), OLD_LABEL.data(), false));
    ASSERT_EQ(0, rename(path.c_str(), valid.c_str()));
    // That record's write pass cut after page 19: a restore would finish it.
    Bytes cut = NEW_LABEL;
    std::fill(cut.begin() + 19 * 32, cut.end(), 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    for (const std::string kind : {"symlink", "fifo", "socket"}) {
        const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
        const auto *at = reinterpret_cast<const sockaddr *>(&addr);
        ASSERT_EQ(0, kind == "symlink" ? symlink(valid.c_str(), path.c_str())
                     : kind == "fifo"  ? mkfifo(path.c_str(), 0600)
                                       : bind(sock, at, sizeof(addr)));
        close(sock);
        fake::put_label(cut);
        // In a child that an alarm ends, should the load block on the FIFO.
        fake::run_cut_short(-1, [] {
            alarm(10);
            g.log.clear();
            if (driver_elabel_init() != 0 || !logged("pending-write record damaged")) {
                _exit(3);
            }
        });
        EXPECT_EQ(cut, fake::label()) << kind;
        struct stat st {};
        EXPECT_NE(0, lstat(path.c_str(), &st)) << kind;
        (void)!system(("rm -f " + path + ".damaged-*").c_str());
    }
    // A directory is no record to set aside: reads go on, writes wait for a
    // person to remove it, and the log says so once.
    ASSERT_EQ(0, mkdir(path.c_str(), 0700));
    g.log.clear();
    EXPECT_EQ(0, driver_elabel_init());
    ASSERT_EQ(0, set_data_to_elabel_mem(0x30, "new"));
    EXPECT_EQ(-1, driver_elabel_update());
    EXPECT_EQ(cut, fake::label());
    elabel_writeback_report report{};
    elabel_writeback_report_get(&report);
    EXPECT_EQ(ELABEL_WRITEBACK_REFUSED, report.outcome);
    EXPECT_EQ("the record path is blocked: a directory; remove it (" + path + ")",
              std::string(report.why));
    int said = 0;
    for (const auto &line : messages()) {
        said += line.find("elabel_record_decide|the record path is blocked") == 0;
    }
    EXPECT_EQ(1, said);
    EXPECT_EQ(0, rmdir(path.c_str()));
}

// A record that could not be removed stays pending, whatever the device held:
// reads go on while the device holds a label, every write-back waits, and says
// which record and why.
TEST_F(WriteBackTest, RecordThatCannotBeRemovedBlocksWritesNotReads)
{
    Bytes cut = NEW_LABEL;
    std::fill(cut.begin() + 19 * 32, cut.end(), 0);  // a write pass cut after page 19
    for (const Bytes &device : {NEW_LABEL, OLD_LABEL, cut}) {
        g.file_faults.clear();
        (void)elabel_record_remove();
        fake::put_label(device);
        ASSERT_EQ(0, elabel_record_store(NEW_LABEL.data(), OLD_LABEL.data(), false));
        g.file_faults = {{"unlink", EROFS}};
        EXPECT_EQ(0, driver_elabel_init());
        EXPECT_TRUE(fake::record_exists());
        ASSERT_EQ(0, set_data_to_elabel_mem(0x50, "EXT-1"));
        g.writes = 0;
        EXPECT_EQ(-1, driver_elabel_update());
        EXPECT_EQ(0, g.writes);
        elabel_writeback_report report{};
        elabel_writeback_report_get(&report);
        EXPECT_EQ(ELABEL_WRITEBACK_REFUSED, report.outcome);
        EXPECT_EQ(fake::record_path(), report.pending);
        EXPECT_NE(nullptr, std::strstr(report.why, strerror(EROFS))) << report.why;
    }
    EXPECT_EQ(-1, driver_elabel_clear());
    EXPECT_EQ(0, g.writes);
    g.file_faults.clear();
    ASSERT_EQ(0, set_data_to_elabel_mem(0x50, "EXT-1"));  // the clear reset the image
    EXPECT_EQ(0, driver_elabel_update());
    EXPECT_FALSE(fake::record_exists());
    EXPECT_EQ("EXT-1", fake::text_of(fake::label(), 0x50));
}

// A write-back that would store defaults in place of items that failed their
// check keeps the label it replaces first, byte for byte, or writes nothing.
TEST_F(WriteBackTest, RepairKeepsTheReplacedLabel)
{
    Bytes damaged = OLD_LABEL;
    damaged[fake::item_of(0x31).offset + ELABEL_ITEM_HEAD_LEN] ^= 0x20;  // "Product"
    const elabel_item_desc &erased = fake::item_of(0x32);
    std::fill_n(damaged.begin() + static_cast<long>(erased.offset),
                ELABEL_ITEM_HEAD_LEN + erased.max_len, 0xFF);  // no damage worth keeping
    const auto load_and_set = [&] {
        fake::put_label(damaged);
        ASSERT_EQ(0, driver_elabel_init());
        ASSERT_EQ(0, set_data_to_elabel_mem(0x30, "new"));
    };
    load_and_set();
    g.file_faults = {{"link", EROFS}};
    EXPECT_EQ(-1, driver_elabel_update());
    EXPECT_EQ(damaged, fake::label());
    EXPECT_TRUE(logged("label not written: the label it replaces holds damaged items and could "
                       "not be kept"));
    elabel_writeback_report refused{};
    elabel_writeback_report_get(&refused);
    EXPECT_EQ(0u, refused.reset_rows);  // nothing was stored in their place
    g.file_faults.clear();
    // Damaged differently each time, with a clock that runs backwards: the
    // newest by the tool's own sequence stay.
    std::vector<Bytes> variants;
    for (int run = 0; run < ELABEL_KEPT_MAX + 2; ++run) {
        damaged[fake::item_of(0x31).offset + ELABEL_ITEM_HEAD_LEN + 1] = static_cast<uint8_t>('a' + run);
        variants.push_back(damaged);
        g.now -= 3600;
        load_and_set();
        EXPECT_EQ(0, driver_elabel_update());
        elabel_writeback_report report{};
        elabel_writeback_report_get(&report);
        EXPECT_EQ(1u << 10, report.reset_rows);  // 0x31's row alone
        std::ifstream in(report.kept, std::ios::binary);
        const Bytes kept{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        EXPECT_EQ(damaged, kept) << report.kept << " run " << run;
    }
    EXPECT_EQ("", fake::text_of(fake::label(), 0x31));
    auto kept_files = [] {
        std::vector<Bytes> held;
        for (const auto &name : fake::files_like(ELABEL_KEPT_PREFIX)) {
            std::ifstream in(g.record_dir + "/" + name, std::ios::binary);
            held.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return held;
    };
    EXPECT_EQ(std::vector<Bytes>(variants.end() - ELABEL_KEPT_MAX, variants.end()), kept_files());

    // A kept label tells of its directory's sync only when that failed.
    EXPECT_FALSE(logged("directory not synced"));
    // Writes that fail prune nothing, name the file they kept, and keep a
    // label already kept in no second file.
    g.ignore_writes = true;
    std::string first_kept;
    for (int run = 0; run < 3; ++run) {
        load_and_set();
        EXPECT_EQ(-1, driver_elabel_update());
        elabel_writeback_report report{};
        elabel_writeback_report_get(&report);
        first_kept = run == 0 ? report.kept : first_kept;
        EXPECT_EQ(first_kept, report.kept) << run;
    }
    EXPECT_EQ(static_cast<size_t>(ELABEL_KEPT_MAX), kept_files().size());  // already kept
    damaged[fake::item_of(0x31).offset + ELABEL_ITEM_HEAD_LEN + 1] = 'Z';
    load_and_set();
    g.file_faults = {{"fsync directory", EIO}};
    EXPECT_EQ(-1, driver_elabel_update());
    g.file_faults.clear();
    EXPECT_TRUE(logged("elabel_keep_label|label kept in "));  // ... directory not synced
    EXPECT_EQ(static_cast<size_t>(ELABEL_KEPT_MAX + 1), kept_files().size());
    EXPECT_EQ(damaged, kept_files().back());
}

// A pass that fails is no success, even where the part already held the image.
TEST_F(WriteBackTest, FailedPassOverTheSameLabelIsNoSuccess)
{
    fake::put_label(NEW_LABEL);
    ASSERT_EQ(0, driver_elabel_init());
    g.fail_writes = {1};  // the erase
    EXPECT_EQ(-1, driver_elabel_update());
    elabel_writeback_report report{};
    elabel_writeback_report_get(&report);
    EXPECT_EQ(ELABEL_WRITEBACK_FAILED, report.outcome);
    EXPECT_EQ(NEW_LABEL, fake::label());
    EXPECT_FALSE(fake::record_exists());
}
