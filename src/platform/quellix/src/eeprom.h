// Transfers to a serial EEPROM with 16-bit word addresses (24C32 and larger).
//
// Hazards this layer exists to avoid: a write that crosses a page (32 bytes on a
// 24C64) wraps onto the start of that page and overwrites it; a chip in its write cycle does
// not acknowledge its address, so the next transfer must be retried, but only
// for that reason and only until a deadline; adapters may refuse long messages
// or speak only SMBus.
#ifndef QUELLIX_EEPROM_H
#define QUELLIX_EEPROM_H

#include "bus.h"

#include <cstdint>

// The part's page size, a build setting (ELABEL_EEPROM_PAGE) shared with the
// store's judge of a cut write-back.
#ifndef ELABEL_EEPROM_PAGE
#define ELABEL_EEPROM_PAGE 32
#endif
constexpr uint32_t QX_PAGE_SIZE = ELABEL_EEPROM_PAGE;
constexpr uint32_t QX_MAX_PAGE = 256;
constexpr bool qx_page_ok(uint32_t page)
{
    return page != 0 && page <= QX_MAX_PAGE && (page & (page - 1)) == 0;
}
static_assert(qx_page_ok(QX_PAGE_SIZE), "the page size is a power of two up to 256");
constexpr uint32_t QX_ADDRESS_SPACE = 65536;
// Longest write cycle we wait for; 24Cxx data sheets give 5 to 10 ms.
constexpr uint64_t QX_WRITE_TIMEOUT_NS = 25000000;
// Pause between two attempts while the chip is busy: short, since a refused
// attempt already takes a byte time on the bus and the kernel adds timer slack.
constexpr uint64_t QX_POLL_PAUSE_NS = 10000;
// First read message length, and the floor it is halved to when refused.
constexpr uint32_t QX_MAX_CHUNK = 4096;
constexpr uint32_t QX_MIN_CHUNK = 32;
// Fewest data bytes a write message is cut down to for an adapter that limits length.
constexpr uint32_t QX_MIN_WRITE_PIECE = 8;

// Both return 0 when all `length` bytes moved, otherwise -errno:
//   -EINVAL      range beyond the 16-bit word address space, or null buffer
//   -EOPNOTSUPP  the adapter has neither plain I2C nor the SMBus I2C-block calls
//   -ETIMEDOUT   the chip did not acknowledge within QX_WRITE_TIMEOUT_NS
//   -EIO         the adapter carried only part of a transfer, or a data byte was
//                not acknowledged (a write-protected chip)
//   any other    error of the transport, returned at once
// Only "not acknowledged" (ENXIO, or EREMOTEIO that several adapter drivers use
// for it) counts as busy. EAGAIN means lost arbitration; the I2C core has
// already retried it, so it fails like any other error.
// A read leaves `buffer` untouched on failure. `page` is the part's page size
// (a power of two up to QX_MAX_PAGE, else -EINVAL); no write message crosses one.
int qx_eeprom_read(const qx_bus *bus, uint8_t addr7, uint32_t offset, uint8_t *buffer,
                   uint32_t length);
int qx_eeprom_write(const qx_bus *bus, uint8_t addr7, uint32_t offset, const uint8_t *buffer,
                    uint32_t length, uint32_t page = QX_PAGE_SIZE);

// The write the library calls make: reads what the part holds first and writes
// only the pieces that differ, in ascending order, so a cut leaves what a cut of
// the whole write could leave. A failed read fails the write with its error.
int qx_eeprom_update(const qx_bus *bus, uint8_t addr7, uint32_t offset, const uint8_t *buffer,
                     uint32_t length, uint32_t page = QX_PAGE_SIZE);

#endif
