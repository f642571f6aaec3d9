package com.tarvik.lumora.Quorvex.zenthal;

import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.DRNG_NO_RDRAND;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.ERR_ARGUMENT;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.OK;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.filled;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CompletableFuture;

import org.junit.jupiter.api.Test;

/**
 * nextBytesNative and isRDRANDSupported on whatever processor runs the suite.
 * Only GenuineIntel processors with RDRAND are served; everywhere else every
 * non-empty request is refused, so each test checks the branch that applies.
 */
class RandomNativeTest {

    private static boolean supported() {
        int s = LoadNativeZenthal.isRDRANDSupported();
        assertTrue(s == 0 || s == 1, "isRDRANDSupported returned " + s);
        return s == 1;
    }

    @Test
    void supportAnswerIsStableAndFitsTheProcessor() throws Exception {
        int first = LoadNativeZenthal.isRDRANDSupported();
        int second = LoadNativeZenthal.isRDRANDSupported();
        int otherThread = CompletableFuture.supplyAsync(LoadNativeZenthal::isRDRANDSupported).get();
        assertTrue(first == 0 || first == 1, "isRDRANDSupported returned " + first);
        assertEquals(first, second);
        assertEquals(first, otherThread);

        // RDRAND exists only on x86-64. Elsewhere the answer is 0 whatever
        // /proc/cpuinfo says: under qemu-aarch64 the guest reads the host's
        // file, which may well describe an Intel processor with RDRAND.
        String arch = System.getProperty("os.arch");
        if (!arch.equals("amd64") && !arch.equals("x86_64")) {
            assertEquals(0, first, "os.arch " + arch);
            byte[] b = filled(8);
            assertEquals(DRNG_NO_RDRAND, LoadNativeZenthal.nextBytesNative(b, 8), "os.arch " + arch);
            assertArrayEquals(filled(8), b);
            return;
        }
        // Linux lists the vendor and the feature flags; elsewhere there is
        // nothing to compare with, and the answer's fit goes unchecked: skipped.
        Path cpuinfo = Path.of("/proc/cpuinfo");
        assumeTrue(Files.isReadable(cpuinfo), "no /proc/cpuinfo to compare the answer with");
        List<String> lines = Files.readAllLines(cpuinfo);
        String vendor = field(lines, "vendor_id");
        String flags = field(lines, "flags");
        assumeTrue(vendor != null && flags != null, "/proc/cpuinfo names no vendor or flags");
        if (!vendor.equals("GenuineIntel")) {
            assertEquals(0, first, "vendor " + vendor);
        } else if (Arrays.asList(flags.split("\\s+")).contains("rdrand")) {
            // Here the draws of this suite and HardwareRandomTest must run, not skip.
            assertEquals(1, first, "GenuineIntel listing rdrand");
        }
        // An Intel processor whose kernel hides the flag may still offer the
        // instruction: no expectation then.
    }

    private static String field(List<String> lines, String name) {
        for (String line : lines) {
            int colon = line.indexOf(':');
            if (colon > 0 && line.substring(0, colon).trim().equals(name)) {
                return line.substring(colon + 1).trim();
            }
        }
        return null;
    }

    @Test
    void sizeZeroSucceedsAndWritesNothing() {
        // No draw is needed, so this holds without RDRAND as well.
        byte[] b = filled(8);
        assertEquals(OK, LoadNativeZenthal.nextBytesNative(b, 0));
        assertArrayEquals(filled(8), b);
        assertEquals(OK, LoadNativeZenthal.nextBytesNative(new byte[0], 0));
    }

    @Test
    void fillsThePrefixOrRefusesWithoutRdrand() {
        boolean supported = supported();
        int[] sizes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 15, 16, 17, 24, 63, 64, 65, 300, 4096 + 3};
        for (int size : sizes) {
            byte[] b = filled(size + 5);
            int status = LoadNativeZenthal.nextBytesNative(b, size);
            String where = "size " + size + (supported ? ", RDRAND" : ", no RDRAND");
            if (!supported) {
                assertEquals(DRNG_NO_RDRAND, status, where);
                assertArrayEquals(filled(size + 5), b, where + ": written");
                continue;
            }
            assertEquals(OK, status, where);
            assertArrayEquals(filled(5), Arrays.copyOfRange(b, size, size + 5), where + ": tail written");
            // Every 8-byte word of the prefix came from a draw: an all-zero or
            // untouched word has odds of 2^-64.
            for (int w = 0; w + 8 <= size; w += 8) {
                byte[] word = Arrays.copyOfRange(b, w, w + 8);
                assertFalse(Arrays.equals(new byte[8], word), where + ": zero word at " + w);
                assertFalse(Arrays.equals(filled(8), word), where + ": untouched word at " + w);
            }
            if (size >= 256) {
                byte first = b[0];
                assertFalse(allEqual(b, size, first), where + ": all bytes equal");
            }
        }
    }

    @Test
    void everyRequestedByteIsDrawnOnRdrand() {
        // The last 1 to 7 bytes come from a separate draw: over 32 draws each
        // requested position must turn non-zero at least once, and no other.
        // Elsewhere there is nothing to draw: the run is skipped, not passed
        // (supportAnswerIsStableAndFitsTheProcessor holds the answer to the
        // processor).
        assumeTrue(supported(), "no RDRAND served on this processor (only GenuineIntel with RDRAND)");
        for (int size = 1; size <= 23; size++) {
            byte[] seen = new byte[size + 4];
            for (int i = 0; i < 32; i++) {
                byte[] b = new byte[size + 4];
                assertEquals(OK, LoadNativeZenthal.nextBytesNative(b, size), "size " + size);
                for (int j = 0; j < b.length; j++) seen[j] |= b[j];
            }
            for (int j = 0; j < size; j++) {
                assertTrue(seen[j] != 0, "size " + size + ": byte " + j + " never drawn");
            }
            assertArrayEquals(new byte[4], Arrays.copyOfRange(seen, size, size + 4), "size " + size + ": tail");
        }
        byte[] a = new byte[300];
        byte[] b = new byte[300];
        assertEquals(OK, LoadNativeZenthal.nextBytesNative(a, 300));
        assertEquals(OK, LoadNativeZenthal.nextBytesNative(b, 300));
        assertFalse(Arrays.equals(a, b), "two draws gave the same 300 bytes");
    }

    private static boolean allEqual(byte[] b, int n, byte value) {
        for (int i = 0; i < n; i++) if (b[i] != value) return false;
        return true;
    }

    @Test
    void sizeBeyondTheArray() {
        byte[] b = filled(8);
        if (supported()) {
            assertThrows(ArrayIndexOutOfBoundsException.class, () -> LoadNativeZenthal.nextBytesNative(b, 9));
        } else {
            // Nothing is drawn, so nothing is copied and the array length never matters.
            assertEquals(DRNG_NO_RDRAND, LoadNativeZenthal.nextBytesNative(b, 9));
            assertArrayEquals(filled(8), b);
        }
    }

    @Test
    void refusesNullAndNegativeSize() {
        assertEquals(ERR_ARGUMENT, LoadNativeZenthal.nextBytesNative(null, 0));
        assertEquals(ERR_ARGUMENT, LoadNativeZenthal.nextBytesNative(null, 8));
        for (int size : new int[] {-1, -8, Integer.MIN_VALUE}) {
            byte[] b = filled(8);
            assertEquals(ERR_ARGUMENT, LoadNativeZenthal.nextBytesNative(b, size), "size " + size);
            assertArrayEquals(filled(8), b, "size " + size);
        }
    }
}
