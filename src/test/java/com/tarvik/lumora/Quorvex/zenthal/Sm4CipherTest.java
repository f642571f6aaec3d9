package com.tarvik.lumora.Quorvex.zenthal;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.io.ByteArrayOutputStream;
import java.nio.ByteBuffer;
import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.Key;
import java.security.Provider;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.Random;

import javax.crypto.AEADBadTagException;
import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.KeyGenerator;
import javax.crypto.NoSuchPaddingException;
import javax.crypto.SecretKey;
import javax.crypto.ShortBufferException;
import javax.crypto.spec.GCMParameterSpec;
import javax.crypto.spec.IvParameterSpec;
import javax.crypto.spec.SecretKeySpec;

import org.bouncycastle.jce.provider.BouncyCastleProvider;
import org.junit.jupiter.api.Test;

/**
 * Cipher "SM4" of the provider against Bouncy Castle's, over random keys,
 * IVs, AAD and lengths, each message fed in random pieces through every
 * update form; the published vectors; and the exceptions of the contract.
 */
class Sm4CipherTest {
    private static final Provider ZENTHAL = new ZenthalProvider();
    private static final Provider BC = new BouncyCastleProvider();
    private static final String[] TRANSFORMATIONS = {
        "SM4/ECB/NoPadding", "SM4/ECB/PKCS5Padding", "SM4/CBC/NoPadding", "SM4/CBC/PKCS5Padding",
        "SM4/CTR/NoPadding", "SM4/GCM/NoPadding", "SM4",
    };
    private static final HexFormat HEX = HexFormat.of();

    private static SecretKeySpec key(byte[] k) {
        return new SecretKeySpec(k, "SM4");
    }

    private static java.security.spec.AlgorithmParameterSpec params(String t, Random r) {
        if (t.contains("GCM")) {
            int ivLen = r.nextInt(4) == 0 ? 1 + r.nextInt(40) : 12;
            byte[] iv = new byte[ivLen];
            r.nextBytes(iv);
            return new GCMParameterSpec(96 + 8 * r.nextInt(5), iv);
        }
        if (t.contains("CBC") || t.contains("CTR")) {
            byte[] iv = new byte[16];
            r.nextBytes(iv);
            return new IvParameterSpec(iv);
        }
        return null;
    }

    // Feeds data in random pieces through a random choice of update forms,
    // then doFinal in a random form.
    private static byte[] pieces(Cipher c, byte[] data, Random r) throws Exception {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        int at = 0;
        while (true) {
            int n = data.length - at == 0 ? 0 : r.nextInt(data.length - at + 1);
            if (r.nextInt(3) == 0) n = data.length - at;  // finish now
            boolean fin = at + n == data.length && r.nextBoolean() || at == data.length;
            int form = r.nextInt(4);
            byte[] chunk;
            switch (form) {
                case 0:
                    chunk = fin ? c.doFinal(data, at, n) : c.update(data, at, n);
                    break;
                case 1: {
                    // Into an array at an offset, the input copied in the same array first.
                    int size = c.getOutputSize(n);
                    byte[] buf = new byte[5 + size + n + 3];
                    System.arraycopy(data, at, buf, 5, n);
                    int outOff = r.nextBoolean() ? 5 : 2;  // in place, or overlapping before
                    int m = fin ? c.doFinal(buf, 5, n, buf, outOff) : c.update(buf, 5, n, buf, outOff);
                    chunk = Arrays.copyOfRange(buf, outOff, outOff + m);
                    break;
                }
                default: {
                    boolean directIn = form == 3 && r.nextBoolean();
                    boolean directOut = form == 3;
                    ByteBuffer in = directIn ? ByteBuffer.allocateDirect(n + 7) : ByteBuffer.allocate(n + 7);
                    in.position(3);
                    in.put(data, at, n);
                    in.flip().position(3);
                    int size = c.getOutputSize(n);
                    ByteBuffer o = directOut ? ByteBuffer.allocateDirect(size + 9) : ByteBuffer.allocate(size + 9);
                    o.position(4);
                    int m = fin ? c.doFinal(in, o) : c.update(in, o);
                    assertEquals(in.limit(), in.position());
                    assertEquals(4 + m, o.position());
                    chunk = new byte[m];
                    o.flip().position(4);
                    o.get(chunk);
                }
            }
            if (chunk != null) out.write(chunk);
            at += n;
            if (fin) return out.toByteArray();
        }
    }

    @Test
    void agreesWithBouncyCastle() throws Exception {
        Random r = new Random(17);
        for (String t : TRANSFORMATIONS) {
            Cipher ours = Cipher.getInstance(t, ZENTHAL);
            assertEquals(ZENTHAL, ours.getProvider());
            String bcName = t.equals("SM4") ? "SM4/ECB/PKCS5Padding" : t;
            Cipher theirs = Cipher.getInstance(bcName, BC);
            for (int i = 0; i < 60; i++) {
                byte[] k = new byte[16];
                r.nextBytes(k);
                var p = params(t, r);
                int len = r.nextInt(4) == 0 ? r.nextInt(5000) : r.nextInt(100);
                if (t.contains("NoPadding") && !t.contains("CTR") && !t.contains("GCM")) len &= ~15;
                byte[] plain = new byte[len];
                r.nextBytes(plain);
                byte[] aad = new byte[r.nextInt(3) == 0 ? 0 : r.nextInt(70)];
                r.nextBytes(aad);

                ours.init(Cipher.ENCRYPT_MODE, key(k), p);
                theirs.init(Cipher.ENCRYPT_MODE, key(k), p);
                if (t.contains("GCM")) {
                    int cut = r.nextInt(aad.length + 1);
                    ours.updateAAD(aad, 0, cut);
                    ours.updateAAD(ByteBuffer.wrap(aad, cut, aad.length - cut));
                    theirs.updateAAD(aad);
                }
                byte[] expected = theirs.doFinal(plain);
                assertArrayEquals(expected, pieces(ours, plain, r), t + " encryption, length " + len);

                ours.init(Cipher.DECRYPT_MODE, key(k), p);
                if (t.contains("GCM")) ours.updateAAD(aad);
                assertArrayEquals(plain, pieces(ours, expected, r), t + " decryption, length " + len);
                // Reusable after doFinal with the same key and parameters.
                if (t.contains("GCM")) ours.updateAAD(aad);
                assertArrayEquals(plain, ours.doFinal(expected), t + " decryption again");
            }
        }
    }

    /**
     * Every name a newly built provider gives a Cipher, aliases and OIDs
     * included, against Bouncy Castle's transformation of that name: a name
     * registered with a typo, or mapped to the wrong mode or padding, fails
     * here even where no other test asks for it. A mode the bare "SM4" is
     * given must refuse a padding it cannot do.
     */
    @Test
    void everyRegisteredNameServesItsTransformation() throws Exception {
        Provider provider = new ZenthalProvider();
        // GM/T 0006: the SM4 OID and its modes.
        Map<String, String> oids = Map.of(
                "1.2.156.10197.1.104", "SM4/ECB/PKCS5Padding",
                "1.2.156.10197.1.104.1", "SM4/ECB/NoPadding",
                "1.2.156.10197.1.104.2", "SM4/CBC/NoPadding",
                "1.2.156.10197.1.104.7", "SM4/CTR/NoPadding",
                "1.2.156.10197.1.104.8", "SM4/GCM/NoPadding");
        List<String> names = new ArrayList<>();
        for (Object k : provider.keySet()) {
            String key = (String) k;
            if (key.startsWith("Cipher.") && !key.contains(" ")) names.add(key.substring("Cipher.".length()));
            if (key.startsWith("Alg.Alias.Cipher.")) names.add(key.substring("Alg.Alias.Cipher.".length()));
        }
        // SM2's public-key ciphers are Sm2CipherTest's.
        names.removeIf(n -> n.startsWith("SM2"));
        assertEquals(19, names.size(), names.toString());
        Random r = new Random(29);
        for (String name : names) {
            String bare = name.startsWith("OID.") ? name.substring(4) : name;
            String t = name.equals("SM4") ? "SM4/ECB/PKCS5Padding" : bare.startsWith("SM4/") ? bare : oids.get(bare);
            assertNotNull(t, "no transformation known for " + name);
            Cipher ours = Cipher.getInstance(name, provider);
            assertEquals(provider, ours.getProvider());
            Cipher theirs = Cipher.getInstance(t, BC);
            byte[] k = new byte[16];
            r.nextBytes(k);
            var p = params(t, r);
            byte[] plain = new byte[t.contains("CBC/NoPadding") || t.contains("ECB/NoPadding") ? 48 : 37];
            r.nextBytes(plain);
            ours.init(Cipher.ENCRYPT_MODE, key(k), p);
            theirs.init(Cipher.ENCRYPT_MODE, key(k), p);
            byte[] expected = theirs.doFinal(plain);
            assertArrayEquals(expected, ours.doFinal(plain), name + " as " + t);
            ours.init(Cipher.DECRYPT_MODE, key(k), p);
            assertArrayEquals(plain, ours.doFinal(expected), name + " decryption");
        }
        for (String t : new String[] {"SM4/CTR/PKCS5Padding", "SM4/GCM/PKCS5Padding", "SM4/CTR/PKCS7Padding"}) {
            assertThrows(NoSuchPaddingException.class, () -> Cipher.getInstance(t, provider), t);
        }
    }

    @Test
    void publishedVectors() throws Exception {
        // GB/T 32907 example 1: key and plaintext alike.
        byte[] k = HEX.parseHex("0123456789abcdeffedcba9876543210");
        Cipher ecb = Cipher.getInstance("SM4/ECB/NoPadding", ZENTHAL);
        ecb.init(Cipher.ENCRYPT_MODE, key(k));
        assertEquals("681edf34d206965e86b3e94f536e4246", HEX.formatHex(ecb.doFinal(k)));

        // RFC 8998 appendix A.1.
        Cipher gcm = Cipher.getInstance("SM4/GCM/NoPadding", ZENTHAL);
        GCMParameterSpec spec = new GCMParameterSpec(128, HEX.parseHex("00001234567800000000abcd"));
        byte[] plain = HEX.parseHex("aaaaaaaaaaaaaaaabbbbbbbbbbbbbbbbccccccccccccccccdddddddddddddddd"
                + "eeeeeeeeeeeeeeeeffffffffffffffffeeeeeeeeeeeeeeeeaaaaaaaaaaaaaaaa");
        byte[] aad = HEX.parseHex("feedfacedeadbeeffeedfacedeadbeefabaddad2");
        gcm.init(Cipher.ENCRYPT_MODE, key(k), spec);
        gcm.updateAAD(aad);
        assertEquals("17f399f08c67d5ee19d0dc9969c4bb7d5fd46fd3756489069157b282bb200735"
                + "d82710ca5c22f0ccfa7cbf93d496ac15a56834cbcf98c397b4024a2691233b8d"
                + "83de3541e4c2b58177e065a9bf7b62ec", HEX.formatHex(gcm.doFinal(plain)));
    }

    @Test
    void contract() throws Exception {
        Random r = new Random(5);
        byte[] k = new byte[16];
        r.nextBytes(k);
        SecretKeySpec key = key(k);

        // A random IV when none is given, reported by getIV and getParameters.
        Cipher cbc = Cipher.getInstance("SM4/CBC/PKCS5Padding", ZENTHAL);
        cbc.init(Cipher.ENCRYPT_MODE, key);
        byte[] iv = cbc.getIV();
        assertEquals(16, iv.length);
        AlgorithmParameters ap = cbc.getParameters();
        assertArrayEquals(iv, ap.getParameterSpec(IvParameterSpec.class).getIV());
        byte[] ct = cbc.doFinal(new byte[21]);
        AlgorithmParameters decoded = AlgorithmParameters.getInstance("SM4", ZENTHAL);
        decoded.init(ap.getEncoded());
        cbc.init(Cipher.DECRYPT_MODE, key, decoded);
        assertArrayEquals(new byte[21], cbc.doFinal(ct));

        // ShortBufferException leaves the object as it was.
        cbc.init(Cipher.ENCRYPT_MODE, key, new IvParameterSpec(iv));
        byte[] small = new byte[31];
        assertThrows(ShortBufferException.class, () -> cbc.doFinal(new byte[21], 0, 21, small, 0));
        byte[] big = new byte[32];
        assertEquals(32, cbc.doFinal(new byte[21], 0, 21, big, 0));
        assertArrayEquals(ct, big);
        cbc.init(Cipher.DECRYPT_MODE, key, new IvParameterSpec(iv));
        byte[] exact = new byte[20];
        assertThrows(ShortBufferException.class, () -> cbc.doFinal(ct, 0, 32, exact, 0));
        byte[] fits = new byte[21];
        assertEquals(21, cbc.doFinal(ct, 0, 32, fits, 0));

        // Bad padding, then the object still works.
        byte[] broken = ct.clone();
        broken[31] ^= 1;
        assertThrows(BadPaddingException.class, () -> cbc.doFinal(broken));
        assertArrayEquals(new byte[21], cbc.doFinal(ct));
        assertThrows(IllegalBlockSizeException.class, () -> cbc.doFinal(ct, 0, 31));
        assertArrayEquals(new byte[21], cbc.doFinal(ct));

        Cipher ecb = Cipher.getInstance("SM4/ECB/NoPadding", ZENTHAL);
        ecb.init(Cipher.ENCRYPT_MODE, key);
        assertThrows(IllegalBlockSizeException.class, () -> ecb.doFinal(new byte[15]));
        assertEquals(16, ecb.doFinal(new byte[16]).length);

        // GCM: forged tag, same key and IV refused, tag lengths.
        Cipher gcm = Cipher.getInstance("SM4/GCM/NoPadding", ZENTHAL);
        gcm.init(Cipher.ENCRYPT_MODE, key);
        GCMParameterSpec gp = gcm.getParameters().getParameterSpec(GCMParameterSpec.class);
        assertEquals(12, gp.getIV().length);
        byte[] sealed = gcm.doFinal(new byte[40]);
        assertThrows(IllegalStateException.class, () -> gcm.doFinal(new byte[1]));
        assertThrows(InvalidAlgorithmParameterException.class, () -> gcm.init(Cipher.ENCRYPT_MODE, key, gp));
        assertThrows(InvalidAlgorithmParameterException.class,
                () -> gcm.init(Cipher.ENCRYPT_MODE, key, new GCMParameterSpec(88, new byte[12])));
        gcm.init(Cipher.DECRYPT_MODE, key, gp);
        sealed[3] ^= 1;
        byte[] out = new byte[100];
        assertThrows(AEADBadTagException.class, () -> gcm.doFinal(sealed, 0, sealed.length, out, 0));
        assertArrayEquals(new byte[100], out, "no plaintext released");
        sealed[3] ^= 1;
        assertArrayEquals(new byte[40], gcm.doFinal(sealed));
        gcm.update(sealed, 0, 10);
        assertThrows(IllegalStateException.class, () -> gcm.updateAAD(new byte[1]));

        // Wrap and unwrap.
        KeyGenerator kg = KeyGenerator.getInstance("SM4", ZENTHAL);
        SecretKey inner = kg.generateKey();
        assertEquals(16, inner.getEncoded().length);
        Cipher w = Cipher.getInstance("SM4/CBC/PKCS5Padding", ZENTHAL);
        w.init(Cipher.WRAP_MODE, key, new IvParameterSpec(iv));
        byte[] wrapped = w.wrap(inner);
        w.init(Cipher.UNWRAP_MODE, key, new IvParameterSpec(iv));
        Key back = w.unwrap(wrapped, "SM4", Cipher.SECRET_KEY);
        assertArrayEquals(inner.getEncoded(), back.getEncoded());

        // OID aliases and the plain name.
        assertNotNull(Cipher.getInstance("1.2.156.10197.1.104.8", ZENTHAL));
        assertNotNull(Cipher.getInstance("SM4/CBC/PKCS7Padding", ZENTHAL));
        Cipher plain = Cipher.getInstance("SM4", ZENTHAL);
        plain.init(Cipher.ENCRYPT_MODE, key);
        assertEquals(16, plain.doFinal(new byte[3]).length);
    }

    @Test
    void overlappingDirectBuffers() throws Exception {
        Random r = new Random(9);
        byte[] k = new byte[16];
        r.nextBytes(k);
        for (String t : new String[] {"SM4/CTR/NoPadding", "SM4/CBC/NoPadding", "SM4/GCM/NoPadding",
            "SM4/CBC/PKCS5Padding", "SM4/ECB/PKCS5Padding"}) {
            var p = params(t, r);
            byte[] data = new byte[4096 + 32];
            r.nextBytes(data);
            Cipher ref = Cipher.getInstance(t, BC);
            ref.init(Cipher.ENCRYPT_MODE, key(k), p);
            byte[] expected = ref.doFinal(data);
            Cipher c = Cipher.getInstance(t, ZENTHAL);
            c.init(Cipher.ENCRYPT_MODE, key(k), p);
            ByteBuffer mem = ByteBuffer.allocateDirect(data.length + 64);
            mem.position(8);
            mem.put(data);
            ByteBuffer in = mem.duplicate();
            in.position(8).limit(8 + data.length);
            ByteBuffer o = mem.duplicate();
            o.clear().position(24);  // output ahead of the input, overlapping
            c.doFinal(in, o);
            byte[] got = new byte[expected.length];
            o.flip().position(24);
            o.get(got);
            assertArrayEquals(expected, got, t);
            if (t.contains("PKCS5")) {
                // Back in one call, longer than the native stack chunk, the
                // output overlapping the input from behind and then ahead.
                for (int shift : new int[] {-16, 16}) {
                    c.init(Cipher.DECRYPT_MODE, key(k), p);
                    ByteBuffer m2 = ByteBuffer.allocateDirect(expected.length + 64);
                    m2.position(32).put(expected);
                    ByteBuffer ci = m2.duplicate();
                    ci.position(32).limit(32 + expected.length);
                    ByteBuffer po = m2.duplicate();
                    po.clear().position(32 + shift);
                    assertEquals(data.length, c.doFinal(ci, po), t);
                    byte[] back = new byte[data.length];
                    po.flip().position(32 + shift);
                    po.get(back);
                    assertArrayEquals(data, back, t + " decrypt, output shifted " + shift);
                }
            }
        }
    }
}
