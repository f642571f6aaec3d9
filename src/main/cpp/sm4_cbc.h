// SM4 modes: CBC with PKCS#7 padding, CBC-MAC with ISO/IEC 9797-1 padding
// method 2, and the encrypt-and-MAC envelope (ciphertext || 16-byte MAC).
// Key, MAC key and IV are 16 bytes each; `out` must not overlap `in`.
#ifndef ZENTHAL_SM4_CBC_H
#define ZENTHAL_SM4_CBC_H

#include <stdint.h>

#include "zenthal_export.h"

#ifdef __cplusplus
extern "C" {
#endif

// Result codes of the three mode functions.
#define SM4_SUCCESS 1
#define SM4_ERR_INPUT_LENGTH (-16385)      // decrypt/open: length not acceptable
#define SM4_ERR_OUTPUT_TOO_SMALL (-16386)  // capacity below what is needed
#define SM4_ERR_BAD_PADDING (-16387)       // last block has no valid PKCS#7 padding
#define SM4_ERR_MAC_MISMATCH (-16388)      // open: recomputed MAC differs

// flag != 0 encrypts `len` bytes with PKCS#7 padding, flag == 0 decrypts and
// unpads. *outlen holds the capacity of `out` on entry and the bytes written
// on success; it is unchanged on every failure. A failed decryption may leave
// the plaintext of all blocks but the last in `out`; the padding is judged in
// time independent of its bytes. Encrypting a `len` of 4294967280 or more
// (padded length above 32 bits) returns SM4_ERR_OUTPUT_TOO_SMALL with
// nothing read or written.
ZENTHAL_API int32_t SM4_process_cbc(int32_t flag, const uint8_t key[16], const uint8_t iv[16],
                                    const uint8_t *in, uint32_t len, uint8_t *out, uint32_t *outlen);

// Writes the 16-byte CBC-MAC of the `len` bytes at `in` to `mac`, with `iv`
// as the first chaining value. Always returns SM4_SUCCESS.
ZENTHAL_API int32_t SM4_process_mac(const uint8_t key[16], const uint8_t iv[16], const uint8_t *in,
                                    uint32_t len, uint8_t mac[16]);

// flag != 0 seals `len` plaintext bytes into ciphertext || MAC; flag == 0
// opens an envelope. *outlen as for SM4_process_cbc, except that after
// SM4_ERR_MAC_MISMATCH `out` and *outlen hold the rejected plaintext, which
// the caller must discard. Opening takes the same time whatever the envelope
// holds: for a given `len` and capacity, a bad padding, a bad MAC and a
// success cannot be told apart by time, only by the result code. Round keys
// and working blocks are wiped before returning. Sealing a `len` of
// 4294967264 or more (envelope length above 32 bits) returns
// SM4_ERR_OUTPUT_TOO_SMALL with nothing read or written.
//
// The IV is not authenticated, and must not repeat. The MAC chain starts
// from `iv` and absorbs iv XOR the first plaintext block, so the IV drops
// out of the MAC: opened under another IV, an envelope still verifies, and
// its first plaintext block comes out XORed with the difference of the two
// IVs. The envelope does not carry the IV; both sides must agree on it as on
// a key. Sealing two messages under the same keys and IV shows which
// messages are equal, and which start with the same blocks. The format is
// fixed, so: use a fresh random IV for every message, send it with the
// envelope and authenticate it in the protocol around it; for new data,
// prefer an authenticated mode such as SM4-GCM.
ZENTHAL_API int32_t SM4_process_cbc_and_mac(int32_t flag, const uint8_t key[16], const uint8_t mac_key[16],
                                            const uint8_t iv[16], const uint8_t *in, uint32_t len,
                                            uint8_t *out, uint32_t *outlen);

#ifdef __cplusplus
}
#endif

#endif
