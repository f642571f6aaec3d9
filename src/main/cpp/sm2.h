// SM2 on the recommended curve sm2p256v1 (GB/T 32918): digital signatures,
// public-key encryption and key exchange. Private keys are 32 big-endian bytes d with 1 <= d <= n - 2; public keys
// are 65 bytes, 04 || x || y, uncompressed; signatures are 64 bytes, r || s,
// each big-endian. Every private value is worked on in time independent of
// its bits, and wiped before returning. The library holds no random source
// of its own: callers pass the random bytes a key or a signature needs.
#ifndef ZENTHAL_SM2_H
#define ZENTHAL_SM2_H

#include <stddef.h>
#include <stdint.h>

#include "zenthal_export.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SM2_PRIVATE_KEY_LENGTH 32
#define SM2_PUBLIC_KEY_LENGTH 65
#define SM2_SIGNATURE_LENGTH 64
#define SM2_MAX_ID_LENGTH 8191  // bytes; the ID's length in bits must fit in 16 bits

// The default signer ID of GM/T 0009, "1234567812345678" (16 bytes).
#define SM2_DEFAULT_ID "1234567812345678"

// Result codes of the SM2 functions.
#define SM2_SUCCESS 1
#define SM2_ERR_PRIVATE_KEY (-16401)  // private key not in [1, n - 2], or an inverse that is not its own
#define SM2_ERR_PUBLIC_KEY (-16402)   // public key not 04 || x || y of a point on the curve
#define SM2_ERR_SIGNATURE (-16403)    // the signature does not verify (r or s out of range included)
#define SM2_ERR_ID_LENGTH (-16404)    // the ID is longer than SM2_MAX_ID_LENGTH bytes
#define SM2_ERR_DECRYPT (-16405)      // C1 not on the curve, an all-zero keystream, or C3 differs
#define SM2_ERR_OUTPUT_TOO_SMALL (-16406)  // the output's capacity is below what the operation writes
#define SM2_ERR_INPUT_LENGTH (-16407)      // an empty message, or a ciphertext of 97 bytes or fewer
#define SM2_ERR_EXCHANGE (-16408)          // the exchange's shared point is at infinity

// Bytes a ciphertext adds to its message: C1 (65) and C3 (32).
#define SM2_CIPHERTEXT_OVERHEAD 97

// Derives a key pair from 64 random bytes: d = (random mod (n - 2)) + 1, the
// public key d·G. Always returns SM2_SUCCESS.
ZENTHAL_API int32_t SM2_generate_key(const uint8_t random[64], uint8_t priv[32], uint8_t pub[65]);

// Writes the public key d·G of `priv`: SM2_SUCCESS or SM2_ERR_PRIVATE_KEY.
ZENTHAL_API int32_t SM2_public_key(const uint8_t priv[32], uint8_t pub[65]);

// SM2_SUCCESS when `pub` is 04 || x || y with x, y < p on the curve, else
// SM2_ERR_PUBLIC_KEY.
ZENTHAL_API int32_t SM2_check_public_key(const uint8_t pub[65]);

// Writes (1 + d)^-1 mod n, the per-key value signing needs, which a caller
// that signs often computes once: SM2_SUCCESS or SM2_ERR_PRIVATE_KEY.
ZENTHAL_API int32_t SM2_sign_inverse(const uint8_t priv[32], uint8_t inverse[32]);

// Writes Z = SM3(ENTL || id || a || b || xG || yG || x || y), the hash of
// the signer's identity and key: SM2_SUCCESS, SM2_ERR_ID_LENGTH or
// SM2_ERR_PUBLIC_KEY. `id` may be null when id_len is 0.
ZENTHAL_API int32_t SM2_compute_z(const uint8_t pub[65], const uint8_t *id, size_t id_len, uint8_t z[32]);

// Signs the digest e = SM3(Z || M). The nonce is derived from d, e and the
// `entropy_len` bytes at `entropy` together (an HMAC-SM3 generator), so a
// random source that fails or repeats never repeats a nonce for another
// digest; entropy may be null when entropy_len is 0, which signs
// deterministically. `inverse` is SM2_sign_inverse's value for this key, or
// null to compute it here. SM2_SUCCESS or SM2_ERR_PRIVATE_KEY.
ZENTHAL_API int32_t SM2_sign_digest(const uint8_t priv[32], const uint8_t *inverse, const uint8_t e[32],
                                    const uint8_t *entropy, size_t entropy_len, uint8_t sig[64]);

// SM2_SUCCESS when `sig` is a valid signature of the digest e under `pub`;
// SM2_ERR_SIGNATURE when it is not, SM2_ERR_PUBLIC_KEY when the key is not a
// point on the curve.
ZENTHAL_API int32_t SM2_verify_digest(const uint8_t pub[65], const uint8_t e[32], const uint8_t sig[64]);

// Signs the `msg_len` bytes at `msg` as the signer `id` with public key
// `pub` (null to derive it from `priv`): Z, e and SM2_sign_digest in one.
// SM2_SUCCESS, SM2_ERR_PRIVATE_KEY, SM2_ERR_PUBLIC_KEY or SM2_ERR_ID_LENGTH.
ZENTHAL_API int32_t SM2_sign(const uint8_t priv[32], const uint8_t *pub, const uint8_t *id, size_t id_len,
                             const uint8_t *msg, size_t msg_len, const uint8_t *entropy, size_t entropy_len,
                             uint8_t sig[64]);

// Verifies a signature of the `msg_len` bytes at `msg` by the signer `id`:
// SM2_SUCCESS, SM2_ERR_SIGNATURE, SM2_ERR_PUBLIC_KEY or SM2_ERR_ID_LENGTH.
ZENTHAL_API int32_t SM2_verify(const uint8_t pub[65], const uint8_t *id, size_t id_len, const uint8_t *msg,
                               size_t msg_len, const uint8_t sig[64]);

// Encrypts the `len` bytes at `msg` (at least one) to `pub` as
// C1 || C3 || C2, len + 97 bytes. The ephemeral k is derived from the
// `entropy_len` bytes at `entropy` together with `pub` and the message (an
// HMAC-SM3 generator keyed with SM3 of the entropy), so entropy that repeats
// never repeats k for another message; give at least 32 fresh random bytes.
// *outlen holds the capacity of `out` on entry and the bytes written on
// success, and is unchanged on failure. SM2_SUCCESS, SM2_ERR_PUBLIC_KEY,
// SM2_ERR_INPUT_LENGTH or SM2_ERR_OUTPUT_TOO_SMALL.
ZENTHAL_API int32_t SM2_encrypt(const uint8_t pub[65], const uint8_t *msg, size_t len, const uint8_t *entropy,
                                size_t entropy_len, uint8_t *out, size_t *outlen);

// Decrypts C1 || C3 || C2 (`len` bytes, at least 98) with `priv` into `out`,
// len - 97 bytes; *outlen as for SM2_encrypt. The check of C3 takes the same
// time whatever the bytes, and on SM2_ERR_DECRYPT `out` holds zeros where
// the message would be. SM2_SUCCESS, SM2_ERR_PRIVATE_KEY, SM2_ERR_DECRYPT,
// SM2_ERR_INPUT_LENGTH or SM2_ERR_OUTPUT_TOO_SMALL.
ZENTHAL_API int32_t SM2_decrypt(const uint8_t priv[32], const uint8_t *in, size_t len, uint8_t *out,
                                size_t *outlen);

// One side of the key exchange, as the initiator A (`responder` 0) or the
// responder B (`responder` != 0): the own static key pair, the own ephemeral
// pair r, R = r·G (from SM2_generate_key), the own Z, the peer's static and
// ephemeral public keys and the peer's Z. Writes the `klen` bytes of the
// shared key KDF(xV || yV || ZA || ZB) with ZA always the initiator's, and
// the two confirmation values: `confirm_b` = SM3(02 || yV || H), the one B
// sends and A checks, and `confirm_a` = SM3(03 || yV || H), the one A sends
// and B checks, H = SM3(xV || ZA || ZB || x1 || y1 || x2 || y2) with (x1, y1)
// A's ephemeral point and (x2, y2) B's; either may be null. SM2_SUCCESS,
// SM2_ERR_PRIVATE_KEY, SM2_ERR_PUBLIC_KEY (a peer point not on the curve)
// or SM2_ERR_EXCHANGE.
ZENTHAL_API int32_t SM2_key_exchange(int32_t responder, const uint8_t priv[32], const uint8_t pub[65],
                                     const uint8_t eph_priv[32], const uint8_t eph_pub[65], const uint8_t z[32],
                                     const uint8_t peer_pub[65], const uint8_t peer_eph_pub[65],
                                     const uint8_t peer_z[32], uint8_t *key, size_t klen, uint8_t *confirm_b,
                                     uint8_t *confirm_a);

#ifdef __cplusplus
}
#endif

#endif
