// Key derivation over SM3: SM3(Z || ct) for ct = 1, 2, ..., cut to klen bytes.
// Z is absorbed once; each block copies that context and adds only its
// counter, so a 64-byte Z (SM2's x || y) costs one compression a block, not
// two. Each digest goes straight into `out` (cut by SM3_Final itself);
// SM3_Final wipes each block's context and the one holding Z is wiped at
// the end, so no intermediate state stays behind.
#include "sm3_kdf.h"

#include "sm3.h"
#include "util/byteorder.h"
#include "util/wipe.h"

void SM3_KDF(uint8_t *out, uint32_t klen, const uint8_t *z, uint32_t zlen) {
    if (klen == 0) return;
    SM3_context with_z, ctx;
    SM3_Init(&with_z);
    SM3_Update(&with_z, z, zlen);
    uint8_t counter[4];
    uint32_t ct = 1;
    // The offset is 64-bit so that lengths within 32 bytes of 2^32 end
    // instead of wrapping back to the start of `out`.
    for (uint64_t o = 0; o < klen; o += 32, ++ct) {
        zenthal::store32_be(counter, ct);
        ctx = with_z;
        SM3_Update(&ctx, counter, 4);
        SM3_Final(&ctx, out + o, static_cast<uint32_t>(klen - o));
    }
    zenthal::secure_wipe(&with_z, sizeof with_z);
}
