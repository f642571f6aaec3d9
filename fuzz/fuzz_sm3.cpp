// SM3, differential: the message fed to the streaming triple in pieces cut
// at fuzzer-chosen points, the one-shot hash and OpenSSL all give the same
// digest. SM3_Final with the fuzzer's digest length writes exactly its
// prefix and leaves the context zeroed.
//
// The Java API keeps the context in a Java array that a caller could forge,
// so any 104 bytes must be a context the engine works on without leaving
// its memory: the first 104 message bytes are also taken as a forged
// context, the rest absorbed from it whole and in two pieces, and both must
// finish to the same digest with the context zeroed.
//
// Input: [split count (low 4 bits)] [digest-length selector]
//        [split count x 16-bit offsets, little-endian] [message...]
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "sm3.h"
#include "fuzz_util.h"

namespace {

using fuzz::Reader;

const EVP_MD *openssl_sm3() {
    static EVP_MD *md = EVP_MD_fetch(nullptr, "SM3", nullptr);
    CHECK(md != nullptr);
    return md;
}

// Reads header fields; past the end of the input every field reads as 0.
// Covers short prefixes, exactly 32, and lengths whose unsigned comparison
// with 32 matters (bit 31 set, all ones).
uint32_t digest_length(uint8_t sel) {
    if (sel <= 40) return sel;
    switch (sel & 3) {
        case 0:
            return 64;
        case 1:
            return 0xFFFFFFFFu;
        case 2:
            return 0x80000000u | sel;
        default:
            return 32;
    }
}

uint8_t guard(size_t i) { return static_cast<uint8_t>(0xA5 ^ (i * 0x3B)); }

// Absorbs `n` bytes from an allocation of exactly that size, so ASan sees
// any read past them.
void absorb(SM3_context *ctx, const uint8_t *p, size_t n) {
    if (n == 0) {
        SM3_Update(ctx, nullptr, 0);
        return;
    }
    std::unique_ptr<uint8_t[]> copy(new uint8_t[n]);
    std::memcpy(copy.get(), p, n);
    SM3_Update(ctx, copy.get(), static_cast<uint32_t>(n));
}

void forged_context(const uint8_t *msg, size_t len, uint16_t raw_cut) {
    const size_t rest = len - sizeof(SM3_context);
    const uint8_t *const tail = msg + sizeof(SM3_context);
    const size_t cut = raw_cut % (rest + 1);

    std::unique_ptr<SM3_context> whole(new SM3_context);
    std::unique_ptr<SM3_context> split(new SM3_context);
    std::memcpy(whole.get(), msg, sizeof(SM3_context));
    std::memcpy(split.get(), msg, sizeof(SM3_context));
    absorb(whole.get(), tail, rest);
    absorb(split.get(), tail, cut);
    absorb(split.get(), tail + cut, rest - cut);
    CHECK(std::memcmp(whole.get(), split.get(), sizeof(SM3_context)) == 0);

    uint8_t a[32], b[32];
    SM3_Final(whole.get(), a, 32);
    SM3_Final(split.get(), b, 32);
    CHECK(std::memcmp(a, b, 32) == 0);
    const uint8_t *const wiped = reinterpret_cast<const uint8_t *>(whole.get());
    for (size_t i = 0; i < sizeof(SM3_context); ++i) CHECK(wiped[i] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Reader r{data, size};
    const unsigned splits = r.u8() & 15u;
    const uint32_t digest_len = digest_length(r.u8());
    std::vector<uint16_t> raw_cuts(splits);
    for (auto &c : raw_cuts) c = r.u16();
    const uint8_t *const msg = r.p;
    const size_t len = r.n;

    uint8_t expected[32];
    unsigned int md_len = 0;
    CHECK(EVP_Digest(msg, len, expected, &md_len, openssl_sm3(), nullptr) == 1);
    CHECK(md_len == 32);

    // The message ends where the fuzzer's buffer ends, so ASan sees any
    // read past it.
    uint8_t oneshot[32];
    SM3_hash(oneshot, msg, static_cast<uint32_t>(len));
    CHECK(std::memcmp(oneshot, expected, 32) == 0);

    std::vector<size_t> cuts;
    for (uint16_t c : raw_cuts) cuts.push_back(c % (len + 1));
    std::sort(cuts.begin(), cuts.end());
    cuts.push_back(len);

    // Heap-allocated so that ASan sees any write past the record.
    std::unique_ptr<SM3_context> ctx(new SM3_context);
    SM3_Init(ctx.get());
    size_t at = 0;
    for (size_t cut : cuts) {
        const size_t piece = cut - at;
        if (piece == 0) {
            // Equal cuts give empty updates, which must not read `in`.
            SM3_Update(ctx.get(), nullptr, 0);
            continue;
        }
        // Each piece in an allocation of its own size, to catch over-reads
        // within the message.
        std::unique_ptr<uint8_t[]> copy(new uint8_t[piece]);
        std::memcpy(copy.get(), msg + at, piece);
        SM3_Update(ctx.get(), copy.get(), static_cast<uint32_t>(piece));
        at = cut;
    }

    uint8_t out[48];
    for (size_t i = 0; i < sizeof out; ++i) out[i] = guard(i);
    SM3_Final(ctx.get(), out, digest_len);
    const size_t written = digest_len < 32 ? digest_len : 32;
    CHECK(std::memcmp(out, expected, written) == 0);
    for (size_t i = written; i < sizeof out; ++i) CHECK(out[i] == guard(i));

    const uint8_t *const wiped = reinterpret_cast<const uint8_t *>(ctx.get());
    for (size_t i = 0; i < sizeof(SM3_context); ++i) CHECK(wiped[i] == 0);

    if (len >= sizeof(SM3_context)) forged_context(msg, len, splits > 0 ? raw_cuts[0] : 0);
    return 0;
}
