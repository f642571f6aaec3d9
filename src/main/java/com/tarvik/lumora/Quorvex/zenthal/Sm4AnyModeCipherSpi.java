package com.tarvik.lumora.Quorvex.zenthal;

import java.nio.ByteBuffer;
import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.NoSuchAlgorithmException;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;

import javax.crypto.BadPaddingException;
import javax.crypto.CipherSpi;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.NoSuchPaddingException;
import javax.crypto.ShortBufferException;

import com.tarvik.lumora.Quorvex.zenthal.Sm4CipherSpi.Mode;

/**
 * {@code Cipher} "SM4" by its bare name: ECB with PKCS5Padding, as the JDK's
 * {@code AES} is, until the JCA sets a mode or a padding on it. It does so
 * for a transformation that no service names whole (such as
 * "SM4/CTR/PKCS5Padding", which the padding then refuses). The work goes to
 * the cipher of the mode's family, made anew when the mode or padding changes.
 */
final class Sm4AnyModeCipherSpi extends CipherSpi {
    private Mode mode = Mode.ECB;
    private boolean padding = true;
    private Sm4CipherSpi cipher = new Sm4BlockCipherSpi(mode, padding);

    @Override
    protected void engineSetMode(String m) throws NoSuchAlgorithmException {
        mode = Sm4CipherSpi.modeNamed(m);
        if (!mode.blockwise()) padding = false;
        cipher = make();
    }

    @Override
    protected void engineSetPadding(String p) throws NoSuchPaddingException {
        boolean want = Sm4CipherSpi.paddingNamed(p);
        if (want && !mode.blockwise()) throw new NoSuchPaddingException(mode + " takes NoPadding only");
        padding = want;
        cipher = make();
    }

    private Sm4CipherSpi make() {
        switch (mode) {
            case CTR:
                return new Sm4CtrCipherSpi();
            case GCM:
                return new Sm4GcmCipherSpi();
            default:
                return new Sm4BlockCipherSpi(mode, padding);
        }
    }

    // Everything else is the chosen cipher's.

    @Override
    protected int engineGetBlockSize() {
        return cipher.engineGetBlockSize();
    }

    @Override
    protected int engineGetOutputSize(int inputLen) {
        return cipher.engineGetOutputSize(inputLen);
    }

    @Override
    protected byte[] engineGetIV() {
        return cipher.engineGetIV();
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        return cipher.engineGetParameters();
    }

    @Override
    protected void engineInit(int opmode, Key key, SecureRandom random) throws InvalidKeyException {
        cipher.engineInit(opmode, key, random);
    }

    @Override
    protected void engineInit(int opmode, Key key, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        cipher.engineInit(opmode, key, params, random);
    }

    @Override
    protected void engineInit(int opmode, Key key, AlgorithmParameters params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        cipher.engineInit(opmode, key, params, random);
    }

    @Override
    protected void engineUpdateAAD(byte[] src, int offset, int len) {
        cipher.engineUpdateAAD(src, offset, len);
    }

    @Override
    protected void engineUpdateAAD(ByteBuffer src) {
        cipher.engineUpdateAAD(src);
    }

    @Override
    protected byte[] engineUpdate(byte[] input, int off, int len) {
        return cipher.engineUpdate(input, off, len);
    }

    @Override
    protected int engineUpdate(byte[] input, int off, int len, byte[] output, int outOff)
            throws ShortBufferException {
        return cipher.engineUpdate(input, off, len, output, outOff);
    }

    @Override
    protected int engineUpdate(ByteBuffer input, ByteBuffer output) throws ShortBufferException {
        return cipher.engineUpdate(input, output);
    }

    @Override
    protected byte[] engineDoFinal(byte[] input, int off, int len)
            throws IllegalBlockSizeException, BadPaddingException {
        return cipher.engineDoFinal(input, off, len);
    }

    @Override
    protected int engineDoFinal(byte[] input, int off, int len, byte[] output, int outOff)
            throws ShortBufferException, IllegalBlockSizeException, BadPaddingException {
        return cipher.engineDoFinal(input, off, len, output, outOff);
    }

    @Override
    protected int engineDoFinal(ByteBuffer input, ByteBuffer output)
            throws ShortBufferException, IllegalBlockSizeException, BadPaddingException {
        return cipher.engineDoFinal(input, output);
    }

    @Override
    protected byte[] engineWrap(Key key) throws IllegalBlockSizeException, InvalidKeyException {
        return cipher.engineWrap(key);
    }

    @Override
    protected Key engineUnwrap(byte[] wrapped, String algorithm, int type)
            throws InvalidKeyException, NoSuchAlgorithmException {
        return cipher.engineUnwrap(wrapped, algorithm, type);
    }

    @Override
    protected int engineGetKeySize(Key key) throws InvalidKeyException {
        return cipher.engineGetKeySize(key);
    }
}
