// A fake platform for in-process tests of the label store: an EEPROM in
// memory, a lock that can be made busy, injected faults and a captured log.
#ifndef FAKE_PLATFORM_H
#define FAKE_PLATFORM_H

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <syslog.h>

#include <csignal>

#include "elabel.h"

namespace fake {

constexpr size_t EEPROM_SIZE = 8192;

struct log_entry {
    int priority;
    std::string file;
    int line;
    std::string func;
    std::string message;
};

struct write_record {
    uint64_t offset;
    std::vector<uint8_t> bytes;
};

struct state {
    std::vector<uint8_t> eeprom = std::vector<uint8_t>(EEPROM_SIZE, 0xFF);

    // 1-based numbers of the read and write calls that fail.
    std::set<int> fail_reads;
    std::set<int> fail_writes;
    bool fail_every_read = false;
    int reads = 0;
    int writes = 0;
    std::vector<write_record> written;
    bool ignore_writes = false;  // writes succeed and store nothing (a write-protected part)
    int stuck_at = -1;           // EEPROM address of a worn cell that keeps its value
    std::vector<std::string> bad_calls;  // calls with other than the fixed device values

    bool lock_busy = false;
    bool lock_open_fails = false;
    int lock_opens = 0;
    int lock_closes = 0;
    int lock_requests = 0;
    std::string lock_path;
    unsigned lock_mode = 0;

    int fail_alloc_at = 0;  // 1-based number of the allocation that fails, 0 for none
    int allocs = 0;
    int frees = 0;
    int fail_copy_at = 0;
    int copies = 0;
    int fail_fill_at = 0;
    int fills = 0;

    std::vector<unsigned> sleeps;
    std::vector<log_entry> log;

    std::string record_dir;  // a fresh directory for each test's pending-write record
    // File calls go to the real file system; a call named here ("open", "read",
    // "write", "fsync", "close", "rename", "link", "unlink", "mkdir", "lstat",
    // "fchmod", "fchown") fails with the errno given instead, every time.
    std::map<std::string, int> file_faults;
    std::vector<std::string> file_calls;  // each file call, by name
    time_t now = 1796688000;              // the clock: 2026-12-08 00:00:00 UTC

    // A power cut: after this many 32-byte page writes (-1: never) the EEPROM's
    // contents go to cut_fd and the process ends on the spot.
    int cut_after_pages = -1;
    int cut_fd = -1;
    int pages = 0;
    // For each write call: whether the termination signals were held.
    std::vector<bool> writes_held_signals;
    sigset_t last_write_mask{};  // the signal mask of the last write call
};

extern state g;

// Resets the fake state and puts the fake calls into the store's platform table.
void install();
// Removes what install() made on disk.
void uninstall();

// The label region of the EEPROM (2360 bytes at offset 512).
std::vector<uint8_t> label();
void put_label(const std::vector<uint8_t> &image);

// A valid image: the magic, every item empty but those given as (id, text).
std::vector<uint8_t> make_image(const std::vector<std::pair<uint8_t, std::string>> &texts = {});

// Item access within an image buffer.
const elabel_item_desc &item_of(uint8_t id);
uint16_t crc_of(const std::vector<uint8_t> &image, uint8_t id);
uint16_t len_of(const std::vector<uint8_t> &image, uint8_t id);
std::string text_of(const std::vector<uint8_t> &image, uint8_t id);
void put_le16(std::vector<uint8_t> &image, size_t at, uint16_t v);

// Runs `body` in a child process that a power cut ends after `pages` page writes
// (or that ends when `body` returns), then takes the EEPROM as the cut left it.
// The record directory on disk is shared with the child.
void run_cut_short(int pages, void (*body)());

// The pending-write record's file and whether it exists.
std::string record_path();
bool record_exists();
// The names in the record directory that begin with `prefix`, sorted.
std::vector<std::string> files_like(const std::string &prefix);

// The log's messages as "func|message" strings, to compare in one expectation.
std::vector<std::string> messages();

// The store's current image as a vector (empty when none is loaded).
std::vector<uint8_t> current_image();

} // namespace fake

// Base fixture: a fresh fake platform and no image for every test.
class StoreTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

#endif
