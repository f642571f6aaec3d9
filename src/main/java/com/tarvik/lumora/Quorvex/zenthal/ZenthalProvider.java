package com.tarvik.lumora.Quorvex.zenthal;

import java.security.Provider;
import java.util.Map;

/**
 * A security provider named {@value #NAME} that offers the {@code SecureRandom}
 * algorithm {@value #RDRAND}: random bytes straight from the processor's RDRAND
 * instruction.
 *
 * <pre>{@code
 * SecureRandom rng = SecureRandom.getInstance("RDRAND", new ZenthalProvider());
 * byte[] key = new byte[16];
 * rng.nextBytes(key);
 * }</pre>
 *
 * <p>On a processor without RDRAND, {@code getInstance} throws
 * {@link java.security.NoSuchAlgorithmException} whose cause is a
 * {@link HardwareRandomException}; a generator, once obtained, fails only if
 * RDRAND delivers no value in 10 attempts (an unchecked
 * {@link HardwareRandomException} from {@code nextBytes}). The generator ignores
 * {@code setSeed}, and is registered as thread-safe, so the platform does not
 * serialise calls to it.
 *
 * <p>The provider can also be installed for the whole VM with
 * {@link java.security.Security#addProvider}, after which
 * {@code SecureRandom.getInstance("RDRAND")} finds it. It is never the default
 * generator unless installed ahead of the platform's own providers.
 */
public final class ZenthalProvider extends Provider {
    private static final long serialVersionUID = 1L;

    /** The provider's name. */
    public static final String NAME = "Zenthal";
    /** The name of the RDRAND-backed {@code SecureRandom} algorithm. */
    public static final String RDRAND = "RDRAND";

    /** Creates the provider; the native library is not touched until a generator is requested. */
    public ZenthalProvider() {
        super(NAME, BuildInfo.version(), "Zenthal provider (SecureRandom RDRAND from the processor)");
        putService(new Service(this, "SecureRandom", RDRAND, RdrandSecureRandomSpi.class.getName(), null,
                Map.of("ThreadSafe", "true")));
    }
}
