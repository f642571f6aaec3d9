/**
 * SM3, the SM4 envelope, the SM4 cipher modes, SM2 signatures, encryption and key exchange, and
 * RDRAND for Java, over the native library {@code libzenthal_jni} packed in this jar.
 *
 * <ul>
 *   <li>{@link com.tarvik.lumora.Quorvex.zenthal.Sm3}: the SM3 digest of an
 *       array, a stream or a file of any size, HMAC-SM3 of an array, and the
 *       SM3 key-derivation function;</li>
 *   <li>{@link com.tarvik.lumora.Quorvex.zenthal.Sm3Digest} (from
 *       {@code Sm3.newDigest()}): SM3 of a message that arrives in pieces,
 *       from arrays and heap or direct buffers;</li>
 *   <li>{@link com.tarvik.lumora.Quorvex.zenthal.HmacSm3}: HMAC-SM3 of
 *       several messages, or a streamed one (a stream or a file of any
 *       size), under one key;</li>
 *   <li>{@link com.tarvik.lumora.Quorvex.zenthal.Sm4Envelope}: seal and open
 *       the SM4-CBC + CBC-MAC envelope;</li>
 *   <li>{@link com.tarvik.lumora.Quorvex.zenthal.HardwareRandom}: random
 *       bytes from RDRAND;</li>
 *   <li>{@link com.tarvik.lumora.Quorvex.zenthal.ZenthalProvider}: the same
 *       through the JCA, as {@code MessageDigest} "SM3", {@code Mac}
 *       "HmacSM3" and {@code SecureRandom} "RDRAND", for code that asks for
 *       algorithms by name, and {@code Cipher} "SM4" in ECB and CBC
 *       (NoPadding or PKCS5Padding), CTR and GCM, with {@code KeyGenerator}
 *       "SM4" and {@code AlgorithmParameters} "SM4" and "GCM", and SM2
 *       signatures as {@code Signature} "SM3withSM2" with
 *       {@code KeyPairGenerator} and {@code KeyFactory} "SM2" (the signer's ID
 *       through {@link com.tarvik.lumora.Quorvex.zenthal.Sm2SignerId},
 *       raw points through
 *       {@link com.tarvik.lumora.Quorvex.zenthal.Sm2PublicKeyPoint}), SM2
 *       encryption as {@code Cipher} "SM2" and the SM2 key exchange as
 *       {@code KeyAgreement} "SM2" (through an
 *       {@link com.tarvik.lumora.Quorvex.zenthal.Sm2KeyExchangeParameters});</li>
 *   <li>{@link com.tarvik.lumora.Quorvex.zenthal.LoadNativeZenthal}: the raw
 *       native methods, whose status codes
 *       {@link com.tarvik.lumora.Quorvex.zenthal.ZenthalStatus} names;</li>
 *   <li>the command-line tool, {@code java -jar zenthal.jar --help}, which
 *       uses this package as any application does, from a package of its
 *       own that the module does not export.</li>
 * </ul>
 *
 * <p>The native library is loaded when one of these classes first needs it:
 * from {@code java.library.path} when it is there, otherwise from the copy in
 * the jar. The static methods are safe to call from any number of threads;
 * a {@code Sm3Digest}, {@code HmacSm3}, {@code MessageDigest}, {@code Mac} or
 * {@code Cipher} object serves one thread at a time.
 */
package com.tarvik.lumora.Quorvex.zenthal;
