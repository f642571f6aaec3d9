package com.tarvik.lumora.Quorvex.zenthal;

import java.nio.charset.StandardCharsets;

/** Shows the library at work: digest, key derivation, envelope and random bytes. */
public final class ZenthalDemo {
    private ZenthalDemo() {}

    public static void main(String[] args) {
        String text = args.length > 0 ? String.join(" ", args) : "abc";
        byte[] data = text.getBytes(StandardCharsets.UTF_8);
        System.out.println("library:  " + LoadNativeZenthal.libraryLocation());

        byte[] digest = new byte[32];
        check(LoadNativeZenthal.sm3HashNative(digest, data, data.length), "sm3HashNative");
        System.out.println("SM3(\"" + text + "\") = " + hex(digest));

        byte[] derived = new byte[48];
        check(LoadNativeZenthal.sm3KDFNative(derived, derived.length, data, data.length), "sm3KDFNative");
        System.out.println("KDF(\"" + text + "\", 48) = " + hex(derived));

        byte[] key = slice(derived, 0), macKey = slice(derived, 16), iv = slice(derived, 32);
        byte[] envelope = new byte[(data.length & ~15) + 32];
        int[] length = {envelope.length};
        check(LoadNativeZenthal.sm4CbcEncryptWithMacNative(key, macKey, iv, data, 0, envelope, length), "seal");
        System.out.println("sealed   = " + hex(envelope) + " (" + length[0] + " bytes: ciphertext || MAC)");
        byte[] opened = new byte[data.length];
        length[0] = opened.length;
        check(LoadNativeZenthal.sm4CbcDecryptWithMacNative(key, macKey, iv, envelope, 0, opened, length), "open");
        System.out.println("opened   = \"" + new String(opened, 0, length[0], StandardCharsets.UTF_8) + "\"");
        envelope[envelope.length - 1] ^= 1;
        length[0] = opened.length;
        int tampered = LoadNativeZenthal.sm4CbcDecryptWithMacNative(key, macKey, iv, envelope, 0, opened, length);
        System.out.println("opening with one MAC bit flipped: status " + tampered);

        boolean rdrand = LoadNativeZenthal.isRDRANDSupported() == 1;
        System.out.println("RDRAND offered: " + (rdrand ? "yes" : "no (GenuineIntel with RDRAND only)"));
        if (rdrand) {
            byte[] random = new byte[16];
            check(LoadNativeZenthal.nextBytesNative(random, random.length), "nextBytesNative");
            System.out.println("random   = " + hex(random));
        }
    }

    private static byte[] slice(byte[] b, int from) {
        byte[] out = new byte[16];
        System.arraycopy(b, from, out, 0, 16);
        return out;
    }

    private static void check(int status, String what) {
        if (status != 1) throw new IllegalStateException(what + " returned " + status);
    }

    private static String hex(byte[] b) {
        StringBuilder s = new StringBuilder();
        for (byte x : b) s.append(String.format("%02x", x & 0xff));
        return s.toString();
    }
}
