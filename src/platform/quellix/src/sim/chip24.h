// A 24C64 serial EEPROM seen from the bus: 8 KiB, 16-bit word addresses of
// which the low 13 bits count, 32-byte pages (or another power of two), one address pointer, and a write
// cycle after each write during which the chip does not acknowledge its address.
#ifndef QUELLIX_CHIP24_H
#define QUELLIX_CHIP24_H

#include <cstdint>

constexpr uint32_t CHIP24_SIZE = 8192;
constexpr uint32_t CHIP24_PAGE = 32;
constexpr uint8_t CHIP24_ADDRESS = 0x50;

// What the chip does with data bytes while its WP pin is held: some parts do
// not acknowledge the first one, others acknowledge and drop them all. Neither
// stores a byte or starts a write cycle.
enum class chip24_protect : uint8_t { none, nack, ignore };

struct chip24 {
    uint8_t mem[CHIP24_SIZE];
    uint32_t page; // a power of two up to CHIP24_SIZE
    uint16_t pointer;
    uint64_t write_cycle_ns;
    uint64_t busy_until_ns;
    bool write_pending; // data bytes received since the last stop
    bool never_ack;     // a chip that stays busy forever
    uint32_t stuck;     // a worn cell that keeps its value when written (CHIP24_SIZE: none)
    chip24_protect protect;
    uint32_t torn_cycle; // the write cycle (counted as page_writes) that power loss tears; 0: none
    uint32_t torn_from;  // its data bytes from this one on are left erased (0xFF)
    // What tests and the statistics look at.
    uint32_t page_writes; // write cycles started
    uint32_t wraps;       // writes that ran past their page end and wrapped onto its start
    uint32_t first_wrap;  // word address of the first such write
};

// A blank chip (all 0xFF) of CHIP24_PAGE pages, idle, pointer at 0.
void chip24_init(chip24 *chip, uint64_t write_cycle_ns);

// Whether the chip acknowledges `addr7` at time `now_ns`.
bool chip24_select(const chip24 *chip, uint8_t addr7, uint64_t now_ns);

// One write message after the address byte: two word-address bytes, then data
// that goes to the page of the pointer, wrapping within that page. Returns the
// bytes acknowledged: `count`, or 2 when the first data byte is refused.
uint32_t chip24_write(chip24 *chip, const uint8_t *bytes, uint32_t count);

// One read message: sequential bytes from the pointer, rolling over at the end.
void chip24_read(chip24 *chip, uint8_t *out, uint32_t count);

// A stop condition: data received since the last stop starts a write cycle.
void chip24_stop(chip24 *chip, uint64_t now_ns);

#endif
