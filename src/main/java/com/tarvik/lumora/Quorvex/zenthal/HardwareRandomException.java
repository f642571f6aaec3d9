package com.tarvik.lumora.Quorvex.zenthal;

import java.security.ProviderException;

/**
 * The hardware random source could not deliver: either the processor offers no
 * usable RDRAND ({@link ZenthalStatus#DRNG_NO_RDRAND}, permanent for the
 * process), or RDRAND delivered no value in 10 attempts for one word
 * ({@link ZenthalStatus#DRNG_NOT_READY}, transient).
 *
 * <p>Unchecked, and a {@link ProviderException}, because it surfaces through
 * {@link java.security.SecureRandom#nextBytes(byte[])}, which declares no checked
 * exception; the platform's own generators report an unusable entropy source
 * the same way. No byte of the caller's array is written when it is thrown.
 */
public class HardwareRandomException extends ProviderException {
    private static final long serialVersionUID = 1L;

    /** Which failure: {@code DRNG_NO_RDRAND} or {@code DRNG_NOT_READY}. */
    private final ZenthalStatus status;

    /**
     * @param status {@link ZenthalStatus#DRNG_NO_RDRAND} or {@link ZenthalStatus#DRNG_NOT_READY}
     * @throws IllegalArgumentException for any other status
     */
    public HardwareRandomException(ZenthalStatus status) {
        super(checked(status).meaning());
        this.status = status;
    }

    private static ZenthalStatus checked(ZenthalStatus status) {
        if (status != ZenthalStatus.DRNG_NO_RDRAND && status != ZenthalStatus.DRNG_NOT_READY) {
            throw new IllegalArgumentException("not a random-source failure: " + status);
        }
        return status;
    }

    /**
     * Which failure this is.
     *
     * @return {@link ZenthalStatus#DRNG_NO_RDRAND} or {@link ZenthalStatus#DRNG_NOT_READY}
     */
    public ZenthalStatus status() {
        return status;
    }

    /**
     * Whether a later attempt may succeed: true when RDRAND was only not ready,
     * false when the processor does not offer it.
     *
     * @return true for {@link ZenthalStatus#DRNG_NOT_READY}
     */
    public boolean isTransient() {
        return status == ZenthalStatus.DRNG_NOT_READY;
    }
}
