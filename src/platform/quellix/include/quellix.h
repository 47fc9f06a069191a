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
 * `device`. A negative result (-errno) is a failure; zero means all bytes moved.
 */
int32_t driver_i2c_get_data(const char *device, int8_t address, uint64_t offset,
                            uint8_t *buffer, uint32_t length);

/* Write `length` bytes to the EEPROM from byte `offset`; same conventions. */
int32_t driver_i2c_set_data(const char *device, int8_t address, uint64_t offset,
                            uint8_t *buffer, uint32_t length);

/* Hexadecimal text (optional 0x/0X prefix, either case) to its value; -1 when invalid. */
int32_t common_16_char2int(const char *text);

#ifdef __cplusplus
}
#endif

#endif
