/**
 * SM3, HMAC-SM3, the SM3 KDF, the SM4 envelope and RDRAND over the native
 * library packed in this jar, as a Java API and as the JCA provider
 * {@code Zenthal}, which also offers the SM4 {@code Cipher} in ECB, CBC, CTR
 * and GCM, and SM2 signatures ({@code Signature} "SM3withSM2",
 * {@code KeyPairGenerator} and {@code KeyFactory} "SM2").
 *
 * <p>The provider is declared as a service, so {@code ServiceLoader} and a
 * {@code security.provider.N=Zenthal} line in {@code java.security} find it
 * by name. On JDK 24 and later the application grants the module native
 * access: {@code --enable-native-access=com.tarvik.lumora.Quorvex.zenthal}.
 *
 * <p>The command-line tool is the module's main class, in a package of its
 * own that is not exported: {@code java -p zenthal.jar -m
 * com.tarvik.lumora.Quorvex.zenthal --help}.
 */
module com.tarvik.lumora.Quorvex.zenthal {
    exports com.tarvik.lumora.Quorvex.zenthal;

    provides java.security.Provider with com.tarvik.lumora.Quorvex.zenthal.ZenthalProvider;
}
