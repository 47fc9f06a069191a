/* Platform I2C EEPROM transfers and text conversion. */
#ifndef QUELLIX_H
#define QUELLIX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Read `length` bytes from byte `offset` of the EEPROM whose 8-bit bus address
 * byte is `address` (0xA0 is the 7-bit address 0x50) on the I2C bus device
 * `device`. The EEPROM takes 16-bit word addresses (24C32 and larger).
 * A negative result (-errno) is a failure; zero means all bytes moved:
 *   -EINVAL      null device or buffer, or offset + length beyond 64 KiB
 *   -EOPNOTSUPP  the adapter has neither plain I2C nor the SMBus block calls
 *   -ETIMEDOUT   the chip did not acknowledge within about 25 ms
 *   -EIO         the adapter carried only part of a transfer
 *   other        the error of opening the device or of a transfer
 * A length of 0 returns 0 without touching the bus. A failed read leaves
 * `buffer` as it was.
 */
int32_t driver_i2c_get_data(const char *device, int8_t address, uint64_t offset,
                            uint8_t *buffer, uint32_t length);

/*
 * Write `length` bytes to the EEPROM from byte `offset`, page by page, and
 * return once the chip has finished its last write cycle; same conventions.
 */
int32_t driver_i2c_set_data(const char *device, int8_t address, uint64_t offset,
                            uint8_t *buffer, uint32_t length);

/*
 * Hexadecimal text (optional 0x/0X prefix, digits of either case, nothing
 * else) to its value; -1 for null, empty or invalid text and for values above
 * 0x7FFFFFFF.
 */
int32_t common_16_char2int(const char *text);

#ifdef __cplusplus
}
#endif

#endif
