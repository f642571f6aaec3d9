package com.tarvik.lumora.Quorvex.zenthal;

import java.security.InvalidParameterException;
import java.security.NoSuchAlgorithmException;
import java.security.Provider;
import java.util.List;
import java.util.Map;

/**
 * A security provider named {@value #NAME} with three services:
 *
 * <ul>
 *   <li>{@code MessageDigest} {@value #SM3} (also under its OID,
 *       {@code 1.2.156.10197.1.401}): the SM3 digest;</li>
 *   <li>{@code Mac} {@value #HMAC_SM3}: HMAC (RFC 2104) over SM3, with keys of
 *       any length;</li>
 *   <li>{@code SecureRandom} {@value #RDRAND}: random bytes straight from the
 *       processor's RDRAND instruction.</li>
 * </ul>
 *
 * <pre>{@code
 * Provider zenthal = new ZenthalProvider();
 * byte[] digest = MessageDigest.getInstance("SM3", zenthal).digest(data);
 *
 * Mac mac = Mac.getInstance("HmacSM3", zenthal);
 * mac.init(new SecretKeySpec(key, "HmacSM3"));
 * byte[] tag = mac.doFinal(data);
 *
 * SecureRandom rng = SecureRandom.getInstance("RDRAND", zenthal);
 * }</pre>
 *
 * <p>The digest and the MAC are cloneable, and {@code digest}/{@code doFinal}
 * leave them ready for the next message. The MAC keeps the hash states after
 * the key, not the key; it wipes them when given a new key, and wipes buffered
 * message bytes on {@code reset}. Outside JCA, {@link Sm3} and {@link HmacSm3}
 * offer the same without the lookup.
 *
 * <p>On a processor without RDRAND, {@code SecureRandom.getInstance} throws
 * {@link java.security.NoSuchAlgorithmException} whose cause is a
 * {@link HardwareRandomException}; a generator, once obtained, fails only if
 * RDRAND delivers no value in 10 attempts (an unchecked
 * {@link HardwareRandomException} from {@code nextBytes}). The generator ignores
 * {@code setSeed}, and is registered as thread-safe, so the platform does not
 * serialise calls to it.
 *
 * <p>The provider can also be installed for the whole VM with
 * {@link java.security.Security#addProvider}, after which
 * {@code MessageDigest.getInstance("SM3")} and the others find it. It is never
 * the default unless installed ahead of the platform's own providers.
 */
public final class ZenthalProvider extends Provider {
    private static final long serialVersionUID = 1L;

    /** The provider's name. */
    public static final String NAME = "Zenthal";
    /** The name of the RDRAND-backed {@code SecureRandom} algorithm. */
    public static final String RDRAND = "RDRAND";
    /** The name of the SM3 {@code MessageDigest} algorithm. */
    public static final String SM3 = "SM3";
    /** The name of the HMAC-SM3 {@code Mac} algorithm. */
    public static final String HMAC_SM3 = "HmacSM3";

    private static final String SM3_OID = "1.2.156.10197.1.401";

    /** Creates the provider; the native library is not touched until a service is requested. */
    public ZenthalProvider() {
        super(NAME, BuildInfo.version(),
                "Zenthal provider (MessageDigest SM3, Mac HmacSM3, SecureRandom RDRAND from the processor)");
        putService(new Service(this, "SecureRandom", RDRAND, RdrandSecureRandomSpi.class.getName(), null,
                Map.of("ThreadSafe", "true")));
        putService(new Native(this, "MessageDigest", SM3, Sm3MessageDigestSpi.class.getName(),
                List.of(SM3_OID, "OID." + SM3_OID)));
        putService(new Native(this, "Mac", HMAC_SM3, HmacSm3Spi.class.getName(), null));
    }

    /**
     * A service whose implementation is package-private and made here
     * directly, without reflection.
     */
    private static final class Native extends Service {
        Native(Provider provider, String type, String algorithm, String className, List<String> aliases) {
            super(provider, type, algorithm, className, aliases, null);
        }

        @Override
        public Object newInstance(Object constructorParameter) throws NoSuchAlgorithmException {
            if (constructorParameter != null) {
                throw new InvalidParameterException(getAlgorithm() + " takes no parameter");
            }
            try {
                switch (getType()) {
                    case "MessageDigest":
                        return new Sm3MessageDigestSpi();
                    case "Mac":
                        return new HmacSm3Spi();
                    default:
                        throw new NoSuchAlgorithmException(getType() + "." + getAlgorithm());
                }
            } catch (LinkageError e) {
                throw new NoSuchAlgorithmException("cannot load the native library for " + getAlgorithm(), e);
            }
        }
    }
}
