// Many independent SM4 blocks under one key record, for the modes that are
// parallel across blocks (CBC decryption, ECB, CTR, GCM). Internal to the
// library: not part of the C interface.
#ifndef ZENTHAL_SM4_BLOCKS_H
#define ZENTHAL_SM4_BLOCKS_H

#include <cstddef>
#include <cstdint>

#include "sm4.h"

namespace zenthal {

// Enciphers (decrypt false) or deciphers `nblocks` 16-byte blocks of `in`
// into `out` under the encryption record `rk`. `out` may equal `in`; the two
// must not overlap otherwise.
void sm4_crypt_blocks(const SM4_round_keys *rk, const uint8_t *in, uint8_t *out, std::size_t nblocks,
                      bool decrypt);

}  // namespace zenthal

#endif
