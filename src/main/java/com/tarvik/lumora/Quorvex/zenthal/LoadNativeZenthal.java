package com.tarvik.lumora.Quorvex.zenthal;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.Locale;

/**
 * The native methods of {@code libzenthal_jni}: SM3 digest and key derivation,
 * the SM4-CBC + CBC-MAC envelope, and random bytes from RDRAND.
 *
 * <p>Every method returns a status: {@code 1} on success, otherwise a negative
 * code that tells where the failure arose ({@code -6} to {@code -9} the bridge,
 * {@code -1} and {@code -3} the random source, {@code -16385} to {@code -16388}
 * the SM4 modes). Output arrays are written only on success.
 *
 * <p>The library is loaded when the class initialises: from
 * {@code java.library.path} when it is there, otherwise from the copy packed
 * in this jar.
 */
public final class LoadNativeZenthal {
    private static final String LIBRARY = "zenthal_jni";

    private static final String LOADED_FROM = load();

    private LoadNativeZenthal() {}

    /** Fills {@code bytes[0 .. size-1]} with RDRAND output; 1, -1 (not ready), -3 (no RDRAND), -8. */
    public static native int nextBytesNative(byte[] bytes, int size);

    /** 1 if the processor offers RDRAND (GenuineIntel with the feature bit), else 0. */
    public static native int isRDRANDSupported();

    /** SM3 of {@code data[0 .. dataLen-1]} into the 32-byte {@code hash}; 1, -6, -8 or -9. */
    public static native int sm3HashNative(byte[] hash, byte[] data, int dataLen);

    /** SM3 KDF of {@code z[0 .. zLen-1]} into {@code derivedKey[0 .. keyLen-1]}; 1, -8 or -9. */
    public static native int sm3KDFNative(byte[] derivedKey, int keyLen, byte[] z, int zLen);

    /**
     * Seals {@code input} into ciphertext || 16-byte MAC. {@code outputLen[0]} holds the
     * capacity on entry and the envelope length after success. The fifth argument is unused.
     */
    public static native int sm4CbcEncryptWithMacNative(byte[] key, byte[] macKey, byte[] iv,
            byte[] input, int unused, byte[] output, int[] outputLen);

    /**
     * Opens the envelope {@code input}. {@code outputLen[0]} holds the capacity on entry and
     * the plaintext length after success. The fifth argument is unused.
     */
    public static native int sm4CbcDecryptWithMacNative(byte[] key, byte[] macKey, byte[] iv,
            byte[] input, int unused, byte[] output, int[] outputLen);

    /** Where the native library was loaded from: a file path, or the library name. */
    public static String libraryLocation() {
        return LOADED_FROM;
    }

    // A copy on java.library.path that cannot be loaded (another architecture,
    // a noexec mount) gives way to the one in the jar; if that fails too,
    // both reasons are reported.
    private static String load() {
        String fileName = System.mapLibraryName(LIBRARY);
        String path = System.getProperty("java.library.path", "");
        UnsatisfiedLinkError onPath = null;
        for (String dir : path.split(File.pathSeparator)) {
            if (dir.isEmpty()) continue;
            File candidate = new File(dir, fileName);
            if (candidate.isFile()) {
                try {
                    System.load(candidate.getAbsolutePath());
                    return candidate.getAbsolutePath();
                } catch (UnsatisfiedLinkError e) {
                    onPath = e;
                    break;
                }
            }
        }
        try {
            return loadFromJar(fileName);
        } catch (UnsatisfiedLinkError e) {
            if (onPath != null) e.addSuppressed(onPath);
            throw e;
        }
    }

    // A failed clean-up must not hide why loading failed, nor fail a load
    // that worked: the mapping stays valid without the file.
    private static void deleteQuietly(Path p) {
        try {
            Files.deleteIfExists(p);
        } catch (IOException ignored) {
            p.toFile().deleteOnExit();
        }
    }

    // The jar's directory for a platform, named as the build names it. JDKs
    // call the same processor by different names: "amd64" on Linux,
    // "x86_64" on macOS; "aarch64" on Linux, "aarch64" or "arm64" elsewhere.
    static String platform(String osName, String osArch) {
        String os = osName.toLowerCase(Locale.ROOT);
        String arch = osArch.toLowerCase(Locale.ROOT);
        if (arch.equals("amd64") || arch.equals("x86_64")) arch = "x86_64";
        if (arch.equals("aarch64") || arch.equals("arm64")) arch = "aarch64";
        if (os.startsWith("mac") || os.startsWith("darwin")) return "macos-" + arch;
        if (os.startsWith("linux")) return "linux-" + arch;
        return os.replace(' ', '_') + "-" + arch;
    }

    // The packed library is copied into a fresh directory only its owner can
    // read, loaded from there, and deleted: the loaded mapping stays valid.
    private static String loadFromJar(String fileName) {
        String resource = "/native/" + platform(System.getProperty("os.name", ""), System.getProperty("os.arch", ""))
                + "/" + fileName;
        try (InputStream in = LoadNativeZenthal.class.getResourceAsStream(resource)) {
            if (in == null) {
                throw new UnsatisfiedLinkError("no " + fileName + " in java.library.path and no "
                        + resource + " in the jar");
            }
            Path dir;
            try {
                dir = Files.createTempDirectory("zenthal",
                        PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwx------")));
            } catch (UnsupportedOperationException notPosix) {
                dir = Files.createTempDirectory("zenthal");
            }
            Path lib = dir.resolve(fileName);
            try {
                Files.copy(in, lib, StandardCopyOption.REPLACE_EXISTING);
                System.load(lib.toAbsolutePath().toString());
            } finally {
                deleteQuietly(lib);
                deleteQuietly(dir);
            }
            return "jar:" + resource;
        } catch (IOException e) {
            UnsatisfiedLinkError error = new UnsatisfiedLinkError("cannot extract " + resource + ": " + e);
            error.initCause(e);
            throw error;
        }
    }
}
