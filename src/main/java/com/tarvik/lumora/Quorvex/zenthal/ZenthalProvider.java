package com.tarvik.lumora.Quorvex.zenthal;

import java.security.InvalidParameterException;
import java.security.NoSuchAlgorithmException;
import java.security.Provider;
import java.util.List;
import java.util.Map;
import java.util.function.Supplier;

import com.tarvik.lumora.Quorvex.zenthal.Sm4CipherSpi.Mode;

/**
 * A security provider named {@value #NAME} with these services:
 *
 * <ul>
 *   <li>{@code MessageDigest} {@value #SM3} (also under its OID,
 *       {@code 1.2.156.10197.1.401}): the SM3 digest;</li>
 *   <li>{@code Mac} {@value #HMAC_SM3}: HMAC (RFC 2104) over SM3, with keys of
 *       any length;</li>
 *   <li>{@code SecureRandom} {@value #RDRAND}: random bytes straight from the
 *       processor's RDRAND instruction;</li>
 *   <li>{@code Cipher} {@value #SM4} (GB/T 32907) in the transformations
 *       {@code SM4/ECB/NoPadding}, {@code SM4/ECB/PKCS5Padding},
 *       {@code SM4/CBC/NoPadding}, {@code SM4/CBC/PKCS5Padding} ({@code PKCS7Padding}
 *       is an alias of both), {@code SM4/CTR/NoPadding} and {@code SM4/GCM/NoPadding}
 *       (the SM4-GCM of RFC 8998), and plain {@code SM4}, which is ECB with
 *       PKCS5Padding as the JDK's {@code AES} is; the mode OIDs
 *       {@code 1.2.156.10197.1.104.1} (ECB), {@code .2} (CBC), {@code .7} (CTR)
 *       and {@code .8} (GCM) name the NoPadding forms;</li>
 *   <li>{@code KeyGenerator} {@value #SM4}: 16 random bytes;</li>
 *   <li>{@code AlgorithmParameters} {@value #SM4} (the IV of CBC or CTR) and
 *       {@code GCM} (IV and tag length);</li>
 *   <li>{@code Signature} {@value #SM3_WITH_SM2} (also {@code SM2} and the OID
 *       {@code 1.2.156.10197.1.501}): SM2 signatures (GB/T 32918) over SM3, in
 *       DER, and {@value #SM3_WITH_SM2_P1363} for the 64 bytes {@code r || s};
 *       the signer's ID (default {@value Sm2SignerId#DEFAULT_ID}) through
 *       an {@link Sm2SignerId};</li>
 *   <li>{@code KeyPairGenerator} {@value #SM2} and {@code KeyFactory}
 *       {@value #SM2}: keys on the SM2 curve that are
 *       {@link java.security.interfaces.ECPublicKey} and
 *       {@link java.security.interfaces.ECPrivateKey}, encoded as OpenSSL
 *       encodes them (X.509 and PKCS#8 with id-ecPublicKey and the curve
 *       1.2.156.10197.1.301), also from {@code ECPublicKeySpec},
 *       {@code ECPrivateKeySpec} and the raw point of an
 *       {@link Sm2PublicKeyPoint}. Other providers' EC keys on the SM2 curve
 *       work in the {@code Signature} as they are. No {@code EC} service is
 *       registered, so the platform's own EC algorithms are never shadowed.</li>
 *   <li>{@code Cipher} {@value #SM2}: SM2 encryption to the GM/T 0009 DER
 *       ciphertext OpenSSL exchanges (decrypting DER or raw
 *       {@code C1 || C3 || C2}), and {@value #SM2_C1C3C2} and
 *       {@value #SM2_C1C2C3} for the raw forms;</li>
 *   <li>{@code KeyAgreement} {@value #SM2}: the SM2 key exchange with its
 *       confirmation values, through an {@link Sm2KeyExchangeParameters}.</li>
 * </ul>
 *
 * <pre>{@code
 * KeyPair pair = KeyPairGenerator.getInstance("SM2", zenthal).generateKeyPair();
 * Signature signer = Signature.getInstance("SM3withSM2", zenthal);
 * signer.initSign(pair.getPrivate());
 * signer.update(message);
 * byte[] signature = signer.sign();                    // DER, as OpenSSL writes it
 * }</pre>
 *
 * <pre>{@code
 * Cipher c = Cipher.getInstance("SM4/GCM/NoPadding", zenthal);
 * c.init(Cipher.ENCRYPT_MODE, new SecretKeySpec(key, "SM4"), new GCMParameterSpec(128, iv));
 * c.updateAAD(header);
 * byte[] sealed = c.doFinal(plain);                    // ciphertext || 16-byte tag
 * }</pre>
 *
 * <p>For new data use GCM, with a fresh IV (12 random bytes) for every message
 * under a key: a repeated IV under one key gives away the XOR of two
 * plaintexts and lets the tag be forged. The Cipher refuses to encrypt again
 * with the key and IV it last used.
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

    /** The name of the SM4 {@code Cipher}, {@code KeyGenerator} and {@code AlgorithmParameters}. */
    public static final String SM4 = "SM4";

    /** The name of the SM2 {@code KeyPairGenerator}, {@code KeyFactory}, {@code KeyAgreement} and DER {@code Cipher}. */
    public static final String SM2 = "SM2";
    /** The name of the SM2 {@code Signature} over SM3, DER-encoded. */
    public static final String SM3_WITH_SM2 = "SM3withSM2";
    /** The name of the SM2 {@code Signature} over SM3 whose signatures are the 64 bytes {@code r || s}. */
    public static final String SM3_WITH_SM2_P1363 = "SM3withSM2inP1363Format";

    /** The SM2 {@code Cipher} whose ciphertexts are the raw {@code C1 || C3 || C2}. */
    public static final String SM2_C1C3C2 = "SM2/C1C3C2/NoPadding";
    /** The SM2 {@code Cipher} whose ciphertexts are the older order {@code C1 || C2 || C3}. */
    public static final String SM2_C1C2C3 = "SM2/C1C2C3/NoPadding";

    private static final String SM3_OID = "1.2.156.10197.1.401";
    private static final String SM3_WITH_SM2_OID = "1.2.156.10197.1.501";
    private static final String SM4_OID = "1.2.156.10197.1.104";

    /**
     * Creates the provider; the native library is not touched until a service
     * is requested. Its {@link #getVersionStr() version string} is the
     * library's version (the jar's), or "dev" for classes that do not come
     * from the packed jar.
     */
    public ZenthalProvider() {
        super(NAME, BuildInfo.version(),
                "Zenthal provider (MessageDigest SM3, Mac HmacSM3, SecureRandom RDRAND from the processor, "
                        + "Cipher SM4 in ECB, CBC, CTR and GCM, Signature SM3withSM2 with its KeyPairGenerator and KeyFactory, "
                        + "Cipher and KeyAgreement SM2)");
        putService(new Service(this, "SecureRandom", RDRAND, RdrandSecureRandomSpi.class.getName(), null,
                Map.of("ThreadSafe", "true")));
        put("MessageDigest", SM3, oids(SM3_OID), null, Sm3MessageDigestSpi.class, Sm3MessageDigestSpi::new);
        put("Mac", HMAC_SM3, null, null, HmacSm3Spi.class, HmacSm3Spi::new);
        putCiphers();
        put("KeyGenerator", SM4, oids(SM4_OID), null, Sm4KeyGeneratorSpi.class, Sm4KeyGeneratorSpi::new);
        put("AlgorithmParameters", SM4, oids(SM4_OID), null, Sm4ParametersSpi.Iv.class, Sm4ParametersSpi.Iv::new);
        put("AlgorithmParameters", "GCM", List.of("SM4GCM", "SM4-GCM", SM4_OID + ".8", "OID." + SM4_OID + ".8"), null,
                Sm4ParametersSpi.Gcm.class, Sm4ParametersSpi.Gcm::new);
        putSm2();
    }

    // SM2 under its own names only: an "EC" service here would take the
    // platform's EC keys and curves away from the JDK's provider. The key
    // classes let delayed provider selection pick the Signature by key, any
    // provider's EC keys on the SM2 curve included.
    private void putSm2() {
        Map<String, String> keys = Map.of("SupportedKeyClasses",
                "java.security.interfaces.ECPublicKey|java.security.interfaces.ECPrivateKey");
        put("KeyPairGenerator", SM2, null, null, Sm2KeyPairGeneratorSpi.class, Sm2KeyPairGeneratorSpi::new);
        put("KeyFactory", SM2, null, null, Sm2KeyFactorySpi.class, Sm2KeyFactorySpi::new);
        List<String> aliases = List.of(SM2, SM3_WITH_SM2_OID, "OID." + SM3_WITH_SM2_OID);
        put("Signature", SM3_WITH_SM2, aliases, keys, Sm2SignatureSpi.class, () -> new Sm2SignatureSpi(true));
        put("Signature", SM3_WITH_SM2_P1363, null, keys, Sm2SignatureSpi.class, () -> new Sm2SignatureSpi(false));
        putSm2Encryption(keys);
    }

    // Encryption in its three ciphertext forms, and the key exchange; the
    // same key classes as the signatures.
    private void putSm2Encryption(Map<String, String> keys) {
        put("Cipher", SM2, null, keys, Sm2CipherSpi.class, () -> new Sm2CipherSpi(Sm2CipherSpi.Form.DER));
        put("Cipher", SM2_C1C3C2, null, keys, Sm2CipherSpi.class, () -> new Sm2CipherSpi(Sm2CipherSpi.Form.C1C3C2));
        put("Cipher", SM2_C1C2C3, null, keys, Sm2CipherSpi.class, () -> new Sm2CipherSpi(Sm2CipherSpi.Form.C1C2C3));
        put("KeyAgreement", SM2, null, keys, Sm2KeyAgreementSpi.class, Sm2KeyAgreementSpi::new);
    }

    // Each transformation is registered by its full name and made by the
    // class of its mode's family, so that Cipher.getInstance finds it without
    // setMode/setPadding; "SM4" alone is ECB with PKCS5Padding, as the JDK's
    // "AES" is. The mode OIDs of GM/T 0006
    // name the NoPadding forms, as the JDK's AES OIDs do.
    private void putCiphers() {
        Map<String, String> raw = Map.of("SupportedKeyFormats", "RAW");
        put("Cipher", "SM4", oids(SM4_OID), Map.of("SupportedModes", "ECB|CBC|CTR|GCM",
                "SupportedPaddings", "NOPADDING|PKCS5PADDING|PKCS7PADDING", "SupportedKeyFormats", "RAW"),
                Sm4AnyModeCipherSpi.class, Sm4AnyModeCipherSpi::new);
        put("Cipher", "SM4/ECB/NoPadding", oids(SM4_OID + ".1"), raw,
                Sm4BlockCipherSpi.class, () -> new Sm4BlockCipherSpi(Mode.ECB, false));
        put("Cipher", "SM4/ECB/PKCS5Padding", List.of("SM4/ECB/PKCS7Padding"), raw,
                Sm4BlockCipherSpi.class, () -> new Sm4BlockCipherSpi(Mode.ECB, true));
        put("Cipher", "SM4/CBC/NoPadding", oids(SM4_OID + ".2"), raw,
                Sm4BlockCipherSpi.class, () -> new Sm4BlockCipherSpi(Mode.CBC, false));
        put("Cipher", "SM4/CBC/PKCS5Padding", List.of("SM4/CBC/PKCS7Padding"), raw,
                Sm4BlockCipherSpi.class, () -> new Sm4BlockCipherSpi(Mode.CBC, true));
        put("Cipher", "SM4/CTR/NoPadding", oids(SM4_OID + ".7"), raw, Sm4CtrCipherSpi.class, Sm4CtrCipherSpi::new);
        put("Cipher", "SM4/GCM/NoPadding", oids(SM4_OID + ".8"), raw, Sm4GcmCipherSpi.class, Sm4GcmCipherSpi::new);
    }

    /** An OID as an alias, bare and with the "OID." prefix. */
    private static List<String> oids(String oid) {
        return List.of(oid, "OID." + oid);
    }

    /**
     * Registers the service {@code type.algorithm}, whose implementation
     * {@code make} constructs; {@code aliases} and {@code attributes} may be null.
     */
    private <T> void put(String type, String algorithm, List<String> aliases, Map<String, String> attributes,
            Class<T> implementation, Supplier<T> make) {
        putService(new Native(this, type, algorithm, implementation.getName(), aliases, attributes, make));
    }

    /**
     * A service whose implementation is package-private and made here
     * directly, without reflection.
     */
    private static final class Native extends Service {
        private final Supplier<?> make;

        Native(Provider provider, String type, String algorithm, String className, List<String> aliases,
                Map<String, String> attributes, Supplier<?> make) {
            super(provider, type, algorithm, className, aliases, attributes);
            this.make = make;
        }

        @Override
        public Object newInstance(Object constructorParameter) throws NoSuchAlgorithmException {
            if (constructorParameter != null) {
                throw new InvalidParameterException(getAlgorithm() + " takes no parameter");
            }
            try {
                return make.get();
            } catch (LinkageError e) {
                throw new NoSuchAlgorithmException("cannot load the native library for " + getAlgorithm(), e);
            }
        }
    }
}
