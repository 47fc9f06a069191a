// Runs the production elabel binary against the simulated EEPROM and
// collects its standard output, exit status and system log. Each test runs in
// its own mount namespace with a private /run (lock file) and a private parent
// of the pending-write record's directory.
#ifndef HARNESS_H
#define HARNESS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

struct logged {
    int priority;
    std::string text;     // the whole line, prefix included
    std::string func;     // from the "[file, line, func]: " prefix
    std::string message;  // after the prefix
};

struct run_result {
    std::string out;
    std::string err;  // standard error, when the test captures it
    int status = -1;  // exit status, or -1 when the process did not exit normally
    int signal = 0;   // the signal that ended the process, if one did
    std::vector<logged> log;
    std::vector<std::string> messages() const;  // "func|message" for each line
};

constexpr size_t SIM_SIZE = 8192;
constexpr size_t LABEL_AT = 512;
constexpr size_t LABEL_LEN = 2360;

class E2eTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs elabel with args; env adds variables for the simulator.
    run_result run(const std::vector<std::string> &args,
                   const std::map<std::string, std::string> &env = {});
    // Starts elabel without waiting; finish() collects it.
    int start(const std::vector<std::string> &args,
              const std::map<std::string, std::string> &env = {});
    run_result finish(int pid);

    std::vector<uint8_t> device() const;
    void put_device(const std::vector<uint8_t> &bytes);
    std::vector<uint8_t> label() const;
    void put_label(const std::vector<uint8_t> &image);

    std::string dir_;
    std::string image_path_;
    std::string stdin_path_;   // the runs' standard input; /dev/null when empty
    std::string stdout_path_;  // the runs' standard output instead of the pipe (/dev/full)
    bool capture_err_ = false;  // standard error into run_result::err, not the test's own
    std::string program_;      // the binary the runs start; the one under test when empty
    int run_as_ = -1;          // a user id (and group id) the runs take instead of the test's

private:
    struct child {
        int out_fd;
        std::string log_path;
        std::string err_path;
    };
    std::map<int, child> children_;
    int runs_ = 0;
};

// Whether a child can take another user id (the test runs as root).
bool can_run_as_other_user();

// A valid label image with the given (id, text) items.
std::vector<uint8_t> make_label(const std::vector<std::pair<uint8_t, std::string>> &texts = {});
uint16_t xmodem_crc(const uint8_t *data, size_t len);
// Checks magic, lengths and checksums of every item; returns what is wrong, or "".
std::string label_problems(const std::vector<uint8_t> &image);
size_t item_capacity(uint8_t id);
std::string item_text(const std::vector<uint8_t> &image, uint8_t id);
// The regular files beside the pending-write record whose names begin with
// `prefix`, by name; the kept labels, oldest first by name.
std::map<std::string, std::vector<uint8_t>> record_dir_files(const std::string &prefix);
std::vector<std::vector<uint8_t>> kept_labels();

// Holds a whole-file write lock on the tool's lock file from this process.
class lock_holder {
public:
    lock_holder();
    ~lock_holder();
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

extern const char *const USAGE;
extern const char *const LOCK_FILE;
extern const char *const RECORD_FILE;  // the pending-write record

#endif
