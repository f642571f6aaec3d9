// The Java face of streaming SM3 and HMAC-SM3: the native methods of
// Sm3Native. The hash state is a 104-byte Java array holding an SM3_context;
// each call copies it into a local context, works, and copies it back, so no
// native memory and no pointer into Java outlives a call. Input arrays are
// read in bounded chunks rather than pinned or copied whole, so a call's
// native memory is the same whatever the input's size; direct buffers are
// hashed in place. Every local that held state or input (HMAC key blocks
// pass through them) is wiped before returning.
#include "com_tarvik_lumora_Quorvex_zenthal_Sm3Native.h"

#include <cstdint>

#include "byteorder.h"
#include "native_status.h"
#include "sm3.h"

namespace {

static_assert(sizeof(SM3_context) == 104, "the Java state arrays are 104 bytes");
constexpr jsize kStateLength = static_cast<jsize>(sizeof(SM3_context));

// Input is copied from a Java array this many bytes at a time.
constexpr jint kChunk = 4096;

// 0 <= off, 0 <= len, off + len <= size, without overflow (size >= 0).
bool range_ok(jlong size, jint off, jint len) {
    return off >= 0 && len >= 0 && static_cast<jlong>(off) <= size - len;
}

bool is_state(JNIEnv *env, jbyteArray state) {
    return state != nullptr && env->GetArrayLength(state) == kStateLength;
}

bool array_range(JNIEnv *env, jbyteArray array, jint off, jint len) {
    return array != nullptr && range_ok(env->GetArrayLength(array), off, len);
}

bool digest_room(JNIEnv *env, jbyteArray out, jint off) {
    return array_range(env, out, off, SM3_DIGEST_LENGTH);
}

// A context local to one call, wiped whatever the path out. Any 104 bytes
// are a context the engine can use safely: the block index it derives from
// the count is always below 64.
struct LocalContext {
    SM3_context ctx{};
    LocalContext() = default;
    LocalContext(const LocalContext &) = delete;
    LocalContext &operator=(const LocalContext &) = delete;
    ~LocalContext() { zenthal::secure_wipe(&ctx, sizeof ctx); }

    void load(JNIEnv *env, jbyteArray state) {
        env->GetByteArrayRegion(state, 0, kStateLength, reinterpret_cast<jbyte *>(&ctx));
    }
    void store(JNIEnv *env, jbyteArray state) {
        env->SetByteArrayRegion(state, 0, kStateLength, reinterpret_cast<const jbyte *>(&ctx));
    }
};

// Absorbs in[off .. off+len-1] through a stack chunk; the range was checked.
void absorb(JNIEnv *env, SM3_context *ctx, jbyteArray in, jint off, jint len) {
    uint8_t chunk[kChunk];
    jint used = 0;
    while (len > 0) {
        const jint n = len < kChunk ? len : kChunk;
        env->GetByteArrayRegion(in, off, n, reinterpret_cast<jbyte *>(chunk));
        SM3_Update(ctx, chunk, static_cast<uint32_t>(n));
        if (n > used) used = n;
        off += n;
        len -= n;
    }
    zenthal::secure_wipe(chunk, static_cast<std::size_t>(used));
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm3Native_init(JNIEnv *env, jclass,
                                                                          jbyteArray state) {
    if (!is_state(env, state)) return NATIVE_ERR_ARGUMENT;
    LocalContext c;
    SM3_Init(&c.ctx);
    c.store(env, state);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm3Native_update(
    JNIEnv *env, jclass, jbyteArray state, jbyteArray in, jint off, jint len) {
    if (!is_state(env, state) || !array_range(env, in, off, len)) return NATIVE_ERR_ARGUMENT;
    LocalContext c;
    c.load(env, state);
    absorb(env, &c.ctx, in, off, len);
    c.store(env, state);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm3Native_updateDirect(
    JNIEnv *env, jclass, jbyteArray state, jobject in, jint off, jint len) {
    if (!is_state(env, state) || in == nullptr) return NATIVE_ERR_ARGUMENT;
    // A heap buffer (or any other object) has no address and capacity -1.
    const auto *base = static_cast<const uint8_t *>(env->GetDirectBufferAddress(in));
    const jlong capacity = env->GetDirectBufferCapacity(in);
    if (base == nullptr || capacity < 0 || !range_ok(capacity, off, len)) return NATIVE_ERR_ARGUMENT;
    LocalContext c;
    c.load(env, state);
    SM3_Update(&c.ctx, base + off, static_cast<uint32_t>(len));
    c.store(env, state);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm3Native_finish(
    JNIEnv *env, jclass, jbyteArray state, jbyteArray in, jint off, jint len, jbyteArray out,
    jint outOff) {
    if (!is_state(env, state) || !array_range(env, in, off, len) || !digest_room(env, out, outOff)) {
        return NATIVE_ERR_ARGUMENT;
    }
    LocalContext c;
    c.load(env, state);
    absorb(env, &c.ctx, in, off, len);
    uint8_t digest[SM3_DIGEST_LENGTH];
    SM3_Final(&c.ctx, digest, SM3_DIGEST_LENGTH);
    env->SetByteArrayRegion(out, outOff, SM3_DIGEST_LENGTH, reinterpret_cast<const jbyte *>(digest));
    zenthal::secure_wipe(digest, sizeof digest);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm3Native_hmacFinish(
    JNIEnv *env, jclass, jbyteArray inner, jbyteArray in, jint off, jint len, jbyteArray outer,
    jbyteArray out, jint outOff) {
    if (!is_state(env, inner) || !array_range(env, in, off, len) || !is_state(env, outer) ||
        !digest_room(env, out, outOff)) {
        return NATIVE_ERR_ARGUMENT;
    }
    LocalContext c;
    c.load(env, inner);
    absorb(env, &c.ctx, in, off, len);
    uint8_t digest[SM3_DIGEST_LENGTH];
    SM3_Final(&c.ctx, digest, SM3_DIGEST_LENGTH);
    c.load(env, outer);
    SM3_Update(&c.ctx, digest, SM3_DIGEST_LENGTH);
    SM3_Final(&c.ctx, digest, SM3_DIGEST_LENGTH);
    env->SetByteArrayRegion(out, outOff, SM3_DIGEST_LENGTH, reinterpret_cast<const jbyte *>(digest));
    zenthal::secure_wipe(digest, sizeof digest);
    return NATIVE_OK;
}

}  // extern "C"
