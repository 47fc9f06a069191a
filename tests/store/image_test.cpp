#include <cstring>

#include "fake_platform.h"

using fake::g;

TEST(Crc16, MatchesXmodemCheckValues)
{
    const char *check = "123456789";
    EXPECT_EQ(0x31C3, elabel_crc16(reinterpret_cast<const uint8_t *>(check), 9));
    const uint8_t one = 'A';
    EXPECT_EQ(0x58E5, elabel_crc16(&one, 1));
    const uint8_t high[] = {0xFF, 0x80, 0x00};
    EXPECT_EQ(0xD4FB, elabel_crc16(high, 3));  // bytes above 0x7F are taken unsigned
}

TEST(Crc16, EmptyOrNullIsZero)
{
    const uint8_t data[] = {1, 2, 3};
    EXPECT_EQ(0, elabel_crc16(data, 0));
    EXPECT_EQ(0, elabel_crc16(nullptr, 3));
    EXPECT_EQ(0, elabel_crc16(data, -1));
}

TEST(ItemTable, BlocksTileTheImageInOrder)
{
    uint64_t next = 4;
    for (const auto &item : elabel_item_table) {
        EXPECT_EQ(next, item.offset) << "id 0x" << std::hex << int(item.id);
        EXPECT_STREQ("", item.default_value);
        next += 4 + item.max_len;
    }
    EXPECT_EQ(uint64_t{ELABEL_DATA_LEN}, next);
    EXPECT_EQ(0x50, elabel_item_table[ELABEL_ITEM_NUM - 1].id);
    EXPECT_EQ(2088u, elabel_item_table[ELABEL_ITEM_NUM - 1].offset);
    EXPECT_EQ(496, fake::item_of(0x64).max_len);
    EXPECT_EQ(4, fake::item_of(0x10).max_len);
}

TEST(ItemTable, LookupFindsEveryRowAndNothingElse)
{
    for (const auto &item : elabel_item_table) {
        EXPECT_EQ(&item, driver_elabel_find_item(item.id));
    }
    for (uint8_t id : {0x00, 0x13, 0x37, 0x40, 0x51, 0x69, 0xFF}) {
        EXPECT_EQ(nullptr, driver_elabel_find_item(id)) << int(id);
    }
    const int wide = 0x150;
    const elabel_item_desc *item = driver_elabel_find_item(static_cast<uint8_t>(wide & 0xFF));
    ASSERT_NE(nullptr, item);
    EXPECT_EQ(2088u, item->offset);
}

class DefaultsTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        elabel_data = static_cast<uint8_t *>(std::malloc(ELABEL_DATA_LEN));
        std::memset(elabel_data, 0x5A, ELABEL_DATA_LEN);
    }
};

TEST_F(DefaultsTest, ItemResetEmptiesOnlyThatItem)
{
    EXPECT_EQ(0, driver_elabel_item_set_default(9));
    const auto image = fake::current_image();
    EXPECT_EQ(fake::make_image()[0], image[0]);
    EXPECT_EQ(0x45, image[3]);
    EXPECT_EQ(0, fake::len_of(image, 0x30));
    EXPECT_EQ(0, fake::crc_of(image, 0x30));
    const size_t field = fake::item_of(0x30).offset + 4;
    EXPECT_EQ(0, image[field]);
    EXPECT_EQ(0x5A, image[field + 1]);  // the rest of the field is kept
    EXPECT_EQ(0x5A, image[fake::item_of(0x31).offset]);
    EXPECT_TRUE(g.log.empty());
}

TEST_F(DefaultsTest, RowOutsideTheTableIsRefused)
{
    EXPECT_EQ(1, driver_elabel_item_set_default(26));
    EXPECT_EQ(1, driver_elabel_item_set_default(-1));
    EXPECT_EQ(0x5A, elabel_data[0]);
}

TEST_F(DefaultsTest, WholeResetGivesAValidEmptyLabel)
{
    EXPECT_EQ(0, driver_elabel_set_default());
    const auto image = fake::current_image();
    for (const auto &item : elabel_item_table) {
        EXPECT_EQ(0, fake::len_of(image, item.id));
        EXPECT_EQ(0, fake::crc_of(image, item.id));
        EXPECT_EQ("", fake::text_of(image, item.id));
    }
    EXPECT_EQ(0x42, image[0]);
}

TEST_F(DefaultsTest, CopyFailureIsLoggedAndStopsTheReset)
{
    g.fail_copy_at = 3;
    EXPECT_EQ(1, driver_elabel_set_default());
    const auto image = fake::current_image();
    EXPECT_EQ(0, fake::len_of(image, 0x11));
    EXPECT_EQ(0x5A5A, fake::len_of(image, 0x12));
    EXPECT_EQ(0x5A5A, fake::len_of(image, 0x20));
    ASSERT_EQ(1u, g.log.size());
    EXPECT_EQ(LOG_ERR, g.log[0].priority);
    EXPECT_EQ("driver_elabel_set_default|[driver_elabel_set_default] memcpy_s error.\n",
              fake::messages()[0]);

    fake::install();
    g.fail_copy_at = 1;
    EXPECT_EQ(1, driver_elabel_item_set_default(0));
    EXPECT_EQ("driver_elabel_item_set_default|[driver_elabel_set_default] memcpy_s error.\n",
              fake::messages().at(0));
}

TEST_F(DefaultsTest, LogPrefixNamesSourceFileAndLine)
{
    g.fail_copy_at = 1;
    driver_elabel_set_default();
    ASSERT_EQ(1u, g.log.size());
    EXPECT_EQ("src/app/elabel/src/elabel_default.cpp", g.log[0].file);
    EXPECT_GT(g.log[0].line, 0);
}
