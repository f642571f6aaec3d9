// Key derivation over SM3: SM3(Z || ct) for ct = 1, 2, ..., cut to klen bytes.
// Each digest goes straight into `out` (cut by SM3_Final itself), and
// SM3_Final wipes the context, so no intermediate digest stays behind.
#include "sm3_kdf.h"

#include "util/byteorder.h"
#include "sm3.h"

void SM3_KDF(uint8_t *out, uint32_t klen, const uint8_t *z, uint32_t zlen) {
    SM3_context ctx;
    uint8_t counter[4];
    uint32_t ct = 1;
    // The offset is 64-bit so that lengths within 32 bytes of 2^32 end
    // instead of wrapping back to the start of `out`.
    for (uint64_t o = 0; o < klen; o += 32, ++ct) {
        zenthal::store32_be(counter, ct);
        SM3_Init(&ctx);
        SM3_Update(&ctx, z, zlen);
        SM3_Update(&ctx, counter, 4);
        SM3_Final(&ctx, out + o, static_cast<uint32_t>(klen - o));
    }
}
