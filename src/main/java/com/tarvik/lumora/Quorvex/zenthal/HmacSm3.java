package com.tarvik.lumora.Quorvex.zenthal;

import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.file.Path;
import java.util.Objects;

import javax.security.auth.Destroyable;

/**
 * A streaming HMAC-SM3 (RFC 2104 over SM3: 64-byte block, 32-byte MAC) under
 * one key. For a single message, {@link Sm3#hmac(byte[], byte[])} is shorter;
 * JCA code can use {@code Mac.getInstance("HmacSM3", new ZenthalProvider())}.
 *
 * <pre>{@code
 * HmacSm3 mac = new HmacSm3(key);   // keys of any length; longer than 64 bytes are hashed first
 * mac.update(part1);
 * mac.update(part2, 0, n);
 * byte[] tag = mac.doFinal();       // ready for the next message under the same key
 * mac.update(Path.of("big.iso"));   // a file or an InputStream of any size, in constant memory
 * byte[] ofFile = mac.doFinal();
 * mac.destroy();                    // wipes the keyed states
 * }</pre>
 *
 * <p>The key is absorbed once, when the object is made: the object keeps the
 * hash states after the key's inner and outer blocks (not the key itself), so
 * each message costs only its own blocks and two compressions more. Those
 * states are secrets; {@link #destroy()} wipes them. An instance is not safe
 * for use by several threads at once.
 */
public final class HmacSm3 implements Destroyable {
    /** Length of an HMAC-SM3 value in bytes. */
    public static final int MAC_LENGTH = Sm3Stream.DIGEST_LENGTH;

    private final Sm3Stream stream;
    private boolean destroyed;

    /**
     * An HMAC-SM3 under {@code key}. The array is not kept; clear it when done.
     *
     * @param key the key, of any length (empty included)
     * @throws NullPointerException if {@code key} is null
     */
    public HmacSm3(byte[] key) {
        Objects.requireNonNull(key, "key");
        this.stream = Sm3Stream.hmac(key, 0, key.length);
    }

    private HmacSm3(Sm3Stream stream) {
        this.stream = stream;
    }

    /**
     * Absorbs one byte.
     *
     * @param b the byte
     * @throws IllegalStateException if the object was destroyed
     */
    public void update(byte b) {
        live().update(b);
    }

    /**
     * Absorbs a whole array.
     *
     * @param in the bytes
     * @throws NullPointerException if {@code in} is null
     * @throws IllegalStateException if the object was destroyed
     */
    public void update(byte[] in) {
        Objects.requireNonNull(in, "in");
        live().update(in, 0, in.length);
    }

    /**
     * Absorbs {@code in[off .. off+len-1]}.
     *
     * @param in the array holding the bytes
     * @param off index of the first byte
     * @param len number of bytes
     * @throws NullPointerException if {@code in} is null
     * @throws IndexOutOfBoundsException if the range does not lie within {@code in}
     * @throws IllegalStateException if the object was destroyed
     */
    public void update(byte[] in, int off, int len) {
        Objects.requireNonNull(in, "in");
        Objects.checkFromIndexSize(off, len, in.length);
        live().update(in, off, len);
    }

    /**
     * Absorbs the bytes from the buffer's position to its limit, and moves the
     * position to the limit. A direct buffer is read in place.
     *
     * @param in the buffer
     * @throws NullPointerException if {@code in} is null
     * @throws IllegalStateException if the object was destroyed
     */
    public void update(ByteBuffer in) {
        Objects.requireNonNull(in, "in");
        live().update(in);
    }

    /**
     * Absorbs everything {@code in} delivers until its end, read in
     * fixed-size chunks: any length, in constant memory. The stream is not
     * closed. When reading fails, what was read before stays absorbed;
     * {@link #reset()} discards it.
     *
     * @param in the bytes
     * @throws NullPointerException if {@code in} is null
     * @throws IOException if reading fails
     * @throws IllegalStateException if the object was destroyed
     */
    public void update(InputStream in) throws IOException {
        Objects.requireNonNull(in, "in");
        live().update(in);
    }

    /**
     * Absorbs a file's content, read in fixed-size chunks: any size, in
     * constant memory. When reading fails, what was read before stays
     * absorbed; {@link #reset()} discards it.
     *
     * @param file the file
     * @throws NullPointerException if {@code file} is null
     * @throws IOException if the file cannot be opened or read
     * @throws IllegalStateException if the object was destroyed
     */
    public void update(Path file) throws IOException {
        Objects.requireNonNull(file, "file");
        live().update(file);
    }

    /**
     * Finishes the message and starts a new one under the same key.
     *
     * @return the 32-byte MAC of everything absorbed since the last MAC or reset
     * @throws IllegalStateException if the object was destroyed
     */
    public byte[] doFinal() {
        return live().finish();
    }

    /**
     * Absorbs {@code in}, then finishes the message and starts a new one: the
     * MAC of a whole message in a single native call.
     *
     * @param in the last bytes of the message
     * @return the 32-byte MAC
     * @throws NullPointerException if {@code in} is null
     * @throws IllegalStateException if the object was destroyed
     */
    public byte[] doFinal(byte[] in) {
        update(in);
        return stream.finish();
    }

    /**
     * Discards the message absorbed so far (its buffered bytes are wiped); the key stays.
     *
     * @throws IllegalStateException if the object was destroyed
     */
    public void reset() {
        live().restart();
    }

    /**
     * An independent HMAC in the same state, with its own copy of the keyed
     * states: destroying one leaves the other usable.
     *
     * @return the copy
     * @throws IllegalStateException if the object was destroyed
     */
    public HmacSm3 copy() {
        return new HmacSm3(live().copy());
    }

    /** Wipes the keyed states and any buffered message bytes; the object cannot be used afterwards. */
    @Override
    public void destroy() {
        stream.wipe();
        destroyed = true;
    }

    @Override
    public boolean isDestroyed() {
        return destroyed;
    }

    private Sm3Stream live() {
        if (destroyed) throw new IllegalStateException("HmacSm3 was destroyed");
        return stream;
    }
}
