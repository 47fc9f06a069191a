#include <array>

#include "elabel.h"

namespace {

// CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final XOR.
constexpr std::array<uint16_t, 256> make_crc_table()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < table.size(); ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000u) ? (crc << 1) ^ 0x1021u : crc << 1;
        }
        table[i] = static_cast<uint16_t>(crc);
    }
    return table;
}

constexpr std::array<uint16_t, 256> crc_table = make_crc_table();

} // namespace

extern "C" uint16_t elabel_crc16(const uint8_t *data, int32_t len)
{
    if (data == nullptr || len <= 0) {
        return 0;
    }
    unsigned crc = 0;
    for (int32_t i = 0; i < len; ++i) {
        crc = ((crc << 8) ^ crc_table[((crc >> 8) ^ data[i]) & 0xFFu]) & 0xFFFFu;
    }
    return static_cast<uint16_t>(crc);
}
