// Argument checks and conversions shared by the board and the simulated builds.
#ifndef QUELLIX_API_ARGS_H
#define QUELLIX_API_ARGS_H

#include <cstdint>

// 0 when the call may go to the bus, -EINVAL otherwise: null device or buffer,
// or a range beyond the 16-bit word address space. A zero length is valid.
int qx_check_args(const char *device, const uint8_t *buffer, uint64_t offset, uint32_t length);

// The 7-bit bus address from the 8-bit address byte (0xA0 gives 0x50).
uint8_t qx_address7(int8_t address);

#endif
