#include <gtest/gtest.h>

#include "elabel_cli.h"

TEST(ParseItemId, AcceptsPrefixedHexadecimal)
{
    int32_t id = 0;
    EXPECT_EQ(0, elabel_parse_item_id("0x30", &id));
    EXPECT_EQ(0x30, id);
    EXPECT_EQ(0, elabel_parse_item_id("0X6a", &id));
    EXPECT_EQ(0x6A, id);
    EXPECT_EQ(0, elabel_parse_item_id("0x0000000000000050", &id));
    EXPECT_EQ(0x50, id);
}

TEST(ParseItemId, KeepsTheLow32Bits)
{
    int32_t id = 0;
    EXPECT_EQ(0, elabel_parse_item_id("0x100000030", &id));
    EXPECT_EQ(0x30, id);
    EXPECT_EQ(0, elabel_parse_item_id("0xFFFFFFFF", &id));
    EXPECT_EQ(-1, id);
    // Beyond 64 bits the conversion saturates; nothing undefined happens.
    EXPECT_EQ(0, elabel_parse_item_id("0x123456789abcdef0123", &id));
    EXPECT_EQ(-1, id);
}

TEST(ParseItemId, RefusesEverythingElse)
{
    int32_t id = 7;
    for (const char *text : {"", "0", "0x", "30", "x30", "0x3g", "0x30 ", " 0x30", "0x-30",
                             "0x+30", "00x30", "0x\xff"}) {
        EXPECT_EQ(-1, elabel_parse_item_id(text, &id)) << text;
    }
    EXPECT_EQ(-1, elabel_parse_item_id(nullptr, &id));
    EXPECT_EQ(-1, elabel_parse_item_id("0x30", nullptr));
}
