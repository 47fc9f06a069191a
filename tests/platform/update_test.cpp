// Writes of only what changed, on the chip model, over i2c-dev at several page
// sizes and through a simulated kernel driver's nvmem file. The label after
// every write cycle is checked against what a cut of the whole write can leave.
#include "chip24.h"
#include "eeprom.h"
#include "nvmem.h"
#include "sim_at24.h"
#include "sim_bus.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t AT = 512;
constexpr uint32_t LEN = 2360;
using label = std::vector<uint8_t>;

struct watched {
    chip24 chip;
    sim_bus bus;
    qx_bus ops;
    std::vector<label> after_cycle;
};

void record_cycle(void *ctx)
{
    auto *w = static_cast<watched *>(ctx);
    w->after_cycle.emplace_back(w->chip.mem + AT, w->chip.mem + AT + LEN);
}

void start(watched *w, uint32_t chip_page, const label &held)
{
    chip24_init(&w->chip, 5000000);
    w->chip.page = chip_page;
    std::memcpy(w->chip.mem + AT, held.data(), LEN);
    const sim_adapter full = sim_adapter_full();
    sim_bus_init(&w->bus, &w->chip, &full, 400000);
    w->bus.on_write_cycle = record_cycle;
    w->bus.hook_ctx = w;
    w->ops = sim_bus_ops(&w->bus);
}

// What a cut of the whole write of `to` over `from` in ascending order leaves.
bool is_prefix_state(const label &got, const label &from, const label &to)
{
    size_t k = 0;
    while (k < LEN && got[k] == to[k]) {
        ++k;
    }
    return std::memcmp(got.data() + k, from.data() + k, LEN - k) == 0;
}

struct way {
    const char *name;
    uint32_t page;        // the transport's page size, or the driver's
    bool nvmem;
    uint32_t io_max;      // the nvmem file's longest transfer
    uint32_t max_cycles;  // the three changed runs of six bytes cost at most this many
};

int update(watched *w, const way &via, const label &to)
{
    if (!via.nvmem) {
        return qx_eeprom_update(&w->ops, 0x50, AT, to.data(), LEN, via.page);
    }
    sim_at24 driver{&w->ops, via.page, via.io_max};
    const qx_file file = sim_at24_file(&driver);
    return qx_nvmem_update(&file, AT, to.data(), LEN);
}

TEST(Update, WritesOnlyWhatChangedAndACutLeavesAStateOfTheWholeWrite)
{
    label from(LEN);
    for (uint32_t i = 0; i < LEN; ++i) {
        from[i] = static_cast<uint8_t>(i % 5 == 0 ? i * 13 : 0);
    }
    label to = from;
    for (const uint32_t at : {4u, 1000u, 2300u}) {
        for (uint32_t i = at; i < at + 6; ++i) {
            to[i] = static_cast<uint8_t>(to[i] ^ 0x5A);
        }
    }
    const way ways[] = {
        {"i2c-dev, 8-byte pages", 8, false, 0, 6},  {"i2c-dev, 16-byte pages", 16, false, 0, 6},
        {"i2c-dev, 32-byte pages", 32, false, 0, 6}, {"i2c-dev, 64-byte pages", 64, false, 0, 6},
        {"nvmem, a byte per cycle", 1, true, 0, 18}, {"nvmem, 32-byte pages", 32, true, 0, 6},
        {"nvmem, 7 bytes a call", 32, true, 7, 9},
    };
    for (const way &via : ways) {
        SCOPED_TRACE(via.name);
        watched w;
        start(&w, via.nvmem ? 32 : via.page, from);
        ASSERT_EQ(0, update(&w, via, to));
        EXPECT_EQ(0, std::memcmp(w.chip.mem + AT, to.data(), LEN));
        EXPECT_GE(w.chip.page_writes, via.page == 1 ? 18u : 3u);
        EXPECT_LE(w.chip.page_writes, via.max_cycles);
        EXPECT_EQ(0u, w.chip.wraps);
        for (const label &state : w.after_cycle) {
            EXPECT_TRUE(is_prefix_state(state, from, to));
        }
        // The same label again: read, compared, nothing written.
        w.after_cycle.clear();
        ASSERT_EQ(0, update(&w, via, to));
        EXPECT_TRUE(w.after_cycle.empty());
    }
    watched w;
    start(&w, 32, from);
    for (const uint32_t page : {0u, 24u, 512u}) {
        EXPECT_EQ(-EINVAL, update(&w, way{"", page, false, 0, 0}, to));
    }
    // A page setting larger than the part's pages wraps: why it is set per part.
    start(&w, 16, label(LEN, 0xFF));
    ASSERT_EQ(0, update(&w, way{"", 32, false, 0, 0}, to));
    EXPECT_GT(w.chip.wraps, 0u);
}

} // namespace
