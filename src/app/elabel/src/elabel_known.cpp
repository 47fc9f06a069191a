#include "elabel_known.h"

#include <cstring>

#include "elabel_lock.h"

namespace {

uint8_t known_label[ELABEL_DATA_LEN];
bool known = false;

} // namespace

void elabel_known_note(const uint8_t *label, uint32_t length)
{
    if (length != ELABEL_DATA_LEN || !elabel_lock_held()) {
        return;
    }
    std::memcpy(known_label, label, ELABEL_DATA_LEN);
    known = true;
}

void elabel_known_forget()
{
    known = false;
}

const uint8_t *elabel_known()
{
    return known ? known_label : nullptr;
}
