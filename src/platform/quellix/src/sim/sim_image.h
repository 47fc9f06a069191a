// The image file that holds the simulated chip's contents between calls.
#ifndef QUELLIX_SIM_IMAGE_H
#define QUELLIX_SIM_IMAGE_H

#include <cstdint>

// Opens `path` (creating it), takes an exclusive flock for the caller's whole
// call and loads CHIP24_SIZE bytes into `mem`. A new, empty file loads as a
// blank chip (all 0xFF) and sets `*created`. Returns 0 with the descriptor in
// `*fd`, or -errno with nothing left open (-EIO for a file of another size).
int sim_image_open(const char *path, int *fd, uint8_t *mem, bool *created);

// Writes `mem` back over the whole file. 0 or -errno.
int sim_image_store(int fd, const uint8_t *mem);

// Closes the file, which releases the lock.
void sim_image_close(int fd);

#endif
