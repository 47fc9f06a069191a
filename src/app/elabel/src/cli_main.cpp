#include <cstdio>
#include <cstring>

#include "elabel_lock.h"
#include "elabel_cli.h"
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

} // namespace

extern "C" int32_t elabel_main(int argc, char *argv[])
{
    const elabel_lock_hold hold(argc == 4 && std::strcmp(argv[1], "set") == 0);
    if (driver_elabel_init() != 0) {
        ELABEL_ERR("driver_elabel_init failed.\n");
    }
    int32_t ret = 0;
    switch (argc) {
    case 1:
        elabel_usage();
        break;
    case 2:
        if (std::strcmp(argv[1], "getall") == 0) {
            elabel_show_all();
        } else {
            elabel_usage();
        }
        break;
    case 3:
        if (std::strcmp(argv[1], "get") == 0) {
            ret = run_get(argv[2]);
        } else {
            elabel_usage();
        }
        break;
    case 4:
        if (std::strcmp(argv[1], "set") == 0) {
            ret = elabel_set_run(argv);
        } else {
            elabel_usage();
        }
        break;
    default:
        break;
    }
    driver_elabel_release();
    return ret;
}
