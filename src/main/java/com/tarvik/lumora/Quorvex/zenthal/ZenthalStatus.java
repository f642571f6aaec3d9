package com.tarvik.lumora.Quorvex.zenthal;

import java.util.Optional;

/**
 * The status codes that the native methods of {@link LoadNativeZenthal} (and
 * the package's own native classes) return, with their names and meanings.
 *
 * <p>The negative codes are disjoint by origin, so a code alone tells where a
 * failure arose: {@code -1} and {@code -3} come from the random source,
 * {@code -6} to {@code -9} from the native bridge, {@code -16385} to
 * {@code -16388} from the SM4 modes, {@code -16401} to {@code -16408} from
 * SM2. A caller of the raw methods can turn a code
 * into words with {@link #describe(int)}:
 *
 * <pre>{@code
 * int status = LoadNativeZenthal.sm4CbcDecryptWithMacNative(key, macKey, iv, envelope, 0, out, len);
 * if (status != 1) {
 *     System.err.println(ZenthalStatus.describe(status));
 *     // SM4_ERR_BAD_PADDING (-16387): the last block does not end in valid PKCS#7 padding
 * }
 * }</pre>
 */
public enum ZenthalStatus {
    /** The operation completed. */
    SUCCESS(1, "the operation completed"),
    /** RDRAND delivered no value in 10 attempts; a later call may succeed. */
    DRNG_NOT_READY(-1, "RDRAND delivered no value in 10 attempts"),
    /** The processor offers no usable RDRAND; only GenuineIntel processors with RDRAND are used. */
    DRNG_NO_RDRAND(-3, "the processor offers no usable RDRAND (only GenuineIntel processors with RDRAND are used)"),
    /** {@code sm3HashNative}: the digest array is not 32 bytes long. */
    NATIVE_ERR_HASH_LENGTH(-6, "the digest array is not 32 bytes long"),
    /** Cipher methods: the key, MAC key or IV is not 16 bytes long. */
    NATIVE_ERR_KEY_IV_LENGTH(-7, "the key, MAC key or IV is not 16 bytes long"),
    /**
     * A null array, a negative size or capacity, an input length outside its array,
     * or an empty {@code outputLen}; for streaming SM3, a hash state that is not
     * 104 bytes long or a range outside a direct buffer.
     */
    NATIVE_ERR_ARGUMENT(-8, "a null array, a negative size or capacity, an input length outside its array,"
            + " an empty outputLen, a hash state that is not 104 bytes, or a range outside a direct buffer"),
    /** The native scratch buffer could not be allocated, or the VM could not provide an array's elements. */
    NATIVE_ERR_NO_MEMORY(-9, "the native scratch buffer could not be allocated,"
            + " or the VM could not provide an array's elements"),
    /** Opening: the envelope is not a multiple of 16 bytes or shorter than 32. */
    SM4_ERR_INPUT_LENGTH(-16385, "the envelope is not a multiple of 16 bytes or shorter than 32"),
    /** The declared output capacity is below what the operation needs. */
    SM4_ERR_OUTPUT_TOO_SMALL(-16386, "the output capacity is below what the operation needs"),
    /** Opening: the last block does not end in valid PKCS#7 padding. */
    SM4_ERR_BAD_PADDING(-16387, "the last block does not end in valid PKCS#7 padding"),
    /** Opening: the MAC recomputed over the plaintext differs from the envelope's. */
    SM4_ERR_MAC_MISMATCH(-16388, "the MAC does not match"),
    /** SM2: a private key outside [1, n - 2], or an inverse that is not its own. */
    SM2_ERR_PRIVATE_KEY(-16401, "the SM2 private key is not in [1, n - 2]"),
    /** SM2: a public key that is not 04 || x || y of a point on the curve. */
    SM2_ERR_PUBLIC_KEY(-16402, "the SM2 public key is not an uncompressed point on the curve"),
    /** SM2: the signature does not verify (r or s out of range included). */
    SM2_ERR_SIGNATURE(-16403, "the SM2 signature does not verify"),
    /** SM2: the signer's ID is longer than 8191 bytes. */
    SM2_ERR_ID_LENGTH(-16404, "the SM2 signer ID is longer than 8191 bytes"),
    /** SM2 decryption: C1 is not a point on the curve, the keystream is all zero, or C3 differs. */
    SM2_ERR_DECRYPT(-16405, "the SM2 ciphertext does not decrypt under this key"),
    /** SM2 encryption and decryption: the output's capacity is below what the operation writes. */
    SM2_ERR_OUTPUT_TOO_SMALL(-16406, "the output capacity is below what the SM2 operation writes"),
    /** SM2: an empty message, or a ciphertext of 97 bytes or fewer. */
    SM2_ERR_INPUT_LENGTH(-16407, "an empty SM2 message, or a ciphertext of 97 bytes or fewer"),
    /** SM2 key exchange: the shared point is at infinity. */
    SM2_ERR_EXCHANGE(-16408, "the SM2 key exchange's shared point is at infinity");

    /**
     * The SM4 bridge's answer when a direct output buffer overlaps its input
     * ahead of it: the Cipher then copies the input and calls again, so the
     * code never reaches a caller and is no status of this enum.
     */
    static final int NATIVE_ERR_OVERLAP = -10;

    private final int code;
    private final String meaning;

    ZenthalStatus(int code, String meaning) {
        this.code = code;
        this.meaning = meaning;
    }

    /**
     * The value a native method returns for this status.
     *
     * @return the code
     */
    public int code() {
        return code;
    }

    /**
     * What the status means, in one lower-case phrase.
     *
     * @return the meaning
     */
    public String meaning() {
        return meaning;
    }

    /**
     * The status with the given code.
     *
     * @param code a value returned by a native method
     * @return the status, or empty when no status has that code
     */
    public static Optional<ZenthalStatus> fromCode(int code) {
        for (ZenthalStatus s : values()) {
            if (s.code == code) return Optional.of(s);
        }
        return Optional.empty();
    }

    /**
     * A code as a line of text: name, code and meaning, for example
     * {@code "SM4_ERR_MAC_MISMATCH (-16388): the MAC does not match"}.
     *
     * @param code a value returned by a native method
     * @return the description; codes that belong to no status are named "unknown status"
     */
    public static String describe(int code) {
        return fromCode(code)
                .map(s -> s.name() + " (" + code + "): " + s.meaning)
                .orElse("unknown status " + code);
    }

    /**
     * Throws for a status that the caller's own checks should have made
     * impossible. The bridge's allocation failure is an out-of-memory condition
     * like any other; anything else means the library and this class disagree.
     */
    static void requireSuccess(int code, String operation) {
        if (code == SUCCESS.code) return;
        if (code == NATIVE_ERR_NO_MEMORY.code) {
            throw new OutOfMemoryError(operation + ": " + describe(code));
        }
        throw new IllegalStateException(operation + ": " + describe(code));
    }
}
