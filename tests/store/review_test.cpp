// Review: a record that stays pending says why; a repair that was refused
// reports no item stored as its default.
#include <cerrno>
#include <cstring>
#include <string>

#include "elabel_record.h"
#include "fake_platform.h"

using fake::g;
using Bytes = std::vector<uint8_t>;
using ReviewStoreTest = StoreTest;

namespace {

const Bytes OLD_LABEL = fake::make_image({{0x30, "old"}, {0x31, "product"}});
const Bytes NEW_LABEL = fake::make_image({{0x30, "new"}, {0x31, "product"}});

} // namespace

// Whatever the device holds, a record that could not be removed blocks the next
// write-back, and the report says why it stays (the removal's error).
TEST_F(ReviewStoreTest, RecordNotRemovedSaysWhyForEveryDeviceState)
{
    Bytes cut = NEW_LABEL;
    std::fill(cut.begin() + 19 * 32, cut.end(), 0);  // a write pass cut after page 19
    const struct {
        const char *what;
        Bytes device;
    } cases[] = {
        {"device holds the record's label", NEW_LABEL},
        {"device holds the label the record replaced", OLD_LABEL},
        {"device in a cut state, restored", cut},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        g.file_faults.clear();
        (void)elabel_record_remove();
        fake::put_label(c.device);
        ASSERT_EQ(0, elabel_record_store(NEW_LABEL.data(), OLD_LABEL.data(), false));
        g.file_faults = {{"unlink", EROFS}};
        ASSERT_EQ(0, driver_elabel_init());
        ASSERT_TRUE(fake::record_exists());
        ASSERT_EQ(0, set_data_to_elabel_mem(0x50, "EXT-1"));
        EXPECT_EQ(-1, driver_elabel_update());
        elabel_writeback_report report{};
        elabel_writeback_report_get(&report);
        EXPECT_EQ(ELABEL_WRITEBACK_REFUSED, report.outcome);
        EXPECT_EQ(fake::record_path(), report.pending);
        EXPECT_NE(nullptr, std::strstr(report.why, std::strerror(EROFS))) << report.why;
    }
}

// A write-back refused because the damaged label could not be kept stored no
// default: the report names no reset item.
TEST_F(ReviewStoreTest, RefusedRepairReportsNoItemStoredAsDefault)
{
    Bytes damaged = OLD_LABEL;
    damaged[fake::item_of(0x31).offset + ELABEL_ITEM_HEAD_LEN] ^= 0x20;
    fake::put_label(damaged);
    ASSERT_EQ(0, driver_elabel_init());
    ASSERT_EQ(0, set_data_to_elabel_mem(0x30, "new"));
    g.file_faults = {{"link", EROFS}};
    EXPECT_EQ(-1, driver_elabel_update());
    EXPECT_EQ(damaged, fake::label());
    elabel_writeback_report report{};
    elabel_writeback_report_get(&report);
    EXPECT_EQ(ELABEL_WRITEBACK_REFUSED, report.outcome);
    EXPECT_EQ(0u, report.reset_rows) << "kept: '" << report.kept << "'";
}
