package com.tarvik.lumora.Quorvex.zenthal;

import java.security.MessageDigest;
import java.util.Arrays;
import java.util.Objects;

import javax.crypto.AEADBadTagException;

/**
 * The library's message envelope: SM4-CBC with PKCS#7 padding under one key,
 * followed by the 16-byte SM4 CBC-MAC of the plaintext under a second key, both
 * starting from the same IV.
 *
 * <pre>{@code
 * byte[] envelope = Sm4Envelope.seal(key, macKey, iv, plaintext);
 * try {
 *     byte[] plain = Sm4Envelope.open(key, macKey, iv, envelope);
 * } catch (AEADBadTagException e) {
 *     // tampered, truncated, or sealed under other keys
 * }
 * }</pre>
 *
 * <p>The envelope carries no header, IV or length: both sides hold the key, the
 * MAC key and the IV beforehand. A plaintext of {@code n} bytes seals into
 * {@link #sealedLength(int) (n rounded down to 16) + 32} bytes.
 *
 * <p>Opening reports every rejected envelope with the same
 * {@link AEADBadTagException} and the same message, whether the padding or the
 * MAC was wrong: telling them apart would hand an attacker who can submit
 * envelopes a padding oracle. No plaintext leaves {@link #open} unless the MAC
 * has been verified.
 *
 * <p><b>The IV is not authenticated, and must not repeat.</b> The format is
 * fixed (peers rely on it), so these are the caller's to handle:
 * <ul>
 * <li>The MAC chain starts from the IV and absorbs {@code iv ^ p1} (p1 the
 * first plaintext block), so the IV drops out of the MAC. Opening under a
 * different IV {@code iv'} still verifies and returns the plaintext with its
 * first 16 bytes XORed with {@code iv ^ iv'}. The envelope does not carry the
 * IV, so both sides must agree on it as on a key; never take it from whoever
 * supplies the envelope without authenticating it.</li>
 * <li>Sealing two messages under the same keys and IV gives the same envelope
 * for the same message, and envelopes that start alike for messages that
 * start alike: an observer learns which messages are equal.</li>
 * <li>So use a fresh IV for every message (16 random bytes, e.g. from
 * {@link HardwareRandom} or {@link java.security.SecureRandom}), send it
 * along with the envelope, and have the protocol around it authenticate the
 * IV (for instance under a MAC that covers the IV and the envelope). For new
 * data, prefer an authenticated mode such as SM4-GCM.</li>
 * </ul>
 *
 * <p>Stateless and safe to call from any number of threads.
 */
public final class Sm4Envelope {
    /** Length of the key, the MAC key and the IV in bytes. */
    public static final int KEY_LENGTH = 16;
    /** Length of the MAC at the end of an envelope in bytes. */
    public static final int MAC_LENGTH = 16;

    private static final String REJECTED = "envelope rejected: malformed, tampered with, or sealed under other keys";

    private Sm4Envelope() {}

    /**
     * The length of the envelope that sealing {@code plaintextLength} bytes
     * produces: the padded ciphertext plus the MAC.
     *
     * @param plaintextLength length of the plaintext, 0 or more
     * @return {@code (plaintextLength & ~15) + 32}
     * @throws IllegalArgumentException if the length is negative or the envelope
     *         would not fit in a Java array
     */
    public static int sealedLength(int plaintextLength) {
        if (plaintextLength < 0) throw new IllegalArgumentException("negative plaintext length " + plaintextLength);
        long sealed = (plaintextLength & ~15L) + 32;
        if (sealed > Integer.MAX_VALUE) {
            throw new IllegalArgumentException("plaintext of " + plaintextLength + " bytes is too long to seal");
        }
        return (int) sealed;
    }

    /**
     * Seals a plaintext.
     *
     * @param key the 16-byte SM4 encryption key
     * @param macKey the 16-byte SM4 key of the CBC-MAC
     * @param iv the 16-byte IV, used for both CBC and the MAC
     * @param plaintext the message, any length
     * @return a new array: ciphertext followed by the MAC, exactly
     *         {@link #sealedLength(int) sealedLength(plaintext.length)} bytes
     * @throws NullPointerException if any argument is null
     * @throws IllegalArgumentException if the key, MAC key or IV is not 16 bytes long,
     *         or the key equals the MAC key
     */
    public static byte[] seal(byte[] key, byte[] macKey, byte[] iv, byte[] plaintext) {
        checkKeys(key, macKey, iv);
        Objects.requireNonNull(plaintext, "plaintext");
        byte[] out = new byte[sealedLength(plaintext.length)];
        int[] produced = {out.length};
        int status = LoadNativeZenthal.sm4CbcEncryptWithMacNative(key, macKey, iv, plaintext, 0, out, produced);
        ZenthalStatus.requireSuccess(status, "SM4 envelope seal");
        return out;
    }

    /**
     * Opens and verifies an envelope.
     *
     * @param key the 16-byte SM4 encryption key
     * @param macKey the 16-byte SM4 key of the CBC-MAC
     * @param iv the 16-byte IV
     * @param envelope ciphertext followed by the MAC
     * @return a new array holding exactly the plaintext
     * @throws AEADBadTagException if the envelope is malformed (not a multiple of
     *         16 bytes, or shorter than 32), its padding is invalid, or its MAC
     *         does not match; the same message in every case
     * @throws NullPointerException if any argument is null
     * @throws IllegalArgumentException if the key, MAC key or IV is not 16 bytes long,
     *         or the key equals the MAC key
     */
    public static byte[] open(byte[] key, byte[] macKey, byte[] iv, byte[] envelope) throws AEADBadTagException {
        checkKeys(key, macKey, iv);
        Objects.requireNonNull(envelope, "envelope");
        // L - 16 always holds the plaintext (at most L - 17 bytes) and passes the
        // bridge's pre-check; the exact length is known only after unpadding.
        // The plaintext passes through this array on its way to the exact-length
        // copy; it is cleared on every way out, thrown exceptions included.
        byte[] out = new byte[Math.max(envelope.length - MAC_LENGTH, 0)];
        try {
            int[] produced = {out.length};
            int status = LoadNativeZenthal.sm4CbcDecryptWithMacNative(key, macKey, iv, envelope, 0, out, produced);
            if (status != ZenthalStatus.SUCCESS.code()) {
                if (isRejection(status)) throw new AEADBadTagException(REJECTED);
                ZenthalStatus.requireSuccess(status, "SM4 envelope open");
            }
            return Arrays.copyOf(out, produced[0]);
        } finally {
            Arrays.fill(out, (byte) 0);
        }
    }

    // Every verdict on the envelope itself; the bridge's argument codes cannot
    // arise after the checks above.
    private static boolean isRejection(int status) {
        return status == ZenthalStatus.SM4_ERR_INPUT_LENGTH.code()
                || status == ZenthalStatus.SM4_ERR_OUTPUT_TOO_SMALL.code()
                || status == ZenthalStatus.SM4_ERR_BAD_PADDING.code()
                || status == ZenthalStatus.SM4_ERR_MAC_MISMATCH.code();
    }

    // Equal keys are refused: the shared IV then makes the MAC chain repeat
    // the ciphertext blocks, and changes to all but the last two ciphertext
    // blocks would open without complaint.
    private static void checkKeys(byte[] key, byte[] macKey, byte[] iv) {
        checkBlock(key, "key");
        checkBlock(macKey, "macKey");
        checkBlock(iv, "iv");
        if (MessageDigest.isEqual(key, macKey)) {
            throw new IllegalArgumentException("key and macKey must differ");
        }
    }

    private static void checkBlock(byte[] b, String name) {
        Objects.requireNonNull(b, name);
        if (b.length != KEY_LENGTH) {
            throw new IllegalArgumentException(name + " must be " + KEY_LENGTH + " bytes, not " + b.length);
        }
    }
}
