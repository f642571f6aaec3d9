package com.tarvik.lumora.Quorvex.zenthal;

import java.security.SecureRandomSpi;

/**
 * The {@code SecureRandom} implementation behind {@code RDRAND} in
 * {@link ZenthalProvider}. Applications obtain it through
 * {@code SecureRandom.getInstance("RDRAND", new ZenthalProvider())} rather than
 * constructing it.
 *
 * <p>Every byte comes from the processor; the object holds no state, so one
 * instance serves any number of threads without locking.
 */
public final class RdrandSecureRandomSpi extends SecureRandomSpi {
    private static final long serialVersionUID = 1L;

    /**
     * Refuses to exist on a processor without RDRAND, so that
     * {@code SecureRandom.getInstance} fails with {@code NoSuchAlgorithmException}
     * (caused by a {@link HardwareRandomException}) instead of handing out a
     * generator whose every draw would fail.
     *
     * @throws HardwareRandomException if the processor offers no RDRAND
     */
    public RdrandSecureRandomSpi() {
        if (!HardwareRandom.isAvailable()) throw new HardwareRandomException(ZenthalStatus.DRNG_NO_RDRAND);
    }

    /** Ignored: a hardware source cannot be seeded, and mixing in a caller's seed would add nothing. */
    @Override
    protected void engineSetSeed(byte[] seed) {
    }

    /**
     * @throws HardwareRandomException if RDRAND delivered no value in 10 attempts
     */
    @Override
    protected void engineNextBytes(byte[] bytes) {
        HardwareRandom.nextBytes(bytes);
    }

    /**
     * @throws HardwareRandomException if RDRAND delivered no value in 10 attempts
     */
    @Override
    protected byte[] engineGenerateSeed(int numBytes) {
        return HardwareRandom.nextBytes(numBytes);
    }

    @Override
    public String toString() {
        return "RDRAND";
    }
}
