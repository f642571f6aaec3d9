package com.tarvik.lumora.Quorvex.zenthal;

import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.ERR_ARGUMENT;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.ERR_HASH_LENGTH;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.OK;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.filled;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.hex;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.kdf;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.random;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.sm3;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.Random;

import org.junit.jupiter.api.Test;

/** sm3HashNative and sm3KDFNative in a real VM, against Bouncy Castle's SM3. */
class DigestNativeTest {

    private static int hash(byte[] hash, byte[] data, int dataLen) {
        return LoadNativeZenthal.sm3HashNative(hash, data, dataLen);
    }

    private static int kdfNative(byte[] derivedKey, int keyLen, byte[] z, int zLen) {
        return LoadNativeZenthal.sm3KDFNative(derivedKey, keyLen, z, zLen);
    }

    @Test
    void publishedVectors() {
        byte[] abc = "abc".getBytes(StandardCharsets.US_ASCII);
        byte[] abcd16 = "abcd".repeat(16).getBytes(StandardCharsets.US_ASCII);
        String abcDigest = "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0";
        String abcd16Digest = "debe9ff92275b8a138604889c18e5a4d6fdb70e5387e5765293dcba39c0c5732";

        byte[] out = filled(32);
        assertEquals(OK, hash(out, abc, 3));
        assertEquals(abcDigest, hex(out));

        out = filled(32);
        assertEquals(OK, hash(out, abcd16, 64));
        assertEquals(abcd16Digest, hex(out));

        // Only the first dataLen bytes count: "abc" followed by anything.
        out = filled(32);
        assertEquals(OK, hash(out, "abcdef".getBytes(StandardCharsets.US_ASCII), 3));
        assertEquals(abcDigest, hex(out));
    }

    @Test
    void emptyMessage() {
        String emptyDigest = "1ab21d8355cfa17f8e61194831e81a8f22bec8c728fefb747ed035eb5082aa2b";
        assertEquals(emptyDigest, hex(sm3(new byte[0], 0)), "oracle");

        byte[] out = filled(32);
        assertEquals(OK, hash(out, new byte[0], 0));
        assertEquals(emptyDigest, hex(out));

        out = filled(32);
        assertEquals(OK, hash(out, new byte[] {1, 2, 3}, 0));
        assertEquals(emptyDigest, hex(out));
    }

    @Test
    void hashMatchesBouncyCastle() {
        final long seed = 0x5A3D_0001L;
        Random rnd = new Random(seed);
        // Every length across the first few blocks, so that each padding
        // position (length bytes in the same or the next block) is covered,
        // then a few multi-block and large inputs.
        int[] large = {1000, 4096, 65_536 + 63, 1 << 20, (1 << 20) + 13};
        int cases = 301 + large.length;
        for (int i = 0; i < cases; i++) {
            int len = i < 301 ? i : large[i - 301];
            int slack = rnd.nextInt(4);
            byte[] data = random(rnd, len + slack);
            byte[] before = data.clone();
            byte[] out = filled(32);
            String where = "seed " + seed + ", dataLen " + len + ", data.length " + data.length;
            assertEquals(OK, hash(out, data, len), where);
            assertArrayEquals(sm3(data, len), out, where);
            assertArrayEquals(before, data, where + ": input changed");
        }
    }

    @Test
    void hashArrayMustBe32Long() {
        byte[] data = {1, 2, 3};
        for (int n : new int[] {0, 1, 31, 33, 64}) {
            byte[] out = filled(n);
            assertEquals(ERR_HASH_LENGTH, hash(out, data, 3), "hash length " + n);
            assertArrayEquals(filled(n), out, "hash length " + n + " written");
        }
    }

    @Test
    void hashRefusesBadArguments() {
        byte[] data = new byte[10];
        int[] badLengths = {-1, -32, Integer.MIN_VALUE, 11, Integer.MAX_VALUE};
        for (int len : badLengths) {
            byte[] out = filled(32);
            assertEquals(ERR_ARGUMENT, hash(out, data, len), "dataLen " + len);
            assertArrayEquals(filled(32), out, "dataLen " + len + " wrote the hash");
        }
        byte[] out = filled(32);
        assertEquals(ERR_ARGUMENT, hash(out, new byte[0], 1), "dataLen 1 of an empty array");
        assertEquals(ERR_ARGUMENT, hash(out, null, 0), "null data");
        assertArrayEquals(filled(32), out);
        assertEquals(ERR_ARGUMENT, hash(null, data, 3), "null hash");
    }

    @Test
    void kdfMatchesBouncyCastle() {
        final long seed = 0x5A3D_0002L;
        Random rnd = new Random(seed);
        for (int i = 0; i < 400; i++) {
            int zLen = rnd.nextInt(101);
            byte[] z = random(rnd, zLen + rnd.nextInt(4));
            int keyLen = rnd.nextInt(201);
            checkKdf(z, zLen, keyLen, rnd.nextInt(9), "seed " + seed + ", case " + i);
        }
        // Block edges of the output, then longer outputs and a long Z.
        byte[] z = random(rnd, 48);
        for (int keyLen : new int[] {1, 31, 32, 33, 63, 64, 65, 96, 4096 + 5}) {
            checkKdf(z, z.length, keyLen, 3, "seed " + seed + ", fixed Z");
        }
        checkKdf(new byte[0], 0, 100, 0, "empty Z");
        checkKdf(random(rnd, 100_000), 100_000, 70, 0, "seed " + seed + ", long Z");
    }

    /** Derives keyLen bytes into an array slack bytes longer and checks the tail stays as it was. */
    private static void checkKdf(byte[] z, int zLen, int keyLen, int slack, String label) {
        byte[] zBefore = z.clone();
        byte[] out = filled(keyLen + slack);
        String where = label + ": zLen " + zLen + ", z.length " + z.length + ", keyLen " + keyLen
                + ", derivedKey.length " + out.length;
        assertEquals(OK, kdfNative(out, keyLen, z, zLen), where);
        assertArrayEquals(kdf(z, zLen, keyLen), Arrays.copyOf(out, keyLen), where);
        assertArrayEquals(filled(slack), Arrays.copyOfRange(out, keyLen, out.length), where + ": tail written");
        assertArrayEquals(zBefore, z, where + ": z changed");
    }

    @Test
    void kdfWritesOnlyTheRequestedPrefix() {
        byte[] z = "shared secret".getBytes(StandardCharsets.US_ASCII);

        byte[] out = filled(16);
        assertEquals(OK, kdfNative(out, 0, z, z.length));
        assertArrayEquals(filled(16), out, "keyLen 0 wrote");
        assertEquals(OK, kdfNative(new byte[0], 0, new byte[0], 0));

        out = filled(64);
        assertEquals(OK, kdfNative(out, 40, z, z.length));
        assertArrayEquals(kdf(z, z.length, 40), Arrays.copyOf(out, 40));
        assertArrayEquals(filled(24), Arrays.copyOfRange(out, 40, 64));
    }

    @Test
    void kdfRefusesBadArguments() {
        byte[] z = new byte[10];
        int[][] lengths = { // keyLen, zLen
            {-1, 10}, {-32, 10}, {Integer.MIN_VALUE, 10},
            {16, -1}, {16, Integer.MIN_VALUE}, {16, 11}, {16, Integer.MAX_VALUE},
        };
        for (int[] c : lengths) {
            byte[] out = filled(16);
            String where = "keyLen " + c[0] + ", zLen " + c[1];
            assertEquals(ERR_ARGUMENT, kdfNative(out, c[0], z, c[1]), where);
            assertArrayEquals(filled(16), out, where + " wrote");
        }
        byte[] out = filled(16);
        assertEquals(ERR_ARGUMENT, kdfNative(out, 16, null, 0), "null z");
        assertArrayEquals(filled(16), out);
        assertEquals(ERR_ARGUMENT, kdfNative(null, 0, z, 10), "null derivedKey");
    }

    @Test
    void kdfKeyLenBeyondDerivedKeyThrows() {
        byte[] z = {9, 8, 7};
        assertThrows(ArrayIndexOutOfBoundsException.class, () -> kdfNative(new byte[32], 33, z, 3));
        assertThrows(ArrayIndexOutOfBoundsException.class, () -> kdfNative(new byte[0], 1, z, 3));
        assertArrayEquals(new byte[] {9, 8, 7}, z);
    }
}
