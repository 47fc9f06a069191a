#include <cstring>

#include "elabel_fate.h"
#include "elabel_log.h"
#include "elabel_record.h"
#include "elabel_signals.h"
#include "elabel_writeback.h"

namespace {

// Finishes the record's write-back from the cut state the device holds: a
// write-back of the same image over that state, whose own record says so
// should the restore be cut in turn. The write-back's end settles the record.
elabel_outcome restore(const elabel_record *record, const uint8_t *device, elabel_fate *fate)
{
    elabel_writeback wb{};
    wb.restoring = true;
    std::memcpy(wb.replaced, device, ELABEL_DATA_LEN);
    if (elabel_writeback_run(&wb, record->image) == -8) {
        // Cannot happen: a recovery runs under the lock. Nothing was written.
        *fate = elabel_fate::kept;
        return elabel_outcome::device_unread;
    }
    *fate = wb.fate;
    return wb.outcome;
}

// Judges the device against an intact record; restores it, or lets the
// record's owner decide.
elabel_outcome settle(const elabel_record *record, elabel_fate *fate)
{
    uint8_t device[ELABEL_DATA_LEN];
    elabel_outcome found = elabel_outcome::device_unread;
    if (elabel_read_region(device)) {
        switch (elabel_judge(device, record->image, record->replaced)) {
        case elabel_region::written:
            found = elabel_outcome::found_written;
            break;
        case elabel_region::replaced:
            // A restore that never began still has its job to do.
            if (record->restore) {
                return restore(record, device, fate);
            }
            found = elabel_outcome::found_unchanged;
            break;
        case elabel_region::cut:
            return restore(record, device, fate);
        case elabel_region::other:
            found = elabel_outcome::found_foreign;
            break;
        }
    }
    *fate = elabel_record_decide(found, record, nullptr);
    return found;
}

// What the recovery says of the outcome and the record's fate.
elabel_recovery recovery_of(elabel_outcome outcome, elabel_fate fate)
{
    if (fate == elabel_fate::kept) {
        switch (outcome) {
        case elabel_outcome::record_unreadable:
            return elabel_recovery::kept_unreadable;
        case elabel_outcome::found_written:
        case elabel_outcome::restored:
        case elabel_outcome::found_unchanged:
        case elabel_outcome::record_damaged:
        case elabel_outcome::found_foreign:
        case elabel_outcome::record_earlier:
        case elabel_outcome::restore_worn:
            return elabel_recovery::kept_unremovable;  // the device holds a label to read
        default:
            return elabel_recovery::kept_device;
        }
    }
    switch (outcome) {
    case elabel_outcome::found_written:
    case elabel_outcome::restored:
        return elabel_recovery::finished;
    case elabel_outcome::found_unchanged:
        return elabel_recovery::unchanged;
    case elabel_outcome::record_damaged:
        return elabel_recovery::discarded;
    default:
        return fate == elabel_fate::set_aside ? elabel_recovery::set_aside
                                              : elabel_recovery::dropped;
    }
}

} // namespace

elabel_recovery elabel_record_recover()
{
    static elabel_record record;
    const char *why = nullptr;
    elabel_outcome outcome = elabel_outcome::record_damaged;
    elabel_fate fate = elabel_fate::kept;
    switch (elabel_record_read(&record, &why)) {
    case elabel_record_state::none:
        return elabel_recovery::none;
    case elabel_record_state::unreadable:
        outcome = elabel_outcome::record_unreadable;
        break;
    case elabel_record_state::damaged:
        outcome = elabel_outcome::record_damaged;
        break;
    case elabel_record_state::earlier:
        outcome = elabel_outcome::record_earlier;
        break;
    case elabel_record_state::intact: {
        // A restore is a write-back: nothing may end it before the record is settled.
        elabel_held_signals signals;
        elabel_hold_signals(&signals);
        outcome = settle(&record, &fate);
        elabel_release_signals(&signals);
        return recovery_of(outcome, fate);
    }
    }
    fate = elabel_record_decide(outcome, &record, why);
    return recovery_of(outcome, fate);
}

bool elabel_recovery_kept(elabel_recovery found)
{
    return found == elabel_recovery::kept_device || found == elabel_recovery::kept_unreadable;
}

bool elabel_recovery_pending(elabel_recovery found)
{
    return elabel_recovery_kept(found) || found == elabel_recovery::kept_unremovable;
}

bool elabel_record_pending()
{
    elabel_record record;
    const char *why = nullptr;
    return elabel_record_read(&record, &why) != elabel_record_state::none;
}
