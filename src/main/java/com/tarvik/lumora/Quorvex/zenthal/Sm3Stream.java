package com.tarvik.lumora.Quorvex.zenthal;

import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.util.Arrays;

/**
 * One running SM3 or HMAC-SM3 computation, the engine behind {@link Sm3Digest},
 * {@link HmacSm3} and the JCA services. Arguments are checked by the callers.
 *
 * <p>Small updates are gathered in a {@value #BUFFER}-byte array, so that a
 * stream of tiny updates costs few native calls; a message given whole before
 * the digest goes through a single native call that absorbs it and finishes.
 * Larger updates go to the library directly, with no copy on the Java side.
 *
 * <p>A message starts from {@code start}: the SM3 initial state, or HMAC's
 * state after the key's inner block. For HMAC, {@code outer} holds the state
 * after the key's outer block, so that a message costs its own blocks and two
 * compressions more (its padding block and the outer hash's one block), and no
 * key work.
 */
final class Sm3Stream {
    static final int DIGEST_LENGTH = 32;
    static final int BLOCK_LENGTH = 64;
    static final int BUFFER = 1024;
    /** Read size for streams; files are read four of these at a time. */
    private static final int CHUNK = 64 * 1024;

    /** The state of the empty message, computed once; never written. */
    private static final byte[] INITIAL = initialState();

    private final byte[] start;
    private final byte[] outer;
    private final byte[] state;
    private final byte[] buffer = new byte[BUFFER];
    private int buffered;
    /** How much of the buffer has held message bytes since it was last wiped. */
    private int used;

    private Sm3Stream(byte[] start, byte[] outer) {
        this.start = start;
        this.outer = outer;
        this.state = start.clone();
    }

    /** A plain SM3 computation. */
    static Sm3Stream digest() {
        return new Sm3Stream(INITIAL, null);
    }

    /**
     * An HMAC-SM3 computation under {@code key[off .. off+len-1]}. The key block
     * and the padded blocks derived from it are wiped once absorbed.
     */
    static Sm3Stream hmac(byte[] key, int off, int len) {
        byte[] block = new byte[BLOCK_LENGTH];
        try {
            if (len > BLOCK_LENGTH) {
                check(Sm3Native.finish(INITIAL, key, off, len, block, 0));
            } else {
                System.arraycopy(key, off, block, 0, len);
            }
            for (int i = 0; i < BLOCK_LENGTH; i++) block[i] ^= 0x36;
            byte[] inner = absorbKeyBlock(block);
            for (int i = 0; i < BLOCK_LENGTH; i++) block[i] ^= 0x36 ^ 0x5c;
            byte[] outer = absorbKeyBlock(block);
            return new Sm3Stream(inner, outer);
        } finally {
            Arrays.fill(block, (byte) 0);
        }
    }

    /**
     * The state after one padded key block. The context keeps the last block
     * it absorbed, which here is the key XOR the pad, so those bytes are
     * zeroed: with a count of exactly one block the engine never reads them
     * again, and the keyed state holds no copy of the key.
     */
    private static byte[] absorbKeyBlock(byte[] block) {
        byte[] state = INITIAL.clone();
        check(Sm3Native.update(state, block, 0, BLOCK_LENGTH));
        Arrays.fill(state, Sm3Native.BLOCK_OFFSET, Sm3Native.BLOCK_OFFSET + BLOCK_LENGTH, (byte) 0);
        return state;
    }

    /**
     * An independent copy in the same state. An HMAC copy owns its keyed
     * states, so wiping one object leaves the other intact.
     */
    Sm3Stream copy() {
        Sm3Stream c = outer == null ? new Sm3Stream(start, null) : new Sm3Stream(start.clone(), outer.clone());
        System.arraycopy(state, 0, c.state, 0, state.length);
        System.arraycopy(buffer, 0, c.buffer, 0, buffered);
        c.buffered = buffered;
        return c;
    }

    void update(byte b) {
        if (buffered == BUFFER) flush();
        buffer[buffered++] = b;
    }

    void update(byte[] in, int off, int len) {
        int room = BUFFER - buffered;
        if (len <= room) {
            System.arraycopy(in, off, buffer, buffered, len);
            buffered += len;
            return;
        }
        if (buffered > 0) {
            // Top the buffer up so that it goes in one call with whole blocks.
            System.arraycopy(in, off, buffer, buffered, room);
            off += room;
            len -= room;
            buffered = BUFFER;
            flush();
        }
        if (len < BUFFER) {
            System.arraycopy(in, off, buffer, 0, len);
            buffered = len;
        } else {
            check(Sm3Native.update(state, in, off, len));
        }
    }

    /** Absorbs the buffer's remaining bytes and moves its position to its limit. */
    void update(ByteBuffer in) {
        int len = in.remaining();
        if (len == 0) return;
        int pos = in.position();
        if (in.hasArray()) {
            update(in.array(), in.arrayOffset() + pos, len);
            in.position(in.limit());
        } else if (in.isDirect() && len > BUFFER - buffered) {
            flush();
            check(Sm3Native.updateDirect(state, in, pos, len));
            in.position(in.limit());
        } else {
            // Small direct updates, and read-only heap buffers, whose array is hidden.
            while (in.hasRemaining()) {
                if (buffered == BUFFER) flush();
                int n = Math.min(BUFFER - buffered, in.remaining());
                in.get(buffer, buffered, n);
                buffered += n;
            }
        }
    }

    /** Absorbs everything {@code in} delivers until its end. */
    void update(InputStream in) throws IOException {
        byte[] chunk = new byte[CHUNK];
        try {
            for (int n; (n = in.read(chunk)) >= 0; ) update(chunk, 0, n);
        } finally {
            Arrays.fill(chunk, (byte) 0);
        }
    }

    /** Absorbs the file's content, read in chunks into a direct buffer that is hashed in place. */
    void update(Path file) throws IOException {
        ByteBuffer chunk = ByteBuffer.allocateDirect(4 * CHUNK);
        try (FileChannel ch = FileChannel.open(file, StandardOpenOption.READ)) {
            while (ch.read(chunk) >= 0) {
                chunk.flip();
                update(chunk);
                chunk.clear();
            }
        } finally {
            for (int i = 0; i < chunk.capacity(); i += Long.BYTES) chunk.putLong(i, 0L);
        }
    }

    /** The digest (or MAC) into {@code out[off .. off+31]}; the stream then starts a new message. */
    void finish(byte[] out, int off) {
        if (outer == null) {
            check(Sm3Native.finish(state, buffer, 0, buffered, out, off));
        } else {
            check(Sm3Native.hmacFinish(state, buffer, 0, buffered, outer, out, off));
        }
        restart();
    }

    byte[] finish() {
        byte[] out = new byte[DIGEST_LENGTH];
        finish(out, 0);
        return out;
    }

    /** Back to the start of a message (for HMAC, the keyed state); buffered bytes are wiped. */
    void restart() {
        System.arraycopy(start, 0, state, 0, state.length);
        Arrays.fill(buffer, 0, Math.max(used, buffered), (byte) 0);
        buffered = 0;
        used = 0;
    }

    /** Wipes everything, the keyed states of HMAC included; the stream is unusable afterwards. */
    void wipe() {
        Arrays.fill(state, (byte) 0);
        Arrays.fill(buffer, (byte) 0);
        buffered = 0;
        used = 0;
        if (outer != null) {
            Arrays.fill(start, (byte) 0);
            Arrays.fill(outer, (byte) 0);
        }
    }

    private void flush() {
        if (buffered == 0) return;
        check(Sm3Native.update(state, buffer, 0, buffered));
        used = Math.max(used, buffered);
        buffered = 0;
    }

    private static byte[] initialState() {
        byte[] s = new byte[Sm3Native.STATE_LENGTH];
        check(Sm3Native.init(s));
        return s;
    }

    private static void check(int status) {
        ZenthalStatus.requireSuccess(status, "SM3");
    }
}
