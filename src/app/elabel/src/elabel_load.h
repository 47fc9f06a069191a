// What the last load found, beyond its result code, for the front end.
#ifndef ELABEL_LOAD_H
#define ELABEL_LOAD_H

#include <cstdint>

// The last load found a region without the magic (`*word` the word it held)
// and wrote a label there; the image is loaded only if that read back.
bool elabel_load_found_no_label(uint32_t *word);

#endif
