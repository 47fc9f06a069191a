// The one way the store writes the label to the device: lock, termination
// signals held, an earlier pending-write record settled first, the label it
// replaces known (and kept, when it stores defaults in place of damaged
// items), its own record stored, erase, write, read back; then the record's
// owner removes, keeps or sets aside the record from what was read back.
#ifndef ELABEL_WRITEBACK_H
#define ELABEL_WRITEBACK_H

#include <cstdint>

#include "elabel.h"
#include "elabel_fate.h"
#include "elabel_judge.h"
#include "elabel_signals.h"

// The pass that failed, if any.
enum class elabel_pass { none, not_started, erase, write };

struct elabel_writeback {
    const uint8_t *image;
    uint8_t replaced[ELABEL_DATA_LEN];
    // A restore: `replaced` is the state the caller found, the record of an
    // earlier write-back is there, and this write-back finishes it.
    bool restoring;
    bool erase_only;    // a clear: the image is zeros and the erase writes it
    bool keep_repairs;  // items carried over: keep the replaced label before storing defaults
    bool recorded;      // this write-back's record was stored
    int32_t fd;
    elabel_held_signals signals;
    elabel_pass failed;
    bool read_back;  // `back` holds the region as read after the passes
    uint8_t back[ELABEL_DATA_LEN];
    elabel_region region;    // `back` judged against the image and the replaced label
    elabel_outcome outcome;  // what the record's owner was told
    elabel_fate fate;        // and what it made of the record
};

// Reads the label region, up to three tries; false when every read failed.
bool elabel_read_region(uint8_t *label);

// Takes the lock (nesting in one this process holds) and holds the signals.
// 0, or -8 when the lock was not obtained: then nothing else happened.
int32_t elabel_writeback_begin(elabel_writeback *wb, const uint8_t *image);

// Settles a pending record of an earlier write-back (never for a restore,
// whose record that is); the label it replaces (as this process knows it under
// the lock, or read now; given by a restore), kept when the write-back would
// store defaults over damaged items; the record; the erase and the write.
// `wb->failed` names a failed pass; not_started when nothing was written.
void elabel_writeback_passes(elabel_writeback *wb);

// Reads the region back, judges it, and lets the record's owner decide what
// becomes of the record. Then unlocks and gives the signal mask back. 0 when
// the passes went through and the device holds the image, else -1.
int32_t elabel_writeback_end(elabel_writeback *wb);

// The three steps in one: 0, -1 or -8.
int32_t elabel_writeback_run(elabel_writeback *wb, const uint8_t *image);

// Erases the region for a clear, as a write-back of zeros: under the lock,
// with the signals held and its own record, read back. 0, -1, or -8 when the
// lock was not obtained.
int32_t elabel_writeback_clear();

#endif
