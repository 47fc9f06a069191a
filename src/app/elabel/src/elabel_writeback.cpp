// A write-back of the store's own: an earlier record settled first, then its
// plan made from the label it replaces and carried out.
#include "elabel_writeback.h"

#include <cstdio>
#include <cstring>

#include "elabel_keep.h"
#include "elabel_known.h"
#include "elabel_record.h"
#include "elabel_report.h"
#include "elabel_signals.h"

bool elabel_settle_first(elabel_result *res)
{
    elabel_settle(res);
    if (res->pending[0] == '\0') {
        return true;
    }
    char why[2 * ELABEL_REPORT_PATH_MAX + 128];
    const char *stays = res->why;
    if (res->outcome == ELABEL_WRITEBACK_BLOCKED) {
        // Logged once already, as the record's fate: said here, not logged again.
        std::snprintf(res->why, sizeof(res->why),
                      "the record path is blocked: a directory; remove it (%.*s)",
                      static_cast<int>(sizeof(res->why)) / 2, res->pending);
        res->outcome = ELABEL_WRITEBACK_REFUSED;
        res->failed = elabel_pass::not_started;
        return false;
    }
    if (res->outcome == ELABEL_WRITEBACK_LATER) {
        std::snprintf(why, sizeof(why),
                      "the pending-write record %s is of a later format: writes wait for the "
                      "version that wrote it to finish it",
                      res->pending);
    } else {
        std::snprintf(why, sizeof(why), "an unfinished write-back is pending (record %s: %.*s)",
                      res->pending, static_cast<int>(sizeof(res->why)), stays);
    }
    elabel_result_refuse(res, why);
    return false;
}

namespace {

// The label it replaces: as this process read it under the lock, or read now.
bool know_replaced(elabel_plan *plan, elabel_result *res)
{
    const uint8_t *known = elabel_known();
    if (known != nullptr) {
        std::memcpy(plan->replaced, known, ELABEL_DATA_LEN);
        return true;
    }
    if (elabel_read_region(plan->replaced)) {
        return true;
    }
    elabel_result_refuse(res, "the label it would replace could not be read");
    return false;
}

// A region without our magic holds something that is no label: kept, unless
// it is blank (erased, or zeroed by a clear).
bool holds_foreign_bytes(const uint8_t *region)
{
    const uint32_t magic = elabel_get_le32(region);
    return magic != ELABEL_MAGIC && magic != 0 && magic != 0xFFFFFFFFu;
}

void plan_keep(elabel_plan *plan, elabel_write_kind kind)
{
    if (kind != elabel_write_kind::update && kind != elabel_write_kind::magic) {
        return;
    }
    plan->reset_rows = elabel_reset_rows(plan->replaced, plan->image);
    plan->keep = plan->reset_rows != 0 ||
                 (kind == elabel_write_kind::magic && holds_foreign_bytes(plan->replaced));
}

} // namespace

int32_t elabel_write_label(const uint8_t *image, elabel_write_kind kind, elabel_result *res,
                           void (*pass_failed)(elabel_pass failed))
{
    *res = elabel_result{};
    int32_t fd = -1;
    if (elabel_set_lock(&fd, ELABEL_LOCK_TRIES) != 0) {
        res->outcome = ELABEL_WRITEBACK_REFUSED;
        res->failed = elabel_pass::not_started;
        std::snprintf(res->why, sizeof(res->why), "the label is locked by another run (bus busy)");
        elabel_report_result(*res);
        return -8;
    }
    elabel_held_signals signals;
    elabel_hold_signals(&signals);
    static elabel_plan plan;
    plan = elabel_plan{};
    plan.image = image;
    plan.erase_only = kind == elabel_write_kind::clear;
    plan.pass_failed = pass_failed;
    if (elabel_settle_first(res)) {
        *res = elabel_result{};  // what this write-back comes to, not the settling
        if (know_replaced(&plan, res)) {
            plan_keep(&plan, kind);
            elabel_execute(plan, res);
        }
    }
    elabel_set_unlock(fd);
    elabel_release_signals(&signals);
    elabel_report_result(*res);
    return res->failed == elabel_pass::none && res->outcome == ELABEL_WRITEBACK_WRITTEN ? 0 : -1;
}

void elabel_report_result(const elabel_result &res)
{
    elabel_report.outcome = res.outcome;
    elabel_report.recorded = res.recorded ? 1 : 0;
    elabel_report.reset_rows = res.reset_rows;
    std::memcpy(elabel_report.kept, res.kept, sizeof(res.kept));
    std::memcpy(elabel_report.pending, res.pending, sizeof(res.pending));
    std::memcpy(elabel_report.why, res.why, sizeof(res.why));
}
