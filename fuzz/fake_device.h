// A minimal platform for the fuzz targets: an EEPROM in memory with optional
// failed transfers, a lock that is always free, no pauses and no log.
#ifndef FUZZ_FAKE_DEVICE_H
#define FUZZ_FAKE_DEVICE_H

#include <cstddef>
#include <cstdint>

namespace fuzz {

constexpr size_t EEPROM_SIZE = 8192;

struct device {
    uint8_t eeprom[EEPROM_SIZE];
    uint32_t fail_reads;   // bit n set: read call n + 1 fails
    uint32_t fail_writes;  // bit n set: write call n + 1 fails
    uint32_t reads;
    uint32_t writes;
};

extern device g_device;

// Blank EEPROM (all 0xFF), no faults, and the fake calls in the store's platform table.
void install_fake();

// Copies up to ELABEL_DATA_LEN bytes into the label region; the rest stays blank.
void put_label(const uint8_t *bytes, size_t size);

const uint8_t *label();

// True when the image has the magic and every item a valid length and checksum.
bool image_is_valid(const uint8_t *image);

// Stops the run with a message; libFuzzer keeps the input that led here.
[[noreturn]] void fail(const char *what);

} // namespace fuzz

#endif
