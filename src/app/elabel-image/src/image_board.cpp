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

// What program writes and what its write-back came to; what recover found.
const uint8_t *program_label = nullptr;
elabel_result program_res;
double program_seconds = 0;
elabel_held_signals program_signals;  // from taking the lock until program has reported
elabel_result recovered;

// What the record directory holds beside the label: a record pending, a
// damaged one set aside (the label may be as a cut left it), a directory in
// the record's way. What it says waits until the lock is let go.
struct record_look {
    elabel_record_state state;
    bool torn;
    char torn_path[ELABEL_RECORD_PATH_MAX];
} looked;

bool look_at_records()
{
    looked.state = elabel_record_look();
    looked.torn = elabel_record_damaged_aside(looked.torn_path);
    return (looked.state != elabel_record_state::none &&
            looked.state != elabel_record_state::blocked) ||
           looked.torn;
}

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
    *pending = look_at_records();
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
    const double began = image_seconds();
    const int32_t ret = elabel_write_label(program_label, elabel_write_kind::whole, &program_res);
    program_seconds = image_seconds() - began;
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
    recovered = elabel_result{};
    elabel_settle(&recovered);
    elabel_set_unlock(fd);
    return 0;
}

// What recover says of what it found, and its exit status: one table.
struct recover_row {
    int32_t outcome;
    int status;
    const char *said;  // on standard output for 0, else on standard error; %s the record
};

constexpr recover_row RECOVER_ROWS[] = {
    {ELABEL_WRITEBACK_NONE, IMAGE_OK, "no unfinished write-back"},
    {ELABEL_WRITEBACK_FOUND, IMAGE_OK, "unfinished write-back finished: the board holds its label"},
    {ELABEL_WRITEBACK_WRITTEN, IMAGE_OK,
     "unfinished write-back finished: the board holds its label"},
    {ELABEL_WRITEBACK_NEVER, IMAGE_OK,
     "unfinished write-back had not changed the board's label: record removed"},
    {ELABEL_WRITEBACK_DAMAGED, IMAGE_INVALID,
     "recover: the pending-write record was damaged and was set aside, the board's label left "
     "alone: check it (the system log says what was wrong and where the record is)"},
    {ELABEL_WRITEBACK_FOREIGN, IMAGE_INVALID,
     "recover: the pending-write record does not fit the board's label and was set aside, the "
     "label left alone; the system log names where"},
    {ELABEL_WRITEBACK_EARLIER, IMAGE_INVALID,
     "recover: the pending-write record does not fit the board's label and was set aside, the "
     "label left alone; the system log names where"},
    {ELABEL_WRITEBACK_WORN, IMAGE_INVALID,
     "recover: the board read back other than the record's label (a worn cell?); the record "
     "was set aside; the system log names where"},
    {ELABEL_WRITEBACK_UNREAD, IMAGE_USAGE,
     "recover: the pending-write record %s could not be read; it stays (the system log says "
     "why)"},
    {ELABEL_WRITEBACK_LATER, IMAGE_DEVICE,
     "recover: the pending-write record %s is of a later format: it stays for the version "
     "that wrote it"},
    {ELABEL_WRITEBACK_BLOCKED, IMAGE_DEVICE,
     "recover: the record path is blocked: a directory; remove it (%s)"},
};
constexpr recover_row UNFINISHED = {
    ELABEL_WRITEBACK_PARTIAL, IMAGE_DEVICE,
    "recover: the unfinished write-back could not be finished (the board, or the record's file "
    "system); the record stays for the next run (the system log has the details)"};

const recover_row &recover_row_for(int32_t outcome)
{
    for (const recover_row &row : RECOVER_ROWS) {
        if (row.outcome == outcome) {
            return row;
        }
    }
    return UNFINISHED;
}

} // namespace

int image_board_read(uint8_t *label, bool *pending)
{
    const int32_t ret = read_label(label, pending);
    if (ret != 0) {
        return device_error("reading", ret);
    }
    if (looked.state == elabel_record_state::blocked) {
        image_error("the record path is blocked: a directory; remove it (%s)",
                    elabel_record_path());
    } else if (looked.state != elabel_record_state::none) {
        image_error("an unfinished write-back is pending (record %s): the board's label may be "
                    "as a cut left it; the next elabel command, elabel-image program or "
                    "'elabel-image recover' finishes it",
                    elabel_record_path());
    }
    if (looked.torn) {
        image_error("a damaged pending-write record was set aside as %s: the board's label may "
                    "be as a cut left it; check it, write a good label, then remove the record",
                    looked.torn_path);
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
    const recover_row &row = recover_row_for(recovered.outcome);
    if (recovered.pending[0] != '\0' && row.status <= IMAGE_INVALID) {
        image_error("recover: the board holds a label, but the pending-write record %s could "
                    "not be removed or set aside: %s",
                    recovered.pending, recovered.why);
        return IMAGE_DEVICE;
    }
    if (row.status == IMAGE_OK) {
        std::puts(row.said);
    } else {
        image_error(row.said, elabel_record_path());
    }
    return row.status;
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
    if (ret == NO_LOCK) {
        image_result_line(true, "not written", 0);
        return device_error("writing", ret);
    }
    const int status = image_tell_write(image_write{true, path, label, program_seconds}, program_res);
    if (status != IMAGE_OK) {
        return status;
    }
    if (elabel_held_signal_pending()) {
        image_error("%s: written to %s and read back; a signal that came meanwhile ends the run "
                    "now",
                    image_file_name(path), ELABEL_I2C_DEV);
    }
    return IMAGE_OK;
}
