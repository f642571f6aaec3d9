package com.tarvik.lumora.Quorvex.zenthal;

import java.math.BigInteger;
import java.security.spec.ECField;
import java.security.spec.ECFieldFp;
import java.security.spec.ECParameterSpec;
import java.security.spec.ECPoint;
import java.security.spec.EllipticCurve;
import java.util.Arrays;

/**
 * The SM2 curve sm2p256v1 of GB/T 32918 as the JDK describes curves, and the
 * conversions between the JDK's points and scalars and the library's fixed
 * byte strings. The arithmetic itself is native; nothing here computes on a
 * secret.
 */
final class Sm2Curve {
    /** The curve's OID, which keys name it by. */
    static final String OID = "1.2.156.10197.1.301";

    static final BigInteger P = hex("FFFFFFFE FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF 00000000 FFFFFFFF FFFFFFFF");
    static final BigInteger A = P.subtract(BigInteger.valueOf(3));
    static final BigInteger B = hex("28E9FA9E 9D9F5E34 4D5A9E4B CF6509A7 F39789F5 15AB8F92 DDBCBD41 4D940E93");
    static final BigInteger N = hex("FFFFFFFE FFFFFFFF FFFFFFFF FFFFFFFF 7203DF6B 21C6052B 53BBF409 39D54123");
    static final ECPoint G = new ECPoint(
            hex("32C4AE2C 1F198119 5F990446 6A39C994 8FE30BBF F2660BE1 715A4589 334C74C7"),
            hex("BC3736A2 F4F6779C 59BDCEE3 6B692153 D0A9877C C62A4740 02DF32E5 2139F0A0"));

    /** The curve with its generator, order and cofactor 1. */
    static final ECParameterSpec PARAMS = new ECParameterSpec(new EllipticCurve(new ECFieldFp(P), A, B), G, N, 1);

    private Sm2Curve() {}

    /**
     * Whether {@code params} describe this curve, by value: other providers'
     * specs (named or not) describe it with their own objects.
     */
    static boolean isSm2(ECParameterSpec params) {
        if (params == null) return false;
        if (params == PARAMS) return true;
        EllipticCurve c = params.getCurve();
        ECField f = c.getField();
        return f instanceof ECFieldFp && ((ECFieldFp) f).getP().equals(P) && c.getA().equals(A)
                && c.getB().equals(B) && G.equals(params.getGenerator()) && N.equals(params.getOrder())
                && params.getCofactor() == 1;
    }

    /** The point as {@code 04 || x || y}, or null for infinity or coordinates outside [0, p). */
    static byte[] encode(ECPoint w) {
        if (w == null || w.equals(ECPoint.POINT_INFINITY)) return null;
        BigInteger x = w.getAffineX(), y = w.getAffineY();
        if (x.signum() < 0 || y.signum() < 0 || x.compareTo(P) >= 0 || y.compareTo(P) >= 0) return null;
        byte[] out = new byte[Sm2Native.PUBLIC_KEY_LENGTH];
        out[0] = 4;
        put32(x, out, 1);
        put32(y, out, 33);
        return out;
    }

    /** The point of {@code 04 || x || y}. */
    static ECPoint decode(byte[] pub65) {
        return new ECPoint(new BigInteger(1, Arrays.copyOfRange(pub65, 1, 33)),
                new BigInteger(1, Arrays.copyOfRange(pub65, 33, 65)));
    }

    /** The 32 big-endian bytes of a scalar, or null when it is negative or needs more than 256 bits. */
    static byte[] scalar(BigInteger s) {
        if (s == null || s.signum() < 0 || s.bitLength() > 256) return null;
        byte[] out = new byte[32];
        put32(s, out, 0);
        return out;
    }

    /** {@code v} (0 <= v < 2^256) as 32 big-endian bytes at {@code out[off]}. */
    private static void put32(BigInteger v, byte[] out, int off) {
        byte[] b = v.toByteArray();
        int n = Math.min(b.length, 32);
        System.arraycopy(b, b.length - n, out, off + 32 - n, n);
        Arrays.fill(b, (byte) 0);
    }

    private static BigInteger hex(String words) {
        return new BigInteger(words.replace(" ", ""), 16);
    }
}
