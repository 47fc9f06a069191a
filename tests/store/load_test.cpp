#include "fake_platform.h"

using fake::g;
using fake::messages;
using Strings = std::vector<std::string>;

namespace {

const std::string READ_ERROR =
    "driver_flash_readElectronicLabel|[driver_flash_readElectronicLabel] i2c_read_data error.\n";

void expect_lock_balanced()
{
    EXPECT_EQ(g.lock_opens, g.lock_closes);
    EXPECT_EQ("/run/elabel_lock_flag", g.lock_path);
    EXPECT_EQ(0600u, g.lock_mode);
    EXPECT_TRUE(g.bad_calls.empty());
}

} // namespace

class LoadTest : public StoreTest {};

TEST_F(LoadTest, GoodLabelIsReadTwiceAndNothingIsWritten)
{
    const auto image = fake::make_image({{0x30, "ACME"}, {0x64, "a board"}});
    fake::put_label(image);
    EXPECT_EQ(0, driver_elabel_init());
    EXPECT_EQ(image, fake::current_image());
    EXPECT_EQ(2, g.reads);
    EXPECT_EQ(0, g.writes);
    EXPECT_TRUE(g.log.empty());
    EXPECT_TRUE(g.sleeps.empty());
    EXPECT_EQ(1, g.lock_opens);
    expect_lock_balanced();
}

// A blank part gets a label whose items that fail their check are empty, so
// that it checks afterwards; nothing is kept of 0xFF bytes.
TEST_F(LoadTest, BlankDeviceGetsTheMagicAndItsItemsEmpty)
{
    EXPECT_EQ(-1, driver_elabel_init());
    EXPECT_EQ(4, g.reads);  // three, then the write-back's read-back
    EXPECT_TRUE(g.sleeps.empty());  // a wrong magic is read again at once
    ASSERT_EQ(27u, g.log.size());
    EXPECT_EQ("driver_elabel_init|magic_num is ffffffff  not right.\n", messages().back());
    EXPECT_EQ(LOG_ERR, g.log[0].priority);

    ASSERT_EQ(2u, g.written.size());
    EXPECT_EQ(std::vector<uint8_t>(ELABEL_DATA_LEN, 0), g.written[0].bytes);
    EXPECT_EQ(g.written[1].bytes, fake::current_image());
    EXPECT_EQ((std::vector<uint8_t>{0x42, 0x41, 0x4C, 0x45}),
              std::vector<uint8_t>(g.written[1].bytes.begin(), g.written[1].bytes.begin() + 4));
    EXPECT_EQ(0, fake::len_of(fake::current_image(), 0x50));
    EXPECT_TRUE(fake::files_like("kept-label-").empty());
    expect_lock_balanced();

    // The next load finds a label that checks.
    g.log.clear();
    g.writes = 0;
    EXPECT_EQ(0, driver_elabel_init());
    EXPECT_TRUE(g.log.empty());
    EXPECT_EQ(0, g.writes);
}

// Beside a damaged record set aside, a region without the magic may be a cut
// write-back: nothing is written there and no image is left to write back.
TEST_F(LoadTest, NoLabelIsWrittenBesideADamagedRecord)
{
    auto cut = fake::make_image({{0x30, "ACME"}});
    std::fill(cut.begin(), cut.begin() + 64, 0);
    fake::put_label(cut);
    ASSERT_EQ(0, system(("mkdir -p " + g.record_dir + " && touch " + fake::record_path() +
                         ".damaged-01234567").c_str()));
    EXPECT_EQ(-1, driver_elabel_init());
    EXPECT_EQ(0, g.writes);
    EXPECT_EQ(nullptr, elabel_data);
    EXPECT_EQ(cut, fake::label());
}

TEST_F(LoadTest, WrongMagicNamesTheWordFound)
{
    auto image = fake::make_image({{0x31, "kept"}});
    image[0] = 0x78, image[1] = 0x56, image[2] = 0x34, image[3] = 0x12;
    fake::put_label(image);
    EXPECT_EQ(-1, driver_elabel_init());
    EXPECT_EQ(Strings{"driver_elabel_init|magic_num is 12345678  not right.\n"}, messages());
    EXPECT_EQ("kept", fake::text_of(fake::current_image(), 0x31));
    EXPECT_EQ(fake::make_image({{0x31, "kept"}}), fake::label());
}

TEST_F(LoadTest, FailedFirstReadIsRetriedAfterAPause)
{
    const auto image = fake::make_image({{0x30, "ACME"}});
    fake::put_label(image);
    g.fail_reads = {1};
    EXPECT_EQ(0, driver_elabel_init());
    EXPECT_EQ(3, g.reads);
    EXPECT_EQ(std::vector<unsigned>{1}, g.sleeps);
    EXPECT_EQ(Strings{READ_ERROR}, messages());
    EXPECT_EQ(image, fake::current_image());
}

TEST_F(LoadTest, ThreeFailedFirstReadsLeaveNoImageAndWriteNothing)
{
    fake::put_label(fake::make_image({{0x30, "ACME"}}));
    g.fail_reads = {1, 2, 3};
    EXPECT_EQ(-1, driver_elabel_init());
    EXPECT_EQ(3, g.reads);
    EXPECT_EQ((std::vector<unsigned>{1, 1, 1}), g.sleeps);
    EXPECT_EQ((Strings{READ_ERROR, READ_ERROR, READ_ERROR,
                       "driver_elabel_init|magic_num is 0  not right.\n"}),
              messages());
    EXPECT_EQ(nullptr, elabel_data);
    EXPECT_EQ(0, g.writes);
    EXPECT_EQ(-4, driver_elabel_update());  // nothing left that a write-back could store
    EXPECT_EQ(0, g.writes);
    expect_lock_balanced();
}

TEST_F(LoadTest, WrongMagicThenFailedReadsWritesNothing)
{
    g.fail_reads = {2, 3};
    EXPECT_EQ(-1, driver_elabel_init());
    EXPECT_EQ("driver_elabel_init|magic_num is ffffffff  not right.\n", messages().back());
    EXPECT_EQ(nullptr, elabel_data);
    EXPECT_EQ(0, g.writes);
}

TEST_F(LoadTest, WrongMagicOnTheLastReadIsWrittenBack)
{
    g.fail_reads = {1, 2};
    EXPECT_EQ(-1, driver_elabel_init());
    EXPECT_EQ(4, g.reads);
    EXPECT_EQ((std::vector<unsigned>{1, 1}), g.sleeps);
    EXPECT_EQ("driver_elabel_init|magic_num is ffffffff  not right.\n", messages().back());
    EXPECT_EQ(2, g.writes);
    ASSERT_NE(nullptr, elabel_data);
    EXPECT_EQ(0x42, elabel_data[0]);
}

TEST_F(LoadTest, ThreeFailedSecondReadsFailTheLoad)
{
    fake::put_label(fake::make_image({{0x30, "ACME"}}));
    g.fail_reads = {2, 3, 4};
    EXPECT_EQ(-1, driver_elabel_init());
    EXPECT_EQ(4, g.reads);
    EXPECT_TRUE(g.sleeps.empty());
    EXPECT_EQ((Strings{READ_ERROR, READ_ERROR, READ_ERROR,
                       "driver_elabel_init|driver_elabel_flash_read_verify failed. ret is 1\n"}),
              messages());
    EXPECT_EQ(0, g.writes);
    EXPECT_EQ("ACME", fake::text_of(fake::current_image(), 0x30));
    expect_lock_balanced();
}

TEST_F(LoadTest, BadItemsAreResetInMemoryOnly)
{
    auto image = fake::make_image({{0x20, "2026"}, {0x30, "ACME"}, {0x50, "extra"}});
    fake::put_le16(image, fake::item_of(0x20).offset + 2, 69);              // len over capacity
    image[fake::item_of(0x50).offset + 4] ^= 0x01;                         // checksum mismatch
    fake::put_label(image);
    EXPECT_EQ(0, driver_elabel_init());
    EXPECT_EQ((Strings{"driver_elabel_verify|item(3) crc error,set default",
                       "driver_elabel_verify|item(25) crc error,set default"}),
              messages());
    const auto loaded = fake::current_image();
    EXPECT_EQ(0, fake::len_of(loaded, 0x20));
    EXPECT_EQ(0, fake::crc_of(loaded, 0x50));
    EXPECT_EQ("", fake::text_of(loaded, 0x50));
    EXPECT_EQ("ACME", fake::text_of(loaded, 0x30));
    EXPECT_EQ(image, fake::label());
    EXPECT_EQ(0, g.writes);
}

TEST_F(LoadTest, FullLengthItemWithGoodChecksumIsValid)
{
    const std::string full(4, 'x');
    fake::put_label(fake::make_image({{0x10, full}}));
    EXPECT_EQ(0, driver_elabel_init());
    EXPECT_TRUE(g.log.empty());
}

TEST_F(LoadTest, BusyLockKeepsTheEarlierImage)
{
    fake::put_label(fake::make_image({{0x30, "ACME"}}));
    ASSERT_EQ(0, driver_elabel_init());
    uint8_t *before = elabel_data;
    g.lock_busy = true;
    g.lock_requests = 0;
    EXPECT_EQ(-8, driver_elabel_init());
    EXPECT_EQ(Strings{"driver_elabel_init|driver_elabel bus busy.\n"}, messages());
    EXPECT_EQ(before, elabel_data);
    EXPECT_EQ(100000, g.lock_requests);
    EXPECT_EQ(std::vector<unsigned>(1000, 1000), g.sleeps);
    EXPECT_EQ(2, g.reads);
    expect_lock_balanced();
}

TEST_F(LoadTest, LockFileThatCannotBeOpenedIsBusy)
{
    g.lock_open_fails = true;
    EXPECT_EQ(-8, driver_elabel_init());
    EXPECT_EQ((Strings{"elabel_set_lock|elabel_get_lock:open file failed! /run/elabel_lock_flag.",
                       "driver_elabel_init|driver_elabel bus busy.\n"}),
              messages());
    EXPECT_EQ(0, g.reads);
}

TEST_F(LoadTest, AllocationFailureLeavesNoImage)
{
    fake::put_label(fake::make_image());
    ASSERT_EQ(0, driver_elabel_init());
    g.fail_alloc_at = g.allocs + 1;
    EXPECT_EQ(-4, driver_elabel_init());
    EXPECT_EQ(Strings{"driver_elabel_init|driver_elabel_init: fail to malloc\r\n"}, messages());
    EXPECT_EQ(nullptr, elabel_data);
    EXPECT_EQ(g.allocs - 1, g.frees);
    expect_lock_balanced();
}

TEST_F(LoadTest, ReleaseFreesAndForgetsTheImage)
{
    fake::put_label(fake::make_image());
    ASSERT_EQ(0, driver_elabel_init());
    driver_elabel_release();
    EXPECT_EQ(nullptr, elabel_data);
    driver_elabel_release();
    EXPECT_EQ(1, g.frees);
}

TEST_F(LoadTest, UnlockRefusesANegativeDescriptor)
{
    EXPECT_EQ(-1, elabel_set_unlock(-1));
    EXPECT_EQ(Strings{"elabel_set_unlock|elabel_set_unlock:fd is 0."}, messages());
    EXPECT_EQ(0, g.lock_closes);
}

TEST_F(LoadTest, NullPointersAreRefusedWithoutTouchingAnything)
{
    EXPECT_EQ(-1, elabel_set_lock(nullptr, 1));
    EXPECT_EQ(0, g.lock_opens);
    EXPECT_EQ(0, driver_elabel_verify(nullptr));
    EXPECT_EQ(1, driver_elabel_flash_read_verify(nullptr));
    EXPECT_TRUE(g.written.empty());
}
