#include "elabel_writeback.h"

#include "elabel_record.h"

int32_t elabel_writeback_begin(elabel_writeback *wb, const uint8_t *image)
{
    if (elabel_set_lock(&wb->fd, ELABEL_LOCK_TRIES) != 0) {
        return -1;
    }
    elabel_hold_signals(&wb->signals);
    (void)elabel_record_store(image);
    return 0;
}

void elabel_writeback_end(elabel_writeback *wb, int32_t result)
{
    if (result == 0) {
        (void)elabel_record_remove();
    }
    elabel_set_unlock(wb->fd);
    elabel_release_signals(&wb->signals);
}

int32_t elabel_writeback_rewrite(uint8_t *image)
{
    if (driver_flash_eraseElectronicLabel() != 0 ||
        driver_flash_writElectronicLabel(image, ELABEL_DATA_LEN) != 0) {
        return -1;
    }
    return 0;
}
