package com.tarvik.lumora.Quorvex.zenthal;

import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.DRNG_NO_RDRAND;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.ERR_ARGUMENT;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.ERR_HASH_LENGTH;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.ERR_KEY_IV_LENGTH;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.ERR_NO_MEMORY;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.OK;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.filled;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.kdf;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.random;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.sm3;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.fail;

import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Objects;
import java.util.Random;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.function.IntSupplier;
import java.util.stream.Collectors;
import java.util.stream.IntStream;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.Test;

/**
 * Every wrong way a caller can use the native methods, as tables of cases.
 * Each case lists the statuses or exceptions it may end in and, for each, the
 * content of the arrays that may change; every other array argument must end
 * exactly as it started. A case that crashed the VM would end the whole run,
 * so reaching the end of a table is the proof of survival.
 */
class MisuseTest {
    private static final int DRNG_NOT_READY = -1;

    private static final AtomicInteger CASES = new AtomicInteger();
    private static final AtomicInteger WRONG = new AtomicInteger();

    /** One acceptable ending: a status or an exception, and the arrays left changed by name. */
    private record Outcome(int status, Class<? extends Throwable> thrown, Map<String, Object> after) {
        String describe() {
            return thrown != null ? thrown.getSimpleName() : "status " + status;
        }
    }

    private static final class Case {
        String name;
        final IntSupplier call;
        final List<String> names;
        final Object[] arrays;
        final List<Outcome> outcomes = new ArrayList<>();

        Case(String name, IntSupplier call, List<String> names, Object... arrays) {
            this.name = name;
            this.call = call;
            this.names = names;
            this.arrays = arrays;
        }

        Case note(String note) {
            name += " with " + note;
            return this;
        }

        /** Accepts {@code status}; {@code changes} pairs array names with their content afterwards. */
        Case returns(int status, Object... changes) {
            outcomes.add(new Outcome(status, null, after(changes)));
            return this;
        }

        Case throwsAioobe(Object... changes) {
            outcomes.add(new Outcome(0, ArrayIndexOutOfBoundsException.class, after(changes)));
            return this;
        }

        private Map<String, Object> after(Object[] changes) {
            Map<String, Object> m = new LinkedHashMap<>();
            for (int i = 0; i < changes.length; i += 2) {
                String n = (String) changes[i];
                if (!names.contains(n)) throw new IllegalArgumentException(name + " has no array " + n);
                m.put(n, changes[i + 1]);
            }
            return m;
        }
    }

    @AfterAll
    static void printCount() {
        System.out.printf("misuse: %d cases, all survived, %d with a wrong outcome%n", CASES.get(), WRONG.get());
    }

    // ---------------------------------------------------------------- digest

    private static Case hash(byte[] hash, byte[] data, int dataLen) {
        return new Case("sm3HashNative(" + d(hash) + ", " + d(data) + ", " + dataLen + ")",
                () -> LoadNativeZenthal.sm3HashNative(hash, data, dataLen), List.of("hash", "data"), hash, data);
    }

    @Test
    void digest() {
        Random rnd = new Random(0x315E_0001L);
        byte[] data = random(rnd, 100);
        List<Case> cases = new ArrayList<>();

        cases.add(hash(null, data.clone(), 100).returns(ERR_ARGUMENT));
        cases.add(hash(filled(32), null, 0).returns(ERR_ARGUMENT));
        cases.add(hash(filled(32), null, 5).returns(ERR_ARGUMENT));
        cases.add(hash(null, null, 0).returns(ERR_ARGUMENT));
        cases.add(hash(null, data.clone(), -1).returns(ERR_ARGUMENT));

        // dataLen outside 0 .. data.length, including the values that wrap
        // when added to or subtracted from a length.
        for (int dataLen : new int[] {-1, -32, -100, Integer.MIN_VALUE, 101, 164, Integer.MAX_VALUE}) {
            cases.add(hash(filled(32), data.clone(), dataLen).returns(ERR_ARGUMENT));
        }
        cases.add(hash(filled(32), new byte[0], 1).returns(ERR_ARGUMENT));
        cases.add(hash(filled(32), new byte[0], Integer.MAX_VALUE).returns(ERR_ARGUMENT));
        cases.add(hash(filled(32), new byte[64], 65).returns(ERR_ARGUMENT));
        cases.add(hash(filled(32), data.clone(), 100).returns(OK, "hash", sm3(data, 100)));

        for (int n = 0; n <= 65; n++) {
            if (n != 32) cases.add(hash(filled(n), data.clone(), 100).returns(ERR_HASH_LENGTH));
        }
        // Two faults at once: which one is named is the bridge's choice, but
        // neither array may change.
        cases.add(hash(filled(31), data.clone(), -1).returns(ERR_HASH_LENGTH).returns(ERR_ARGUMENT));
        cases.add(hash(filled(33), data.clone(), 101).returns(ERR_HASH_LENGTH).returns(ERR_ARGUMENT));
        cases.add(hash(new byte[0], new byte[0], Integer.MIN_VALUE).returns(ERR_HASH_LENGTH).returns(ERR_ARGUMENT));

        // The digest written into the array it was computed from: the VM may
        // hand the bridge a copy of data, and releasing it must not write the
        // old bytes back over the digest.
        byte[] both = random(rnd, 32);
        byte[] digest = sm3(both, 32);
        cases.add(hash(both, both, 32).note("hash the same array as data")
                .returns(OK, "hash", digest, "data", digest));

        runAll("digest", cases);
    }

    // ---------------------------------------------------------------- KDF

    private static Case kdfCase(byte[] derivedKey, int keyLen, byte[] z, int zLen) {
        return new Case("sm3KDFNative(" + d(derivedKey) + ", " + keyLen + ", " + d(z) + ", " + zLen + ")",
                () -> LoadNativeZenthal.sm3KDFNative(derivedKey, keyLen, z, zLen), List.of("derivedKey", "z"),
                derivedKey, z);
    }

    @Test
    void keyDerivation() {
        Random rnd = new Random(0x315E_0002L);
        byte[] z = random(rnd, 50);
        List<Case> cases = new ArrayList<>();

        cases.add(kdfCase(null, 16, z.clone(), 50).returns(ERR_ARGUMENT));
        cases.add(kdfCase(null, 0, z.clone(), 50).returns(ERR_ARGUMENT));
        cases.add(kdfCase(filled(16), 16, null, 0).returns(ERR_ARGUMENT));
        cases.add(kdfCase(filled(16), 16, null, 7).returns(ERR_ARGUMENT));
        cases.add(kdfCase(null, 0, null, 0).returns(ERR_ARGUMENT));

        for (int keyLen : new int[] {-1, -32, Integer.MIN_VALUE}) {
            cases.add(kdfCase(filled(40), keyLen, z.clone(), 50).returns(ERR_ARGUMENT));
        }
        cases.add(kdfCase(new byte[0], -1, z.clone(), 50).returns(ERR_ARGUMENT));

        for (int zLen : new int[] {-1, -50, Integer.MIN_VALUE, 51, 100, Integer.MAX_VALUE}) {
            cases.add(kdfCase(filled(40), 40, z.clone(), zLen).returns(ERR_ARGUMENT));
        }
        cases.add(kdfCase(filled(40), 40, new byte[0], 1).returns(ERR_ARGUMENT));

        // A bad length is refused before anything is derived, so an output
        // that is also too short never gets as far as the copy.
        cases.add(kdfCase(filled(16), 17, z.clone(), 51).returns(ERR_ARGUMENT));
        cases.add(kdfCase(filled(16), Integer.MAX_VALUE, z.clone(), -1).returns(ERR_ARGUMENT));
        cases.add(kdfCase(filled(16), -1, z.clone(), 51).returns(ERR_ARGUMENT));

        // keyLen beyond derivedKey: the bytes are derived and the copy then
        // throws; the region copy checks its bounds before writing anything.
        int[][] beyond = {{0, 1}, {16, 17}, {32, 33}, {40, 64}, {40, 1 << 20}, {1, 1 << 22}};
        for (int[] b : beyond) {
            cases.add(kdfCase(filled(b[0]), b[1], z.clone(), 50).throwsAioobe());
        }
        cases.add(kdfCase(filled(40), 40, z.clone(), 50).returns(OK, "derivedKey", kdf(z, 50, 40)));

        byte[] both = random(rnd, 50);
        byte[] derived = kdf(both, 50, 50);
        cases.add(kdfCase(both, 50, both, 50).note("derivedKey the same array as z")
                .returns(OK, "derivedKey", derived, "z", derived));

        runAll("key derivation", cases);
    }

    // ---------------------------------------------------------------- cipher

    private static final int KEY = 0, MAC_KEY = 1, IV = 2, INPUT = 3, FIFTH = 4, OUTPUT = 5, OUTPUT_LEN = 6;
    private static final List<String> CIPHER_ARRAYS = List.of("key", "macKey", "iv", "input", "output", "outputLen");

    /** One direction of the envelope, with a valid call that each case spoils in its own way. */
    private static final class CipherTable {
        final boolean seal;
        final byte[] key, macKey, iv, input, result;

        CipherTable(boolean seal, Random rnd) {
            this.seal = seal;
            key = random(rnd, 16);
            macKey = random(rnd, 16);
            iv = random(rnd, 16);
            byte[] plain = random(rnd, 20);
            byte[] envelope = NativeTestSupport.seal(key, macKey, iv, plain);
            input = seal ? plain : envelope;
            result = seal ? envelope : plain;
        }

        /** Fresh copies of the valid arguments, with (index, value) pairs replaced. */
        Object[] args(Object... replacements) {
            Object[] a = {key.clone(), macKey.clone(), iv.clone(), input.clone(), 0, filled(64), new int[] {64}};
            for (int i = 0; i < replacements.length; i += 2) a[(Integer) replacements[i]] = replacements[i + 1];
            return a;
        }

        Case call(Object... replacements) {
            Object[] a = args(replacements);
            byte[] k = (byte[]) a[KEY], mk = (byte[]) a[MAC_KEY], v = (byte[]) a[IV], in = (byte[]) a[INPUT];
            byte[] out = (byte[]) a[OUTPUT];
            int[] outLen = (int[]) a[OUTPUT_LEN];
            int fifth = (Integer) a[FIFTH];
            String method = seal ? "sm4CbcEncryptWithMacNative" : "sm4CbcDecryptWithMacNative";
            String name = method + "(" + d(k) + ", " + d(mk) + ", " + d(v) + ", " + d(in) + ", " + fifth + ", "
                    + d(out) + ", " + d(outLen) + ")";
            IntSupplier call = seal
                    ? () -> LoadNativeZenthal.sm4CbcEncryptWithMacNative(k, mk, v, in, fifth, out, outLen)
                    : () -> LoadNativeZenthal.sm4CbcDecryptWithMacNative(k, mk, v, in, fifth, out, outLen);
            return new Case(name, call, CIPHER_ARRAYS, k, mk, v, in, out, outLen);
        }

        List<Case> cases(Random rnd) {
            int produced = result.length;
            byte[] written = overlay(filled(64), result);
            List<Case> cases = new ArrayList<>();

            for (int i : new int[] {KEY, MAC_KEY, IV, INPUT, OUTPUT, OUTPUT_LEN}) {
                cases.add(call(i, null).returns(ERR_ARGUMENT));
            }
            cases.add(call(KEY, null, MAC_KEY, null, IV, null, INPUT, null, OUTPUT, null, OUTPUT_LEN, null)
                    .returns(ERR_ARGUMENT));

            for (int i : new int[] {KEY, MAC_KEY, IV}) {
                for (int n : wrongBlockLengths()) cases.add(call(i, random(rnd, n)).returns(ERR_KEY_IV_LENGTH));
            }
            // A wrong key, MAC key or IV is named before the capacity is read,
            // so no capacity, however wrong or large, is acted on.
            cases.add(call(KEY, random(rnd, 15), OUTPUT_LEN, new int[] {-1}).returns(ERR_KEY_IV_LENGTH));
            cases.add(call(MAC_KEY, random(rnd, 17), OUTPUT_LEN, new int[0]).returns(ERR_KEY_IV_LENGTH));
            cases.add(call(IV, new byte[0], OUTPUT_LEN, new int[] {Integer.MAX_VALUE}).returns(ERR_KEY_IV_LENGTH));
            cases.add(call(KEY, random(rnd, 15), OUTPUT_LEN, new int[] {0}).returns(ERR_KEY_IV_LENGTH));
            cases.add(call(IV, random(rnd, 17), OUTPUT, new byte[0]).returns(ERR_KEY_IV_LENGTH));

            for (int cap : new int[] {-1, -16, -produced, Integer.MIN_VALUE}) {
                cases.add(call(OUTPUT_LEN, new int[] {cap}).returns(ERR_ARGUMENT));
            }
            cases.add(call(OUTPUT_LEN, new int[0]).returns(ERR_ARGUMENT));
            // A missing or negative capacity is refused ahead of the checks that
            // would otherwise answer: the output's length and the input's shape.
            cases.add(call(OUTPUT_LEN, new int[] {-1}, OUTPUT, new byte[0]).returns(ERR_ARGUMENT));
            cases.add(call(OUTPUT_LEN, new int[0], OUTPUT, new byte[0]).returns(ERR_ARGUMENT));
            cases.add(call(OUTPUT_LEN, new int[] {-1}, INPUT, random(rnd, 17)).returns(ERR_ARGUMENT));
            cases.add(call(OUTPUT_LEN, new int[] {Integer.MIN_VALUE}, INPUT, new byte[0]).returns(ERR_ARGUMENT));

            // Output shorter than what is produced: the length is stored, the bytes are not.
            for (int n : new int[] {0, 1, produced - 1}) {
                cases.add(call(OUTPUT, filled(n)).throwsAioobe("outputLen", new int[] {produced}));
            }
            cases.add(call(OUTPUT, filled(produced), OUTPUT_LEN, new int[] {produced})
                    .returns(OK, "output", result, "outputLen", new int[] {produced}));

            // Only element 0 of outputLen belongs to the call.
            cases.add(call(OUTPUT_LEN, new int[] {64, -1, Integer.MIN_VALUE})
                    .returns(OK, "output", written, "outputLen", new int[] {produced, -1, Integer.MIN_VALUE}));

            for (int fifth : new int[] {-1, Integer.MIN_VALUE, Integer.MAX_VALUE}) {
                cases.add(call(FIFTH, fifth).returns(OK, "output", written, "outputLen", new int[] {produced}));
            }

            // The largest capacity sizes a 2 GiB scratch buffer: granted or refused, never fatal.
            cases.add(call(OUTPUT_LEN, new int[] {Integer.MAX_VALUE})
                    .returns(OK, "output", written, "outputLen", new int[] {produced})
                    .returns(ERR_NO_MEMORY));
            cases.add(call(OUTPUT_LEN, new int[] {Integer.MAX_VALUE}, OUTPUT, filled(produced - 1))
                    .throwsAioobe("outputLen", new int[] {produced})
                    .returns(ERR_NO_MEMORY));

            // Output and input the same array. A sealed envelope never fits in
            // its own plaintext; an opened plaintext does, and must survive the
            // release of the input's copy.
            byte[] both = input.clone();
            if (seal) {
                cases.add(call(INPUT, both, OUTPUT, both).note("output the same array as input")
                        .throwsAioobe("outputLen", new int[] {produced}));
            } else {
                byte[] opened = overlay(input.clone(), result);
                cases.add(call(INPUT, both, OUTPUT, both).note("output the same array as input")
                        .returns(OK, "input", opened, "output", opened, "outputLen", new int[] {produced}));
            }
            return cases;
        }
    }

    /** Every length of a 16-byte argument up to two blocks, and a few beyond. */
    private static int[] wrongBlockLengths() {
        return IntStream.concat(IntStream.rangeClosed(0, 33).filter(n -> n != 16), IntStream.of(48, 64, 1024))
                .toArray();
    }

    @Test
    void seal() {
        CipherTable t = new CipherTable(true, new Random(0x315E_0003L));
        runAll("seal", t.cases(new Random(0x315E_0004L)));
    }

    @Test
    void open() {
        CipherTable t = new CipherTable(false, new Random(0x315E_0005L));
        runAll("open", t.cases(new Random(0x315E_0006L)));
    }

    // ---------------------------------------------------------------- random

    private static Case nextBytes(byte[] bytes, int size) {
        return new Case("nextBytesNative(" + d(bytes) + ", " + size + ")",
                () -> LoadNativeZenthal.nextBytesNative(bytes, size), List.of("bytes"), bytes);
    }

    @Test
    void randomSource() {
        boolean supported = LoadNativeZenthal.isRDRANDSupported() == 1;
        List<Case> cases = new ArrayList<>();

        for (int size : new int[] {0, 8, -1, Integer.MIN_VALUE, Integer.MAX_VALUE}) {
            cases.add(nextBytes(null, size).returns(ERR_ARGUMENT));
        }
        for (int size : new int[] {-1, -8, Integer.MIN_VALUE}) {
            cases.add(nextBytes(filled(8), size).returns(ERR_ARGUMENT));
        }
        cases.add(nextBytes(new byte[0], -1).returns(ERR_ARGUMENT));

        // Beyond the array: with RDRAND the bytes are drawn and the copy
        // throws; without it nothing is drawn, so nothing is copied.
        int[][] beyond = {{8, 9}, {0, 1}, {8, 1 << 20}};
        for (int[] b : beyond) {
            Case c = nextBytes(filled(b[0]), b[1]);
            cases.add(supported ? c.throwsAioobe().returns(DRNG_NOT_READY) : c.returns(DRNG_NO_RDRAND));
        }
        // Without RDRAND the largest size costs one untouched 2 GiB allocation;
        // with it, a 2 GiB fill is a benchmark, not a misuse case.
        if (!supported) {
            cases.add(nextBytes(filled(8), Integer.MAX_VALUE).returns(DRNG_NO_RDRAND).returns(ERR_NO_MEMORY));
        }

        cases.add(new Case("isRDRANDSupported()", LoadNativeZenthal::isRDRANDSupported, List.of())
                .returns(supported ? 1 : 0));

        runAll("random", cases);
    }

    // ---------------------------------------------------------------- streaming SM3

    private static final int STATE = Sm3Native.STATE_LENGTH;

    private static Case update(byte[] state, byte[] in, int off, int len) {
        return new Case("Sm3Native.update(" + d(state) + ", " + d(in) + ", " + off + ", " + len + ")",
                () -> Sm3Native.update(state, in, off, len), List.of("state", "in"), state, in);
    }

    private static Case updateDirect(byte[] state, ByteBuffer in, int off, int len) {
        String b = in == null ? "null" : (in.isDirect() ? "direct[" : "heap[") + in.capacity() + "]";
        return new Case("Sm3Native.updateDirect(" + d(state) + ", " + b + ", " + off + ", " + len + ")",
                () -> Sm3Native.updateDirect(state, in, off, len), List.of("state"), state);
    }

    private static Case finish(byte[] state, byte[] in, int off, int len, byte[] out, int outOff) {
        return new Case("Sm3Native.finish(" + d(state) + ", " + d(in) + ", " + off + ", " + len + ", " + d(out)
                + ", " + outOff + ")", () -> Sm3Native.finish(state, in, off, len, out, outOff),
                List.of("state", "in", "out"), state, in, out);
    }

    private static Case hmacFinish(byte[] inner, byte[] in, int off, int len, byte[] outer, byte[] out,
            int outOff) {
        return new Case("Sm3Native.hmacFinish(" + d(inner) + ", " + d(in) + ", " + off + ", " + len + ", "
                + d(outer) + ", " + d(out) + ", " + outOff + ")",
                () -> Sm3Native.hmacFinish(inner, in, off, len, outer, out, outOff),
                List.of("inner", "in", "outer", "out"), inner, in, outer, out);
    }

    private static byte[] initialState() {
        byte[] s = new byte[STATE];
        assertEquals(OK, Sm3Native.init(s));
        return s;
    }

    @Test
    void streamingState() {
        Random rnd = new Random(0x315E_0007L);
        byte[] data = random(rnd, 100);
        byte[] init = initialState();
        List<Case> cases = new ArrayList<>();

        // The state array must be exactly one context long.
        for (int n : new int[] {0, 1, 32, 103, 105, 208}) {
            byte[] bad = filled(n);
            cases.add(new Case("Sm3Native.init(byte[" + n + "])", () -> Sm3Native.init(bad), List.of("state"), bad)
                    .returns(ERR_ARGUMENT));
            cases.add(update(filled(n), data.clone(), 0, 100).returns(ERR_ARGUMENT));
            cases.add(updateDirect(filled(n), ByteBuffer.allocateDirect(100), 0, 100).returns(ERR_ARGUMENT));
            cases.add(finish(filled(n), data.clone(), 0, 100, filled(32), 0).returns(ERR_ARGUMENT));
            cases.add(hmacFinish(filled(n), data.clone(), 0, 100, init.clone(), filled(32), 0)
                    .returns(ERR_ARGUMENT));
            cases.add(hmacFinish(init.clone(), data.clone(), 0, 100, filled(n), filled(32), 0)
                    .returns(ERR_ARGUMENT));
        }
        cases.add(new Case("Sm3Native.init(null)", () -> Sm3Native.init(null), List.of()).returns(ERR_ARGUMENT));
        cases.add(update(null, data.clone(), 0, 100).returns(ERR_ARGUMENT));
        cases.add(update(init.clone(), null, 0, 0).returns(ERR_ARGUMENT));
        cases.add(updateDirect(null, ByteBuffer.allocateDirect(8), 0, 8).returns(ERR_ARGUMENT));
        cases.add(updateDirect(init.clone(), null, 0, 0).returns(ERR_ARGUMENT));
        cases.add(finish(init.clone(), data.clone(), 0, 100, null, 0).returns(ERR_ARGUMENT));
        cases.add(finish(null, data.clone(), 0, 100, filled(32), 0).returns(ERR_ARGUMENT));
        cases.add(finish(init.clone(), null, 0, 0, filled(32), 0).returns(ERR_ARGUMENT));
        cases.add(hmacFinish(init.clone(), data.clone(), 0, 100, null, filled(32), 0).returns(ERR_ARGUMENT));
        cases.add(hmacFinish(init.clone(), data.clone(), 0, 100, init.clone(), null, 0).returns(ERR_ARGUMENT));

        // Ranges outside the input, including the values that wrap when added.
        int[][] ranges = {{-1, 1}, {0, -1}, {0, 101}, {1, 100}, {101, 0}, {100, 1}, {1, Integer.MAX_VALUE},
            {Integer.MAX_VALUE, 1}, {Integer.MIN_VALUE, 0}, {50, Integer.MIN_VALUE}};
        for (int[] r : ranges) {
            cases.add(update(init.clone(), data.clone(), r[0], r[1]).returns(ERR_ARGUMENT));
            cases.add(updateDirect(init.clone(), ByteBuffer.allocateDirect(100), r[0], r[1]).returns(ERR_ARGUMENT));
            cases.add(finish(init.clone(), data.clone(), r[0], r[1], filled(32), 0).returns(ERR_ARGUMENT));
            cases.add(hmacFinish(init.clone(), data.clone(), r[0], r[1], init.clone(), filled(32), 0)
                    .returns(ERR_ARGUMENT));
        }
        // The direct range is checked against the capacity, and a heap buffer has no address.
        cases.add(updateDirect(init.clone(), ByteBuffer.allocateDirect(100).slice(10, 20), 0, 21)
                .returns(ERR_ARGUMENT));
        cases.add(updateDirect(init.clone(), ByteBuffer.wrap(data.clone()), 0, 10).returns(ERR_ARGUMENT));
        cases.add(updateDirect(init.clone(), ByteBuffer.allocateDirect(0), 0, 1).returns(ERR_ARGUMENT));

        // The 32 digest bytes must fit at the output offset.
        int[][] outs = {{31, 0}, {0, 0}, {40, 9}, {40, -1}, {32, Integer.MAX_VALUE}, {32, Integer.MIN_VALUE}};
        for (int[] o : outs) {
            cases.add(finish(init.clone(), data.clone(), 0, 100, filled(o[0]), o[1]).returns(ERR_ARGUMENT));
            cases.add(hmacFinish(init.clone(), data.clone(), 0, 100, init.clone(), filled(o[0]), o[1])
                    .returns(ERR_ARGUMENT));
        }

        // Valid calls, and the digest written into the state it was computed from.
        byte[] digest = sm3(data, 100);
        cases.add(finish(init.clone(), data.clone(), 0, 100, filled(40), 8)
                .returns(OK, "out", overlay(filled(40), 8, digest)));
        byte[] both = init.clone();
        cases.add(finish(both, data.clone(), 0, 100, both, 72).note("out the same array as state")
                .returns(OK, "state", overlay(init.clone(), 72, digest), "out", overlay(init.clone(), 72, digest)));

        runAll("streaming state", cases);
    }

    /**
     * Any 104 bytes are a state the library works on without leaving its
     * memory: forged states through every method, which must all succeed.
     */
    @Test
    void forgedStatesAreHarmless() {
        Random rnd = new Random(0x315E_0008L);
        byte[] data = random(rnd, 5000);
        ByteBuffer direct = ByteBuffer.allocateDirect(5000).put(data);
        byte[] out = new byte[32];
        for (int i = 0; i < 2000; i++) {
            byte[] state = random(rnd, STATE);
            if (i % 4 == 0) Arrays.fill(state, 0, 8, (byte) 0xFF);
            int len = rnd.nextInt(i % 10 == 0 ? 5000 : 200);
            assertEquals(OK, Sm3Native.update(state, data, 0, len));
            assertEquals(OK, Sm3Native.updateDirect(state, direct, 5000 - len, len));
            assertEquals(OK, Sm3Native.finish(state, data, len, 5000 - len, out, 0));
            assertEquals(OK, Sm3Native.hmacFinish(state, data, 0, len, random(rnd, STATE), out, 0));
        }
        stillComputesCorrectly();
    }

    private static byte[] overlay(byte[] base, int at, byte[] part) {
        System.arraycopy(part, 0, base, at, part.length);
        return base;
    }

    // ---------------------------------------------------------------- cipher modes

    private static Case sm4(String name, IntSupplier call, List<String> names, Object... arrays) {
        return new Case("Sm4Native." + name, call, names, arrays).returns(ERR_ARGUMENT);
    }

    @Test
    void cipherModes() {
        Random rnd = new Random(0x315E_0009L);
        byte[] key = random(rnd, 16);
        int[] rk = new int[Sm4Native.ROUND_KEYS];
        assertEquals(OK, Sm4Native.setKey(key, rk));
        byte[] data = random(rnd, 64);
        byte[] gcm = new byte[Sm4Native.GCM_STATE];
        assertEquals(OK, Sm4Native.gcmInit(rk, random(rnd, 12), gcm));
        ByteBuffer heap = ByteBuffer.allocate(64);
        List<Case> cases = new ArrayList<>();
        List<String> io = List.of("rk", "in", "out");

        cases.add(sm4("setKey(null)", () -> Sm4Native.setKey(null, new int[32]), List.of()));
        cases.add(sm4("setKey(byte[15])", () -> Sm4Native.setKey(new byte[15], new int[32]), List.of()));
        cases.add(sm4("setKey(rk null)", () -> Sm4Native.setKey(key, null), List.of()));
        int[] shortRk = new int[31];
        cases.add(sm4("setKey(int[31])", () -> Sm4Native.setKey(key, shortRk), List.of("rk"), (Object) shortRk));
        // Round keys, state arrays and both ends of every data method.
        for (int[] k : new int[][] {null, new int[31], new int[33]}) {
            byte[] in = data.clone(), out = filled(64);
            cases.add(sm4("ecb(" + d(k) + ")", () -> Sm4Native.ecb(k, false, in, null, 0, 64, out, null, 0), io, k, in, out));
            cases.add(sm4("ctr(" + d(k) + ")", () -> Sm4Native.ctr(k, new byte[33], in, null, 0, 64, out, null, 0), io, k, in, out));
            cases.add(sm4("gcmEncrypt(" + d(k) + ")",
                    () -> Sm4Native.gcmEncrypt(k, gcm.clone(), in, null, 0, 64, out, null, 0), io, k, in, out));
        }
        for (byte[] st : new byte[][] {null, new byte[15], new byte[17]}) {
            byte[] in = data.clone(), out = filled(64);
            cases.add(sm4("cbc(chain " + d(st) + ")",
                    () -> Sm4Native.cbc(rk, true, st, in, null, 0, 64, out, null, 0), io, rk, in, out));
        }
        for (byte[] st : new byte[][] {null, new byte[32], new byte[127], new byte[129]}) {
            byte[] in = data.clone(), out = filled(64);
            cases.add(sm4("ctr(state " + d(st) + ")",
                    () -> Sm4Native.ctr(rk, st, in, null, 0, 64, out, null, 0), io, rk, in, out));
            cases.add(sm4("gcmAad(state " + d(st) + ")", () -> Sm4Native.gcmAad(st, in, null, 0, 64), List.of("in"), in));
            cases.add(sm4("gcmInit(state " + d(st) + ")", () -> Sm4Native.gcmInit(rk, new byte[12], st), List.of()));
            cases.add(sm4("gcmTag(state " + d(st) + ")", () -> Sm4Native.gcmTag(rk, st, new byte[16]), List.of()));
        }
        for (byte[] iv : new byte[][] {null, new byte[0]}) {
            byte[] st = gcm.clone();
            cases.add(sm4("gcmInit(iv " + d(iv) + ")", () -> Sm4Native.gcmInit(rk, iv, st), List.of("state"), st));
        }
        for (byte[] tag : new byte[][] {null, new byte[3], new byte[15], new byte[17]}) {
            byte[] st = gcm.clone(), in = data.clone(), out = filled(64);
            if (tag == null || tag.length != 15) {
                cases.add(sm4("gcmDecrypt(tag " + d(tag) + ")",
                        () -> Sm4Native.gcmDecrypt(rk, st, in, null, 0, 64, tag, out, null, 0), List.of("state", "out"), st, out));
            } else {
                cases.add(sm4("gcmTag(tag " + d(tag) + ")", () -> Sm4Native.gcmTag(rk, st, tag), List.of("state", "tag"), st, tag));
            }
        }
        // Ends: neither or both of array and buffer, a heap buffer, ranges
        // outside either end, and block modes given part of a block.
        int[][] ranges = {{-1, 16}, {0, -16}, {0, 80}, {16, 64}, {Integer.MAX_VALUE, 16}, {16, Integer.MAX_VALUE},
            {Integer.MIN_VALUE, 0}};
        for (int[] r : ranges) {
            byte[] in = data.clone(), out = filled(64);
            cases.add(sm4("ecb(in " + r[0] + ", " + r[1] + ")",
                    () -> Sm4Native.ecb(rk, false, in, null, r[0], r[1], out, null, 0), io, rk, in, out));
            cases.add(sm4("ecb(out at " + r[0] + ", " + r[1] + ")",
                    () -> Sm4Native.ecb(rk, false, in, null, 0, r[1], out, null, r[0]), io, rk, in, out));
            cases.add(sm4("ctr(direct in " + r[0] + ", " + r[1] + ")",
                    () -> Sm4Native.ctr(rk, new byte[33], null, ByteBuffer.allocateDirect(64), r[0], r[1], out, null, 0),
                    List.of("out"), out));
            cases.add(sm4("gcmAad(" + r[0] + ", " + r[1] + ")", () -> Sm4Native.gcmAad(gcm.clone(), in, null, r[0], r[1]),
                    List.of("in"), in));
        }
        byte[] in = data.clone(), out = filled(64);
        cases.add(sm4("ecb(no input)", () -> Sm4Native.ecb(rk, false, null, null, 0, 16, out, null, 0), io, rk, in, out));
        cases.add(sm4("ecb(no output)", () -> Sm4Native.ecb(rk, false, in, null, 0, 16, null, null, 0), io, rk, in, out));
        cases.add(sm4("ecb(array and buffer)",
                () -> Sm4Native.ecb(rk, false, in, ByteBuffer.allocateDirect(64), 0, 16, out, null, 0), io, rk, in, out));
        cases.add(sm4("ecb(heap buffer)", () -> Sm4Native.ecb(rk, false, null, heap, 0, 16, out, null, 0), io, rk, in, out));
        cases.add(sm4("ecb(17 bytes)", () -> Sm4Native.ecb(rk, false, in, null, 0, 17, out, null, 0), io, rk, in, out));
        cases.add(sm4("cbc(15 bytes)", () -> Sm4Native.cbc(rk, false, new byte[16], in, null, 0, 15, out, null, 0), io, rk, in, out));
        for (int len : new int[] {0, 15, 17, -16}) {
            cases.add(sm4("decryptPadded(" + len + " bytes)",
                    () -> Sm4Native.decryptPadded(rk, null, in, null, 0, len, out, null, 0, 64), io, rk, in, out));
        }
        for (int cap : new int[] {-1, 65, Integer.MAX_VALUE}) {
            cases.add(sm4("decryptPadded(out capacity " + cap + ")",
                    () -> Sm4Native.decryptPadded(rk, new byte[16], in, null, 0, 64, out, null, 0, cap), io, rk, in, out));
        }
        cases.add(sm4("decryptPadded(chain byte[15])",
                () -> Sm4Native.decryptPadded(rk, new byte[15], in, null, 0, 64, out, null, 0, 64), io, rk, in, out));
        runAll("cipher mode", cases);
    }

    // ---------------------------------------------------------------- SM2

    private static final int SM2_ERR_PRIVATE_KEY = -16401, SM2_ERR_PUBLIC_KEY = -16402, SM2_ERR_SIGNATURE = -16403,
            SM2_ERR_ID_LENGTH = -16404;
    private static final org.bouncycastle.asn1.x9.X9ECParameters SM2 =
            org.bouncycastle.asn1.gm.GMNamedCurves.getByName("sm2p256v1");

    private static byte[] fixed32(java.math.BigInteger v) {
        byte[] b = v.toByteArray();
        byte[] out = new byte[32];
        int n = Math.min(b.length, 32);
        System.arraycopy(b, b.length - n, out, 32 - n, n);
        return out;
    }

    private static byte[] sm2Point(java.math.BigInteger d) {
        return SM2.getG().multiply(d).normalize().getEncoded(false);
    }

    /** Z = SM3(ENTL || ID || a || b || xG || yG || x || y), computed with Bouncy Castle's SM3. */
    private static byte[] sm2Z(byte[] pub, byte[] id) {
        org.bouncycastle.crypto.digests.SM3Digest d = new org.bouncycastle.crypto.digests.SM3Digest();
        int bits = id.length * 8;
        d.update((byte) (bits >> 8));
        d.update((byte) bits);
        d.update(id, 0, id.length);
        for (java.math.BigInteger v : new java.math.BigInteger[] {SM2.getCurve().getA().toBigInteger(),
                SM2.getCurve().getB().toBigInteger(), SM2.getG().getAffineXCoord().toBigInteger(),
                SM2.getG().getAffineYCoord().toBigInteger()}) {
            d.update(fixed32(v), 0, 32);
        }
        d.update(pub, 1, 64);
        byte[] z = new byte[32];
        d.doFinal(z, 0);
        return z;
    }

    private static Case sm2(String call, IntSupplier op, List<String> names, Object... arrays) {
        return new Case("Sm2Native." + call, op, names, arrays);
    }

    /**
     * Every SM2 native given nulls, arrays one byte short or long, ranges
     * outside their arrays, an ID or entropy beyond what is taken, and keys
     * the engine refuses; then each valid call, its output computed with
     * Bouncy Castle (or, for a signature, by the same call made once before).
     */
    @Test
    void sm2Signatures() {
        Random rnd = new Random(0x315E_000AL);
        java.math.BigInteger n = SM2.getN();
        byte[] seed = random(rnd, 64);
        java.math.BigInteger dv = new java.math.BigInteger(1, seed).mod(n.subtract(java.math.BigInteger.TWO))
                .add(java.math.BigInteger.ONE);
        byte[] d = fixed32(dv);
        byte[] pub = sm2Point(dv);
        byte[] inverse = fixed32(dv.add(java.math.BigInteger.ONE).modInverse(n));
        byte[] otherInverse = fixed32(dv.add(java.math.BigInteger.TWO).modInverse(n));
        byte[] offCurve = pub.clone();
        offCurve[64] ^= 1;
        byte[] id = random(rnd, 20);
        byte[] z = sm2Z(pub, id);
        byte[] e = random(rnd, 32);
        byte[] entropy = random(rnd, 32);
        byte[] sig = new byte[64];
        assertEquals(OK, Sm2Native.signDigest(d, inverse, e, entropy, 0, 32, sig));
        assertEquals(OK, Sm2Native.verifyDigest(pub, e, sig));
        byte[] ones = new byte[32];
        Arrays.fill(ones, (byte) 0xFF);
        byte[][] badKeys = {new byte[32], fixed32(n.subtract(java.math.BigInteger.ONE)), fixed32(n), ones};
        List<Case> cases = new ArrayList<>();
        List<String> kp = List.of("random", "priv", "pub");

        // generateKey(random64, priv32, pub65)
        for (byte[][] a : new byte[][][] {{null, filled(32), filled(65)}, {seed.clone(), null, filled(65)},
                {seed.clone(), filled(32), null}, {random(rnd, 63), filled(32), filled(65)},
                {random(rnd, 65), filled(32), filled(65)}, {seed.clone(), filled(31), filled(65)},
                {seed.clone(), filled(33), filled(65)}, {seed.clone(), filled(32), filled(64)},
                {seed.clone(), filled(32), filled(66)}, {new byte[0], new byte[0], new byte[0]}}) {
            cases.add(sm2("generateKey(" + d(a[0]) + ", " + d(a[1]) + ", " + d(a[2]) + ")",
                    () -> Sm2Native.generateKey(a[0], a[1], a[2]), kp, (Object[]) a).returns(ERR_ARGUMENT));
        }
        byte[][] gen = {seed.clone(), filled(32), filled(65)};
        cases.add(sm2("generateKey(valid)", () -> Sm2Native.generateKey(gen[0], gen[1], gen[2]), kp, (Object[]) gen)
                .returns(OK, "priv", d, "pub", pub));

        // publicKey(priv32, pub65) and signInverse(priv32, inverse32)
        List<String> pp = List.of("priv", "out");
        for (byte[][] a : new byte[][][] {{null, filled(65)}, {d.clone(), null}, {filled(31), filled(65)},
                {filled(33), filled(65)}, {d.clone(), filled(64)}, {d.clone(), filled(66)}}) {
            cases.add(sm2("publicKey(" + d(a[0]) + ", " + d(a[1]) + ")", () -> Sm2Native.publicKey(a[0], a[1]), pp,
                    (Object[]) a).returns(ERR_ARGUMENT));
        }
        for (byte[][] a : new byte[][][] {{null, filled(32)}, {d.clone(), null}, {filled(31), filled(32)},
                {filled(33), filled(32)}, {d.clone(), filled(31)}, {d.clone(), filled(33)}}) {
            cases.add(sm2("signInverse(" + d(a[0]) + ", " + d(a[1]) + ")", () -> Sm2Native.signInverse(a[0], a[1]), pp,
                    (Object[]) a).returns(ERR_ARGUMENT));
        }
        for (byte[] bad : badKeys) {
            byte[] k = bad.clone(), out = filled(65), inv = filled(32);
            cases.add(sm2("publicKey(d outside [1, n - 2])", () -> Sm2Native.publicKey(k, out), pp, k, out)
                    .returns(SM2_ERR_PRIVATE_KEY));
            cases.add(sm2("signInverse(d outside [1, n - 2])", () -> Sm2Native.signInverse(k, inv), pp, k, inv)
                    .returns(SM2_ERR_PRIVATE_KEY));
        }
        byte[] k1 = d.clone(), out1 = filled(65), k2 = d.clone(), out2 = filled(32);
        cases.add(sm2("publicKey(valid)", () -> Sm2Native.publicKey(k1, out1), pp, k1, out1).returns(OK, "out", pub));
        cases.add(sm2("signInverse(valid)", () -> Sm2Native.signInverse(k2, out2), pp, k2, out2)
                .returns(OK, "out", inverse));

        // checkPublicKey(pub65)
        for (byte[] p : new byte[][] {null, Arrays.copyOf(pub, 64), Arrays.copyOf(pub, 66), new byte[0]}) {
            cases.add(sm2("checkPublicKey(" + d(p) + ")", () -> Sm2Native.checkPublicKey(p), List.of("pub"), (Object) p)
                    .returns(ERR_ARGUMENT));
        }
        byte[] infinity = new byte[65];
        infinity[0] = 4;
        byte[] compressed = pub.clone();
        compressed[0] = 2;
        for (byte[] p : new byte[][] {offCurve, infinity, compressed, filled(65)}) {
            byte[] q = p.clone();
            cases.add(sm2("checkPublicKey(not a point)", () -> Sm2Native.checkPublicKey(q), List.of("pub"), (Object) q)
                    .returns(SM2_ERR_PUBLIC_KEY));
        }
        byte[] goodPub = pub.clone();
        cases.add(sm2("checkPublicKey(valid)", () -> Sm2Native.checkPublicKey(goodPub), List.of("pub"), (Object) goodPub)
                .returns(OK));

        // computeZ(pub65, id, idOff, idLen, z32)
        List<String> zn = List.of("pub", "id", "z");
        int[][] ranges = {{-1, 1}, {0, -1}, {0, 21}, {1, 20}, {21, 0}, {1, Integer.MAX_VALUE}, {Integer.MAX_VALUE, 1},
            {Integer.MIN_VALUE, 0}, {10, Integer.MIN_VALUE}};
        for (int[] r : ranges) {
            byte[] p = pub.clone(), i = id.clone(), out = filled(32);
            cases.add(sm2("computeZ(id " + r[0] + ", " + r[1] + ")", () -> Sm2Native.computeZ(p, i, r[0], r[1], out),
                    zn, p, i, out).returns(ERR_ARGUMENT));
        }
        for (byte[][] a : new byte[][][] {{null, id.clone(), filled(32)}, {pub.clone(), null, filled(32)},
                {pub.clone(), id.clone(), null}, {pub.clone(), id.clone(), filled(31)}, {pub.clone(), id.clone(), filled(33)},
                {Arrays.copyOf(pub, 64), id.clone(), filled(32)}}) {
            cases.add(sm2("computeZ(" + d(a[0]) + ", " + d(a[1]) + ", 0, 20, " + d(a[2]) + ")",
                    () -> Sm2Native.computeZ(a[0], a[1], 0, a[1] == null ? 0 : 20, a[2]), zn, (Object[]) a)
                    .returns(ERR_ARGUMENT));
        }
        byte[] longId = random(rnd, 8192), zl = filled(32), pl = pub.clone();
        cases.add(sm2("computeZ(an ID of 8192 bytes)", () -> Sm2Native.computeZ(pl, longId, 0, 8192, zl), zn, pl,
                longId, zl).returns(SM2_ERR_ID_LENGTH));
        byte[] zo = filled(32), po = offCurve.clone(), io = id.clone();
        cases.add(sm2("computeZ(off the curve)", () -> Sm2Native.computeZ(po, io, 0, 20, zo), zn, po, io, zo)
                .returns(SM2_ERR_PUBLIC_KEY));
        byte[] zv = filled(32), pv = pub.clone(), iv = cat32(random(rnd, 5), id);
        cases.add(sm2("computeZ(valid, at an offset)", () -> Sm2Native.computeZ(pv, iv, 5, 20, zv), zn, pv, iv, zv)
                .returns(OK, "z", z));
        byte[] zm = filled(32), pm = pub.clone(), longest = random(rnd, 8191);
        cases.add(sm2("computeZ(the longest ID)", () -> Sm2Native.computeZ(pm, longest, 0, 8191, zm), zn, pm, longest,
                zm).returns(OK, "z", sm2Z(pub, longest)));

        // signDigest(priv32, inverse32OrNull, e32, entropy, entOff, entLen, sig64)
        List<String> sn = List.of("priv", "inverse", "e", "entropy", "sig");
        Object[][] bad = {
            {null, inverse, e, entropy, 0, 32, 64}, {d, inverse, null, entropy, 0, 32, 64},
            {d, inverse, e, null, 0, 0, 64}, {d, inverse, e, entropy, 0, 32, null},
            {filled(31), inverse, e, entropy, 0, 32, 64}, {d, filled(31), e, entropy, 0, 32, 64},
            {d, filled(33), e, entropy, 0, 32, 64}, {d, inverse, filled(33), entropy, 0, 32, 64},
            {d, inverse, e, entropy, 0, 32, 63}, {d, inverse, e, entropy, 0, 32, 65},
            {d, inverse, e, entropy, -1, 1, 64}, {d, inverse, e, entropy, 0, -1, 64}, {d, inverse, e, entropy, 0, 33, 64},
            {d, inverse, e, entropy, 1, Integer.MAX_VALUE, 64}, {d, inverse, e, entropy, Integer.MIN_VALUE, 0, 64},
            {d, inverse, e, new byte[4097], 0, 4097, 64},
        };
        for (Object[] a : bad) cases.add(signCase(a, sn).returns(ERR_ARGUMENT));
        for (byte[] k : badKeys) cases.add(signCase(new Object[] {k, null, e, entropy, 0, 32, 64}, sn).returns(SM2_ERR_PRIVATE_KEY));
        cases.add(signCase(new Object[] {d, otherInverse, e, entropy, 0, 32, 64}, sn).note("another key's inverse")
                .returns(SM2_ERR_PRIVATE_KEY));
        cases.add(signCase(new Object[] {d, inverse, e, entropy, 0, 32, 64}, sn).returns(OK, "sig", sig));
        // The inverse only saves work: without it, the same nonce and signature.
        cases.add(signCase(new Object[] {d, null, e, entropy, 0, 32, 64}, sn).returns(OK, "sig", sig));
        cases.add(signCase(new Object[] {d, inverse, e, cat32(random(rnd, 7), entropy), 7, 32, 64}, sn)
                .note("entropy at an offset").returns(OK, "sig", sig));

        // verifyDigest(pub65, e32, sig64)
        List<String> vn = List.of("pub", "e", "sig");
        for (byte[][] a : new byte[][][] {{null, e, sig}, {pub, null, sig}, {pub, e, null}, {Arrays.copyOf(pub, 64), e, sig},
                {pub, Arrays.copyOf(e, 31), sig}, {pub, e, Arrays.copyOf(sig, 63)}, {pub, e, Arrays.copyOf(sig, 65)}}) {
            cases.add(verifyCase(a, vn).returns(ERR_ARGUMENT));
        }
        cases.add(verifyCase(new byte[][] {offCurve, e, sig}, vn).returns(SM2_ERR_PUBLIC_KEY));
        byte[] nr = sig.clone();
        System.arraycopy(fixed32(n), 0, nr, 0, 32);
        for (byte[] s : new byte[][] {new byte[64], nr, filled(64), cat32(Arrays.copyOf(sig, 32), new byte[32])}) {
            cases.add(verifyCase(new byte[][] {pub, e, s}, vn).returns(SM2_ERR_SIGNATURE));
        }
        cases.add(verifyCase(new byte[][] {pub, e, sig}, vn).returns(OK));

        runAll("SM2", cases);
    }

    private static byte[] cat32(byte[] a, byte[] b) {
        return NativeTestSupport.concat(a, b);
    }

    /** signDigest on fresh copies of {@code a}; a sig length in place of an array makes a filled one. */
    private static Case signCase(Object[] a, List<String> names) {
        byte[] priv = copyOf(a[0]), inv = copyOf(a[1]), e = copyOf(a[2]), ent = copyOf(a[3]);
        byte[] sig = a[6] == null ? null : filled((Integer) a[6]);
        int off = (Integer) a[4], len = (Integer) a[5];
        return sm2("signDigest(" + d(priv) + ", " + d(inv) + ", " + d(e) + ", " + d(ent) + ", " + off + ", " + len + ", "
                + d(sig) + ")", () -> Sm2Native.signDigest(priv, inv, e, ent, off, len, sig), names, priv, inv, e, ent, sig);
    }

    private static Case verifyCase(byte[][] a, List<String> names) {
        byte[] pub = copyOf(a[0]), e = copyOf(a[1]), sig = copyOf(a[2]);
        return sm2("verifyDigest(" + d(pub) + ", " + d(e) + ", " + d(sig) + ")", () -> Sm2Native.verifyDigest(pub, e, sig),
                names, pub, e, sig);
    }

    private static byte[] copyOf(Object b) {
        return b == null ? null : ((byte[]) b).clone();
    }

    // ---------------------------------------------------------------- SM2 encryption and key exchange

    private static final int SM2_ERR_DECRYPT = -16405, SM2_ERR_OUTPUT_TOO_SMALL = -16406,
            SM2_ERR_INPUT_LENGTH = -16407;

    /** encrypt on fresh copies: pub, in[off, len), entropy[entOff, entLen), out of outSize filled bytes at outOff. */
    private static Case encryptCase(byte[] pub, byte[] in, int off, int len, byte[] ent, int entOff, int entLen,
            Integer outSize, int outOff) {
        byte[] p = copyOf(pub), i = copyOf(in), e = copyOf(ent), o = outSize == null ? null : filled(outSize);
        return sm2("encrypt(" + d(p) + ", " + d(i) + ", " + off + ", " + len + ", " + d(e) + ", " + entOff + ", "
                + entLen + ", " + d(o) + ", " + outOff + ")", () -> Sm2Native.encrypt(p, i, off, len, e, entOff, entLen,
                o, outOff), List.of("pub", "in", "entropy", "out"), p, i, e, o);
    }

    private static Case decryptCase(byte[] priv, byte[] in, int off, int len, Integer outSize, int outOff) {
        byte[] k = copyOf(priv), i = copyOf(in), o = outSize == null ? null : filled(outSize);
        return sm2("decrypt(" + d(k) + ", " + d(i) + ", " + off + ", " + len + ", " + d(o) + ", " + outOff + ")",
                () -> Sm2Native.decrypt(k, i, off, len, o, outOff), List.of("priv", "in", "out"), k, i, o);
    }

    private static final List<String> EXCHANGE = List.of("priv", "pub", "ephPriv", "ephPub", "z", "peerPub",
            "peerEphPub", "peerZ", "key", "confirmB", "confirmA");

    /** keyExchange as the initiator on fresh copies of the eight inputs and the three outputs of {@code a}. */
    private static Case exchangeCase(Object[] a, int keyLen) {
        byte[][] b = new byte[11][];
        for (int i = 0; i < 11; i++) b[i] = copyOf(a[i]);
        StringBuilder name = new StringBuilder("keyExchange(false");
        for (int i = 0; i < 11; i++) name.append(", ").append(d(b[i])).append(i == 8 ? ", " + keyLen : "");
        return sm2(name + ")", () -> Sm2Native.keyExchange(false, b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8],
                keyLen, b[9], b[10]), EXCHANGE, (Object[]) b);
    }

    /**
     * encrypt, decrypt and keyExchange given nulls, arrays one byte short or
     * long, ranges and offsets outside their arrays (the values that wrap
     * included), an empty message, a ciphertext too short, outputs too small,
     * keys the engine refuses and points off the curve: each ends in its
     * status with its outputs untouched. Then each valid call, its output
     * what the same call gave once before (encryption is deterministic in its
     * entropy) and, for decryption, the message encrypted.
     */
    @Test
    void sm2EncryptionAndExchange() {
        Random rnd = new Random(0x315E_000BL);
        java.math.BigInteger n = SM2.getN();
        java.math.BigInteger dv = new java.math.BigInteger(1, random(rnd, 40)).mod(n.subtract(java.math.BigInteger.TWO))
                .add(java.math.BigInteger.ONE);
        byte[] d = fixed32(dv), pub = sm2Point(dv);
        byte[] offCurve = pub.clone();
        offCurve[64] ^= 1;
        byte[] ones = new byte[32];
        Arrays.fill(ones, (byte) 0xFF);
        byte[][] badKeys = {new byte[32], fixed32(n.subtract(java.math.BigInteger.ONE)), fixed32(n), ones};
        byte[] msg = random(rnd, 20), entropy = random(rnd, 32);
        byte[] ct = new byte[117];
        assertEquals(117, Sm2Native.encrypt(pub, msg, 0, 20, entropy, 0, 32, ct, 0));
        List<Case> cases = new ArrayList<>();

        // encrypt(pub65, in, off, len, entropy, entOff, entLen, out, outOff)
        int[][] ranges = {{-1, 1}, {0, -1}, {0, 21}, {1, 20}, {21, 0}, {1, Integer.MAX_VALUE}, {Integer.MAX_VALUE, 1},
            {Integer.MIN_VALUE, 0}, {10, Integer.MIN_VALUE}};
        cases.add(encryptCase(null, msg, 0, 20, entropy, 0, 32, 200, 0).returns(ERR_ARGUMENT));
        cases.add(encryptCase(Arrays.copyOf(pub, 64), msg, 0, 20, entropy, 0, 32, 200, 0).returns(ERR_ARGUMENT));
        cases.add(encryptCase(Arrays.copyOf(pub, 66), msg, 0, 20, entropy, 0, 32, 200, 0).returns(ERR_ARGUMENT));
        cases.add(encryptCase(pub, null, 0, 0, entropy, 0, 32, 200, 0).returns(ERR_ARGUMENT));
        cases.add(encryptCase(pub, msg, 0, 20, null, 0, 0, 200, 0).returns(ERR_ARGUMENT));
        cases.add(encryptCase(pub, msg, 0, 20, entropy, 0, 32, null, 0).returns(ERR_ARGUMENT));
        for (int[] r : ranges) {
            cases.add(encryptCase(pub, msg, r[0], r[1], entropy, 0, 32, 200, 0).returns(ERR_ARGUMENT));
            cases.add(encryptCase(pub, msg, 0, 20, random(rnd, 20), r[0], r[1], 200, 0).returns(ERR_ARGUMENT));
        }
        cases.add(encryptCase(pub, msg, 0, 20, new byte[4097], 0, 4097, 200, 0).returns(ERR_ARGUMENT));
        for (int outOff : new int[] {-1, 201, Integer.MAX_VALUE, Integer.MIN_VALUE}) {
            cases.add(encryptCase(pub, msg, 0, 20, entropy, 0, 32, 200, outOff).returns(ERR_ARGUMENT));
        }
        // A bad argument is named ahead of the message's and the output's sizes.
        cases.add(encryptCase(null, msg, 0, 0, entropy, 0, 32, 0, 0).returns(ERR_ARGUMENT));
        cases.add(encryptCase(pub, msg, 0, 0, entropy, 0, 32, 200, 0).returns(SM2_ERR_INPUT_LENGTH));
        cases.add(encryptCase(pub, msg, 0, 0, entropy, 0, 32, 0, 0).returns(SM2_ERR_INPUT_LENGTH));
        for (int[] o : new int[][] {{0, 0}, {116, 0}, {117, 1}, {200, 84}, {200, 200}}) {
            cases.add(encryptCase(pub, msg, 0, 20, entropy, 0, 32, o[0], o[1]).returns(SM2_ERR_OUTPUT_TOO_SMALL));
        }
        cases.add(encryptCase(offCurve, msg, 0, 20, entropy, 0, 32, 200, 0).returns(SM2_ERR_PUBLIC_KEY));
        byte[] at3 = new byte[123];
        Arrays.fill(at3, NativeTestSupport.SENTINEL);
        System.arraycopy(ct, 0, at3, 3, 117);
        cases.add(encryptCase(pub, msg, 0, 20, entropy, 0, 32, 123, 3).returns(117, "out", at3));
        cases.add(encryptCase(pub, cat32(random(rnd, 9), msg), 9, 20, cat32(random(rnd, 5), entropy), 5, 32, 117, 0)
                .note("input and entropy at offsets").returns(117, "out", ct));

        // decrypt(priv32, in, off, len, out, outOff)
        cases.add(decryptCase(null, ct, 0, 117, 100, 0).returns(ERR_ARGUMENT));
        cases.add(decryptCase(Arrays.copyOf(d, 31), ct, 0, 117, 100, 0).returns(ERR_ARGUMENT));
        cases.add(decryptCase(Arrays.copyOf(d, 33), ct, 0, 117, 100, 0).returns(ERR_ARGUMENT));
        cases.add(decryptCase(d, null, 0, 0, 100, 0).returns(ERR_ARGUMENT));
        cases.add(decryptCase(d, ct, 0, 117, null, 0).returns(ERR_ARGUMENT));
        int[][] ctRanges = {{-1, 117}, {0, -1}, {0, 118}, {1, 117}, {118, 0}, {1, Integer.MAX_VALUE},
            {Integer.MAX_VALUE, 1}, {Integer.MIN_VALUE, 0}, {10, Integer.MIN_VALUE}};
        for (int[] r : ctRanges) cases.add(decryptCase(d, ct, r[0], r[1], 100, 0).returns(ERR_ARGUMENT));
        for (int outOff : new int[] {-1, 101, Integer.MAX_VALUE, Integer.MIN_VALUE}) {
            cases.add(decryptCase(d, ct, 0, 117, 100, outOff).returns(ERR_ARGUMENT));
        }
        for (int len : new int[] {0, 1, 96, 97}) cases.add(decryptCase(d, ct, 0, len, 100, 0).returns(SM2_ERR_INPUT_LENGTH));
        for (int[] o : new int[][] {{0, 0}, {19, 0}, {20, 1}, {100, 81}}) {
            cases.add(decryptCase(d, ct, 0, 117, o[0], o[1]).returns(SM2_ERR_OUTPUT_TOO_SMALL));
        }
        for (byte[] k : badKeys) cases.add(decryptCase(k, ct, 0, 117, 100, 0).returns(SM2_ERR_PRIVATE_KEY));
        for (int i : new int[] {1, 64, 65, 96, 97, 116}) {
            byte[] bad = ct.clone();
            bad[i] ^= 1;
            cases.add(decryptCase(d, bad, 0, 117, 100, 0).note("byte " + i + " flipped").returns(SM2_ERR_DECRYPT));
        }
        byte[] plainAt2 = filled(30);
        System.arraycopy(msg, 0, plainAt2, 2, 20);
        cases.add(decryptCase(d, ct, 0, 117, 30, 2).returns(20, "out", plainAt2));
        cases.add(decryptCase(d, cat32(random(rnd, 6), ct), 6, 117, 20, 0).note("ciphertext at an offset")
                .returns(20, "out", msg));

        // keyExchange(responder, priv, pub, ephPriv, ephPub, z, peerPub, peerEphPub, peerZ, key, keyLen, cb, ca)
        java.math.BigInteger rv = new java.math.BigInteger(1, random(rnd, 40)).mod(n.subtract(java.math.BigInteger.TWO))
                .add(java.math.BigInteger.ONE);
        java.math.BigInteger pv = new java.math.BigInteger(1, random(rnd, 40)).mod(n.subtract(java.math.BigInteger.TWO))
                .add(java.math.BigInteger.ONE);
        byte[] peerPub = sm2Point(pv), peerEph = sm2Point(pv.add(java.math.BigInteger.ONE));
        Object[] good = {d, pub, fixed32(rv), sm2Point(rv), random(rnd, 32), peerPub, peerEph, random(rnd, 32),
            filled(24), filled(32), filled(32)};
        byte[] key = filled(24), cb = filled(32), ca = filled(32);
        assertEquals(OK, Sm2Native.keyExchange(false, d, pub, fixed32(rv), sm2Point(rv), (byte[]) good[4], peerPub,
                peerEph, (byte[]) good[7], key, 20, cb, ca));
        int[] sizes = {32, 65, 32, 65, 32, 65, 65, 32};
        for (int i = 0; i < 11; i++) {
            if (i == 8) continue;
            Object[] a = good.clone();
            a[i] = null;
            // Null confirmation arrays are asked for nothing.
            if (i >= 9) {
                cases.add(exchangeCase(a, 20).note("no " + EXCHANGE.get(i)).returns(OK, "key", key,
                        EXCHANGE.get(19 - i), i == 9 ? ca : cb));
                continue;
            }
            cases.add(exchangeCase(a, 20).returns(ERR_ARGUMENT));
            for (int delta : new int[] {-1, 1}) {
                Object[] w = good.clone();
                w[i] = filled(sizes[i] + delta);
                cases.add(exchangeCase(w, 20).returns(ERR_ARGUMENT));
            }
        }
        for (int keyLen : new int[] {-1, 25, Integer.MAX_VALUE, Integer.MIN_VALUE}) {
            cases.add(exchangeCase(good, keyLen).returns(ERR_ARGUMENT));
        }
        Object[] noKey = good.clone();
        noKey[8] = null;
        cases.add(exchangeCase(noKey, 0).returns(ERR_ARGUMENT));
        for (int i : new int[] {9, 10}) {
            for (int size : new int[] {31, 33, 0}) {
                Object[] w = good.clone();
                w[i] = filled(size);
                cases.add(exchangeCase(w, 20).returns(ERR_ARGUMENT));
            }
        }
        for (byte[] k : badKeys) {
            for (int i : new int[] {0, 2}) {
                Object[] w = good.clone();
                w[i] = k;
                cases.add(exchangeCase(w, 20).note("a private key outside [1, n - 2]").returns(SM2_ERR_PRIVATE_KEY));
            }
        }
        byte[] infinity = new byte[65];
        infinity[0] = 4;
        for (int i : new int[] {5, 6}) {
            for (byte[] p : new byte[][] {offCurve, infinity}) {
                Object[] w = good.clone();
                w[i] = p;
                cases.add(exchangeCase(w, 20).note("a peer point not on the curve").returns(SM2_ERR_PUBLIC_KEY));
            }
        }
        cases.add(exchangeCase(good, 20).returns(OK, "key", key, "confirmB", cb, "confirmA", ca));

        runAll("SM2 encryption and exchange", cases);
    }

    // ---------------------------------------------------------------- running

    private static void runAll(String table, List<Case> cases) {
        List<String> wrong = new ArrayList<>();
        for (Case c : cases) {
            String problem = runOne(c);
            if (problem != null) wrong.add(c.name + ": " + problem);
        }
        CASES.addAndGet(cases.size());
        WRONG.addAndGet(wrong.size());
        stillComputesCorrectly();
        if (!wrong.isEmpty()) {
            fail(wrong.size() + " of " + cases.size() + " " + table + " cases went wrong:\n  "
                    + String.join("\n  ", wrong.subList(0, Math.min(wrong.size(), 40))));
        }
    }

    /** Null when the case ended in one of its outcomes, else what went wrong. */
    private static String runOne(Case c) {
        Object[] before = new Object[c.arrays.length];
        for (int i = 0; i < before.length; i++) before[i] = copy(c.arrays[i]);

        int status = 0;
        Throwable thrown = null;
        try {
            status = c.call.getAsInt();
        } catch (Throwable t) {
            thrown = t;
        }
        String got = thrown != null ? thrown.getClass().getSimpleName() : "status " + status;

        String mismatch = null;
        for (Outcome o : c.outcomes) {
            boolean same = thrown == null ? o.thrown == null && o.status == status
                    : o.thrown != null && o.thrown.isInstance(thrown);
            if (!same) continue;
            String diff = arrayDifference(c, before, o.after);
            if (diff == null) return null;
            mismatch = got + " as expected, but " + diff;
        }
        if (mismatch != null) return mismatch;
        return "got " + got + ", expected "
                + c.outcomes.stream().map(Outcome::describe).collect(Collectors.joining(" or "));
    }

    private static String arrayDifference(Case c, Object[] before, Map<String, Object> after) {
        for (int i = 0; i < c.arrays.length; i++) {
            String n = c.names.get(i);
            boolean mayChange = after.containsKey(n);
            Object expected = mayChange ? after.get(n) : before[i];
            if (!Objects.deepEquals(expected, c.arrays[i])) {
                return n + (mayChange ? " holds the wrong content" : " changed") + " ("
                        + difference(expected, c.arrays[i]) + ")";
            }
        }
        return null;
    }

    /** A known answer from each engine: a bad case must not have disturbed the library. */
    private static void stillComputesCorrectly() {
        byte[] abc = "abc".getBytes(StandardCharsets.US_ASCII);
        byte[] h = new byte[32];
        assertEquals(OK, LoadNativeZenthal.sm3HashNative(h, abc, 3));
        assertArrayEquals(sm3(abc, 3), h, "digest after the misuse cases");

        byte[] k = new byte[70];
        assertEquals(OK, LoadNativeZenthal.sm3KDFNative(k, 70, abc, 3));
        assertArrayEquals(kdf(abc, 3, 70), k, "KDF after the misuse cases");

        byte[] key = new byte[16], macKey = new byte[16], iv = new byte[16];
        Arrays.fill(macKey, (byte) 1);
        byte[] sealed = new byte[48];
        assertEquals(OK, LoadNativeZenthal.sm4CbcEncryptWithMacNative(key, macKey, iv, abc, 0, sealed,
                new int[] {48}));
        assertArrayEquals(Arrays.copyOf(NativeTestSupport.seal(key, macKey, iv, abc), 48), Arrays.copyOf(sealed, 48),
                "envelope after the misuse cases");
    }

    // ---------------------------------------------------------------- helpers

    private static byte[] overlay(byte[] base, byte[] prefix) {
        System.arraycopy(prefix, 0, base, 0, prefix.length);
        return base;
    }

    private static Object copy(Object array) {
        if (array instanceof byte[] b) return b.clone();
        if (array instanceof int[] n) return n.clone();
        return array;
    }

    private static String d(byte[] b) {
        return b == null ? "null" : "byte[" + b.length + "]";
    }

    private static String d(int[] n) {
        if (n == null) return "null";
        return n.length == 0 ? "int[0]" : "int[]" + Arrays.toString(n).replace('[', '{').replace(']', '}');
    }

    private static String difference(Object expected, Object actual) {
        if (expected instanceof int[] e && actual instanceof int[] a) {
            return "expected " + Arrays.toString(e) + ", got " + Arrays.toString(a);
        }
        if (expected instanceof byte[] e && actual instanceof byte[] a) {
            int i = Arrays.mismatch(e, a);
            if (i >= e.length || i >= a.length) return "length " + a.length + ", expected " + e.length;
            return "first difference at index " + i + " of " + a.length;
        }
        return "expected " + expected + ", got " + actual;
    }
}
