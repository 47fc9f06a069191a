#include "chip24.h"

#include <cstring>

void chip24_init(chip24 *chip, uint64_t write_cycle_ns)
{
    *chip = chip24{};
    std::memset(chip->mem, 0xFF, sizeof chip->mem);
    chip->stuck = CHIP24_SIZE;
    chip->page = CHIP24_PAGE;
    chip->write_cycle_ns = write_cycle_ns;
}

bool chip24_select(const chip24 *chip, uint8_t addr7, uint64_t now_ns)
{
    return addr7 == CHIP24_ADDRESS && !chip->never_ack && now_ns >= chip->busy_until_ns;
}

uint32_t chip24_write(chip24 *chip, const uint8_t *bytes, uint32_t count)
{
    if (count < 2) {
        return count; // an incomplete word address changes nothing
    }
    const uint32_t start = ((uint32_t{bytes[0]} << 8) | bytes[1]) % CHIP24_SIZE;
    const uint32_t data = count - 2;
    if (data > 0 && chip->protect == chip24_protect::nack) {
        chip->pointer = static_cast<uint16_t>(start);
        return 2;
    }
    const bool store = chip->protect == chip24_protect::none;
    const bool torn = chip->torn_cycle == chip->page_writes + 1;
    const uint32_t page = start - start % chip->page;
    uint32_t column = start % chip->page;
    if (column + data > chip->page) {
        if (chip->wraps == 0) {
            chip->first_wrap = start;
        }
        ++chip->wraps;
    }
    for (uint32_t i = 0; i < data; ++i) {
        if (store && page + column != chip->stuck) {
            chip->mem[page + column] = torn && i >= chip->torn_from ? 0xFF : bytes[2 + i];
        }
        column = (column + 1) % chip->page;
    }
    chip->pointer = static_cast<uint16_t>(data ? page + column : start);
    chip->write_pending = chip->write_pending || (store && data > 0);
    return count;
}

void chip24_read(chip24 *chip, uint8_t *out, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        out[i] = chip->mem[chip->pointer];
        chip->pointer = static_cast<uint16_t>((chip->pointer + 1) % CHIP24_SIZE);
    }
}

void chip24_stop(chip24 *chip, uint64_t now_ns)
{
    if (!chip->write_pending) {
        return;
    }
    chip->write_pending = false;
    chip->busy_until_ns = now_ns + chip->write_cycle_ns;
    ++chip->page_writes;
}
