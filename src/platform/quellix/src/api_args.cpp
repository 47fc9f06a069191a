#include "api_args.h"

#include "eeprom.h"

#include <cerrno>

int qx_check_args(const char *device, const uint8_t *buffer, uint64_t offset, uint32_t length)
{
    if (device == nullptr || buffer == nullptr) {
        return -EINVAL;
    }
    if (length > QX_ADDRESS_SPACE || offset > QX_ADDRESS_SPACE - length) {
        return -EINVAL;
    }
    return 0;
}

uint8_t qx_address7(int8_t address)
{
    return static_cast<uint8_t>(static_cast<uint8_t>(address) >> 1);
}
