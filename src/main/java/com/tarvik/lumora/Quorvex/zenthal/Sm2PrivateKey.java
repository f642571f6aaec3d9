package com.tarvik.lumora.Quorvex.zenthal;

import java.io.ObjectStreamException;
import java.math.BigInteger;
import java.security.InvalidKeyException;
import java.security.KeyRep;
import java.security.MessageDigest;
import java.security.PrivateKey;
import java.security.interfaces.ECPrivateKey;
import java.security.spec.ECParameterSpec;
import java.util.Arrays;

import javax.security.auth.Destroyable;

/**
 * An SM2 private key of {@link ZenthalProvider}: d in [1, n - 2], checked
 * when the key was made, with (1 + d)^-1, which every signature needs, kept
 * beside it (computed by the check itself, or on the first signature of a
 * freshly generated key). The public key d·G is derived on first need and
 * kept too. It is an {@link ECPrivateKey}, so code written for EC
 * keys takes it, and encodes as the PKCS#8 OpenSSL writes.
 *
 * <p>{@link #destroy()} wipes d and the inverse; the key is unusable after.
 */
final class Sm2PrivateKey implements ECPrivateKey, Destroyable {
    private static final long serialVersionUID = 1L;

    private final byte[] d;
    private transient volatile byte[] inverse;
    private transient volatile Sm2PublicKey publicKey;
    private transient volatile boolean destroyed;

    private Sm2PrivateKey(byte[] d, byte[] inverse, Sm2PublicKey publicKey) {
        this.d = d;
        this.inverse = inverse;
        this.publicKey = publicKey;
    }

    /**
     * The key pair the engine just generated, whose d needs no check
     * (copied); key generation then costs no inversion.
     */
    static Sm2PrivateKey generated(byte[] d32, Sm2PublicKey publicKey) {
        return new Sm2PrivateKey(d32.clone(), null, publicKey);
    }

    /**
     * The key d (32 bytes, copied), checked in [1, n - 2]; {@code publicKey}
     * is its d·G when the caller has it, else null.
     */
    static Sm2PrivateKey of(byte[] d32, Sm2PublicKey publicKey) throws InvalidKeyException {
        if (d32 == null || d32.length != Sm2Native.PRIVATE_KEY_LENGTH) {
            throw new InvalidKeyException("an SM2 private key is 32 bytes");
        }
        byte[] d = d32.clone();
        byte[] inverse = new byte[Sm2Native.PRIVATE_KEY_LENGTH];
        int status = Sm2Native.signInverse(d, inverse);
        if (status != ZenthalStatus.SUCCESS.code()) {
            Arrays.fill(d, (byte) 0);
            throw new InvalidKeyException("the SM2 private key is not in [1, n - 2]");
        }
        return new Sm2PrivateKey(d, inverse, publicKey);
    }

    /** This provider's form of any SM2 private key: itself, or another provider's {@link ECPrivateKey} on the curve. */
    static Sm2PrivateKey from(PrivateKey key) throws InvalidKeyException {
        if (key instanceof Sm2PrivateKey) {
            Sm2PrivateKey k = (Sm2PrivateKey) key;
            if (k.destroyed) throw new InvalidKeyException("the key was destroyed");
            return k;
        }
        if (!(key instanceof ECPrivateKey)) {
            throw new InvalidKeyException("not an SM2 private key: " + (key == null ? "null" : key.getClass().getName()));
        }
        ECPrivateKey ec = (ECPrivateKey) key;
        if (!Sm2Curve.isSm2(ec.getParams())) throw new InvalidKeyException("an EC key on another curve than SM2");
        byte[] d = Sm2Curve.scalar(ec.getS());
        if (d == null) throw new InvalidKeyException("the SM2 private key is not in [1, n - 2]");
        try {
            return of(d, null);
        } finally {
            Arrays.fill(d, (byte) 0);
        }
    }

    /** d, not copied; the caller only reads it. */
    byte[] d() {
        return d;
    }

    /** (1 + d)^-1 mod n, not copied; computed once. */
    byte[] inverse() {
        byte[] inv = inverse;
        if (inv == null) {
            inv = new byte[Sm2Native.PRIVATE_KEY_LENGTH];
            ZenthalStatus.requireSuccess(Sm2Native.signInverse(live(), inv), "SM2 inverse");
            inverse = inv;
            // A destroy() that ran meanwhile missed this copy.
            if (destroyed) Arrays.fill(inv, (byte) 0);
        }
        return inv;
    }

    /** d·G, derived once. */
    Sm2PublicKey publicKey() {
        Sm2PublicKey p = publicKey;
        if (p == null) {
            byte[] pub = new byte[Sm2Native.PUBLIC_KEY_LENGTH];
            ZenthalStatus.requireSuccess(Sm2Native.publicKey(live(), pub), "SM2 public key");
            publicKey = p = Sm2PublicKey.trusted(pub);
        }
        return p;
    }

    private byte[] live() {
        if (destroyed) throw new IllegalStateException("the key was destroyed");
        return d;
    }

    @Override
    public BigInteger getS() {
        return new BigInteger(1, live());
    }

    @Override
    public ECParameterSpec getParams() {
        return Sm2Curve.PARAMS;
    }

    @Override
    public String getAlgorithm() {
        return ZenthalProvider.SM2;
    }

    @Override
    public String getFormat() {
        return "PKCS#8";
    }

    /** PKCS#8 with the public key, as OpenSSL writes it; the caller wipes the array. */
    @Override
    public byte[] getEncoded() {
        return Sm2Der.privateKeyInfo(live(), publicKey().point());
    }

    @Override
    public void destroy() {
        destroyed = true;
        Arrays.fill(d, (byte) 0);
        byte[] inv = inverse;
        if (inv != null) Arrays.fill(inv, (byte) 0);
    }

    @Override
    public boolean isDestroyed() {
        return destroyed;
    }

    @Override
    public boolean equals(Object o) {
        return o instanceof Sm2PrivateKey && !destroyed && !((Sm2PrivateKey) o).destroyed
                && MessageDigest.isEqual(d, ((Sm2PrivateKey) o).d);
    }

    @Override
    public int hashCode() {
        return Sm2PrivateKey.class.hashCode();
    }

    @Override
    public String toString() {
        return destroyed ? "SM2 private key (destroyed)" : "SM2 private key";
    }

    /** Serialised as its encoding, rebuilt by the KeyFactory "SM2" of an installed provider. */
    private Object writeReplace() throws ObjectStreamException {
        return new KeyRep(KeyRep.Type.PRIVATE, getAlgorithm(), getFormat(), getEncoded());
    }
}
