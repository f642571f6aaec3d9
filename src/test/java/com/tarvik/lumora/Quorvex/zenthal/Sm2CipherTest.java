package com.tarvik.lumora.Quorvex.zenthal;

import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.random;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.math.BigInteger;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.KeyFactory;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.PrivateKey;
import java.security.Provider;
import java.security.PublicKey;
import java.security.SecureRandom;
import java.security.interfaces.ECPrivateKey;
import java.security.interfaces.ECPublicKey;
import java.security.spec.ECParameterSpec;
import java.security.spec.ECPoint;
import java.security.spec.ECPrivateKeySpec;
import java.security.spec.PKCS8EncodedKeySpec;
import java.security.spec.X509EncodedKeySpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;

import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.KeyAgreement;
import javax.crypto.SecretKey;
import javax.crypto.spec.SecretKeySpec;

import org.bouncycastle.asn1.ASN1EncodableVector;
import org.bouncycastle.asn1.ASN1Integer;
import org.bouncycastle.asn1.ASN1OctetString;
import org.bouncycastle.asn1.ASN1Sequence;
import org.bouncycastle.asn1.DEROctetString;
import org.bouncycastle.asn1.DERSequence;
import org.bouncycastle.asn1.gm.GMNamedCurves;
import org.bouncycastle.asn1.x9.X9ECParameters;
import org.bouncycastle.crypto.agreement.SM2KeyExchange;
import org.bouncycastle.crypto.engines.SM2Engine;
import org.bouncycastle.crypto.params.ECDomainParameters;
import org.bouncycastle.crypto.params.ECPrivateKeyParameters;
import org.bouncycastle.crypto.params.ECPublicKeyParameters;
import org.bouncycastle.crypto.params.ParametersWithID;
import org.bouncycastle.crypto.params.ParametersWithRandom;
import org.bouncycastle.crypto.params.SM2KeyExchangePrivateParameters;
import org.bouncycastle.crypto.params.SM2KeyExchangePublicParameters;
import org.bouncycastle.jce.provider.BouncyCastleProvider;
import org.junit.jupiter.api.Test;

/**
 * Cipher "SM2" in its three forms and KeyAgreement "SM2" against Bouncy
 * Castle: its Cipher "SM2" (C1 || C2 || C3) and its SM2Engine in
 * C1 || C3 || C2 each way, our DER read by its ASN.1 parser and its
 * structure read by us, its SM2KeyExchange in both roles with and without
 * confirmation; then every malformed or tampered ciphertext and every bad
 * exchange ending in an exception, with nothing released.
 */
class Sm2CipherTest {
    private static final Provider ZENTHAL = new ZenthalProvider();
    private static final Provider BC = new BouncyCastleProvider();
    private static final X9ECParameters CURVE = GMNamedCurves.getByName("sm2p256v1");
    private static final ECDomainParameters DOMAIN = new ECDomainParameters(CURVE.getCurve(), CURVE.getG(),
            CURVE.getN(), CURVE.getH());
    private static final int[] LENGTHS = {1, 2, 31, 32, 33, 64, 127, 128, 1000, 70_000};

    private static KeyPair ours() throws Exception {
        return KeyPairGenerator.getInstance("SM2", ZENTHAL).generateKeyPair();
    }

    private static PublicKey bcPublic(PublicKey k) throws Exception {
        return KeyFactory.getInstance("EC", BC).generatePublic(new X509EncodedKeySpec(k.getEncoded()));
    }

    private static PrivateKey bcPrivate(PrivateKey k) throws Exception {
        return KeyFactory.getInstance("EC", BC).generatePrivate(new PKCS8EncodedKeySpec(k.getEncoded()));
    }

    private static ECPublicKeyParameters bcParams(PublicKey k) {
        ECPoint w = ((ECPublicKey) k).getW();
        return new ECPublicKeyParameters(CURVE.getCurve().createPoint(w.getAffineX(), w.getAffineY()), DOMAIN);
    }

    private static ECPrivateKeyParameters bcParams(PrivateKey k) {
        return new ECPrivateKeyParameters(((ECPrivateKey) k).getS(), DOMAIN);
    }

    private static byte[] ours(String transformation, int mode, java.security.Key key, byte[] in, Random rnd)
            throws Exception {
        Cipher c = Cipher.getInstance(transformation, ZENTHAL);
        c.init(mode, key);
        // update only gathers: it never returns output, in any split.
        int cut = in.length == 0 ? 0 : rnd.nextInt(in.length + 1);
        byte[] head = c.update(in, 0, cut);
        assertTrue(head == null || head.length == 0);
        int size = c.getOutputSize(in.length - cut);
        byte[] out = c.doFinal(in, cut, in.length - cut);
        assertTrue(out.length <= size, "getOutputSize " + size + " below " + out.length);
        return out;
    }

    private static byte[] engine(boolean encrypt, SM2Engine.Mode mode, org.bouncycastle.crypto.CipherParameters key,
            byte[] in) throws Exception {
        SM2Engine e = new SM2Engine(mode);
        e.init(encrypt, encrypt ? new ParametersWithRandom(key, new SecureRandom()) : key);
        return e.processBlock(in, 0, in.length);
    }

    // ---------------------------------------------------------------- against Bouncy Castle

    /**
     * Random keys and messages of 1 byte to 70,000: Bouncy Castle's Cipher
     * "SM2" (C1 || C2 || C3) and our "SM2/C1C2C3/NoPadding" each decrypting
     * the other's, and its SM2Engine in C1C3C2 mode with our
     * "SM2/C1C3C2/NoPadding" and our "SM2", which takes the raw form too.
     */
    @Test
    void encryptionAgreesWithBouncyCastleBothWays() throws Exception {
        Random rnd = new Random(0x5A2C_0001L);
        for (int i = 0; i < LENGTHS.length * 2; i++) {
            KeyPair pair = ours();
            byte[] msg = random(rnd, LENGTHS[i % LENGTHS.length]);
            String what = "message of " + msg.length + " bytes";

            Cipher bc = Cipher.getInstance("SM2", BC);
            bc.init(Cipher.ENCRYPT_MODE, bcPublic(pair.getPublic()));
            byte[] theirs = bc.doFinal(msg);
            assertArrayEquals(msg, ours("SM2/C1C2C3/NoPadding", Cipher.DECRYPT_MODE, pair.getPrivate(), theirs, rnd),
                    what);
            byte[] mine = ours("SM2/C1C2C3/NoPadding", Cipher.ENCRYPT_MODE, pair.getPublic(), msg, rnd);
            assertEquals(msg.length + 97, mine.length);
            bc.init(Cipher.DECRYPT_MODE, bcPrivate(pair.getPrivate()));
            assertArrayEquals(msg, bc.doFinal(mine), what);

            // Here our Cipher takes Bouncy Castle's key objects every other time.
            PrivateKey priv = i % 2 == 0 ? pair.getPrivate() : bcPrivate(pair.getPrivate());
            PublicKey pub = i % 2 == 0 ? pair.getPublic() : bcPublic(pair.getPublic());
            byte[] raw = engine(true, SM2Engine.Mode.C1C3C2, bcParams(pair.getPublic()), msg);
            assertArrayEquals(msg, ours("SM2/C1C3C2/NoPadding", Cipher.DECRYPT_MODE, priv, raw, rnd), what);
            assertArrayEquals(msg, ours("SM2", Cipher.DECRYPT_MODE, priv, raw, rnd), what);
            byte[] rawMine = ours("SM2/C1C3C2/NoPadding", Cipher.ENCRYPT_MODE, pub, msg, rnd);
            assertArrayEquals(msg, engine(false, SM2Engine.Mode.C1C3C2, bcParams(pair.getPrivate()), rawMine), what);

            // The DER form: ours read by Bouncy Castle's ASN.1 parser into the
            // raw form its engine decrypts, and its ASN.1 writer's read by us.
            byte[] der = ours("SM2", Cipher.ENCRYPT_MODE, pair.getPublic(), msg, rnd);
            assertArrayEquals(msg, engine(false, SM2Engine.Mode.C1C3C2, bcParams(pair.getPrivate()), rawOf(der)), what);
            assertArrayEquals(msg, ours("SM2", Cipher.DECRYPT_MODE, pair.getPrivate(), derOf(raw), rnd), what);
        }
    }

    /** C1 || C3 || C2 of a DER ciphertext, parsed by Bouncy Castle; it must re-encode to the same bytes. */
    private static byte[] rawOf(byte[] der) throws Exception {
        ASN1Sequence s = ASN1Sequence.getInstance(der);
        assertEquals(4, s.size());
        assertArrayEquals(der, s.getEncoded("DER"), "our DER is not DER");
        byte[] c1 = CURVE.getCurve().createPoint(ASN1Integer.getInstance(s.getObjectAt(0)).getPositiveValue(),
                ASN1Integer.getInstance(s.getObjectAt(1)).getPositiveValue()).getEncoded(false);
        byte[] c3 = ASN1OctetString.getInstance(s.getObjectAt(2)).getOctets();
        byte[] c2 = ASN1OctetString.getInstance(s.getObjectAt(3)).getOctets();
        return NativeTestSupport.concat(NativeTestSupport.concat(c1, c3), c2);
    }

    private static byte[] derOf(byte[] raw) throws Exception {
        ASN1EncodableVector v = new ASN1EncodableVector();
        v.add(new ASN1Integer(new BigInteger(1, Arrays.copyOfRange(raw, 1, 33))));
        v.add(new ASN1Integer(new BigInteger(1, Arrays.copyOfRange(raw, 33, 65))));
        v.add(new DEROctetString(Arrays.copyOfRange(raw, 65, 97)));
        v.add(new DEROctetString(Arrays.copyOfRange(raw, 97, raw.length)));
        return new DERSequence(v).getEncoded("DER");
    }

    /** A fresh k each time, from the SecureRandom given to init; wrap and unwrap of secret and SM2 keys. */
    @Test
    void eachEncryptionIsFreshAndWrapsKeys() throws Exception {
        KeyPair pair = ours();
        byte[] msg = "the same message".getBytes(java.nio.charset.StandardCharsets.US_ASCII);
        Cipher c = Cipher.getInstance("SM2/C1C3C2/NoPadding", ZENTHAL);
        // A generator that repeats itself: the engine's k still depends on
        // the message, so two messages never share C1.
        SecureRandom stuck = new SecureRandom() {
            private static final long serialVersionUID = 1L;

            @Override
            public void nextBytes(byte[] b) {
                Arrays.fill(b, (byte) 7);
            }
        };
        c.init(Cipher.ENCRYPT_MODE, pair.getPublic(), stuck);
        byte[] a = c.doFinal(msg);
        byte[] b = c.doFinal(Arrays.copyOf(msg, msg.length + 1));
        assertFalse(Arrays.equals(Arrays.copyOf(a, 65), Arrays.copyOf(b, 65)), "C1 repeated");
        c.init(Cipher.ENCRYPT_MODE, pair.getPublic());
        assertFalse(Arrays.equals(c.doFinal(msg), c.doFinal(msg)), "two encryptions gave the same bytes");

        // A short output: ShortBufferException, nothing written, the input
        // kept for the call made again with room.
        for (String t : new String[] {"SM2", "SM2/C1C3C2/NoPadding", "SM2/C1C2C3/NoPadding"}) {
            Cipher e = Cipher.getInstance(t, ZENTHAL);
            e.init(Cipher.ENCRYPT_MODE, pair.getPublic());
            e.update(msg);
            byte[] small = new byte[msg.length + 96];
            assertThrows(javax.crypto.ShortBufferException.class, () -> e.doFinal(small, 0));
            assertArrayEquals(new byte[small.length], small, t);
            byte[] ct = new byte[e.getOutputSize(0)];
            int n = e.doFinal(ct, 0);
            Cipher d = Cipher.getInstance(t, ZENTHAL);
            d.init(Cipher.DECRYPT_MODE, pair.getPrivate());
            d.update(ct, 0, n);
            byte[] tiny = new byte[msg.length - 1];
            assertThrows(javax.crypto.ShortBufferException.class, () -> d.doFinal(tiny, 0));
            assertArrayEquals(new byte[tiny.length], tiny, t);
            byte[] back = new byte[d.getOutputSize(0)];
            assertEquals(msg.length, d.doFinal(back, 0), t);
            assertArrayEquals(msg, Arrays.copyOf(back, msg.length), t);
        }

        for (String t : new String[] {"SM2", "SM2/C1C3C2/NoPadding", "SM2/C1C2C3/NoPadding"}) {
            Cipher w = Cipher.getInstance(t, ZENTHAL);
            w.init(Cipher.WRAP_MODE, pair.getPublic());
            SecretKey sm4 = new SecretKeySpec(random(new Random(1), 16), "SM4");
            byte[] wrapped = w.wrap(sm4);
            byte[] wrappedKey = w.wrap(pair.getPrivate());
            w.init(Cipher.UNWRAP_MODE, pair.getPrivate());
            assertEquals(sm4, w.unwrap(wrapped, "SM4", Cipher.SECRET_KEY), t);
            assertEquals(pair.getPrivate(), w.unwrap(wrappedKey, "SM2", Cipher.PRIVATE_KEY), t);
        }
    }

    // ---------------------------------------------------------------- bad input

    /**
     * An empty message is refused (its keystream would be empty); every
     * ciphertext that is tampered with, truncated, extended, malformed or
     * has C1 off the curve or at infinity is a BadPaddingException, and the
     * output array given to doFinal is left as it was.
     */
    @Test
    void badCiphertextsReleaseNothing() throws Exception {
        Random rnd = new Random(0x5A2C_0002L);
        KeyPair pair = ours();
        for (String t : new String[] {"SM2", "SM2/C1C3C2/NoPadding", "SM2/C1C2C3/NoPadding"}) {
            Cipher c = Cipher.getInstance(t, ZENTHAL);
            c.init(Cipher.ENCRYPT_MODE, pair.getPublic());
            assertThrows(IllegalBlockSizeException.class, () -> c.doFinal(new byte[0]), t);
            assertThrows(IllegalBlockSizeException.class, c::doFinal, t);
        }

        byte[] msg = random(rnd, 40);
        byte[] raw = ours("SM2/C1C3C2/NoPadding", Cipher.ENCRYPT_MODE, pair.getPublic(), msg, rnd);
        List<byte[]> bad = new ArrayList<>();
        List<String> why = new ArrayList<>();
        for (int i = 0; i < 32; i++) {
            byte[] b = raw.clone();
            b[65 + i] ^= (byte) (1 << rnd.nextInt(8));
            bad.add(b);
            why.add("C3 byte " + i + " flipped");
        }
        for (int i : new int[] {97, 100, 136}) {
            byte[] b = raw.clone();
            b[i] ^= 1;
            bad.add(b);
            why.add("C2 byte " + i + " flipped");
        }
        byte[] off = raw.clone();
        off[64] ^= 1;
        bad.add(off);
        why.add("C1 off the curve");
        byte[] infinity = raw.clone();
        Arrays.fill(infinity, 1, 65, (byte) 0);
        bad.add(infinity);
        why.add("C1 at infinity");
        byte[] compressed = raw.clone();
        compressed[0] = 2;
        bad.add(compressed);
        why.add("C1 not uncompressed");
        byte[] beyond = raw.clone();
        System.arraycopy(fixed32(CURVE.getCurve().getField().getCharacteristic().add(BigInteger.ONE)), 0, beyond, 1, 32);
        bad.add(beyond);
        why.add("x of C1 beyond p");
        for (int n : new int[] {0, 1, 65, 96, 97, raw.length - 1}) {
            bad.add(Arrays.copyOf(raw, n));
            why.add("truncated to " + n);
        }
        bad.add(Arrays.copyOf(raw, raw.length + 1));
        why.add("one byte added");
        for (int i = 0; i < bad.size(); i++) {
            expectBad("SM2/C1C3C2/NoPadding", pair.getPrivate(), bad.get(i), why.get(i));
            if (bad.get(i).length > 0 && bad.get(i)[0] == 4) expectBad("SM2", pair.getPrivate(), bad.get(i), why.get(i));
        }
        // The older order: C3 at the end.
        byte[] old = ours("SM2/C1C2C3/NoPadding", Cipher.ENCRYPT_MODE, pair.getPublic(), msg, rnd);
        for (int i = old.length - 32; i < old.length; i++) {
            byte[] b = old.clone();
            b[i] ^= 0x80;
            expectBad("SM2/C1C2C3/NoPadding", pair.getPrivate(), b, "C3 byte flipped at " + i);
        }
        expectBad("SM2/C1C2C3/NoPadding", pair.getPrivate(), Arrays.copyOf(old, 97), "97 bytes");

        // DER: trailing bytes, lengths that lie or are not minimal, a
        // coordinate too long or negative, C3 of the wrong size, a wrong
        // first byte, each refused before decryption.
        byte[] der = derOf(raw);
        assertArrayEquals(msg, ours("SM2", Cipher.DECRYPT_MODE, pair.getPrivate(), der, rnd));
        List<byte[]> badDer = new ArrayList<>();
        badDer.add(Arrays.copyOf(der, der.length + 1));
        badDer.add(Arrays.copyOf(der, der.length - 1));
        byte[] longer = der.clone();
        longer[1]++;
        badDer.add(longer);
        byte[] shorter = der.clone();
        shorter[1]--;
        badDer.add(shorter);
        byte[] nonMinimal = new byte[der.length + 1];
        nonMinimal[0] = 0x30;
        nonMinimal[1] = (byte) 0x81;
        System.arraycopy(der, 1, nonMinimal, 2, der.length - 1);
        badDer.add(nonMinimal);
        badDer.add(derOfParts(new BigInteger(1, Arrays.copyOfRange(raw, 1, 33)).add(BigInteger.ONE.shiftLeft(256)),
                Arrays.copyOfRange(raw, 33, 65), Arrays.copyOfRange(raw, 65, 97), Arrays.copyOfRange(raw, 97, raw.length)));
        badDer.add(derOfParts(new BigInteger(1, Arrays.copyOfRange(raw, 1, 33)).negate(), Arrays.copyOfRange(raw, 33, 65),
                Arrays.copyOfRange(raw, 65, 97), Arrays.copyOfRange(raw, 97, raw.length)));
        badDer.add(derOfParts(new BigInteger(1, Arrays.copyOfRange(raw, 1, 33)), Arrays.copyOfRange(raw, 33, 65),
                Arrays.copyOfRange(raw, 65, 96), Arrays.copyOfRange(raw, 96, raw.length)));
        byte[] firstByte = der.clone();
        firstByte[0] = 0x31;
        badDer.add(firstByte);
        for (int i = 0; i < badDer.size(); i++) expectBad("SM2", pair.getPrivate(), badDer.get(i), "bad DER " + i);

        // The key decrypts what is well formed afterwards: no state left behind.
        assertArrayEquals(msg, ours("SM2", Cipher.DECRYPT_MODE, pair.getPrivate(), der, rnd));
        // Another key's ciphertext.
        assertThrows(BadPaddingException.class, () -> {
            Cipher c = Cipher.getInstance("SM2", ZENTHAL);
            c.init(Cipher.DECRYPT_MODE, ours().getPrivate());
            c.doFinal(der);
        });
    }

    private static byte[] derOfParts(BigInteger x, byte[] y, byte[] c3, byte[] c2) throws Exception {
        ASN1EncodableVector v = new ASN1EncodableVector();
        v.add(new ASN1Integer(x));
        v.add(new ASN1Integer(new BigInteger(1, y)));
        v.add(new DEROctetString(c3));
        v.add(new DEROctetString(c2));
        return new DERSequence(v).getEncoded("DER");
    }

    private static void expectBad(String transformation, PrivateKey key, byte[] ct, String why) throws Exception {
        Cipher c = Cipher.getInstance(transformation, ZENTHAL);
        c.init(Cipher.DECRYPT_MODE, key);
        byte[] out = NativeTestSupport.filled(ct.length + 16);
        byte[] before = out.clone();
        Exception e = assertThrows(Exception.class, () -> c.doFinal(ct, 0, ct.length, out, 8), why);
        assertTrue(e instanceof BadPaddingException, why + ": " + e);
        assertArrayEquals(before, out, why + ": output written");
        assertThrows(BadPaddingException.class, () -> c.doFinal(ct), why);
    }

    private static byte[] fixed32(BigInteger v) {
        byte[] b = v.toByteArray();
        byte[] out = new byte[32];
        int n = Math.min(b.length, 32);
        System.arraycopy(b, b.length - n, out, 32 - n, n);
        return out;
    }

    // ---------------------------------------------------------------- key exchange

    private static Sm2KeyExchangeParameters spec(Sm2KeyExchangeParameters.Role role, byte[] id, KeyPair own,
            byte[] peerId, PublicKey peer, int len) {
        return new Sm2KeyExchangeParameters(role, id, own.getPrivate(), own.getPublic(), peerId, peer, len);
    }

    /**
     * Random static and ephemeral keys, IDs and key lengths: we take one role
     * and Bouncy Castle's SM2KeyExchange the other, with and without
     * confirmation; both derive the same key, and each side's confirmation
     * value is the one the other expects.
     */
    @Test
    void keyExchangeAgreesWithBouncyCastleInBothRoles() throws Exception {
        Random rnd = new Random(0x5A2C_0003L);
        for (int i = 0; i < 16; i++) {
            boolean weInitiate = i % 2 == 0;
            boolean confirm = i % 4 < 2;
            KeyPair ourStatic = ours(), ourEph = ours(), theirStatic = ours(), theirEph = ours();
            byte[] ourId = random(rnd, rnd.nextInt(40)), theirId = random(rnd, 1 + rnd.nextInt(40));
            int len = 1 + rnd.nextInt(80);
            String what = "case " + i + (weInitiate ? ": we initiate" : ": we respond") + ", " + len + " bytes";

            Sm2KeyExchangeParameters s = spec(weInitiate ? Sm2KeyExchangeParameters.Role.INITIATOR
                    : Sm2KeyExchangeParameters.Role.RESPONDER, ourId, ourStatic, theirId, theirStatic.getPublic(), len);
            KeyAgreement ka = KeyAgreement.getInstance("SM2", ZENTHAL);
            ka.init(ourEph.getPrivate(), s);
            assertEquals(null, ka.doPhase(theirEph.getPublic(), true));
            byte[] key = ka.generateSecret();

            SM2KeyExchange bc = new SM2KeyExchange();
            bc.init(new ParametersWithID(new SM2KeyExchangePrivateParameters(!weInitiate,
                    bcParams(theirStatic.getPrivate()), bcParams(theirEph.getPrivate())), theirId));
            ParametersWithID peer = new ParametersWithID(new SM2KeyExchangePublicParameters(
                    bcParams(ourStatic.getPublic()), bcParams(ourEph.getPublic())), ourId);
            if (!confirm) {
                assertArrayEquals(bc.calculateKey(len * 8, peer), key, what);
                continue;
            }
            if (weInitiate) {
                // Bouncy Castle responds: key, S_B, and the S_A it expects.
                byte[][] r = bc.calculateKeyWithConfirmation(len * 8, null, peer);
                assertArrayEquals(r[0], key, what);
                s.checkPeerConfirmation(r[1]);
                assertArrayEquals(r[2], s.getConfirmation(), what);
            } else {
                // Bouncy Castle initiates: it checks our S_B and returns S_A.
                byte[][] r = bc.calculateKeyWithConfirmation(len * 8, s.getConfirmation(), peer);
                assertArrayEquals(r[0], key, what);
                s.checkPeerConfirmation(r[1]);
            }
            byte[] wrong = s.getConfirmation();
            assertThrows(InvalidKeyException.class, () -> s.checkPeerConfirmation(wrong), what);
        }
    }

    /**
     * The forms of generateSecret, and two parties that both claim to
     * initiate: different keys, which the confirmation values reveal.
     */
    @Test
    void keyExchangeBetweenTwoOfOursAndItsMisuse() throws Exception {
        KeyPair a = ours(), b = ours(), ra = ours(), rb = ours();
        byte[] ida = "alice".getBytes(java.nio.charset.StandardCharsets.US_ASCII);
        byte[] idb = Sm2SignerId.DEFAULT_ID.getBytes(java.nio.charset.StandardCharsets.US_ASCII);
        Sm2KeyExchangeParameters sa = spec(Sm2KeyExchangeParameters.Role.INITIATOR, ida, a, idb, b.getPublic(), 16);
        Sm2KeyExchangeParameters sb = spec(Sm2KeyExchangeParameters.Role.RESPONDER, idb, b, ida, a.getPublic(), 16);
        KeyAgreement ka = KeyAgreement.getInstance("SM2", ZENTHAL), kb = KeyAgreement.getInstance("SM2", ZENTHAL);
        ka.init(ra.getPrivate(), sa);
        kb.init(rb.getPrivate(), sb);
        ka.doPhase(rb.getPublic(), true);
        kb.doPhase(ra.getPublic(), true);
        SecretKey keyA = ka.generateSecret("SM4");
        byte[] keyB = new byte[20];
        assertEquals(16, kb.generateSecret(keyB, 4));
        assertArrayEquals(keyA.getEncoded(), Arrays.copyOfRange(keyB, 4, 20));
        sa.checkPeerConfirmation(sb.getConfirmation());
        sb.checkPeerConfirmation(sa.getConfirmation());
        assertNotEquals(Arrays.toString(sa.getConfirmation()), Arrays.toString(sb.getConfirmation()));

        // Both as initiator: the keys differ, and so do the values each expects.
        Sm2KeyExchangeParameters sb2 = spec(Sm2KeyExchangeParameters.Role.INITIATOR, idb, b, ida, a.getPublic(), 16);
        kb.init(rb.getPrivate(), sb2);
        kb.doPhase(ra.getPublic(), true);
        ka.doPhase(rb.getPublic(), true);
        assertFalse(Arrays.equals(ka.generateSecret(), kb.generateSecret()));
        assertThrows(InvalidKeyException.class, () -> sa.checkPeerConfirmation(sb2.getConfirmation()));

        // No role, no spec, a second phase, generateSecret before doPhase.
        assertThrows(NullPointerException.class, () -> spec(null, ida, a, idb, b.getPublic(), 16));
        assertThrows(InvalidKeyException.class, () -> KeyAgreement.getInstance("SM2", ZENTHAL).init(ra.getPrivate()));
        assertThrows(InvalidAlgorithmParameterException.class, () -> KeyAgreement.getInstance("SM2", ZENTHAL)
                .init(ra.getPrivate(), new Sm2SignerId(ida)));
        KeyAgreement k = KeyAgreement.getInstance("SM2", ZENTHAL);
        k.init(ra.getPrivate(), sa);
        assertThrows(IllegalStateException.class, k::generateSecret);
        assertThrows(IllegalStateException.class, () -> k.doPhase(rb.getPublic(), false));
    }

    /**
     * A peer's ephemeral or static point off the curve is refused; a peer
     * static key chosen so that the shared point is at infinity is an
     * InvalidKeyException from doPhase, not a key.
     */
    @Test
    void keyExchangeRefusesBadPeerPoints() throws Exception {
        KeyPair a = ours(), ra = ours(), rb = ours();
        byte[] id = new byte[0];
        ECPublicKey rbKey = (ECPublicKey) rb.getPublic();
        ECPoint w = rbKey.getW();
        PublicKey offCurve = fakeKey(new ECPoint(w.getAffineX(), w.getAffineY().add(BigInteger.ONE)));
        Sm2KeyExchangeParameters s = spec(Sm2KeyExchangeParameters.Role.INITIATOR, id, a, id, rb.getPublic(), 16);
        KeyAgreement k = KeyAgreement.getInstance("SM2", ZENTHAL);
        k.init(ra.getPrivate(), s);
        assertThrows(InvalidKeyException.class, () -> k.doPhase(offCurve, true));
        assertThrows(InvalidAlgorithmParameterException.class, () -> k.init(ra.getPrivate(),
                spec(Sm2KeyExchangeParameters.Role.INITIATOR, id, a, id, offCurve, 16)));

        // The initiator computes V = t·(P_B + x̄2·R_B): with P_B = -x̄2·R_B
        // that is infinity whatever t is.
        BigInteger n = CURVE.getN();
        BigInteger x2 = w.getAffineX();
        BigInteger xBar = BigInteger.ONE.shiftLeft(127).add(x2.mod(BigInteger.ONE.shiftLeft(127)));
        BigInteger rbS = ((ECPrivateKey) rb.getPrivate()).getS();
        BigInteger db = xBar.multiply(rbS).negate().mod(n);
        KeyFactory kf = KeyFactory.getInstance("SM2", ZENTHAL);
        ECParameterSpec params = rbKey.getParams();
        PrivateKey dbKey = kf.generatePrivate(new ECPrivateKeySpec(db, params));
        PublicKey pb = kf.generatePublic(kf.getKeySpec(dbKey, X509EncodedKeySpec.class));
        Sm2KeyExchangeParameters toInfinity = spec(Sm2KeyExchangeParameters.Role.INITIATOR, id, a, id, pb, 16);
        k.init(ra.getPrivate(), toInfinity);
        assertThrows(InvalidKeyException.class, () -> k.doPhase(rb.getPublic(), true));
        assertThrows(IllegalStateException.class, k::generateSecret);
        // And straight through the bridge, which reports it by its code.
        assertEquals(ZenthalStatus.SM2_ERR_EXCHANGE.code(), exchangeStatus(a, ra, pb, rb.getPublic()));
        assertEquals(ZenthalStatus.SM2_ERR_PUBLIC_KEY.code(), exchangeStatus(a, ra, pb, offCurve));
    }

    private static int exchangeStatus(KeyPair a, KeyPair ra, PublicKey pb, PublicKey rb) {
        byte[] z = new byte[32];
        byte[] rbPoint = point(rb);
        return Sm2Native.keyExchange(false, fixed32(((ECPrivateKey) a.getPrivate()).getS()), point(a.getPublic()),
                fixed32(((ECPrivateKey) ra.getPrivate()).getS()), point(ra.getPublic()), z, point(pb), rbPoint, z,
                new byte[16], 16, null, null);
    }

    private static byte[] point(PublicKey k) {
        ECPoint w = ((ECPublicKey) k).getW();
        return NativeTestSupport.concat(new byte[] {4},
                NativeTestSupport.concat(fixed32(w.getAffineX()), fixed32(w.getAffineY())));
    }

    /** An EC public key on the SM2 curve's parameters with any point, as another provider might hand one over. */
    private static PublicKey fakeKey(ECPoint w) {
        ECParameterSpec params = Sm2Curve.PARAMS;
        return new ECPublicKey() {
            private static final long serialVersionUID = 1L;

            @Override
            public ECPoint getW() {
                return w;
            }

            @Override
            public ECParameterSpec getParams() {
                return params;
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
    }
}
