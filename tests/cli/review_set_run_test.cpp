// Review: what `set` says on standard error when a damaged label could not be
// kept, and when its record could not be removed after a write-back that held.
#include <cerrno>
#include <string>

#include "elabel_cli.h"
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
