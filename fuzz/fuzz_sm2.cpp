// SM2 verification, public-key checking and decryption against OpenSSL.
//  - A key pair from the input's random bytes: OpenSSL takes it as a pair
//    (its public key that of its private key), and a signature of the
//    input's digest verifies on both sides.
//  - That signature with one bit flipped, and any 64 bytes read as r || s
//    (r and s zero, at or above n included): our verdict is OpenSSL's.
//  - Any 65 bytes as a public key: accepted exactly when OpenSSL finds an
//    uncompressed point on the curve, and then any signature gets OpenSSL's
//    verdict under it.
//  - The input's tail as a message, encrypted under the generated key: it
//    decrypts on both sides (OpenSSL's in its DER form), and with one bit
//    flipped anywhere it is refused on both, our output left without a byte
//    of it; the tail as a ciphertext of its own gets OpenSSL's verdict.
// Each input runs in every SM2 form the processor has, by the fuzzers' own
// reading of it (test_forms.h).
//
// Input: [random 64] [digest 32] [entropy 32] [flip position] [flip mask]
//        [signature 64] [public key 65] [message...]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "forms/sm2_forms.h"
#include "sm2.h"
#include "sm2_internal.h"
#include "sm2_oracle.h"
#include "test_forms.h"

#include "fuzz_util.h"

namespace {

using fuzz::Reader;
using Bytes = std::vector<uint8_t>;

void check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_sm2: %s\n", what);
        std::abort();
    }
}

std::vector<const zenthal::Sm2Form *> forms() {
    std::vector<const zenthal::Sm2Form *> out;
    for (const char *const *n = zenthal::SM2_FORM_NAMES; *n != nullptr; ++n) {
        bool known = false;
        const bool host_has = test_forms::host_runs_sm2(*n, &known);
        const zenthal::Sm2Form *f = zenthal::sm2_form_named(*n);
        check(known && (f != nullptr) == host_has,
              "an SM2 form the library's offer and the processor disagree on");
        if (f != nullptr) out.push_back(f);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::vector<const zenthal::Sm2Form *> all = forms();
    Reader in{data, size};
    uint8_t random[64], e[32], entropy[32], raw_sig[64], raw_pub[65];
    in.take(random, 64);
    in.take(e, 32);
    in.take(entropy, 32);
    const uint8_t flip_pos = in.u8(), flip_mask = in.u8();
    in.take(raw_sig, 64);
    in.take(raw_pub, 65);
    const Bytes tail(in.p, in.p + in.n);

    for (const zenthal::Sm2Form *f : all) {
        uint8_t priv[32], pub[65], sig[64];
        check(zenthal::sm2_generate_key(*f, random, priv, pub) == SM2_SUCCESS, "key generation failed");
        const sm2_oracle::Pkey owned = sm2_oracle::key(pub, priv);
        EVP_PKEY *pair = owned.get();
        check(pair != nullptr, "OpenSSL refused a generated key pair");
        check(sm2_oracle::pair_matches(pair), "OpenSSL finds the public key not that of the private key");

        check(zenthal::sm2_sign_digest(*f, priv, nullptr, e, entropy, 32, sig) == SM2_SUCCESS,
              "signing failed");
        check(zenthal::sm2_verify_digest(*f, pub, e, sig) == SM2_SUCCESS, "our signature does not verify");
        check(sm2_oracle::verify_digest(pair, e, sig), "OpenSSL refuses our signature");

        uint8_t flipped[64];
        std::memcpy(flipped, sig, 64);
        flipped[flip_pos % 64] ^= flip_mask;
        const bool ours_flipped = zenthal::sm2_verify_digest(*f, pub, e, flipped) == SM2_SUCCESS;
        check(ours_flipped == sm2_oracle::verify_digest(pair, e, flipped),
              "a flipped signature: verdicts differ");
        check(ours_flipped == (flip_mask == 0), "a flipped signature verifies");
        const bool ours_raw = zenthal::sm2_verify_digest(*f, pub, e, raw_sig) == SM2_SUCCESS;
        check(ours_raw == sm2_oracle::verify_digest(pair, e, raw_sig), "arbitrary r || s: verdicts differ");

        if (!tail.empty()) {
            Bytes c(tail.size() + SM2_CIPHERTEXT_OVERHEAD), m(tail.size());
            size_t n = c.size();
            check(SM2_encrypt(pub, tail.data(), tail.size(), entropy, 32, c.data(), &n) == SM2_SUCCESS,
                  "encryption failed");
            check(sm2_oracle::crypt(pair, false, sm2_oracle::to_gm_der(c)) == tail,
                  "OpenSSL does not decrypt ours");
            n = m.size();
            check(SM2_decrypt(priv, c.data(), c.size(), m.data(), &n) == SM2_SUCCESS && m == tail,
                  "our ciphertext does not decrypt");
            // Not the leading 04, which OpenSSL's DER form does not carry.
            c[1 + (flip_pos * 131u + flip_mask) % (c.size() - 1)] ^= flip_mask;
            n = m.size();
            const bool opened = SM2_decrypt(priv, c.data(), c.size(), m.data(), &n) == SM2_SUCCESS;
            check(opened == (flip_mask == 0), "a flipped ciphertext: wrong verdict");
            check(opened || m == Bytes(m.size(), 0), "a refused ciphertext left bytes of its message");
            check(opened == !sm2_oracle::crypt(pair, false, sm2_oracle::to_gm_der(c)).empty(),
                  "a flipped ciphertext: verdicts differ");
        }
        if (tail.size() > SM2_CIPHERTEXT_OVERHEAD) {
            Bytes m(tail.size() - SM2_CIPHERTEXT_OVERHEAD);
            size_t n = m.size();
            const bool ours = SM2_decrypt(priv, tail.data(), tail.size(), m.data(), &n) == SM2_SUCCESS;
            check(ours == !sm2_oracle::crypt(pair, false, sm2_oracle::to_gm_der(tail)).empty(),
                  "an arbitrary ciphertext: verdicts differ");
        }

        const bool accepted = SM2_check_public_key(raw_pub) == SM2_SUCCESS;
        check(accepted == sm2_oracle::on_curve(raw_pub), "an arbitrary public key: verdicts differ");
        const int32_t rc = zenthal::sm2_verify_digest(*f, raw_pub, e, raw_sig);
        check((rc == SM2_ERR_PUBLIC_KEY) == !accepted, "verification under a refused key");
        if (accepted) {
            const sm2_oracle::Pkey other = sm2_oracle::key(raw_pub, nullptr);
            check(other != nullptr, "OpenSSL refused a point on its curve");
            check((rc == SM2_SUCCESS) == sm2_oracle::verify_digest(other.get(), e, raw_sig),
                  "under an arbitrary key: verdicts differ");
        }
    }
    return 0;
}
