// The Java face of the library: the six native methods of LoadNativeZenthal.
// Each checks the sizes it insists on, takes the Java input arrays, calls one
// engine function, copies the result back only on success, and gives back
// everything it took before it returns.
#include "com_tarvik_lumora_Quorvex_zenthal_LoadNativeZenthal.h"

#include <cstdint>
#include <new>

#include "hwrand/rdrand.h"
#include "jni_util.h"
#include "native_status.h"
#include "sm3.h"
#include "sm3_kdf.h"
#include "sm4_cbc.h"
#include "util/wipe.h"

namespace {

// Everything one call has taken from Java or allocated. The destructor gives
// the byte arrays back in the order they were taken, then the int array
// (always the last one taken), and frees the scratch array, so that no return
// path can leak a pinned array or the buffer.
//
// The byte arrays are inputs the engines only read, so they are released
// with JNI_ABORT: a VM that handed out a copy must not write it back, or an
// output that is the same array as an input (hashing a buffer into itself)
// would get its old bytes back over the result, and bytes another thread
// stored into an input during the call would be reverted. outputLen carries
// a value out through its elements and is released with mode 0.
//
// Keys, IVs, plaintexts and KDF inputs must not outlive the call in memory
// the VM frees without clearing: a copy the VM handed out is zeroed before
// it is released, and the scratch array, which holds derived keys, random
// bytes or plaintext, is zeroed whole before it is freed. Elements the VM
// reports as its own (pinned) are the caller's array and are left alone.
struct Frame {
    JNIEnv *env;
    jbyteArray byte_arrays[4] = {};
    jbyte *byte_elems[4] = {};
    jsize byte_sizes[4] = {};
    bool byte_copied[4] = {};
    int byte_count = 0;
    jintArray int_array = nullptr;
    jint *int_elems = nullptr;
    uint8_t *scratch = nullptr;
    std::size_t scratch_size = 0;

    explicit Frame(JNIEnv *e) : env(e) {}
    Frame(const Frame &) = delete;
    Frame &operator=(const Frame &) = delete;

    ~Frame() {
        for (int i = 0; i < byte_count; ++i) {
            if (byte_copied[i]) {
                zenthal::secure_wipe(byte_elems[i], static_cast<std::size_t>(byte_sizes[i]));
            }
            env->ReleaseByteArrayElements(byte_arrays[i], byte_elems[i], JNI_ABORT);
        }
        if (int_elems != nullptr) env->ReleaseIntArrayElements(int_array, int_elems, 0);
        if (scratch != nullptr) {
            zenthal::secure_wipe(scratch, scratch_size);
            delete[] scratch;
        }
    }
};

// Takes an input array of `size` elements for reading. NULL means the VM
// could not provide the elements; its OutOfMemoryError is then pending and
// the caller bails out.
const uint8_t *take_bytes(Frame &f, jbyteArray array, jsize size) {
    jboolean is_copy = JNI_FALSE;
    jbyte *elems = f.env->GetByteArrayElements(array, &is_copy);
    if (elems == nullptr) return nullptr;
    f.byte_arrays[f.byte_count] = array;
    f.byte_elems[f.byte_count] = elems;
    f.byte_sizes[f.byte_count] = size;
    f.byte_copied[f.byte_count] = is_copy == JNI_TRUE;
    ++f.byte_count;
    return reinterpret_cast<const uint8_t *>(elems);
}

jint *take_ints(Frame &f, jintArray array) {
    f.int_elems = f.env->GetIntArrayElements(array, nullptr);
    if (f.int_elems != nullptr) f.int_array = array;
    return f.int_elems;
}

// Scratch output of exactly `size` bytes, uninitialised; never throws.
uint8_t *alloc_scratch(Frame &f, jint size) {
    f.scratch = new (std::nothrow) uint8_t[static_cast<std::size_t>(size)];
    f.scratch_size = static_cast<std::size_t>(size);
    return f.scratch;
}

void copy_out(JNIEnv *env, jbyteArray array, jint count, const uint8_t *bytes) {
    env->SetByteArrayRegion(array, 0, count, reinterpret_cast<const jbyte *>(bytes));
}

// Seal (encrypt != 0) or open an envelope. Shared by both cipher methods,
// which differ only in the direction and the capacity pre-check.
jint cipher_with_mac(JNIEnv *env, bool encrypt, jbyteArray key, jbyteArray macKey, jbyteArray iv,
                     jbyteArray input, jbyteArray output, jintArray outputLen) {
    if (key == nullptr || macKey == nullptr || iv == nullptr || input == nullptr || output == nullptr ||
        outputLen == nullptr) {
        return NATIVE_ERR_ARGUMENT;
    }
    if (env->GetArrayLength(key) != 16) return NATIVE_ERR_KEY_IV_LENGTH;
    if (env->GetArrayLength(macKey) != 16) return NATIVE_ERR_KEY_IV_LENGTH;
    if (env->GetArrayLength(iv) != 16) return NATIVE_ERR_KEY_IV_LENGTH;
    if (env->GetArrayLength(outputLen) < 1) return NATIVE_ERR_ARGUMENT;
    // The capacity is checked before anything is taken: a negative one must
    // never reach the allocator.
    jint declared = 0;
    env->GetIntArrayRegion(outputLen, 0, 1, &declared);
    if (declared < 0) return NATIVE_ERR_ARGUMENT;

    const jint len = env->GetArrayLength(input);

    Frame f(env);
    const uint8_t *k = take_bytes(f, key, 16);
    if (k == nullptr) return NATIVE_ERR_NO_MEMORY;
    const uint8_t *mk = take_bytes(f, macKey, 16);
    if (mk == nullptr) return NATIVE_ERR_NO_MEMORY;
    const uint8_t *v = take_bytes(f, iv, 16);
    if (v == nullptr) return NATIVE_ERR_NO_MEMORY;
    const uint8_t *in = take_bytes(f, input, len);
    if (in == nullptr) return NATIVE_ERR_NO_MEMORY;
    jint *len_elems = take_ints(f, outputLen);
    if (len_elems == nullptr) return NATIVE_ERR_NO_MEMORY;
    const jint cap = len_elems[0];
    // Another thread may have changed the element since it was checked.
    if (cap < 0) return NATIVE_ERR_ARGUMENT;

    // The scratch array holds only what the operation can produce: the
    // sealed length, or for opening the envelope's length (the plaintext is
    // shorter), and never more than the capacity. A huge declared capacity
    // must not make a small call allocate and wipe gigabytes. The engine is
    // given the scratch size as its capacity; since the scratch is either the
    // whole capacity or at least all the operation needs, every code and
    // output stays what the declared capacity would have given. In 64 bits:
    // the sealed length exceeds a jint near 2^31.
    const int64_t can_produce =
        encrypt ? (static_cast<int64_t>(len) & ~int64_t{15}) + 32 : static_cast<int64_t>(len);
    const jint scratch_size = static_cast<int64_t>(cap) < can_produce ? cap : static_cast<jint>(can_produce);
    if (alloc_scratch(f, scratch_size) == nullptr) return NATIVE_ERR_NO_MEMORY;

    jint status = SM4_ERR_OUTPUT_TOO_SMALL;
    uint32_t produced = static_cast<uint32_t>(scratch_size);
    // In 64 bits: (len rounded down to 16) + 16 overflows a jint near 2^31.
    const int64_t least =
        encrypt ? (static_cast<int64_t>(len) & ~int64_t{15}) + 16 : static_cast<int64_t>(len) - 32;
    if (static_cast<int64_t>(cap) >= least) {
        status = SM4_process_cbc_and_mac(encrypt ? 1 : 0, k, mk, v, in, static_cast<uint32_t>(len), f.scratch,
                                         &produced);
        if (status == SM4_SUCCESS) {
            // The taken copy must hold the produced length too, or its
            // release would write the capacity back.
            len_elems[0] = static_cast<jint>(produced);
            env->SetIntArrayRegion(outputLen, 0, 1, len_elems);
            copy_out(env, output, static_cast<jint>(produced), f.scratch);
        }
    }
    return status;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_LoadNativeZenthal_sm3HashNative(
    JNIEnv *env, jclass, jbyteArray hash, jbyteArray data, jint dataLen) {
    if (hash == nullptr || data == nullptr) return NATIVE_ERR_ARGUMENT;
    if (env->GetArrayLength(hash) != 32) return NATIVE_ERR_HASH_LENGTH;
    // A negative length is refused before the array is looked at.
    jsize size = 0;
    if (dataLen < 0 || !zenthal::jni::array_range(env, data, 0, dataLen, &size)) return NATIVE_ERR_ARGUMENT;

    Frame f(env);
    const uint8_t *in = take_bytes(f, data, size);
    if (in == nullptr) return NATIVE_ERR_NO_MEMORY;
    uint8_t digest[32];
    SM3_hash(digest, in, static_cast<uint32_t>(dataLen));
    copy_out(env, hash, 32, digest);
    zenthal::secure_wipe(digest, sizeof digest);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_LoadNativeZenthal_sm3KDFNative(
    JNIEnv *env, jclass, jbyteArray derivedKey, jint keyLen, jbyteArray z, jint zLen) {
    if (derivedKey == nullptr || z == nullptr) return NATIVE_ERR_ARGUMENT;
    if (keyLen < 0) return NATIVE_ERR_ARGUMENT;
    jsize size = 0;
    if (zLen < 0 || !zenthal::jni::array_range(env, z, 0, zLen, &size)) return NATIVE_ERR_ARGUMENT;

    Frame f(env);
    const uint8_t *zin = take_bytes(f, z, size);
    if (zin == nullptr) return NATIVE_ERR_NO_MEMORY;
    if (alloc_scratch(f, keyLen) == nullptr) return NATIVE_ERR_NO_MEMORY;
    SM3_KDF(f.scratch, static_cast<uint32_t>(keyLen), zin, static_cast<uint32_t>(zLen));
    copy_out(env, derivedKey, keyLen, f.scratch);
    return NATIVE_OK;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_LoadNativeZenthal_sm4CbcEncryptWithMacNative(
    JNIEnv *env, jclass, jbyteArray key, jbyteArray macKey, jbyteArray iv, jbyteArray input, jint,
    jbyteArray output, jintArray outputLen) {
    return cipher_with_mac(env, true, key, macKey, iv, input, output, outputLen);
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_LoadNativeZenthal_sm4CbcDecryptWithMacNative(
    JNIEnv *env, jclass, jbyteArray key, jbyteArray macKey, jbyteArray iv, jbyteArray input, jint,
    jbyteArray output, jintArray outputLen) {
    return cipher_with_mac(env, false, key, macKey, iv, input, output, outputLen);
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_LoadNativeZenthal_nextBytesNative(
    JNIEnv *env, jclass, jbyteArray bytes, jint size) {
    if (bytes == nullptr || size < 0) return NATIVE_ERR_ARGUMENT;

    Frame f(env);
    if (alloc_scratch(f, size) == nullptr) return NATIVE_ERR_NO_MEMORY;
    const int status = rdrand_get_bytes(static_cast<uint32_t>(size), f.scratch);
    if (status == DRNG_OK) copy_out(env, bytes, size, f.scratch);
    return status;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_LoadNativeZenthal_isRDRANDSupported(JNIEnv *,
                                                                                                  jclass) {
    return RdRand_isSupported();
}

}  // extern "C"
