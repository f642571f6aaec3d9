package com.tarvik.lumora.Quorvex.zenthal;

import static com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.arrayIn;
import static com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.bufferIn;

import java.nio.ByteBuffer;
import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.KeyFactory;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.InvalidKeySpecException;
import java.security.spec.InvalidParameterSpecException;
import java.security.spec.PKCS8EncodedKeySpec;
import java.security.spec.X509EncodedKeySpec;
import java.util.Arrays;
import java.util.Locale;

import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;
import javax.crypto.CipherSpi;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.NoSuchPaddingException;
import javax.crypto.ShortBufferException;
import javax.crypto.spec.IvParameterSpec;
import javax.crypto.spec.SecretKeySpec;

import com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.In;
import com.tarvik.lumora.Quorvex.zenthal.Sm4Ends.Out;

/**
 * What {@code Cipher} "SM4" of {@link ZenthalProvider} does the same in every
 * mode, keeping the {@link CipherSpi} contract as the JDK's AES does: the key
 * and its round keys, the IV, the forms input and output come in (as
 * {@link Sm4Ends}), the course of one update or doFinal, and key wrapping.
 * Each mode family adds its own state and steps: {@link Sm4BlockCipherSpi}
 * (ECB and CBC, NoPadding or PKCS5Padding), {@link Sm4CtrCipherSpi} and
 * {@link Sm4GcmCipherSpi}; {@link Sm4AnyModeCipherSpi} serves the bare name
 * "SM4".
 *
 * <p>The round keys, the chaining or counter block and the GCM record live in
 * the object's arrays; every update hands all its whole blocks to one native
 * call, and direct buffers are worked on in place. A {@link ShortBufferException}
 * leaves the object as it was. After {@code doFinal}, and after every other
 * exception, the object is back at the start of a message under the key and
 * parameters it was initialised with; GCM encryption then needs a new IV, and
 * refuses the key and IV it last used. GCM decryption buffers the ciphertext
 * and releases no plaintext until the tag has been verified. Round keys and
 * the GCM hash key are wiped when the object is initialised again.
 */
abstract class Sm4CipherSpi extends CipherSpi {
    enum Mode {
        ECB, CBC, CTR, GCM;

        /** ECB and CBC work on whole blocks and may pad; CTR and GCM take any length and NoPadding only. */
        boolean blockwise() {
            return this == ECB || this == CBC;
        }
    }

    static final int BLOCK = 16;

    final Mode mode;
    final int[] rk = new int[Sm4Native.ROUND_KEYS];
    boolean decrypt;
    byte[] iv;
    private boolean keyed;
    // The key that rk was expanded from: initialising again with the same
    // key (a new IV per message) skips the key schedule.
    private final byte[] rkSource = new byte[16];

    Sm4CipherSpi(Mode mode) {
        this.mode = mode;
    }

    // ------------------------------------------------ what the family adds

    /**
     * Takes a new key and parameters: checks the parameters (drawing an IV
     * when encrypting without any), then {@link #install}s the key and IV and
     * {@link #restart}s. Refused parameters or a refused key change nothing.
     */
    abstract void start(boolean decrypt, byte[] key, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException;

    /** Back to the start of a message under the current key and parameters. */
    abstract void restart();

    /** The most that {@code n} more input bytes can produce, given what is buffered. */
    abstract long outputSize(long n);

    /** One update ({@code fin} false) or doFinal over {@code in}; returns the bytes written to {@code out}. */
    abstract int process(In in, Out out, boolean fin)
            throws ShortBufferException, IllegalBlockSizeException, BadPaddingException;

    /** Whether the cipher adds and removes PKCS#7 padding. */
    boolean padded() {
        return false;
    }

    /** The kind of parameters that {@code init} with {@link AlgorithmParameters} asks for. */
    Class<? extends AlgorithmParameterSpec> parameterSpec() {
        return IvParameterSpec.class;
    }

    /** Throws unless a message may go on. */
    void ready() {
        if (!keyed) throw new IllegalStateException("Cipher not initialised");
    }

    /** After a doFinal that succeeded. */
    void finished() {
        restart();
    }

    /** Absorbs associated data, which only GCM has. */
    void aad(In in) {
        ready();
        throw new IllegalStateException("AAD needs GCM");
    }

    // ------------------------------------------------- mode and padding

    // The JCA sets a mode or a padding only on the bare "SM4"; a family
    // accepts its own and refuses the rest.
    @Override
    protected void engineSetMode(String m) throws NoSuchAlgorithmException {
        if (modeNamed(m) != mode) throw new NoSuchAlgorithmException("mode fixed to " + mode);
    }

    @Override
    protected void engineSetPadding(String p) throws NoSuchPaddingException {
        boolean want = paddingNamed(p);
        if (want && !mode.blockwise()) throw new NoSuchPaddingException(mode + " takes NoPadding only");
        if (want != padded()) throw new NoSuchPaddingException("padding fixed");
    }

    static Mode modeNamed(String m) throws NoSuchAlgorithmException {
        try {
            return Mode.valueOf(m.toUpperCase(Locale.ROOT));
        } catch (IllegalArgumentException e) {
            throw new NoSuchAlgorithmException("SM4 has no mode " + m);
        }
    }

    /** True for PKCS#7 padding, false for none. */
    static boolean paddingNamed(String p) throws NoSuchPaddingException {
        if (p.equalsIgnoreCase("NoPadding")) return false;
        if (p.equalsIgnoreCase("PKCS5Padding") || p.equalsIgnoreCase("PKCS7Padding")) return true;
        throw new NoSuchPaddingException("SM4 has no padding " + p);
    }

    @Override
    protected int engineGetBlockSize() {
        return BLOCK;
    }

    @Override
    protected byte[] engineGetIV() {
        return iv == null ? null : iv.clone();
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        return iv == null ? null : parameters(new Sm4ParametersSpi.Iv(), "SM4", new IvParameterSpec(iv));
    }

    static AlgorithmParameters parameters(Sm4ParametersSpi spi, String algorithm, AlgorithmParameterSpec spec) {
        AlgorithmParameters p = new AlgorithmParameters(spi, ProviderHolder.PROVIDER, algorithm) {};
        try {
            p.init(spec);
        } catch (InvalidParameterSpecException e) {
            throw new IllegalStateException(e);
        }
        return p;
    }

    private static final class ProviderHolder {
        static final ZenthalProvider PROVIDER = new ZenthalProvider();
    }

    @Override
    protected int engineGetOutputSize(int inputLen) {
        return (int) Math.min(Integer.MAX_VALUE, outputSize(Math.max(0, inputLen)));
    }

    // ---------------------------------------------------------------- init

    @Override
    protected void engineInit(int opmode, Key key, SecureRandom random) throws InvalidKeyException {
        try {
            init(opmode, key, null, random);
        } catch (InvalidAlgorithmParameterException e) {
            throw new InvalidKeyException(e.getMessage(), e);
        }
    }

    @Override
    protected void engineInit(int opmode, Key key, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        init(opmode, key, params, random);
    }

    @Override
    protected void engineInit(int opmode, Key key, AlgorithmParameters params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        AlgorithmParameterSpec spec = null;
        if (params != null) {
            try {
                spec = params.getParameterSpec(parameterSpec());
            } catch (InvalidParameterSpecException e) {
                throw new InvalidAlgorithmParameterException("parameters do not suit SM4/" + mode, e);
            }
        }
        init(opmode, key, spec, random);
    }

    private void init(int op, Key key, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        boolean dec;
        switch (op) {
            case Cipher.ENCRYPT_MODE:
            case Cipher.WRAP_MODE:
                dec = false;
                break;
            case Cipher.DECRYPT_MODE:
            case Cipher.UNWRAP_MODE:
                dec = true;
                break;
            default:
                throw new java.security.InvalidParameterException("unknown operation mode " + op);
        }
        byte[] k = rawKey(key);
        try {
            start(dec, k, params, random);
        } finally {
            Arrays.fill(k, (byte) 0);
        }
    }

    private static byte[] rawKey(Key key) throws InvalidKeyException {
        if (key == null) throw new InvalidKeyException("no key");
        byte[] k = "RAW".equalsIgnoreCase(key.getFormat()) ? key.getEncoded() : null;
        if (k == null) throw new InvalidKeyException("SM4 needs a key with a raw encoding");
        if (k.length != 16) {
            Arrays.fill(k, (byte) 0);
            throw new InvalidKeyException("SM4 keys are 16 bytes, not " + k.length);
        }
        return k;
    }

    /** The 16-byte IV of CBC or CTR from {@code params}, or a fresh one when encrypting without. */
    byte[] blockIv(AlgorithmParameterSpec params, boolean dec, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        if (params == null) return freshIv(BLOCK, dec, random);
        if (!(params instanceof IvParameterSpec)) {
            throw new InvalidAlgorithmParameterException(mode + " needs an IvParameterSpec");
        }
        byte[] newIv = ((IvParameterSpec) params).getIV();
        if (newIv.length != BLOCK) throw new InvalidAlgorithmParameterException("the IV must be 16 bytes");
        return newIv;
    }

    /** A random IV of {@code length} bytes for encryption; decryption must be told its IV. */
    byte[] freshIv(int length, boolean dec, SecureRandom random) throws InvalidKeyException {
        if (dec) throw new InvalidKeyException("decryption in " + mode + " needs parameters");
        byte[] newIv = new byte[length];
        (random != null ? random : new SecureRandom()).nextBytes(newIv);
        return newIv;
    }

    /** The round keys of {@code key}, in a new array the caller wipes. */
    int[] roundKeys(byte[] key) {
        int[] newRk = new int[Sm4Native.ROUND_KEYS];
        if (keyed && MessageDigest.isEqual(key, rkSource)) {
            System.arraycopy(rk, 0, newRk, 0, rk.length);
        } else {
            check(Sm4Native.setKey(key, newRk));
        }
        return newRk;
    }

    /** Accepted: the old round keys are wiped and replaced, and {@code newRk} wiped. */
    void install(int[] newRk, byte[] key, boolean dec, byte[] newIv) {
        System.arraycopy(newRk, 0, rk, 0, rk.length);
        System.arraycopy(key, 0, rkSource, 0, key.length);
        Arrays.fill(newRk, 0);
        keyed = true;
        decrypt = dec;
        iv = newIv;
    }

    static void check(int status) {
        if (status != 1) throw new IllegalStateException("native SM4 failed: " + ZenthalStatus.describe(status));
    }

    // ------------------------------------------------------ the operation

    private int run(In in, Out out, boolean fin) throws ShortBufferException, IllegalBlockSizeException,
            BadPaddingException {
        ready();
        boolean ok = false;
        try {
            int n = process(in, out, fin);
            ok = true;
            if (fin) finished();
            return n;
        } catch (ShortBufferException e) {
            ok = true;  // nothing was changed
            throw e;
        } finally {
            if (!ok) restart();
        }
    }

    // --------------------------------------------------- the SPI methods

    @Override
    protected void engineUpdateAAD(byte[] src, int offset, int len) {
        aad(new In(src, null, offset, len));
    }

    @Override
    protected void engineUpdateAAD(ByteBuffer src) {
        if (src.remaining() == 0) return;
        aad(bufferIn(src));
        src.position(src.limit());
    }

    @Override
    protected byte[] engineUpdate(byte[] input, int off, int len) {
        try {
            Out out = new Out(null, null, 0, 0, true);
            run(arrayIn(input, off, len), out, false);
            return out.a;
        } catch (ShortBufferException | IllegalBlockSizeException | BadPaddingException e) {
            throw new IllegalStateException(e);  // cannot happen without padding work
        }
    }

    @Override
    protected int engineUpdate(byte[] input, int off, int len, byte[] output, int outOff)
            throws ShortBufferException {
        try {
            return run(arrayIn(input, off, len), new Out(output, null, outOff, output.length - outOff, false), false);
        } catch (IllegalBlockSizeException | BadPaddingException e) {
            throw new IllegalStateException(e);
        }
    }

    @Override
    protected int engineUpdate(ByteBuffer input, ByteBuffer output) throws ShortBufferException {
        try {
            return buffers(input, output, false);
        } catch (IllegalBlockSizeException | BadPaddingException e) {
            throw new IllegalStateException(e);
        }
    }

    @Override
    protected byte[] engineDoFinal(byte[] input, int off, int len)
            throws IllegalBlockSizeException, BadPaddingException {
        try {
            Out out = new Out(null, null, 0, 0, true);
            run(arrayIn(input, off, len), out, true);
            return out.a;
        } catch (ShortBufferException e) {
            throw new IllegalStateException(e);
        }
    }

    @Override
    protected int engineDoFinal(byte[] input, int off, int len, byte[] output, int outOff)
            throws ShortBufferException, IllegalBlockSizeException, BadPaddingException {
        return run(arrayIn(input, off, len), new Out(output, null, outOff, output.length - outOff, false), true);
    }

    @Override
    protected int engineDoFinal(ByteBuffer input, ByteBuffer output)
            throws ShortBufferException, IllegalBlockSizeException, BadPaddingException {
        return buffers(input, output, true);
    }

    private int buffers(ByteBuffer input, ByteBuffer output, boolean fin)
            throws ShortBufferException, IllegalBlockSizeException, BadPaddingException {
        In in = bufferIn(input);
        Out out;
        if (output.isReadOnly()) throw new java.nio.ReadOnlyBufferException();
        if (output.isDirect()) {
            out = new Out(null, output, output.position(), output.remaining(), false);
        } else {
            out = new Out(output.array(), null, output.arrayOffset() + output.position(), output.remaining(), false);
        }
        int n = run(in, out, fin);
        input.position(input.limit());
        output.position(output.position() + n);
        return n;
    }

    @Override
    protected byte[] engineWrap(Key key) throws IllegalBlockSizeException, InvalidKeyException {
        byte[] encoded = key == null ? null : key.getEncoded();
        if (encoded == null) throw new InvalidKeyException("the key has no encoding to wrap");
        try {
            return engineDoFinal(encoded, 0, encoded.length);
        } catch (BadPaddingException e) {
            throw new InvalidKeyException(e);
        } finally {
            Arrays.fill(encoded, (byte) 0);
        }
    }

    @Override
    protected Key engineUnwrap(byte[] wrapped, String algorithm, int type)
            throws InvalidKeyException, NoSuchAlgorithmException {
        byte[] encoded;
        try {
            encoded = engineDoFinal(wrapped, 0, wrapped.length);
        } catch (IllegalBlockSizeException | BadPaddingException e) {
            throw new InvalidKeyException("cannot unwrap: " + e.getMessage(), e);
        }
        try {
            switch (type) {
                case Cipher.SECRET_KEY:
                    return new SecretKeySpec(encoded, algorithm);
                case Cipher.PUBLIC_KEY:
                    return KeyFactory.getInstance(algorithm).generatePublic(new X509EncodedKeySpec(encoded));
                case Cipher.PRIVATE_KEY:
                    return KeyFactory.getInstance(algorithm).generatePrivate(new PKCS8EncodedKeySpec(encoded));
                default:
                    throw new InvalidKeyException("unknown key type " + type);
            }
        } catch (InvalidKeySpecException e) {
            throw new InvalidKeyException(e);
        } finally {
            Arrays.fill(encoded, (byte) 0);
        }
    }

    @Override
    protected int engineGetKeySize(Key key) throws InvalidKeyException {
        byte[] k = rawKey(key);
        Arrays.fill(k, (byte) 0);
        return 128;
    }
}
