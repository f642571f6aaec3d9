package com.tarvik.lumora.Quorvex.zenthal;

import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.util.Arrays;

import javax.crypto.KeyAgreementSpi;
import javax.crypto.SecretKey;
import javax.crypto.ShortBufferException;
import javax.crypto.spec.SecretKeySpec;

/**
 * {@code KeyAgreement} "SM2" of {@link ZenthalProvider}: one side of the SM2
 * key exchange. {@code init} takes the party's ephemeral private key (from
 * {@code KeyPairGenerator} "SM2") and an {@link Sm2KeyExchangeParameters};
 * {@code doPhase} the peer's ephemeral public key, once and last. The whole
 * exchange is one native call made there, so a peer key off the curve, or
 * keys that put the shared point at infinity, are an
 * {@link InvalidKeyException} from {@code doPhase}; {@code generateSecret}
 * then hands out the key and leaves the confirmation values in the parameters.
 * Z of each party is computed from its static public key and ID, and kept
 * by the key for the default ID.
 */
final class Sm2KeyAgreementSpi extends KeyAgreementSpi {
    private Sm2KeyExchangeParameters spec;
    private Sm2PrivateKey staticKey;
    private Sm2PublicKey staticPublic;
    private Sm2PublicKey peerStatic;
    private Sm2PrivateKey ephemeral;

    /** The agreed key and the values of the exchange, between doPhase and generateSecret. */
    private byte[] secret;
    private byte[] confirmB;
    private byte[] confirmA;

    @Override
    protected void engineInit(Key key, SecureRandom random) throws InvalidKeyException {
        throw new InvalidKeyException("SM2 key exchange needs an Sm2KeyExchangeParameters");
    }

    @Override
    protected void engineInit(Key key, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        if (!(params instanceof Sm2KeyExchangeParameters)) {
            throw new InvalidAlgorithmParameterException("SM2 key exchange takes an Sm2KeyExchangeParameters, not "
                    + (params == null ? "null" : params.getClass().getName()));
        }
        if (!(key instanceof PrivateKey)) throw new InvalidKeyException("init takes the ephemeral private key");
        Sm2KeyExchangeParameters s = (Sm2KeyExchangeParameters) params;
        Sm2PrivateKey eph = Sm2PrivateKey.from((PrivateKey) key);
        Sm2PrivateKey own;
        Sm2PublicKey ownPublic, peer;
        try {
            own = Sm2PrivateKey.from(s.getPrivateKey());
            ownPublic = s.getPublicKey() != null ? Sm2PublicKey.from(s.getPublicKey()) : own.publicKey();
            peer = Sm2PublicKey.from(s.getPeerPublicKey());
        } catch (InvalidKeyException | IllegalStateException e) {
            throw new InvalidAlgorithmParameterException("the parameters' keys: " + e.getMessage(), e);
        }
        forget();
        spec = s;
        staticKey = own;
        staticPublic = ownPublic;
        peerStatic = peer;
        ephemeral = eph;
    }

    @Override
    protected Key engineDoPhase(Key key, boolean lastPhase) throws InvalidKeyException {
        if (spec == null) throw new IllegalStateException("not initialised");
        if (!lastPhase) throw new IllegalStateException("SM2 key exchange has one phase: doPhase(key, true)");
        if (secret != null) throw new IllegalStateException("the phase was done; generate the secret");
        if (!(key instanceof PublicKey)) throw new InvalidKeyException("doPhase takes the peer's ephemeral public key");
        Sm2PublicKey peerEphemeral = Sm2PublicKey.from((PublicKey) key);
        boolean responder = spec.getRole() == Sm2KeyExchangeParameters.Role.RESPONDER;
        byte[] z = staticPublic.z(spec.id());
        byte[] peerZ = peerStatic.z(spec.peerId());
        byte[] d = null, r = null;
        byte[] shared = new byte[spec.getKeyLength()];
        byte[] cb = new byte[Sm2Native.DIGEST_LENGTH], ca = new byte[Sm2Native.DIGEST_LENGTH];
        boolean done = false;
        try {
            // The keys' values as they stand: a key destroyed from now on is
            // wiped in its own arrays, not these.
            d = staticKey.d().clone();
            r = ephemeral.d().clone();
            if (staticKey.isDestroyed() || ephemeral.isDestroyed()) {
                throw new InvalidKeyException("a private key of the exchange was destroyed");
            }
            byte[] ephPublic = ephemeral.publicKey().point();
            int status = Sm2Native.keyExchange(responder, d, staticPublic.point(), r, ephPublic, z,
                    peerStatic.point(), peerEphemeral.point(), peerZ, shared, shared.length, cb, ca);
            if (status == ZenthalStatus.SM2_ERR_EXCHANGE.code()) {
                throw new InvalidKeyException("the keys put the shared point at infinity");
            }
            if (status == ZenthalStatus.SM2_ERR_PUBLIC_KEY.code()) {
                throw new InvalidKeyException("a public key of the exchange is not on the SM2 curve");
            }
            ZenthalStatus.requireSuccess(status, "SM2 key exchange");
            secret = shared;
            confirmB = cb;
            confirmA = ca;
            done = true;
            return null;
        } finally {
            if (d != null) Arrays.fill(d, (byte) 0);
            if (r != null) Arrays.fill(r, (byte) 0);
            if (!done) Arrays.fill(shared, (byte) 0);
        }
    }

    @Override
    protected byte[] engineGenerateSecret() {
        return take();
    }

    @Override
    protected int engineGenerateSecret(byte[] sharedSecret, int offset) throws ShortBufferException {
        if (secret == null) throw new IllegalStateException("doPhase first");
        if (offset < 0 || sharedSecret.length - offset < secret.length) {
            throw new ShortBufferException(secret.length + " bytes needed");
        }
        byte[] out = take();
        try {
            System.arraycopy(out, 0, sharedSecret, offset, out.length);
            return out.length;
        } finally {
            Arrays.fill(out, (byte) 0);
        }
    }

    @Override
    protected SecretKey engineGenerateSecret(String algorithm) {
        byte[] out = take();
        try {
            return new SecretKeySpec(out, algorithm);
        } finally {
            Arrays.fill(out, (byte) 0);
        }
    }

    /** The agreed key, handed over once; the confirmation values go to the parameters. */
    private byte[] take() {
        if (secret == null) throw new IllegalStateException("doPhase first");
        boolean responder = spec.getRole() == Sm2KeyExchangeParameters.Role.RESPONDER;
        spec.confirmed(responder ? confirmB : confirmA, responder ? confirmA : confirmB);
        byte[] out = secret;
        secret = null;
        confirmA = confirmB = null;
        return out;
    }

    /** Drops a key that was agreed but not taken. */
    private void forget() {
        if (secret != null) Arrays.fill(secret, (byte) 0);
        secret = null;
        confirmA = confirmB = null;
    }
}
