#include "elabel_judge.h"

#include <algorithm>
#include <cstring>

#include "elabel.h"

namespace {

// The EEPROM's page: no write crosses one, so a write cycle cut short leaves
// at most one page in any state. The label starts on a page boundary.
#ifndef ELABEL_EEPROM_PAGE
#define ELABEL_EEPROM_PAGE 32
#endif
constexpr size_t PAGE = ELABEL_EEPROM_PAGE;
constexpr size_t PAGES = (ELABEL_DATA_LEN + PAGE - 1) / PAGE;
static_assert(ELABEL_FLASH_OFFSET % PAGE == 0, "the label starts on a page");


// Zeroed storage rather than a constant: a label's worth of read-only zeros
// would take as much again in the program's image.
uint8_t zeros[ELABEL_DATA_LEN];

bool same_page(const uint8_t *device, const uint8_t *ref, size_t page)
{
    const size_t at = page * PAGE;
    return std::memcmp(device + at, ref + at, std::min(PAGE, ELABEL_DATA_LEN - at)) == 0;
}

// A pass writing `to` over `from` page by page, cut short once: the pages
// before the cut hold `to`, the pages after it `from`, the page of the cut
// anything. The first page that is not `to` can always be taken for the page
// of the cut. (A write attempt that failed part-way and a retry cut short
// before that point leave two torn pages: not judged a cut, so set aside.)
bool cut_pass(const uint8_t *device, const uint8_t *to, const uint8_t *from)
{
    size_t cut = 0;
    while (cut < PAGES && same_page(device, to, cut)) {
        ++cut;
    }
    for (size_t page = cut + 1; page < PAGES; ++page) {
        if (!same_page(device, from, page)) {
            return false;
        }
    }
    return true;
}

} // namespace

const uint8_t *elabel_zeros()
{
    return zeros;
}

elabel_region elabel_judge(const uint8_t *device, const uint8_t *image, const uint8_t *replaced)
{
    if (std::memcmp(device, image, ELABEL_DATA_LEN) == 0) {
        return elabel_region::written;
    }
    if (std::memcmp(device, replaced, ELABEL_DATA_LEN) == 0) {
        return elabel_region::replaced;
    }
    // The erase pass writes zeros over the replaced label, the write pass the
    // image over the zeros.
    if (cut_pass(device, zeros, replaced) || cut_pass(device, image, zeros)) {
        return elabel_region::cut;
    }
    return elabel_region::other;
}
