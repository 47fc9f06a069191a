// The set command in process, on the fake platform: its retries and pauses.
#include <cerrno>

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

class SetRunTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        fake::put_label(fake::make_image({{0x31, "Widget"}}));
        testing::internal::CaptureStdout();
    }
    std::string out() { return testing::internal::GetCapturedStdout(); }
};

TEST_F(SetRunTest, LoadsWhenNoImageIsLoaded)
{
    EXPECT_EQ(0, set("0x30", "ACME"));
    EXPECT_EQ("[elabel_set] success.\r\n", out());
    EXPECT_EQ(fake::make_image({{0x30, "ACME"}, {0x31, "Widget"}}), fake::label());
    EXPECT_EQ(3, g.reads);  // the load's two, then the write-back's read-back
}

TEST_F(SetRunTest, BusyLoadIsTriedThreeTimesWithPauses)
{
    g.lock_busy = true;
    EXPECT_EQ(-8, set("0x30", "ACME"));
    EXPECT_EQ("[elabel_set] elabel init error.\r\n", out());
    // Each load waits 1000 passes of 1 ms; the command adds 1 ms after each busy load.
    std::vector<unsigned> expected;
    for (int load = 0; load < 3; ++load) {
        expected.insert(expected.end(), 1000, 1000);
        expected.push_back(1000);
    }
    EXPECT_EQ(expected, g.sleeps);
    EXPECT_EQ(0, g.writes);
}

TEST_F(SetRunTest, FailedLoadStopsAtOnce)
{
    g.fail_every_read = true;
    EXPECT_EQ(-1, set("0x30", "ACME"));
    EXPECT_EQ("[elabel_set] elabel init error.\r\n", out());
    EXPECT_EQ(3, g.reads);  // one load only
    EXPECT_EQ("elabel_set_run|driver_elabel_init error. ret=-1\r\n", fake::messages().back());
}

TEST_F(SetRunTest, BusyWriteBackIsTriedThreeTimesWithPauses)
{
    ASSERT_EQ(0, driver_elabel_init());
    g.lock_busy = true;
    EXPECT_EQ(-8, set("0x30", "ACME"));
    EXPECT_EQ("[elabel_update] error.\r\n", out());
    EXPECT_EQ(3u * 1000 + 3, g.sleeps.size());
    EXPECT_EQ(0, g.writes);
    EXPECT_EQ("ACME", fake::text_of(fake::current_image(), 0x30));
}

TEST_F(SetRunTest, AnImageAlreadyLoadedIsUsedAsItIs)
{
    ASSERT_EQ(0, driver_elabel_init());
    ASSERT_EQ(0, set_data_to_elabel_mem(0x33, "pending"));
    EXPECT_EQ(0, set("0x30", "ACME"));
    out();
    // The load's two; the lock was let go since, so the write-back reads the
    // label it replaces first, then reads back.
    EXPECT_EQ(4, g.reads);
    EXPECT_EQ(fake::make_image({{0x30, "ACME"}, {0x31, "Widget"}, {0x33, "pending"}}),
              fake::label());
}

// What set says on standard error when the label did not end as asked, or
// its record stays: never an item stored that was not, always the record.
TEST_F(SetRunTest, StandardErrorSaysWhatBecameOfTheLabelAndItsRecord)
{
    const auto old = fake::make_image({{0x30, "old"}, {0x31, "product"}});
    auto cut = fake::make_image({{0x30, "new"}, {0x31, "product"}});
    const auto image = cut;
    std::fill(cut.begin() + 19 * 32, cut.end(), 0);  // a write pass cut after page 19
    auto damaged = fake::make_image({{0x12, "CS0001"}, {0x30, "ACME"}});
    damaged[fake::item_of(0x12).offset + ELABEL_ITEM_HEAD_LEN] ^= 0x20;
    const struct {
        const char *what;
        std::vector<uint8_t> device;
        void (*fault)();
        bool record;      // a record of `image` over `old` is pending at the start
        int32_t status;
        const char *said;  // on standard error, or "" for nothing about the item
    } cases[] = {
        {"the damaged label cannot be kept", damaged, [] { g.file_faults = {{"mkdir", EROFS}}; },
         false, -1, ""},
        {"written, its record not removed", old, [] { g.file_faults = {{"unlink", EROFS}}; },
         false, 0, "it stays pending; later writes wait for it\n"},
        {"a record the load could not finish", cut, [] { g.ignore_writes = true; }, true, -1,
         "an unfinished write-back is pending: record "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        driver_elabel_release();
        fake::install();
        fake::put_label(c.device);
        if (c.record) {
            ASSERT_EQ(0, elabel_record_store(image.data(), old.data(), false));
        }
        c.fault();
        testing::internal::CaptureStderr();
        EXPECT_EQ(c.status, set("0x31", "NAME"));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::string::npos, err.find("is stored as its default")) << err;
        EXPECT_NE(std::string::npos, err.find(c.said)) << err;
        EXPECT_EQ(c.status == 0 || c.record,
                  err.find(fake::record_path()) != std::string::npos) << err;
    }
    (void)out();
}
