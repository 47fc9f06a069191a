// Writes of only what changed, on the chip model: over the i2c-dev protocol and
// over the nvmem file of a simulated kernel driver, for several page sizes.
// Every write cycle is watched, so the states a cut can leave are checked too.
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

struct watched {
    chip24 chip;
    sim_bus bus;
    qx_bus ops;
    std::vector<std::vector<uint8_t>> after_cycle; // the label after each write cycle
};

void record_cycle(void *ctx)
{
    auto *w = static_cast<watched *>(ctx);
    w->after_cycle.emplace_back(w->chip.mem + AT, w->chip.mem + AT + LEN);
}

void start(watched *w, uint32_t chip_page, const std::vector<uint8_t> &held)
{
    w->after_cycle.clear();
    chip24_init(&w->chip, 5000000);
    w->chip.page = chip_page;
    std::memcpy(w->chip.mem + AT, held.data(), LEN);
    const sim_adapter full = sim_adapter_full();
    sim_bus_init(&w->bus, &w->chip, &full, 400000);
    w->bus.on_write_cycle = record_cycle;
    w->bus.hook_ctx = w;
    w->ops = sim_bus_ops(&w->bus);
}

// A whole write of `to` over `from` cut after its k-th byte, for some k: what
// a cut of the full write in ascending order can leave (a torn byte aside).
bool is_prefix_state(const std::vector<uint8_t> &got, const std::vector<uint8_t> &from,
                     const std::vector<uint8_t> &to)
{
    size_t k = 0;
    while (k < LEN && got[k] == to[k]) {
        ++k;
    }
    return std::memcmp(got.data() + k, from.data() + k, LEN - k) == 0;
}

struct label_pair {
    std::vector<uint8_t> from;
    std::vector<uint8_t> to;
    uint32_t changed_bytes;
};

// A label, and the same label with three items of it changed far apart.
label_pair scattered_change()
{
    label_pair p{std::vector<uint8_t>(LEN), {}, 0};
    for (uint32_t i = 0; i < LEN; ++i) {
        p.from[i] = static_cast<uint8_t>(i % 5 == 0 ? i * 13 : 0);
    }
    p.to = p.from;
    for (const uint32_t at : {4u, 1000u, 2300u}) {
        for (uint32_t i = at; i < at + 6; ++i) {
            p.to[i] = static_cast<uint8_t>(p.to[i] ^ 0x5A);
            ++p.changed_bytes;
        }
    }
    return p;
}

int update(watched *w, const std::vector<uint8_t> &to, uint32_t page)
{
    return qx_eeprom_update(&w->ops, 0x50, AT, to.data(), LEN, page);
}

TEST(Update, WritesOnlyTheChangedPagesAndACutLeavesAPrefixState)
{
    const label_pair p = scattered_change();
    for (const uint32_t page : {8u, 16u, 32u, 64u}) {
        SCOPED_TRACE(page);
        watched w;
        start(&w, page, p.from);
        ASSERT_EQ(0, update(&w, p.to, page));
        // Each changed run of six bytes lies in one page or straddles two.
        EXPECT_GE(w.chip.page_writes, 3u);
        EXPECT_LE(w.chip.page_writes, 6u);
        EXPECT_EQ(0u, w.chip.wraps);
        EXPECT_EQ(0, std::memcmp(w.chip.mem + AT, p.to.data(), LEN));
        for (const auto &state : w.after_cycle) {
            EXPECT_TRUE(is_prefix_state(state, p.from, p.to));
        }
        // The same label again: read, compared, nothing written, no wait.
        w.after_cycle.clear();
        ASSERT_EQ(0, update(&w, p.to, page));
        EXPECT_TRUE(w.after_cycle.empty());
    }
    watched w;
    start(&w, 32, p.from);
    for (const uint32_t page : {0u, 24u, 512u}) {
        EXPECT_EQ(-EINVAL, update(&w, p.to, page));
    }
}

// A page setting larger than the part's pages wraps its writes: why it is set per part.
TEST(Update, PageSizeTooLargeForThePartWraps)
{
    const label_pair p = scattered_change();
    watched w;
    start(&w, 16, std::vector<uint8_t>(LEN, 0xFF));
    ASSERT_EQ(0, update(&w, p.to, 32));
    EXPECT_GT(w.chip.wraps, 0u);
    EXPECT_NE(0, std::memcmp(w.chip.mem + AT, p.to.data(), LEN));
}

// --- the nvmem file of a simulated driver

struct file_case {
    const char *name;
    uint32_t driver_page;
    uint32_t io_max;
};

TEST(NvmemUpdate, WritesOnlyTheChangedRunsThroughTheDriver)
{
    const label_pair p = scattered_change();
    const file_case cases[] = {
        {"a driver without a page size: one byte per write cycle", 1, 0},
        {"32-byte pages", 32, 0},
        {"a file that moves 7 bytes a call", 32, 7},
    };
    for (const file_case &c : cases) {
        SCOPED_TRACE(c.name);
        watched w;
        start(&w, 32, p.from);
        sim_at24 driver{&w.ops, c.driver_page, c.io_max};
        const qx_file file = sim_at24_file(&driver);
        ASSERT_EQ(0, qx_nvmem_update(&file, AT, p.to.data(), LEN));
        EXPECT_EQ(0, std::memcmp(w.chip.mem + AT, p.to.data(), LEN));
        if (c.driver_page == 1) {
            EXPECT_EQ(p.changed_bytes, w.chip.page_writes);
        } else {
            EXPECT_LE(w.chip.page_writes, 6u + (c.io_max ? 3u : 0u));
        }
        for (const auto &state : w.after_cycle) {
            EXPECT_TRUE(is_prefix_state(state, p.from, p.to));
        }
        std::vector<uint8_t> out(LEN);
        ASSERT_EQ(0, qx_nvmem_read(&file, AT, out.data(), LEN));
        EXPECT_EQ(p.to, out);
    }
}

} // namespace
