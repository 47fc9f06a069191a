#include <cstring>

#include "elabel_log.h"
#include "elabel_record.h"
#include "elabel_writeback.h"

namespace {

// A write pass cut short leaves the record's bytes up to some point and the
// erase's zeros after it; that can look like a valid label.
bool is_cut_short_copy(const uint8_t *device, const uint8_t *record)
{
    size_t same = 0;
    while (same < ELABEL_DATA_LEN && device[same] == record[same]) {
        ++same;
    }
    for (size_t i = same; i < ELABEL_DATA_LEN; ++i) {
        if (device[i] != 0) {
            return false;
        }
    }
    return true;
}

} // namespace

int32_t elabel_record_recover()
{
    uint8_t record[ELABEL_DATA_LEN];
    const char *why = nullptr;
    const elabel_record_state state = elabel_record_read(record, &why);
    if (state == elabel_record_state::none) {
        return 0;
    }
    if (state == elabel_record_state::damaged) {
        (void)elabel_record_remove();
        ELABEL_ERR("pending-write record %s discarded: %s\n", elabel_record_path(), why);
        return 0;
    }
    uint8_t device[ELABEL_DATA_LEN];
    if (driver_flash_readElectronicLabel(device, ELABEL_DATA_LEN) != 0) {
        ELABEL_ERR("label not checked against the unfinished write-back; record %s kept\n",
                   elabel_record_path());
        return -1;
    }
    if (std::memcmp(device, record, ELABEL_DATA_LEN) == 0) {
        (void)elabel_record_remove();
        return 0;
    }
    if (elabel_image_is_valid(device) && !is_cut_short_copy(device, record)) {
        (void)elabel_record_remove();
        ELABEL_ERR("pending-write record %s is stale: the label was changed since; record "
                   "removed, label kept\n",
                   elabel_record_path());
        return 0;
    }
    if (elabel_writeback_rewrite(record) != 0) {
        ELABEL_ERR("label not restored from the unfinished write-back; record %s kept\n",
                   elabel_record_path());
        return -1;
    }
    (void)elabel_record_remove();
    ELABEL_ERR("label restored from an unfinished write-back (record %s)\n",
               elabel_record_path());
    return 0;
}
