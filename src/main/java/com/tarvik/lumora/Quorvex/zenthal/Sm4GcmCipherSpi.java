package com.tarvik.lumora.Quorvex.zenthal;

import static com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.copyIn;
import static com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.copyOut;
import static com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.retryCopied;
import static com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.step;
import static com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.unalias;

import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.util.Arrays;

import javax.crypto.AEADBadTagException;
import javax.crypto.ShortBufferException;
import javax.crypto.spec.GCMParameterSpec;

import com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.Call;
import com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.In;
import com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.Out;

/**
 * {@code Cipher} "SM4/GCM/NoPadding", the SM4-GCM of RFC 8998: IVs of any
 * length from one byte (12 drawn when none is given), tags of 96 to 128 bits,
 * associated data before the message.
 *
 * <p>Encryption writes the ciphertext as it comes and the tag at
 * {@code doFinal}; it then needs a new IV, and refuses the key and IV it last
 * used. Decryption holds the whole ciphertext until {@code doFinal}, where one
 * native call checks the tag first and deciphers only when it matches, so no
 * plaintext of a forged message is ever released.
 */
final class Sm4GcmCipherSpi extends Sm4CipherSpi {
    private static final int GCM_IV = 12;
    private static final int GCM_TAG = 16;
    // GCM's 32-bit counter covers 2^32 - 2 blocks of data.
    private static final long GCM_MAX = ((1L << 32) - 2) * BLOCK;

    private int tagLen = GCM_TAG;
    // The running record, and the record as it stands after the IV.
    private final byte[] gcm = new byte[Sm4Native.GCM_STATE];
    private final byte[] gcmStart = new byte[Sm4Native.GCM_STATE];
    // The buffered ciphertext of a decryption, and where the message stands.
    private byte[] held = new byte[0];
    private int heldLen;
    private long gcmData;
    private boolean gcmSpent;
    // The round keys and IV of the last encryption, which may not come again.
    private int[] lastRk;
    private byte[] lastIv;

    Sm4GcmCipherSpi() {
        super(Mode.GCM);
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        if (iv == null) return null;
        return parameters(new Sm4ParametersSpi.Gcm(), "GCM", new GCMParameterSpec(tagLen * 8, iv));
    }

    @Override
    Class<? extends AlgorithmParameterSpec> parameterSpec() {
        return GCMParameterSpec.class;
    }

    @Override
    long outputSize(long n) {
        return decrypt ? Math.max(0, heldLen + n - tagLen) : n + tagLen;
    }

    @Override
    void start(boolean dec, byte[] key, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        byte[] newIv;
        int newTag = GCM_TAG;
        if (params == null) {
            newIv = freshIv(GCM_IV, dec, random);
        } else {
            if (!(params instanceof GCMParameterSpec)) {
                throw new InvalidAlgorithmParameterException("GCM needs a GCMParameterSpec");
            }
            GCMParameterSpec g = (GCMParameterSpec) params;
            int bits = g.getTLen();
            if (bits < 96 || bits > 128 || bits % 8 != 0) {
                throw new InvalidAlgorithmParameterException("GCM tag length must be 96 to 128 bits, not " + bits);
            }
            newIv = g.getIV();
            if (newIv == null || newIv.length == 0) throw new InvalidAlgorithmParameterException("empty IV");
            newTag = bits / 8;
        }
        int[] newRk = roundKeys(key);
        if (!dec && lastRk != null && Arrays.equals(newRk, lastRk) && Arrays.equals(newIv, lastIv)) {
            Arrays.fill(newRk, 0);
            throw new InvalidAlgorithmParameterException("GCM encryption may not reuse the key and IV last used");
        }
        install(newRk, key, dec, newIv);
        Arrays.fill(gcmStart, (byte) 0);
        tagLen = newTag;
        check(Sm4Native.gcmInit(rk, iv, gcmStart));
        if (!dec) {
            if (lastRk == null) lastRk = new int[Sm4Native.ROUND_KEYS];
            System.arraycopy(rk, 0, lastRk, 0, rk.length);
            lastIv = iv.clone();
        }
        restart();
    }

    @Override
    void restart() {
        System.arraycopy(gcmStart, 0, gcm, 0, gcm.length);
        Arrays.fill(held, 0, heldLen, (byte) 0);
        heldLen = 0;
        gcmData = 0;
        gcmSpent = false;
    }

    @Override
    void ready() {
        super.ready();
        if (gcmSpent) {
            throw new IllegalStateException("GCM encryption needs a new IV (or key) after doFinal");
        }
    }

    @Override
    void finished() {
        restart();
        if (!decrypt) gcmSpent = true;
    }

    @Override
    void aad(In in) {
        ready();
        if (gcmData > 0) throw new IllegalStateException("AAD must come before the data");
        check(Sm4Native.gcmAad(gcm, in.a, in.b, in.off, in.len));
    }

    @Override
    int process(In in, Out out, boolean fin) throws ShortBufferException, AEADBadTagException {
        return decrypt ? decryptStep(in, out, fin) : encryptStep(in, out, fin);
    }

    private int encryptStep(In in, Out out, boolean fin) throws ShortBufferException {
        int produce = in.len + (fin ? tagLen : 0);
        out.need(produce);
        if (gcmData + in.len > GCM_MAX) throw new IllegalStateException("GCM message too long for one IV");
        In src = unalias(in, out);
        step((i, o) -> Sm4Native.gcmEncrypt(rk, gcm, i.a, i.b, i.off, i.len, o.a, o.b, o.off), src, out);
        gcmData += in.len;
        if (fin) {
            byte[] tag = new byte[GCM_TAG];
            check(Sm4Native.gcmTag(rk, gcm, tag));
            copyOut(tag, 0, out, in.len, tagLen);
        }
        return produce;
    }

    private int decryptStep(In in, Out out, boolean fin) throws ShortBufferException, AEADBadTagException {
        if (!fin) {
            hold(in);
            out.need(0);
            return 0;
        }
        long total = (long) heldLen + in.len;
        if (total < tagLen) throw new AEADBadTagException("ciphertext shorter than the tag");
        int n = (int) (total - tagLen);
        out.need(n);
        In src;
        byte[] tag = new byte[tagLen];
        if (heldLen == 0) {
            src = new In(in.a, in.b, in.off, n);
            copyIn(in, n, tag, 0, tagLen);
        } else {
            hold(in);
            src = new In(held, null, 0, n);
            System.arraycopy(held, n, tag, 0, tagLen);
        }
        src = unalias(src, out);
        Call c = (i, o) -> Sm4Native.gcmDecrypt(rk, gcm, i.a, i.b, i.off, i.len, tag, o.a, o.b, o.off);
        int status = retryCopied(c.go(src, out), src, out, c);
        if (status == ZenthalStatus.SM4_ERR_MAC_MISMATCH.code()) throw new AEADBadTagException("Tag mismatch");
        check(status);
        return n;
    }

    private void hold(In in) {
        if (in.len == 0) return;
        if ((long) heldLen + in.len > Integer.MAX_VALUE - 16) throw new IllegalStateException("message too long");
        if (heldLen + in.len > held.length) {
            byte[] bigger = Arrays.copyOf(held, Math.max(heldLen + in.len, Math.min(Integer.MAX_VALUE - 16,
                    held.length * 2)));
            Arrays.fill(held, (byte) 0);
            held = bigger;
        }
        copyIn(in, 0, held, heldLen, in.len);
        heldLen += in.len;
        gcmData += in.len;
    }
}
