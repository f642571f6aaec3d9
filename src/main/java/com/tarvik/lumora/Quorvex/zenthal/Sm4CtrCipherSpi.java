package com.tarvik.lumora.Quorvex.zenthal;

import static com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.step;
import static com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.unalias;

import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.util.Arrays;

import javax.crypto.ShortBufferException;

import com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.In;
import com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.Out;

/**
 * {@code Cipher} "SM4/CTR/NoPadding": the 16-byte IV is the first counter
 * block, and every update of any length is enciphered at once, carrying the
 * unspent part of the last keystream block over to the next.
 */
final class Sm4CtrCipherSpi extends Sm4CipherSpi {
    // The counter block, the keystream block and how many of its bytes are spent.
    private final byte[] ctr = new byte[Sm4Native.CTR_STATE];

    Sm4CtrCipherSpi() {
        super(Mode.CTR);
    }

    @Override
    long outputSize(long n) {
        return n;
    }

    @Override
    void start(boolean dec, byte[] key, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        byte[] newIv = blockIv(params, dec, random);
        install(roundKeys(key), key, dec, newIv);
        restart();
    }

    @Override
    void restart() {
        Arrays.fill(ctr, (byte) 0);
        System.arraycopy(iv, 0, ctr, 0, BLOCK);
    }

    @Override
    int process(In in, Out out, boolean fin) throws ShortBufferException {
        out.need(in.len);
        In src = unalias(in, out);
        step((i, o) -> Sm4Native.ctr(rk, ctr, i.a, i.b, i.off, i.len, o.a, o.b, o.off), src, out);
        return in.len;
    }
}
