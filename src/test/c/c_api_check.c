// The public headers compiled as C and linked against the shared library.
#include <stdio.h>
#include <string.h>

#include "hwrand/rdrand.h"
#include "sm3.h"
#include "sm2.h"
#include "sm3_kdf.h"
#include "sm4.h"
#include "sm4_cbc.h"

int main(void) {
    static const uint8_t abc_digest[32] = {0x66, 0xc7, 0xf0, 0xf4, 0x62, 0xee, 0xed, 0xd9, 0xd1, 0xf2, 0xd4,
                                           0x6b, 0xdc, 0x10, 0xe4, 0xe2, 0x41, 0x67, 0xc4, 0x87, 0x5c, 0xf2,
                                           0xf7, 0xa2, 0x29, 0x7d, 0xa0, 0x2b, 0x8f, 0x4b, 0xa8, 0xe0};
    static const uint8_t sm4_key[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                        0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
    static const uint8_t sm4_cipher[16] = {0x68, 0x1e, 0xdf, 0x34, 0xd2, 0x06, 0x96, 0x5e,
                                           0x86, 0xb3, 0xe9, 0x4f, 0x53, 0x6e, 0x42, 0x46};
    uint8_t digest[32];
    uint8_t block[16];
    uint8_t envelope[64];
    uint8_t plain[32];
    uint32_t n = sizeof envelope;
    SM3_context ctx;
    SM4_round_keys rk;
    int failures = 0;

    SM3_hash(digest, (const uint8_t *)"abc", 3);
    if (memcmp(digest, abc_digest, 32) != 0) {
        puts("SM3_hash");
        ++failures;
    }
    SM3_Init(&ctx);
    SM3_Update(&ctx, (const uint8_t *)"abc", 3);
    SM3_Final(&ctx, digest, 32);
    if (memcmp(digest, abc_digest, 32) != 0) {
        puts("SM3 streaming");
        ++failures;
    }

    SM4_set_key(sm4_key, &rk);
    SM4_encrypt(sm4_key, block, &rk);
    if (memcmp(block, sm4_cipher, 16) != 0) {
        puts("SM4_encrypt");
        ++failures;
    }

    if (SM4_process_cbc_and_mac(1, sm4_key, sm4_cipher, sm4_key, (const uint8_t *)"abc", 3, envelope, &n) !=
            SM4_SUCCESS ||
        n != 32) {
        puts("seal");
        ++failures;
    }
    {
        uint32_t m = sizeof plain;
        if (SM4_process_cbc_and_mac(0, sm4_key, sm4_cipher, sm4_key, envelope, n, plain, &m) != SM4_SUCCESS ||
            m != 3 || memcmp(plain, "abc", 3) != 0) {
            puts("open");
            ++failures;
        }
    }
    {
        int supported = RdRand_isSupported();
        int cache = rdrand_support_cache;
        if (cache != (supported ? DRNG_SUPPORTED : DRNG_NO_RDRAND)) {
            puts("support cache");
            ++failures;
        }
    }
    SM3_KDF(digest, 32, (const uint8_t *)"abc", 3);
    {
        uint8_t random[64], priv[SM2_PRIVATE_KEY_LENGTH], pub[SM2_PUBLIC_KEY_LENGTH],
            sig[SM2_SIGNATURE_LENGTH];
        memset(random, 7, sizeof random);
        if (SM2_generate_key(random, priv, pub) != SM2_SUCCESS ||
            SM2_sign(priv, NULL, (const uint8_t *)SM2_DEFAULT_ID, 16, (const uint8_t *)"abc", 3, digest, 32,
                     sig) != SM2_SUCCESS ||
            SM2_verify(pub, (const uint8_t *)SM2_DEFAULT_ID, 16, (const uint8_t *)"abc", 3, sig) !=
                SM2_SUCCESS ||
            SM2_verify(pub, NULL, 0, (const uint8_t *)"abc", 3, sig) != SM2_ERR_SIGNATURE) {
            puts("SM2");
            ++failures;
        }
    }
    printf("%d failures\n", failures);
    return failures == 0 ? 0 : 1;
}
