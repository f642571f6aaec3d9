package com.tarvik.lumora.Quorvex.zenthal;

import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.ERR_ARGUMENT;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.ERR_KEY_IV_LENGTH;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.ERR_NO_MEMORY;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.OK;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.SM4_ERR_BAD_PADDING;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.SM4_ERR_INPUT_LENGTH;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.SM4_ERR_MAC_MISMATCH;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.SM4_ERR_OUTPUT_TOO_SMALL;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.cbcMac;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.cbcRaw;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.concat;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.filled;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.random;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;

import org.junit.jupiter.api.Test;

/**
 * sm4CbcEncryptWithMacNative and sm4CbcDecryptWithMacNative in a real VM. Bouncy
 * Castle builds the expected envelope (SM4-CBC with PKCS#7 under the key, then
 * the CBC-MAC of the plaintext under the MAC key, both from the same IV).
 */
class CipherNativeTest {

    /** Key, MAC key and IV of one call, plus the calls themselves. */
    private record Keys(byte[] key, byte[] macKey, byte[] iv) {
        static Keys random(Random rnd) {
            return new Keys(NativeTestSupport.random(rnd, 16), NativeTestSupport.random(rnd, 16),
                    NativeTestSupport.random(rnd, 16));
        }

        int seal(byte[] input, byte[] output, int[] outputLen) {
            return LoadNativeZenthal.sm4CbcEncryptWithMacNative(key, macKey, iv, input, 0, output, outputLen);
        }

        int open(byte[] input, byte[] output, int[] outputLen) {
            return LoadNativeZenthal.sm4CbcDecryptWithMacNative(key, macKey, iv, input, 0, output, outputLen);
        }

        byte[] envelope(byte[] plain) {
            return NativeTestSupport.seal(key, macKey, iv, plain);
        }
    }

    private static int sealedLength(int plainLength) {
        return plainLength / 16 * 16 + 32;
    }

    /** Calls that must fail leave output and outputLen exactly as they were. */
    private static void assertRefused(int expected, int actual, byte[] output, byte[] outputBefore,
            int[] outputLen, int capacity, String where) {
        assertEquals(expected, actual, where);
        assertArrayEquals(outputBefore, output, where + ": output written");
        assertEquals(capacity, outputLen[0], where + ": outputLen written");
    }

    @Test
    void sealMatchesBouncyCastleAndOpens() {
        final long seed = 0xC1_0001L;
        Random rnd = new Random(seed);
        int[] large = {1000, 65_536 + 5, 1 << 20};
        for (int i = 0; i < 301 + large.length; i++) {
            int len = i < 301 ? i : large[i - 301];
            Keys k = Keys.random(rnd);
            byte[] keyBefore = k.key.clone(), macKeyBefore = k.macKey.clone(), ivBefore = k.iv.clone();
            byte[] plain = random(rnd, len);
            byte[] expected = k.envelope(plain);
            int need = sealedLength(len);
            assertEquals(need, expected.length, "oracle length");
            String where = "seed " + seed + ", plaintext length " + len;

            // Output longer than the envelope, and a capacity that may exceed
            // the output array: both fine while the envelope fits. The fifth
            // argument carries arbitrary values and must not matter.
            int slack = rnd.nextInt(8);
            byte[] sealed = filled(need + slack);
            int[] outLen = {need + rnd.nextInt(64)};
            int status = LoadNativeZenthal.sm4CbcEncryptWithMacNative(k.key, k.macKey, k.iv, plain,
                    rnd.nextInt(), sealed, outLen);
            assertEquals(OK, status, where + ": seal");
            assertEquals(need, outLen[0], where + ": sealed length");
            assertArrayEquals(expected, Arrays.copyOf(sealed, need), where + ": envelope");
            assertArrayEquals(filled(slack), Arrays.copyOfRange(sealed, need, sealed.length), where + ": tail");

            // Opening with a capacity of exactly the plaintext length.
            byte[] envelope = expected.clone();
            byte[] opened = filled(len + slack);
            outLen = new int[] {len};
            status = LoadNativeZenthal.sm4CbcDecryptWithMacNative(k.key, k.macKey, k.iv, envelope,
                    rnd.nextInt(), opened, outLen);
            assertEquals(OK, status, where + ": open");
            assertEquals(len, outLen[0], where + ": opened length");
            assertArrayEquals(plain, Arrays.copyOf(opened, len), where + ": plaintext");
            assertArrayEquals(filled(slack), Arrays.copyOfRange(opened, len, opened.length), where + ": tail");

            // A generous capacity into an output of exactly the plaintext length.
            opened = new byte[len];
            outLen = new int[] {envelope.length};
            assertEquals(OK, k.open(envelope, opened, outLen), where + ": open, large capacity");
            assertEquals(len, outLen[0], where + ": opened length, large capacity");
            assertArrayEquals(plain, opened, where + ": plaintext, large capacity");

            assertArrayEquals(keyBefore, k.key, where + ": key changed");
            assertArrayEquals(macKeyBefore, k.macKey, where + ": macKey changed");
            assertArrayEquals(ivBefore, k.iv, where + ": iv changed");
            assertArrayEquals(expected, envelope, where + ": envelope changed by open");
        }
    }

    @Test
    void sealNeedsRoomForCiphertextAndMac() {
        final long seed = 0xC1_0002L;
        Random rnd = new Random(seed);
        Keys k = Keys.random(rnd);
        for (int len = 0; len <= 80; len++) {
            byte[] plain = random(rnd, len);
            int need = sealedLength(len);
            String where = "seed " + seed + ", plaintext length " + len;
            // Below need - 16 the bridge refuses before sealing; from need - 16
            // to need - 1 the ciphertext would fit but the MAC would not.
            for (int cap : new int[] {0, need - 17, need - 16, need - 1}) {
                if (cap < 0) continue;
                byte[] out = filled(need + 16);
                int[] outLen = {cap};
                assertRefused(SM4_ERR_OUTPUT_TOO_SMALL, k.seal(plain, out, outLen), out, filled(need + 16),
                        outLen, cap, where + ", capacity " + cap);
            }
            byte[] out = new byte[need];
            int[] outLen = {need};
            assertEquals(OK, k.seal(plain, out, outLen), where + ", capacity " + need);
            assertEquals(need, outLen[0], where);
            assertArrayEquals(k.envelope(plain), out, where);
        }
    }

    @Test
    void openNeedsRoomForThePlaintext() {
        final long seed = 0xC1_0003L;
        Random rnd = new Random(seed);
        Keys k = Keys.random(rnd);
        for (int len = 1; len <= 80; len++) {
            byte[] envelope = k.envelope(random(rnd, len));
            String where = "seed " + seed + ", plaintext length " + len;
            // Short of the blocks before the last, the call fails before any
            // decryption; len - 1 fails only once the padding has been read.
            for (int cap : new int[] {0, len / 16 * 16 - 1, len - 1}) {
                if (cap < 0) continue;
                byte[] out = filled(len + 16);
                int[] outLen = {cap};
                assertRefused(SM4_ERR_OUTPUT_TOO_SMALL, k.open(envelope, out, outLen), out, filled(len + 16),
                        outLen, cap, where + ", capacity " + cap);
            }
        }
    }

    @Test
    void openRefusesMalformedLengths() {
        Keys k = Keys.random(new Random(0xC1_0004L));
        // Too short to hold a ciphertext block and a MAC, or not whole blocks.
        // The bridge's capacity check (cap >= length - 32) comes first.
        for (int len : new int[] {0, 16, 1, 15, 17, 31, 33, 47, 100}) {
            for (int cap : new int[] {0, 16, 1000}) {
                byte[] out = filled(64);
                int[] outLen = {cap};
                int expected = cap < len - 32 ? SM4_ERR_OUTPUT_TOO_SMALL : SM4_ERR_INPUT_LENGTH;
                assertRefused(expected, k.open(new byte[len], out, outLen), out, filled(64), outLen,
                        cap, "input length " + len + ", capacity " + cap);
            }
        }
        for (int cap = 0; cap <= 8; cap++) {
            byte[] out = filled(64);
            int[] outLen = {cap};
            int expected = cap < 8 ? SM4_ERR_OUTPUT_TOO_SMALL : SM4_ERR_INPUT_LENGTH;
            assertRefused(expected, k.open(new byte[40], out, outLen), out, filled(64), outLen, cap,
                    "input length 40, capacity " + cap);
        }
    }

    @Test
    void openRejectsAlteredEnvelopes() {
        final long seed = 0xC1_0005L;
        Random rnd = new Random(seed);
        for (int len : new int[] {0, 1, 15, 16, 17, 47, 48, 100, 300}) {
            Keys k = Keys.random(rnd);
            byte[] envelope = k.envelope(random(rnd, len));
            int macAt = envelope.length - 16;
            String where = "seed " + seed + ", plaintext length " + len;

            // One flipped bit in each MAC byte: the plaintext decrypts cleanly but does not verify.
            for (int i = macAt; i < envelope.length; i++) {
                byte[] altered = envelope.clone();
                altered[i] ^= (byte) (1 << rnd.nextInt(8));
                expectRefusedOpen(k, altered, len, where + ", MAC byte " + (i - macAt), SM4_ERR_MAC_MISMATCH);
            }
            // The last ciphertext block carries the padding: either check may catch it.
            for (int t = 0; t < 16; t++) {
                byte[] altered = envelope.clone();
                altered[macAt - 16 + rnd.nextInt(16)] ^= (byte) (1 << rnd.nextInt(8));
                expectRefusedOpen(k, altered, len, where + ", last ciphertext block",
                        SM4_ERR_BAD_PADDING, SM4_ERR_MAC_MISMATCH);
            }
            // The first block, when the padding lies two or more blocks later.
            if (macAt >= 48) {
                byte[] altered = envelope.clone();
                altered[rnd.nextInt(16)] ^= 1;
                expectRefusedOpen(k, altered, len, where + ", first ciphertext block", SM4_ERR_MAC_MISMATCH);
            }
            // Wrong MAC key: decryption succeeds, verification does not.
            Keys otherMacKey = new Keys(k.key, random(rnd, 16), k.iv);
            expectRefusedOpen(otherMacKey, envelope, len, where + ", other MAC key", SM4_ERR_MAC_MISMATCH);
            // Wrong key: the plaintext comes out wrong.
            expectRefusedOpen(new Keys(random(rnd, 16), k.macKey, k.iv), envelope, len, where + ", other key",
                    SM4_ERR_BAD_PADDING, SM4_ERR_MAC_MISMATCH);
            // Wrong IV with the padding in the first block: that block comes out wrong.
            if (len < 16) {
                expectRefusedOpen(new Keys(k.key, k.macKey, random(rnd, 16)), envelope, len, where + ", other IV",
                        SM4_ERR_BAD_PADDING, SM4_ERR_MAC_MISMATCH);
            }
        }
    }

    @Test
    void otherIvGoesUndetectedOnceThePlaintextFillsABlock() {
        // CBC and the MAC share the IV: a different IV shifts the first
        // plaintext block by iv ^ iv', and the MAC's first step undoes the
        // same shift, so the envelope still verifies.
        final long seed = 0xC1_000DL;
        Random rnd = new Random(seed);
        for (int len : new int[] {16, 17, 31, 32, 100}) {
            Keys k = Keys.random(rnd);
            byte[] plain = random(rnd, len);
            byte[] envelope = k.envelope(plain);
            byte[] otherIv = random(rnd, 16);
            byte[] shifted = plain.clone();
            for (int i = 0; i < 16; i++) shifted[i] ^= (byte) (k.iv[i] ^ otherIv[i]);
            byte[] out = new byte[len];
            int[] outLen = {len};
            String where = "seed " + seed + ", plaintext length " + len;
            assertEquals(OK, new Keys(k.key, k.macKey, otherIv).open(envelope, out, outLen), where);
            assertArrayEquals(shifted, out, where);
        }
    }

    /** Opens with a capacity that would fit the plaintext; expects one of the codes and nothing written. */
    private static void expectRefusedOpen(Keys k, byte[] envelope, int plainLength, String where, int... codes) {
        int cap = plainLength + 16;
        byte[] out = filled(cap);
        int[] outLen = {cap};
        int status = k.open(envelope, out, outLen);
        assertTrue(Arrays.stream(codes).anyMatch(c -> c == status),
                where + ": got " + status + ", expected one of " + Arrays.toString(codes));
        assertArrayEquals(filled(cap), out, where + ": output written");
        assertEquals(cap, outLen[0], where + ": outputLen written");
    }

    @Test
    void openRejectsBadPadding() {
        final long seed = 0xC1_0006L;
        Random rnd = new Random(seed);
        Keys k = Keys.random(rnd);
        // Last plaintext blocks, enciphered without padding so that they reach
        // the padding check as they are.
        byte[][] badEnds = {
            block(rnd, 0x00), block(rnd, 0x11), block(rnd, 0xFF),
            block(rnd, 0x03, 0x02),
            block(rnd, 0x01, 0x03, 0x03), // pad 3, first pad byte wrong
        };
        for (int leading : new int[] {0, 16, 48}) {
            for (byte[] last : badEnds) {
                byte[] plain = concat(random(rnd, leading), last);
                byte[] envelope = concat(cbcRaw(k.key, k.iv, plain), cbcMac(k.macKey, k.iv, plain));
                expectRefusedOpen(k, envelope, plain.length, "seed " + seed + ", leading " + leading
                        + ", last block " + NativeTestSupport.hex(last), SM4_ERR_BAD_PADDING);
            }
            // The same construction with valid padding opens: the refusals
            // above come from the padding alone.
            byte[] last = block(rnd, 0x02, 0x02);
            byte[] plain = concat(random(rnd, leading), last);
            byte[] message = Arrays.copyOf(plain, plain.length - 2);
            byte[] envelope = concat(cbcRaw(k.key, k.iv, plain), cbcMac(k.macKey, k.iv, message));
            byte[] out = new byte[message.length];
            int[] outLen = {message.length};
            assertEquals(OK, k.open(envelope, out, outLen), "seed " + seed + ", leading " + leading);
            assertArrayEquals(message, out);
        }
    }

    /** 16 random bytes ending in the given bytes. */
    private static byte[] block(Random rnd, int... tail) {
        byte[] b = random(rnd, 16);
        for (int i = 0; i < tail.length; i++) b[16 - tail.length + i] = (byte) tail[i];
        return b;
    }

    @Test
    void keyMacKeyAndIvMustBe16Long() {
        Random rnd = new Random(0xC1_0007L);
        Keys k = Keys.random(rnd);
        byte[] plain = random(rnd, 20);
        byte[] envelope = k.envelope(plain);
        for (int position = 0; position < 3; position++) {
            for (int n : new int[] {0, 15, 17, 32}) {
                byte[] wrong = random(rnd, n);
                Keys bad = new Keys(position == 0 ? wrong : k.key, position == 1 ? wrong : k.macKey,
                        position == 2 ? wrong : k.iv);
                String where = new String[] {"key", "macKey", "iv"}[position] + " of length " + n;
                byte[] out = filled(64);
                int[] outLen = {64};
                assertRefused(ERR_KEY_IV_LENGTH, bad.seal(plain, out, outLen), out, filled(64), outLen, 64,
                        where + ", seal");
                assertRefused(ERR_KEY_IV_LENGTH, bad.open(envelope, out, outLen), out, filled(64), outLen, 64,
                        where + ", open");
            }
        }
    }

    @Test
    void refusesNullArrays() {
        Random rnd = new Random(0xC1_0008L);
        Keys k = Keys.random(rnd);
        byte[] plain = random(rnd, 20);
        byte[] envelope = k.envelope(plain);
        String[] names = {"key", "macKey", "iv", "input", "output", "outputLen"};
        for (int position = 0; position < names.length; position++) {
            for (boolean sealing : new boolean[] {true, false}) {
                byte[] out = filled(64);
                int[] outLen = {64};
                byte[][] a = {k.key, k.macKey, k.iv, sealing ? plain : envelope, out};
                if (position < a.length) a[position] = null;
                int[] lenArg = position == 5 ? null : outLen;
                int status = sealing
                        ? LoadNativeZenthal.sm4CbcEncryptWithMacNative(a[0], a[1], a[2], a[3], 0, a[4], lenArg)
                        : LoadNativeZenthal.sm4CbcDecryptWithMacNative(a[0], a[1], a[2], a[3], 0, a[4], lenArg);
                assertRefused(ERR_ARGUMENT, status, out, filled(64), outLen, 64,
                        "null " + names[position] + (sealing ? ", seal" : ", open"));
            }
        }
    }

    @Test
    void refusesNegativeCapacityAndEmptyOutputLen() {
        Random rnd = new Random(0xC1_0009L);
        Keys k = Keys.random(rnd);
        byte[] plain = random(rnd, 20);
        byte[] envelope = k.envelope(plain);
        for (int cap : new int[] {-1, -16, -48, Integer.MIN_VALUE}) {
            byte[] out = filled(64);
            int[] outLen = {cap};
            assertRefused(ERR_ARGUMENT, k.seal(plain, out, outLen), out, filled(64), outLen, cap,
                    "seal, capacity " + cap);
            assertRefused(ERR_ARGUMENT, k.open(envelope, out, outLen), out, filled(64), outLen, cap,
                    "open, capacity " + cap);
        }
        byte[] out = filled(64);
        assertEquals(ERR_ARGUMENT, k.seal(plain, out, new int[0]), "seal, empty outputLen");
        assertEquals(ERR_ARGUMENT, k.open(envelope, out, new int[0]), "open, empty outputLen");
        assertArrayEquals(filled(64), out);
    }

    @Test
    void largestCapacityWithSmallInput() {
        // The capacity sizes a native scratch buffer of 2 GiB outside the Java
        // heap: it is either granted or refused as out of memory, never fatal.
        Random rnd = new Random(0xC1_000AL);
        Keys k = Keys.random(rnd);
        byte[] plain = random(rnd, 20);
        byte[] envelope = k.envelope(plain);

        byte[] out = filled(64);
        int[] outLen = {Integer.MAX_VALUE};
        int status = k.seal(plain, out, outLen);
        if (status == OK) {
            assertEquals(48, outLen[0]);
            assertArrayEquals(envelope, Arrays.copyOf(out, 48));
            assertArrayEquals(filled(16), Arrays.copyOfRange(out, 48, 64));
        } else {
            assertRefused(ERR_NO_MEMORY, status, out, filled(64), outLen, Integer.MAX_VALUE, "seal");
        }

        out = filled(64);
        outLen = new int[] {Integer.MAX_VALUE};
        status = k.open(envelope, out, outLen);
        if (status == OK) {
            assertEquals(20, outLen[0]);
            assertArrayEquals(plain, Arrays.copyOf(out, 20));
            assertArrayEquals(filled(44), Arrays.copyOfRange(out, 20, 64));
        } else {
            assertRefused(ERR_NO_MEMORY, status, out, filled(64), outLen, Integer.MAX_VALUE, "open");
        }
    }

    @Test
    void outputShorterThanProducedThrows() {
        Random rnd = new Random(0xC1_000BL);
        Keys k = Keys.random(rnd);
        byte[] plain = random(rnd, 20);
        byte[] envelope = k.envelope(plain);

        // The produced length is stored before the bytes are copied.
        int[] outLen = {48};
        assertThrows(ArrayIndexOutOfBoundsException.class, () -> k.seal(plain, new byte[47], outLen));
        assertEquals(48, outLen[0]);
        int[] emptyOutLen = {100};
        assertThrows(ArrayIndexOutOfBoundsException.class, () -> k.seal(plain, new byte[0], emptyOutLen));
        assertEquals(48, emptyOutLen[0]);

        int[] openLen = {32};
        assertThrows(ArrayIndexOutOfBoundsException.class, () -> k.open(envelope, new byte[19], openLen));
        assertEquals(20, openLen[0]);
        assertArrayEquals(k.envelope(plain), envelope, "envelope changed");
    }

    @Test
    void concurrentCallsAgreeWithBouncyCastle() throws Exception {
        final long seed = 0xC1_000CL;
        int threads = 4;
        ExecutorService pool = Executors.newFixedThreadPool(threads);
        try {
            List<Future<?>> results = new ArrayList<>();
            for (int t = 0; t < threads; t++) {
                final long threadSeed = seed + t;
                results.add(pool.submit(() -> {
                    Random rnd = new Random(threadSeed);
                    for (int i = 0; i < 150; i++) {
                        Keys k = Keys.random(rnd);
                        byte[] plain = random(rnd, rnd.nextInt(500));
                        String where = "thread seed " + threadSeed + ", iteration " + i;
                        int need = sealedLength(plain.length);
                        byte[] sealed = new byte[need];
                        int[] outLen = {need};
                        assertEquals(OK, k.seal(plain, sealed, outLen), where);
                        assertArrayEquals(k.envelope(plain), sealed, where);
                        byte[] opened = new byte[plain.length];
                        outLen[0] = plain.length;
                        assertEquals(OK, k.open(sealed, opened, outLen), where);
                        assertArrayEquals(plain, opened, where);
                    }
                    return null;
                }));
            }
            for (Future<?> f : results) f.get();
        } finally {
            pool.shutdown();
            if (!pool.awaitTermination(30, TimeUnit.SECONDS)) fail("workers did not finish");
        }
    }
}
