// elabel-image: shows, checks, compares and builds label files, and dumps and
// programs the board's label through the label store.
#ifndef IMAGE_TOOL_H
#define IMAGE_TOOL_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "elabel.h"
#include "elabel_image.h"
#include "elabel_json.h"

// Exit statuses.
constexpr int IMAGE_OK = 0;
constexpr int IMAGE_INVALID = 1;   // the label does not check; diff: the labels differ
constexpr int IMAGE_USAGE = 2;     // usage or file error
constexpr int IMAGE_DEVICE = 3;    // the board's label could not be read or written
constexpr int IMAGE_MISMATCH = 4;  // programmed, but the read-back differs
constexpr int IMAGE_PENDING = 5;   // read from the board while an unfinished write-back is pending

// The largest file taken: the EEPROM's whole 16-bit word-address space.
constexpr size_t IMAGE_FILE_MAX = 65536;

struct image_file {
    uint8_t bytes[IMAGE_FILE_MAX];
    size_t size;
    size_t label_at;
};

// A label file is bare (the label alone) or a whole-EEPROM image with the label
// at `offset`, which is ELABEL_FLASH_OFFSET unless given. "-" names standard
// input or output.
struct image_options {
    const char *output;
    const char *from;
    const char *json_in;  // build and set --json FILE
    const char *item;     // show --item ID
    long offset;          // -1: not given
    long eeprom_size;     // -1: not given
    bool json;
    bool raw;
    bool replaced;        // extract: the label the record's write-back replaced
    char **args;
    int nargs;
    bool template_form;   // show --json --template
    const char *require;  // build --require ID,...
    bool dry_run;         // program, set --dry-run
};

// "elabel-image: " and the message on standard error.
void image_error(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// "byte" or "bytes", for "%zu %s".
const char *image_bytes(size_t n);
// How messages name a file: "standard input" for "-".
const char *image_file_name(const char *path);
bool image_is_stdio(const char *path);
// Fails when standard output could not take what was printed (a full disk, a
// closed pipe): IMAGE_OK or IMAGE_USAGE after a message.
int image_flush_stdout();

// Files (image_file.cpp). Reading returns 0 or -errno.
int image_read_file(const char *path, image_file *file);
// Sets label_at: 0 for a bare label when no offset is given, else the offset.
// 0; -1 when the file is too short for the label there.
int image_locate(image_file *file, long offset);
// Reads, naming the file in any error: IMAGE_OK or IMAGE_USAGE.
int image_read(const char *path, image_file *file);
// image_locate, naming the file in any error: IMAGE_OK or IMAGE_USAGE.
int image_place(const char *path, long offset, image_file *file);
// Reads and locates, naming the file in any error: IMAGE_OK or IMAGE_USAGE. A
// pending-write record is refused (its tag says what it is).
int image_load(const char *path, long offset, image_file *file);

// The operand "board" names the board's label ("./board" a file of that name).
bool image_is_board(const char *operand);
// A label file, or the board's label as stored, read raw under the lock, as a
// bare label: IMAGE_OK, IMAGE_USAGE (a file error) or IMAGE_DEVICE, each after
// a message. *pending: the board was read while a write-back is pending.
int image_load_label(const char *operand, long offset, image_file *file, bool *pending);
// The worse of two statuses of operands: a file or the board that could not be
// read (2, 3), then a board read while a write-back is pending (5), then an
// invalid label (1).
int image_worse(int a, int b);

// Output (image_output.cpp): standard output for "-", else a new regular file or
// one that replaces a regular file, keeping its mode (and owner, as root); the
// complete file or none. IMAGE_OK, or IMAGE_USAGE after a message.
int image_write_output(const char *path, const uint8_t *bytes, size_t size);

// Items (image_item.cpp).
// An item by name or by hexadecimal id as elabel takes it; nullptr if none.
const elabel_item_desc *image_find_item(const char *text, size_t len);
const char *image_item_name(const elabel_item_desc &item);
// An item each board has its own of (a serial number, a date, the asset tag),
// which a template leaves out.
bool image_is_per_board(const elabel_item_desc &item);
// A comma-separated list of items (--require): sets each one's row in *rows.
// IMAGE_OK, or IMAGE_USAGE after a message that `who` starts.
int image_item_list(const char *list, uint32_t *rows, const char *who);
// Checks a text for the item (length, control bytes) and stores it with the rest
// of the field zeroed, sealed. `who` starts any message. IMAGE_OK or IMAGE_USAGE.
int image_put_text(uint8_t *label, const elabel_item_desc &item, const uint8_t *text, size_t len,
                   const char *who);
// An ID=TEXT argument: IMAGE_OK or IMAGE_USAGE. Sets the item's row in *rows;
// an item already there is an error. `who` (the command) starts any message.
int image_patch_item(uint8_t *label, const char *arg, uint32_t *rows, const char *who = "build");

// Decoding (image_decode.cpp).
// What an erased chip holds in every byte.
constexpr uint8_t IMAGE_BLANK_BYTE = 0xFF;
// An erased chip: every byte of the label region IMAGE_BLANK_BYTE.
bool image_is_blank(const uint8_t *label);
// Counts what is wrong (a blank label, or the magic and each item); with `report`,
// one line per problem on stderr.
size_t image_problems(const uint8_t *label, const char *path, bool report);
// The first problem as text ("" when none); returns the count.
size_t image_first_problem(const uint8_t *label, char *text, size_t size);
// The state of an item as shown: "ok", "length-beyond-capacity", "checksum-mismatch".
inline const char *image_state_name(const uint8_t *label, const elabel_item_desc &item)
{
    return elabel_item_state_name(label, item);
}
// The bytes of an item that a listing shows: its length, never beyond its field.
inline uint16_t image_shown_len(const uint8_t *label, const elabel_item_desc &item)
{
    return elabel_item_shown_len(label, item);
}
// A text in double quotes with every byte that is not printable ASCII escaped.
void image_put_quoted(FILE *out, const uint8_t *bytes, size_t size);
// The listing: a header and every item, or one item's line.
void image_show_text(FILE *out, const uint8_t *label);
void image_show_item(FILE *out, const uint8_t *label, const elabel_item_desc &item);

// diff's lines on standard output, one per difference between labels a and b
// (image_diff.cpp); returns how many.
int image_print_differences(const uint8_t *a, const uint8_t *b);

// JSON: written by the store (elabel_json.h), read by image_json_in.cpp; schema
// in elabel-image(1).
// Patches `label` with the items of a document. Sets each item's row in *rows;
// an item given twice is an error. IMAGE_OK or IMAGE_USAGE after a message.
int image_json_patch(const uint8_t *doc, size_t size, const char *path, uint8_t *label,
                     uint32_t *rows);

// The board (image_board.cpp): reads the label as stored under the lock, with no
// repair and no write, and says on standard error when an unfinished write-back
// is pending (*pending). IMAGE_OK, or IMAGE_DEVICE after a message.
int image_board_read(uint8_t *label, bool *pending);

// What program and set wrote, for what they say of it (image_outcome.cpp).
struct elabel_result;
struct image_write {
    bool program;        // program FILE, else set
    const char *path;    // program's file
    const uint8_t *wrote;
    double seconds;      // the write-back's own time, lock taken to read back
};
// Says on standard error what the write-back came to, and in one line on
// standard output what was done and how long it took; its exit status.
int image_tell_write(const image_write &w, const elabel_result &res);
// The one line on standard output: "program: written and read back (0.95 s)".
void image_result_line(bool program, const char *result, double seconds);
// Seconds on a monotonic clock, to time a write-back.
double image_seconds();

// --verbose: the lines the store logs also go to standard error.
void image_log_to_stderr();

// Pending-write records (image_record.cpp), recognised by their format tag.
bool image_is_record(const image_file &file);
// show of a record: both labels, each named. IMAGE_OK, or IMAGE_INVALID for a
// damaged record.
int image_show_record(const char *path, const image_file &file);

// Commands: each returns the exit status.
int image_show_run(const image_options &opt);
int image_check_run(const image_options &opt);
int image_diff_run(const image_options &opt);
int image_build_run(const image_options &opt);
int image_dump_run(const image_options &opt);
int image_program_run(const image_options &opt);
int image_recover_run(const image_options &opt);
int image_publish_run(const image_options &opt);
int image_set_run(const image_options &opt);
// set's items from --json, --from and the operands, each sealed in its block of
// `patch`; *rows: the items named. IMAGE_OK, or IMAGE_USAGE after a message.
int image_set_items(const image_options &opt, uint8_t *patch, uint32_t *rows);
int image_extract_run(const image_options &opt);
// program --dry-run and set --dry-run (image_dry_run.cpp): what would change on
// the board, nothing written. IMAGE_OK nothing to change, IMAGE_INVALID changes.
int image_program_dry_run(const image_options &opt);
int image_set_dry_run(const image_options &opt);
int image_main(int argc, char *argv[]);

#endif
