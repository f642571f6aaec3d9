package com.tarvik.lumora.Quorvex.zenthal;

import java.util.Objects;

/**
 * Random bytes straight from the processor's RDRAND instruction.
 *
 * <pre>{@code
 * if (HardwareRandom.isAvailable()) {
 *     byte[] nonce = HardwareRandom.nextBytes(12);
 * }
 * }</pre>
 *
 * <p>There is no software fallback: on a processor without RDRAND every
 * non-empty request fails with {@link HardwareRandomException}. Only GenuineIntel
 * processors that report RDRAND are used. For a {@link java.security.SecureRandom}
 * over the same source, see {@link ZenthalProvider}.
 *
 * <p>Stateless and safe to call from any number of threads.
 */
public final class HardwareRandom {
    private HardwareRandom() {}

    /**
     * Whether the processor offers RDRAND. The answer is probed once per process
     * and does not change.
     *
     * @return true if random bytes can be drawn
     */
    public static boolean isAvailable() {
        return LoadNativeZenthal.isRDRANDSupported() == 1;
    }

    /**
     * Fills a whole array with random bytes. An empty array succeeds without
     * touching the processor.
     *
     * @param bytes the array to fill
     * @throws NullPointerException if {@code bytes} is null
     * @throws HardwareRandomException if RDRAND is not offered or delivered no
     *         value; {@code bytes} is then unchanged
     */
    public static void nextBytes(byte[] bytes) {
        Objects.requireNonNull(bytes, "bytes");
        int status = LoadNativeZenthal.nextBytesNative(bytes, bytes.length);
        if (status == ZenthalStatus.DRNG_NO_RDRAND.code()) {
            throw new HardwareRandomException(ZenthalStatus.DRNG_NO_RDRAND);
        }
        if (status == ZenthalStatus.DRNG_NOT_READY.code()) {
            throw new HardwareRandomException(ZenthalStatus.DRNG_NOT_READY);
        }
        ZenthalStatus.requireSuccess(status, "RDRAND");
    }

    /**
     * A new array of random bytes.
     *
     * @param count number of bytes, 0 or more
     * @return a new array of {@code count} random bytes
     * @throws IllegalArgumentException if {@code count} is negative
     * @throws HardwareRandomException if RDRAND is not offered or delivered no value
     */
    public static byte[] nextBytes(int count) {
        if (count < 0) throw new IllegalArgumentException("negative byte count " + count);
        byte[] out = new byte[count];
        nextBytes(out);
        return out;
    }
}
