#include "util/wipe.h"

#include <cstring>

namespace zenthal {

void secure_wipe(void *p, std::size_t n) {
    if (n == 0) return;
    std::memset(p, 0, n);
#if defined(__GNUC__) || defined(__clang__)
    __asm__ __volatile__("" : : "r"(p) : "memory");
#else
    volatile unsigned char *v = static_cast<volatile unsigned char *>(p);
    for (std::size_t i = 0; i < n; ++i) v[i] = 0;
#endif
}

}  // namespace zenthal
