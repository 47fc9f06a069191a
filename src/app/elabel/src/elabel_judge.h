// What the label region holds, judged against one write-back: the label it
// writes, the label it replaces, a state its erase pass or its write pass
// leaves when cut short, or something else (another label, another part).
#ifndef ELABEL_JUDGE_H
#define ELABEL_JUDGE_H

#include <cstdint>

enum class elabel_region { written, replaced, cut, other };

// All three are ELABEL_DATA_LEN bytes.
elabel_region elabel_judge(const uint8_t *device, const uint8_t *image, const uint8_t *replaced);

// ELABEL_DATA_LEN zero bytes: what an erase pass leaves, and what a clear writes.
const uint8_t *elabel_zeros();

#endif
