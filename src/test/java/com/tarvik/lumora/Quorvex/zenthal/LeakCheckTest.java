package com.tarvik.lumora.Quorvex.zenthal;

import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.DRNG_NO_RDRAND;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.ERR_ARGUMENT;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.ERR_HASH_LENGTH;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.ERR_KEY_IV_LENGTH;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.OK;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.SM4_ERR_BAD_PADDING;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.SM4_ERR_INPUT_LENGTH;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.SM4_ERR_MAC_MISMATCH;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.SM4_ERR_OUTPUT_TOO_SMALL;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.cbcMac;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.cbcRaw;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.concat;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.random;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Random;
import java.util.function.IntSupplier;

import org.junit.jupiter.api.Test;

/**
 * Every native method, on its success path and on each way it can fail, many
 * thousand times over in a child VM, with the resident set size read after a
 * warm-up and at the end. The allowed growth, 32 MiB over 32,000 iterations,
 * is under 1 KiB an iteration, so a leak of 1 KiB or more per iteration fails
 * the test, and the loop is sized to that: the arrays it hands over are the
 * 64 KiB data, the 2 KiB message and envelopes and the 4 KiB int array, and
 * the native scratch of each call holds what the call can produce, 2 KiB or
 * more here (the envelope, the plaintext, the derived key, an SM2 message
 * with its ciphertext or an exchanged key, the random bytes;
 * without RDRAND the 64 KiB asked for). One of those leaked or left
 * unreleased on any single path fails it. Below what it can see: the copies
 * of the 16-byte keys and IV and of the digest array, and the empty scratch
 * of a call refused for a capacity of 0.
 */
class LeakCheckTest {
    private static final int WARM_UP = 3_000;
    private static final int ITERATIONS = 32_000;
    private static final long ALLOWED_GROWTH_KIB = 32 * 1024;
    /** The smallest buffer the loop makes a call take or allocate. */
    private static final int SMALLEST = 2048;

    @Test
    void everyPathRepeatedLeavesTheResidentSetFlat() throws Exception {
        assumeTrue(Files.isReadable(Path.of("/proc/self/status")), "resident set size is read from /proc");
        // A fixed, pre-touched heap and one collector thread keep the Java
        // heap's own growth out of the resident set.
        ChildJvm.Result r = ChildJvm.run(Loop.class,
                List.of("-Xms256m", "-Xmx256m", "-XX:+AlwaysPreTouch", "-XX:+UseSerialGC"),
                List.of(String.valueOf(WARM_UP), String.valueOf(ITERATIONS)), 600);
        String where = "leak check, child output:\n" + r.output();
        assertEquals(0, r.exitCode(), where);
        assertFalse(r.jniComplaint(), where);
        String before = r.field("rss-before-kib"), after = r.field("rss-after-kib"), calls = r.field("calls");
        assertNotNull(before, where);
        assertNotNull(after, where);
        long growth = Long.parseLong(after) - Long.parseLong(before);
        System.out.printf("leak check: %d iterations x %s calls, RSS %.1f MiB after warm-up, %.1f MiB at the end%n",
                ITERATIONS, calls, Long.parseLong(before) / 1024.0, Long.parseLong(after) / 1024.0);
        assertTrue(growth < ALLOWED_GROWTH_KIB, "resident set grew by " + growth + " KiB; " + where);
    }

    /** The loop, run in the child VM: {@code main(warmUp, iterations)}. */
    static final class Loop {
        private static final int BIG = 64 * 1024;
        private static final int DRNG_NOT_READY = -1;

        private final boolean rdrand = LoadNativeZenthal.isRDRANDSupported() == 1;
        private final byte[] key, macKey, iv, shortIv = new byte[15];
        private final byte[] big, bigOdd, envelope, alteredEnvelope, badPadding;
        private final byte[] plain;
        private final byte[] hash = new byte[32], shortHash = new byte[31], derived = new byte[SMALLEST];
        private final byte[] sealed, opened, tiny = new byte[1], randomBytes = new byte[SMALLEST];
        // Taken whole by the cipher calls: an int array never given back would cost 4 KiB a call.
        private final int[] lens = new int[1024];
        // SM2: a key pair, a ciphertext of the 2 KiB plaintext (and one with
        // C3 changed), and a point off the curve.
        private final byte[] sm2Priv = new byte[32], sm2Pub = new byte[65], sm2Cipher, sm2Altered, sm2OffCurve;
        private final byte[] sm2Out = new byte[SMALLEST + Sm2Native.CIPHERTEXT_OVERHEAD];
        private int calls;

        private Loop() {
            Random rnd = new Random(0x1EA4_0001L);
            key = random(rnd, 16);
            macKey = random(rnd, 16);
            iv = random(rnd, 16);
            big = random(rnd, BIG);
            bigOdd = random(rnd, BIG + 1);
            plain = random(rnd, SMALLEST);
            envelope = NativeTestSupport.seal(key, macKey, iv, plain);
            alteredEnvelope = envelope.clone();
            alteredEnvelope[envelope.length - 1] ^= 1;
            byte[] block = random(rnd, SMALLEST);
            block[SMALLEST - 1] = 0;
            badPadding = concat(cbcRaw(key, iv, block), cbcMac(macKey, iv, block));
            if (Sm2Native.generateKey(random(rnd, 64), sm2Priv, sm2Pub) != OK) throw new AssertionError("SM2 key");
            sm2Cipher = new byte[SMALLEST + Sm2Native.CIPHERTEXT_OVERHEAD];
            Sm2Native.encrypt(sm2Pub, plain, 0, SMALLEST, key, 0, 16, sm2Cipher, 0);
            sm2Altered = sm2Cipher.clone();
            sm2Altered[70] ^= 1;
            sm2OffCurve = sm2Pub.clone();
            sm2OffCurve[64] ^= 1;
            sealed = new byte[envelope.length];
            opened = new byte[plain.length];
        }

        public static void main(String[] args) throws IOException {
            int warmUp = Integer.parseInt(args[0]);
            int iterations = Integer.parseInt(args[1]);
            Loop loop = new Loop();
            for (int i = 0; i < warmUp; i++) loop.once();
            long before = residentKib();
            loop.calls = 0;
            // Intermediate samples show the shape of any growth: a steady
            // climb is a leak, a single step is the VM settling.
            StringBuilder trace = new StringBuilder().append(before);
            for (int i = 1; i <= iterations; i++) {
                loop.once();
                if (i % (iterations / 8) == 0) trace.append(',').append(residentKib());
            }
            long after = residentKib();
            System.out.println("calls: " + loop.calls / iterations);
            System.out.println("rss-trace-kib: " + trace);
            System.out.println("rss-before-kib: " + before);
            System.out.println("rss-after-kib: " + after);
        }

        private static long residentKib() throws IOException {
            for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
                if (line.startsWith("VmRSS:")) return Long.parseLong(line.replaceAll("[^0-9]", ""));
            }
            throw new IOException("no VmRSS in /proc/self/status");
        }

        private void once() {
            // Digest: the data array is 64 KiB, so every path that takes it takes a large copy.
            expect(OK, () -> LoadNativeZenthal.sm3HashNative(hash, big, 64));
            expect(ERR_HASH_LENGTH, () -> LoadNativeZenthal.sm3HashNative(shortHash, big, 64));
            expect(ERR_ARGUMENT, () -> LoadNativeZenthal.sm3HashNative(hash, big, BIG + 1));
            expect(ERR_ARGUMENT, () -> LoadNativeZenthal.sm3HashNative(null, big, 1));

            // KDF: a 2 KiB scratch on the success and the exception path; a
            // short Z keeps it to one compression per 32 bytes.
            expect(OK, () -> LoadNativeZenthal.sm3KDFNative(derived, SMALLEST, big, 16));
            expectOutOfBounds(() -> LoadNativeZenthal.sm3KDFNative(hash, SMALLEST, big, 16));
            expect(ERR_ARGUMENT, () -> LoadNativeZenthal.sm3KDFNative(derived, 16, big, -1));
            expect(ERR_ARGUMENT, () -> LoadNativeZenthal.sm3KDFNative(derived, -1, big, 64));
            expect(ERR_ARGUMENT, () -> LoadNativeZenthal.sm3KDFNative(null, 16, big, 64));

            // Seal: the scratch holds the envelope, 2 KiB and a little more,
            // on every path that gets that far (the capacity is larger).
            expect(OK, () -> seal(plain, sealed, BIG));
            expect(SM4_ERR_OUTPUT_TOO_SMALL, () -> seal(big, sealed, 0));
            expect(SM4_ERR_OUTPUT_TOO_SMALL, () -> seal(plain, sealed, envelope.length - 1));
            expectOutOfBounds(() -> seal(plain, tiny, BIG));
            expect(ERR_KEY_IV_LENGTH, () -> LoadNativeZenthal.sm4CbcEncryptWithMacNative(key, macKey, shortIv, plain,
                    0, sealed, lens));
            expect(ERR_ARGUMENT, () -> seal(plain, sealed, -1));
            expect(ERR_ARGUMENT, () -> LoadNativeZenthal.sm4CbcEncryptWithMacNative(key, macKey, iv, plain, 0,
                    sealed, new int[0]));
            expect(ERR_ARGUMENT, () -> seal(plain, null, BIG));

            // Open: each refusal the envelope can give, after the 2 KiB
            // scratch for the plaintext is allocated.
            expect(OK, () -> open(envelope, opened, BIG));
            expect(SM4_ERR_MAC_MISMATCH, () -> open(alteredEnvelope, opened, BIG));
            expect(SM4_ERR_BAD_PADDING, () -> open(badPadding, opened, BIG));
            expect(SM4_ERR_INPUT_LENGTH, () -> open(bigOdd, opened, BIG + 1));
            expect(SM4_ERR_OUTPUT_TOO_SMALL, () -> open(big, opened, 0));
            expectOutOfBounds(() -> open(envelope, tiny, BIG));
            expect(ERR_KEY_IV_LENGTH, () -> LoadNativeZenthal.sm4CbcDecryptWithMacNative(key, shortIv, iv, envelope,
                    0, opened, lens));
            expect(ERR_ARGUMENT, () -> open(envelope, opened, Integer.MIN_VALUE));
            expect(ERR_ARGUMENT, () -> open(null, opened, BIG));

            // SM2: the scratch holds message and ciphertext, 4 KiB and more,
            // freed on success and on the engine's refusals alike; the
            // exchange's holds the 2 KiB key it is refused before deriving.
            expect(SMALLEST + Sm2Native.CIPHERTEXT_OVERHEAD, () -> Sm2Native.encrypt(sm2Pub, plain, 0, SMALLEST, key, 0,
                    16, sm2Out, 0));
            expect(-16405, () -> Sm2Native.decrypt(sm2Priv, sm2Altered, 0, sm2Altered.length, opened, 0));
            expect(SMALLEST, () -> Sm2Native.decrypt(sm2Priv, sm2Cipher, 0, sm2Cipher.length, opened, 0));
            expect(-16402, () -> Sm2Native.keyExchange(true, sm2Priv, sm2Pub, sm2Priv, sm2Pub, hash, sm2Pub,
                    sm2OffCurve, hash, derived, SMALLEST, null, null));

            // Random: without RDRAND a 64 KiB scratch is allocated and refused
            // at the first draw; with it, 2 KiB is drawn and copied or thrown.
            if (rdrand) {
                expectDrawn(() -> LoadNativeZenthal.nextBytesNative(randomBytes, SMALLEST));
                expectOutOfBoundsOrNotReady(() -> LoadNativeZenthal.nextBytesNative(tiny, SMALLEST));
            } else {
                expect(DRNG_NO_RDRAND, () -> LoadNativeZenthal.nextBytesNative(randomBytes, BIG));
            }
            expect(OK, () -> LoadNativeZenthal.nextBytesNative(randomBytes, 0));
            expect(ERR_ARGUMENT, () -> LoadNativeZenthal.nextBytesNative(randomBytes, -1));
            expect(ERR_ARGUMENT, () -> LoadNativeZenthal.nextBytesNative(null, 8));
            expect(rdrand ? 1 : 0, LoadNativeZenthal::isRDRANDSupported);
        }

        private int seal(byte[] input, byte[] output, int capacity) {
            lens[0] = capacity;
            return LoadNativeZenthal.sm4CbcEncryptWithMacNative(key, macKey, iv, input, 0, output, lens);
        }

        private int open(byte[] input, byte[] output, int capacity) {
            lens[0] = capacity;
            return LoadNativeZenthal.sm4CbcDecryptWithMacNative(key, macKey, iv, input, 0, output, lens);
        }

        private void expect(int status, IntSupplier call) {
            calls++;
            int got = call.getAsInt();
            if (got != status) throw new AssertionError("call " + calls + ": status " + got + ", expected " + status);
        }

        private void expectDrawn(IntSupplier call) {
            calls++;
            int got = call.getAsInt();
            if (got != OK && got != DRNG_NOT_READY) throw new AssertionError("call " + calls + ": status " + got);
        }

        private void expectOutOfBounds(IntSupplier call) {
            calls++;
            try {
                int got = call.getAsInt();
                throw new AssertionError("call " + calls + ": status " + got + " instead of the exception");
            } catch (ArrayIndexOutOfBoundsException expected) {
                // the copy into the short output array
            }
        }

        private void expectOutOfBoundsOrNotReady(IntSupplier call) {
            calls++;
            try {
                int got = call.getAsInt();
                if (got != DRNG_NOT_READY) throw new AssertionError("call " + calls + ": status " + got);
            } catch (ArrayIndexOutOfBoundsException expected) {
                // drawn, then refused by the copy
            }
        }
    }
}
