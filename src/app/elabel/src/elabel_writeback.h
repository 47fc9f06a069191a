// One write-back of the label to the device, from taking the lock to releasing
// it: termination signals are held and the image is first stored as the
// pending-write record, so that a cut anywhere in between loses nothing.
#ifndef ELABEL_WRITEBACK_H
#define ELABEL_WRITEBACK_H

#include <cstdint>

#include "elabel.h"
#include "elabel_signals.h"

struct elabel_writeback {
    int32_t fd;
    elabel_held_signals signals;
};

// Takes the lock, holds the signals and stores the record (a record that
// cannot be stored is logged and the write-back goes ahead). 0, or -1 when the
// lock was not obtained: then nothing else happened.
int32_t elabel_writeback_begin(elabel_writeback *wb, const uint8_t *image);

// After a successful erase and write (result 0) removes the record; then
// releases the lock and gives the caller its signal mask back.
void elabel_writeback_end(elabel_writeback *wb, int32_t result);

// Erases the label region and writes the image, for a caller that already
// holds the lock and the signals. 0 or -1.
int32_t elabel_writeback_rewrite(uint8_t *image);

#endif
