// The executor: carries out a write-back's plan and says what it came to.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "elabel_fate.h"
#include "elabel_judge.h"
#include "elabel_keep.h"
#include "elabel_log.h"
#include "elabel_platform.h"
#include "elabel_publish.h"
#include "elabel_record.h"
#include "elabel_writeback.h"

namespace {

constexpr int READ_TRIES = 3;

// The label it replaces is kept first, or nothing is written.
bool keep_replaced(const elabel_plan &plan, elabel_result *res)
{
    if (!plan.keep) {
        return true;
    }
    res->reset_rows = plan.reset_rows;
    if (elabel_keep_label(plan.replaced, res->kept, sizeof(res->kept)) == 0) {
        return true;
    }
    char why[ELABEL_REPORT_PATH_MAX];
    std::snprintf(why, sizeof(why), "the label it replaces %s and could not be kept (%s)",
                  plan.reset_rows != 0 ? "holds damaged items" : "is no label of ours",
                  std::strerror(errno));
    res->kept[0] = '\0';
    res->reset_rows = 0;  // nothing was stored in their place
    elabel_result_refuse(res, why);
    return false;
}

// A restore's record must be stored, or a cut of it would lose the label; a
// write-back of its own goes on without one, and says so.
bool store_record(const elabel_plan &plan, elabel_result *res)
{
    if (elabel_platform.record_dir == nullptr) {
        return true;
    }
    if (elabel_record_store(plan.image, plan.replaced, plan.restore) == 0) {
        res->recorded = true;
        return true;
    }
    if (plan.restore) {
        res->outcome = ELABEL_WRITEBACK_REFUSED;
        res->failed = elabel_pass::not_started;
        return false;
    }
    std::snprintf(res->why, sizeof(res->why), "the pending-write record %s could not be stored (%s)",
                  elabel_record_path(), std::strerror(errno));
    return true;
}

int32_t outcome_of(const elabel_plan &plan, const elabel_result &res)
{
    const bool passed = res.failed == elabel_pass::none;
    if (!res.read_back) {
        return passed ? ELABEL_WRITEBACK_UNCHECKED : ELABEL_WRITEBACK_PARTIAL;
    }
    switch (elabel_judge(res.back, plan.image, plan.replaced)) {
    case elabel_region::written:
        // Written only when every pass went through; a failed pass over a
        // label that already was the image changed nothing.
        if (passed) {
            return ELABEL_WRITEBACK_WRITTEN;
        }
        return std::memcmp(plan.image, plan.replaced, ELABEL_DATA_LEN) == 0
                   ? ELABEL_WRITEBACK_FAILED
                   : ELABEL_WRITEBACK_PARTIAL;
    case elabel_region::replaced:
        return passed ? ELABEL_WRITEBACK_UNCHANGED : ELABEL_WRITEBACK_FAILED;
    case elabel_region::cut:
        return passed ? ELABEL_WRITEBACK_MISREAD : ELABEL_WRITEBACK_PARTIAL;
    case elabel_region::other:
        break;
    }
    return passed ? ELABEL_WRITEBACK_WORN : ELABEL_WRITEBACK_PARTIAL;
}

void run_passes(const elabel_plan &plan, elabel_result *res)
{
    // The write takes a non-const buffer but does not change it.
    auto *image = const_cast<uint8_t *>(plan.image);
    if (driver_flash_eraseElectronicLabel() != 0) {
        res->failed = elabel_pass::erase;
    } else if (!plan.erase_only &&
               driver_flash_writElectronicLabel(image, ELABEL_DATA_LEN) != 0) {
        res->failed = elabel_pass::write;
    }
    if (res->failed != elabel_pass::none && plan.pass_failed != nullptr) {
        plan.pass_failed(res->failed);
    }
}

} // namespace

void elabel_result_refuse(elabel_result *res, const char *why)
{
    ELABEL_ERR("label not written: %s\n", why);
    std::snprintf(res->why, sizeof(res->why), "%s", why);
    res->outcome = ELABEL_WRITEBACK_REFUSED;
    res->failed = elabel_pass::not_started;
}

bool elabel_read_region(uint8_t *label)
{
    for (int attempt = 0; attempt < READ_TRIES; ++attempt) {
        if (driver_flash_readElectronicLabel(label, ELABEL_DATA_LEN) == 0) {
            return true;
        }
    }
    return false;
}

void elabel_execute(const elabel_plan &plan, elabel_result *res)
{
    res->failed = elabel_pass::none;
    res->read_back = false;
    if (!keep_replaced(plan, res) || !store_record(plan, res)) {
        if (plan.restore) {
            elabel_record_decide(res, true, 0, nullptr);
        }
        return;
    }
    run_passes(plan, res);
    res->read_back = elabel_read_region(res->back);
    res->outcome = outcome_of(plan, *res);
    if (res->recorded) {
        elabel_record_decide(res, plan.restore, 0, nullptr);
    }
    const bool unchanged = res->outcome == ELABEL_WRITEBACK_UNCHANGED ||
                           res->outcome == ELABEL_WRITEBACK_FAILED;
    if (res->outcome != ELABEL_WRITEBACK_WRITTEN) {
        if (!unchanged) {
            elabel_publish_withdraw();  // the part may hold a cut, or something else
        }
        return;
    }
    if (plan.erase_only) {
        elabel_publish_withdraw();
    } else {
        (void)elabel_publish(plan.image);
    }
    // The part holds a whole label now; older kept labels go only once it
    // holds what was written after them, never the one this write-back named.
    elabel_record_clear_torn();
    if (res->kept[0] != '\0') {
        elabel_keep_prune(res->kept);
    }
}
