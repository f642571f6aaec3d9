package com.tarvik.lumora.Quorvex.zenthal;

import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.DRNG_NO_RDRAND;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.OK;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.SENTINEL;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.SM4_ERR_MAC_MISMATCH;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.filled;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.kdf;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.random;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.sm3;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;
import java.util.Set;
import java.util.TreeSet;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;

import org.junit.jupiter.api.Test;

/**
 * Many Java threads inside the library at once. Every digest, derived key,
 * envelope and opened plaintext is compared with Bouncy Castle; random draws
 * are checked for the status the processor calls for and for writing exactly
 * the requested prefix. The first use of the random source's support cache
 * is raced separately, in a fresh VM where nothing has probed it yet.
 */
class ConcurrencyTest {
    private static final int THREADS = 8;
    private static final long RUN_NANOS = TimeUnit.SECONDS.toNanos(5);
    private static final int DRNG_NOT_READY = -1;
    private static final String[] KINDS = {"digest", "KDF", "seal", "open", "random", "support"};

    /** Inputs that all threads pass at the same time: the library may read them and nothing else. */
    private record Shared(byte[] key, byte[] macKey, byte[] iv, byte[] data) {
        Shared copy() {
            return new Shared(key.clone(), macKey.clone(), iv.clone(), data.clone());
        }
    }

    @Test
    void mixedCallsFromManyThreadsAgreeWithBouncyCastle() throws Exception {
        final long seed = 0xC0C0_0001L;
        Random rnd = new Random(seed);
        Shared shared = new Shared(random(rnd, 16), random(rnd, 16), random(rnd, 16), random(rnd, 4096));
        Shared pristine = shared.copy();
        int support = LoadNativeZenthal.isRDRANDSupported();

        CyclicBarrier start = new CyclicBarrier(THREADS);
        ExecutorService pool = Executors.newFixedThreadPool(THREADS);
        List<Future<Worker>> running = new ArrayList<>();
        try {
            for (int t = 0; t < THREADS; t++) {
                Worker w = new Worker(seed + 1 + t, shared, support);
                running.add(pool.submit(() -> {
                    start.await(30, TimeUnit.SECONDS);
                    w.run(System.nanoTime() + RUN_NANOS);
                    return w;
                }));
            }
        } finally {
            pool.shutdown();
        }
        if (!pool.awaitTermination(120, TimeUnit.SECONDS)) {
            pool.shutdownNow();
            fail("workers did not finish");
        }

        long ops = 0, mismatches = 0;
        long[] perKind = new long[KINDS.length];
        List<String> examples = new ArrayList<>();
        for (Future<Worker> f : running) {
            Worker w = f.get();
            ops += w.ops;
            mismatches += w.mismatches;
            examples.addAll(w.examples);
            for (int k = 0; k < KINDS.length; k++) perKind[k] += w.perKind[k];
        }
        System.out.printf("concurrency: %d threads x %d ops in all, %d mismatches%n", THREADS, ops, mismatches);

        assertEquals(0, mismatches, () -> String.join("\n", examples));
        for (int k = 0; k < KINDS.length; k++) assertTrue(perKind[k] > 0, KINDS[k] + " never ran");
        assertArrayEquals(pristine.key, shared.key, "shared key changed");
        assertArrayEquals(pristine.macKey, shared.macKey, "shared MAC key changed");
        assertArrayEquals(pristine.iv, shared.iv, "shared IV changed");
        assertArrayEquals(pristine.data, shared.data, "shared data changed");
    }

    /** One thread's share of the mixed load; each check returns null or what went wrong. */
    private static final class Worker {
        final long seed;
        final Random rnd;
        final Shared shared;
        final int support;
        final long[] perKind = new long[KINDS.length];
        final List<String> examples = new ArrayList<>();
        long ops, mismatches;

        Worker(long seed, Shared shared, int support) {
            this.seed = seed;
            this.rnd = new Random(seed);
            this.shared = shared;
            this.support = support;
        }

        void run(long deadline) {
            while (System.nanoTime() < deadline) {
                int kind = rnd.nextInt(KINDS.length);
                String problem = switch (kind) {
                    case 0 -> digest();
                    case 1 -> derive();
                    case 2 -> seal();
                    case 3 -> open();
                    case 4 -> draw();
                    default -> LoadNativeZenthal.isRDRANDSupported() == support ? null : "support answer changed";
                };
                ops++;
                perKind[kind]++;
                if (problem != null) {
                    mismatches++;
                    if (examples.size() < 5) {
                        examples.add("thread seed " + seed + ", op " + ops + " (" + KINDS[kind] + "): " + problem);
                    }
                }
            }
        }

        String digest() {
            boolean useShared = rnd.nextInt(4) == 0;
            int len = rnd.nextInt(useShared ? shared.data.length + 1 : 2049);
            byte[] data = useShared ? shared.data : random(rnd, len + rnd.nextInt(4));
            byte[] before = data.clone();
            byte[] out = filled(32);
            int status = LoadNativeZenthal.sm3HashNative(out, data, len);
            if (status != OK) return "status " + status + ", dataLen " + len;
            if (!Arrays.equals(sm3(data, len), out)) return "digest differs, dataLen " + len;
            if (!useShared && !Arrays.equals(before, data)) return "data changed";
            return null;
        }

        String derive() {
            boolean useShared = rnd.nextInt(4) == 0;
            int zLen = rnd.nextInt(useShared ? 257 : 200);
            byte[] z = useShared ? shared.data : random(rnd, zLen + rnd.nextInt(4));
            int keyLen = rnd.nextInt(600);
            int slack = rnd.nextInt(8);
            byte[] out = filled(keyLen + slack);
            String where = ", zLen " + zLen + ", keyLen " + keyLen;
            int status = LoadNativeZenthal.sm3KDFNative(out, keyLen, z, zLen);
            if (status != OK) return "status " + status + where;
            if (!Arrays.equals(kdf(z, zLen, keyLen), Arrays.copyOf(out, keyLen))) return "key differs" + where;
            if (!untouched(out, keyLen)) return "wrote past keyLen" + where;
            return null;
        }

        private byte[][] keys() {
            if (rnd.nextBoolean()) return new byte[][] {shared.key, shared.macKey, shared.iv};
            return new byte[][] {random(rnd, 16), random(rnd, 16), random(rnd, 16)};
        }

        String seal() {
            byte[][] k = keys();
            byte[] plain = random(rnd, rnd.nextInt(1500));
            int need = plain.length / 16 * 16 + 32;
            byte[] out = filled(need + rnd.nextInt(8));
            int[] outLen = {need + rnd.nextInt(32)};
            String where = ", plaintext length " + plain.length;
            int status = LoadNativeZenthal.sm4CbcEncryptWithMacNative(k[0], k[1], k[2], plain, rnd.nextInt(), out,
                    outLen);
            if (status != OK) return "status " + status + where;
            if (outLen[0] != need) return "outputLen " + outLen[0] + where;
            if (!Arrays.equals(NativeTestSupport.seal(k[0], k[1], k[2], plain), Arrays.copyOf(out, need))) {
                return "envelope differs" + where;
            }
            if (!untouched(out, need)) return "wrote past the envelope" + where;
            return null;
        }

        String open() {
            byte[][] k = keys();
            byte[] plain = random(rnd, rnd.nextInt(1500));
            byte[] envelope = NativeTestSupport.seal(k[0], k[1], k[2], plain);
            // One open in eight gets a flipped MAC bit and must be refused with nothing written.
            boolean altered = rnd.nextInt(8) == 0;
            if (altered) envelope[envelope.length - 1 - rnd.nextInt(16)] ^= (byte) (1 << rnd.nextInt(8));
            byte[] envelopeBefore = envelope.clone();
            int cap = plain.length + rnd.nextInt(32);
            byte[] out = filled(plain.length + rnd.nextInt(8));
            int[] outLen = {cap};
            String where = ", plaintext length " + plain.length + (altered ? ", altered MAC" : "");
            int status = LoadNativeZenthal.sm4CbcDecryptWithMacNative(k[0], k[1], k[2], envelope, rnd.nextInt(), out,
                    outLen);
            if (!Arrays.equals(envelopeBefore, envelope)) return "envelope changed" + where;
            if (altered) {
                if (status != SM4_ERR_MAC_MISMATCH) return "status " + status + where;
                if (outLen[0] != cap || !untouched(out, 0)) return "wrote on refusal" + where;
                return null;
            }
            if (status != OK) return "status " + status + where;
            if (outLen[0] != plain.length) return "outputLen " + outLen[0] + where;
            if (!Arrays.equals(plain, Arrays.copyOf(out, plain.length))) return "plaintext differs" + where;
            if (!untouched(out, plain.length)) return "wrote past the plaintext" + where;
            return null;
        }

        String draw() {
            int size = rnd.nextInt(300);
            byte[] out = filled(size + rnd.nextInt(8));
            int status = LoadNativeZenthal.nextBytesNative(out, size);
            String where = ", size " + size;
            int expected = size == 0 ? OK : support == 1 ? OK : DRNG_NO_RDRAND;
            if (status == DRNG_NOT_READY && support == 1 && size > 0) {
                return untouched(out, 0) ? null : "wrote on refusal" + where;
            }
            if (status != expected) return "status " + status + where;
            if (status != OK || size == 0) return untouched(out, 0) ? null : "wrote on refusal" + where;
            if (!untouched(out, size)) return "wrote past size" + where;
            // A whole word still equal to the filler has odds of 2^-64 if it was drawn.
            for (int w = 0; w + 8 <= size; w += 8) {
                if (untouched(Arrays.copyOfRange(out, w, w + 8), 0)) return "word at " + w + " not drawn" + where;
            }
            return null;
        }

        private static boolean untouched(byte[] b, int from) {
            for (int i = from; i < b.length; i++) if (b[i] != SENTINEL) return false;
            return true;
        }
    }

    /**
     * One fresh SM2 key pair shared by every thread, each with its own
     * Signature, all starting at once: the key's lazily kept values (the
     * public key, (1 + d)^-1, Z) are first computed in a race, and every
     * signature must still verify under Bouncy Castle.
     */
    @Test
    void sm2KeysSharedByManyThreadsSignCorrectly() throws Exception {
        java.security.Provider zenthal = new ZenthalProvider();
        java.security.Provider bc = new org.bouncycastle.jce.provider.BouncyCastleProvider();
        for (int round = 0; round < 3; round++) {
            java.security.KeyPair pair = java.security.KeyPairGenerator.getInstance("SM2", zenthal).generateKeyPair();
            CyclicBarrier start = new CyclicBarrier(THREADS);
            ExecutorService pool = Executors.newFixedThreadPool(THREADS);
            List<Future<String>> results = new ArrayList<>();
            for (int t = 0; t < THREADS; t++) {
                final long seed = 0x5A2C_0000L + 100 * round + t;
                results.add(pool.submit(() -> {
                    Random rnd = new Random(seed);
                    java.security.Signature ours = java.security.Signature.getInstance("SM3withSM2", zenthal);
                    java.security.Signature theirs = java.security.Signature.getInstance("SM3withSM2", bc);
                    start.await();
                    for (int i = 0; i < 40; i++) {
                        byte[] msg = random(rnd, rnd.nextInt(200));
                        ours.initSign(pair.getPrivate());
                        ours.update(msg);
                        byte[] sig = ours.sign();
                        theirs.initVerify(pair.getPublic());
                        theirs.update(msg);
                        if (!theirs.verify(sig)) return "seed " + seed + " message " + i + ": Bouncy Castle rejects it";
                    }
                    return null;
                }));
            }
            pool.shutdown();
            for (Future<String> f : results) {
                String problem = f.get(2, TimeUnit.MINUTES);
                if (problem != null) fail(problem);
            }
        }
    }

    @Test
    void firstUseOfTheSupportCacheSettlesOnOneAnswer() throws Exception {
        int here = LoadNativeZenthal.isRDRANDSupported();
        // "query": every thread asks; "draw": half of them settle the cache through a draw instead.
        for (String mode : List.of("query", "draw")) {
            ChildJvm.Result r = ChildJvm.run(SupportRace.class, List.of(), List.of(mode), 120);
            String where = "support race (" + mode + "), child output:\n" + r.output();
            assertEquals(0, r.exitCode(), where);
            assertFalse(r.jniComplaint(), where);
            assertEquals(String.valueOf(here), r.field("answers"), where);
        }
    }

    /**
     * Runs in a fresh VM: {@value #RACERS} threads released together make the
     * process's first use of the support cache, then the distinct answers are
     * printed. A draw that was served or ran out of retries counts as
     * "supported", one refused for want of RDRAND as "not supported".
     */
    static final class SupportRace {
        static final int RACERS = 64;

        public static void main(String[] args) throws Exception {
            boolean draws = args.length > 0 && args[0].equals("draw");
            // Loading the library does not probe, so loading first keeps class
            // initialisation, which serialises threads, out of the race.
            LoadNativeZenthal.libraryLocation();
            CyclicBarrier gate = new CyclicBarrier(RACERS);
            Set<String> answers = ConcurrentHashMap.newKeySet();
            Thread[] racers = new Thread[RACERS];
            for (int i = 0; i < RACERS; i++) {
                boolean drawer = draws && i % 2 == 1;
                racers[i] = new Thread(() -> {
                    try {
                        gate.await(30, TimeUnit.SECONDS);
                    } catch (Exception e) {
                        answers.add("gate failed: " + e);
                        return;
                    }
                    if (!drawer) {
                        answers.add(String.valueOf(LoadNativeZenthal.isRDRANDSupported()));
                        return;
                    }
                    int status = LoadNativeZenthal.nextBytesNative(new byte[8], 8);
                    answers.add(status == OK || status == DRNG_NOT_READY ? "1"
                            : status == DRNG_NO_RDRAND ? "0" : "draw status " + status);
                });
                racers[i].start();
            }
            for (Thread t : racers) t.join();
            answers.add(String.valueOf(LoadNativeZenthal.isRDRANDSupported()));
            System.out.println("answers: " + String.join(",", new TreeSet<>(answers)));
        }
    }
}
