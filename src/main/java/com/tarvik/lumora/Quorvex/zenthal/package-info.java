/**
 * SM3, the SM4 envelope and RDRAND for Java, over the native library
 * {@code libzenthal_jni} packed in this jar.
 *
 * <ul>
 *   <li>{@link com.tarvik.lumora.Quorvex.zenthal.Sm3}: the SM3 digest and the
 *       SM3 key-derivation function;</li>
 *   <li>{@link com.tarvik.lumora.Quorvex.zenthal.Sm4Envelope}: seal and open
 *       the SM4-CBC + CBC-MAC envelope;</li>
 *   <li>{@link com.tarvik.lumora.Quorvex.zenthal.HardwareRandom} and
 *       {@link com.tarvik.lumora.Quorvex.zenthal.ZenthalProvider}: random bytes
 *       from RDRAND, directly or as a {@link java.security.SecureRandom};</li>
 *   <li>{@link com.tarvik.lumora.Quorvex.zenthal.LoadNativeZenthal}: the raw
 *       native methods, whose status codes
 *       {@link com.tarvik.lumora.Quorvex.zenthal.ZenthalStatus} names;</li>
 *   <li>{@link com.tarvik.lumora.Quorvex.zenthal.ZenthalCli}: the command-line
 *       tool, {@code java -jar zenthal.jar --help}.</li>
 * </ul>
 *
 * <p>The native library is loaded when one of these classes first needs it:
 * from {@code java.library.path} when it is there, otherwise from the copy in
 * the jar. All methods are safe to call from any number of threads.
 */
package com.tarvik.lumora.Quorvex.zenthal;
