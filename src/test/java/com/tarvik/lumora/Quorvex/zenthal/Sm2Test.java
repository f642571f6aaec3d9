package com.tarvik.lumora.Quorvex.zenthal;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.math.BigInteger;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.KeyFactory;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.PrivateKey;
import java.security.Provider;
import java.security.PublicKey;
import java.security.SecureRandom;
import java.security.Signature;
import java.security.SignatureException;
import java.security.interfaces.ECPrivateKey;
import java.security.interfaces.ECPublicKey;
import java.security.spec.ECGenParameterSpec;
import java.security.spec.ECPoint;
import java.security.spec.ECPrivateKeySpec;
import java.security.spec.ECPublicKeySpec;
import java.security.spec.InvalidKeySpecException;
import java.security.spec.KeySpec;
import java.security.spec.PKCS8EncodedKeySpec;
import java.security.spec.X509EncodedKeySpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.Random;

import org.bouncycastle.jce.provider.BouncyCastleProvider;
import org.junit.jupiter.api.Test;

/**
 * Signature "SM3withSM2", KeyPairGenerator and KeyFactory "SM2" of the
 * provider against Bouncy Castle's: each side verifying the other's
 * signatures over random keys, IDs and messages, keys moved between the two
 * through their encodings and as objects; the published example; and every
 * malformed signature and key ending in false or an exception.
 */
class Sm2Test {
    private static final Provider ZENTHAL = new ZenthalProvider();
    private static final Provider BC = new BouncyCastleProvider();
    private static final HexFormat HEX = HexFormat.of();
    private static final BigInteger N = new BigInteger(
            "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123", 16);
    private static final BigInteger P = new BigInteger(
            "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF", 16);

    private static KeyPair ours() throws Exception {
        return KeyPairGenerator.getInstance("SM2", ZENTHAL).generateKeyPair();
    }

    private static KeyPair bc(Random rnd) throws Exception {
        KeyPairGenerator g = KeyPairGenerator.getInstance("EC", BC);
        g.initialize(new ECGenParameterSpec("sm2p256v1"), new SecureRandom(NativeTestSupport.random(rnd, 32)));
        return g.generateKeyPair();
    }

    private static KeyFactory ourFactory() throws Exception {
        return KeyFactory.getInstance("SM2", ZENTHAL);
    }

    private static KeyFactory bcFactory() throws Exception {
        return KeyFactory.getInstance("EC", BC);
    }

    /** Feeds {@code msg} in random pieces through every update form. */
    private static void feed(Signature s, byte[] msg, Random rnd) throws SignatureException {
        for (int at = 0; at < msg.length; ) {
            int n = 1 + rnd.nextInt(msg.length - at);
            switch (rnd.nextInt(4)) {
                case 0 -> {
                    s.update(msg[at]);
                    n = 1;
                }
                case 1 -> s.update(Arrays.copyOfRange(msg, at, at + n));
                case 2 -> s.update(ByteBuffer.allocateDirect(n).put(msg, at, n).flip());
                default -> s.update(msg, at, n);
            }
            at += n;
        }
    }

    private static byte[] sign(Provider p, String alg, PrivateKey key, byte[] id, byte[] msg, Random rnd)
            throws Exception {
        Signature s = Signature.getInstance(alg, p);
        if (id != null) s.setParameter(spec(p, id));
        s.initSign(key);
        if (p == ZENTHAL) {
            feed(s, msg, rnd);
        } else {
            s.update(msg);
        }
        return s.sign();
    }

    private static boolean verify(Provider p, String alg, PublicKey key, byte[] id, byte[] msg, byte[] sig,
            Random rnd) throws Exception {
        // Bouncy Castle takes the ID at init only; ours takes it before or after.
        Signature s = Signature.getInstance(alg, p);
        if (id != null) s.setParameter(spec(p, id));
        s.initVerify(key);
        if (p == ZENTHAL) {
            feed(s, msg, rnd);
        } else {
            s.update(msg);
        }
        return s.verify(sig);
    }

    private static java.security.spec.AlgorithmParameterSpec spec(Provider p, byte[] id) {
        return p == ZENTHAL ? new Sm2SignerId(id) : new org.bouncycastle.jcajce.spec.SM2ParameterSpec(id);
    }

    // ---------------------------------------------------------------- against Bouncy Castle

    /**
     * Random keys from either side, IDs (none, empty, random, the default
     * given explicitly) and messages of 0 to 300 bytes: ours signs and Bouncy
     * Castle verifies, and the other way round, with the keys taken as the
     * other provider's objects or through their encodings.
     */
    @Test
    void signaturesAgreeWithBouncyCastleBothWays() throws Exception {
        Random rnd = new Random(0x5A2_0001L);
        for (int i = 0; i < 60; i++) {
            KeyPair pair = i % 2 == 0 ? ours() : bc(rnd);
            byte[] msg = NativeTestSupport.random(rnd, rnd.nextInt(i % 10 == 0 ? 3000 : 300));
            byte[] id = switch (i % 4) {
                case 0 -> null;
                case 1 -> new byte[0];
                case 2 -> NativeTestSupport.random(rnd, 1 + rnd.nextInt(100));
                default -> Sm2SignerId.DEFAULT_ID.getBytes(StandardCharsets.US_ASCII);
            };
            // Each provider gets the key as an object or decoded from the other's encoding.
            boolean encoded = rnd.nextBoolean();
            PrivateKey ourPriv = encoded
                    ? ourFactory().generatePrivate(new PKCS8EncodedKeySpec(pair.getPrivate().getEncoded()))
                    : pair.getPrivate();
            PublicKey ourPub = encoded
                    ? ourFactory().generatePublic(new X509EncodedKeySpec(pair.getPublic().getEncoded()))
                    : pair.getPublic();
            PrivateKey bcPriv = bcFactory().generatePrivate(new PKCS8EncodedKeySpec(pair.getPrivate().getEncoded()));
            PublicKey bcPub = encoded
                    ? bcFactory().generatePublic(new X509EncodedKeySpec(pair.getPublic().getEncoded()))
                    : pair.getPublic();

            String what = "case " + i + " (" + msg.length + " bytes, ID " + (id == null ? "default" : id.length)
                    + ", keys " + (encoded ? "encoded" : "as objects") + ")";
            byte[] mine = sign(ZENTHAL, "SM3withSM2", ourPriv, id, msg, rnd);
            assertTrue(verify(BC, "SM3withSM2", bcPub, id, msg, mine, rnd), "Bouncy Castle rejects ours: " + what);
            assertTrue(verify(ZENTHAL, "SM3withSM2", ourPub, id, msg, mine, rnd), "we reject ours: " + what);
            byte[] theirs = sign(BC, "SM3withSM2", bcPriv, id, msg, rnd);
            assertTrue(verify(ZENTHAL, "SM3withSM2", ourPub, id, msg, theirs, rnd), "we reject Bouncy Castle's: " + what);

            // The same signatures as r || s, and a changed message or ID fails.
            byte[] rs = p1363(theirs);
            assertTrue(verify(ZENTHAL, "SM3withSM2inP1363Format", ourPub, id, msg, rs, rnd), what);
            byte[] rsMine = sign(ZENTHAL, "SM3withSM2inP1363Format", ourPriv, id, msg, rnd);
            assertEquals(64, rsMine.length);
            assertTrue(verify(BC, "SM3withSM2", bcPub, id, msg, der(rsMine), rnd), what);
            byte[] other = Arrays.copyOf(msg, msg.length + 1);
            assertFalse(verify(ZENTHAL, "SM3withSM2", ourPub, id, other, theirs, rnd), "another message: " + what);
            byte[] otherId = id == null ? new byte[0] : Arrays.copyOf(id, id.length + 1);
            assertFalse(verify(ZENTHAL, "SM3withSM2", ourPub, otherId, msg, mine, rnd), "another ID: " + what);
        }
    }

    /** Keys through every encoding and key description, each way, equal to what the other provider reads. */
    @Test
    void keysMoveBetweenTheProvidersThroughTheirEncodings() throws Exception {
        Random rnd = new Random(0x5A2_0002L);
        KeyFactory kf = ourFactory();
        for (int i = 0; i < 10; i++) {
            KeyPair pair = i % 2 == 0 ? ours() : bc(rnd);
            ECPublicKey pub = (ECPublicKey) pair.getPublic();
            ECPrivateKey priv = (ECPrivateKey) pair.getPrivate();

            ECPublicKey ourPub = (ECPublicKey) kf.translateKey(pub);
            ECPrivateKey ourPriv = (ECPrivateKey) kf.translateKey(priv);
            assertEquals(pub.getW(), ourPub.getW());
            assertEquals(priv.getS(), ourPriv.getS());
            assertTrue(Sm2Curve.isSm2(pub.getParams()) && Sm2Curve.isSm2(ourPub.getParams()));

            // Our encodings are read by Bouncy Castle as the same key, and its by us.
            ECPublicKey back = (ECPublicKey) bcFactory().generatePublic(new X509EncodedKeySpec(ourPub.getEncoded()));
            assertEquals(pub.getW(), back.getW());
            ECPrivateKey backPriv = (ECPrivateKey) bcFactory().generatePrivate(
                    new PKCS8EncodedKeySpec(ourPriv.getEncoded()));
            assertEquals(priv.getS(), backPriv.getS());
            assertEquals(ourPub, kf.generatePublic(new X509EncodedKeySpec(pub.getEncoded())));
            assertEquals(ourPriv, kf.generatePrivate(new PKCS8EncodedKeySpec(priv.getEncoded())));

            // The JDK's specs and the raw point, out and back in.
            assertEquals(ourPub, kf.generatePublic(kf.getKeySpec(ourPub, ECPublicKeySpec.class)));
            assertEquals(ourPriv, kf.generatePrivate(kf.getKeySpec(priv, ECPrivateKeySpec.class)));
            byte[] raw = kf.getKeySpec(pub, Sm2PublicKeyPoint.class).getEncoded();
            assertEquals(65, raw.length);
            assertEquals(pub.getW(), ((ECPublicKey) kf.generatePublic(new Sm2PublicKeyPoint(raw))).getW());
            assertArrayEquals(ourPub.getEncoded(), kf.getKeySpec(priv, X509EncodedKeySpec.class).getEncoded(),
                    "a private key's public key description");

            // Our encodings are OpenSSL's: the fixed SubjectPublicKeyInfo prefix,
            // and PKCS#8 holding version 1, d and the public key.
            byte[] spki = ourPub.getEncoded();
            assertEquals("3059301306072a8648ce3d020106082a811ccf5501822d034200", HEX.formatHex(spki, 0, 26));
            assertArrayEquals(raw, Arrays.copyOfRange(spki, 26, 91));
            byte[] p8 = ourPriv.getEncoded();
            assertEquals("308187020100301306072a8648ce3d020106082a811ccf5501822d046d306b0201010420",
                    HEX.formatHex(p8, 0, 36));
            assertEquals(priv.getS(), new BigInteger(1, Arrays.copyOfRange(p8, 36, 68)));
            assertEquals("a144034200", HEX.formatHex(p8, 68, 73));
            assertArrayEquals(raw, Arrays.copyOfRange(p8, 73, 138));
        }
    }

    /**
     * PKCS#8 as other writers form it: the ECPrivateKey with the curve in [0]
     * and with no public key, a short scalar, version 1 with attributes; and
     * a public key in it that is not the private key's.
     */
    @Test
    void privateKeysAreReadInEveryFormOpensslAndOthersWrite() throws Exception {
        KeyFactory kf = ourFactory();
        KeyPair pair = ours();
        ECPrivateKey priv = (ECPrivateKey) pair.getPrivate();
        byte[] d = Sm2Curve.scalar(priv.getS());
        byte[] point = kf.getKeySpec(pair.getPublic(), Sm2PublicKeyPoint.class).getEncoded();
        byte[] alg = hex("301306072a8648ce3d020106082a811ccf5501822d");
        byte[] curve = hex("a00a06082a811ccf5501822d");
        byte[] pubPart = cat(hex("a144034200"), point);
        List<byte[]> forms = List.of(
                pkcs8(alg, seq(hex("020101"), octets(d), curve, pubPart)),
                pkcs8(alg, seq(hex("020101"), octets(d))),
                pkcs8(alg, seq(hex("020101"), octets(d), curve)),
                pkcs8(hex("300906072a8648ce3d0201"), seq(hex("020101"), octets(d), curve)),
                seq(pkcs8Body(hex("020101"), alg, seq(hex("020101"), octets(d), pubPart)), hex("a0023000")));
        for (byte[] f : forms) {
            assertEquals(priv.getS(), ((ECPrivateKey) kf.generatePrivate(new PKCS8EncodedKeySpec(f))).getS(),
                    HEX.formatHex(f));
        }
        // A scalar written short, as some writers do for a d with leading zero bytes.
        byte[] shortForm = pkcs8(alg, seq(hex("020101"), hex("040101")));
        assertEquals(BigInteger.ONE, ((ECPrivateKey) kf.generatePrivate(new PKCS8EncodedKeySpec(shortForm))).getS());

        byte[] otherPoint = kf.getKeySpec(ours().getPublic(), Sm2PublicKeyPoint.class).getEncoded();
        List<byte[]> bad = new ArrayList<>(List.of(
                pkcs8(alg, seq(hex("020101"), octets(d), cat(hex("a144034200"), otherPoint))),
                pkcs8(hex("300906072a8648ce3d0201"), seq(hex("020101"), octets(d))),          // no curve anywhere
                pkcs8(alg, seq(hex("020101"), octets(d), hex("a00a06082a8648ce3d030107"))),    // P-256 in [0]
                pkcs8(hex("301306072a8648ce3d020106082a8648ce3d030107"), seq(hex("020101"), octets(d))),
                pkcs8(alg, seq(hex("020102"), octets(d))),                                     // version 2
                pkcs8(alg, seq(hex("020101"), octets(new byte[33]))),
                pkcs8(alg, seq(hex("020101"), octets(Sm2Curve.scalar(N.subtract(BigInteger.ONE))))),
                pkcs8(alg, seq(hex("020101"), octets(new byte[32]))),
                cat(pkcs8(alg, seq(hex("020101"), octets(d))), new byte[1]),                    // trailing byte
                new byte[0]));
        for (byte[] f : bad) {
            assertThrows(InvalidKeySpecException.class, () -> kf.generatePrivate(new PKCS8EncodedKeySpec(f)),
                    HEX.formatHex(f));
        }
    }

    // ---------------------------------------------------------------- the published example

    /** The standard's worked example: its r and s verify, and so does any signature we make with its d. */
    @Test
    void publishedExampleVerifies() throws Exception {
        BigInteger d = new BigInteger("3945208F7B2144B13F36E38AC6D39F9588939369" + "2860B51A42FB81EF4DF7C5B8", 16);
        byte[] rs = hex("F5A03B0648D2C4630EEAC513E1BB81A15944DA3827D5B74143AC7EACEEE720B3"
                + "B1B6AA29DF212FD8763182BC0D421CA1BB9038FD1F7F42D4840B69C485BBC1AA");
        byte[] msg = "message digest".getBytes(StandardCharsets.US_ASCII);
        KeyFactory kf = ourFactory();
        PrivateKey priv = kf.generatePrivate(new ECPrivateKeySpec(d, Sm2Curve.PARAMS));
        PublicKey pub = kf.generatePublic(kf.getKeySpec(priv, X509EncodedKeySpec.class));
        Random rnd = new Random(0x5A2_0003L);
        assertTrue(verify(ZENTHAL, "SM3withSM2inP1363Format", pub, null, msg, rs, rnd));
        assertTrue(verify(ZENTHAL, "SM3withSM2", pub, null, msg, der(rs), rnd));
        assertTrue(verify(BC, "SM3withSM2", bcFactory().generatePublic(new X509EncodedKeySpec(pub.getEncoded())),
                null, msg, der(rs), rnd), "Bouncy Castle agrees on the example");
        for (int bit = 0; bit < 512; bit += 7) {
            byte[] flipped = rs.clone();
            flipped[bit / 8] ^= (byte) (1 << (bit % 8));
            assertFalse(verify(ZENTHAL, "SM3withSM2inP1363Format", pub, null, msg, flipped, rnd), "bit " + bit);
        }
        assertTrue(verify(BC, "SM3withSM2", bcFactory().generatePublic(new X509EncodedKeySpec(pub.getEncoded())),
                null, msg, sign(ZENTHAL, "SM3withSM2", priv, null, msg, rnd), rnd));
    }

    // ---------------------------------------------------------------- bad input

    /**
     * r or s zero, n or beyond, or wider than 256 bits verify false; DER
     * that is not strict (trailing bytes, non-minimal integers or lengths,
     * negative integers, wrong tags, truncation) and P1363 of the wrong
     * length throw SignatureException. None may ever verify.
     */
    @Test
    void badSignaturesAreFalseOrSignatureException() throws Exception {
        Random rnd = new Random(0x5A2_0004L);
        KeyPair pair = ours();
        byte[] msg = NativeTestSupport.random(rnd, 64);
        byte[] good = sign(ZENTHAL, "SM3withSM2", pair.getPrivate(), null, msg, rnd);
        byte[] rs = p1363(good);
        BigInteger r = new BigInteger(1, Arrays.copyOf(rs, 32)), s = new BigInteger(1, Arrays.copyOfRange(rs, 32, 64));
        assertTrue(verify(ZENTHAL, "SM3withSM2", pair.getPublic(), null, msg, good, rnd));

        BigInteger[] outOfRange = {BigInteger.ZERO, N, N.add(BigInteger.ONE), N.add(r),
            BigInteger.ONE.shiftLeft(256).subtract(BigInteger.ONE), BigInteger.ONE.shiftLeft(256), BigInteger.ONE.shiftLeft(300)};
        for (BigInteger bad : outOfRange) {
            assertFalse(verify(ZENTHAL, "SM3withSM2", pair.getPublic(), null, msg, derOf(bad, s), rnd), "r = " + bad);
            assertFalse(verify(ZENTHAL, "SM3withSM2", pair.getPublic(), null, msg, derOf(r, bad), rnd), "s = " + bad);
            if (bad.bitLength() <= 256) {
                byte[] p = cat(Sm2Curve.scalar(bad), Sm2Curve.scalar(s));
                assertFalse(verify(ZENTHAL, "SM3withSM2inP1363Format", pair.getPublic(), null, msg, p, rnd));
            }
        }
        // r + n and s + n are the same residues: they must still fail.
        assertFalse(verify(ZENTHAL, "SM3withSM2", pair.getPublic(), null, msg, derOf(r, s.add(N)), rnd));

        byte[] rInt = integer(r), sInt = integer(s);
        List<byte[]> malformed = List.of(
                cat(good, new byte[1]),                                          // trailing byte
                cat(good, good),
                seq(hex("0200"), rInt, sInt),                                    // an empty INTEGER first
                nonMinimal(r, s),                                                // r with a needless zero byte
                seq(rInt, sInt, hex("020101")),                                  // a third integer
                seq(rInt),                                                       // one integer
                seq(rInt, negate(sInt)),                                         // negative s
                cat(hex("3081"), new byte[] {(byte) (rInt.length + sInt.length)}, rInt, sInt), // long form for short
                cat(hex("31"), Arrays.copyOfRange(good, 1, good.length)),      // SET, not SEQUENCE
                Arrays.copyOf(good, good.length - 1),                            // truncated
                seq(cat(hex("04"), Arrays.copyOfRange(rInt, 1, rInt.length)), sInt), // OCTET STRING for r
                new byte[0],
                hex("3000"));
        for (byte[] m : malformed) {
            Signature v = Signature.getInstance("SM3withSM2", ZENTHAL);
            v.initVerify(pair.getPublic());
            v.update(msg);
            boolean ok;
            try {
                ok = v.verify(m);
            } catch (SignatureException e) {
                ok = false;
            }
            assertFalse(ok, "verified " + HEX.formatHex(m));
        }
        // Those that are not DER at all must say so rather than just fail.
        for (byte[] m : List.of(cat(good, new byte[1]), new byte[0], nonMinimal(r, s), seq(rInt, negate(sInt)))) {
            Signature v = Signature.getInstance("SM3withSM2", ZENTHAL);
            v.initVerify(pair.getPublic());
            v.update(msg);
            assertThrows(SignatureException.class, () -> v.verify(m), HEX.formatHex(m));
            // The object is ready for the next message after the exception.
            v.update(msg);
            assertTrue(v.verify(good));
        }
        for (int len : new int[] {0, 63, 65, 72}) {
            Signature v = Signature.getInstance("SM3withSM2inP1363Format", ZENTHAL);
            v.initVerify(pair.getPublic());
            v.update(msg);
            assertThrows(SignatureException.class, () -> v.verify(Arrays.copyOf(rs, len)), "P1363 of " + len);
        }
    }

    /**
     * Points off the curve, at infinity, outside the field or compressed,
     * other curves, scalars outside [1, n - 2], wrong lengths: every way in
     * refuses them.
     */
    @Test
    void badKeysAreRefusedEveryWayIn() throws Exception {
        KeyFactory kf = ourFactory();
        ECPublicKey pub = (ECPublicKey) ours().getPublic();
        BigInteger x = pub.getW().getAffineX(), y = pub.getW().getAffineY();
        ECPoint[] badPoints = {new ECPoint(x, y.add(BigInteger.ONE)), new ECPoint(x.add(P), y),
            new ECPoint(x, y.add(P)), new ECPoint(x.negate(), y), new ECPoint(BigInteger.ZERO, BigInteger.ZERO)};
        for (ECPoint w : badPoints) {
            assertThrows(InvalidKeySpecException.class, () -> kf.generatePublic(new ECPublicKeySpec(w, Sm2Curve.PARAMS)));
        }
        // The point at infinity, which ECPublicKeySpec refuses, as another provider's key.
        ECPublicKey infinity = new ECPublicKey() {
            private static final long serialVersionUID = 1L;

            @Override
            public ECPoint getW() {
                return ECPoint.POINT_INFINITY;
            }

            @Override
            public java.security.spec.ECParameterSpec getParams() {
                return Sm2Curve.PARAMS;
            }

            @Override
            public String getAlgorithm() {
                return "EC";
            }

            @Override
            public String getFormat() {
                return null;
            }

            @Override
            public byte[] getEncoded() {
                return null;
            }
        };
        assertThrows(InvalidKeyException.class, () -> kf.translateKey(infinity));
        assertThrows(InvalidKeyException.class, () -> Signature.getInstance("SM3withSM2", ZENTHAL).initVerify(infinity));
        byte[] raw = kf.getKeySpec(pub, Sm2PublicKeyPoint.class).getEncoded();
        byte[] offCurve = raw.clone();
        offCurve[64] ^= 1;
        byte[] compressed = cat(new byte[] {(byte) (2 + (raw[64] & 1))}, Arrays.copyOfRange(raw, 1, 33));
        byte[] xBeyondP = raw.clone();
        Arrays.fill(xBeyondP, 1, 33, (byte) 0xFF);
        byte[] zeros = new byte[65];
        zeros[0] = 4;
        for (byte[] p : List.of(offCurve, compressed, xBeyondP, zeros, Arrays.copyOf(raw, 64), Arrays.copyOf(raw, 66),
                cat(new byte[] {6}, Arrays.copyOfRange(raw, 1, 65)), new byte[0])) {
            assertThrows(InvalidKeySpecException.class, () -> kf.generatePublic(new Sm2PublicKeyPoint(p)), HEX.formatHex(p));
            byte[] spki = cat(hex("3059301306072a8648ce3d020106082a811ccf5501822d034200"), p);
            spki[1] = (byte) (spki.length - 2);
            spki[24] = (byte) (p.length + 1);
            assertThrows(InvalidKeySpecException.class, () -> kf.generatePublic(new X509EncodedKeySpec(spki)));
        }
        byte[] good = pub.getEncoded();
        assertThrows(InvalidKeySpecException.class, () -> kf.generatePublic(new X509EncodedKeySpec(cat(good, new byte[1]))));
        assertThrows(InvalidKeySpecException.class,
                () -> kf.generatePublic(new X509EncodedKeySpec(Arrays.copyOf(good, good.length - 1))));

        // Keys on another curve, from the JDK's and Bouncy Castle's EC.
        KeyPairGenerator p256 = KeyPairGenerator.getInstance("EC");
        p256.initialize(new ECGenParameterSpec("secp256r1"));
        KeyPair other = p256.generateKeyPair();
        assertThrows(InvalidKeySpecException.class,
                () -> kf.generatePublic(new X509EncodedKeySpec(other.getPublic().getEncoded())));
        assertThrows(InvalidKeySpecException.class,
                () -> kf.generatePrivate(new PKCS8EncodedKeySpec(other.getPrivate().getEncoded())));
        assertThrows(InvalidKeyException.class, () -> kf.translateKey(other.getPublic()));
        assertThrows(InvalidKeyException.class,
                () -> Signature.getInstance("SM3withSM2", ZENTHAL).initVerify(other.getPublic()));
        assertThrows(InvalidKeyException.class,
                () -> Signature.getInstance("SM3withSM2", ZENTHAL).initSign(other.getPrivate()));
        assertThrows(InvalidKeySpecException.class, () -> kf.generatePublic(
                new ECPublicKeySpec(((ECPublicKey) other.getPublic()).getW(), ((ECPublicKey) other.getPublic()).getParams())));

        // Scalars outside [1, n - 2].
        for (BigInteger d : new BigInteger[] {BigInteger.ZERO, N.subtract(BigInteger.ONE), N, N.add(BigInteger.TEN),
                BigInteger.ONE.shiftLeft(256), BigInteger.ONE.negate()}) {
            assertThrows(InvalidKeySpecException.class,
                    () -> kf.generatePrivate(new ECPrivateKeySpec(d, Sm2Curve.PARAMS)), d.toString(16));
        }
        assertEquals(N.subtract(BigInteger.TWO),
                ((ECPrivateKey) kf.generatePrivate(new ECPrivateKeySpec(N.subtract(BigInteger.TWO), Sm2Curve.PARAMS))).getS());
        assertThrows(InvalidKeySpecException.class,
                () -> kf.generatePublic(new PKCS8EncodedKeySpec(ours().getPrivate().getEncoded())));
        assertThrows(InvalidKeySpecException.class,
                () -> kf.generatePrivate(new X509EncodedKeySpec(good)));
    }

    // ---------------------------------------------------------------- randomness, parameters, provider

    /**
     * Key generation takes its 64 bytes from the SecureRandom given, and
     * signing its entropy likewise; a random source that repeats itself
     * still gives different nonces for different messages, and signatures
     * that verify.
     */
    @Test
    void randomnessComesFromTheGivenSourceAndARepeatingOneIsHarmless() throws Exception {
        Random rnd = new Random(0x5A2_0006L);
        KeyPairGenerator g = KeyPairGenerator.getInstance("SM2", ZENTHAL);
        g.initialize(new ECGenParameterSpec("sm2p256v1"), new Fixed(7));
        KeyPair a = g.generateKeyPair();
        g.initialize(256, new Fixed(7));
        KeyPair b = g.generateKeyPair();
        assertEquals(a.getPublic(), b.getPublic());
        assertEquals(((ECPrivateKey) a.getPrivate()).getS(), ((ECPrivateKey) b.getPrivate()).getS());
        assertEquals(a.getPublic(), ourFactory().generatePublic(ourFactory().getKeySpec(a.getPrivate(), ECPublicKeySpec.class)));
        g.initialize(256, new Fixed(8));
        assertNotEquals(a.getPublic(), g.generateKeyPair().getPublic());
        for (String name : new String[] {"curveSM2", "SM2", "1.2.156.10197.1.301", "OID.1.2.156.10197.1.301"}) {
            g.initialize(new ECGenParameterSpec(name));
        }
        g.initialize(Sm2Curve.PARAMS);
        assertThrows(InvalidAlgorithmParameterException.class, () -> g.initialize(new ECGenParameterSpec("secp256r1")));
        assertThrows(java.security.InvalidParameterException.class, () -> g.initialize(384));

        byte[] msg = NativeTestSupport.random(rnd, 100);
        Signature s = Signature.getInstance("SM3withSM2", ZENTHAL);
        s.initSign(a.getPrivate(), new Fixed(1));
        s.update(msg);
        byte[] first = s.sign();
        s.initSign(a.getPrivate(), new Fixed(1));
        s.update(msg);
        assertArrayEquals(first, s.sign(), "the same key, message and entropy sign alike");
        s.initSign(a.getPrivate(), new Fixed(2));
        s.update(msg);
        assertFalse(Arrays.equals(first, s.sign()), "other entropy, another nonce");
        byte[] other = msg.clone();
        other[0] ^= 1;
        s.initSign(a.getPrivate(), new Fixed(1));
        s.update(other);
        byte[] second = s.sign();
        assertFalse(Arrays.equals(Arrays.copyOf(p1363(first), 32), Arrays.copyOf(p1363(second), 32)),
                "repeated entropy, another message: another r");
        assertTrue(verify(BC, "SM3withSM2", a.getPublic(), null, other, second, rnd));
        // Without a SecureRandom the default one is used: signatures differ.
        s.initSign(a.getPrivate());
        s.update(msg);
        assertFalse(Arrays.equals(first, s.sign()));
    }

    /** The ID and the signer's public key through Sm2SignerId, given before or after init. */
    @Test
    void parameterSpecCarriesIdAndPublicKey() throws Exception {
        Random rnd = new Random(0x5A2_0007L);
        KeyPair pair = bc(rnd);
        byte[] id = "alice@example.com".getBytes(StandardCharsets.UTF_8);
        byte[] msg = NativeTestSupport.random(rnd, 50);
        Signature s = Signature.getInstance("SM2", ZENTHAL);
        s.initSign(pair.getPrivate());
        s.update(msg);  // discarded by setParameter
        s.setParameter(new Sm2SignerId(id, (ECPublicKey) pair.getPublic()));
        s.update(msg);
        byte[] sig = s.sign();
        assertTrue(verify(BC, "SM3withSM2", pair.getPublic(), id, msg, sig, rnd));
        s.update(msg);
        assertTrue(verify(BC, "SM3withSM2", pair.getPublic(), id, msg, s.sign(), rnd), "the parameters hold for the next message");
        s.setParameter(Sm2SignerId.withPublicKey((ECPublicKey) pair.getPublic()));
        s.update(msg);
        assertTrue(verify(BC, "SM3withSM2", pair.getPublic(), null, msg, s.sign(), rnd));

        byte[] longest = new byte[Sm2SignerId.MAX_ID_LENGTH];
        rnd.nextBytes(longest);
        assertTrue(verify(BC, "SM3withSM2", pair.getPublic(), longest, msg,
                sign(ZENTHAL, "SM3withSM2", pair.getPrivate(), longest, msg, rnd), rnd));
        assertThrows(IllegalArgumentException.class, () -> new Sm2SignerId(new byte[Sm2SignerId.MAX_ID_LENGTH + 1]));
        assertThrows(InvalidAlgorithmParameterException.class, () -> s.setParameter(new ECGenParameterSpec("sm2p256v1")));
        KeyPairGenerator p256 = KeyPairGenerator.getInstance("EC");
        p256.initialize(256);
        assertThrows(InvalidAlgorithmParameterException.class,
                () -> s.setParameter(new Sm2SignerId(id, (ECPublicKey) p256.generateKeyPair().getPublic())));
    }

    /** A destroyed key is wiped and refused; the names and aliases resolve; no EC service is registered. */
    @Test
    void destroyedKeysAndRegistration() throws Exception {
        KeyPair pair = ours();
        PrivateKey priv = pair.getPrivate();
        Signature s = Signature.getInstance("SM3withSM2", ZENTHAL);
        s.initSign(priv);
        priv.destroy();
        assertTrue(priv.isDestroyed());
        assertThrows(IllegalStateException.class, ((ECPrivateKey) priv)::getS);
        s.update(new byte[10]);
        assertThrows(SignatureException.class, s::sign, "signing with a key destroyed after init");
        assertThrows(InvalidKeyException.class, () -> s.initSign(priv));

        for (String alias : new String[] {"SM3withSM2", "SM2", "1.2.156.10197.1.501", "OID.1.2.156.10197.1.501",
                "SM3withSM2inP1363Format"}) {
            assertEquals(ZENTHAL, Signature.getInstance(alias, ZENTHAL).getProvider(), alias);
        }
        for (String type : new String[] {"KeyPairGenerator", "KeyFactory", "Signature", "AlgorithmParameters"}) {
            assertNull(ZENTHAL.getService(type, "EC"), type + " EC");
            assertNull(ZENTHAL.getService(type, "ECDSA"), type + " ECDSA");
        }
        for (Key k : new Key[] {pair.getPublic(), ours().getPrivate()}) {
            assertEquals("SM2", k.getAlgorithm());
            assertEquals(ourFactory().translateKey(k), k);
        }
        KeySpec unknown = new KeySpec() {};
        assertThrows(InvalidKeySpecException.class, () -> ourFactory().generatePublic(unknown));
    }

    // ---------------------------------------------------------------- helpers

    /** A SecureRandom whose output is a fixed function of its seed: the same bytes on every call. */
    private static final class Fixed extends SecureRandom {
        private static final long serialVersionUID = 1L;
        private final int seed;

        Fixed(int seed) {
            this.seed = seed;
        }

        @Override
        public void nextBytes(byte[] bytes) {
            new Random(seed).nextBytes(bytes);
        }
    }

    private static byte[] hex(String s) {
        return HEX.parseHex(s.toLowerCase(java.util.Locale.ROOT));
    }

    private static byte[] cat(byte[]... parts) {
        byte[] out = new byte[0];
        for (byte[] p : parts) out = NativeTestSupport.concat(out, p);
        return out;
    }

    private static byte[] seqHead(int len) {
        return len < 128 ? new byte[] {0x30, (byte) len} : len < 256 ? new byte[] {0x30, (byte) 0x81, (byte) len}
                : new byte[] {0x30, (byte) 0x82, (byte) (len >> 8), (byte) len};
    }

    private static byte[] seq(byte[]... parts) {
        byte[] body = cat(parts);
        return cat(seqHead(body.length), body);
    }

    private static byte[] octets(byte[] b) {
        return cat(new byte[] {0x04, (byte) b.length}, b);
    }

    private static byte[] pkcs8Body(byte[] version, byte[] alg, byte[] ecPrivateKey) {
        return cat(version, alg, octets(ecPrivateKey));
    }

    private static byte[] pkcs8(byte[] alg, byte[] ecPrivateKey) {
        return seq(pkcs8Body(hex("020100"), alg, ecPrivateKey));
    }

    /** A minimal DER INTEGER of a non-negative value. */
    private static byte[] integer(BigInteger v) {
        byte[] c = v.toByteArray();
        return cat(new byte[] {0x02, (byte) c.length}, c);
    }

    private static byte[] derOf(BigInteger r, BigInteger s) {
        return seq(integer(r), integer(s));
    }

    private static byte[] der(byte[] rs) {
        return derOf(new BigInteger(1, Arrays.copyOf(rs, 32)), new BigInteger(1, Arrays.copyOfRange(rs, 32, 64)));
    }

    /** r with a needless leading zero byte. */
    private static byte[] nonMinimal(BigInteger r, BigInteger s) {
        byte[] c = r.toByteArray();
        if (c[0] == 0) c = Arrays.copyOfRange(c, 1, c.length);
        c = cat(new byte[] {0, 0}, c);
        return seq(cat(new byte[] {0x02, (byte) c.length}, c), integer(s));
    }

    /** The INTEGER with its sign bit set: a negative number. */
    private static byte[] negate(byte[] integer) {
        byte[] c = Arrays.copyOfRange(integer, 2, integer.length);
        if (c[0] == 0) c = Arrays.copyOfRange(c, 1, c.length);
        c[0] |= (byte) 0x80;
        return cat(new byte[] {0x02, (byte) c.length}, c);
    }

    /** r || s of a DER signature, read with Bouncy Castle's ASN.1 rather than ours. */
    private static byte[] p1363(byte[] der) {
        org.bouncycastle.asn1.ASN1Sequence seq = org.bouncycastle.asn1.ASN1Sequence.getInstance(der);
        BigInteger r = org.bouncycastle.asn1.ASN1Integer.getInstance(seq.getObjectAt(0)).getValue();
        BigInteger s = org.bouncycastle.asn1.ASN1Integer.getInstance(seq.getObjectAt(1)).getValue();
        return cat(Sm2Curve.scalar(r), Sm2Curve.scalar(s));
    }
}
