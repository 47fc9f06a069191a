// The board's label, through the label store: the same device, address, offset
// and lock file as elabel.
#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "elabel_image.h"
#include "elabel_platform.h"
#include "elabel_record.h"
#include "elabel_report.h"
#include "elabel_retry.h"
#include "elabel_signals.h"
#include "elabel_writeback.h"
#include "image_tool.h"

namespace {

constexpr int READ_TRIES = 3;
constexpr int BUSY_TRIES = 3;
constexpr int32_t NO_LOCK = -8;

// What program writes and what its write-back found; what recover found.
const uint8_t *program_label = nullptr;
elabel_writeback program_wb;
elabel_held_signals program_signals;  // from taking the lock until program has reported
elabel_recovery recovered = elabel_recovery::none;

// Reads the label region as stored, under the lock: no check, no repair, no
// write-back; and whether a write-back is pending meanwhile. 0; NO_LOCK the
// lock was not obtained; 1 every read failed.
int32_t read_label(uint8_t *label, bool *pending)
{
    int32_t fd = -1;
    if (elabel_set_lock(&fd, ELABEL_LOCK_TRIES) != 0) {
        return NO_LOCK;
    }
    int32_t ret = 1;
    for (int attempt = 0; attempt < READ_TRIES && ret != 0; ++attempt) {
        ret = driver_flash_readElectronicLabel(label, ELABEL_DATA_LEN);
    }
    *pending = elabel_record_pending();
    elabel_set_unlock(fd);
    return ret;
}

// The lock was not obtained: a lock file that cannot be opened (no permission,
// no /run) is told apart from a lock held by another run.
void report_no_lock(const char *what)
{
    const int fd = elabel_platform.file.open(ELABEL_LOCK_FILE, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        image_error("%s %s: cannot open the lock file %s: %s", what, ELABEL_I2C_DEV,
                    ELABEL_LOCK_FILE, std::strerror(errno));
        return;
    }
    elabel_platform.file.close(fd);
    image_error("%s %s: the label is locked by another run (bus busy)", what, ELABEL_I2C_DEV);
}

int device_error(const char *what, int32_t ret)
{
    if (ret == NO_LOCK) {
        report_no_lock(what);
    } else {
        image_error("%s %s failed: the transfer failed; the system log has the details", what,
                    ELABEL_I2C_DEV);
    }
    return IMAGE_DEVICE;
}

// Writes program_label with the store's write-back, which reads it back under
// the same lock: 0, -1 or NO_LOCK. A termination signal that comes once the
// lock is taken waits until program has said what it did.
int32_t write_label()
{
    int32_t fd = -1;
    if (elabel_set_lock(&fd, ELABEL_LOCK_TRIES) != 0) {
        return NO_LOCK;
    }
    elabel_hold_signals(&program_signals);
    const int32_t ret = elabel_writeback_run(&program_wb, program_label);
    elabel_set_unlock(fd);
    return ret;
}

// Lets a signal held for program act once its report is out.
struct program_signals_release {
    ~program_signals_release() { elabel_release_signals(&program_signals); }
};

// Settles a pending write-back under the lock: 0, or NO_LOCK.
int32_t recover_locked()
{
    int32_t fd = -1;
    if (elabel_set_lock(&fd, ELABEL_LOCK_TRIES) != 0) {
        return NO_LOCK;
    }
    recovered = elabel_record_recover();
    elabel_set_unlock(fd);
    return 0;
}

void report_difference(const char *path, const uint8_t *wrote, const uint8_t *read)
{
    size_t at = 0;
    while (wrote[at] == read[at]) {
        ++at;
    }
    const char *where = "magic";
    for (const elabel_item_desc &item : elabel_item_table) {
        if (at >= item.offset) {
            where = image_item_name(item);
        }
    }
    image_error("%s: read back from %s differs at label byte %zu (%s): wrote 0x%02x, read 0x%02x",
                image_file_name(path), ELABEL_I2C_DEV, at, where, wrote[at], read[at]);
}

} // namespace

int image_board_read(uint8_t *label, bool *pending)
{
    const int32_t ret = read_label(label, pending);
    if (ret != 0) {
        return device_error("reading", ret);
    }
    if (*pending) {
        image_error("an unfinished write-back is pending (record %s): the board's label may be "
                    "as a cut left it; the next elabel command, elabel-image program or "
                    "'elabel-image recover' finishes it",
                    elabel_record_path());
    }
    return IMAGE_OK;
}

int image_dump_run(const image_options &opt)
{
    uint8_t label[ELABEL_DATA_LEN];
    bool pending = false;
    if (image_board_read(label, &pending) != IMAGE_OK) {
        return IMAGE_DEVICE;
    }
    const int written = image_write_output(opt.output, label, sizeof(label));
    return written == IMAGE_OK && pending ? IMAGE_PENDING : written;
}

int image_recover_run(const image_options &)
{
    if (elabel_retry_while_busy(recover_locked, BUSY_TRIES) != 0) {
        return device_error("recovering on", NO_LOCK);
    }
    switch (recovered) {
    case elabel_recovery::none:
        std::puts("no unfinished write-back");
        return IMAGE_OK;
    case elabel_recovery::finished:
        std::puts("unfinished write-back finished: the board holds its label");
        return IMAGE_OK;
    case elabel_recovery::unchanged:
        std::puts("unfinished write-back had not changed the board's label: record removed");
        return IMAGE_OK;
    case elabel_recovery::discarded:
        image_error("recover: the pending-write record was damaged and is gone, the board's "
                    "label left alone: check it (the system log says what was wrong)");
        return IMAGE_INVALID;
    case elabel_recovery::set_aside:
        image_error("recover: the pending-write record does not fit the board's label and was "
                    "set aside, the label left alone; the system log names where");
        return IMAGE_INVALID;
    case elabel_recovery::dropped:
        image_error("recover: the pending-write record does not fit the board's label and, "
                    "since it could not be set aside, was removed; the label left alone");
        return IMAGE_INVALID;
    case elabel_recovery::kept_unreadable:
        image_error("recover: the pending-write record %s could not be read; it stays (the "
                    "system log says why)",
                    elabel_record_path());
        return IMAGE_USAGE;
    case elabel_recovery::kept_unremovable:
        image_error("recover: the board holds a label, but the pending-write record %s could "
                    "not be removed: %s",
                    elabel_record_path(), elabel_report.why);
        return IMAGE_DEVICE;
    case elabel_recovery::kept_device:
        break;
    }
    image_error("recover: the unfinished write-back could not be finished (the board, or "
                "the record's file system); the record stays for the next run (the system "
                "log has the details)");
    return IMAGE_DEVICE;
}

int image_program_run(const image_options &opt)
{
    if (opt.dry_run) {
        return image_program_dry_run(opt);
    }
    static image_file file;
    const char *path = opt.args[0];
    if (image_load(path, opt.offset, &file) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    const uint8_t *label = file.bytes + file.label_at;
    if (image_problems(label, path, true) != 0) {
        image_error("%s: not programmed: the label does not check", image_file_name(path));
        return IMAGE_INVALID;
    }
    program_label = label;
    const program_signals_release release{};
    const int32_t ret = elabel_retry_while_busy(write_label, BUSY_TRIES);
    // Nothing was written (a pending record that stays, a label that could not
    // be read or kept): the store says why.
    if (ret != NO_LOCK && program_wb.failed == elabel_pass::not_started) {
        image_error("%s: not programmed: %s", image_file_name(path), elabel_report.why);
        return IMAGE_DEVICE;
    }
    if (ret != NO_LOCK && elabel_report.recorded == 0 && elabel_report.why[0] != '\0') {
        image_error("%s: written without a pending-write record (%s): a cut during the "
                    "write-back would have lost items",
                    image_file_name(path), elabel_report.why);
    }
    if (ret == NO_LOCK || program_wb.failed != elabel_pass::none) {
        return device_error("writing", ret);
    }
    if (!program_wb.read_back) {
        return device_error("reading back", ret);
    }
    if (ret != 0 && program_wb.region == elabel_region::replaced) {
        image_error("%s: not programmed: %s took the writes, but the label reads back as it "
                    "was: the part ignored the writes (write protection?)",
                    image_file_name(path), ELABEL_I2C_DEV);
        return IMAGE_DEVICE;
    }
    if (ret != 0) {
        report_difference(path, label, program_wb.back);
        return IMAGE_MISMATCH;
    }
    if (elabel_held_signal_pending()) {
        image_error("%s: written to %s and read back; a signal that came meanwhile ends the run "
                    "now",
                    image_file_name(path), ELABEL_I2C_DEV);
    }
    return IMAGE_OK;
}
