// The 24C64 model on its own: what the protocol's tests rely on it to catch.
#include "chip24.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

class Chip24 : public ::testing::Test {
protected:
    void SetUp() override { chip24_init(&chip, 5000000); }

    void write(uint16_t address, std::vector<uint8_t> data)
    {
        data.insert(data.begin(), {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)});
        chip24_write(&chip, data.data(), static_cast<uint32_t>(data.size()));
    }

    std::vector<uint8_t> read(uint16_t address, uint32_t count)
    {
        write(address, {});
        std::vector<uint8_t> out(count);
        chip24_read(&chip, out.data(), count);
        return out;
    }

    chip24 chip;
};

TEST_F(Chip24, StartsBlankIdleAndAnswersOnlyItsAddress)
{
    for (uint8_t byte : chip.mem) {
        ASSERT_EQ(0xFF, byte);
    }
    EXPECT_TRUE(chip24_select(&chip, 0x50, 0));
    EXPECT_FALSE(chip24_select(&chip, 0x51, 0));
    EXPECT_FALSE(chip24_select(&chip, 0x28, 0));
}

TEST_F(Chip24, WriteCycleStartsAtStopAndRefusesItsAddressUntilItEnds)
{
    write(0x40, {1, 2, 3});
    EXPECT_TRUE(chip24_select(&chip, 0x50, 100)); // no stop yet
    chip24_stop(&chip, 1000);
    EXPECT_EQ(1u, chip.page_writes);
    EXPECT_FALSE(chip24_select(&chip, 0x50, 1000));
    EXPECT_FALSE(chip24_select(&chip, 0x50, 5000999));
    EXPECT_TRUE(chip24_select(&chip, 0x50, 5001000));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), read(0x40, 3));
}

TEST_F(Chip24, WordAddressAloneMovesThePointerWithoutAWriteCycle)
{
    write(0x123, {});
    chip24_stop(&chip, 0);
    EXPECT_EQ(0u, chip.page_writes);
    EXPECT_EQ(0x123, chip.pointer);
    EXPECT_TRUE(chip24_select(&chip, 0x50, 0));
}

TEST_F(Chip24, WriteReachingThePageEndDoesNotWrap)
{
    write(0x3C, {1, 2, 3, 4});
    EXPECT_EQ(0u, chip.wraps);
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 1, 2, 3, 4, 0xFF}), read(0x3B, 6));
}

TEST_F(Chip24, WritePastThePageEndWrapsOntoItsStartAndIsFlagged)
{
    write(0x3E, {1, 2, 3, 4});
    EXPECT_EQ(1u, chip.wraps);
    EXPECT_EQ(0x3Eu, chip.first_wrap);
    // 3 and 4 land at the start of page 0x20, not at 0x40.
    EXPECT_EQ((std::vector<uint8_t>{3, 4, 0xFF}), read(0x20, 3));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 0xFF}), read(0x3E, 3));
}

TEST_F(Chip24, AStuckCellKeepsItsValueAndOnlyIt)
{
    chip.stuck = 0x201;
    write(0x200, {1, 2, 3});
    EXPECT_EQ((std::vector<uint8_t>{1, 0xFF, 3}), read(0x200, 3));
}

TEST_F(Chip24, MoreThanAPageOverwritesItsOwnStart)
{
    std::vector<uint8_t> data(33);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i);
    }
    write(0x100, data);
    EXPECT_EQ(1u, chip.wraps);
    EXPECT_EQ(32, read(0x100, 1)[0]);
    EXPECT_EQ(0xFF, read(0x120, 1)[0]);
}

TEST_F(Chip24, SequentialReadCrossesPagesAndRollsOverAtTheEnd)
{
    chip.mem[CHIP24_SIZE - 1] = 0xAA;
    chip.mem[0] = 0xBB;
    chip.mem[1] = 0xCC;
    EXPECT_EQ((std::vector<uint8_t>{0xAA, 0xBB, 0xCC}), read(CHIP24_SIZE - 1, 3));
    EXPECT_EQ(2, chip.pointer);
}

TEST_F(Chip24, HighAddressBitsBeyondEightKibAreIgnored)
{
    write(0x2005, {0x5A});
    EXPECT_EQ(0x5A, chip.mem[5]);
}

} // namespace
