// Review: what `set` says on standard error when a damaged label could not be
// kept, and when its record could not be removed after a write-back that held.
#include <cerrno>
#include <algorithm>
#include <string>

#include "elabel_cli.h"
#include "elabel_record.h"
#include "fake_platform.h"

using fake::g;

namespace {

int32_t set(const char *id, const char *text)
{
    char cmd[] = "elabel", verb[] = "set";
    char *argv[] = {cmd, verb, const_cast<char *>(id), const_cast<char *>(text), nullptr};
    return elabel_set_run(argv);
}

} // namespace

class ReviewSetRunTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        testing::internal::CaptureStderr();
    }
};

// Nothing was written and nothing kept: no line may say an item is stored as
// its default, nor name an empty kept file.
TEST_F(ReviewSetRunTest, RefusedRepairDoesNotSayAnItemIsStoredAsItsDefault)
{
    auto damaged = fake::make_image({{0x12, "CS0001"}, {0x30, "ACME"}});
    damaged[fake::item_of(0x12).offset + ELABEL_ITEM_HEAD_LEN] ^= 0x20;
    fake::put_label(damaged);
    g.file_faults = {{"mkdir", EROFS}};
    EXPECT_NE(0, set("0x31", "NAME"));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(damaged, fake::label());
    EXPECT_EQ(std::string::npos, err.find("is stored as its default")) << err;
    EXPECT_EQ(std::string::npos, err.find("kept in \n")) << err;
}

// The label was written and read back, but its record stays and blocks every
// later write-back: the run says which file.
TEST_F(ReviewSetRunTest, SuccessWithARecordThatStaysNamesTheRecord)
{
    fake::put_label(fake::make_image({{0x31, "Widget"}}));
    g.file_faults = {{"unlink", EROFS}};
    EXPECT_EQ(0, set("0x30", "ACME"));
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(fake::record_exists());
    EXPECT_NE(std::string::npos, err.find(fake::record_path())) << err;
}

// A record the load could not finish (the part ignored the restore) keeps the
// set from writing: the run says which record stays, and why.
TEST_F(ReviewSetRunTest, SetStoppedByARecordThatStaysNamesTheRecord)
{
    const auto old = fake::make_image({{0x30, "old"}, {0x31, "product"}});
    auto cut = fake::make_image({{0x30, "new"}, {0x31, "product"}});
    const auto image = cut;
    std::fill(cut.begin() + 19 * 32, cut.end(), 0);  // a write pass cut after page 19
    fake::put_label(cut);
    ASSERT_EQ(0, elabel_record_store(image.data(), old.data(), false));
    g.ignore_writes = true;
    EXPECT_NE(0, set("0x32", "NAME"));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(fake::record_exists());
    EXPECT_EQ(cut, fake::label());
    EXPECT_NE(std::string::npos, err.find(fake::record_path())) << "stderr: '" << err << "'";
}
