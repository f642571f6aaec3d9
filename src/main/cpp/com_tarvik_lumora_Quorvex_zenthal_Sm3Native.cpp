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

#include "jni_util.h"
#include "native_status.h"
#include "sm3.h"
#include "util/wipe.h"

namespace {

using zenthal::jni::array_range;
using zenthal::jni::End;
using zenthal::jni::has_length;
using zenthal::jni::read_through;
using zenthal::jni::resolve;

static_assert(sizeof(SM3_context) == 104, "the Java state arrays are 104 bytes");

// A context local to one call, wiped whatever the path out. Any 104 bytes
// are a context the engine can use safely: the block index it derives from
// the count is always below 64.
using LocalContext = zenthal::jni::Local<SM3_context>;

bool is_state(JNIEnv *env, jbyteArray state) { return has_length(env, state, LocalContext::kBytes); }

bool digest_room(JNIEnv *env, jbyteArray out, jint off) {
    return array_range(env, out, off, SM3_DIGEST_LENGTH);
}

// Absorbs in[off .. off+len-1] through a stack chunk; the range was checked.
void absorb(JNIEnv *env, SM3_context *ctx, jbyteArray in, jint off, jint len) {
    End end;
    end.array = in;
    end.off = off;
    read_through(env, end, len,
                 [&](const uint8_t *p, std::size_t n) { SM3_Update(ctx, p, static_cast<uint32_t>(n)); });
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm3Native_init(JNIEnv *env, jclass,
                                                                             jbyteArray state) {
    if (!is_state(env, state)) return NATIVE_ERR_ARGUMENT;
    LocalContext c;
    SM3_Init(&c.value);
    c.store(env, state);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm3Native_update(JNIEnv *env, jclass,
                                                                               jbyteArray state,
                                                                               jbyteArray in, jint off,
                                                                               jint len) {
    if (!is_state(env, state) || !array_range(env, in, off, len)) return NATIVE_ERR_ARGUMENT;
    LocalContext c;
    c.load(env, state);
    absorb(env, &c.value, in, off, len);
    c.store(env, state);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm3Native_updateDirect(JNIEnv *env, jclass,
                                                                                     jbyteArray state,
                                                                                     jobject in, jint off,
                                                                                     jint len) {
    End direct;
    if (!is_state(env, state) || in == nullptr || !resolve(env, nullptr, in, off, len, &direct)) {
        return NATIVE_ERR_ARGUMENT;
    }
    LocalContext c;
    c.load(env, state);
    SM3_Update(&c.value, direct.addr, static_cast<uint32_t>(len));
    c.store(env, state);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm3Native_finish(
    JNIEnv *env, jclass, jbyteArray state, jbyteArray in, jint off, jint len, jbyteArray out, jint outOff) {
    if (!is_state(env, state) || !array_range(env, in, off, len) || !digest_room(env, out, outOff)) {
        return NATIVE_ERR_ARGUMENT;
    }
    LocalContext c;
    c.load(env, state);
    absorb(env, &c.value, in, off, len);
    uint8_t digest[SM3_DIGEST_LENGTH];
    SM3_Final(&c.value, digest, SM3_DIGEST_LENGTH);
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
    absorb(env, &c.value, in, off, len);
    uint8_t digest[SM3_DIGEST_LENGTH];
    SM3_Final(&c.value, digest, SM3_DIGEST_LENGTH);
    c.load(env, outer);
    SM3_Update(&c.value, digest, SM3_DIGEST_LENGTH);
    SM3_Final(&c.value, digest, SM3_DIGEST_LENGTH);
    env->SetByteArrayRegion(out, outOff, SM3_DIGEST_LENGTH, reinterpret_cast<const jbyte *>(digest));
    zenthal::secure_wipe(digest, sizeof digest);
    return NATIVE_OK;
}

}  // extern "C"
