// Constant time, as memcheck judges it (the ctgrind method): every secret
// (keys, round keys, plaintexts, and so everything computed from them, the
// decrypted padding and MAC included) is marked undefined, and memcheck
// reports any branch taken on it and any address computed from it. What a
// caller may see (result codes, lengths, outputs) is marked defined again
// before it is looked at. Run under valgrind:
//   zenthal_ct_check FORM   the SM4 form to run (sm4_forms.h); exits 2 when
//                           the processor lacks it
// Covered: SM3 and the KDF, the SM4 key schedule and blocks, CBC, the
// CBC-MAC, sealing and opening, the JCA Cipher's modes and every GHASH form
// the processor runs. A clean run prints "ERROR SUMMARY: 0 errors". The table form is expected
// to be reported: it shows that the check can fail.
#include <valgrind/memcheck.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "sm3.h"
#include "sm3_internal.h"
#include "sm3_kdf.h"
#include "sm4.h"
#include "sm4_cbc.h"
#include "ghash.h"
#include "forms/sm4_forms.h"
#include "sm4_block_modes.h"
#include "sm4_gcm.h"
#include "util/ct.h"

namespace {

template <class T>
void secret(T *p, std::size_t n = sizeof(T)) {
    VALGRIND_MAKE_MEM_UNDEFINED(p, n);
}

template <class T>
void publish(T *p, std::size_t n = sizeof(T)) {
    VALGRIND_MAKE_MEM_DEFINED(p, n);
}

uint8_t key[16], mac_key[16], iv[16], plain[1000], sealed[1100], out[1100], tag[16];

void fill(uint8_t *p, std::size_t n, uint8_t seed) {
    for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(seed + 31 * i + (i >> 3));
}

void sm3_and_kdf() {
    uint8_t digest[32], derived[100];
    secret(plain, sizeof plain);
    SM3_hash(digest, plain, sizeof plain);
    SM3_KDF(derived, sizeof derived, plain, 77);
    uint32_t state[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    zenthal::sm3_compress_portable(state, plain, 3);
    publish(digest, sizeof digest);
    publish(derived, sizeof derived);
}

void block_and_schedule() {
    SM4_round_keys rk;
    uint8_t block[16];
    secret(key, 16);
    secret(plain, 16);
    SM4_set_key(key, &rk);
    SM4_encrypt(plain, block, &rk);
    SM4_decrypt(block, block, &rk);
    secret(&rk);  // round keys from anywhere, not only from the schedule
    uint8_t many[16 * 37];
    zenthal::sm4_form().blocks(rk.rk, plain, many, 37, false);
    zenthal::sm4_form().blocks(rk.rk, many, many, 37, true);
#if defined(__x86_64__)
    if (zenthal::sm4_form_named("aesni-avx2") != nullptr) {
        zenthal::sm4_body_blocks_aesni(rk.rk, plain, many, 37, false);
        zenthal::sm4_body_blocks_aesni(rk.rk, many, many, 37, true);
    }
#endif
    publish(block, 16);
}

void cbc_and_mac() {
    uint32_t n = sizeof sealed;
    secret(key, 16);
    secret(plain, sizeof plain);
    int32_t rc = SM4_process_cbc(1, key, iv, plain, 999, sealed, &n);
    publish(&rc);
    publish(&n);
    publish(sealed, n);
    // Decryption: the plaintext and its padding are secret, whatever they say.
    for (uint32_t cap : {1008u, 990u}) {
        uint32_t m = cap;
        rc = SM4_process_cbc(0, key, iv, sealed, n, out, &m);
        publish(&rc);
        publish(&m);
    }
    sealed[n - 1] ^= 1;  // bad padding
    uint32_t m = sizeof out;
    rc = SM4_process_cbc(0, key, iv, sealed, n, out, &m);
    publish(&rc);
    rc = SM4_process_mac(key, iv, plain, 999, tag);
    publish(&rc);
    publish(tag, 16);
}

void seal_and_open() {
    secret(key, 16);
    secret(mac_key, 16);
    secret(plain, sizeof plain);
    uint32_t n = sizeof sealed;
    int32_t rc = SM4_process_cbc_and_mac(1, key, mac_key, iv, plain, 1000, sealed, &n);
    publish(&rc);
    publish(&n);
    publish(sealed, n);
    // Valid, bad MAC, bad padding: the same steps whatever the verdict.
    for (int kind = 0; kind < 3; ++kind) {
        if (kind == 1) sealed[n - 1] ^= 0x40;
        if (kind == 2) sealed[n - 17 - 16] ^= 0x01;  // the last ciphertext block's predecessor
        uint32_t m = sizeof out;
        rc = SM4_process_cbc_and_mac(0, key, mac_key, iv, sealed, n, out, &m);
        publish(&rc);
        publish(&m);
    }
}

// The modes of the JCA Cipher and GHASH, in every GHASH form this
// processor runs: key, data, hash key and accumulator secret.
void cipher_modes() {
    SM4_round_keys rk;
    secret(key, 16);
    secret(plain, sizeof plain);
    SM4_set_key(key, &rk);
    uint8_t chain[16], ctr[16], ks[16];
    std::memcpy(chain, iv, 16);
    zenthal::sm4_ecb(&rk, false, plain, out, 20);
    zenthal::sm4_cbc(&rk, false, chain, plain, out, 20);
    zenthal::sm4_cbc(&rk, true, chain, out, out, 20);
    std::memcpy(ctr, iv, 16);
    uint32_t pos = 0;
    zenthal::sm4_ctr(&rk, true, ctr, ks, &pos, plain, out, 333);
    uint32_t pad = zenthal::ct_pkcs7_length(out);
    publish(&pad);
    // The verdict of the Cipher's padded decryption and its GCM tag check,
    // which the bridge only passes on.
    int32_t verdict = zenthal::sm4_unpadded_length(out + 16, 32, 20);
    publish(&verdict);
    zenthal::Sm4GcmState st;
    zenthal::sm4_gcm_start(&rk, &st, iv);
    zenthal::sm4_gcm_aad(&st, plain, 21);
    zenthal::sm4_gcm_hash(&st, plain + 21, 300);
    zenthal::Sm4GcmState copy = st;
    zenthal::sm4_gcm_tag(&st, tag);
    publish(tag, 16);
    secret(tag, 16);
    verdict = zenthal::sm4_gcm_check_tag(&copy, tag, 16);
    publish(&verdict);
    uint8_t x[16] = {0}, h[16];
    std::memcpy(h, key, 16);
    for (zenthal::GhashFn g : {&zenthal::ghash_portable, zenthal::ghash_vclmul_form(),
                               zenthal::ghash_clmul_form(), zenthal::ghash_pmull_form()}) {
        if (g == nullptr) continue;
        secret(x, 16);
        g(x, h, plain, 21);
        publish(x, 16);
    }
    publish(out, sizeof out);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FORM\n", argv[0]);
        return 2;
    }
    if (!zenthal::sm4_use_form(argv[1])) {
        std::fprintf(stderr, "this processor lacks the SM4 form %s\n", argv[1]);
        return 2;
    }
    fill(key, 16, 1);
    fill(mac_key, 16, 2);
    fill(iv, 16, 3);
    fill(plain, sizeof plain, 4);
    sm3_and_kdf();
    block_and_schedule();
    cbc_and_mac();
    seal_and_open();
    cipher_modes();
    std::printf("ran the checks in form %s%s\n", argv[1], RUNNING_ON_VALGRIND ? " under valgrind" : "");
    return 0;
}
