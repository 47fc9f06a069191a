// The one way the store writes the label to the device. A write-back is a
// plan (what the part must end up holding, what it holds now, what is kept
// first, what record guards it) made first and carried out by one executor;
// a record left by an earlier write-back is settled before, by making and
// carrying out its own plan. Every write-back and every settling ends in one
// result, whose outcome code (ELABEL_WRITEBACK_..., elabel.h) says both what
// the part holds and what became of the record.
#ifndef ELABEL_WRITEBACK_H
#define ELABEL_WRITEBACK_H

#include <cstdint>

#include "elabel.h"

// The pass that failed, if any.
enum class elabel_pass { none, not_started, erase, write };

struct elabel_plan {
    const uint8_t *image;               // what the part must end up holding
    uint8_t replaced[ELABEL_DATA_LEN];  // what it holds now
    bool restore;       // `replaced` is a cut state: never done, never removed for
    bool erase_only;    // a clear: the image is zeros and the erase writes it
    bool keep;          // keep `replaced` as a file first, or write nothing
    uint32_t reset_rows;
    void (*pass_failed)(elabel_pass failed);  // told at once, so that its line comes first
};

struct elabel_result {
    int32_t outcome;  // ELABEL_WRITEBACK_...
    bool recorded;    // a pending-write record guarded the write-back
    uint32_t reset_rows;
    char kept[ELABEL_REPORT_PATH_MAX];
    char pending[ELABEL_REPORT_PATH_MAX];  // a record that stays
    char why[ELABEL_REPORT_PATH_MAX];
    elabel_pass failed;
    bool read_back;  // `back` holds the region as read after the passes
    uint8_t back[ELABEL_DATA_LEN];
};

// Reads the label region, up to three tries; false when every read failed.
bool elabel_read_region(uint8_t *label);

// Nothing is written: the reason goes to the log and to the result.
void elabel_result_refuse(elabel_result *res, const char *why);

// Carries out a plan under the lock held by the caller: the kept label, the
// record, the erase and the write, the read-back; then the record's fate.
void elabel_execute(const elabel_plan &plan, elabel_result *res);

// Settles a record left by an earlier write-back, under the lock held by the
// caller: finishes its write-back, or removes, sets aside or leaves it, from
// what the part holds. ELABEL_WRITEBACK_NONE when there is none.
void elabel_settle(elabel_result *res);

// Settles an earlier record as a write-back does first: true when none stays;
// false with the result refused, saying why (a record that stays, of a later
// format, a directory in the record's way).
bool elabel_settle_first(elabel_result *res);

// The result leaves a label on the part for a load to read: no record stays
// that still has a write-back to finish there.
bool elabel_result_readable(const elabel_result &res);

// What a write-back carries over from the label it replaces.
enum class elabel_write_kind {
    update,  // the image carries the label's items: keep it before storing defaults
    whole,   // a whole new label: nothing carried over, nothing kept
    magic,   // a load's label over a region that held none: keep what was there
    clear,   // zeros, written by the erase pass alone
};

// A whole write-back: takes the lock (nesting in one this process holds), holds
// the termination signals, settles an earlier record, plans and carries out its
// own. 0 when the part was read back holding `image`; -1; -8 when the lock was
// not obtained (nothing else happened). `res` gets the result, and the
// write-back report a copy. `pass_failed`, when given, is told of a failed
// pass as soon as it fails.
int32_t elabel_write_label(const uint8_t *image, elabel_write_kind kind, elabel_result *res,
                           void (*pass_failed)(elabel_pass failed) = nullptr);

// Makes the result what the write-back report tells (elabel.h).
void elabel_report_result(const elabel_result &res);

#endif
