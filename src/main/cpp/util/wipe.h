// The one wipe of the library, for keys, round keys, plaintext and every
// working copy of them. Internal to the library.
#ifndef ZENTHAL_UTIL_WIPE_H
#define ZENTHAL_UTIL_WIPE_H

#include <cstddef>

namespace zenthal {

// Zeroes n bytes at p. Out of line and behind a memory barrier, so the
// optimiser cannot drop it even when the memory dies right after; compiled
// for the baseline instruction set, so a caller built for AVX2 or AVX-512
// never supplies the copy the linker keeps.
void secure_wipe(void *p, std::size_t n);

}  // namespace zenthal

#endif
