#include <cstdio>
#include <cstring>

#include <unistd.h>

#include "fake_platform.h"

using fake::g;
using fake::messages;
using Strings = std::vector<std::string>;

namespace {

// Runs fn with standard output sent to a temporary file and returns what it printed.
template <typename Fn>
std::string stdout_of(Fn fn)
{
    std::fflush(stdout);
    FILE *capture = std::tmpfile();
    const int saved = dup(fileno(stdout));
    dup2(fileno(capture), fileno(stdout));
    fn();
    std::fflush(stdout);
    dup2(saved, fileno(stdout));
    close(saved);
    std::string out;
    std::rewind(capture);
    for (int c; (c = std::fgetc(capture)) != EOF;) {
        out.push_back(static_cast<char>(c));
    }
    std::fclose(capture);
    return out;
}

} // namespace

class WriteTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        fake::put_label(fake::make_image({{0x30, "a much longer old text"}}));
        ASSERT_EQ(0, driver_elabel_init());
        g.reads = 0;
    }
    std::vector<uint8_t> image() const { return fake::current_image(); }
};

TEST_F(WriteTest, TextReplacesTheWholeField)
{
    EXPECT_EQ(0, set_data_to_elabel_mem(0x30, "ACME"));
    const auto img = image();
    EXPECT_EQ("ACME", fake::text_of(img, 0x30));
    EXPECT_EQ(4, fake::len_of(img, 0x30));
    EXPECT_EQ(0x3F24, fake::crc_of(img, 0x30));
    const size_t field = fake::item_of(0x30).offset + 4;
    EXPECT_EQ(std::vector<uint8_t>(64, 0),
              std::vector<uint8_t>(img.begin() + field + 4, img.begin() + field + 68));
    EXPECT_EQ(0, g.writes);  // memory only
}

TEST_F(WriteTest, TextLengthBoundIsTheCapacityLessOne)
{
    const std::string fits(67, 'x');
    const std::string too_long(68, 'x');
    EXPECT_EQ(0, set_data_to_elabel_mem(0x31, fits.c_str()));
    EXPECT_EQ(67, fake::len_of(image(), 0x31));

    int32_t ret = 0;
    EXPECT_EQ("Data is too long, should be less than 68\r\n",
              stdout_of([&] { ret = set_data_to_elabel_mem(0x31, too_long.c_str()); }));
    EXPECT_EQ(-6, ret);
    EXPECT_EQ(Strings{"set_data_to_elabel_mem|Data is too long, should be less than 68\r\n"},
              messages());
    EXPECT_EQ(fits, fake::text_of(image(), 0x31));

    EXPECT_EQ(0, set_data_to_elabel_mem(0x64, std::string(495, 'd').c_str()));
    EXPECT_EQ("Data is too long, should be less than 496\r\n",
              stdout_of([&] { ret = set_data_to_elabel_mem(0x64, std::string(496, 'd').c_str()); }));
    EXPECT_EQ(-6, ret);
}

TEST_F(WriteTest, EmptyTextEmptiesTheItem)
{
    EXPECT_EQ(0, set_data_to_elabel_mem(0x30, ""));
    const auto img = image();
    EXPECT_EQ(0, fake::len_of(img, 0x30));
    EXPECT_EQ(0, fake::crc_of(img, 0x30));
    EXPECT_EQ("", fake::text_of(img, 0x30));
}

TEST_F(WriteTest, TextRefusals)
{
    EXPECT_EQ(-6, set_data_to_elabel_mem(0x37, "x"));
    EXPECT_EQ(-4, set_data_to_elabel_mem(0x30, nullptr));
    g.fail_fill_at = g.fills + 1;
    EXPECT_EQ(-4, set_data_to_elabel_mem(0x30, "x"));
    g.fail_copy_at = g.copies + 1;
    EXPECT_EQ(-4, set_data_to_elabel_mem(0x30, "x"));
    EXPECT_EQ((Strings{"set_data_to_elabel_mem|no item 55\r\n",
                       "set_data_to_elabel_mem|elabel_data or data is NULL\r\n",
                       "set_data_to_elabel_mem|memset_s error. ret=22\n",
                       "set_data_to_elabel_mem|memcpy_s error. ret=22\n"}),
              messages());
    driver_elabel_release();
    EXPECT_EQ(-4, set_data_to_elabel_mem(0x30, "x"));
}

TEST_F(WriteTest, BytesAtAnOffsetBuildATextInPieces)
{
    EXPECT_EQ(0, driver_elabel_set_data(0x50, reinterpret_cast<const uint8_t *>("abcdef"), 0, 6));
    EXPECT_EQ(0, driver_elabel_set_data(0x50, reinterpret_cast<const uint8_t *>("XY"), 3, 2));
    const auto img = image();
    EXPECT_EQ("abcXYf", fake::text_of(img, 0x50));
    EXPECT_EQ(5, fake::len_of(img, 0x50));
    EXPECT_EQ(0x89C6, fake::crc_of(img, 0x50));
    EXPECT_TRUE(g.log.empty());

    // Offset zero clears the rest of the field first.
    EXPECT_EQ(0, driver_elabel_set_data(0x50, reinterpret_cast<const uint8_t *>("Q"), 0, 1));
    EXPECT_EQ("Q", fake::text_of(image(), 0x50));
}

TEST_F(WriteTest, BytesMustEndInsideTheField)
{
    const std::vector<uint8_t> bytes(300, 'b');
    EXPECT_EQ(-6, driver_elabel_set_data(0x31, bytes.data(), 60, 8));
    EXPECT_EQ(0, driver_elabel_set_data(0x31, bytes.data(), 60, 7));
    EXPECT_EQ(67, fake::len_of(image(), 0x31));
    EXPECT_EQ(-6, driver_elabel_set_data(0x31, bytes.data(), 65535, 0x7FFFFFFF));
    EXPECT_EQ(-6, driver_elabel_set_data(0x50, bytes.data(), 0, 268));
    EXPECT_EQ(0, driver_elabel_set_data(0x50, bytes.data(), 0, 267));
    const Strings logged = messages();
    ASSERT_EQ(3u, logged.size());
    EXPECT_EQ(logged[0], logged[2]);
    EXPECT_EQ("driver_elabel_set_data|driver_elabel_set_data: data to write is too long \r\n",
              logged[0]);
}

TEST_F(WriteTest, BytesArgumentsAreChecked)
{
    const uint8_t byte = 'z';
    EXPECT_EQ(-6, driver_elabel_set_data(0x30, nullptr, 0, 1));
    EXPECT_EQ(-6, driver_elabel_set_data(0x30, &byte, 0, 0));
    EXPECT_EQ(-6, driver_elabel_set_data(0x30, &byte, 0, -5));
    EXPECT_EQ(-6, driver_elabel_set_data(0x13, &byte, 0, 1));
    EXPECT_EQ((Strings{"driver_elabel_set_data|driver_elabel_set_data: argument invalid\r\n",
                       "driver_elabel_set_data|driver_elabel_set_data: argument invalid\r\n",
                       "driver_elabel_set_data|driver_elabel_set_data: argument invalid\r\n",
                       "driver_elabel_set_data|driver_elabel_set_data: no item 19\r\n"}),
              messages());
    EXPECT_EQ("a much longer old text", fake::text_of(image(), 0x30));
}

TEST_F(WriteTest, BytesLoadTheImageWhenNoneIsLoaded)
{
    driver_elabel_release();
    const uint8_t byte = 'z';
    EXPECT_EQ(0, driver_elabel_set_data(0x30, &byte, 0, 1));
    EXPECT_EQ(2, g.reads);
    EXPECT_EQ("z", fake::text_of(image(), 0x30));

    driver_elabel_release();
    g.fail_every_read = true;
    EXPECT_EQ(-1, driver_elabel_set_data(0x30, &byte, 0, 1));
    EXPECT_EQ("driver_elabel_set_data|driver_elabel_init error\r\n", messages().back());
}

TEST_F(WriteTest, ReloadingSetDropsUnsavedChanges)
{
    ASSERT_EQ(0, set_data_to_elabel_mem(0x31, "unsaved"));
    const uint8_t byte = 'k';
    EXPECT_EQ(0, elabel_set_data(0x32, &byte, 0, 1));
    EXPECT_EQ("", fake::text_of(image(), 0x31));
    EXPECT_EQ("k", fake::text_of(image(), 0x32));

    g.lock_busy = true;
    EXPECT_EQ(0, elabel_set_data(0x33, &byte, 0, 1));  // a failed load is only logged
    EXPECT_EQ("elabel_set_data|driver_elabel_init failed.\n", messages().at(1));
}

TEST_F(WriteTest, ReloadingGetRetriesABusyLockTenTimes)
{
    uint8_t out[64] = {};
    uint16_t len = 0;
    EXPECT_EQ(0, elabel_get_data(0x30, out, sizeof(out), &len));
    EXPECT_EQ(22, len);

    g.lock_busy = true;
    g.sleeps.clear();
    g.lock_requests = 0;
    EXPECT_EQ(-8, elabel_get_data(0x30, out, sizeof(out), &len));
    EXPECT_EQ(1000000, g.lock_requests);
    EXPECT_EQ(10u * 1000 + 10, g.sleeps.size());
    EXPECT_EQ("elabel_get_data|driver_elabel_init error. ret=-8\r\n", messages().back());
    EXPECT_EQ(11u, g.log.size());
}

TEST_F(WriteTest, ClearZeroesTheDeviceAndResetsTheImage)
{
    EXPECT_EQ(0, driver_elabel_clear());
    EXPECT_EQ(std::vector<uint8_t>(ELABEL_DATA_LEN, 0), fake::label());
    EXPECT_EQ(fake::make_image(), image());
    EXPECT_EQ(Strings{"driver_elabel_clear|driver_elabel_clear: clear OK\r\n"}, messages());
    EXPECT_EQ(LOG_ERR, g.log[0].priority);
    EXPECT_EQ(1, g.lock_opens - 1);  // its own lock, around the erase and its read-back
    EXPECT_EQ(g.lock_opens, g.lock_closes);

    // The next load writes back zeros with the magic; the one after accepts 26 empty items.
    driver_elabel_release();
    g.log.clear();
    EXPECT_EQ(-1, driver_elabel_init());
    EXPECT_EQ(Strings{"driver_elabel_init|magic_num is 0  not right.\n"}, messages());
    EXPECT_EQ(fake::make_image(), fake::label());
    g.log.clear();
    EXPECT_EQ(0, driver_elabel_init());
    EXPECT_TRUE(g.log.empty());
}

TEST_F(WriteTest, ClearWithoutAnImageOnlyErases)
{
    driver_elabel_release();
    EXPECT_EQ(0, driver_elabel_clear());
    EXPECT_EQ(nullptr, elabel_data);
    EXPECT_EQ(std::vector<uint8_t>(ELABEL_DATA_LEN, 0), fake::label());
}

TEST_F(WriteTest, ClearFailures)
{
    g.fail_fill_at = g.fills + 1;
    EXPECT_EQ(-4, driver_elabel_clear());
    EXPECT_EQ(0, g.writes);
    g.fail_writes = {1};
    EXPECT_EQ(-1, driver_elabel_clear());
    EXPECT_EQ((Strings{"driver_elabel_clear|driver_elabel_clear memset_s error.\n",
                       "driver_flash_eraseElectronicLabel|[driver_flash_eraseElectronicLabel] "
                       "i2c_write_data error.\n",
                       "elabel_record_decide|the device still holds the label it had; record " +
                           fake::record_path() + " removed\n",
                       "driver_elabel_clear|driver_elabel_clear: fail to erase flash\r\n"}),
              messages());
}
