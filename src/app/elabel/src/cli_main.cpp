#include <cstdio>
#include <cstring>

#include "elabel_cli.h"
#include "elabel_load.h"
#include "elabel_lock.h"
#include "elabel_log.h"
#include "quellix.h"

namespace {

constexpr uint32_t GET_BUFFER_LEN = 512;

// `get [id]`: prints one item's text.
int32_t run_get(const char *id_text)
{
    // Zeroed and longer than any item, so the text copied in stays terminated.
    uint8_t buffer[GET_BUFFER_LEN] = {};
    uint16_t length = 0;
    const auto id = static_cast<uint8_t>(common_16_char2int(id_text) & 0xFF);
    if (driver_elabel_get_data(id, buffer, sizeof(buffer), &length) < 0) {
        std::puts("[elabel_read] error.\r");
        elabel_usage();
        return -1;
    }
    if (length == 0) {
        std::puts("[elabel_read] invalid elabel data.\r");
        return -1;
    }
    std::printf("[elabel_data] %s\r\n", reinterpret_cast<const char *>(buffer));
    return 0;
}

// `getall`: the listing; without a label, the load's failure: bus busy or general.
int32_t run_getall(int32_t loaded)
{
    elabel_show_all();
    if (elabel_data != nullptr) {
        return 0;
    }
    return loaded == -8 ? -8 : -1;
}

// A read that found no label wrote one (or failed to): it says so and fails,
// whatever it printed.
int32_t tell_no_label(int32_t ret)
{
    uint32_t word = 0;
    if (!elabel_load_found_no_label(&word)) {
        return ret;
    }
    if (elabel_data != nullptr) {
        std::fprintf(stderr,
                     "elabel: the part held no label (its first word was 0x%08x): a label was "
                     "written there, the items that failed their check empty\n",
                     static_cast<unsigned>(word));
    } else {
        std::fprintf(stderr, "elabel: the part held no label (its first word was 0x%08x), and "
                             "none could be written there\n",
                     static_cast<unsigned>(word));
    }
    elabel_tell_writeback();
    return ret != 0 ? ret : -1;
}

// Every command but set, on the label as loaded; a command line that fits none
// gets the usage text and fails.
int32_t run_command(int argc, char *argv[], int32_t loaded)
{
    if (argc == 1) {
        elabel_usage();
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "getall") == 0) {
        return tell_no_label(run_getall(loaded));
    }
    if (argc == 3 && std::strcmp(argv[1], "get") == 0) {
        return tell_no_label(run_get(argv[2]));
    }
    elabel_usage();
    return -1;
}

// getall and get by a user who may not open the lock file: the published copy.
int32_t run_published(int argc, char *argv[], int lock_error)
{
    if (!elabel_use_published(lock_error)) {
        return -1;
    }
    const int32_t ret = run_command(argc, argv, 0);
    driver_elabel_release();
    return ret;
}

bool reads_label(int argc, char *argv[])
{
    return (argc == 2 && std::strcmp(argv[1], "getall") == 0) ||
           (argc == 3 && std::strcmp(argv[1], "get") == 0);
}

// --help, -h and --version, answered without touching the bus; false for
// anything else.
bool run_option(int argc, char *argv[])
{
    if (argc != 2) {
        return false;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        elabel_usage();
        return true;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("elabel %s\n", ELABEL_VERSION);
        return true;
    }
    return false;
}

} // namespace

extern "C" int32_t elabel_main(int argc, char *argv[])
{
    if (run_option(argc, argv)) {
        return elabel_finish(0, false);
    }
    elabel_writeback_untold();
    if (reads_label(argc, argv)) {
        if (const int lock_error = elabel_lock_file_error(); elabel_lacks_permission(lock_error)) {
            return elabel_finish(run_published(argc, argv, lock_error), false);
        }
    }
    const bool set = argc == 4 && std::strcmp(argv[1], "set") == 0;
    const elabel_lock_hold hold(set);
    const int32_t loaded = driver_elabel_init();
    if (loaded != 0) {
        ELABEL_ERR("driver_elabel_init failed.\n");
    }
    // set finishes its own output: before a signal held during its write-back acts.
    const int32_t ret =
        set ? elabel_set_run(argv) : elabel_finish(run_command(argc, argv, loaded), false);
    driver_elabel_release();
    // A user without the right to the lock file is told so, never that the bus is busy.
    return ret == -8 && elabel_lacks_permission(elabel_lock_open_error()) ? -1 : ret;
}
