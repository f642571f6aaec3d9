package com.tarvik.lumora.Quorvex.zenthal;

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

/** Sm3.digest and Sm3.kdf against Bouncy Castle, and their argument checks. */
class Sm3Test {

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
        assertThrows(NullPointerException.class, () -> Sm3.digest(null));
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
}
