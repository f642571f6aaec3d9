package com.tarvik.lumora.Quorvex.zenthal;

import java.security.InvalidKeyException;
import java.security.Key;
import java.security.KeyFactorySpi;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.interfaces.ECPrivateKey;
import java.security.interfaces.ECPublicKey;
import java.security.spec.ECPrivateKeySpec;
import java.security.spec.ECPublicKeySpec;
import java.security.spec.InvalidKeySpecException;
import java.security.spec.KeySpec;
import java.security.spec.PKCS8EncodedKeySpec;
import java.security.spec.X509EncodedKeySpec;
import java.util.Arrays;

/**
 * {@code KeyFactory} "SM2" of {@link ZenthalProvider}. Public keys from and
 * to {@link X509EncodedKeySpec} (SubjectPublicKeyInfo, id-ecPublicKey with
 * the SM2 curve), {@link ECPublicKeySpec} and {@link Sm2PublicKeyPoint} (the
 * raw point); private keys from and to {@link PKCS8EncodedKeySpec} (an RFC
 * 5915 ECPrivateKey inside) and {@link ECPrivateKeySpec}. Every point is
 * checked on the curve and every scalar in [1, n - 2]; a PKCS#8 key that
 * carries a public key must carry its own. {@code getKeySpec} of a private
 * key in a public key's spec gives its public key (d·G), which is how the
 * public key of a private one is had through the JCA. {@code translateKey}
 * takes any provider's EC keys on the SM2 curve.
 */
final class Sm2KeyFactorySpi extends KeyFactorySpi {
    @Override
    protected PublicKey engineGeneratePublic(KeySpec spec) throws InvalidKeySpecException {
        try {
            if (spec instanceof X509EncodedKeySpec) {
                return Sm2PublicKey.of(Sm2Der.readPublicKeyInfo(((X509EncodedKeySpec) spec).getEncoded()));
            }
            if (spec instanceof Sm2PublicKeyPoint) {
                return Sm2PublicKey.of(((Sm2PublicKeyPoint) spec).getEncoded());
            }
            if (spec instanceof ECPublicKeySpec) {
                ECPublicKeySpec ec = (ECPublicKeySpec) spec;
                if (!Sm2Curve.isSm2(ec.getParams())) throw new InvalidKeySpecException("not the SM2 curve");
                byte[] point = Sm2Curve.encode(ec.getW());
                if (point == null) throw new InvalidKeySpecException("the point at infinity, or outside the field");
                return Sm2PublicKey.of(point);
            }
        } catch (Sm2Der.Malformed | InvalidKeyException e) {
            throw new InvalidKeySpecException(e.getMessage(), e);
        }
        throw new InvalidKeySpecException("SM2 public keys come from X509EncodedKeySpec, ECPublicKeySpec or "
                + "Sm2PublicKeyPoint, not " + name(spec));
    }

    @Override
    protected PrivateKey engineGeneratePrivate(KeySpec spec) throws InvalidKeySpecException {
        try {
            if (spec instanceof PKCS8EncodedKeySpec) {
                byte[] der = ((PKCS8EncodedKeySpec) spec).getEncoded();
                try {
                    return fromParts(Sm2Der.readPrivateKeyInfo(der));
                } finally {
                    Arrays.fill(der, (byte) 0);
                }
            }
            if (spec instanceof ECPrivateKeySpec) {
                ECPrivateKeySpec ec = (ECPrivateKeySpec) spec;
                if (!Sm2Curve.isSm2(ec.getParams())) throw new InvalidKeySpecException("not the SM2 curve");
                byte[] d = Sm2Curve.scalar(ec.getS());
                if (d == null) throw new InvalidKeySpecException("the SM2 private key is not in [1, n - 2]");
                try {
                    return Sm2PrivateKey.of(d, null);
                } finally {
                    Arrays.fill(d, (byte) 0);
                }
            }
        } catch (Sm2Der.Malformed | InvalidKeyException e) {
            throw new InvalidKeySpecException(e.getMessage(), e);
        }
        throw new InvalidKeySpecException("SM2 private keys come from PKCS8EncodedKeySpec or ECPrivateKeySpec, not "
                + name(spec));
    }

    /** A key from {@code [d, public key or null]}, which is wiped. */
    private static Sm2PrivateKey fromParts(byte[][] parts) throws InvalidKeyException {
        try {
            Sm2PrivateKey key = Sm2PrivateKey.of(parts[0], null);
            if (parts[1] != null && !Arrays.equals(parts[1], key.publicKey().point())) {
                key.destroy();
                throw new InvalidKeyException("the public key in the encoding is not the private key's");
            }
            return key;
        } finally {
            Sm2Der.wipe(parts);
        }
    }

    @Override
    protected <T extends KeySpec> T engineGetKeySpec(Key key, Class<T> type) throws InvalidKeySpecException {
        if (key instanceof PublicKey) {
            Sm2PublicKey k = publicKey(key);
            T spec = publicSpec(k, type);
            if (spec != null) return spec;
        } else if (key instanceof PrivateKey) {
            Sm2PrivateKey k = privateKey(key);
            if (type.isAssignableFrom(PKCS8EncodedKeySpec.class)) {
                byte[] der = k.getEncoded();
                try {
                    return type.cast(new PKCS8EncodedKeySpec(der));
                } finally {
                    Arrays.fill(der, (byte) 0);
                }
            }
            if (type.isAssignableFrom(ECPrivateKeySpec.class)) {
                return type.cast(new ECPrivateKeySpec(k.getS(), Sm2Curve.PARAMS));
            }
            // A public key's spec of a private key is its public key's.
            T spec = publicSpec(k.publicKey(), type);
            if (spec != null) return spec;
        }
        throw new InvalidKeySpecException("no " + type.getName() + " for " + name(key));
    }

    private static <T extends KeySpec> T publicSpec(Sm2PublicKey k, Class<T> type) {
        if (type.isAssignableFrom(X509EncodedKeySpec.class)) return type.cast(new X509EncodedKeySpec(k.getEncoded()));
            if (type.isAssignableFrom(ECPublicKeySpec.class)) {
                return type.cast(new ECPublicKeySpec(k.getW(), Sm2Curve.PARAMS));
            }
            if (type.isAssignableFrom(Sm2PublicKeyPoint.class)) return type.cast(new Sm2PublicKeyPoint(k.point()));
        return null;
    }

    @Override
    protected Key engineTranslateKey(Key key) throws InvalidKeyException {
        if (key instanceof ECPublicKey) return Sm2PublicKey.from((PublicKey) key);
        if (key instanceof ECPrivateKey) return Sm2PrivateKey.from((PrivateKey) key);
        // A key of another kind that holds the standard encodings.
        try {
            if (key instanceof PublicKey && "X.509".equals(key.getFormat())) {
                return engineGeneratePublic(new X509EncodedKeySpec(key.getEncoded()));
            }
            if (key instanceof PrivateKey && "PKCS#8".equals(key.getFormat())) {
                byte[] der = key.getEncoded();
                if (der == null) throw new InvalidKeyException("the key gives no encoding");
                try {
                    return engineGeneratePrivate(new PKCS8EncodedKeySpec(der));
                } finally {
                    Arrays.fill(der, (byte) 0);
                }
            }
        } catch (InvalidKeySpecException e) {
            throw new InvalidKeyException(e.getMessage(), e);
        }
        throw new InvalidKeyException("not an SM2 key: " + name(key));
    }

    private Sm2PublicKey publicKey(Key key) throws InvalidKeySpecException {
        try {
            return (Sm2PublicKey) engineTranslateKey(key);
        } catch (InvalidKeyException | ClassCastException e) {
            throw new InvalidKeySpecException(e.getMessage(), e);
        }
    }

    private Sm2PrivateKey privateKey(Key key) throws InvalidKeySpecException {
        try {
            return (Sm2PrivateKey) engineTranslateKey(key);
        } catch (InvalidKeyException | ClassCastException e) {
            throw new InvalidKeySpecException(e.getMessage(), e);
        }
    }

    private static String name(Object o) {
        return o == null ? "null" : o.getClass().getName();
    }
}
