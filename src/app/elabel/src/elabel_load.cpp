#include "elabel_record.h"
#include "elabel_log.h"
#include "elabel_platform.h"

uint8_t *elabel_data = nullptr;

namespace {

constexpr int READ_TRIES = 3;
constexpr useconds_t READ_RETRY_PAUSE_US = 1;

// Length within the field and a matching checksum: the rule every reader of
// label images applies (elabel_image.h).
bool item_is_valid(const uint8_t *image, const elabel_item_desc &item)
{
    return elabel_item_valid(image, item);
}

enum class first_read { magic, wrong_magic, failed };

// Reads the image up to three times, until one read shows the magic.
first_read read_until_magic(uint8_t *image)
{
    first_read outcome = first_read::failed;
    for (int attempt = 0; attempt < READ_TRIES; ++attempt) {
        if (driver_flash_readElectronicLabel(image, ELABEL_DATA_LEN) != 0) {
            outcome = first_read::failed;
            elabel_platform.sleep_us(READ_RETRY_PAUSE_US);
            continue;
        }
        if (elabel_get_le32(image) == ELABEL_MAGIC) {
            return first_read::magic;
        }
        outcome = first_read::wrong_magic;
    }
    return outcome;
}

} // namespace

extern "C" int32_t driver_elabel_verify(uint8_t *image)
{
    if (image == nullptr) {
        return 0;
    }
    for (int32_t row = 0; row < ELABEL_ITEM_NUM; ++row) {
        if (!item_is_valid(image, elabel_item_table[row])) {
            driver_elabel_item_set_default(row);
            ELABEL_ERR("item(%d) crc error,set default", row);
        }
    }
    return 0;
}

extern "C" int32_t driver_elabel_flash_read_verify(uint8_t *image)
{
    for (int attempt = 0; attempt < READ_TRIES; ++attempt) {
        if (driver_flash_readElectronicLabel(image, ELABEL_DATA_LEN) == 0) {
            return driver_elabel_verify(image);
        }
    }
    return 1;
}

extern "C" void driver_elabel_release(void)
{
    if (elabel_data != nullptr) {
        elabel_platform.memory.dealloc(elabel_data);
    }
    elabel_data = nullptr;
}

extern "C" int32_t driver_elabel_init(void)
{
    int32_t fd = -1;
    if (elabel_set_lock(&fd, ELABEL_LOCK_TRIES) != 0) {
        ELABEL_ERR("driver_elabel bus busy.\n");
        return -8;
    }
    driver_elabel_release();
    const bool unfinished = elabel_recovery_kept(elabel_record_recover());  // no label then
    auto *image = static_cast<uint8_t *>(elabel_platform.memory.alloc(ELABEL_DATA_LEN));
    if (image == nullptr) {
        driver_elabel_release();
        elabel_set_unlock(fd);
        ELABEL_ERR("driver_elabel_init: fail to malloc\r\n");
        return -4;
    }
    (void)elabel_platform.memory.fill(image, ELABEL_DATA_LEN, 0, ELABEL_DATA_LEN);
    elabel_data = image;

    const first_read outcome = unfinished ? first_read::failed : read_until_magic(image);
    if (outcome == first_read::magic) {
        const int32_t ret = driver_elabel_flash_read_verify(image);
        elabel_set_unlock(fd);
        if (ret != 0) {
            ELABEL_ERR("driver_elabel_flash_read_verify failed. ret is %d\n", ret);
            return -1;
        }
        return 0;
    }

    const uint32_t found = elabel_get_le32(image);
    if (outcome == first_read::failed) {
        // The buffer holds no copy of the device: drop it so that nothing can
        // ever write it over the label.
        driver_elabel_release();
    } else {
        // The device holds no label: store one with the magic, items as read.
        elabel_put_le32(image, ELABEL_MAGIC);
        (void)driver_elabel_update();
    }
    elabel_set_unlock(fd);
    ELABEL_ERR("magic_num is %x  not right.\n", found);
    return -1;
}
