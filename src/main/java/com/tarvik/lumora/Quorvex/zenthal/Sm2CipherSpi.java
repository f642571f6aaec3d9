package com.tarvik.lumora.Quorvex.zenthal;

import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.KeyFactory;
import java.security.NoSuchAlgorithmException;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.InvalidKeySpecException;
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
import javax.crypto.spec.SecretKeySpec;

/**
 * {@code Cipher} "SM2" (public-key encryption, GB/T 32918) of
 * {@link ZenthalProvider}, in three ciphertext forms:
 *
 * <ul>
 *   <li>"SM2": encrypts to the GM/T 0009 DER {@code SEQUENCE { INTEGER x,
 *       INTEGER y, OCTET STRING C3, OCTET STRING C2 }} that OpenSSL writes
 *       and reads; decrypts that, or the raw {@code C1 || C3 || C2}, told
 *       apart by the first byte (0x30 or 0x04);</li>
 *   <li>"SM2/C1C3C2/NoPadding": the raw {@code C1 || C3 || C2}, C1 the
 *       uncompressed point;</li>
 *   <li>"SM2/C1C2C3/NoPadding": the older order {@code C1 || C2 || C3}, which
 *       Bouncy Castle's "SM2" writes.</li>
 * </ul>
 *
 * <p>A ciphertext is the message's length plus 97 bytes (raw) or about 107
 * (DER). {@code update} only gathers the message; {@code doFinal} encrypts
 * or decrypts it whole in one native call. Each encryption takes 32 bytes
 * from the {@code SecureRandom} given to {@code init} (else the default one),
 * which the engine hashes with the recipient's key and the message into the
 * ephemeral k, so a random source that repeats does not repeat k for another
 * message. An empty message cannot be encrypted (its keystream would be
 * empty, which the algorithm forbids): {@link IllegalBlockSizeException}.
 * A ciphertext that does not decrypt under the key (C3 differs, C1 not on
 * the curve or at infinity, a malformed or truncated ciphertext) is a
 * {@link BadPaddingException}, and nothing of it is released.
 */
final class Sm2CipherSpi extends CipherSpi {
    /** The ciphertext forms. */
    enum Form {
        /** GM/T 0009 DER; decryption also takes raw C1 || C3 || C2. */
        DER,
        C1C3C2,
        C1C2C3
    }

    private static final int ENTROPY = 32;
    /** The most DER adds beyond the raw form: four headers of up to 6 bytes and two sign bytes. */
    private static final int DER_EXTRA = 24;
    /** The fewest bytes DER adds to C2: headers and one-byte coordinates. */
    private static final int DER_MIN_OVERHEAD = 44;

    private final Form form;
    private final byte[] entropy = new byte[ENTROPY];

    private int mode;
    private Sm2PublicKey recipient;
    private Sm2PrivateKey holder;
    private SecureRandom random;

    /** Another provider's key last given, and its translation. */
    private Key foreign;
    private Key translated;

    /** The message or ciphertext gathered so far; wiped whenever it is let go. */
    private byte[] buffer = new byte[0];
    private int buffered;

    Sm2CipherSpi(Form form) {
        this.form = form;
    }

    @Override
    protected void engineSetMode(String mode) throws NoSuchAlgorithmException {
        if (!mode.equalsIgnoreCase("NONE") && !mode.equalsIgnoreCase("ECB")) {
            throw new NoSuchAlgorithmException("SM2 has no mode " + mode);
        }
    }

    @Override
    protected void engineSetPadding(String padding) throws NoSuchPaddingException {
        if (!padding.toUpperCase(Locale.ROOT).equals("NOPADDING")) {
            throw new NoSuchPaddingException("SM2 takes no padding, not " + padding);
        }
    }

    @Override
    protected int engineGetBlockSize() {
        return 0;
    }

    @Override
    protected int engineGetOutputSize(int inputLen) {
        long total = (long) buffered + Math.max(inputLen, 0);
        long size;
        if (encrypting()) {
            size = total + Sm2Native.CIPHERTEXT_OVERHEAD + (form == Form.DER ? DER_EXTRA : 0);
        } else {
            size = Math.max(0, total - (form == Form.DER ? DER_MIN_OVERHEAD : Sm2Native.CIPHERTEXT_OVERHEAD));
        }
        return (int) Math.min(size, Integer.MAX_VALUE);
    }

    @Override
    protected byte[] engineGetIV() {
        return null;
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        return null;
    }

    @Override
    protected int engineGetKeySize(Key key) throws InvalidKeyException {
        if (key instanceof PublicKey) {
            Sm2PublicKey.from((PublicKey) key);
        } else if (key instanceof PrivateKey) {
            Sm2PrivateKey.from((PrivateKey) key);
        } else {
            throw new InvalidKeyException("not an SM2 key");
        }
        return 256;
    }

    @Override
    protected void engineInit(int opmode, Key key, SecureRandom random) throws InvalidKeyException {
        clear();
        recipient = null;
        holder = null;
        switch (opmode) {
            case Cipher.ENCRYPT_MODE:
            case Cipher.WRAP_MODE:
                if (!(key instanceof PublicKey)) throw new InvalidKeyException("SM2 encrypts to a public key");
                recipient = key == foreign && translated instanceof Sm2PublicKey ? (Sm2PublicKey) translated
                        : Sm2PublicKey.from((PublicKey) key);
                remember(key, recipient);
                break;
            case Cipher.DECRYPT_MODE:
            case Cipher.UNWRAP_MODE:
                if (!(key instanceof PrivateKey)) throw new InvalidKeyException("SM2 decrypts with a private key");
                holder = key == foreign && translated instanceof Sm2PrivateKey
                        && !((Sm2PrivateKey) translated).isDestroyed() ? (Sm2PrivateKey) translated
                        : Sm2PrivateKey.from((PrivateKey) key);
                remember(key, holder);
                break;
            default:
                throw new InvalidKeyException("unknown mode " + opmode);
        }
        this.mode = opmode;
        this.random = random;
    }

    /** Keeps another provider's key and its translation, so that a repeated init costs nothing. */
    private void remember(Key key, Key ours) {
        if (key != ours) {
            foreign = key;
            translated = ours;
        }
    }

    @Override
    protected void engineInit(int opmode, Key key, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        if (params != null) throw new InvalidAlgorithmParameterException("SM2 encryption takes no parameters");
        engineInit(opmode, key, random);
    }

    @Override
    protected void engineInit(int opmode, Key key, AlgorithmParameters params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        if (params != null) throw new InvalidAlgorithmParameterException("SM2 encryption takes no parameters");
        engineInit(opmode, key, random);
    }

    @Override
    protected byte[] engineUpdate(byte[] input, int inputOffset, int inputLen) {
        gather(input, inputOffset, inputLen);
        return new byte[0];
    }

    @Override
    protected int engineUpdate(byte[] input, int inputOffset, int inputLen, byte[] output, int outputOffset) {
        gather(input, inputOffset, inputLen);
        return 0;
    }

    @Override
    protected byte[] engineDoFinal(byte[] input, int inputOffset, int inputLen)
            throws IllegalBlockSizeException, BadPaddingException {
        try {
            gather(input, inputOffset, inputLen);
            return run();
        } finally {
            clear();
        }
    }

    @Override
    protected int engineDoFinal(byte[] input, int inputOffset, int inputLen, byte[] output, int outputOffset)
            throws ShortBufferException, IllegalBlockSizeException, BadPaddingException {
        int room = output == null || outputOffset < 0 ? -1 : output.length - outputOffset;
        // A raw decryption's exact length is known ahead: a short output is
        // refused before anything is decrypted, the input left as it was.
        if (!encrypting() && form != Form.DER && room < engineGetOutputSize(inputLen)) {
            throw new ShortBufferException(engineGetOutputSize(inputLen) + " bytes needed, " + room + " given");
        }
        gather(input, inputOffset, inputLen);
        byte[] result;
        try {
            result = run();
        } catch (IllegalBlockSizeException | BadPaddingException | RuntimeException e) {
            clear();
            throw e;
        }
        try {
            if (room < result.length) {
                // The input stays gathered, so the call can be repeated with room.
                throw new ShortBufferException(result.length + " bytes needed, " + room + " given");
            }
            System.arraycopy(result, 0, output, outputOffset, result.length);
            clear();
            return result.length;
        } finally {
            Arrays.fill(result, (byte) 0);
        }
    }

    @Override
    protected byte[] engineWrap(Key key) throws IllegalBlockSizeException, InvalidKeyException {
        if (mode != Cipher.WRAP_MODE) throw new IllegalStateException("not initialised for wrapping");
        byte[] encoded = key == null ? null : key.getEncoded();
        if (encoded == null) throw new InvalidKeyException("the key has no encoding to wrap");
        try {
            clear();
            gather(encoded, 0, encoded.length);
            return run();
        } catch (BadPaddingException e) {
            throw new IllegalStateException(e);
        } finally {
            Arrays.fill(encoded, (byte) 0);
            clear();
        }
    }

    @Override
    protected Key engineUnwrap(byte[] wrappedKey, String algorithm, int type)
            throws InvalidKeyException, NoSuchAlgorithmException {
        if (mode != Cipher.UNWRAP_MODE) throw new IllegalStateException("not initialised for unwrapping");
        byte[] encoded = null;
        try {
            clear();
            gather(wrappedKey, 0, wrappedKey.length);
            encoded = run();
            switch (type) {
                case Cipher.SECRET_KEY:
                    return new SecretKeySpec(encoded, algorithm);
                case Cipher.PUBLIC_KEY:
                    return keyFactory(algorithm).generatePublic(new X509EncodedKeySpec(encoded));
                case Cipher.PRIVATE_KEY:
                    return keyFactory(algorithm).generatePrivate(new PKCS8EncodedKeySpec(encoded));
                default:
                    throw new InvalidKeyException("unknown key type " + type);
            }
        } catch (IllegalBlockSizeException | BadPaddingException e) {
            throw new InvalidKeyException("the wrapped key does not decrypt: " + e.getMessage(), e);
        } catch (InvalidKeySpecException e) {
            throw new InvalidKeyException("the unwrapped bytes are no " + algorithm + " key", e);
        } finally {
            if (encoded != null) Arrays.fill(encoded, (byte) 0);
            clear();
        }
    }

    /** SM2 keys through this provider's factory; any other algorithm through the platform's. */
    private static KeyFactory keyFactory(String algorithm) throws NoSuchAlgorithmException {
        if (algorithm.equalsIgnoreCase(ZenthalProvider.SM2)) {
            return KeyFactory.getInstance(ZenthalProvider.SM2, new ZenthalProvider());
        }
        return KeyFactory.getInstance(algorithm);
    }

    private boolean encrypting() {
        return mode == Cipher.ENCRYPT_MODE || mode == Cipher.WRAP_MODE;
    }

    private void gather(byte[] input, int off, int len) {
        if (mode == 0) throw new IllegalStateException("the SM2 cipher is not initialised");
        if (input == null || len <= 0) return;
        if (off < 0 || len > input.length - off) throw new IllegalArgumentException("range outside the input");
        // Room for the ciphertext's overhead in one Java array.
        if (len > Integer.MAX_VALUE - 256 - buffered) {
            throw new IllegalArgumentException("an SM2 message or ciphertext is held in one array: under 2 GiB");
        }
        if (buffer.length - buffered < len) {
            byte[] bigger = Arrays.copyOf(buffer, Math.max(buffered + len, (int) Math.min(Integer.MAX_VALUE - 256,
                    2L * buffer.length)));
            Arrays.fill(buffer, (byte) 0);
            buffer = bigger;
        }
        System.arraycopy(input, off, buffer, buffered, len);
        buffered += len;
    }

    /** Wipes the gathered bytes and starts again. */
    private void clear() {
        Arrays.fill(buffer, 0, buffered, (byte) 0);
        buffered = 0;
    }

    /** Encrypts or decrypts what is gathered; the gathered bytes stay. */
    private byte[] run() throws IllegalBlockSizeException, BadPaddingException {
        if (mode == 0) throw new IllegalStateException("the SM2 cipher is not initialised");
        return encrypting() ? encrypt() : decrypt();
    }

    private byte[] encrypt() throws IllegalBlockSizeException {
        if (buffered == 0) {
            throw new IllegalBlockSizeException("SM2 cannot encrypt an empty message: its keystream would be empty");
        }
        byte[] raw = new byte[buffered + Sm2Native.CIPHERTEXT_OVERHEAD];
        try {
            (random != null ? random : Sm2SignatureSpi.defaultRandom()).nextBytes(entropy);
            int n = Sm2Native.encrypt(recipient.point(), buffer, 0, buffered, entropy, 0, ENTROPY, raw, 0);
            if (n < 0) ZenthalStatus.requireSuccess(n, "SM2 encryption");
            switch (form) {
                case DER:
                    return Sm2Der.ciphertext(raw, n);
                case C1C2C3:
                    return swap(raw, 65, 32, n - 97);
                default:
                    return raw;
            }
        } finally {
            Arrays.fill(entropy, (byte) 0);
        }
    }

    private byte[] decrypt() throws BadPaddingException {
        byte[] raw;
        if (form == Form.C1C2C3) {
            if (buffered <= Sm2Native.CIPHERTEXT_OVERHEAD) throw tooShort();
            // C1 || C2 || C3 back to C1 || C3 || C2.
            raw = swap(buffer, 65, buffered - 97, 32);
        } else if (form == Form.DER && buffered > 0 && buffer[0] == 0x30) {
            try {
                raw = Sm2Der.readCiphertext(buffer, 0, buffered);
            } catch (Sm2Der.Malformed e) {
                throw new BadPaddingException("malformed SM2 ciphertext: " + e.getMessage());
            }
        } else {
            if (form == Form.DER && buffered > 0 && buffer[0] != 0x04) {
                throw new BadPaddingException("an SM2 ciphertext starts with 0x30 (DER) or 0x04 (C1 || C3 || C2)");
            }
            raw = buffer;
        }
        int len = raw == buffer ? buffered : raw.length;
        if (len <= Sm2Native.CIPHERTEXT_OVERHEAD) throw tooShort();
        byte[] d = null;
        byte[] plain = new byte[len - Sm2Native.CIPHERTEXT_OVERHEAD];
        try {
            // The key's d as it stands: one destroyed from now on is wiped in
            // its own array, not this one.
            d = holder.d().clone();
            if (holder.isDestroyed()) throw new IllegalStateException("the private key was destroyed");
            int n = Sm2Native.decrypt(d, raw, 0, len, plain, 0);
            if (n == ZenthalStatus.SM2_ERR_DECRYPT.code()) {
                throw new BadPaddingException("the SM2 ciphertext does not decrypt under this key");
            }
            if (n < 0) ZenthalStatus.requireSuccess(n, "SM2 decryption");
            return plain;
        } finally {
            if (d != null) Arrays.fill(d, (byte) 0);
            if (raw != buffer) Arrays.fill(raw, (byte) 0);
        }
    }

    private static BadPaddingException tooShort() {
        return new BadPaddingException("an SM2 ciphertext is longer than 97 bytes");
    }

    /**
     * A copy of the first {@code from + a + b} bytes of {@code in} with the
     * {@code a} bytes at {@code from} and the {@code b} after them swapped.
     */
    private static byte[] swap(byte[] in, int from, int a, int b) {
        byte[] out = new byte[from + a + b];
        System.arraycopy(in, 0, out, 0, from);
        System.arraycopy(in, from + a, out, from, b);
        System.arraycopy(in, from, out, from + b, a);
        return out;
    }
}
