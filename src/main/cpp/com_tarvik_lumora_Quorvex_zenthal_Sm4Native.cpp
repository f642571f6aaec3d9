// The Java face of SM4 in ECB, CBC, CTR and GCM: the native methods of
// Sm4Native. Round keys, chaining and counter blocks and the GCM record are
// Java arrays; each call copies what it needs into locals, works, copies
// the advanced state back and wipes the locals. Input and output are each an
// array or a direct buffer: direct buffers are worked on in place, arrays
// pass through one stack chunk, so a call's native memory is bounded
// whatever the length. Arrays are only ever touched with region copies, so
// nothing is pinned or left to release.
#include "com_tarvik_lumora_Quorvex_zenthal_Sm4Native.h"

#include <cstdint>
#include <cstring>

#include "byteorder.h"
#include "native_status.h"
#include "sm4.h"
#include "sm4_cbc.h"
#include "sm4_modes.h"

namespace {

using zenthal::secure_wipe;
using zenthal::Sm4GcmState;

constexpr jint kChunk = 4096;  // whole blocks
constexpr jsize kCtrState = 33;
constexpr jsize kGcmState = static_cast<jsize>(sizeof(Sm4GcmState));

bool range_ok(jlong size, jint off, jint len) {
    return off >= 0 && len >= 0 && static_cast<jlong>(off) <= size - len;
}

bool has_length(JNIEnv *env, jarray a, jsize n) {
    return a != nullptr && env->GetArrayLength(a) == n;
}

// One end of a transfer: an array range, or an address in a direct buffer.
struct End {
    jbyteArray array = nullptr;
    uint8_t *addr = nullptr;
    jint off = 0;
};

bool resolve(JNIEnv *env, jbyteArray array, jobject buf, jint off, jint len, End *end) {
    if ((array == nullptr) == (buf == nullptr)) return false;
    end->off = off;
    if (array != nullptr) {
        end->array = array;
        return range_ok(env->GetArrayLength(array), off, len);
    }
    auto *base = static_cast<uint8_t *>(env->GetDirectBufferAddress(buf));
    const jlong capacity = env->GetDirectBufferCapacity(buf);
    if (base == nullptr || capacity < 0 || !range_ok(capacity, off, len)) return false;
    end->addr = base + off;
    return true;
}

// Two direct ranges where the output starts inside the input after its
// start: a forward pass would overwrite input before reading it.
bool overlaps_ahead(const End &in, const End &out, jint len) {
    return in.addr != nullptr && out.addr != nullptr && out.addr > in.addr && out.addr < in.addr + len;
}

// Round keys copied from their Java array, wiped on the way out.
struct Keys {
    SM4_round_keys rk{};
    Keys() = default;
    Keys(const Keys &) = delete;
    Keys &operator=(const Keys &) = delete;
    ~Keys() { secure_wipe(&rk, sizeof rk); }
    bool load(JNIEnv *env, jintArray a) {
        if (!has_length(env, a, 32)) return false;
        env->GetIntArrayRegion(a, 0, 32, reinterpret_cast<jint *>(rk.rk));
        return true;
    }
};

// A byte record copied from a Java array and back, wiped on the way out.
template <std::size_t N>
struct Record {
    uint8_t bytes[N] = {};
    Record() = default;
    Record(const Record &) = delete;
    Record &operator=(const Record &) = delete;
    ~Record() { secure_wipe(bytes, N); }
    bool load(JNIEnv *env, jbyteArray a) {
        if (!has_length(env, a, static_cast<jsize>(N))) return false;
        env->GetByteArrayRegion(a, 0, static_cast<jsize>(N), reinterpret_cast<jbyte *>(bytes));
        return true;
    }
    void store(JNIEnv *env, jbyteArray a) const {
        env->SetByteArrayRegion(a, 0, static_cast<jsize>(N), reinterpret_cast<const jbyte *>(bytes));
    }
};

// n bytes at offset `at` of an end, into dst; and src into an end.
void read_end(JNIEnv *env, const End &e, jint at, jint n, uint8_t *dst) {
    if (e.array != nullptr) {
        env->GetByteArrayRegion(e.array, e.off + at, n, reinterpret_cast<jbyte *>(dst));
    } else {
        std::memcpy(dst, e.addr + at, static_cast<std::size_t>(n));
    }
}

void write_end(JNIEnv *env, const End &e, jint at, jint n, const uint8_t *src) {
    if (e.array != nullptr) {
        env->SetByteArrayRegion(e.array, e.off + at, n, reinterpret_cast<const jbyte *>(src));
    } else {
        std::memcpy(e.addr + at, src, static_cast<std::size_t>(n));
    }
}

// Runs step(in, out, n) over len bytes, forward. Between direct buffers
// in one go; otherwise chunk by chunk through the stack.
template <typename Step>
void transfer(JNIEnv *env, const End &in, const End &out, jint len, Step step) {
    if (in.addr != nullptr && out.addr != nullptr) {
        step(in.addr, out.addr, static_cast<std::size_t>(len));
        return;
    }
    uint8_t chunk[kChunk];
    jint used = 0;
    for (jint done = 0; done < len;) {
        const jint n = len - done < kChunk ? len - done : kChunk;
        read_end(env, in, done, n, chunk);
        step(chunk, chunk, static_cast<std::size_t>(n));
        write_end(env, out, done, n, chunk);
        if (n > used) used = n;
        done += n;
    }
    secure_wipe(chunk, static_cast<std::size_t>(used));
}

// Reads len bytes of input, chunk by chunk, without writing anything.
template <typename Step>
void read_through(JNIEnv *env, const End &in, jint len, Step step) {
    if (in.addr != nullptr) {
        step(in.addr, static_cast<std::size_t>(len));
        return;
    }
    uint8_t chunk[kChunk];
    jint used = 0;
    for (jint done = 0; done < len;) {
        const jint n = len - done < kChunk ? len - done : kChunk;
        read_end(env, in, done, n, chunk);
        step(chunk, static_cast<std::size_t>(n));
        if (n > used) used = n;
        done += n;
    }
    secure_wipe(chunk, static_cast<std::size_t>(used));
}

// Checks the two ends; the status to return, or NATIVE_OK to go on.
int ends(JNIEnv *env, jbyteArray inA, jobject inB, jint inOff, jint len, jbyteArray outA,
         jobject outB, jint outOff, End *in, End *out) {
    if (!resolve(env, inA, inB, inOff, len, in) || !resolve(env, outA, outB, outOff, len, out)) {
        return NATIVE_ERR_ARGUMENT;
    }
    return overlaps_ahead(*in, *out, len) ? NATIVE_ERR_OVERLAP : NATIVE_OK;
}

// The CTR record of Java: counter, keystream block, bytes of it spent.
struct CtrRecord {
    uint8_t *ctr() { return r.bytes; }
    uint8_t *ks() { return r.bytes + 16; }
    Record<kCtrState> r;
};

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_setKey(JNIEnv *env, jclass,
                                                                          jbyteArray key,
                                                                          jintArray rk) {
    if (!has_length(env, key, SM4_KEY_SIZE) || !has_length(env, rk, 32)) return NATIVE_ERR_ARGUMENT;
    uint8_t k[SM4_KEY_SIZE];
    env->GetByteArrayRegion(key, 0, SM4_KEY_SIZE, reinterpret_cast<jbyte *>(k));
    Keys keys;
    SM4_set_key(k, &keys.rk);
    secure_wipe(k, sizeof k);
    env->SetIntArrayRegion(rk, 0, 32, reinterpret_cast<const jint *>(keys.rk.rk));
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_ecb(
    JNIEnv *env, jclass, jintArray rk, jboolean decrypt, jbyteArray inA, jobject inB, jint inOff,
    jint len, jbyteArray outA, jobject outB, jint outOff) {
    End in, out;
    Keys keys;
    if (!keys.load(env, rk) || len % 16 != 0) return NATIVE_ERR_ARGUMENT;
    const int s = ends(env, inA, inB, inOff, len, outA, outB, outOff, &in, &out);
    if (s != NATIVE_OK) return s;
    transfer(env, in, out, len, [&](const uint8_t *i, uint8_t *o, std::size_t n) {
        zenthal::sm4_ecb(&keys.rk, decrypt != JNI_FALSE, i, o, n / 16);
    });
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_cbc(
    JNIEnv *env, jclass, jintArray rk, jboolean decrypt, jbyteArray chain, jbyteArray inA,
    jobject inB, jint inOff, jint len, jbyteArray outA, jobject outB, jint outOff) {
    End in, out;
    Keys keys;
    Record<16> iv;
    if (!keys.load(env, rk) || !iv.load(env, chain) || len % 16 != 0) return NATIVE_ERR_ARGUMENT;
    const int s = ends(env, inA, inB, inOff, len, outA, outB, outOff, &in, &out);
    if (s != NATIVE_OK) return s;
    transfer(env, in, out, len, [&](const uint8_t *i, uint8_t *o, std::size_t n) {
        zenthal::sm4_cbc(&keys.rk, decrypt != JNI_FALSE, iv.bytes, i, o, n / 16);
    });
    iv.store(env, chain);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_decryptPadded(
    JNIEnv *env, jclass, jintArray rk, jbyteArray chain, jbyteArray inA, jobject inB, jint inOff,
    jint len, jbyteArray outA, jobject outB, jint outOff, jint outCap) {
    End in, out;
    Keys keys;
    Record<16> iv;
    const bool cbc = chain != nullptr;
    if (!keys.load(env, rk) || (cbc && !iv.load(env, chain)) || len < 16 || len % 16 != 0) {
        return NATIVE_ERR_ARGUMENT;
    }
    if (!resolve(env, inA, inB, inOff, len, &in) || !resolve(env, outA, outB, outOff, outCap, &out)) {
        return NATIVE_ERR_ARGUMENT;
    }
    if (overlaps_ahead(in, out, len)) return NATIVE_ERR_OVERLAP;
    auto decipher = [&](uint8_t *chaining, const uint8_t *i, uint8_t *o, std::size_t n) {
        if (cbc) {
            zenthal::sm4_cbc(&keys.rk, true, chaining, i, o, n / 16);
        } else {
            zenthal::sm4_ecb(&keys.rk, true, i, o, n / 16);
        }
    };
    // A message that fits the stack chunk is deciphered whole, at once;
    // a longer one has its last block deciphered first, with its
    // predecessor as the chaining block. Either way nothing is written
    // before the padding is known to be good and its plaintext to fit.
    uint8_t chunk[kChunk];
    const bool whole = len <= kChunk;
    const jint from = whole ? 0 : len - 32;  // all, or the last two blocks
    read_end(env, in, from, len - from, chunk);
    uint8_t chaining[16];
    std::memcpy(chaining, iv.bytes, 16);
    if (whole) {
        decipher(chaining, chunk, chunk, static_cast<std::size_t>(len));
    } else {
        decipher(chunk, chunk + 16, chunk + 16, 16);
    }
    const uint8_t *last = chunk + (whole ? len - 16 : 16);
    const jint pad = static_cast<jint>(zenthal::sm4_pad_length(last));
    jint status = len - pad;
    if (pad == 0) {
        status = SM4_ERR_BAD_PADDING;
    } else if (outCap < len - pad) {
        status = SM4_ERR_OUTPUT_TOO_SMALL;
    } else if (whole) {
        write_end(env, out, 0, len - pad, chunk);
    } else {
        uint8_t tail[16];
        std::memcpy(tail, last, 16);
        transfer(env, in, out, len - 16, [&](const uint8_t *i, uint8_t *o, std::size_t n) {
            decipher(chaining, i, o, n);
        });
        write_end(env, out, len - 16, 16 - pad, tail);
        secure_wipe(tail, sizeof tail);
    }
    secure_wipe(chunk, static_cast<std::size_t>(whole ? len : 32));
    secure_wipe(chaining, sizeof chaining);
    return status;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_ctr(
    JNIEnv *env, jclass, jintArray rk, jbyteArray state, jbyteArray inA, jobject inB, jint inOff,
    jint len, jbyteArray outA, jobject outB, jint outOff) {
    End in, out;
    Keys keys;
    CtrRecord c;
    if (!keys.load(env, rk) || !c.r.load(env, state)) return NATIVE_ERR_ARGUMENT;
    const int s = ends(env, inA, inB, inOff, len, outA, outB, outOff, &in, &out);
    if (s != NATIVE_OK) return s;
    uint32_t pos = c.r.bytes[32] % 16;
    transfer(env, in, out, len, [&](const uint8_t *i, uint8_t *o, std::size_t n) {
        zenthal::sm4_ctr(&keys.rk, true, c.ctr(), c.ks(), &pos, i, o, n);
    });
    c.r.bytes[32] = static_cast<uint8_t>(pos);
    c.r.store(env, state);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_gcmInit(JNIEnv *env,
                                                                           jclass, jintArray rk,
                                                                           jbyteArray iv,
                                                                           jbyteArray state) {
    Keys keys;
    if (!keys.load(env, rk) || iv == nullptr || !has_length(env, state, kGcmState)) {
        return NATIVE_ERR_ARGUMENT;
    }
    const jint iv_len = env->GetArrayLength(iv);
    if (iv_len < 1) return NATIVE_ERR_ARGUMENT;
    Record<kGcmState> r;
    auto *st = reinterpret_cast<Sm4GcmState *>(r.bytes);
    uint8_t chunk[kChunk];
    if (iv_len == 12) {
        env->GetByteArrayRegion(iv, 0, 12, reinterpret_cast<jbyte *>(chunk));
        zenthal::sm4_gcm_start(&keys.rk, st, chunk);
    } else {
        zenthal::sm4_gcm_start(&keys.rk, st, nullptr);
        for (jint done = 0; done < iv_len;) {
            const jint n = iv_len - done < kChunk ? iv_len - done : kChunk;
            env->GetByteArrayRegion(iv, done, n, reinterpret_cast<jbyte *>(chunk));
            const jint padded = (n + 15) & ~15;  // only the last chunk is short
            std::memset(chunk + n, 0, static_cast<std::size_t>(padded - n));
            zenthal::sm4_gcm_iv_blocks(st, chunk, static_cast<std::size_t>(padded / 16));
            done += n;
        }
        zenthal::sm4_gcm_iv_end(&keys.rk, st, static_cast<uint64_t>(iv_len));
    }
    secure_wipe(chunk, iv_len < kChunk ? static_cast<std::size_t>((iv_len + 15) & ~15) : sizeof chunk);
    r.store(env, state);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_gcmAad(
    JNIEnv *env, jclass, jbyteArray state, jbyteArray inA, jobject inB, jint inOff, jint len) {
    Record<kGcmState> r;
    End in;
    if (!r.load(env, state) || !resolve(env, inA, inB, inOff, len, &in)) return NATIVE_ERR_ARGUMENT;
    auto *st = reinterpret_cast<Sm4GcmState *>(r.bytes);
    read_through(env, in, len, [&](const uint8_t *i, std::size_t n) { zenthal::sm4_gcm_aad(st, i, n); });
    r.store(env, state);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_gcmEncrypt(
    JNIEnv *env, jclass, jintArray rk, jbyteArray state, jbyteArray inA, jobject inB, jint inOff,
    jint len, jbyteArray outA, jobject outB, jint outOff) {
    End in, out;
    Keys keys;
    Record<kGcmState> r;
    if (!keys.load(env, rk) || !r.load(env, state)) return NATIVE_ERR_ARGUMENT;
    const int s = ends(env, inA, inB, inOff, len, outA, outB, outOff, &in, &out);
    if (s != NATIVE_OK) return s;
    auto *st = reinterpret_cast<Sm4GcmState *>(r.bytes);
    uint32_t pos = static_cast<uint32_t>(st->ct_len % 16);
    transfer(env, in, out, len, [&](const uint8_t *i, uint8_t *o, std::size_t n) {
        zenthal::sm4_ctr(&keys.rk, false, st->ctr, st->ks, &pos, i, o, n);
        zenthal::sm4_gcm_hash(st, o, n);
    });
    r.store(env, state);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_gcmTag(JNIEnv *env, jclass,
                                                                          jintArray rk,
                                                                          jbyteArray state,
                                                                          jbyteArray tag) {
    Keys keys;
    Record<kGcmState> r;
    if (!keys.load(env, rk) || !r.load(env, state) || !has_length(env, tag, 16)) {
        return NATIVE_ERR_ARGUMENT;
    }
    uint8_t t[16];
    zenthal::sm4_gcm_tag(reinterpret_cast<Sm4GcmState *>(r.bytes), t);
    env->SetByteArrayRegion(tag, 0, 16, reinterpret_cast<const jbyte *>(t));
    secure_wipe(t, sizeof t);
    r.store(env, state);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_gcmDecrypt(
    JNIEnv *env, jclass, jintArray rk, jbyteArray state, jbyteArray inA, jobject inB, jint inOff,
    jint len, jbyteArray tag, jbyteArray outA, jobject outB, jint outOff) {
    End in, out;
    Keys keys;
    Record<kGcmState> r;
    if (!keys.load(env, rk) || !r.load(env, state) || tag == nullptr) return NATIVE_ERR_ARGUMENT;
    const jint tag_len = env->GetArrayLength(tag);
    if (tag_len < 4 || tag_len > 16) return NATIVE_ERR_ARGUMENT;
    const int s = ends(env, inA, inB, inOff, len, outA, outB, outOff, &in, &out);
    if (s != NATIVE_OK) return s;
    auto *st = reinterpret_cast<Sm4GcmState *>(r.bytes);
    // The ciphertext is hashed and the tag checked before any plaintext is
    // formed: a forged message releases nothing.
    read_through(env, in, len, [&](const uint8_t *i, std::size_t n) { zenthal::sm4_gcm_hash(st, i, n); });
    uint8_t expected[16], given[16];
    zenthal::sm4_gcm_tag(st, expected);
    env->GetByteArrayRegion(tag, 0, tag_len, reinterpret_cast<jbyte *>(given));
    uint32_t diff = 0;
    for (jint j = 0; j < tag_len; ++j) diff |= static_cast<uint32_t>(expected[j] ^ given[j]);
    secure_wipe(expected, sizeof expected);
    secure_wipe(given, sizeof given);
    if (diff != 0) return SM4_ERR_MAC_MISMATCH;
    uint32_t pos = 0;
    transfer(env, in, out, len, [&](const uint8_t *i, uint8_t *o, std::size_t n) {
        zenthal::sm4_ctr(&keys.rk, false, st->ctr, st->ks, &pos, i, o, n);
    });
    return NATIVE_OK;
}

}  // extern "C"
