// What becomes of a pending-write record is decided in one place, from one
// outcome: what a write-back read back, or what a recovery found. The record
// is removed, kept or set aside there, and the removal or rename is checked:
// a record that could not be removed stays pending, and no other write-back
// starts while it does.
#ifndef ELABEL_FATE_H
#define ELABEL_FATE_H

#include "elabel_record.h"

enum class elabel_outcome {
    // A write-back's own record, from its read-back.
    wrote,               // the device holds the image
    ignored,             // the passes went through, the device holds what it had
    refused,             // a pass failed, the device holds what it had
    unchecked,           // the passes went through, the device was not read back
    broken_off,          // a pass failed: the device may hold a cut state
    misread,             // the passes went through, the device holds a cut state
    worn,                // the passes went through, the device changed but not into the image
    // A restore of an earlier write-back's record.
    restored,            // the device holds the record's image
    restore_ignored,     // the device reads back as before the restore
    restore_failed,      // a pass failed, or the device was not read back
    restore_worn,        // the device changed, but not into the record's image
    restore_unrecorded,  // the restore's record was not stored: nothing was written
    // A recovery's look at the device before any write.
    found_written,       // the device holds the record's image
    found_unchanged,     // the device holds the label the record replaced
    found_foreign,       // the device holds neither, nor a cut state of them
    device_unread,       // the device could not be read
    record_damaged,      // the record is not one of this label
    record_earlier,      // a record of an earlier format, which does not say what it replaced
    record_unreadable,   // the record could not be read now
};

enum class elabel_fate { removed, kept, set_aside };

// Removes, keeps or sets aside the record for `outcome`, logs what happened,
// and notes a record that stays in the write-back report. `record` is the
// record as read, for its name when set aside (nullptr: named by nothing
// but the path); `detail` completes a damaged or unreadable record's message.
elabel_fate elabel_record_decide(elabel_outcome outcome, const elabel_record *record,
                                 const char *detail);

#endif
