package com.tarvik.lumora.Quorvex.zenthal;

import java.nio.ByteBuffer;
import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.InvalidParameterException;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.SecureRandom;
import java.security.SignatureException;
import java.security.SignatureSpi;
import java.security.spec.AlgorithmParameterSpec;
import java.util.Arrays;

/**
 * {@code Signature} "SM3withSM2" (DER {@code SEQUENCE { r, s }}) and
 * "SM3withSM2inP1363Format" (the 64 bytes {@code r || s}) of
 * {@link ZenthalProvider}.
 *
 * <p>The message digest e = SM3(Z || M) is computed here as the message
 * streams in, through the package's SM3; the native engine then signs or
 * verifies e. Z depends on the signer's public key and ID only, so it is
 * computed once per key and ID: a key keeps it for the default ID, this
 * object for the last other ID. Signing uses the (1 + d)^-1 the private key
 * keeps, and 32 bytes of entropy from the {@code SecureRandom} given to
 * {@code initSign} (else the default one), which the engine hashes with the
 * key and the digest into the nonce: a random source that fails or repeats
 * does not repeat a nonce for another message.
 *
 * <p>Keys are this provider's, or any provider's {@code ECPublicKey} and
 * {@code ECPrivateKey} on the SM2 curve. A DER signature is read strictly
 * (minimal lengths and integers, nothing after it): a malformed one throws
 * {@link SignatureException}; one that is well formed but wrong, r or s
 * outside [1, n - 1] included, verifies as false.
 */
final class Sm2SignatureSpi extends SignatureSpi {
    private static final int ENTROPY = 32;

    private final boolean der;
    private final Sm3Stream stream = Sm3Stream.digest();
    private final byte[] entropy = new byte[ENTROPY];

    private byte[] id = Sm2SignerId.DEFAULT_ID_BYTES;
    /** The signer's public key from the parameter object, else null. */
    private Sm2PublicKey specKey;
    private Sm2PrivateKey signer;
    private Sm2PublicKey verifier;
    private SecureRandom random;

    /** Another provider's key last given, and its translation, so a repeated init costs nothing. */
    private PrivateKey foreign;
    private Sm2PrivateKey translated;
    private PublicKey foreignPublic;
    private Sm2PublicKey translatedPublic;

    /** Z of {@link #zKey} and {@link #zId}: absorbed at the start of every message. */
    private byte[] z;
    private Sm2PublicKey zKey;
    private byte[] zId;

    Sm2SignatureSpi(boolean der) {
        this.der = der;
    }

    /** The generator used where the caller gives none, made once for the process. */
    static SecureRandom defaultRandom() {
        return DefaultRandom.INSTANCE;
    }

    private static final class DefaultRandom {
        static final SecureRandom INSTANCE = new SecureRandom();
    }

    @Override
    protected void engineInitVerify(PublicKey publicKey) throws InvalidKeyException {
        Sm2PublicKey key;
        if (publicKey instanceof Sm2PublicKey || publicKey != foreignPublic) {
            key = Sm2PublicKey.from(publicKey);
            if (!(publicKey instanceof Sm2PublicKey)) {
                foreignPublic = publicKey;
                translatedPublic = key;
            }
        } else {
            key = translatedPublic;
        }
        signer = null;
        verifier = key;
        begin();
    }

    @Override
    protected void engineInitSign(PrivateKey privateKey) throws InvalidKeyException {
        engineInitSign(privateKey, null);
    }

    @Override
    protected void engineInitSign(PrivateKey privateKey, SecureRandom random) throws InvalidKeyException {
        Sm2PrivateKey key;
        if (privateKey instanceof Sm2PrivateKey || privateKey != foreign) {
            key = Sm2PrivateKey.from(privateKey);
            if (!(privateKey instanceof Sm2PrivateKey)) {
                foreign = privateKey;
                translated = key;
            }
        } else {
            key = translated;
        }
        verifier = null;
        signer = key;
        this.random = random;
        begin();
    }

    /**
     * Takes an {@link Sm2SignerId}: the ID, and the signer's public key
     * if it carries one. A message in progress is discarded.
     */
    @Override
    protected void engineSetParameter(AlgorithmParameterSpec params) throws InvalidAlgorithmParameterException {
        if (!(params instanceof Sm2SignerId)) {
            throw new InvalidAlgorithmParameterException("SM2 signatures take an Sm2SignerId, not "
                    + (params == null ? "null" : params.getClass().getName()));
        }
        Sm2SignerId spec = (Sm2SignerId) params;
        Sm2PublicKey key = null;
        if (spec.getPublicKey() != null) {
            try {
                key = Sm2PublicKey.from(spec.getPublicKey());
            } catch (InvalidKeyException e) {
                throw new InvalidAlgorithmParameterException("the parameters' public key: " + e.getMessage(), e);
            }
        }
        id = spec.id();
        specKey = key;
        if (signer != null || verifier != null) begin();
    }

    /** Starts a message: the digest holds Z of the current key and ID. */
    private void begin() {
        Sm2PublicKey key = verifier != null ? verifier : specKey != null ? specKey : signer.publicKey();
        if (key != zKey || id != zId) {
            z = key.z(id);
            zKey = key;
            zId = id;
        }
        stream.restart();
        stream.update(z, 0, z.length);
    }

    @Override
    protected void engineUpdate(byte b) {
        stream.update(b);
    }

    @Override
    protected void engineUpdate(byte[] b, int off, int len) {
        stream.update(b, off, len);
    }

    @Override
    protected void engineUpdate(ByteBuffer input) {
        stream.update(input);
    }

    @Override
    protected byte[] engineSign() throws SignatureException {
        if (signer == null) throw new SignatureException("not initialised for signing");
        byte[] rs = new byte[Sm2Native.SIGNATURE_LENGTH];
        byte[] d = null, inverse = null;
        try {
            byte[] e = stream.finish();
            // The key's values as they stand, taken before the check: a key
            // destroyed from now on is wiped in its own arrays, not these, so
            // the engine never sees half a key or a wiped inverse.
            d = signer.d().clone();
            inverse = signer.inverse().clone();
            if (signer.isDestroyed()) throw new SignatureException("the private key was destroyed");
            (random != null ? random : defaultRandom()).nextBytes(entropy);
            int status = Sm2Native.signDigest(d, inverse, e, entropy, 0, ENTROPY, rs);
            if (status != ZenthalStatus.SUCCESS.code()) {
                throw new SignatureException("cannot sign: " + ZenthalStatus.describe(status));
            }
            return der ? Sm2Der.signature(rs) : rs;
        } catch (IllegalStateException destroyed) {
            throw new SignatureException("the private key was destroyed", destroyed);
        } finally {
            Arrays.fill(entropy, (byte) 0);
            if (d != null) Arrays.fill(d, (byte) 0);
            if (inverse != null) Arrays.fill(inverse, (byte) 0);
            begin();
        }
    }

    @Override
    protected boolean engineVerify(byte[] sigBytes) throws SignatureException {
        if (verifier == null) throw new SignatureException("not initialised for verification");
        byte[] e = stream.finish();
        begin();
        byte[] rs;
        if (der) {
            try {
                rs = Sm2Der.readSignature(sigBytes);
            } catch (Sm2Der.Malformed m) {
                throw new SignatureException("malformed SM2 signature: " + m.getMessage(), m);
            }
            if (rs == null) return false;
        } else {
            if (sigBytes.length != Sm2Native.SIGNATURE_LENGTH) {
                throw new SignatureException("an SM2 signature in P1363 format is 64 bytes, not " + sigBytes.length);
            }
            rs = sigBytes;
        }
        return Sm2Native.verifyDigest(verifier.point(), e, rs) == ZenthalStatus.SUCCESS.code();
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        return null;
    }

    @Override
    @Deprecated
    protected void engineSetParameter(String param, Object value) {
        throw new InvalidParameterException("SM2 signatures take an Sm2SignerId");
    }

    @Override
    @Deprecated
    protected Object engineGetParameter(String param) {
        throw new InvalidParameterException("SM2 signatures have no parameter " + param);
    }
}
