// The one way the store writes the label to the device: lock, termination
// signals held, the pending-write record stored (the image and the label it
// replaces), erase, write, read back, record removed or kept, unlock. A write
// is done when the device was read back holding the image; what the record
// becomes is decided from what was read back, never from a guess.
#ifndef ELABEL_WRITEBACK_H
#define ELABEL_WRITEBACK_H

#include <cstdint>

#include "elabel.h"
#include "elabel_judge.h"
#include "elabel_signals.h"

// The pass that failed, if any.
enum class elabel_pass { none, not_started, erase, write };

struct elabel_writeback {
    const uint8_t *image;
    uint8_t replaced[ELABEL_DATA_LEN];
    // A restore: `replaced` is the state the caller found, a record of an
    // earlier write-back is there, and the caller decides what becomes of it.
    bool restoring;
    bool erase_only;  // a clear: the image is zeros and the erase writes it
    bool recorded;    // this write-back's record was stored
    int32_t fd;
    elabel_held_signals signals;
    elabel_pass failed;
    bool read_back;  // `back` holds the region as read after the passes
    uint8_t back[ELABEL_DATA_LEN];
    elabel_region region;  // `back` judged against the image and the replaced label
};

// Reads the label region, up to three tries; false when every read failed.
bool elabel_read_region(uint8_t *label);

// Takes the lock (nesting in one this process holds) and holds the signals.
// 0, or -8 when the lock was not obtained: then nothing else happened.
int32_t elabel_writeback_begin(elabel_writeback *wb, const uint8_t *image);

// A pending record of an earlier write-back settled first; the label it
// replaces (as this process knows it under the lock, or read now; given by a
// restore); the record; the erase and the write. `wb->failed` names a failed
// pass; not_started when nothing was written: an earlier record stays pending,
// the replaced label could not be read, or a restore could not store its record.
void elabel_writeback_passes(elabel_writeback *wb);

// Reads the region back and judges it; unless restoring, removes the record
// when the device holds the image or still the label it replaced, and keeps it
// when it may hold a cut state. Then unlocks and gives the signal mask back.
// 0 when the passes went through and the device holds the image, else -1.
int32_t elabel_writeback_end(elabel_writeback *wb);

// The three steps in one, for callers with no messages of their own between
// them: 0, -1 or -8.
int32_t elabel_writeback_run(elabel_writeback *wb, const uint8_t *image);

// Erases the region for a clear, as a write-back of zeros: under the lock,
// with the signals held and its own record, read back. A pending record is
// settled first and the clear's record removed once the region reads back
// erased, so that a clear cut or refused is never taken for a finished one.
// 0, -1, or -8 when the lock was not obtained.
int32_t elabel_writeback_clear();

#endif
