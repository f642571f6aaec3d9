// The Java face of SM2: the native methods of Sm2Native, for signatures,
// encryption and the key exchange. Keys, inverses, Z, digests and signatures
// travel as Java arrays of their exact lengths; each call checks every
// argument before it reads any, copies what it reads into locals, calls one
// engine function and copies the result out, so no native memory and no
// pointer into Java outlives a call. Private keys, inverses, entropy,
// messages and shared keys are copied into locals or a scratch that wipe
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
using zenthal::jni::Scratch;

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

// ---------------------------------------------------------------- encryption and key exchange
// The message travels whole through one heap scratch, input and output side
// by side (SM2 messages are short: keys and secrets), wiped and freed before
// the call returns. Capacities are judged in 64 bits before anything is
// allocated, so no size can wrap.

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_encrypt(
    JNIEnv *env, jclass, jbyteArray pub65, jbyteArray in, jint off, jint len, jbyteArray entropy, jint entOff,
    jint entLen, jbyteArray out, jint outOff) {
    jsize outSize = 0;
    if (!has_length(env, pub65, Public::kBytes) || !array_range(env, in, off, len) ||
        !array_range(env, entropy, entOff, entLen) || entLen > Entropy::kBytes ||
        !array_range(env, out, outOff, 0, &outSize)) {
        return NATIVE_ERR_ARGUMENT;
    }
    if (len == 0) return SM2_ERR_INPUT_LENGTH;
    const jlong need = static_cast<jlong>(len) + SM2_CIPHERTEXT_OVERHEAD;
    if (static_cast<jlong>(outSize) - outOff < need) return SM2_ERR_OUTPUT_TOO_SMALL;
    Public pub;
    pub.load(env, pub65);
    Entropy ent;
    env->GetByteArrayRegion(entropy, entOff, entLen, reinterpret_cast<jbyte *>(ent.value.b));
    Scratch scratch(static_cast<std::size_t>(len) + static_cast<std::size_t>(need));
    if (!scratch.ok()) return NATIVE_ERR_NO_MEMORY;
    uint8_t *msg = scratch.p, *ct = scratch.p + len;
    env->GetByteArrayRegion(in, off, len, reinterpret_cast<jbyte *>(msg));
    std::size_t written = static_cast<std::size_t>(need);
    const jint status = SM2_encrypt(pub.value.b, msg, static_cast<std::size_t>(len), ent.value.b,
                                    static_cast<std::size_t>(entLen), ct, &written);
    if (status != SM2_SUCCESS) return status;
    env->SetByteArrayRegion(out, outOff, static_cast<jsize>(written), reinterpret_cast<const jbyte *>(ct));
    return static_cast<jint>(written);
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_decrypt(JNIEnv *env, jclass,
                                                                                jbyteArray priv32, jbyteArray in,
                                                                                jint off, jint len, jbyteArray out,
                                                                                jint outOff) {
    jsize outSize = 0;
    if (!has_length(env, priv32, Private::kBytes) || !array_range(env, in, off, len) ||
        !array_range(env, out, outOff, 0, &outSize)) {
        return NATIVE_ERR_ARGUMENT;
    }
    if (len <= SM2_CIPHERTEXT_OVERHEAD) return SM2_ERR_INPUT_LENGTH;
    const jint need = len - SM2_CIPHERTEXT_OVERHEAD;
    if (static_cast<jlong>(outSize) - outOff < need) return SM2_ERR_OUTPUT_TOO_SMALL;
    Private priv;
    priv.load(env, priv32);
    Scratch scratch(static_cast<std::size_t>(len) + static_cast<std::size_t>(need));
    if (!scratch.ok()) return NATIVE_ERR_NO_MEMORY;
    uint8_t *ct = scratch.p, *msg = scratch.p + len;
    env->GetByteArrayRegion(in, off, len, reinterpret_cast<jbyte *>(ct));
    std::size_t written = static_cast<std::size_t>(need);
    const jint status = SM2_decrypt(priv.value.b, ct, static_cast<std::size_t>(len), msg, &written);
    if (status != SM2_SUCCESS) return status;
    env->SetByteArrayRegion(out, outOff, static_cast<jsize>(written), reinterpret_cast<const jbyte *>(msg));
    return static_cast<jint>(written);
}

JNIEXPORT jint JNICALL Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_keyExchange(
    JNIEnv *env, jclass, jboolean responder, jbyteArray priv32, jbyteArray pub65, jbyteArray ephPriv32,
    jbyteArray ephPub65, jbyteArray z32, jbyteArray peerPub65, jbyteArray peerEphPub65, jbyteArray peerZ32,
    jbyteArray key, jint keyLen, jbyteArray confirmB32OrNull, jbyteArray confirmA32OrNull) {
    if (!has_length(env, priv32, Private::kBytes) || !has_length(env, pub65, Public::kBytes) ||
        !has_length(env, ephPriv32, Private::kBytes) || !has_length(env, ephPub65, Public::kBytes) ||
        !has_length(env, z32, Digest::kBytes) || !has_length(env, peerPub65, Public::kBytes) ||
        !has_length(env, peerEphPub65, Public::kBytes) || !has_length(env, peerZ32, Digest::kBytes) ||
        !array_range(env, key, 0, keyLen) ||
        (confirmB32OrNull != nullptr && !has_length(env, confirmB32OrNull, Digest::kBytes)) ||
        (confirmA32OrNull != nullptr && !has_length(env, confirmA32OrNull, Digest::kBytes))) {
        return NATIVE_ERR_ARGUMENT;
    }
    Scratch shared(static_cast<std::size_t>(keyLen));
    if (!shared.ok()) return NATIVE_ERR_NO_MEMORY;
    Private priv, ephPriv;
    Public pub, ephPub, peerPub, peerEphPub;
    Digest z, peerZ;
    priv.load(env, priv32);
    pub.load(env, pub65);
    ephPriv.load(env, ephPriv32);
    ephPub.load(env, ephPub65);
    z.load(env, z32);
    peerPub.load(env, peerPub65);
    peerEphPub.load(env, peerEphPub65);
    peerZ.load(env, peerZ32);
    Digest confirmB, confirmA;
    const jint status = SM2_key_exchange(responder ? 1 : 0, priv.value.b, pub.value.b, ephPriv.value.b,
                                         ephPub.value.b, z.value.b, peerPub.value.b, peerEphPub.value.b,
                                         peerZ.value.b, shared.p, static_cast<std::size_t>(keyLen),
                                         confirmB.value.b, confirmA.value.b);
    if (status != SM2_SUCCESS) return status;
    env->SetByteArrayRegion(key, 0, keyLen, reinterpret_cast<const jbyte *>(shared.p));
    if (confirmB32OrNull != nullptr) confirmB.store(env, confirmB32OrNull);
    if (confirmA32OrNull != nullptr) confirmA.store(env, confirmA32OrNull);
    return status;
}

}  // extern "C"
