#include "elabel_writeback.h"

#include <cstring>

#include "elabel_known.h"
#include "elabel_log.h"
#include "elabel_record.h"

namespace {

constexpr int READ_TRIES = 3;

bool know_replaced(elabel_writeback *wb)
{
    const uint8_t *known = elabel_known();
    if (known != nullptr) {
        std::memcpy(wb->replaced, known, ELABEL_DATA_LEN);
        return true;
    }
    return elabel_read_region(wb->replaced);
}

// The record of a write-back that did not go through, from what was read back.
void settle_record(const elabel_writeback *wb)
{
    const bool passed = wb->failed == elabel_pass::none;
    if (!wb->read_back) {
        if (passed) {
            ELABEL_ERR("label not read back after the write-back; record %s kept\n",
                       elabel_record_path());
        }
        return;
    }
    switch (wb->region) {
    case elabel_region::written:
        (void)elabel_record_remove();
        return;
    case elabel_region::replaced:
        (void)elabel_record_remove();
        if (passed) {
            ELABEL_ERR("label read back unchanged: the device ignored the writes "
                       "(write-protected?); record %s removed\n",
                       elabel_record_path());
        } else {
            ELABEL_ERR("the device still holds the label it had; record %s removed\n",
                       elabel_record_path());
        }
        return;
    case elabel_region::cut:
    case elabel_region::other:
        if (passed) {
            ELABEL_ERR("label read back differs from the one written; record %s kept\n",
                       elabel_record_path());
        }
        return;
    }
}

} // namespace

bool elabel_read_region(uint8_t *label)
{
    for (int attempt = 0; attempt < READ_TRIES; ++attempt) {
        if (driver_flash_readElectronicLabel(label, ELABEL_DATA_LEN) == 0) {
            return true;
        }
    }
    return false;
}

int32_t elabel_writeback_begin(elabel_writeback *wb, const uint8_t *image)
{
    wb->image = image;
    wb->failed = elabel_pass::none;
    wb->read_back = false;
    wb->region = elabel_region::other;
    if (elabel_set_lock(&wb->fd, ELABEL_LOCK_TRIES) != 0) {
        return -8;
    }
    elabel_hold_signals(&wb->signals);
    return 0;
}

void elabel_writeback_passes(elabel_writeback *wb)
{
    if (!wb->restoring && !know_replaced(wb)) {
        ELABEL_ERR("label not written: the label it would replace could not be read\n");
        wb->failed = elabel_pass::not_started;
        return;
    }
    (void)elabel_record_store(wb->image, wb->replaced, wb->restoring);
    // The write takes a non-const buffer but does not change it.
    auto *image = const_cast<uint8_t *>(wb->image);
    if (driver_flash_eraseElectronicLabel() != 0) {
        wb->failed = elabel_pass::erase;
    } else if (driver_flash_writElectronicLabel(image, ELABEL_DATA_LEN) != 0) {
        wb->failed = elabel_pass::write;
    }
}

int32_t elabel_writeback_end(elabel_writeback *wb)
{
    int32_t ret = -1;
    if (wb->failed != elabel_pass::not_started) {
        wb->read_back = elabel_read_region(wb->back);
        if (wb->read_back) {
            wb->region = elabel_judge(wb->back, wb->image, wb->replaced);
        }
        if (wb->failed == elabel_pass::none && wb->read_back &&
            wb->region == elabel_region::written) {
            ret = 0;
        }
        if (!wb->restoring) {
            settle_record(wb);
        }
    }
    elabel_set_unlock(wb->fd);
    elabel_release_signals(&wb->signals);
    return ret;
}

int32_t elabel_writeback_run(elabel_writeback *wb, const uint8_t *image)
{
    if (elabel_writeback_begin(wb, image) != 0) {
        return -8;
    }
    elabel_writeback_passes(wb);
    return elabel_writeback_end(wb);
}

int32_t elabel_writeback_clear()
{
    int32_t fd = -1;
    if (elabel_set_lock(&fd, ELABEL_LOCK_TRIES) != 0) {
        ELABEL_ERR("driver_elabel bus busy.\n");
        return -8;
    }
    elabel_held_signals signals;
    elabel_hold_signals(&signals);
    static uint8_t back[ELABEL_DATA_LEN];
    static constexpr uint8_t ZEROS[ELABEL_DATA_LEN] = {};
    int32_t ret = -1;
    if (driver_flash_eraseElectronicLabel() == 0 && elabel_read_region(back)) {
        if (std::memcmp(back, ZEROS, ELABEL_DATA_LEN) == 0) {
            (void)elabel_record_remove();
            ret = 0;
        } else {
            ELABEL_ERR("label region read back not erased\n");
        }
    }
    elabel_set_unlock(fd);
    elabel_release_signals(&signals);
    return ret;
}
