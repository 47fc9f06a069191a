// elabel-image: shows, checks and builds label files, and dumps and programs
// the board's label through the label store.
#ifndef IMAGE_TOOL_H
#define IMAGE_TOOL_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "elabel.h"

// Exit statuses.
constexpr int IMAGE_OK = 0;
constexpr int IMAGE_INVALID = 1;   // the label does not check
constexpr int IMAGE_USAGE = 2;     // usage or file error
constexpr int IMAGE_DEVICE = 3;    // the board's label could not be read or written
constexpr int IMAGE_MISMATCH = 4;  // programmed, but the read-back differs

// The largest file taken: the EEPROM's whole 16-bit word-address space.
constexpr size_t IMAGE_FILE_MAX = 65536;

struct image_file {
    uint8_t bytes[IMAGE_FILE_MAX];
    size_t size;
    size_t label_at;
};

// A label file is bare (the label alone) or a whole-EEPROM image with the label
// at `offset`, which is ELABEL_FLASH_OFFSET unless given.
struct image_options {
    const char *output;
    const char *from;
    long offset;       // -1: not given
    long eeprom_size;  // -1: not given
    bool json;
    char **args;
    int nargs;
};

// "elabel-image: " and the message on standard error.
void image_error(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Files (image_file.cpp). Both return 0 or -errno; a write leaves the complete
// file or none (temporary file, fsync, rename, directory fsync).
int image_read_file(const char *path, image_file *file);
int image_write_file(const char *path, const uint8_t *bytes, size_t size);
// Sets label_at: 0 for a bare label when no offset is given, else the offset.
// 0; -1 when the file is too short for the label there.
int image_locate(image_file *file, long offset);
// Reads and locates, naming the file in any error: IMAGE_OK or IMAGE_USAGE.
int image_load(const char *path, long offset, image_file *file);

// Decoding (image_decode.cpp).
// Counts what is wrong (magic, items); with `report`, one line per problem on stderr.
size_t image_problems(const uint8_t *label, const char *path, bool report);
// The listing, with every byte that is not printable ASCII escaped.
void image_show_text(FILE *out, const uint8_t *label);
// The same as one JSON document (schema in elabel-image(1)).
void image_show_json(FILE *out, const uint8_t *label, size_t label_at);

// Item texts given as ID=TEXT (image_build.cpp): IMAGE_OK or IMAGE_USAGE.
int image_patch_item(uint8_t *label, const char *arg);

// Commands: each returns the exit status.
int image_show_run(const image_options &opt);
int image_check_run(const image_options &opt);
int image_build_run(const image_options &opt);
int image_dump_run(const image_options &opt);
int image_program_run(const image_options &opt);
int image_main(int argc, char *argv[]);

#endif
