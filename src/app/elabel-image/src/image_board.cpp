// The board's label, through the label store: the same device, address, offset
// and lock file as elabel.
#include <cstring>

#include "elabel_image.h"
#include "elabel_names.h"
#include "elabel_platform.h"
#include "elabel_writeback.h"
#include "image_tool.h"

namespace {

constexpr int READ_TRIES = 3;
constexpr int BUSY_TRIES = 3;
constexpr useconds_t BUSY_PAUSE_US = 1000;

// Reads the label region as stored, under the lock: no check, no repair, no
// write-back. 0; -8 the lock was not obtained; 1 every read failed.
int32_t read_label(uint8_t *label)
{
    int32_t fd = -1;
    if (elabel_set_lock(&fd, ELABEL_LOCK_TRIES) != 0) {
        return -8;
    }
    int32_t ret = 1;
    for (int attempt = 0; attempt < READ_TRIES && ret != 0; ++attempt) {
        ret = driver_flash_readElectronicLabel(label, ELABEL_DATA_LEN);
    }
    elabel_set_unlock(fd);
    return ret;
}

int device_error(const char *what, int32_t ret)
{
    if (ret == -8) {
        image_error("%s %s: the label is locked by another run (bus busy)", what, ELABEL_I2C_DEV);
    } else {
        image_error("%s %s failed (%d); the system log has the details", what, ELABEL_I2C_DEV, ret);
    }
    return IMAGE_DEVICE;
}

// Writes the label with the store's write-back, which reads it back under the
// same lock; tried again while another run holds the lock.
int32_t write_label(const uint8_t *label, elabel_writeback *wb)
{
    int32_t ret = -8;
    for (int attempt = 0; attempt < BUSY_TRIES && ret == -8; ++attempt) {
        ret = elabel_writeback_run(wb, label);
        if (ret == -8) {
            elabel_platform.sleep_us(BUSY_PAUSE_US);
        }
    }
    return ret;
}

void report_difference(const char *path, const uint8_t *wrote, const uint8_t *read)
{
    size_t at = 0;
    while (wrote[at] == read[at]) {
        ++at;
    }
    const char *where = "magic";
    for (int row = 0; row < ELABEL_ITEM_NUM; ++row) {
        if (at >= elabel_item_table[row].offset) {
            where = elabel_item_names[row];
        }
    }
    image_error("%s: read back from %s differs at label byte %zu (%s): wrote 0x%02x, read 0x%02x",
                path, ELABEL_I2C_DEV, at, where, wrote[at], read[at]);
}

} // namespace

int image_dump_run(const image_options &opt)
{
    if (opt.output == nullptr) {
        image_error("dump: no output file (-o OUT)");
        return IMAGE_USAGE;
    }
    uint8_t label[ELABEL_DATA_LEN];
    const int32_t ret = read_label(label);
    if (ret != 0) {
        return device_error("reading", ret);
    }
    const int written = image_write_file(opt.output, label, sizeof(label));
    if (written != 0) {
        image_error("%s: %s", opt.output, std::strerror(-written));
        return IMAGE_USAGE;
    }
    return IMAGE_OK;
}

int image_program_run(const image_options &opt)
{
    static image_file file;
    const char *path = opt.args[0];
    if (image_load(path, opt.offset, &file) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    const uint8_t *label = file.bytes + file.label_at;
    if (image_problems(label, path, true) != 0) {
        image_error("%s: not programmed: the label does not check", path);
        return IMAGE_INVALID;
    }
    static elabel_writeback wb;
    const int32_t ret = write_label(label, &wb);
    if (ret == -8 || wb.failed != elabel_pass::none) {
        return device_error("writing", ret);
    }
    if (!wb.read_back) {
        return device_error("reading back", ret);
    }
    if (ret != 0) {
        report_difference(path, label, wb.back);
        return IMAGE_MISMATCH;
    }
    return IMAGE_OK;
}
