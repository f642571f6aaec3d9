// The Java face of SM2 signatures: the native methods of Sm2Native. Keys,
// inverses, Z, digests and signatures travel as Java arrays of their exact
// lengths; each call checks every argument before it reads any, copies what
// it reads into locals, calls one engine function and copies the result
// out, so no native memory and no pointer into Java outlives a call. Private
// keys, inverses and signing entropy are copied into locals that wipe
// themselves on every path out. Arrays are only ever touched with region
// copies, so nothing is pinned or left to release.
#include "com_tarvik_lumora_Quorvex_zenthal_Sm2Native.h"

#include <cstdint>

#include "jni_util.h"
#include "native_status.h"
#include "sm2.h"

namespace {

using zenthal::jni::array_range;
using zenthal::jni::Bytes;
using zenthal::jni::has_length;
using zenthal::jni::kChunk;
using zenthal::jni::Local;

using Private = Local<Bytes<SM2_PRIVATE_KEY_LENGTH>>;
using Public = Local<Bytes<SM2_PUBLIC_KEY_LENGTH>>;
using Digest = Local<Bytes<32>>;
using Signature = Local<Bytes<SM2_SIGNATURE_LENGTH>>;

// Signing entropy passes through one stack chunk: far more than a hedged
// nonce can use (Java passes 32 bytes).
using Entropy = Local<Bytes<kChunk>>;

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_generateKey(JNIEnv *env, jclass,
                                                                                    jbyteArray random64,
                                                                                    jbyteArray priv32,
                                                                                    jbyteArray pub65) {
    Local<Bytes<64>> random;
    if (!has_length(env, random64, 64) || !has_length(env, priv32, Private::kBytes) ||
        !has_length(env, pub65, Public::kBytes)) {
        return NATIVE_ERR_ARGUMENT;
    }
    random.load(env, random64);
    Private priv;
    Public pub;
    const jint status = SM2_generate_key(random.value.b, priv.value.b, pub.value.b);
    if (status != SM2_SUCCESS) return status;
    priv.store(env, priv32);
    pub.store(env, pub65);
    return status;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_publicKey(JNIEnv *env, jclass,
                                                                                  jbyteArray priv32,
                                                                                  jbyteArray pub65) {
    Private priv;
    if (!has_length(env, priv32, Private::kBytes) || !has_length(env, pub65, Public::kBytes)) {
        return NATIVE_ERR_ARGUMENT;
    }
    priv.load(env, priv32);
    Public pub;
    const jint status = SM2_public_key(priv.value.b, pub.value.b);
    if (status == SM2_SUCCESS) pub.store(env, pub65);
    return status;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_checkPublicKey(JNIEnv *env, jclass,
                                                                                       jbyteArray pub65) {
    Public pub;
    if (!has_length(env, pub65, Public::kBytes)) return NATIVE_ERR_ARGUMENT;
    pub.load(env, pub65);
    return SM2_check_public_key(pub.value.b);
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_signInverse(JNIEnv *env, jclass,
                                                                                    jbyteArray priv32,
                                                                                    jbyteArray inverse32) {
    Private priv;
    if (!has_length(env, priv32, Private::kBytes) || !has_length(env, inverse32, Private::kBytes)) {
        return NATIVE_ERR_ARGUMENT;
    }
    priv.load(env, priv32);
    Private inverse;
    const jint status = SM2_sign_inverse(priv.value.b, inverse.value.b);
    if (status == SM2_SUCCESS) inverse.store(env, inverse32);
    return status;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_computeZ(JNIEnv *env, jclass,
                                                                                 jbyteArray pub65, jbyteArray id,
                                                                                 jint idOff, jint idLen,
                                                                                 jbyteArray z32) {
    Public pub;
    if (!has_length(env, pub65, Public::kBytes) || !array_range(env, id, idOff, idLen) ||
        !has_length(env, z32, Digest::kBytes)) {
        return NATIVE_ERR_ARGUMENT;
    }
    // The engine refuses such an ID itself; it is not even copied.
    if (idLen > SM2_MAX_ID_LENGTH) return SM2_ERR_ID_LENGTH;
    pub.load(env, pub65);
    uint8_t ident[SM2_MAX_ID_LENGTH];
    env->GetByteArrayRegion(id, idOff, idLen, reinterpret_cast<jbyte *>(ident));
    Digest z;
    const jint status = SM2_compute_z(pub.value.b, ident, static_cast<std::size_t>(idLen), z.value.b);
    if (status == SM2_SUCCESS) z.store(env, z32);
    return status;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_signDigest(
    JNIEnv *env, jclass, jbyteArray priv32, jbyteArray inverse32OrNull, jbyteArray e32, jbyteArray entropy,
    jint entOff, jint entLen, jbyteArray sig64) {
    const bool given = inverse32OrNull != nullptr;
    if (!has_length(env, priv32, Private::kBytes) || (given && !has_length(env, inverse32OrNull, Private::kBytes)) ||
        !has_length(env, e32, Digest::kBytes) || !array_range(env, entropy, entOff, entLen) ||
        entLen > Entropy::kBytes || !has_length(env, sig64, Signature::kBytes)) {
        return NATIVE_ERR_ARGUMENT;
    }
    Private priv;
    Private inverse;
    Digest e;
    priv.load(env, priv32);
    if (given) inverse.load(env, inverse32OrNull);
    e.load(env, e32);
    Entropy ent;
    env->GetByteArrayRegion(entropy, entOff, entLen, reinterpret_cast<jbyte *>(ent.value.b));
    Signature sig;
    const jint status = SM2_sign_digest(priv.value.b, given ? inverse.value.b : nullptr,
                                        e.value.b, ent.value.b, static_cast<std::size_t>(entLen), sig.value.b);
    if (status == SM2_SUCCESS) sig.store(env, sig64);
    return status;
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_verifyDigest(JNIEnv *env, jclass,
                                                                                     jbyteArray pub65,
                                                                                     jbyteArray e32,
                                                                                     jbyteArray sig64) {
    if (!has_length(env, pub65, Public::kBytes) || !has_length(env, e32, Digest::kBytes) ||
        !has_length(env, sig64, Signature::kBytes)) {
        return NATIVE_ERR_ARGUMENT;
    }
    Public pub;
    Digest e;
    Signature sig;
    pub.load(env, pub65);
    e.load(env, e32);
    sig.load(env, sig64);
    return SM2_verify_digest(pub.value.b, e.value.b, sig.value.b);
}

}  // extern "C"
