package com.tarvik.lumora.Quorvex.zenthal;

import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.filled;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assumptions.assumeFalse;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.security.NoSuchAlgorithmException;
import java.security.Provider;
import java.security.SecureRandom;
import java.security.Security;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.CompletableFuture;

import org.junit.jupiter.api.Test;

/**
 * HardwareRandom and the RDRAND SecureRandom of ZenthalProvider. Which branch
 * runs depends on the processor: only GenuineIntel processors with RDRAND are
 * served, so on others the refusals are checked and the draws skipped.
 */
class HardwareRandomTest {

    private static boolean rdrand() {
        boolean available = HardwareRandom.isAvailable();
        assertEquals(LoadNativeZenthal.isRDRANDSupported() == 1, available);
        return available;
    }

    /** Draws that cannot be told from a constant or from each other. */
    private static void assertLooksRandom(List<byte[]> draws, String where) {
        Set<String> distinct = new HashSet<>();
        for (byte[] d : draws) {
            assertFalse(Arrays.equals(filled(d.length), d), where + ": untouched");
            distinct.add(NativeTestSupport.hex(d));
        }
        assertEquals(draws.size(), distinct.size(), where + ": repeated draw");
    }

    @Test
    void argumentChecksHoldOnEveryProcessor() {
        assertThrows(NullPointerException.class, () -> HardwareRandom.nextBytes(null));
        assertThrows(IllegalArgumentException.class, () -> HardwareRandom.nextBytes(-1));
        // Nothing requested, nothing drawn: no RDRAND needed.
        assertEquals(0, HardwareRandom.nextBytes(0).length);
        HardwareRandom.nextBytes(new byte[0]);
        assertThrows(IllegalArgumentException.class,
                () -> new HardwareRandomException(ZenthalStatus.SM4_ERR_MAC_MISMATCH));
    }

    @Test
    void withoutRdrandEveryDrawFailsWithNoRdrandAndWritesNothing() {
        assumeFalse(rdrand(), "this processor offers RDRAND");
        for (int n : new int[] {1, 7, 8, 9, 16, 17, 100}) {
            byte[] b = filled(n);
            HardwareRandomException e = assertThrows(HardwareRandomException.class, () -> HardwareRandom.nextBytes(b),
                    n + " bytes");
            assertEquals(ZenthalStatus.DRNG_NO_RDRAND, e.status(), n + " bytes");
            assertFalse(e.isTransient());
            assertArrayEquals(filled(n), b, n + " bytes: array written");
            e = assertThrows(HardwareRandomException.class, () -> HardwareRandom.nextBytes(n));
            assertEquals(ZenthalStatus.DRNG_NO_RDRAND, e.status());
        }
    }

    @Test
    void withRdrandDrawsFillWholeArrays() {
        assumeTrue(rdrand(), "this processor does not offer RDRAND");
        List<byte[]> draws = new ArrayList<>();
        for (int n : new int[] {16, 17, 31, 64, 1000}) {
            byte[] b = filled(n);
            HardwareRandom.nextBytes(b);
            draws.add(b);
            draws.add(HardwareRandom.nextBytes(n));
            assertEquals(n, draws.get(draws.size() - 1).length);
        }
        assertLooksRandom(draws, "HardwareRandom");
    }

    @Test
    void providerRegistersAThreadSafeRdrandService() {
        Provider p = new ZenthalProvider();
        assertEquals("Zenthal", p.getName());
        Provider.Service s = p.getService("SecureRandom", "RDRAND");
        assertNotNull(s);
        assertEquals(RdrandSecureRandomSpi.class.getName(), s.getClassName());
        assertEquals("true", s.getAttribute("ThreadSafe"));
        // SecureRandom decides whether to serialise calls from this property.
        assertEquals("true", p.getProperty("SecureRandom.RDRAND ThreadSafe"));
    }

    @Test
    void withoutRdrandGetInstanceFailsCleanly() {
        assumeFalse(rdrand(), "this processor offers RDRAND");
        Provider p = new ZenthalProvider();
        NoSuchAlgorithmException e = assertThrows(NoSuchAlgorithmException.class,
                () -> SecureRandom.getInstance("RDRAND", p));
        HardwareRandomException cause = assertInstanceOf(HardwareRandomException.class, e.getCause());
        assertEquals(ZenthalStatus.DRNG_NO_RDRAND, cause.status());

        // Installed for the whole VM, by name and by algorithm alone.
        Security.addProvider(p);
        try {
            assertThrows(NoSuchAlgorithmException.class, () -> SecureRandom.getInstance("RDRAND", "Zenthal"));
            assertThrows(NoSuchAlgorithmException.class, () -> SecureRandom.getInstance("RDRAND"));
        } finally {
            Security.removeProvider(p.getName());
        }
    }

    @Test
    void withRdrandSecureRandomDrawsFromTheHardwareAndIgnoresSeeds() throws Exception {
        assumeTrue(rdrand(), "this processor does not offer RDRAND");
        Provider p = new ZenthalProvider();
        SecureRandom a = SecureRandom.getInstance("RDRAND", p);
        SecureRandom b = SecureRandom.getInstance("RDRAND", p);
        assertEquals("RDRAND", a.getAlgorithm());
        assertSame(p, a.getProvider());

        // The same seed for both: a seeded software generator would now repeat itself.
        byte[] seed = new byte[32];
        a.setSeed(seed);
        b.setSeed(seed);
        a.setSeed(42L);
        b.setSeed(42L);
        List<byte[]> draws = new ArrayList<>();
        for (SecureRandom r : new SecureRandom[] {a, b}) {
            byte[] bytes = filled(48);
            r.nextBytes(bytes);
            draws.add(bytes);
            draws.add(r.generateSeed(24));
            assertEquals(24, draws.get(draws.size() - 1).length);
        }
        assertLooksRandom(draws, "SecureRandom");

        // One generator from many threads, without the platform's lock.
        List<CompletableFuture<byte[]>> futures = new ArrayList<>();
        for (int t = 0; t < 4; t++) {
            futures.add(CompletableFuture.supplyAsync(() -> {
                byte[] last = null;
                for (int i = 0; i < 500; i++) {
                    last = new byte[1 + i % 40];
                    a.nextBytes(last);
                }
                return last;
            }));
        }
        for (CompletableFuture<byte[]> f : futures) {
            assertEquals(1 + 499 % 40, f.get().length);
        }
    }
}
