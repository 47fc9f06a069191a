// The `get` command's id conversion, and the argument checks of both builds.
#include "api_args.h"
#include "quellix.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(Char2Int, HexWithOrWithoutPrefixInEitherCase)
{
    EXPECT_EQ(16, common_16_char2int("10"));
    EXPECT_EQ(80, common_16_char2int("0x50"));
    EXPECT_EQ(80, common_16_char2int("0X50"));
    EXPECT_EQ(255, common_16_char2int("ff"));
    EXPECT_EQ(255, common_16_char2int("FF"));
    EXPECT_EQ(0xAbC, common_16_char2int("0xaBc"));
    EXPECT_EQ(0, common_16_char2int("0"));
    EXPECT_EQ(0, common_16_char2int("0x0"));
    EXPECT_EQ(0x150, common_16_char2int("150"));
    EXPECT_EQ(0x30, common_16_char2int("00000000000030"));
}

TEST(Char2Int, InvalidTextIsMinusOne)
{
    EXPECT_EQ(-1, common_16_char2int(nullptr));
    EXPECT_EQ(-1, common_16_char2int(""));
    EXPECT_EQ(-1, common_16_char2int("0x"));
    EXPECT_EQ(-1, common_16_char2int("0X"));
    EXPECT_EQ(-1, common_16_char2int("g"));
    EXPECT_EQ(-1, common_16_char2int("1g"));
    EXPECT_EQ(-1, common_16_char2int("10 "));
    EXPECT_EQ(-1, common_16_char2int(" 10"));
    EXPECT_EQ(-1, common_16_char2int("-1"));
    EXPECT_EQ(-1, common_16_char2int("+1"));
    EXPECT_EQ(-1, common_16_char2int("0x0x1"));
    EXPECT_EQ(-1, common_16_char2int("x10"));
}

TEST(Char2Int, ValuesBeyondInt32MaxAreMinusOne)
{
    EXPECT_EQ(0x7FFFFFFF, common_16_char2int("7fffffff"));
    EXPECT_EQ(-1, common_16_char2int("80000000"));
    EXPECT_EQ(-1, common_16_char2int("ffffffff"));
    EXPECT_EQ(-1, common_16_char2int("100000000"));
    EXPECT_EQ(-1, common_16_char2int("0xffffffffffffffffffff"));
}

TEST(ApiArgs, AddressByteToSevenBitAddress)
{
    EXPECT_EQ(0x50, qx_address7(static_cast<int8_t>(-96)));
    EXPECT_EQ(0x50, qx_address7(static_cast<int8_t>(0xA1)));
    EXPECT_EQ(0x7F, qx_address7(static_cast<int8_t>(0xFE)));
    EXPECT_EQ(0x08, qx_address7(0x10));
}

TEST(ApiArgs, NullsAndRangesBeyondSixtyFourKibAreRefused)
{
    uint8_t byte = 0;
    EXPECT_EQ(0, qx_check_args("/dev/i2c-8", &byte, 512, 2360));
    EXPECT_EQ(0, qx_check_args("/dev/i2c-8", &byte, 65535, 1));
    EXPECT_EQ(0, qx_check_args("/dev/i2c-8", &byte, 0, 65536));
    EXPECT_EQ(0, qx_check_args("/dev/i2c-8", &byte, 65536, 0));
    EXPECT_EQ(-EINVAL, qx_check_args(nullptr, &byte, 0, 1));
    EXPECT_EQ(-EINVAL, qx_check_args("/dev/i2c-8", nullptr, 0, 1));
    EXPECT_EQ(-EINVAL, qx_check_args("/dev/i2c-8", &byte, 65535, 2));
    EXPECT_EQ(-EINVAL, qx_check_args("/dev/i2c-8", &byte, 0, 65537));
    EXPECT_EQ(-EINVAL, qx_check_args("/dev/i2c-8", &byte, UINT64_MAX, 1));
    EXPECT_EQ(-EINVAL, qx_check_args("/dev/i2c-8", &byte, 1ull << 32, 1));
}

} // namespace
