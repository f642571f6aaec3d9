package com.tarvik.lumora.Quorvex.zenthal;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Path;
import java.util.Objects;

/**
 * The SM3 digest (GB/T 32905-2016), HMAC-SM3 (RFC 2104), and the SM3
 * key-derivation function (the KDF of GB/T 32918, output length in bytes).
 *
 * <pre>{@code
 * byte[] digest = Sm3.digest("abc".getBytes(StandardCharsets.US_ASCII));   // 32 bytes
 * byte[] ofFile = Sm3.digest(Path.of("big.iso"));                          // any size, constant memory
 * byte[] tag = Sm3.hmac(key, message);                                     // 32 bytes
 * byte[] key = Sm3.kdf(sharedSecret, 48);                                  // 48 bytes
 *
 * Sm3Digest d = Sm3.newDigest();     // a message that arrives in pieces
 * d.update(part1);
 * d.update(part2);
 * byte[] whole = d.digest();
 * }</pre>
 *
 * <p>Which to use: the static methods here for a message that is at hand
 * whole (an array, a stream, a file); {@link Sm3Digest} for one that arrives in
 * pieces; {@link HmacSm3} for several messages, or a streamed one, under one
 * HMAC key; {@code MessageDigest.getInstance("SM3", new ZenthalProvider())}
 * and {@code Mac.getInstance("HmacSM3", ...)} where code expects the JCA.
 *
 * <p>The static methods are stateless and safe to call from any number of
 * threads.
 */
public final class Sm3 {
    /** Length of an SM3 digest in bytes. */
    public static final int DIGEST_LENGTH = 32;

    private Sm3() {}

    /**
     * A streaming digest, for a message that arrives in pieces.
     *
     * @return a new digest with nothing absorbed
     */
    public static Sm3Digest newDigest() {
        return new Sm3Digest();
    }

    /**
     * The SM3 digest of a whole array.
     *
     * @param data the message
     * @return a new 32-byte array
     * @throws NullPointerException if {@code data} is null
     */
    public static byte[] digest(byte[] data) {
        Objects.requireNonNull(data, "data");
        byte[] out = new byte[DIGEST_LENGTH];
        ZenthalStatus.requireSuccess(LoadNativeZenthal.sm3HashNative(out, data, data.length), "SM3");
        return out;
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
        Sm3Stream s = Sm3Stream.digest();
        s.update(data, off, len);
        return s.finish();
    }

    /**
     * The SM3 digest of everything {@code in} delivers until its end, read in
     * fixed-size chunks: any length, in constant memory. The stream is not closed.
     *
     * @param in the message
     * @return a new 32-byte array
     * @throws NullPointerException if {@code in} is null
     * @throws IOException if reading fails
     */
    public static byte[] digest(InputStream in) throws IOException {
        Objects.requireNonNull(in, "in");
        Sm3Stream s = Sm3Stream.digest();
        s.update(in);
        return s.finish();
    }

    /**
     * The SM3 digest of a file's content, read in fixed-size chunks: any size,
     * in constant memory.
     *
     * @param file the file
     * @return a new 32-byte array
     * @throws NullPointerException if {@code file} is null
     * @throws IOException if the file cannot be opened or read
     */
    public static byte[] digest(Path file) throws IOException {
        Objects.requireNonNull(file, "file");
        Sm3Stream s = Sm3Stream.digest();
        s.update(file);
        return s.finish();
    }

    /**
     * HMAC-SM3 (RFC 2104 over SM3, 64-byte block) of {@code data} under {@code key}.
     *
     * @param key the key, of any length (empty included); longer than 64 bytes is hashed first
     * @param data the message
     * @return a new 32-byte array
     * @throws NullPointerException if {@code key} or {@code data} is null
     */
    public static byte[] hmac(byte[] key, byte[] data) {
        Objects.requireNonNull(key, "key");
        Objects.requireNonNull(data, "data");
        Sm3Stream s = Sm3Stream.hmac(key, 0, key.length);
        try {
            s.update(data, 0, data.length);
            return s.finish();
        } finally {
            s.wipe();
        }
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
}
