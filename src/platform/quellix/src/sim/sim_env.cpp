#include "sim_env.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t DEFAULT_BUS_HZ = 100000;
constexpr uint64_t DEFAULT_TWR_US = 5000;

const char *env_or(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

// A decimal number in [min, max] from `text`, or false.
bool parse_u64(const char *text, uint64_t min, uint64_t max, uint64_t *out)
{
    if (text[0] < '0' || text[0] > '9') {
        return false;
    }
    errno = 0;
    char *end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) {
        return false;
    }
    *out = v;
    return true;
}

bool number_env(const char *name, uint64_t fallback, uint64_t min, uint64_t max, uint64_t *out)
{
    const char *text = env_or(name, nullptr);
    if (text == nullptr) {
        *out = fallback;
        return true;
    }
    return parse_u64(text, min, max, out);
}

bool adapter_env(sim_adapter *adapter)
{
    const char *kind = env_or("QUELLIX_SIM_ADAPTER", "i2c");
    if (std::strcmp(kind, "i2c") == 0) {
        *adapter = sim_adapter_full();
    } else if (std::strcmp(kind, "smbus") == 0) {
        *adapter = sim_adapter_smbus();
    } else if (std::strcmp(kind, "none") == 0) {
        *adapter = sim_adapter_full();
        adapter->funcs = 0;
    } else {
        return false;
    }
    uint64_t max_msg = 0;
    uint64_t short_count = 0;
    if (!number_env("QUELLIX_SIM_MAX_MSG", 0, 1, 8192, &max_msg) ||
        !number_env("QUELLIX_SIM_SHORT_COUNT", 0, 0, 1, &short_count)) {
        return false;
    }
    adapter->max_msg = static_cast<uint32_t>(max_msg);
    adapter->short_count = short_count != 0;
    return true;
}

bool signal_env(int *sig)
{
    struct named {
        const char *name;
        int sig;
    };
    static constexpr named signals[] = {{"KILL", SIGKILL}, {"INT", SIGINT},   {"TERM", SIGTERM},
                                        {"HUP", SIGHUP},   {"QUIT", SIGQUIT}, {"TSTP", SIGTSTP}};
    const char *name = env_or("QUELLIX_SIM_SIGNAL", "KILL");
    for (const named &s : signals) {
        if (std::strcmp(name, s.name) == 0) {
            *sig = s.sig;
            return true;
        }
    }
    return false;
}

bool protect_env(chip24_protect *protect)
{
    struct named {
        const char *name;
        chip24_protect mode;
    };
    static constexpr named modes[] = {{"none", chip24_protect::none},
                                      {"nack", chip24_protect::nack},
                                      {"ignore", chip24_protect::ignore}};
    const char *name = env_or("QUELLIX_SIM_WRITE_PROTECT", "none");
    for (const named &m : modes) {
        if (std::strcmp(name, m.name) == 0) {
            *protect = m.mode;
            return true;
        }
    }
    return false;
}

bool page_env(const char *name, uint64_t fallback, uint32_t *page)
{
    uint64_t v = 0;
    if (!number_env(name, fallback, 1, 256, &v) || (v & (v - 1)) != 0) {
        return false;
    }
    *page = static_cast<uint32_t>(v);
    return true;
}

bool driver_env(bool *driver)
{
    const char *name = env_or("QUELLIX_SIM_DRIVER", "none");
    *driver = std::strcmp(name, "at24") == 0;
    return *driver || std::strcmp(name, "none") == 0;
}

// "all", or decimal numbers separated by commas.
bool list_ok(const char *list)
{
    if (list == nullptr || std::strcmp(list, "all") == 0) {
        return true;
    }
    bool digit_before = false;
    for (const char *p = list; *p != '\0'; ++p) {
        if (*p >= '0' && *p <= '9') {
            digit_before = true;
        } else if (*p == ',' && digit_before) {
            digit_before = false;
        } else {
            return false;
        }
    }
    return digit_before;
}

} // namespace

int sim_env_load(sim_env *env)
{
    uint64_t hz = 0;
    uint64_t twr_us = 0;
    uint64_t stall = 0;
    uint64_t signal_after = 0;
    int sig = 0;
    uint64_t stuck = 0;
    uint64_t torn = 0;
    uint64_t fail_after_write = 0;
    sim_adapter adapter{};
    chip24_protect protect = chip24_protect::none;
    uint32_t chip_page = 0;
    uint32_t driver_page = 0;
    bool driver = false;
    uint64_t short_io = 0;
    if (!number_env("QUELLIX_SIM_BUS_HZ", DEFAULT_BUS_HZ, 1000, 5000000, &hz) ||
        !number_env("QUELLIX_SIM_TWR_US", DEFAULT_TWR_US, 0, 1000000, &twr_us) ||
        !number_env("QUELLIX_SIM_STALL_AFTER_READ", 0, 0, UINT32_MAX, &stall) ||
        !number_env("QUELLIX_SIM_SIGNAL_AFTER_PAGES", 0, 0, UINT32_MAX, &signal_after) ||
        !number_env("QUELLIX_SIM_STUCK_BYTE", CHIP24_SIZE, 0, CHIP24_SIZE - 1, &stuck) ||
        !number_env("QUELLIX_SIM_TORN_BYTES", CHIP24_PAGE, 0, CHIP24_PAGE - 1, &torn) ||
        !number_env("QUELLIX_SIM_FAIL_READ_AFTER_WRITE", 0, 0, 1, &fail_after_write) ||
        !number_env("QUELLIX_SIM_SHORT_IO", 0, 1, CHIP24_SIZE, &short_io) ||
        !page_env("QUELLIX_SIM_PAGE", CHIP24_PAGE, &chip_page) ||
        !page_env("QUELLIX_SIM_DRIVER_PAGE", 1, &driver_page) || !driver_env(&driver) ||
        !signal_env(&sig) || !adapter_env(&adapter) || !protect_env(&protect)) {
        return -EINVAL;
    }
    const char *stall_file = env_or("QUELLIX_SIM_STALL_FILE", nullptr);
    const char *fail_read = env_or("QUELLIX_SIM_FAIL_READ", nullptr);
    const char *fail_write = env_or("QUELLIX_SIM_FAIL_WRITE", nullptr);
    if ((stall != 0 && stall_file == nullptr) || !list_ok(fail_read) || !list_ok(fail_write)) {
        return -EINVAL;
    }
    *env = sim_env{env_or("QUELLIX_SIM_IMAGE", "quellix-eeprom.bin"),
                   fail_read,
                   fail_write,
                   static_cast<uint32_t>(stall),
                   stall_file,
                   static_cast<uint32_t>(hz),
                   twr_us * 1000,
                   adapter,
                   env_or("QUELLIX_SIM_STATS", nullptr),
                   static_cast<uint32_t>(signal_after),
                   sig,
                   static_cast<uint32_t>(torn),
                   fail_after_write != 0,
                   static_cast<uint32_t>(stuck),
                   protect,
                   chip_page,
                   driver,
                   driver_page,
                   static_cast<uint32_t>(short_io)};
    return 0;
}

bool sim_env_lists(const char *list, uint32_t call)
{
    if (list == nullptr) {
        return false;
    }
    if (std::strcmp(list, "all") == 0) {
        return true;
    }
    if (!list_ok(list)) {
        return false;
    }
    const char *p = list;
    while (*p != '\0') {
        char *end = nullptr;
        const unsigned long long n = std::strtoull(p, &end, 10);
        if (n == call) {
            return true;
        }
        p = *end == ',' ? end + 1 : end;
    }
    return false;
}
