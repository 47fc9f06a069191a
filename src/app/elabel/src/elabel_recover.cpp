#include <cerrno>
#include <cstring>

#include "elabel_log.h"
#include "elabel_record.h"
#include "elabel_signals.h"
#include "elabel_writeback.h"

namespace {

enum class settled {
    kept_unchecked, removed, unchanged, restored, kept_unrestored, foreign, unwritable
};

// Finishes the record's write-back from the cut state the device holds: a
// write-back of the same image over that state (its record says so, should the
// restore be cut in turn), read back. A device that took the passes without an
// error and still does not hold the image will not do better next time: the
// record is set aside then.
settled restore(elabel_record *record, const uint8_t *device)
{
    elabel_writeback wb{};
    wb.restoring = true;
    std::memcpy(wb.replaced, device, ELABEL_DATA_LEN);
    if (elabel_writeback_begin(&wb, record->image) != 0) {
        return settled::kept_unrestored;  // cannot happen: the load holds the lock
    }
    elabel_writeback_passes(&wb);
    if (elabel_writeback_end(&wb) == 0) {
        (void)elabel_record_remove();
        return settled::restored;
    }
    return wb.failed == elabel_pass::none && wb.read_back ? settled::unwritable
                                                           : settled::kept_unrestored;
}

// Judges the device against an intact record, then restores, keeps, removes
// or sets it aside.
settled settle(elabel_record *record)
{
    uint8_t device[ELABEL_DATA_LEN];
    if (!elabel_read_region(device)) {
        return settled::kept_unchecked;
    }
    switch (elabel_judge(device, record->image, record->replaced)) {
    case elabel_region::written:
        (void)elabel_record_remove();
        return settled::removed;
    case elabel_region::replaced:
        if (!record->restore) {
            (void)elabel_record_remove();
            return settled::unchanged;
        }
        return restore(record, device);  // a restore that never began: its job is still there
    case elabel_region::cut:
        return restore(record, device);
    case elabel_region::other:
        break;
    }
    return settled::foreign;
}

// Moves the record out of the way of later loads, for service; 0 when it is gone.
int32_t set_aside(const elabel_record *record, const char *why)
{
    char aside[ELABEL_RECORD_PATH_MAX];
    if (elabel_record_set_aside(record, aside) != 0) {
        ELABEL_ERR("pending-write record %s %s; not set aside: %s\n", elabel_record_path(), why,
                   std::strerror(errno));
        return elabel_record_remove();
    }
    ELABEL_ERR("pending-write record %s %s; set aside as %s, label kept\n", elabel_record_path(),
               why, aside);
    return 0;
}

} // namespace

elabel_recovery elabel_record_recover()
{
    static elabel_record record;
    const char *why = nullptr;
    switch (elabel_record_read(&record, &why)) {
    case elabel_record_state::none:
        return elabel_recovery::none;
    case elabel_record_state::unreadable:
        ELABEL_ERR("pending-write record %s not read: %s; record kept\n", elabel_record_path(),
                   why);
        return elabel_recovery::kept_unreadable;
    case elabel_record_state::damaged:
        (void)elabel_record_remove();
        ELABEL_ERR("pending-write record %s discarded: %s\n", elabel_record_path(), why);
        return elabel_recovery::discarded;
    case elabel_record_state::earlier:
        (void)set_aside(&record, why);
        return elabel_recovery::set_aside;
    case elabel_record_state::intact:
        break;
    }
    // A restore is a write-back: nothing may end it before the record is settled.
    elabel_held_signals signals;
    elabel_hold_signals(&signals);
    const settled outcome = settle(&record);
    const char *path = elabel_record_path();
    elabel_recovery ret = elabel_recovery::finished;
    switch (outcome) {
    case settled::kept_unchecked:
        ELABEL_ERR("label not checked against the unfinished write-back; record %s kept\n", path);
        ret = elabel_recovery::kept_device;
        break;
    case settled::unchanged:
        ELABEL_ERR("pending-write record %s: the write-back never changed the label; record "
                   "removed\n",
                   path);
        ret = elabel_recovery::unchanged;
        break;
    case settled::kept_unrestored:
        ELABEL_ERR("label not restored from the unfinished write-back; record %s kept\n", path);
        ret = elabel_recovery::kept_device;
        break;
    case settled::restored:
        ELABEL_ERR("label restored from an unfinished write-back (record %s)\n", path);
        break;
    case settled::foreign:
        (void)set_aside(&record, "does not match what the device holds");
        ret = elabel_recovery::set_aside;
        break;
    case settled::unwritable:
        (void)set_aside(&record, "not restored: the device read back other than written");
        ret = elabel_recovery::set_aside;
        break;
    case settled::removed:
        break;
    }
    elabel_release_signals(&signals);
    return ret;
}

bool elabel_recovery_kept(elabel_recovery found)
{
    return found == elabel_recovery::kept_device || found == elabel_recovery::kept_unreadable;
}

bool elabel_record_pending()
{
    elabel_record record;
    const char *why = nullptr;
    return elabel_record_read(&record, &why) != elabel_record_state::none;
}
