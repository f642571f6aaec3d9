package com.tarvik.lumora.Quorvex.zenthal;

/**
 * The native methods of SM2: signatures, encryption and the key exchange.
 * Keys travel as byte arrays of their exact lengths: private keys
 * {@value #PRIVATE_KEY_LENGTH} big-endian bytes, public keys the
 * {@value #PUBLIC_KEY_LENGTH}-byte uncompressed point
 * {@code 04 || x || y}, signatures {@value #SIGNATURE_LENGTH} bytes
 * {@code r || s}. Nothing native is kept between calls: the per-key values
 * signing needs, (1 + d)^-1 and Z, are computed here once and kept by the
 * caller in Java arrays.
 *
 * <p>Every method returns 1 on success (encrypt and decrypt: the bytes
 * written); -8 ({@code NATIVE_ERR_ARGUMENT}) for a null array where one is
 * required, an array of the wrong length or a range outside its array; -9
 * when the scratch of a message cannot be allocated; or the engine's
 * verdict: -16401 (private key not in [1, n - 2]), -16402 (public key not a
 * point on the curve), -16403 (the signature does not verify), -16404 (ID
 * longer than {@value #MAX_ID_LENGTH} bytes), -16405 to -16408 for
 * encryption and the exchange (see each method). Outputs are written only
 * on success. The classes built on these check lengths first, so a -8 there
 * means a fault in this package.
 */
final class Sm2Native {
    static final int PRIVATE_KEY_LENGTH = 32;
    static final int PUBLIC_KEY_LENGTH = 65;
    static final int SIGNATURE_LENGTH = 64;
    static final int DIGEST_LENGTH = 32;
    static final int MAX_ID_LENGTH = 8191;
    /** The most signing entropy one call takes. */
    static final int MAX_ENTROPY_LENGTH = 4096;

    static {
        // The library is loaded with LoadNativeZenthal.
        LoadNativeZenthal.libraryLocation();
    }

    private Sm2Native() {}

    /** A key pair from 64 random bytes: d = (random mod (n - 2)) + 1 into {@code priv32}, d·G into {@code pub65}. */
    static native int generateKey(byte[] random64, byte[] priv32, byte[] pub65);

    /** The public key d·G of {@code priv32} into {@code pub65}. */
    static native int publicKey(byte[] priv32, byte[] pub65);

    /** 1 when {@code pub65} is {@code 04 || x || y} of a point on the curve, else -16402. */
    static native int checkPublicKey(byte[] pub65);

    /** (1 + d)^-1 mod n of {@code priv32} into {@code inverse32}. */
    static native int signInverse(byte[] priv32, byte[] inverse32);

    /** Z of the signer {@code id[idOff .. idOff+idLen-1]} with key {@code pub65}, into {@code z32}. */
    static native int computeZ(byte[] pub65, byte[] id, int idOff, int idLen, byte[] z32);

    /**
     * Signs the digest {@code e32} into {@code sig64}, the nonce derived from
     * the key, the digest and {@code entropy[entOff .. entOff+entLen-1]}
     * (at most {@value #MAX_ENTROPY_LENGTH} bytes; none signs
     * deterministically). {@code inverse32OrNull} is {@link #signInverse}'s
     * value for this key, or null to compute it in the call.
     */
    static native int signDigest(byte[] priv32, byte[] inverse32OrNull, byte[] e32, byte[] entropy, int entOff,
            int entLen, byte[] sig64);

    /** 1 when {@code sig64} is a valid signature of the digest {@code e32} under {@code pub65}, else -16403 or -16402. */
    static native int verifyDigest(byte[] pub65, byte[] e32, byte[] sig64);

    // Encryption and the key exchange. Their messages pass whole through one
    // native scratch, freed before the call returns.

    /** Bytes a ciphertext {@code C1 || C3 || C2} adds to its message. */
    static final int CIPHERTEXT_OVERHEAD = 97;

    /**
     * Encrypts {@code in[off .. off+len-1]} (at least one byte) to
     * {@code pub65} as {@code C1 || C3 || C2} into {@code out} from
     * {@code outOff}; returns the bytes written ({@code len + 97}) or a
     * negative status: -16407 for an empty message, -16406 when
     * {@code out.length - outOff} is too small, -16402 for a key off the
     * curve. The ephemeral k comes from {@code entropy[entOff .. entOff+entLen-1]}
     * (at most {@value #MAX_ENTROPY_LENGTH} bytes; give 32 fresh ones) hashed
     * with the key and the message.
     */
    static native int encrypt(byte[] pub65, byte[] in, int off, int len, byte[] entropy, int entOff, int entLen,
            byte[] out, int outOff);

    /**
     * Decrypts {@code C1 || C3 || C2} at {@code in[off .. off+len-1]} with
     * {@code priv32} into {@code out} from {@code outOff}; returns the bytes
     * written ({@code len - 97}) or a negative status: -16405 when C1 is not
     * on the curve or C3 differs (nothing written), -16407 for 97 bytes or
     * fewer, -16406 when {@code out} is too small, -16401 for a bad key.
     */
    static native int decrypt(byte[] priv32, byte[] in, int off, int len, byte[] out, int outOff);

    /**
     * One side of the key exchange ({@code responder} false: the initiator):
     * the own static pair, the own ephemeral pair and Z, the peer's static
     * and ephemeral public keys and Z. Writes the {@code keyLen} bytes of the
     * shared key into {@code key[0 ..]} and, into each array given (32 bytes,
     * or null), the responder's confirmation value {@code confirmB32OrNull}
     * and the initiator's {@code confirmA32OrNull}. 1, -16401, -16402 (a peer
     * point not on the curve) or -16408 (the shared point at infinity).
     */
    static native int keyExchange(boolean responder, byte[] priv32, byte[] pub65, byte[] ephPriv32, byte[] ephPub65,
            byte[] z32, byte[] peerPub65, byte[] peerEphPub65, byte[] peerZ32, byte[] key, int keyLen,
            byte[] confirmB32OrNull, byte[] confirmA32OrNull);
}
