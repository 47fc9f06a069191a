#include <algorithm>
#include <cstring>

#include "elabel_log.h"
#include "elabel_record.h"
#include "elabel_signals.h"
#include "elabel_writeback.h"

namespace {

constexpr int READ_TRIES = 3;

// EEPROM pages are at most this long, and the label starts on such a boundary.
constexpr size_t LARGEST_PAGE = 256;
static_assert(ELABEL_FLASH_OFFSET % LARGEST_PAGE == 0, "the label starts on a page");

// A write pass cut short leaves the record's bytes up to some page, that page
// as the cut left it (a write cycle cut short leaves any bytes), and the
// erase's zeros after it. That can look like a valid label.
bool is_cut_short_copy(const uint8_t *device, const uint8_t *record)
{
    size_t same = 0;
    while (same < ELABEL_DATA_LEN && device[same] == record[same]) {
        ++same;
    }
    const size_t page_end = std::min<size_t>((same / LARGEST_PAGE + 1) * LARGEST_PAGE,
                                             ELABEL_DATA_LEN);
    for (size_t i = page_end; i < ELABEL_DATA_LEN; ++i) {
        if (device[i] != 0) {
            return false;
        }
    }
    return true;
}

bool read_device(uint8_t *device)
{
    for (int attempt = 0; attempt < READ_TRIES; ++attempt) {
        if (driver_flash_readElectronicLabel(device, ELABEL_DATA_LEN) == 0) {
            return true;
        }
    }
    return false;
}

enum class settled { kept_unchecked, removed, stale, restored, kept_unrestored };

// Compares the device with an intact record, then restores, keeps or drops it.
settled settle(uint8_t *record)
{
    uint8_t device[ELABEL_DATA_LEN];
    if (!read_device(device)) {
        return settled::kept_unchecked;
    }
    if (std::memcmp(device, record, ELABEL_DATA_LEN) == 0) {
        (void)elabel_record_remove();
        return settled::removed;
    }
    if (elabel_image_is_valid(device) && !is_cut_short_copy(device, record)) {
        (void)elabel_record_remove();
        return settled::stale;
    }
    if (elabel_writeback_rewrite(record) != 0) {
        return settled::kept_unrestored;
    }
    (void)elabel_record_remove();
    return settled::restored;
}

} // namespace

int32_t elabel_record_recover()
{
    uint8_t record[ELABEL_DATA_LEN];
    const char *why = nullptr;
    switch (elabel_record_read(record, &why)) {
    case elabel_record_state::none:
        return 0;
    case elabel_record_state::unreadable:
        ELABEL_ERR("pending-write record %s not read: %s; record kept\n", elabel_record_path(),
                   why);
        return -1;
    case elabel_record_state::damaged:
        (void)elabel_record_remove();
        ELABEL_ERR("pending-write record %s discarded: %s\n", elabel_record_path(), why);
        return 0;
    case elabel_record_state::intact:
        break;
    }
    // A restore is a write-back: nothing may end it before the record is gone.
    elabel_held_signals signals;
    elabel_hold_signals(&signals);
    const settled outcome = settle(record);
    const char *path = elabel_record_path();
    switch (outcome) {
    case settled::kept_unchecked:
        ELABEL_ERR("label not checked against the unfinished write-back; record %s kept\n", path);
        break;
    case settled::stale:
        ELABEL_ERR("pending-write record %s is stale: the label was changed since; record "
                   "removed, label kept\n",
                   path);
        break;
    case settled::kept_unrestored:
        ELABEL_ERR("label not restored from the unfinished write-back; record %s kept\n", path);
        break;
    case settled::restored:
        ELABEL_ERR("label restored from an unfinished write-back (record %s)\n", path);
        break;
    case settled::removed:
        break;
    }
    elabel_release_signals(&signals);
    return outcome == settled::kept_unchecked || outcome == settled::kept_unrestored ? -1 : 0;
}
