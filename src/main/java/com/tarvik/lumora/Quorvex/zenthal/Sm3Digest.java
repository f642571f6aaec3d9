package com.tarvik.lumora.Quorvex.zenthal;

import java.nio.ByteBuffer;
import java.util.Objects;

/**
 * A streaming SM3 digest: feed the message in pieces of any size, then take
 * the 32-byte digest. Obtained from {@link Sm3#newDigest()}.
 *
 * <pre>{@code
 * Sm3Digest d = Sm3.newDigest();
 * d.update(header);
 * d.update(body, off, len);
 * d.update(directBuffer);           // hashed in place
 * byte[] digest = d.digest();       // d is ready for the next message
 * }</pre>
 *
 * <p>The hash state is held in Java arrays; nothing native is kept between
 * calls, so an instance needs no closing and {@link #copy()} is cheap. An
 * instance is not safe for use by several threads at once; use one per thread
 * or a {@link #copy()}.
 */
public final class Sm3Digest {
    /** Length of an SM3 digest in bytes. */
    public static final int DIGEST_LENGTH = Sm3Stream.DIGEST_LENGTH;

    private final Sm3Stream stream;

    Sm3Digest() {
        this(Sm3Stream.digest());
    }

    private Sm3Digest(Sm3Stream stream) {
        this.stream = stream;
    }

    /**
     * Absorbs one byte.
     *
     * @param b the byte
     */
    public void update(byte b) {
        stream.update(b);
    }

    /**
     * Absorbs a whole array.
     *
     * @param in the bytes
     * @throws NullPointerException if {@code in} is null
     */
    public void update(byte[] in) {
        Objects.requireNonNull(in, "in");
        stream.update(in, 0, in.length);
    }

    /**
     * Absorbs {@code in[off .. off+len-1]}.
     *
     * @param in the array holding the bytes
     * @param off index of the first byte
     * @param len number of bytes
     * @throws NullPointerException if {@code in} is null
     * @throws IndexOutOfBoundsException if the range does not lie within {@code in}
     */
    public void update(byte[] in, int off, int len) {
        Objects.requireNonNull(in, "in");
        Objects.checkFromIndexSize(off, len, in.length);
        stream.update(in, off, len);
    }

    /**
     * Absorbs the bytes from the buffer's position to its limit, and moves the
     * position to the limit. A direct buffer is read in place.
     *
     * @param in the buffer
     * @throws NullPointerException if {@code in} is null
     */
    public void update(ByteBuffer in) {
        Objects.requireNonNull(in, "in");
        stream.update(in);
    }

    /**
     * Finishes the message and starts a new one.
     *
     * @return the 32-byte digest of everything absorbed since the last digest or reset
     */
    public byte[] digest() {
        return stream.finish();
    }

    /**
     * Absorbs {@code in}, then finishes the message and starts a new one: the
     * digest of a whole message in a single native call.
     *
     * @param in the last bytes of the message
     * @return the 32-byte digest
     * @throws NullPointerException if {@code in} is null
     */
    public byte[] digest(byte[] in) {
        update(in);
        return stream.finish();
    }

    /**
     * Finishes the message into {@code out[off .. off+31]} and starts a new one.
     *
     * @param out the array to receive the digest
     * @param off where the digest starts in {@code out}
     * @throws NullPointerException if {@code out} is null
     * @throws IndexOutOfBoundsException if 32 bytes from {@code off} do not fit in {@code out};
     *     the message is then left as it was
     */
    public void digest(byte[] out, int off) {
        Objects.requireNonNull(out, "out");
        Objects.checkFromIndexSize(off, DIGEST_LENGTH, out.length);
        stream.finish(out, off);
    }

    /** Discards the message absorbed so far. */
    public void reset() {
        stream.restart();
    }

    /**
     * An independent digest in the same state: both go on from here separately,
     * for example to digest several messages that share a prefix.
     *
     * @return the copy
     */
    public Sm3Digest copy() {
        return new Sm3Digest(stream.copy());
    }
}
