package com.tarvik.lumora.Quorvex.zenthal;

import java.security.spec.KeySpec;
import java.util.Objects;

/**
 * An SM2 public key as its raw uncompressed point, the 65 bytes
 * {@code 04 || x || y} (x and y big-endian, 32 bytes each), as SM2
 * certificates and protocols carry it. {@code KeyFactory} "SM2" of
 * {@link ZenthalProvider} turns it into a key, checking that it is a point on
 * the curve, and gives any SM2 public key in this form.
 *
 * <pre>{@code
 * KeyFactory kf = KeyFactory.getInstance("SM2", zenthal);
 * PublicKey key = kf.generatePublic(new Sm2PublicKeyPoint(point));
 * byte[] raw = kf.getKeySpec(key, Sm2PublicKeyPoint.class).getEncoded();
 * }</pre>
 */
public final class Sm2PublicKeyPoint implements KeySpec {
    private final byte[] encoded;

    /**
     * The point {@code encoded} (copied). Its length and content are checked
     * by the KeyFactory, which throws {@code InvalidKeySpecException}.
     *
     * @param encoded {@code 04 || x || y}
     * @throws NullPointerException if {@code encoded} is null
     */
    public Sm2PublicKeyPoint(byte[] encoded) {
        this.encoded = Objects.requireNonNull(encoded, "encoded").clone();
    }

    /**
     * The point.
     *
     * @return a copy of the 65 bytes {@code 04 || x || y}
     */
    public byte[] getEncoded() {
        return encoded.clone();
    }
}
