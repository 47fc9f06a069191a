#include "elabel_load.h"
#include "elabel_record.h"
#include "elabel_report.h"
#include "elabel_writeback.h"
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

namespace {

// What a load under the lock came to; driver_elabel_init logs it and gives
// its result code.
enum class load_result {
    verified, verify_failed, magic_written, magic_unwritten, unread, pending, no_memory
};

// The last load found a region without the magic, and the word it held.
bool found_no_label = false;
uint32_t found_word = 0;

// Allocates and zeroes the new image and makes it the store's.
bool new_image()
{
    auto *image = static_cast<uint8_t *>(elabel_platform.memory.alloc(ELABEL_DATA_LEN));
    if (image == nullptr) {
        return false;
    }
    (void)elabel_platform.memory.fill(image, ELABEL_DATA_LEN, 0, ELABEL_DATA_LEN);
    elabel_data = image;
    return true;
}

// The device holds no label: one with the magic is written, with the items
// as read that check and the others empty, after the region found was kept
// (unless it was blank). False when it was not read back so: the image then
// is no copy of the device and goes.
bool write_magic(uint8_t *image)
{
    elabel_put_le32(image, ELABEL_MAGIC);
    (void)driver_elabel_verify(image);
    static elabel_result res;
    return elabel_write_label(image, elabel_write_kind::magic, &res) == 0;
}

load_result load_locked(int32_t *verify_ret, uint32_t *found)
{
    driver_elabel_release();
    elabel_report_clear();  // a load starts what the report tells anew
    found_no_label = false;
    static elabel_result settled;
    settled = elabel_result{};
    elabel_settle(&settled);
    if (settled.outcome != ELABEL_WRITEBACK_NONE) {
        elabel_report_result(settled);
    }
    // A write-back that stays unfinished leaves no label to read.
    const bool pending = !elabel_result_readable(settled);
    static char torn[ELABEL_RECORD_PATH_MAX];
    if (!new_image()) {
        return load_result::no_memory;
    }
    if (pending) {
        driver_elabel_release();
        return load_result::pending;
    }
    switch (read_until_magic(elabel_data)) {
    case first_read::magic:
        *verify_ret = driver_elabel_flash_read_verify(elabel_data);
        return *verify_ret == 0 ? load_result::verified : load_result::verify_failed;
    case first_read::wrong_magic:
        *found = elabel_get_le32(elabel_data);
        found_no_label = true;
        found_word = *found;
        // Beside a damaged record set aside, the region may be a cut: a person
        // looks at it before anything is written there.
        if (!elabel_record_damaged_aside(torn) && write_magic(elabel_data)) {
            return load_result::magic_written;
        }
        driver_elabel_release();
        return load_result::magic_unwritten;
    case first_read::failed:
        break;
    }
    // The buffer holds no copy of the device: dropped, so that nothing can
    // ever write it over the label.
    *found = elabel_get_le32(elabel_data);
    driver_elabel_release();
    return load_result::unread;
}

} // namespace

bool elabel_load_found_no_label(uint32_t *word)
{
    *word = found_word;
    return found_no_label;
}

extern "C" int32_t driver_elabel_init(void)
{
    int32_t fd = -1;
    if (elabel_set_lock(&fd, ELABEL_LOCK_TRIES) != 0) {
        ELABEL_ERR("driver_elabel bus busy.\n");
        return -8;
    }
    int32_t verify_ret = 0;
    uint32_t found = 0;
    const load_result loaded = load_locked(&verify_ret, &found);
    elabel_set_unlock(fd);
    switch (loaded) {
    case load_result::verified:
        return 0;
    case load_result::no_memory:
        ELABEL_ERR("driver_elabel_init: fail to malloc\r\n");
        return -4;
    case load_result::verify_failed:
        ELABEL_ERR("driver_elabel_flash_read_verify failed. ret is %d\n", verify_ret);
        return -1;
    case load_result::pending:
        ELABEL_ERR("label not read: an unfinished write-back is pending (record %s)\n",
                   elabel_record_path());
        return -1;
    case load_result::magic_written:
    case load_result::magic_unwritten:
    case load_result::unread:
        break;
    }
    ELABEL_ERR("magic_num is %x  not right.\n", found);
    return -1;
}
