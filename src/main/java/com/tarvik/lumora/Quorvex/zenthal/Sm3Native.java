package com.tarvik.lumora.Quorvex.zenthal;

import java.nio.ByteBuffer;

/**
 * The native methods of streaming SM3 and HMAC-SM3. The hash state lives in a
 * Java array of {@link #STATE_LENGTH} bytes holding the engine's context
 * record; each call copies it in, works, and (for the updates) copies it back.
 * No native memory outlives a call, and any 104 bytes are a state the engine
 * can work on without leaving its own memory.
 *
 * <p>Every method returns 1 on success or {@code -8} (a null array, a state
 * array that is not 104 long, or a range outside its array or buffer), and
 * writes nothing on failure. The classes built on these check their
 * arguments first, so a {@code -8} there means a fault in this package.
 */
final class Sm3Native {
    /** Length of a hash state array: the engine's context record. */
    static final int STATE_LENGTH = 104;

    /**
     * Where the context's partial message block (64 bytes) starts in a state
     * array, after the two words of the bit count.
     */
    static final int BLOCK_OFFSET = 8;

    static {
        // The library is loaded with LoadNativeZenthal.
        LoadNativeZenthal.libraryLocation();
    }

    private Sm3Native() {}

    /** Writes the state of an empty message into {@code state}. */
    static native int init(byte[] state);

    /** Absorbs {@code in[off .. off+len-1]} into {@code state}. */
    static native int update(byte[] state, byte[] in, int off, int len);

    /**
     * Absorbs bytes {@code off .. off+len-1} of the direct buffer {@code in}
     * (absolute indexes, checked against its capacity) into {@code state},
     * reading them in place. Position and limit are left alone.
     */
    static native int updateDirect(byte[] state, ByteBuffer in, int off, int len);

    /**
     * The digest of the message in {@code state} followed by
     * {@code in[off .. off+len-1]}, into {@code out[outOff .. outOff+31]}.
     * {@code state} is only read.
     */
    static native int finish(byte[] state, byte[] in, int off, int len, byte[] out, int outOff);

    /**
     * HMAC's last step in one call: the inner digest of {@code inner} followed
     * by {@code in[off .. off+len-1]}, absorbed into (a copy of) {@code outer},
     * whose digest goes to {@code out[outOff .. outOff+31]}. Both states are
     * only read.
     */
    static native int hmacFinish(byte[] inner, byte[] in, int off, int len, byte[] outer, byte[] out,
            int outOff);
}
