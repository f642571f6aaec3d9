package com.tarvik.lumora.Quorvex.zenthal;

import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.filled;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.hex;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.kdf;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.random;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.sm3;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.io.ByteArrayInputStream;
import java.io.InputStream;
import java.lang.reflect.Field;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.DigestException;
import java.security.MessageDigest;
import java.security.Provider;
import java.util.Arrays;
import java.util.Random;

import javax.crypto.Mac;
import javax.crypto.spec.SecretKeySpec;

import org.bouncycastle.crypto.digests.SM3Digest;
import org.bouncycastle.crypto.macs.HMac;
import org.bouncycastle.crypto.params.KeyParameter;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * The Java API's SM3 (one-shot, streaming, JCA {@code MessageDigest}), HMAC-SM3
 * ({@code Sm3.hmac}, {@code HmacSm3}, JCA {@code Mac}) and the KDF against
 * Bouncy Castle and OpenSSL, and their argument checks.
 */
class Sm3Test {
    private static final Provider ZENTHAL = new ZenthalProvider();
    private static final byte[] ABC = "abc".getBytes(StandardCharsets.US_ASCII);
    private static final String ABC_DIGEST = "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0";

    @TempDir
    Path dir;

    @Test
    void digestOfWholeArraysAndRangesMatchesBouncyCastle() {
        final long seed = 0xA913_0001L;
        Random rnd = new Random(seed);
        assertEquals("66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0",
                hex(Sm3.digest("abc".getBytes(StandardCharsets.US_ASCII))));
        int[] large = {1000, 65_536 + 7};
        for (int i = 0; i < 150 + large.length; i++) {
            int len = i < 150 ? i : large[i - 150];
            byte[] data = random(rnd, len);
            byte[] before = data.clone();
            String where = "seed " + seed + ", length " + len;
            byte[] d = Sm3.digest(data);
            assertEquals(Sm3.DIGEST_LENGTH, d.length, where);
            assertArrayEquals(sm3(data, len), d, where);

            // Ranges at the start, in the middle and flush with the end.
            int off = len == 0 ? 0 : rnd.nextInt(len + 1);
            int n = rnd.nextInt(len - off + 1);
            byte[] range = Arrays.copyOfRange(data, off, off + n);
            assertArrayEquals(sm3(range, n), Sm3.digest(data, off, n), where + ", range " + off + "+" + n);
            assertArrayEquals(sm3(data, n), Sm3.digest(data, 0, n), where + ", prefix " + n);
            assertArrayEquals(sm3(range, n), Sm3.digest(Arrays.copyOf(range, n + 5), 0, n), where + ", short prefix");
            assertArrayEquals(sm3(new byte[0], 0), Sm3.digest(data, len, 0), where + ", empty at the end");
            assertArrayEquals(before, data, where + ": input changed");
        }
    }

    @Test
    void digestRejectsNullAndRangesOutsideTheArray() {
        byte[] data = new byte[10];
        assertThrows(NullPointerException.class, () -> Sm3.digest((byte[]) null));
        assertThrows(NullPointerException.class, () -> Sm3.digest(null, 0, 0));
        int[][] bad = {{-1, 1}, {0, -1}, {0, 11}, {1, 10}, {11, 0}, {10, 1}, {1, Integer.MAX_VALUE},
            {Integer.MAX_VALUE, 1}, {Integer.MIN_VALUE, 0}};
        for (int[] r : bad) {
            assertThrows(IndexOutOfBoundsException.class, () -> Sm3.digest(data, r[0], r[1]),
                    "range " + r[0] + "+" + r[1]);
        }
    }

    @Test
    void kdfMatchesBouncyCastleAtEveryLength() {
        final long seed = 0xA913_0002L;
        Random rnd = new Random(seed);
        for (int length = 0; length <= 130; length++) {
            byte[] z = random(rnd, rnd.nextInt(100));
            byte[] before = z.clone();
            byte[] k = Sm3.kdf(z, length);
            String where = "seed " + seed + ", z length " + z.length + ", key length " + length;
            assertArrayEquals(kdf(z, z.length, length), k, where);
            assertArrayEquals(before, z, where + ": z changed");
        }
        byte[] z = random(rnd, 33);
        assertArrayEquals(kdf(z, 33, 100_000), Sm3.kdf(z, 100_000), "seed " + seed + ", long key");
    }

    @Test
    void kdfRejectsNullAndNegativeLength() {
        assertThrows(NullPointerException.class, () -> Sm3.kdf(null, 16));
        assertThrows(IllegalArgumentException.class, () -> Sm3.kdf(new byte[4], -1));
        assertThrows(IllegalArgumentException.class, () -> Sm3.kdf(new byte[4], Integer.MIN_VALUE));
    }

    // ---------------------------------------------------------------- streaming

    /** The sinks under test, fed the same pieces: ours through Sm3Digest and through the JCA. */
    private interface Sink {
        void bytes(byte[] b, int off, int len);

        void one(byte b);

        void buffer(ByteBuffer b);
    }

    private static Sink sink(Sm3Digest d) {
        return new Sink() {
            public void bytes(byte[] b, int off, int len) {
                if (off == 0 && len == b.length && len % 2 == 0) d.update(b); else d.update(b, off, len);
            }

            public void one(byte b) {
                d.update(b);
            }

            public void buffer(ByteBuffer b) {
                d.update(b);
            }
        };
    }

    private static Sink sink(MessageDigest md) {
        return new Sink() {
            public void bytes(byte[] b, int off, int len) {
                md.update(b, off, len);
            }

            public void one(byte b) {
                md.update(b);
            }

            public void buffer(ByteBuffer b) {
                md.update(b);
            }
        };
    }

    private static Sink sink(Mac mac) {
        return new Sink() {
            public void bytes(byte[] b, int off, int len) {
                mac.update(b, off, len);
            }

            public void one(byte b) {
                mac.update(b);
            }

            public void buffer(ByteBuffer b) {
                mac.update(b);
            }
        };
    }

    private static Sink sink(HmacSm3 mac) {
        return new Sink() {
            public void bytes(byte[] b, int off, int len) {
                mac.update(b, off, len);
            }

            public void one(byte b) {
                mac.update(b);
            }

            public void buffer(ByteBuffer b) {
                mac.update(b);
            }
        };
    }

    /**
     * Feeds msg[at .. at+n-1] to the sink in one of the update forms: an array
     * range at an offset, single bytes, heap buffers (at a position, sliced,
     * read-only) and direct buffers at a nonzero position.
     */
    private static void feed(Random rnd, Sink sink, byte[] msg, int at, int n) {
        int pad = rnd.nextInt(9);
        byte[] arr = new byte[pad + n + rnd.nextInt(9)];
        System.arraycopy(msg, at, arr, pad, n);
        ByteBuffer b = null;
        switch (rnd.nextInt(7)) {
            case 0:
                sink.bytes(arr, pad, n);
                return;
            case 1:
                sink.bytes(Arrays.copyOfRange(msg, at, at + n), 0, n);
                return;
            case 2:
                if (n < 200) {
                    for (int i = 0; i < n; i++) sink.one(msg[at + i]);
                    return;
                }
                b = ByteBuffer.wrap(arr, pad, n);
                break;
            case 3:
                b = ByteBuffer.wrap(arr).position(pad).slice().limit(n);
                break;
            case 4:
                b = ByteBuffer.wrap(arr, pad, n).asReadOnlyBuffer();
                break;
            default:
                b = ByteBuffer.allocateDirect(arr.length).put(arr).position(pad).limit(pad + n);
                if (rnd.nextBoolean()) b = b.slice();
                break;
        }
        sink.buffer(b);
        assertEquals(b.limit(), b.position(), "buffer not consumed");
    }

    /** A random piece length: mostly small, sometimes past the gathering buffer. */
    private static int piece(Random rnd, int left) {
        int max = rnd.nextInt(5) == 0 ? 5000 : 70;
        return Math.min(left, rnd.nextInt(max + 1));
    }

    @Test
    void streamingDigestMatchesBouncyCastleThroughEveryUpdateForm() throws Exception {
        final long seed = 0xA913_0003L;
        Random rnd = new Random(seed);
        Sm3Digest d = Sm3.newDigest();
        MessageDigest md = MessageDigest.getInstance("SM3", ZENTHAL);
        assertEquals("SM3", md.getAlgorithm());
        assertEquals(32, md.getDigestLength());
        for (int round = 0; round < 300; round++) {
            int len = round < 250 ? rnd.nextInt(3000) : rnd.nextInt(300_000);
            byte[] msg = random(rnd, len);
            byte[] expected = sm3(msg, len);
            String where = "seed " + seed + ", round " + round + ", length " + len;

            Sm3Digest dCopy = null;
            MessageDigest mdCopy = null;
            int copiedAt = 0;
            for (int at = 0; at < len; ) {
                int n = piece(rnd, len - at);
                feed(rnd, sink(d), msg, at, n);
                feed(rnd, sink(md), msg, at, n);
                at += n;
                if (dCopy == null && rnd.nextInt(8) == 0) {
                    dCopy = d.copy();
                    mdCopy = (MessageDigest) md.clone();
                    copiedAt = at;
                }
            }
            if (round % 3 == 0) {
                byte[] out = filled(40);
                d.digest(out, 5);
                assertArrayEquals(expected, Arrays.copyOfRange(out, 5, 37), where);
                assertEquals(32, md.digest(out, 8, 32));
                assertArrayEquals(expected, Arrays.copyOfRange(out, 8, 40), where);
            } else {
                assertArrayEquals(expected, d.digest(), where);
                assertArrayEquals(expected, md.digest(), where);
            }
            // A copy goes on from where it was taken, untouched by the original.
            if (dCopy != null) {
                dCopy.update(msg, copiedAt, len - copiedAt);
                assertArrayEquals(expected, dCopy.digest(), where + ", copy at " + copiedAt);
                mdCopy.update(msg, copiedAt, len - copiedAt);
                assertArrayEquals(expected, mdCopy.digest(), where + ", clone at " + copiedAt);
            }
            // Digesting started a new message; a reset discards a started one.
            if (round % 5 == 0) {
                feed(rnd, sink(d), msg, 0, Math.min(len, 100));
                md.update(msg, 0, Math.min(len, 2000));
                d.reset();
                md.reset();
                assertEquals(ABC_DIGEST, hex(d.digest(ABC)), where + ", after reset");
                assertEquals(ABC_DIGEST, hex(md.digest(ABC)), where + ", after reset");
            }
        }
        assertEquals(ABC_DIGEST, hex(MessageDigest.getInstance("1.2.156.10197.1.401", ZENTHAL).digest(ABC)));
        assertEquals(ABC_DIGEST, hex(MessageDigest.getInstance("OID.1.2.156.10197.1.401", ZENTHAL).digest(ABC)));
        assertThrows(DigestException.class, () -> md.digest(new byte[40], 0, 31));
        assertThrows(IndexOutOfBoundsException.class, () -> d.digest(new byte[40], 9));
        assertThrows(IndexOutOfBoundsException.class, () -> d.update(ABC, 2, 2));
        assertThrows(NullPointerException.class, () -> d.update((ByteBuffer) null));
    }

    @Test
    void streamsAndFilesOfAnyLengthMatchBouncyCastle() throws Exception {
        final long seed = 0xA913_0004L;
        Random rnd = new Random(seed);
        for (int len : new int[] {0, 1, 64, 65_536, 1_000_003}) {
            byte[] msg = random(rnd, len);
            byte[] expected = sm3(msg, len);
            Path file = Files.write(dir.resolve("m" + len), msg);
            assertArrayEquals(expected, Sm3.digest(file), "seed " + seed + ", file of " + len);
            // A stream that delivers short, uneven reads.
            InputStream in = new ByteArrayInputStream(msg) {
                @Override
                public synchronized int read(byte[] b, int off, int n) {
                    return super.read(b, off, Math.min(n, 1 + rnd.nextInt(3000)));
                }
            };
            assertArrayEquals(expected, Sm3.digest(in), "seed " + seed + ", stream of " + len);
        }
        assertThrows(java.nio.file.NoSuchFileException.class, () -> Sm3.digest(dir.resolve("missing")));
        assertThrows(NullPointerException.class, () -> Sm3.digest((Path) null));
        assertThrows(NullPointerException.class, () -> Sm3.digest((InputStream) null));
    }

    // ---------------------------------------------------------------- HMAC

    private static byte[] bcHmac(byte[] key, byte[] msg) {
        HMac h = new HMac(new SM3Digest());
        h.init(new KeyParameter(key));
        h.update(msg, 0, msg.length);
        byte[] out = new byte[32];
        h.doFinal(out, 0);
        return out;
    }

    @Test
    void hmacMatchesBouncyCastleForKeysAroundTheBlockLength() throws Exception {
        final long seed = 0xA913_0005L;
        Random rnd = new Random(seed);
        Mac mac = Mac.getInstance("HmacSM3", ZENTHAL);
        assertEquals(32, mac.getMacLength());
        for (int keyLen : new int[] {1, 63, 64, 65, 200}) {
            byte[] key = random(rnd, keyLen);
            mac.init(new SecretKeySpec(key, "HmacSM3"));
            HmacSm3 ours = new HmacSm3(key);
            for (int len : new int[] {0, 1, 55, 64, 1000, 1 + rnd.nextInt(3000), 100_000}) {
                byte[] msg = random(rnd, len);
                byte[] expected = bcHmac(key, msg);
                String where = "seed " + seed + ", key " + keyLen + ", message " + len;
                assertArrayEquals(expected, mac.doFinal(msg), where + ", whole");
                assertArrayEquals(expected, Sm3.hmac(key, msg), where + ", Sm3.hmac");
                assertArrayEquals(expected, ours.doFinal(msg), where + ", HmacSm3");

                Mac macCopy = null;
                HmacSm3 oursCopy = null;
                int copiedAt = 0;
                for (int at = 0; at < len; ) {
                    int n = piece(rnd, len - at);
                    feed(rnd, sink(mac), msg, at, n);
                    feed(rnd, sink(ours), msg, at, n);
                    at += n;
                    if (macCopy == null && rnd.nextInt(6) == 0) {
                        macCopy = (Mac) mac.clone();
                        oursCopy = ours.copy();
                        copiedAt = at;
                    }
                }
                assertArrayEquals(expected, mac.doFinal(), where + ", in pieces");
                assertArrayEquals(expected, ours.doFinal(), where + ", HmacSm3 in pieces");
                if (macCopy != null) {
                    macCopy.update(msg, copiedAt, len - copiedAt);
                    assertArrayEquals(expected, macCopy.doFinal(), where + ", clone at " + copiedAt);
                    oursCopy.update(msg, copiedAt, len - copiedAt);
                    ours.destroy();
                    assertArrayEquals(expected, oursCopy.doFinal(), where + ", copy of a destroyed HmacSm3");
                    assertThrows(IllegalStateException.class, ours::doFinal);
                    ours = oursCopy;
                }
                // A reset drops the started message and keeps the key.
                mac.update(msg);
                mac.reset();
                ours.update(msg);
                ours.reset();
                assertArrayEquals(bcHmac(key, ABC), mac.doFinal(ABC), where + ", after reset");
                assertArrayEquals(bcHmac(key, ABC), ours.doFinal(ABC), where + ", HmacSm3 after reset");
            }
        }
        byte[] msg = random(rnd, 300);
        assertArrayEquals(bcHmac(new byte[0], msg), Sm3.hmac(new byte[0], msg), "empty key");
        assertThrows(NullPointerException.class, () -> Sm3.hmac(null, ABC));
        assertThrows(NullPointerException.class, () -> Sm3.hmac(ABC, null));
    }

    /** Values from {@code openssl mac -digest SM3 -macopt hexkey:KEY -in MSG HMAC}. */
    @Test
    void hmacMatchesOpenssl() throws Exception {
        byte[] k20 = new byte[20];
        Arrays.fill(k20, (byte) 0x0b);
        byte[] k131 = new byte[131];
        Arrays.fill(k131, (byte) 0xaa);
        byte[] hiThere = "Hi There".getBytes(StandardCharsets.US_ASCII);
        String[][] vectors = {
            {hex(k20), hex(ABC), "8ec4d9f9e5159d52d8b7f8e8e681a62ecd2fb0cb58ba554ee56c962d0fa5daa1"},
            {hex(k20), hex(hiThere), "51b00d1fb49832bfb01c3ce27848e59f871d9ba938dc563b338ca964755cce70"},
            {hex("Jefe".getBytes(StandardCharsets.US_ASCII)),
                hex("what do ya want for nothing?".getBytes(StandardCharsets.US_ASCII)),
                "2e87f1d16862e6d964b50a5200bf2b10b764faa9680a296a2405f24bec39f882"},
            {hex(k131), hex(hiThere), "e760df9495d6be82b447e1b92b1f5ef7c7fe29fe88607d212b30ee6aae753aeb"},
            {"00", "", "0d23f72ba15e9c189a879aefc70996b06091de6e64d31b7a84004356dd915261"},
            {"", "", "0d23f72ba15e9c189a879aefc70996b06091de6e64d31b7a84004356dd915261"},
            {"", hex(ABC), "36525058ca466791502435c910517f1a7e86613d5f35ac1f18a94def0eaac81f"},
        };
        Mac mac = Mac.getInstance("HmacSM3", ZENTHAL);
        for (String[] v : vectors) {
            byte[] key = hex(v[0]);
            byte[] msg = hex(v[1]);
            assertEquals(v[2], hex(Sm3.hmac(key, msg)), "key " + v[0]);
            if (key.length > 0) {
                mac.init(new SecretKeySpec(key, "HmacSM3"));
                assertEquals(v[2], hex(mac.doFinal(msg)), "Mac, key " + v[0]);
            }
        }
    }

    /**
     * The keyed states and buffered message bytes are secrets: a reset wipes
     * the buffered bytes, a new key wipes the old keyed states.
     */
    @Test
    void hmacWipesOnResetAndReinit() throws Exception {
        HmacSm3Spi spi = new HmacSm3Spi();
        spi.engineInit(new SecretKeySpec(random(new Random(1), 40), "HmacSM3"), null);
        Object first = field(spi, "stream");
        byte[] start = (byte[]) field(first, "start");
        byte[] outer = (byte[]) field(first, "outer");
        byte[] buffer = (byte[]) field(first, "buffer");
        // Enough to pass the gathering buffer to the library once and start refilling it.
        spi.engineUpdate(filled(1000), 0, 1000);
        spi.engineUpdate(filled(100), 0, 100);
        spi.engineReset();
        assertArrayEquals(new byte[buffer.length], buffer, "buffered message after reset");
        assertFalse(Arrays.equals(new byte[start.length], start), "reset forgot the key");

        spi.engineUpdate(filled(100), 0, 100);
        spi.engineInit(new SecretKeySpec(random(new Random(2), 40), "HmacSM3"), null);
        assertArrayEquals(new byte[start.length], start, "old inner state after a new key");
        assertArrayEquals(new byte[outer.length], outer, "old outer state after a new key");
        assertArrayEquals(new byte[buffer.length], buffer, "old buffer after a new key");
    }

    /**
     * The keyed states hold the hash state after the key, not the key: the
     * context's copy of the last block absorbed (the key XOR the pad) is
     * zeroed, for keys that are padded and keys that are hashed first.
     */
    @Test
    void hmacKeyedStatesHoldNoKeyBlock() throws Exception {
        Random rnd = new Random(0x4B3B_0001L);
        for (int len : new int[] {1, 16, 63, 64, 65, 100}) {
            byte[] key = random(rnd, len);
            byte[] k0 = Arrays.copyOf(len > 64 ? sm3(key, len) : key, 64);
            byte[] ipad = k0.clone(), opad = k0.clone();
            for (int i = 0; i < 64; i++) {
                ipad[i] ^= 0x36;
                opad[i] ^= 0x5c;
            }
            HmacSm3 mac = new HmacSm3(key);
            HmacSm3Spi spi = new HmacSm3Spi();
            spi.engineInit(new SecretKeySpec(key, "HmacSM3"), null);
            for (Object stream : new Object[] {field(mac, "stream"), field(spi, "stream")}) {
                for (String name : new String[] {"start", "outer", "state"}) {
                    byte[] s = (byte[]) field(stream, name);
                    String where = "key length " + len + ", " + stream.getClass().getSimpleName() + "." + name;
                    assertArrayEquals(new byte[64], Arrays.copyOfRange(s, 8, 72), where + ": block bytes");
                    for (int off = 0; off + 64 <= s.length; off++) {
                        byte[] window = Arrays.copyOfRange(s, off, off + 64);
                        assertFalse(Arrays.equals(window, ipad) || Arrays.equals(window, opad), where);
                    }
                }
            }
            assertArrayEquals(bcHmac(key, ABC), mac.doFinal(ABC), "key length " + len);
            spi.engineUpdate(ABC, 0, ABC.length);
            assertArrayEquals(bcHmac(key, ABC), spi.engineDoFinal(), "key length " + len + ", JCA");
        }
    }

    private static Object field(Object o, String name) throws ReflectiveOperationException {
        Field f = o.getClass().getDeclaredField(name);
        f.setAccessible(true);
        return f.get(o);
    }
}
