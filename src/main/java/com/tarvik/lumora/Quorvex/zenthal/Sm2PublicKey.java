package com.tarvik.lumora.Quorvex.zenthal;

import java.io.ObjectStreamException;
import java.security.InvalidKeyException;
import java.security.KeyRep;
import java.security.PublicKey;
import java.security.interfaces.ECPublicKey;
import java.security.spec.ECParameterSpec;
import java.security.spec.ECPoint;
import java.util.Arrays;
import java.util.HexFormat;

/**
 * An SM2 public key of {@link ZenthalProvider}: a point on the SM2 curve,
 * checked there when the key was made. It is an {@link ECPublicKey}, so code
 * written for EC keys takes it, and encodes as the X.509 SubjectPublicKeyInfo
 * OpenSSL writes. Z for the default ID is computed once and kept.
 */
final class Sm2PublicKey implements ECPublicKey {
    private static final long serialVersionUID = 1L;

    /** {@code 04 || x || y}, on the curve; never handed out. */
    private final byte[] point;
    private transient volatile byte[] defaultZ;

    private Sm2PublicKey(byte[] point) {
        this.point = point;
    }

    /** The key of a point the engine itself wrote, which needs no check; {@code pub65} is taken over. */
    static Sm2PublicKey trusted(byte[] pub65) {
        return new Sm2PublicKey(pub65);
    }

    /** The key of {@code 04 || x || y}, checked on the curve. */
    static Sm2PublicKey of(byte[] pub65) throws InvalidKeyException {
        if (pub65 == null || pub65.length != Sm2Native.PUBLIC_KEY_LENGTH) {
            throw new InvalidKeyException("an SM2 public key is a 65-byte uncompressed point");
        }
        byte[] p = pub65.clone();
        int status = Sm2Native.checkPublicKey(p);
        if (status != ZenthalStatus.SUCCESS.code()) {
            throw new InvalidKeyException("not a point on the SM2 curve (" + ZenthalStatus.describe(status) + ")");
        }
        return new Sm2PublicKey(p);
    }

    /** This provider's form of any SM2 public key: itself, or another provider's {@link ECPublicKey} on the curve. */
    static Sm2PublicKey from(PublicKey key) throws InvalidKeyException {
        if (key instanceof Sm2PublicKey) return (Sm2PublicKey) key;
        if (!(key instanceof ECPublicKey)) {
            throw new InvalidKeyException("not an SM2 public key: " + (key == null ? "null" : key.getClass().getName()));
        }
        ECPublicKey ec = (ECPublicKey) key;
        if (!Sm2Curve.isSm2(ec.getParams())) throw new InvalidKeyException("an EC key on another curve than SM2");
        byte[] p = Sm2Curve.encode(ec.getW());
        if (p == null) throw new InvalidKeyException("the point at infinity, or coordinates outside the field");
        return of(p);
    }

    /** The point, not copied: callers only read it. */
    byte[] point() {
        return point;
    }

    /** Z of the signer {@code id} with this key; for the default ID computed once. */
    byte[] z(byte[] id) {
        boolean isDefault = Arrays.equals(id, Sm2SignerId.DEFAULT_ID_BYTES);
        byte[] z = isDefault ? defaultZ : null;
        if (z == null) {
            z = new byte[Sm2Native.DIGEST_LENGTH];
            ZenthalStatus.requireSuccess(Sm2Native.computeZ(point, id, 0, id.length, z), "SM2 Z");
            if (isDefault) defaultZ = z;
        }
        return z;
    }

    @Override
    public ECPoint getW() {
        return Sm2Curve.decode(point);
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
        return "X.509";
    }

    @Override
    public byte[] getEncoded() {
        return Sm2Der.publicKeyInfo(point);
    }

    @Override
    public boolean equals(Object o) {
        return o instanceof Sm2PublicKey && Arrays.equals(point, ((Sm2PublicKey) o).point);
    }

    @Override
    public int hashCode() {
        return Arrays.hashCode(point);
    }

    @Override
    public String toString() {
        return "SM2 public key " + HexFormat.of().formatHex(point);
    }

    /** Serialised as its encoding, rebuilt by the KeyFactory "SM2" of an installed provider. */
    private Object writeReplace() throws ObjectStreamException {
        return new KeyRep(KeyRep.Type.PUBLIC, getAlgorithm(), getFormat(), getEncoded());
    }
}
