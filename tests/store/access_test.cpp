#include <cstring>

#include "fake_platform.h"

using fake::g;
using fake::messages;
using Strings = std::vector<std::string>;

class GetDataTest : public StoreTest {
protected:
    void load(const std::vector<uint8_t> &image)
    {
        fake::put_label(image);
        driver_elabel_init();
        g.log.clear();
    }
    uint8_t out[512] = {};
    uint16_t len = 0xBEEF;
};

TEST_F(GetDataTest, CopiesTheItemWithoutATerminator)
{
    load(fake::make_image({{0x30, "ACME"}}));
    std::memset(out, '#', sizeof(out));
    EXPECT_EQ(0, driver_elabel_get_data(0x30, out, sizeof(out), &len));
    EXPECT_EQ(4, len);
    EXPECT_EQ("ACME#", std::string(reinterpret_cast<char *>(out), 5));
}

TEST_F(GetDataTest, EmptyItemGivesLengthZero)
{
    load(fake::make_image());
    EXPECT_EQ(0, driver_elabel_get_data(0x50, out, sizeof(out), &len));
    EXPECT_EQ(0, len);
    EXPECT_TRUE(g.log.empty());
}

TEST_F(GetDataTest, UnknownIdIsRefused)
{
    load(fake::make_image());
    EXPECT_EQ(-6, driver_elabel_get_data(0x37, out, sizeof(out), &len));
    EXPECT_EQ(Strings{"driver_elabel_get_data|driver_elabel_set_data: no item 55\r\n"}, messages());
    EXPECT_EQ(0xBEEF, len);
}

TEST_F(GetDataTest, TooSmallBufferLogsBothLines)
{
    load(fake::make_image({{0x31, "Widget 3000"}}));
    EXPECT_EQ(-4, driver_elabel_get_data(0x31, out, 4, &len));
    EXPECT_EQ((Strings{"driver_elabel_get_data|item_id 49 driver_elabel_get_data memcpy_s "
                       "error.data_size is 4, len is 11\n",
                       "driver_elabel_get_data|driver_elabel_get_data memcpy_s error. data is "
                       "Widget 3000\n"}),
              messages());
    EXPECT_EQ(0xBEEF, len);
}

TEST_F(GetDataTest, LengthBeyondTheFieldOfAnUnverifiedImageIsRefused)
{
    // A second read that fails leaves the items unverified; 0x10 claims more than
    // its 4 bytes and its field has no NUL, so the text shown must stop at the
    // field's end.
    auto image = fake::make_image();
    g.fail_reads = {2, 3, 4};
    const size_t at = fake::item_of(0x10).offset;
    fake::put_le16(image, at + 2, 400);
    std::memcpy(&image[at + 4], "ABCDEFGH", 8);  // runs on into the next block
    load(image);
    ASSERT_NE(nullptr, elabel_data);
    EXPECT_EQ(-4, driver_elabel_get_data(0x10, out, sizeof(out), &len));
    EXPECT_EQ((Strings{"driver_elabel_get_data|item_id 16 driver_elabel_get_data memcpy_s "
                       "error.data_size is 512, len is 400\n",
                       "driver_elabel_get_data|driver_elabel_get_data memcpy_s error. data is "
                       "ABCD\n"}),
              messages());
    EXPECT_EQ(0, out[0]);
}

TEST_F(GetDataTest, LoadsWhenThereIsNoImage)
{
    fake::put_label(fake::make_image({{0x62, "v2"}}));
    EXPECT_EQ(0, driver_elabel_get_data(0x62, out, sizeof(out), &len));
    EXPECT_EQ(2, len);
    EXPECT_EQ(2, g.reads);
}

TEST_F(GetDataTest, FailedLoadIsReported)
{
    g.lock_busy = true;
    EXPECT_EQ(-1, driver_elabel_get_data(0x30, out, sizeof(out), &len));
    EXPECT_EQ((Strings{"driver_elabel_init|driver_elabel bus busy.\n",
                       "driver_elabel_get_data|driver_elabel_init error\r\n"}),
              messages());
}

TEST_F(GetDataTest, LoadThatLeftNoImageIsReported)
{
    g.fail_every_read = true;
    EXPECT_EQ(-1, driver_elabel_get_data(0x30, out, sizeof(out), &len));
    EXPECT_EQ("driver_elabel_get_data|driver_elabel_init error\r\n", messages().back());
    EXPECT_EQ(0, g.writes);
}

class UpdateTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        fake::put_label(original);
        ASSERT_EQ(0, driver_elabel_init());
        ASSERT_EQ(0, set_data_to_elabel_mem(0x30, "NEW"));
        g.reads = g.writes = 0;
        g.written.clear();
        g.sleeps.clear();
    }
    const std::vector<uint8_t> original = fake::make_image({{0x30, "OLD"}, {0x61, "name"}});
    const std::vector<uint8_t> changed = fake::make_image({{0x30, "NEW"}, {0x61, "name"}});
};

TEST_F(UpdateTest, ErasesThenWritesTheImage)
{
    EXPECT_EQ(0, driver_elabel_update());
    ASSERT_EQ(2u, g.written.size());
    EXPECT_EQ(std::vector<uint8_t>(ELABEL_DATA_LEN, 0), g.written[0].bytes);
    EXPECT_EQ(changed, fake::label());
    EXPECT_TRUE(g.log.empty());
    EXPECT_EQ(g.lock_opens, g.lock_closes);
    EXPECT_EQ(g.allocs, g.frees + 1);  // only the image itself is still allocated
}

TEST_F(UpdateTest, WriteThatFailsTwiceThenSucceeds)
{
    g.fail_writes = {2, 3};
    EXPECT_EQ(0, driver_elabel_update());
    EXPECT_EQ((std::vector<unsigned>{1, 1}), g.sleeps);
    EXPECT_EQ(changed, fake::label());
}

TEST_F(UpdateTest, WriteThatFailsThreeTimesLeavesTheRegionZeroed)
{
    g.fail_writes = {2, 3, 4};
    EXPECT_EQ(-1, driver_elabel_update());
    EXPECT_EQ((std::vector<unsigned>{1, 1, 1}), g.sleeps);
    EXPECT_EQ(std::vector<uint8_t>(ELABEL_DATA_LEN, 0), fake::label());
    EXPECT_EQ((Strings{"driver_flash_writElectronicLabel|[driver_flash_writElectronicLabel] "
                       "i2c_write_data error.\n",
                       "driver_elabel_update|fail to driver_flash_writElectronicLabel\r\n",
                       "elabel_record_decide|label not written whole; record " +
                           fake::record_path() + " kept\n"}),
              messages());
    EXPECT_EQ(changed, fake::current_image());  // a later write-back can still store it
    EXPECT_EQ(g.lock_opens, g.lock_closes);
    EXPECT_EQ(g.allocs, g.frees + 1);
    EXPECT_EQ(0, driver_elabel_update());
    EXPECT_EQ(changed, fake::label());
}

TEST_F(UpdateTest, FailedEraseLeavesTheDeviceUnchanged)
{
    g.fail_writes = {1};
    EXPECT_EQ(-1, driver_elabel_update());
    EXPECT_EQ(1, g.writes);
    EXPECT_EQ(original, fake::label());
    EXPECT_EQ((Strings{"driver_flash_eraseElectronicLabel|[driver_flash_eraseElectronicLabel] "
                       "i2c_write_data error.\n",
                       "driver_elabel_update|fail to driver_flash_eraseElectronicLabel\r\n",
                       "elabel_record_decide|the device still holds the label it had; record " +
                           fake::record_path() + " removed\n"}),
              messages());
    EXPECT_FALSE(fake::record_exists());
}

TEST_F(UpdateTest, EraseBufferFillFailureWritesNothing)
{
    g.fail_fill_at = g.fills + 1;
    EXPECT_EQ(-1, driver_elabel_update());
    EXPECT_EQ(0, g.writes);
    EXPECT_EQ("driver_flash_eraseElectronicLabel|memset_s error.\n", messages().at(0));
}

TEST_F(UpdateTest, BusyLockWritesNothing)
{
    g.lock_busy = true;
    EXPECT_EQ(-8, driver_elabel_update());
    EXPECT_EQ(Strings{"driver_elabel_update|driver_elabel bus busy.\n"}, messages());
    EXPECT_EQ(0, g.writes);
    EXPECT_EQ(g.allocs, g.frees + 1);
}

TEST_F(UpdateTest, LockFileThatCannotBeOpenedIsBusy)
{
    g.lock_open_fails = true;
    EXPECT_EQ(-8, driver_elabel_update());
    EXPECT_EQ((Strings{"elabel_set_lock|elabel_get_lock:open file failed! /run/elabel_lock_flag.",
                       "driver_elabel_update|driver_elabel bus busy.\n"}),
              messages());
    EXPECT_EQ(0, g.writes);
    EXPECT_EQ(g.allocs, g.frees + 1);
}

TEST_F(UpdateTest, CopyFailures)
{
    g.fail_alloc_at = g.allocs + 1;
    EXPECT_EQ(-4, driver_elabel_update());
    EXPECT_EQ("driver_elabel_update|fail to malloc elabel_bak\r\n", messages().back());

    g.fail_copy_at = g.copies + 1;
    EXPECT_EQ(-4, driver_elabel_update());
    EXPECT_EQ("driver_elabel_update|driver_elabel_update memcpy_s error.\n", messages().back());
    EXPECT_EQ(0, g.writes);
    EXPECT_EQ(g.allocs - 1, g.frees + 1);  // the failed allocation freed nothing
}

TEST_F(UpdateTest, NoImageIsRefusedSilently)
{
    driver_elabel_release();
    EXPECT_EQ(-4, driver_elabel_update());
    EXPECT_TRUE(g.log.empty());
    EXPECT_EQ(0, g.writes);
}

using RawTransferTest = StoreTest;

// The exported transfers never reach past the label region.
TEST_F(RawTransferTest, LengthBeyondTheLabelOrNoBufferIsRefused)
{
    std::vector<uint8_t> buffer(8000, 0x5A);
    const struct {
        uint8_t *buffer;
        uint32_t length;
    } cases[] = {{buffer.data(), ELABEL_DATA_LEN + 1}, {buffer.data(), 8000}, {nullptr, 16}};
    for (const auto &c : cases) {
        g.log.clear();
        EXPECT_EQ(1, driver_flash_readElectronicLabel(c.buffer, c.length));
        EXPECT_EQ(-1, driver_flash_writElectronicLabel(c.buffer, c.length));
        const std::string why = "] argument invalid: no buffer, or length " +
                                std::to_string(c.length) + " beyond the label's 2360 bytes.\n";
        const std::string read = "driver_flash_readElectronicLabel";
        const std::string write = "driver_flash_writElectronicLabel";
        EXPECT_EQ((Strings{read + "|[" + read + why, write + "|[" + write + why}), messages());
    }
    EXPECT_EQ(0, g.reads + g.writes);
    EXPECT_EQ(0, driver_flash_readElectronicLabel(buffer.data(), ELABEL_DATA_LEN));
    EXPECT_EQ(0, driver_flash_writElectronicLabel(buffer.data(), ELABEL_DATA_LEN));
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + ELABEL_DATA_LEN),
              fake::label());
}
