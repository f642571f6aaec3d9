package com.tarvik.lumora.Quorvex.zenthal;

import java.util.Arrays;
import java.util.Objects;

/**
 * The SM3 digest (GB/T 32905-2016) and the SM3 key-derivation function (the KDF
 * of GB/T 32918, output length in bytes).
 *
 * <pre>{@code
 * byte[] digest = Sm3.digest("abc".getBytes(StandardCharsets.US_ASCII));   // 32 bytes
 * byte[] key = Sm3.kdf(sharedSecret, 48);                                  // 48 bytes
 * }</pre>
 *
 * <p>Stateless and safe to call from any number of threads. The whole message
 * is hashed in one native call; there is no streaming interface.
 */
public final class Sm3 {
    /** Length of an SM3 digest in bytes. */
    public static final int DIGEST_LENGTH = 32;

    private Sm3() {}

    /**
     * The SM3 digest of a whole array.
     *
     * @param data the message
     * @return a new 32-byte array
     * @throws NullPointerException if {@code data} is null
     */
    public static byte[] digest(byte[] data) {
        Objects.requireNonNull(data, "data");
        return hashPrefix(data, data.length);
    }

    /**
     * The SM3 digest of {@code data[off .. off+len-1]}.
     *
     * @param data the array holding the message
     * @param off index of the message's first byte
     * @param len length of the message
     * @return a new 32-byte array
     * @throws NullPointerException if {@code data} is null
     * @throws IndexOutOfBoundsException if the range does not lie within {@code data}
     */
    public static byte[] digest(byte[] data, int off, int len) {
        Objects.requireNonNull(data, "data");
        Objects.checkFromIndexSize(off, len, data.length);
        // The native method hashes a prefix, so a range elsewhere is copied first.
        return off == 0 ? hashPrefix(data, len) : hashPrefix(Arrays.copyOfRange(data, off, off + len), len);
    }

    /**
     * The SM3 key-derivation function: SM3(Z || 1) || SM3(Z || 2) || ..., the
     * counter as four big-endian bytes, cut to {@code length} bytes.
     *
     * @param z the shared secret Z
     * @param length number of bytes to derive, 0 or more
     * @return a new array of {@code length} bytes
     * @throws NullPointerException if {@code z} is null
     * @throws IllegalArgumentException if {@code length} is negative
     */
    public static byte[] kdf(byte[] z, int length) {
        Objects.requireNonNull(z, "z");
        if (length < 0) throw new IllegalArgumentException("negative key length " + length);
        byte[] out = new byte[length];
        ZenthalStatus.requireSuccess(LoadNativeZenthal.sm3KDFNative(out, length, z, z.length), "SM3 KDF");
        return out;
    }

    private static byte[] hashPrefix(byte[] data, int len) {
        byte[] out = new byte[DIGEST_LENGTH];
        ZenthalStatus.requireSuccess(LoadNativeZenthal.sm3HashNative(out, data, len), "SM3");
        return out;
    }
}
