// Settling a record left by an earlier write-back: from what the part holds,
// the record's own plan (a restore of its label over the cut state found) is
// made and carried out, or its fate is decided without a write.
#include <algorithm>
#include <cstring>

#include "elabel_fate.h"
#include "elabel_judge.h"
#include "elabel_record.h"
#include "elabel_platform.h"
#include "elabel_log.h"
#include "elabel_signals.h"
#include "elabel_writeback.h"

namespace {

constexpr size_t FIRST_PAGE = 32;

// A restore: the record's label written over the state the part was found in,
// under a record of its own should it be cut in turn.
void restore(const elabel_record &record, const uint8_t *device, elabel_result *res)
{
    static elabel_plan plan;
    plan = elabel_plan{};
    plan.image = record.image;
    std::memcpy(plan.replaced, device, ELABEL_DATA_LEN);
    plan.restore = true;
    elabel_execute(plan, res);
}

// What an intact record's write-back left on the part.
int32_t judge_intact(const elabel_record &record, const uint8_t *device, bool *finish)
{
    switch (elabel_judge(device, record.image, record.replaced)) {
    case elabel_region::written:
        return ELABEL_WRITEBACK_FOUND;
    case elabel_region::replaced:
        // A restore that never began still has its job to do.
        *finish = record.restore;
        return ELABEL_WRITEBACK_NEVER;
    case elabel_region::cut:
        *finish = true;
        return ELABEL_WRITEBACK_PARTIAL;
    case elabel_region::other:
        break;
    }
    return ELABEL_WRITEBACK_FOREIGN;
}

// The same with the image alone: a write pass cut over zeros, or an erase pass
// (a label never begins with a page of zeros), is finished.
int32_t judge_image_only(const elabel_record &record, const uint8_t *device, bool *finish)
{
    if (std::memcmp(device, record.image, ELABEL_DATA_LEN) == 0) {
        return ELABEL_WRITEBACK_FOUND;
    }
    *finish = elabel_judge(device, record.image, elabel_zeros()) != elabel_region::other ||
              std::all_of(device, device + FIRST_PAGE, [](uint8_t b) { return b == 0; });
    return *finish ? ELABEL_WRITEBACK_PARTIAL : ELABEL_WRITEBACK_FOREIGN;
}

// A record damaged in the label it replaces keeps a name of its own before its
// write-back is finished: linked aside while it still holds the record path,
// which the restore's own record then takes over. False when it could not
// be, with the record left pending.
bool keep_damaged(const elabel_record &record, const char *why, char *aside, elabel_result *res)
{
    if (elabel_record_copy_aside(record.crc, true, aside) == 0) {
        // The record's fate, said where every other fate is.
        ELABEL_ERR_FOR("elabel_record_decide",
                       "pending-write record damaged: %s; record %s kept as %s, its write-back "
                       "judged from the label it writes\n",
                   why, elabel_record_path(), aside);
        return true;
    }
    res->outcome = ELABEL_WRITEBACK_DAMAGED;
    res->pending[0] = '\0';
    elabel_record_decide(res, false, record.crc, why);
    return false;
}

// Judges the part against a record whose image checks; finishes it, or lets
// the record's fate be decided. A record damaged in its replaced label gets
// its own name first, once the part was read, and is never replaced.
void settle_readable(const elabel_record &record, bool image_only, const char *why,
                     elabel_result *res)
{
    static uint8_t device[ELABEL_DATA_LEN];
    if (!elabel_read_region(device)) {
        res->outcome = ELABEL_WRITEBACK_NO_PART;
        elabel_record_decide(res, false, record.crc, nullptr);
        return;
    }
    char aside[ELABEL_RECORD_PATH_MAX];
    if (image_only && !keep_damaged(record, why, aside, res)) {
        return;
    }
    bool finish = false;
    res->outcome = image_only ? judge_image_only(record, device, &finish)
                              : judge_intact(record, device, &finish);
    if (finish) {
        restore(record, device, res);
        // A restore that wrote nothing left the record where it was.
        if (image_only && res->outcome == ELABEL_WRITEBACK_REFUSED) {
            (void)elabel_platform.file.unlink(aside);
        }
        return;
    }
    if (image_only) {
        // Nothing to finish: the damaged record goes aside for good.
        res->outcome = res->outcome == ELABEL_WRITEBACK_FOUND ? ELABEL_WRITEBACK_FOUND
                                                              : ELABEL_WRITEBACK_FOREIGN;
        if (elabel_record_remove() != 0) {
            elabel_record_decide(res, false, record.crc, nullptr);
        }
    }
    if (!image_only) {
        elabel_record_decide(res, false, record.crc, nullptr);
    }
    if (res->outcome == ELABEL_WRITEBACK_FOUND) {
        elabel_record_clear_torn();  // the part holds a whole label of ours
    }
}

int32_t outcome_of(elabel_record_state state)
{
    switch (state) {
    case elabel_record_state::damaged:
        return ELABEL_WRITEBACK_DAMAGED;
    case elabel_record_state::earlier:
        return ELABEL_WRITEBACK_EARLIER;
    case elabel_record_state::later:
        return ELABEL_WRITEBACK_LATER;
    case elabel_record_state::unreadable:
        return ELABEL_WRITEBACK_UNREAD;
    case elabel_record_state::blocked:
        return ELABEL_WRITEBACK_BLOCKED;
    case elabel_record_state::none:
    case elabel_record_state::intact:
    case elabel_record_state::image_only:
        break;
    }
    return ELABEL_WRITEBACK_NONE;
}

} // namespace

void elabel_settle(elabel_result *res)
{
    static elabel_record record;
    const char *why = nullptr;
    const elabel_record_state state = elabel_record_read(&record, &why);
    if (state == elabel_record_state::none) {
        res->outcome = ELABEL_WRITEBACK_NONE;
        return;
    }
    const bool image_only = state == elabel_record_state::image_only;
    if (state != elabel_record_state::intact && !image_only) {
        res->outcome = outcome_of(state);
        elabel_record_decide(res, false, record.crc, why);
        return;
    }
    // A restore is a write-back: nothing may end it before the record is settled.
    elabel_held_signals signals;
    elabel_hold_signals(&signals);
    settle_readable(record, image_only, why, res);
    elabel_release_signals(&signals);
}

bool elabel_result_readable(const elabel_result &res)
{
    switch (res.outcome) {
    case ELABEL_WRITEBACK_NONE:
    case ELABEL_WRITEBACK_WRITTEN:
    case ELABEL_WRITEBACK_FOUND:
    case ELABEL_WRITEBACK_NEVER:
    case ELABEL_WRITEBACK_FOREIGN:
    case ELABEL_WRITEBACK_DAMAGED:
    case ELABEL_WRITEBACK_EARLIER:
    case ELABEL_WRITEBACK_WORN:
    case ELABEL_WRITEBACK_BLOCKED:
        return true;
    default:
        return false;
    }
}
