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

#include "jni_util.h"
#include "native_status.h"
#include "sm4.h"
#include "sm4_block_modes.h"
#include "sm4_cbc.h"
#include "sm4_gcm.h"
#include "util/wipe.h"

namespace {

using zenthal::secure_wipe;
using zenthal::Sm4GcmState;
using zenthal::jni::End;
using zenthal::jni::has_length;
using zenthal::jni::kChunk;
using zenthal::jni::Local;
using zenthal::jni::read_end;
using zenthal::jni::read_through;
using zenthal::jni::resolve;
using zenthal::jni::transfer;
using zenthal::jni::write_end;

using Keys = Local<SM4_round_keys>;
using Block = Local<zenthal::jni::Bytes<16>>;
using GcmRecord = Local<Sm4GcmState>;

// The CTR record of Java: counter, keystream block, bytes of it spent.
struct CtrState {
    uint8_t ctr[16];
    uint8_t ks[16];
    uint8_t pos;
};
static_assert(sizeof(CtrState) == 33, "the Java CTR state arrays are 33 bytes");

// Two direct ranges where the output starts inside the input after its
// start: a forward pass would overwrite input before reading it.
bool overlaps_ahead(const End &in, const End &out, jint len) {
    return in.addr != nullptr && out.addr != nullptr && out.addr > in.addr && out.addr < in.addr + len;
}

// Checks the two ends; the status to return, or NATIVE_OK to go on.
int ends(JNIEnv *env, jbyteArray inA, jobject inB, jint inOff, jint len, jbyteArray outA, jobject outB,
         jint outOff, End *in, End *out) {
    if (!resolve(env, inA, inB, inOff, len, in) || !resolve(env, outA, outB, outOff, len, out)) {
        return NATIVE_ERR_ARGUMENT;
    }
    return overlaps_ahead(*in, *out, len) ? NATIVE_ERR_OVERLAP : NATIVE_OK;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_setKey(JNIEnv *env, jclass,
                                                                               jbyteArray key, jintArray rk) {
    if (!has_length(env, key, SM4_KEY_SIZE) || !has_length(env, rk, 32)) return NATIVE_ERR_ARGUMENT;
    uint8_t k[SM4_KEY_SIZE];
    env->GetByteArrayRegion(key, 0, SM4_KEY_SIZE, reinterpret_cast<jbyte *>(k));
    Keys keys;
    SM4_set_key(k, &keys.value);
    secure_wipe(k, sizeof k);
    keys.store(env, rk);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_ecb(JNIEnv *env, jclass, jintArray rk,
                                                                            jboolean decrypt, jbyteArray inA,
                                                                            jobject inB, jint inOff, jint len,
                                                                            jbyteArray outA, jobject outB,
                                                                            jint outOff) {
    End in, out;
    Keys keys;
    if (!keys.load(env, rk) || len % 16 != 0) return NATIVE_ERR_ARGUMENT;
    const int s = ends(env, inA, inB, inOff, len, outA, outB, outOff, &in, &out);
    if (s != NATIVE_OK) return s;
    transfer(env, in, out, len, [&](const uint8_t *i, uint8_t *o, std::size_t n) {
        zenthal::sm4_ecb(&keys.value, decrypt != JNI_FALSE, i, o, n / 16);
    });
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_cbc(
    JNIEnv *env, jclass, jintArray rk, jboolean decrypt, jbyteArray chain, jbyteArray inA, jobject inB,
    jint inOff, jint len, jbyteArray outA, jobject outB, jint outOff) {
    End in, out;
    Keys keys;
    Block iv;
    if (!keys.load(env, rk) || !iv.load(env, chain) || len % 16 != 0) return NATIVE_ERR_ARGUMENT;
    const int s = ends(env, inA, inB, inOff, len, outA, outB, outOff, &in, &out);
    if (s != NATIVE_OK) return s;
    transfer(env, in, out, len, [&](const uint8_t *i, uint8_t *o, std::size_t n) {
        zenthal::sm4_cbc(&keys.value, decrypt != JNI_FALSE, iv.value.b, i, o, n / 16);
    });
    iv.store(env, chain);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_decryptPadded(
    JNIEnv *env, jclass, jintArray rk, jbyteArray chain, jbyteArray inA, jobject inB, jint inOff, jint len,
    jbyteArray outA, jobject outB, jint outOff, jint outCap) {
    End in, out;
    Keys keys;
    Block iv;
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
            zenthal::sm4_cbc(&keys.value, true, chaining, i, o, n / 16);
        } else {
            zenthal::sm4_ecb(&keys.value, true, i, o, n / 16);
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
    std::memcpy(chaining, iv.value.b, 16);
    if (whole) {
        decipher(chaining, chunk, chunk, static_cast<std::size_t>(len));
    } else {
        decipher(chunk, chunk + 16, chunk + 16, 16);
    }
    const uint8_t *last = chunk + (whole ? len - 16 : 16);
    const jint status = zenthal::sm4_unpadded_length(last, len, outCap);
    if (status >= 0 && whole) {
        write_end(env, out, 0, status, chunk);
    } else if (status >= 0) {
        uint8_t tail[16];
        std::memcpy(tail, last, 16);
        transfer(env, in, out, len - 16,
                 [&](const uint8_t *i, uint8_t *o, std::size_t n) { decipher(chaining, i, o, n); });
        write_end(env, out, len - 16, status - (len - 16), tail);
        secure_wipe(tail, sizeof tail);
    }
    secure_wipe(chunk, static_cast<std::size_t>(whole ? len : 32));
    secure_wipe(chaining, sizeof chaining);
    return status;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_ctr(JNIEnv *env, jclass, jintArray rk,
                                                                            jbyteArray state, jbyteArray inA,
                                                                            jobject inB, jint inOff, jint len,
                                                                            jbyteArray outA, jobject outB,
                                                                            jint outOff) {
    End in, out;
    Keys keys;
    Local<CtrState> c;
    if (!keys.load(env, rk) || !c.load(env, state)) return NATIVE_ERR_ARGUMENT;
    const int s = ends(env, inA, inB, inOff, len, outA, outB, outOff, &in, &out);
    if (s != NATIVE_OK) return s;
    uint32_t pos = c.value.pos % 16;
    transfer(env, in, out, len, [&](const uint8_t *i, uint8_t *o, std::size_t n) {
        zenthal::sm4_ctr(&keys.value, true, c.value.ctr, c.value.ks, &pos, i, o, n);
    });
    c.value.pos = static_cast<uint8_t>(pos);
    c.store(env, state);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_gcmInit(JNIEnv *env, jclass,
                                                                                jintArray rk, jbyteArray iv,
                                                                                jbyteArray state) {
    Keys keys;
    if (!keys.load(env, rk) || iv == nullptr || !has_length(env, state, GcmRecord::kBytes)) {
        return NATIVE_ERR_ARGUMENT;
    }
    const jint iv_len = env->GetArrayLength(iv);
    if (iv_len < 1) return NATIVE_ERR_ARGUMENT;
    GcmRecord r;
    Sm4GcmState *st = &r.value;
    uint8_t chunk[kChunk];
    if (iv_len == 12) {
        env->GetByteArrayRegion(iv, 0, 12, reinterpret_cast<jbyte *>(chunk));
        zenthal::sm4_gcm_start(&keys.value, st, chunk);
    } else {
        zenthal::sm4_gcm_start(&keys.value, st, nullptr);
        for (jint done = 0; done < iv_len;) {
            const jint n = iv_len - done < kChunk ? iv_len - done : kChunk;
            env->GetByteArrayRegion(iv, done, n, reinterpret_cast<jbyte *>(chunk));
            const jint padded = (n + 15) & ~15;  // only the last chunk is short
            std::memset(chunk + n, 0, static_cast<std::size_t>(padded - n));
            zenthal::sm4_gcm_iv_blocks(st, chunk, static_cast<std::size_t>(padded / 16));
            done += n;
        }
        zenthal::sm4_gcm_iv_end(&keys.value, st, static_cast<uint64_t>(iv_len));
    }
    secure_wipe(chunk, iv_len < kChunk ? static_cast<std::size_t>((iv_len + 15) & ~15) : sizeof chunk);
    r.store(env, state);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_gcmAad(JNIEnv *env, jclass,
                                                                               jbyteArray state,
                                                                               jbyteArray inA, jobject inB,
                                                                               jint inOff, jint len) {
    GcmRecord r;
    End in;
    if (!r.load(env, state) || !resolve(env, inA, inB, inOff, len, &in)) return NATIVE_ERR_ARGUMENT;
    read_through(env, in, len,
                 [&](const uint8_t *i, std::size_t n) { zenthal::sm4_gcm_aad(&r.value, i, n); });
    r.store(env, state);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_gcmEncrypt(
    JNIEnv *env, jclass, jintArray rk, jbyteArray state, jbyteArray inA, jobject inB, jint inOff, jint len,
    jbyteArray outA, jobject outB, jint outOff) {
    End in, out;
    Keys keys;
    GcmRecord r;
    if (!keys.load(env, rk) || !r.load(env, state)) return NATIVE_ERR_ARGUMENT;
    const int s = ends(env, inA, inB, inOff, len, outA, outB, outOff, &in, &out);
    if (s != NATIVE_OK) return s;
    transfer(env, in, out, len, [&](const uint8_t *i, uint8_t *o, std::size_t n) {
        zenthal::sm4_gcm_encrypt(&keys.value, &r.value, i, o, n);
    });
    r.store(env, state);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_gcmTag(JNIEnv *env, jclass,
                                                                               jintArray rk, jbyteArray state,
                                                                               jbyteArray tag) {
    Keys keys;
    GcmRecord r;
    if (!keys.load(env, rk) || !r.load(env, state) || !has_length(env, tag, 16)) {
        return NATIVE_ERR_ARGUMENT;
    }
    uint8_t t[16];
    zenthal::sm4_gcm_tag(&r.value, t);
    env->SetByteArrayRegion(tag, 0, 16, reinterpret_cast<const jbyte *>(t));
    secure_wipe(t, sizeof t);
    r.store(env, state);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm4Native_gcmDecrypt(
    JNIEnv *env, jclass, jintArray rk, jbyteArray state, jbyteArray inA, jobject inB, jint inOff, jint len,
    jbyteArray tag, jbyteArray outA, jobject outB, jint outOff) {
    End in, out;
    Keys keys;
    GcmRecord r;
    if (!keys.load(env, rk) || !r.load(env, state) || tag == nullptr) return NATIVE_ERR_ARGUMENT;
    const jint tag_len = env->GetArrayLength(tag);
    if (tag_len < 4 || tag_len > 16) return NATIVE_ERR_ARGUMENT;
    const int s = ends(env, inA, inB, inOff, len, outA, outB, outOff, &in, &out);
    if (s != NATIVE_OK) return s;
    // The ciphertext is hashed and the tag checked before any plaintext is
    // formed: a forged message releases nothing.
    read_through(env, in, len,
                 [&](const uint8_t *i, std::size_t n) { zenthal::sm4_gcm_hash(&r.value, i, n); });
    uint8_t given[16];
    env->GetByteArrayRegion(tag, 0, tag_len, reinterpret_cast<jbyte *>(given));
    const int32_t verdict = zenthal::sm4_gcm_check_tag(&r.value, given, static_cast<std::size_t>(tag_len));
    secure_wipe(given, sizeof given);
    if (verdict != SM4_SUCCESS) return verdict;
    uint32_t pos = 0;
    transfer(env, in, out, len, [&](const uint8_t *i, uint8_t *o, std::size_t n) {
        zenthal::sm4_gcm_decrypt(&keys.value, &r.value, &pos, i, o, n);
    });
    return NATIVE_OK;
}

}  // extern "C"
