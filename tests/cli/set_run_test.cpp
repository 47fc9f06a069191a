// The set command in process, on the fake platform: its retries and pauses.
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
