package com.tarvik.lumora.Quorvex.zenthal;

import java.util.Arrays;
import java.util.HexFormat;
import java.util.Random;

import org.bouncycastle.crypto.BufferedBlockCipher;
import org.bouncycastle.crypto.InvalidCipherTextException;
import org.bouncycastle.crypto.digests.SM3Digest;
import org.bouncycastle.crypto.engines.SM4Engine;
import org.bouncycastle.crypto.macs.HMac;
import org.bouncycastle.crypto.modes.CBCBlockCipher;
import org.bouncycastle.crypto.paddings.PKCS7Padding;
import org.bouncycastle.crypto.paddings.PaddedBufferedBlockCipher;
import org.bouncycastle.crypto.params.KeyParameter;
import org.bouncycastle.crypto.params.ParametersWithIV;

/**
 * Bouncy Castle versions of what the native methods compute, and the array
 * helpers the native tests share. Nothing here calls the library. What the
 * tool's tests use is public, as they live in the tool's package.
 */
public final class NativeTestSupport {
    static final int OK = 1;
    static final int ERR_HASH_LENGTH = -6;
    static final int ERR_KEY_IV_LENGTH = -7;
    static final int ERR_ARGUMENT = -8;
    static final int ERR_NO_MEMORY = -9;
    static final int DRNG_NO_RDRAND = -3;
    static final int SM4_ERR_INPUT_LENGTH = -16385;
    static final int SM4_ERR_OUTPUT_TOO_SMALL = -16386;
    static final int SM4_ERR_BAD_PADDING = -16387;
    static final int SM4_ERR_MAC_MISMATCH = -16388;

    /** Filler for output arrays: any byte the library writes by mistake shows up against it. */
    static final byte SENTINEL = (byte) 0xA5;

    private NativeTestSupport() {}

    public static byte[] random(Random rnd, int length) {
        byte[] b = new byte[length];
        rnd.nextBytes(b);
        return b;
    }

    static byte[] filled(int length) {
        byte[] b = new byte[length];
        Arrays.fill(b, SENTINEL);
        return b;
    }

    public static byte[] hex(String s) {
        return HexFormat.of().parseHex(s);
    }

    public static String hex(byte[] b) {
        return HexFormat.of().formatHex(b);
    }

    public static byte[] concat(byte[] a, byte[] b) {
        byte[] r = Arrays.copyOf(a, a.length + b.length);
        System.arraycopy(b, 0, r, a.length, b.length);
        return r;
    }

    public static byte[] sm3(byte[] data, int len) {
        SM3Digest d = new SM3Digest();
        d.update(data, 0, len);
        byte[] out = new byte[32];
        d.doFinal(out, 0);
        return out;
    }

    /** HMAC-SM3 of the whole of {@code data}, keys of any length. */
    public static byte[] hmacSm3(byte[] key, byte[] data) {
        HMac h = new HMac(new SM3Digest());
        h.init(new KeyParameter(key));
        h.update(data, 0, data.length);
        byte[] out = new byte[32];
        h.doFinal(out, 0);
        return out;
    }

    /** SM3(Z || ct) for ct = 1, 2, ... as 4 big-endian bytes, concatenated and cut to keyLen. */
    public static byte[] kdf(byte[] z, int zLen, int keyLen) {
        byte[] out = new byte[keyLen];
        byte[] block = new byte[32];
        SM3Digest d = new SM3Digest();
        for (int off = 0, ct = 1; off < keyLen; off += 32, ct++) {
            d.update(z, 0, zLen);
            d.update((byte) (ct >>> 24));
            d.update((byte) (ct >>> 16));
            d.update((byte) (ct >>> 8));
            d.update((byte) ct);
            d.doFinal(block, 0);
            System.arraycopy(block, 0, out, off, Math.min(32, keyLen - off));
        }
        return out;
    }

    /** SM4-CBC with PKCS#7 padding. */
    static byte[] cbcEncrypt(byte[] key, byte[] iv, byte[] plain) {
        PaddedBufferedBlockCipher c = new PaddedBufferedBlockCipher(new CBCBlockCipher(new SM4Engine()),
                new PKCS7Padding());
        c.init(true, new ParametersWithIV(new KeyParameter(key), iv));
        return run(c, plain);
    }

    /** SM4-CBC without padding; {@code data} must be whole blocks. */
    static byte[] cbcRaw(byte[] key, byte[] iv, byte[] data) {
        BufferedBlockCipher c = new BufferedBlockCipher(new CBCBlockCipher(new SM4Engine()));
        c.init(true, new ParametersWithIV(new KeyParameter(key), iv));
        return run(c, data);
    }

    /** CBC-MAC: the last block of raw CBC over plain || 0x80 || zeros to a whole block. */
    static byte[] cbcMac(byte[] macKey, byte[] iv, byte[] plain) {
        byte[] padded = Arrays.copyOf(plain, (plain.length / 16 + 1) * 16);
        padded[plain.length] = (byte) 0x80;
        byte[] c = cbcRaw(macKey, iv, padded);
        return Arrays.copyOfRange(c, c.length - 16, c.length);
    }

    /** The envelope: ciphertext || MAC of the plaintext, both from the same IV. */
    public static byte[] seal(byte[] key, byte[] macKey, byte[] iv, byte[] plain) {
        return concat(cbcEncrypt(key, iv, plain), cbcMac(macKey, iv, plain));
    }

    private static byte[] run(BufferedBlockCipher c, byte[] in) {
        byte[] out = new byte[c.getOutputSize(in.length)];
        int n = c.processBytes(in, 0, in.length, out, 0);
        try {
            n += c.doFinal(out, n);
        } catch (InvalidCipherTextException e) {
            throw new IllegalStateException(e);
        }
        return Arrays.copyOf(out, n);
    }
}
