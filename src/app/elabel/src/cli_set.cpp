#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "elabel_lock.h"
#include "elabel_cli.h"
#include "elabel_log.h"
#include "elabel_retry.h"
#include "elabel_signals.h"

namespace {

constexpr int BUSY_TRIES = 3;
constexpr int32_t FIRST_SETTABLE_ID = 0x30;
constexpr int32_t LAST_SETTABLE_ID = 0x68;

bool all_hex_digits(const char *text)
{
    for (; *text != '\0'; ++text) {
        if (std::isxdigit(static_cast<unsigned char>(*text)) == 0) {
            return false;
        }
    }
    return true;
}

// The offset of the text's first control byte (0x00 to 0x1F, 0x7F), which a
// terminal would take as a command; -1 when it has none.
long control_byte_at(const char *text)
{
    for (const char *at = text; *at != '\0'; ++at) {
        const auto byte = static_cast<unsigned char>(*at);
        if (byte < 0x20 || byte == 0x7F) {
            return at - text;
        }
    }
    return -1;
}

} // namespace

extern "C" int32_t elabel_parse_item_id(const char *text, int32_t *out)
{
    if (text == nullptr || out == nullptr) {
        return -1;
    }
    if (std::strlen(text) <= 2) {
        return -1;
    }
    if (std::strncmp(text, "0x", 2) != 0 && std::strncmp(text, "0X", 2) != 0) {
        return -1;
    }
    if (!all_hex_digits(text + 2)) {
        return -1;
    }
    // At 64 bits everywhere: a 32-bit build keeps the 64-bit board's low 32 bits.
    char *end = nullptr;
    const long long value = std::strtoll(text, &end, 16);
    *out = static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(value)));
    return *end == '\0' ? 0 : -1;
}

extern "C" int32_t elabel_set_run(char *argv[])
{
    const elabel_lock_hold hold(true);  // one lock from the load to the end of the write-back
    elabel_writeback_untold();
    if (elabel_data == nullptr) {
        const int32_t ret = elabel_retry_while_busy(driver_elabel_init, BUSY_TRIES);
        if (ret != 0) {
            ELABEL_ERR("driver_elabel_init error. ret=%d\r\n", ret);
            std::puts("[elabel_set] elabel init error.\r");
            return elabel_finish(ret, false);
        }
    }

    int32_t id = 0;
    int32_t ret = elabel_parse_item_id(argv[2], &id);
    if (ret != 0 || id < FIRST_SETTABLE_ID || id > LAST_SETTABLE_ID) {
        // A well-formed id outside the settable range is refused like a missing item.
        if (ret == 0) {
            ret = -6;
        }
        ELABEL_ERR("item_id error. ret=%d item_id=0x%x\r\n", ret, static_cast<unsigned>(id));
        std::puts("[elabel_set] item id error.\r");
        return elabel_finish(ret, false);
    }

    const long control = control_byte_at(argv[3]);
    if (control >= 0) {
        ELABEL_ERR("text for item 0x%x refused: control byte 0x%02x at offset %ld\r\n",
                   static_cast<unsigned>(id), static_cast<unsigned char>(argv[3][control]),
                   control);
        std::puts("[elabel_set] error.\r");
        return elabel_finish(-6, false);
    }

    ret = set_data_to_elabel_mem(static_cast<uint8_t>(id & 0xFF), argv[3]);
    if (ret != 0) {
        ELABEL_ERR("driver_elabel_set_data error. ret=%d", ret);
        std::puts("[elabel_set] error.\r");
        return elabel_finish(ret, false);
    }

    // A termination signal during the write-back waits until its outcome is out.
    elabel_held_signals held{};
    elabel_hold_signals(&held);
    ret = elabel_retry_while_busy(driver_elabel_update, BUSY_TRIES);
    elabel_tell_writeback();
    if (ret != 0) {
        ELABEL_ERR("elabel_update error. ret=%d", ret);
        std::puts("[elabel_update] error.\r");
    } else {
        std::puts("[elabel_set] success.\r");
        ELABEL_LOG(LOG_INFO, "elabel_set success.");
    }
    ret = elabel_finish(ret, ret == 0);
    elabel_release_signals(&held);
    return ret;
}
