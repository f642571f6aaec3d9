package com.tarvik.lumora.Quorvex.zenthal;

import java.nio.ByteBuffer;

/**
 * The native methods of SM4 through the JCA. Every piece of state lives in
 * Java arrays that each call copies in and back: the round keys
 * ({@link #ROUND_KEYS} ints), the CBC chaining block (16 bytes), the CTR
 * record ({@link #CTR_STATE} bytes: counter, keystream block, bytes of it
 * spent) and the GCM record ({@link #GCM_STATE} bytes). No native memory
 * outlives a call, and a call's native memory is bounded whatever the length.
 *
 * <p>Data methods take their input as either an array or a direct buffer
 * (the other null) with an absolute offset, and the output likewise. Direct
 * buffers are worked on in place; arrays pass through a bounded stack
 * chunk. The output may equal the input or start before it; an output
 * inside the same array further on must be avoided by the caller, and for
 * two direct buffers the method answers {@link ZenthalStatus#NATIVE_ERR_OVERLAP}
 * ({@code -10}) with nothing done.
 *
 * <p>Every method returns 1 on success, {@code -8} for a null where a value is
 * needed, a state array of the wrong length, a range outside its array or
 * buffer, or a block-mode length that is not whole blocks, and writes nothing
 * on failure. {@link #gcmDecrypt} answers {@code -16388}
 * ({@link ZenthalStatus#SM4_ERR_MAC_MISMATCH}) for a tag mismatch, and
 * {@link #decryptPadded} {@code -16387} ({@link ZenthalStatus#SM4_ERR_BAD_PADDING})
 * for bad padding and {@code -16386} ({@link ZenthalStatus#SM4_ERR_OUTPUT_TOO_SMALL})
 * for an output too small, with nothing written. Their names and meanings
 * live in {@link ZenthalStatus} alone.
 */
final class Sm4Native {
    static final int ROUND_KEYS = 32;
    static final int CTR_STATE = 33;
    static final int GCM_STATE = 128;

    static {
        LoadNativeZenthal.libraryLocation();
    }

    private Sm4Native() {}

    /** Expands the 16-byte {@code key} into {@code rk}. */
    static native int setKey(byte[] key, int[] rk);

    /** ECB over {@code len} bytes (whole blocks). */
    static native int ecb(int[] rk, boolean decrypt, byte[] in, ByteBuffer inBuf, int inOff, int len,
            byte[] out, ByteBuffer outBuf, int outOff);

    /** CBC over {@code len} bytes (whole blocks); {@code chain} (16) is advanced. */
    static native int cbc(int[] rk, boolean decrypt, byte[] chain, byte[] in, ByteBuffer inBuf, int inOff,
            int len, byte[] out, ByteBuffer outBuf, int outOff);

    /**
     * Decryption's last step with PKCS#7 padding, in CBC ({@code chain} read, not advanced) or ECB
     * ({@code chain} null): deciphers {@code len} bytes (whole blocks, at least one), checks the padding
     * in constant time and writes the plaintext without it when {@code outCap} bytes hold it. Answers
     * the plaintext's length, or {@code -16387} (bad padding) or {@code -16386} (output too small)
     * with nothing written.
     */
    static native int decryptPadded(int[] rk, byte[] chain, byte[] in, ByteBuffer inBuf, int inOff, int len,
            byte[] out, ByteBuffer outBuf, int outOff, int outCap);

    /** CTR over any {@code len}; {@code state} (33) is advanced. */
    static native int ctr(int[] rk, byte[] state, byte[] in, ByteBuffer inBuf, int inOff, int len,
            byte[] out, ByteBuffer outBuf, int outOff);

    /** Starts a GCM message under {@code rk} with {@code iv} (any length from 1). */
    static native int gcmInit(int[] rk, byte[] iv, byte[] state);

    /** Absorbs associated data. */
    static native int gcmAad(byte[] state, byte[] in, ByteBuffer inBuf, int inOff, int len);

    /** Encrypts any {@code len} and hashes the ciphertext. */
    static native int gcmEncrypt(int[] rk, byte[] state, byte[] in, ByteBuffer inBuf, int inOff, int len,
            byte[] out, ByteBuffer outBuf, int outOff);

    /** The 16-byte tag of the message in {@code state}, which is spent. */
    static native int gcmTag(int[] rk, byte[] state, byte[] tag);

    /**
     * Checks {@code tag} (4 to 16 bytes) over the ciphertext first, then, only
     * when it matches, decrypts; {@code -16388} with nothing written otherwise.
     */
    static native int gcmDecrypt(int[] rk, byte[] state, byte[] in, ByteBuffer inBuf, int inOff, int len,
            byte[] tag, byte[] out, ByteBuffer outBuf, int outOff);
}
