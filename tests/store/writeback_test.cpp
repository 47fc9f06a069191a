// A write-back reports what the device holds after it, and leaves a record
// only where the device may hold a state that a later load must finish.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>

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
        {"a part that refuses the erase", [] { g.fail_writes = {1}; }, false,
         "the device still holds the label it had; record "},
        {"a worn cell", [] { g.stuck_at = WORN_CELL; }, true,
         "label read back differs from the one written; record "},
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
    }
    g.stuck_at = -1;
    g.fail_reads.clear();
    EXPECT_EQ(0, driver_elabel_update());
    EXPECT_EQ(NEW_LABEL, fake::label());
    EXPECT_FALSE(fake::record_exists());
}

// The device looks cut in the page of the worn cell: the next load restores,
// reads back the same, and sets the record aside rather than retry for ever.
TEST_F(WriteBackTest, WornCellSetsTheRecordAsideAtTheNextLoad)
{
    g.stuck_at = WORN_CELL;
    EXPECT_EQ(-1, driver_elabel_update());
    ASSERT_TRUE(fake::record_exists());
    driver_elabel_release();
    g.log.clear();
    g.writes = 0;
    EXPECT_EQ(0, driver_elabel_init());  // what the device holds, repaired in memory
    EXPECT_EQ(2, g.writes);
    EXPECT_FALSE(fake::record_exists());
    ASSERT_FALSE(g.log.empty());
    EXPECT_EQ(0u, messages()[0].find("set_aside|pending-write record " + fake::record_path() +
                                     " not restored: the device read back other than written; "
                                     "set aside as "));
    EXPECT_EQ("driver_elabel_verify|item(9) crc error,set default", messages().back());
    EXPECT_EQ(0, driver_elabel_init());  // nothing pending any more
    EXPECT_EQ(2, g.writes);
}

TEST_F(WriteBackTest, ClearKeepsTheRecordUntilTheRegionReadsBackErased)
{
    const struct {
        const char *what;
        void (*fault)();
        int32_t result;
    } cases[] = {
        {"a lock held elsewhere", [] { g.lock_busy = true; }, -8},
        {"a failed erase", [] { g.fail_writes = {1}; }, -1},
        {"a part that ignores writes", [] { g.ignore_writes = true; }, -1},
        {"an erase read back", [] {}, 0},
    };
    for (const auto &c : cases) {
        fake::put_label(OLD_LABEL);
        ASSERT_EQ(0, elabel_record_store(NEW_LABEL.data(), OLD_LABEL.data(), false));
        g.lock_busy = g.ignore_writes = false;
        g.fail_writes.clear();
        g.writes = 0;
        c.fault();
        const int opens = g.lock_opens;
        EXPECT_EQ(c.result, driver_elabel_clear()) << c.what;
        EXPECT_EQ(c.result != 0, fake::record_exists()) << c.what;
        EXPECT_EQ(c.result == -8 ? 0 : 1, g.writes) << c.what;
        EXPECT_EQ(opens + 1, g.lock_opens) << c.what;  // under its own lock
        EXPECT_EQ(g.lock_opens, g.lock_closes) << c.what;
    }
}

TEST_F(WriteBackTest, RecordThatCannotBeReadIsKeptAndLoadsNothing)
{
    const struct {
        const char *call;
        int err;
    } faults[] = {{"open", EACCES}, {"open", EPERM}, {"open", EIO}, {"read", EIO}};
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
        EXPECT_TRUE(logged(std::string(" not read: ") + std::strerror(f.err) + "; record kept"))
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
    EXPECT_TRUE(logged("written by an earlier version, without the label it replaces; set aside"));
    EXPECT_NE(NEW_LABEL, fake::label());
}
