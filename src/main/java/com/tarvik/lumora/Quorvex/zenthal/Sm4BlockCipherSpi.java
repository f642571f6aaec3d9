package com.tarvik.lumora.Quorvex.zenthal;

import static com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.copyIn;
import static com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.retryCopied;
import static com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.step;
import static com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.unalias;

import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.util.Arrays;

import javax.crypto.BadPaddingException;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.ShortBufferException;

import com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.Call;
import com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.In;
import com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.Out;

/**
 * {@code Cipher} "SM4" in ECB or CBC, with PKCS#7 padding ("PKCS5Padding")
 * or without.
 *
 * <p>Whole blocks go to the library as soon as they are there; a partial
 * block waits for the next input. Decryption with padding holds back its last
 * whole block as well, as only {@code doFinal} knows it is the one that
 * carries the padding: there one native call deciphers it, checks the padding
 * in constant time and writes the plaintext without it.
 */
final class Sm4BlockCipherSpi extends Sm4CipherSpi {
    private final boolean padding;
    // The chaining block of CBC, and the partial (or held back) block.
    private final byte[] chain = new byte[BLOCK];
    private final byte[] part = new byte[BLOCK];
    private int partLen;

    /** ECB or CBC, with PKCS#7 padding when {@code padding}. */
    Sm4BlockCipherSpi(Mode mode, boolean padding) {
        super(mode);
        if (!mode.blockwise()) throw new IllegalArgumentException(mode + " is not a block mode");
        this.padding = padding;
    }

    @Override
    boolean padded() {
        return padding;
    }

    @Override
    long outputSize(long n) {
        long total = partLen + n;
        return padding && !decrypt ? (total / BLOCK + 1) * BLOCK : total;
    }

    @Override
    void start(boolean dec, byte[] key, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        byte[] newIv;
        if (mode == Mode.ECB) {
            if (params != null) throw new InvalidAlgorithmParameterException("ECB takes no parameters");
            newIv = null;
        } else {
            newIv = blockIv(params, dec, random);
        }
        install(roundKeys(key), key, dec, newIv);
        restart();
    }

    @Override
    void restart() {
        Arrays.fill(part, (byte) 0);
        partLen = 0;
        if (iv != null && mode == Mode.CBC) System.arraycopy(iv, 0, chain, 0, BLOCK);
    }

    private Call blockCall(byte[] chainOrNull) {
        if (mode == Mode.CBC) {
            return (i, o) -> Sm4Native.cbc(rk, decrypt, chainOrNull, i.a, i.b, i.off, i.len, o.a, o.b, o.off);
        }
        return (i, o) -> Sm4Native.ecb(rk, decrypt, i.a, i.b, i.off, i.len, o.a, o.b, o.off);
    }

    @Override
    int process(In in, Out out, boolean fin)
            throws ShortBufferException, IllegalBlockSizeException, BadPaddingException {
        long total = (long) partLen + in.len;
        if (fin && padding && decrypt) return finishUnpad(in, out, total);
        int produce;
        int keep;
        if (fin) {
            if (padding) {
                produce = (int) ((total / BLOCK + 1) * BLOCK);
            } else {
                if (total % BLOCK != 0) {
                    throw new IllegalBlockSizeException("input is not a whole number of 16-byte blocks");
                }
                produce = (int) total;
            }
            keep = 0;
        } else {
            keep = (int) (total % BLOCK);
            if (padding && decrypt && keep == 0 && total > 0) keep = BLOCK;  // held for the padding check
            produce = (int) (total - keep);
        }
        out.need(produce);
        if (produce == 0) {
            // Everything fits in the partial block.
            copyIn(in, 0, part, partLen, in.len);
            partLen += in.len;
            return 0;
        }
        In src;
        int fromInput;  // input bytes consumed by the produced blocks
        if (partLen == 0 && !(fin && padding)) {
            src = unalias(new In(in.a, in.b, in.off, produce), out);
            fromInput = produce;
        } else {
            // Gather the partial block, the input and any padding in one array.
            byte[] all = new byte[produce];
            System.arraycopy(part, 0, all, 0, partLen);
            fromInput = Math.min(in.len, produce - partLen);
            copyIn(in, 0, all, partLen, fromInput);
            if (fin && padding) {
                int pad = produce - partLen - fromInput;
                Arrays.fill(all, produce - pad, produce, (byte) pad);
            }
            src = new In(all, null, 0, produce);
        }
        // What remains of the input becomes the partial block; it is taken
        // first, as the output may overwrite it in place.
        int rest = in.len - fromInput;
        byte[] tail = new byte[BLOCK];
        copyIn(in, fromInput, tail, 0, rest);
        step(blockCall(chain), src, out);
        if (src.a != null && src.a != in.a) Arrays.fill(src.a, (byte) 0);
        System.arraycopy(tail, 0, part, 0, BLOCK);
        Arrays.fill(tail, (byte) 0);
        partLen = rest;
        return produce;
    }

    /** Decryption's last step with PKCS#7 padding: one native call deciphers, checks and writes. */
    private int finishUnpad(In in, Out out, long total) throws ShortBufferException, IllegalBlockSizeException,
            BadPaddingException {
        if (total == 0 || total % BLOCK != 0) {
            throw new IllegalBlockSizeException("padded ciphertext must be a non-empty whole number of blocks");
        }
        byte[] all = null;
        In src;
        if (partLen == 0) {
            src = unalias(in, out);
        } else {
            all = new byte[(int) total];
            System.arraycopy(part, 0, all, 0, partLen);
            copyIn(in, 0, all, partLen, in.len);
            src = new In(all, null, 0, (int) total);
        }
        // A fresh result is sized once the padding is known; until then the
        // plaintext goes to a scratch array as long as the ciphertext.
        byte[] scratch = null;
        if (out.fresh) {
            scratch = new byte[(int) total];
            out.a = scratch;
            out.cap = scratch.length;
        }
        byte[] chainOrNull = mode == Mode.CBC ? chain : null;
        try {
            Call c = (i, o) -> Sm4Native.decryptPadded(rk, chainOrNull, i.a, i.b, i.off, i.len, o.a, o.b, o.off, o.cap);
            int n = retryCopied(c.go(src, out), src, out, c);
            if (n == ZenthalStatus.SM4_ERR_BAD_PADDING.code()) throw new BadPaddingException("bad padding");
            if (n == ZenthalStatus.SM4_ERR_OUTPUT_TOO_SMALL.code()) {
                throw new ShortBufferException("output too small for the plaintext");
            }
            if (n < 0) check(n);
            if (scratch != null && n < scratch.length) out.a = Arrays.copyOf(scratch, n);
            return n;
        } finally {
            if (all != null) Arrays.fill(all, (byte) 0);
            if (scratch != null && out.a != scratch) Arrays.fill(scratch, (byte) 0);
        }
    }
}
