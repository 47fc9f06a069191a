#include "elabel_known.h"
#include "elabel_log.h"
#include "elabel_platform.h"

namespace {

constexpr size_t ERASE_BUFFER_LEN = 4096;
constexpr int WRITE_TRIES = 3;
constexpr useconds_t WRITE_RETRY_PAUSE_US = 1;

// The bus address byte as the platform library takes it: 0xA0 is -96.
constexpr int8_t EEPROM_ADDRESS = static_cast<int8_t>(ELABEL_I2C_ADDR - 0x100);
uint8_t erase_buffer[ERASE_BUFFER_LEN];

// Every write changes the region, or may have: what was known of it is gone.
int32_t write_label(uint8_t *buffer, uint32_t length)
{
    elabel_known_forget();
    return elabel_platform.bus.write(ELABEL_I2C_DEV, EEPROM_ADDRESS, ELABEL_FLASH_OFFSET, buffer,
                                     length);
}

// A transfer stays inside the label region: a longer one would reach the
// EEPROM's other contents (or wrap round to its start).
bool fits_label(const uint8_t *buffer, uint32_t length)
{
    return buffer != nullptr && length <= ELABEL_DATA_LEN;
}

} // namespace

extern "C" int32_t driver_flash_readElectronicLabel(uint8_t *buffer, uint32_t length)
{
    if (!fits_label(buffer, length)) {
        ELABEL_ERR("[driver_flash_readElectronicLabel] argument invalid: no buffer, or length "
                   "%u beyond the label's %d bytes.\n",
                   length, ELABEL_DATA_LEN);
        return 1;
    }
    if (elabel_platform.bus.read(ELABEL_I2C_DEV, EEPROM_ADDRESS, ELABEL_FLASH_OFFSET, buffer,
                                 length) < 0) {
        ELABEL_ERR("[driver_flash_readElectronicLabel] i2c_read_data error.\n");
        return 1;
    }
    elabel_known_note(buffer, length);
    return 0;
}

extern "C" int32_t driver_flash_eraseElectronicLabel(void)
{
    if (elabel_platform.memory.fill(erase_buffer, sizeof(erase_buffer), 0, sizeof(erase_buffer)) != 0) {
        ELABEL_ERR("memset_s error.\n");
        return -1;
    }
    if (write_label(erase_buffer, ELABEL_DATA_LEN) < 0) {
        ELABEL_ERR("[driver_flash_eraseElectronicLabel] i2c_write_data error.\n");
        return -1;
    }
    return 0;
}

extern "C" int32_t driver_flash_writElectronicLabel(uint8_t *buffer, uint32_t length)
{
    if (!fits_label(buffer, length)) {
        ELABEL_ERR("[driver_flash_writElectronicLabel] argument invalid: no buffer, or length "
                   "%u beyond the label's %d bytes.\n",
                   length, ELABEL_DATA_LEN);
        return -1;
    }
    for (int attempt = 0; attempt < WRITE_TRIES; ++attempt) {
        if (write_label(buffer, length) >= 0) {
            return 0;
        }
        elabel_platform.sleep_us(WRITE_RETRY_PAUSE_US);
    }
    ELABEL_ERR("[driver_flash_writElectronicLabel] i2c_write_data error.\n");
    return -1;
}
