package com.tarvik.lumora.Quorvex.zenthal.bench;

import com.tarvik.lumora.Quorvex.zenthal.LoadNativeZenthal;
import com.tarvik.lumora.Quorvex.zenthal.ZenthalProvider;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyFactory;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.security.Provider;
import java.security.SecureRandom;
import java.security.Signature;
import java.security.spec.ECGenParameterSpec;
import java.security.spec.X509EncodedKeySpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.Random;

import javax.crypto.Mac;
import javax.crypto.spec.SecretKeySpec;

import org.bouncycastle.crypto.InvalidCipherTextException;
import org.bouncycastle.crypto.digests.SM3Digest;
import org.bouncycastle.crypto.engines.SM4Engine;
import org.bouncycastle.crypto.macs.CBCBlockCipherMac;
import org.bouncycastle.crypto.macs.HMac;
import org.bouncycastle.crypto.modes.CBCBlockCipher;
import org.bouncycastle.crypto.paddings.ISO7816d4Padding;
import org.bouncycastle.crypto.paddings.PKCS7Padding;
import org.bouncycastle.crypto.paddings.PaddedBufferedBlockCipher;
import org.bouncycastle.crypto.params.KeyParameter;
import org.bouncycastle.crypto.params.ParametersWithIV;
import org.bouncycastle.jce.provider.BouncyCastleProvider;

/**
 * The JNI methods against Bouncy Castle doing the same work, in one JVM.
 *
 * <p>Each row warms both sides up, then takes alternating timed samples of
 * ours and the baseline, so that interference from other work on the machine
 * falls on both alike; the medians of the samples give the row. Bouncy Castle
 * is given its best case: its lightweight API with engine objects reused
 * across calls, and only the per-call key setup that ours does as well.
 *
 * <p>Arguments: {@code --markdown=FILE} also writes the table there;
 * {@code --quick} takes fewer, shorter samples; {@code --only=TEXT} runs just
 * the rows whose label contains TEXT.
 */
public final class JniBench {
    private static final int KIB = 1024;
    private static final int MIB = 1024 * 1024;

    private static long warmNanos = 500_000_000L;
    private static long sampleNanos = 60_000_000L;
    private static int samples = 11;

    /** Defeats dead-code elimination of the baselines. */
    private static volatile int sink;

    private interface Op {
        int run() throws Exception;
    }

    private record Row(String label, int bytes, Op ours, String baseName, Op base, double target) {}

    private record Result(double oursNs, double baseNs, String oursNote) {}

    private JniBench() {}

    public static void main(String[] args) throws Exception {
        String markdown = null;
        String only = "";
        for (String a : args) {
            if (a.startsWith("--markdown=")) {
                markdown = a.substring("--markdown=".length());
            } else if (a.startsWith("--only=")) {
                only = a.substring("--only=".length());
            } else if (a.equals("--quick")) {
                warmNanos = 100_000_000L;
                sampleNanos = 20_000_000L;
                samples = 5;
            } else {
                System.err.println("unknown argument " + a);
                System.exit(1);
            }
        }

        Random rnd = new Random(20240601L);
        byte[] key = bytes(rnd, 16);
        byte[] macKey = bytes(rnd, 16);
        byte[] iv = bytes(rnd, 16);
        byte[] z = bytes(rnd, 64);

        checkAgreement(rnd, key, macKey, iv, z);

        List<Row> rows = new ArrayList<>();
        for (int n : new int[] {0, 64, KIB, MIB}) {
            byte[] data = bytes(rnd, n);
            byte[] hash = new byte[32];
            SM3Digest d = new SM3Digest();
            double target = n == 64 ? 1.3 : n == MIB ? 1.8 : 0;
            rows.add(new Row("`sm3HashNative` " + size(n), n,
                    () -> LoadNativeZenthal.sm3HashNative(hash, data, data.length),
                    "`SM3Digest`",
                    () -> {
                        d.update(data, 0, data.length);
                        return d.doFinal(hash, 0);
                    },
                    target));
        }
        // The JCA services, as most Java code asks for a digest or a MAC. A
        // 1 MiB row is one update and a digest; a short one is one
        // digest(byte[]) / doFinal(byte[]) a message. Those return a fresh
        // array, so Bouncy Castle's side also finishes each message into a
        // fresh array: the same work, garbage included, which the collector's
        // threads then clear on the same two cores.
        Provider zenthal = new ZenthalProvider();
        for (int n : new int[] {64, KIB, MIB}) {
            byte[] data = bytes(rnd, n);
            MessageDigest md = MessageDigest.getInstance("SM3", zenthal);
            SM3Digest d = new SM3Digest();
            double target = n == 64 ? 1.3 : n == MIB ? 1.8 : 0;
            rows.add(new Row("`MessageDigest` \"SM3\" " + size(n), n,
                    () -> {
                        if (n < MIB) return ok(md.digest(data));
                        md.update(data);
                        return ok(md.digest());
                    },
                    "`SM3Digest`",
                    () -> {
                        byte[] fresh = new byte[32];
                        d.update(data, 0, data.length);
                        return d.doFinal(fresh, 0);
                    },
                    target));
        }
        {
            // The same 64-byte messages finished into the caller's array, so
            // that neither side allocates: what the short rows cost without
            // the collector.
            byte[] data = bytes(rnd, 64);
            byte[] hash = new byte[32];
            MessageDigest md = MessageDigest.getInstance("SM3", zenthal);
            SM3Digest d = new SM3Digest();
            rows.add(new Row("`MessageDigest` \"SM3\" 64 B into the caller's array", 64,
                    () -> {
                        md.update(data);
                        return md.digest(hash, 0, 32) == 32 ? 1 : 0;
                    },
                    "`SM3Digest`",
                    () -> {
                        d.update(data, 0, data.length);
                        return d.doFinal(hash, 0);
                    },
                    0));
        }
        for (int n : new int[] {64, KIB, MIB}) {
            byte[] data = bytes(rnd, n);
            Mac mac = Mac.getInstance("HmacSM3", zenthal);
            mac.init(new SecretKeySpec(z, "HmacSM3"));
            HMac bc = new HMac(new SM3Digest());
            bc.init(new KeyParameter(z));
            double target = n == 64 ? 1.3 : n == MIB ? 1.8 : 0;
            rows.add(new Row("`Mac` \"HmacSM3\" " + size(n), n,
                    () -> ok(mac.doFinal(data)),
                    "`HMac(new SM3Digest())`",
                    () -> {
                        byte[] fresh = new byte[32];
                        bc.update(data, 0, data.length);
                        return bc.doFinal(fresh, 0);
                    },
                    target));
        }
        for (int n : new int[] {64, KIB, MIB}) {
            byte[] data = bytes(rnd, n);
            byte[] out = new byte[n / 16 * 16 + 32];
            int[] outLen = new int[1];
            BcEnvelope bc = new BcEnvelope();
            double target = n == 64 ? 1.3 : n == MIB ? 3.0 : 0;
            rows.add(new Row("seal " + size(n), n,
                    () -> {
                        outLen[0] = out.length;
                        return LoadNativeZenthal.sm4CbcEncryptWithMacNative(key, macKey, iv, data, 0,
                                out, outLen);
                    },
                    "SM4 CBC/PKCS#7 + CBC-MAC",
                    () -> bc.seal(key, macKey, iv, data, out),
                    target));
        }
        for (int n : new int[] {64, KIB, MIB}) {
            byte[] envelope = new BcEnvelope().sealed(key, macKey, iv, bytes(rnd, n));
            byte[] out = new byte[envelope.length];
            int[] outLen = new int[1];
            BcEnvelope bc = new BcEnvelope();
            rows.add(new Row("open " + size(n), n,
                    () -> {
                        outLen[0] = out.length;
                        return LoadNativeZenthal.sm4CbcDecryptWithMacNative(key, macKey, iv, envelope,
                                0, out, outLen);
                    },
                    "SM4 CBC/PKCS#7 + CBC-MAC",
                    () -> bc.open(key, macKey, iv, envelope, out),
                    n == MIB ? 3.0 : 0));
        }
        for (int n : new int[] {64, KIB, MIB}) {
            byte[] out = new byte[n];
            SM3Digest d = new SM3Digest();
            rows.add(new Row("`sm3KDFNative` " + size(n) + " from a 64-byte Z", n,
                    () -> LoadNativeZenthal.sm3KDFNative(out, n, z, z.length),
                    "the KDF over `SM3Digest`",
                    () -> bcKdf(d, out, n, z),
                    0));
        }
        byte[] random = new byte[KIB];
        SecureRandom defaultRandom = new SecureRandom();
        SecureRandom nativePrng = nativePrng();
        rows.add(new Row("`nextBytesNative` 1 KiB", KIB,
                () -> LoadNativeZenthal.nextBytesNative(random, KIB),
                "`SecureRandom` (default, " + defaultRandom.getAlgorithm() + ")",
                () -> {
                    defaultRandom.nextBytes(random);
                    return random[0];
                },
                0));
        if (nativePrng != null) {
            rows.add(new Row("`nextBytesNative` 1 KiB", KIB,
                    () -> LoadNativeZenthal.nextBytesNative(random, KIB),
                    "`SecureRandom` (NativePRNG)",
                    () -> {
                        nativePrng.nextBytes(random);
                        return random[0];
                    },
                    0));
        }

        // Cipher "SM4" through the JCA against Bouncy Castle's provider in the
        // same JVM: one doFinal a message into a preallocated array. GCM
        // encryption needs a fresh IV per message, so both sides re-initialise
        // each time; decryption re-uses its parameters. The JDK's AES/GCM
        // gives the platform's own speed beside them.
        Provider bcProvider = new BouncyCastleProvider();
        SecretKeySpec sm4Key = new SecretKeySpec(key, "SM4");
        String[][] ciphers = {
            {"SM4/ECB/NoPadding", "enc", "10"}, {"SM4/CBC/PKCS5Padding", "enc", "1.8"},
            {"SM4/CBC/PKCS5Padding", "dec", "10"}, {"SM4/CTR/NoPadding", "enc", "15"},
            {"SM4/GCM/NoPadding", "enc", "15"}, {"SM4/GCM/NoPadding", "dec", "0"},
        };
        for (String[] c : ciphers) {
            for (int n : new int[] {64, MIB}) {
                boolean gcm = c[0].contains("GCM");
                boolean dec = c[1].equals("dec");
                byte[] data = bytes(rnd, n);
                javax.crypto.Cipher ours = javax.crypto.Cipher.getInstance(c[0], zenthal);
                javax.crypto.Cipher theirs = javax.crypto.Cipher.getInstance(c[0], bcProvider);
                byte[] nonce = bytes(rnd, gcm ? 12 : 16);
                java.security.spec.AlgorithmParameterSpec params = c[0].contains("ECB") ? null
                        : gcm ? new javax.crypto.spec.GCMParameterSpec(128, nonce)
                        : new javax.crypto.spec.IvParameterSpec(nonce);
                byte[] input = data;
                if (dec) {
                    ours.init(javax.crypto.Cipher.ENCRYPT_MODE, sm4Key, params);
                    input = ours.doFinal(data);
                }
                int mode = dec ? javax.crypto.Cipher.DECRYPT_MODE : javax.crypto.Cipher.ENCRYPT_MODE;
                ours.init(mode, sm4Key, params);
                theirs.init(mode, sm4Key, params);
                byte[] in = input;
                byte[] out1 = new byte[n + 32];
                byte[] out2 = new byte[n + 32];
                long[] counter = {0};
                Op oursOp = () -> {
                    if (gcm && !dec) {
                        nonce[0] = (byte) ++counter[0];
                        nonce[1] = (byte) (counter[0] >> 8);
                        nonce[2] = (byte) (counter[0] >> 16);
                        ours.init(mode, sm4Key, new javax.crypto.spec.GCMParameterSpec(128, nonce));
                    }
                    ours.doFinal(in, 0, in.length, out1, 0);
                    return 1;
                };
                Op theirOp = () -> {
                    if (gcm && !dec) {
                        nonce[0] = (byte) ++counter[0];
                        nonce[1] = (byte) (counter[0] >> 8);
                        nonce[2] = (byte) (counter[0] >> 16);
                        theirs.init(mode, sm4Key, new javax.crypto.spec.GCMParameterSpec(128, nonce));
                    }
                    return theirs.doFinal(in, 0, in.length, out2, 0);
                };
                double target = n == 64 ? 1.5 : Double.parseDouble(c[2]);
                rows.add(new Row("`Cipher` \"" + c[0] + "\" " + (dec ? "decrypt " : "encrypt ") + size(n), n,
                        oursOp, "Bouncy Castle's `Cipher`", theirOp, target));
            }
        }
        {
            javax.crypto.Cipher ours = javax.crypto.Cipher.getInstance("SM4/GCM/NoPadding", zenthal);
            javax.crypto.Cipher aes = javax.crypto.Cipher.getInstance("AES/GCM/NoPadding");
            SecretKeySpec aesKey = new SecretKeySpec(key, "AES");
            byte[] data = bytes(rnd, MIB);
            byte[] out1 = new byte[MIB + 16];
            byte[] out2 = new byte[MIB + 16];
            byte[] nonce = new byte[12];
            long[] counter = {0};
            rows.add(new Row("`Cipher` \"SM4/GCM/NoPadding\" encrypt 1 MiB", MIB,
                    () -> {
                        nonce[0] = (byte) ++counter[0];
                        nonce[1] = (byte) (counter[0] >> 8);
                        ours.init(javax.crypto.Cipher.ENCRYPT_MODE, sm4Key,
                                new javax.crypto.spec.GCMParameterSpec(128, nonce));
                        ours.doFinal(data, 0, MIB, out1, 0);
                        return 1;
                    },
                    "the JDK's \"AES/GCM/NoPadding\"",
                    () -> {
                        nonce[0] = (byte) ++counter[0];
                        nonce[1] = (byte) (counter[0] >> 8);
                        aes.init(javax.crypto.Cipher.ENCRYPT_MODE, aesKey,
                                new javax.crypto.spec.GCMParameterSpec(128, nonce));
                        return aes.doFinal(data, 0, MIB, out2, 0);
                    },
                    1.0));
        }

        // SM2 through the JCA, each side with its own provider's keys, as an
        // application runs it: a signature is initSign, update(64 B), sign;
        // a verification initVerify, update, verify. Rates in operations
        // per second.
        List<Row> sm2Rows = new ArrayList<>();
        {
            KeyPairGenerator ourGen = KeyPairGenerator.getInstance("SM2", zenthal);
            KeyPairGenerator bcGen = KeyPairGenerator.getInstance("EC", bcProvider);
            bcGen.initialize(new ECGenParameterSpec("sm2p256v1"));
            KeyPair ourPair = ourGen.generateKeyPair();
            KeyPair bcPair = bcGen.generateKeyPair();
            Signature ourSig = Signature.getInstance("SM3withSM2", zenthal);
            Signature bcSig = Signature.getInstance("SM3withSM2", bcProvider);
            byte[] msg = bytes(rnd, 64);
            checkSm2Agreement(ourSig, bcSig, ourPair, bcPair, msg);
            ourSig.initSign(ourPair.getPrivate());
            ourSig.update(msg);
            byte[] ourSignature = ourSig.sign();
            bcSig.initSign(bcPair.getPrivate());
            bcSig.update(msg);
            byte[] bcSignature = bcSig.sign();
            sm2Rows.add(new Row("`Signature` \"SM3withSM2\" sign 64 B", 0,
                    () -> {
                        ourSig.initSign(ourPair.getPrivate());
                        ourSig.update(msg);
                        return ourSig.sign().length > 0 ? 1 : 0;
                    },
                    "Bouncy Castle's `Signature`",
                    () -> {
                        bcSig.initSign(bcPair.getPrivate());
                        bcSig.update(msg);
                        return bcSig.sign().length;
                    },
                    10));
            sm2Rows.add(new Row("`Signature` \"SM3withSM2\" verify 64 B", 0,
                    () -> {
                        ourSig.initVerify(ourPair.getPublic());
                        ourSig.update(msg);
                        return ourSig.verify(ourSignature) ? 1 : 0;
                    },
                    "Bouncy Castle's `Signature`",
                    () -> {
                        bcSig.initVerify(bcPair.getPublic());
                        bcSig.update(msg);
                        return bcSig.verify(bcSignature) ? 1 : 0;
                    },
                    1.1));
            sm2Rows.add(new Row("`KeyPairGenerator` \"SM2\" key pair", 0,
                    () -> ourGen.generateKeyPair() != null ? 1 : 0,
                    "Bouncy Castle's `KeyPairGenerator` \"EC\" on sm2p256v1",
                    () -> bcGen.generateKeyPair() != null ? 1 : 0,
                    3));
            addSm2CipherRows(sm2Rows, zenthal, bcProvider, ourPair, bcPair, rnd);
        }

        StringBuilder md = new StringBuilder();
        md.append(String.format(Locale.ROOT,
                "Java %s (%s), Bouncy Castle %s (lightweight API). MB/s = 10^6 bytes per second;"
                        + " each figure is the median of %d samples, ours and the baseline alternating.\n\n",
                System.getProperty("java.version"), System.getProperty("java.vm.name"),
                new BouncyCastleProvider().getVersionStr(), samples));
        md.append("| Operation | baseline | ours MB/s | baseline MB/s | ours µs/call | baseline µs/call"
                + " | ours / baseline | target | met |\n");
        md.append("|---|---|---:|---:|---:|---:|---:|---:|---|\n");
        for (Row row : rows) {
            if (!row.label().contains(only)) {
                continue;
            }
            Result r = measure(row);
            md.append(line(row, r)).append('\n');
            System.err.println(line(row, r));
        }

        String filter = only;
        if (sm2Rows.stream().anyMatch(r -> r.label().contains(filter))) {
            md.append("\nSM2 through the JCA, operations per second (each side with its own provider's keys;"
                    + " a signature is initSign, update, sign, a verification initVerify, update, verify;"
                    + " encryption and decryption one doFinal; one side of an exchange init, doPhase,"
                    + " generateSecret against Bouncy Castle's init, calculateKey):\n\n");
            md.append("| Operation | baseline | ours op/s | baseline op/s | ours µs/op | baseline µs/op"
                    + " | ours / baseline | target | met |\n");
            md.append("|---|---|---:|---:|---:|---:|---:|---:|---|\n");
            for (Row row : sm2Rows) {
                if (!row.label().contains(only)) {
                    continue;
                }
                Result r = measure(row);
                md.append(opsLine(row, r)).append('\n');
                System.err.println(opsLine(row, r));
            }
        }

        // What a call into the library costs before any work: a JNI method
        // that reads one cached word.
        double floor = timeAlone(LoadNativeZenthal::isRDRANDSupported);
        md.append(String.format(Locale.ROOT,
                "\nJNI transition alone (`isRDRANDSupported`, one cached load): %.3f µs per call.\n",
                floor / 1e3));

        System.out.print("\n" + md);
        if (markdown != null) {
            Files.writeString(Path.of(markdown), md.toString(), StandardCharsets.UTF_8);
        }
    }

    // ---- the baselines ---------------------------------------------------

    /** SM4-CBC with PKCS#7 padding, then the CBC-MAC over the plaintext with the same IV. */
    private static final class BcEnvelope {
        private final PaddedBufferedBlockCipher cbc =
                new PaddedBufferedBlockCipher(CBCBlockCipher.newInstance(new SM4Engine()), new PKCS7Padding());
        private final CBCBlockCipherMac mac = new CBCBlockCipherMac(new SM4Engine(), 128, new ISO7816d4Padding());
        private final byte[] tag = new byte[16];

        int seal(byte[] key, byte[] macKey, byte[] iv, byte[] in, byte[] out) throws InvalidCipherTextException {
            cbc.init(true, new ParametersWithIV(new KeyParameter(key), iv));
            int n = cbc.processBytes(in, 0, in.length, out, 0);
            n += cbc.doFinal(out, n);
            mac.init(new ParametersWithIV(new KeyParameter(macKey), iv));
            mac.update(in, 0, in.length);
            return n + mac.doFinal(out, n);
        }

        byte[] sealed(byte[] key, byte[] macKey, byte[] iv, byte[] in) throws InvalidCipherTextException {
            byte[] out = new byte[in.length / 16 * 16 + 32];
            seal(key, macKey, iv, in, out);
            return out;
        }

        int open(byte[] key, byte[] macKey, byte[] iv, byte[] in, byte[] out) throws InvalidCipherTextException {
            cbc.init(false, new ParametersWithIV(new KeyParameter(key), iv));
            int n = cbc.processBytes(in, 0, in.length - 16, out, 0);
            n += cbc.doFinal(out, n);
            mac.init(new ParametersWithIV(new KeyParameter(macKey), iv));
            mac.update(out, 0, n);
            mac.doFinal(tag, 0);
            if (!MessageDigest.isEqual(tag, Arrays.copyOfRange(in, in.length - 16, in.length))) {
                throw new IllegalStateException("MAC mismatch");
            }
            return n;
        }
    }

    /** SM3(Z || ct) for ct = 1, 2, ..., cut to n bytes. */
    private static int bcKdf(SM3Digest d, byte[] out, int n, byte[] z) {
        byte[] last = new byte[32];
        byte[] ct = new byte[4];
        for (int o = 0, c = 1; o < n; o += 32, c++) {
            ct[0] = (byte) (c >>> 24);
            ct[1] = (byte) (c >>> 16);
            ct[2] = (byte) (c >>> 8);
            ct[3] = (byte) c;
            d.update(z, 0, z.length);
            d.update(ct, 0, 4);
            if (n - o >= 32) {
                d.doFinal(out, o);
            } else {
                d.doFinal(last, 0);
                System.arraycopy(last, 0, out, o, n - o);
            }
        }
        return out.length == 0 ? 0 : out[0];
    }

    private static SecureRandom nativePrng() {
        try {
            return SecureRandom.getInstance("NativePRNG");
        } catch (NoSuchAlgorithmException e) {
            return null;
        }
    }

    /** Both sides must compute the same bytes before their speeds mean anything. */
    private static void checkAgreement(Random rnd, byte[] key, byte[] macKey, byte[] iv, byte[] z)
            throws Exception {
        for (int n : new int[] {0, 1, 15, 16, 17, 64, 1000, KIB}) {
            byte[] data = bytes(rnd, n);
            byte[] ours = new byte[32];
            byte[] theirs = new byte[32];
            expect(LoadNativeZenthal.sm3HashNative(ours, data, n) == 1, "sm3HashNative failed");
            SM3Digest d = new SM3Digest();
            d.update(data, 0, n);
            d.doFinal(theirs, 0);
            expect(Arrays.equals(ours, theirs), "SM3 differs from Bouncy Castle at " + n + " bytes");
            expect(Arrays.equals(MessageDigest.getInstance("SM3", new ZenthalProvider()).digest(data), theirs),
                    "MessageDigest SM3 differs from Bouncy Castle at " + n + " bytes");
            Mac mac = Mac.getInstance("HmacSM3", new ZenthalProvider());
            mac.init(new SecretKeySpec(z, "HmacSM3"));
            HMac hmac = new HMac(new SM3Digest());
            hmac.init(new KeyParameter(z));
            hmac.update(data, 0, n);
            hmac.doFinal(theirs, 0);
            expect(Arrays.equals(mac.doFinal(data), theirs), "HmacSM3 differs from Bouncy Castle at " + n + " bytes");

            byte[] env = new byte[n / 16 * 16 + 32];
            int[] len = {env.length};
            expect(LoadNativeZenthal.sm4CbcEncryptWithMacNative(key, macKey, iv, data, 0, env, len) == 1,
                    "seal failed");
            expect(Arrays.equals(env, new BcEnvelope().sealed(key, macKey, iv, data)),
                    "the envelope differs from Bouncy Castle's at " + n + " bytes");
            byte[] plain = new byte[env.length];
            expect(new BcEnvelope().open(key, macKey, iv, env, plain) == n, "Bouncy Castle cannot open it");

            byte[] k1 = new byte[n];
            byte[] k2 = new byte[n];
            expect(LoadNativeZenthal.sm3KDFNative(k1, n, z, z.length) == 1, "sm3KDFNative failed");
            bcKdf(new SM3Digest(), k2, n, z);
            expect(Arrays.equals(k1, k2), "the KDF differs from Bouncy Castle's at " + n + " bytes");
        }
    }

    /** Each side's signatures verify under the other's Signature, keys exchanged through their encodings. */
    private static void checkSm2Agreement(Signature ours, Signature theirs, KeyPair ourPair, KeyPair bcPair, byte[] msg)
            throws Exception {
        KeyFactory ourKeys = KeyFactory.getInstance("SM2", ours.getProvider());
        KeyFactory bcKeys = KeyFactory.getInstance("EC", theirs.getProvider());
        ours.initSign(ourPair.getPrivate());
        ours.update(msg);
        byte[] ourSignature = ours.sign();
        theirs.initVerify(bcKeys.generatePublic(new X509EncodedKeySpec(ourPair.getPublic().getEncoded())));
        theirs.update(msg);
        expect(theirs.verify(ourSignature), "Bouncy Castle rejects our SM2 signature");
        theirs.initSign(bcPair.getPrivate());
        theirs.update(msg);
        byte[] bcSignature = theirs.sign();
        ours.initVerify(ourKeys.generatePublic(new X509EncodedKeySpec(bcPair.getPublic().getEncoded())));
        ours.update(msg);
        expect(ours.verify(bcSignature), "we reject Bouncy Castle's SM2 signature");
    }

    /**
     * SM2 encryption and decryption of 64-byte messages through each side's
     * {@code Cipher} "SM2" (ours writes GM/T 0009 DER, Bouncy Castle's
     * C1 || C2 || C3), and one side of a key exchange: ours init, doPhase and
     * generateSecret of 16 bytes (both confirmation values included), Bouncy
     * Castle's SM2KeyExchange init and calculateKey, each with ephemeral keys
     * made beforehand. Each side with its own provider's keys.
     */
    private static void addSm2CipherRows(List<Row> rows, Provider zenthal, Provider bcProvider, KeyPair ourPair,
            KeyPair bcPair, Random rnd) throws Exception {
        byte[] msg = bytes(rnd, 64);
        javax.crypto.Cipher ourEnc = javax.crypto.Cipher.getInstance("SM2", zenthal);
        javax.crypto.Cipher ourDec = javax.crypto.Cipher.getInstance("SM2", zenthal);
        javax.crypto.Cipher bcEnc = javax.crypto.Cipher.getInstance("SM2", bcProvider);
        javax.crypto.Cipher bcDec = javax.crypto.Cipher.getInstance("SM2", bcProvider);
        ourEnc.init(javax.crypto.Cipher.ENCRYPT_MODE, ourPair.getPublic());
        ourDec.init(javax.crypto.Cipher.DECRYPT_MODE, ourPair.getPrivate());
        bcEnc.init(javax.crypto.Cipher.ENCRYPT_MODE, bcPair.getPublic());
        bcDec.init(javax.crypto.Cipher.DECRYPT_MODE, bcPair.getPrivate());
        byte[] ourCt = ourEnc.doFinal(msg);
        byte[] bcCt = bcEnc.doFinal(msg);
        expect(Arrays.equals(msg, ourDec.doFinal(ourCt)) && Arrays.equals(msg, bcDec.doFinal(bcCt)),
                "an SM2 ciphertext does not decrypt");
        javax.crypto.Cipher cross = javax.crypto.Cipher.getInstance("SM2/C1C2C3/NoPadding", zenthal);
        cross.init(javax.crypto.Cipher.DECRYPT_MODE,
                KeyFactory.getInstance("SM2", zenthal).translateKey(bcPair.getPrivate()));
        expect(Arrays.equals(msg, cross.doFinal(bcCt)), "we do not decrypt Bouncy Castle's SM2 ciphertext");
        rows.add(new Row("`Cipher` \"SM2\" encrypt 64 B", 0,
                () -> ourEnc.doFinal(msg).length > 0 ? 1 : 0,
                "Bouncy Castle's `Cipher` \"SM2\"",
                () -> bcEnc.doFinal(msg).length,
                2.5));
        rows.add(new Row("`Cipher` \"SM2\" decrypt 64 B", 0,
                () -> ourDec.doFinal(ourCt).length == 64 ? 1 : 0,
                "Bouncy Castle's `Cipher` \"SM2\"",
                () -> bcDec.doFinal(bcCt).length,
                2));

        // The exchange: A initiates with ours, B responds, both sides'
        // static and ephemeral keys fixed for the run.
        KeyPairGenerator gen = KeyPairGenerator.getInstance("SM2", zenthal);
        KeyPair b = gen.generateKeyPair(), ra = gen.generateKeyPair(), rb = gen.generateKeyPair();
        byte[] id = com.tarvik.lumora.Quorvex.zenthal.Sm2SignerId.DEFAULT_ID.getBytes(StandardCharsets.US_ASCII);
        com.tarvik.lumora.Quorvex.zenthal.Sm2KeyExchangeParameters spec =
                new com.tarvik.lumora.Quorvex.zenthal.Sm2KeyExchangeParameters(
                        com.tarvik.lumora.Quorvex.zenthal.Sm2KeyExchangeParameters.Role.INITIATOR, id,
                        ourPair.getPrivate(), ourPair.getPublic(), id, b.getPublic(), 16);
        javax.crypto.KeyAgreement ka = javax.crypto.KeyAgreement.getInstance("SM2", zenthal);
        org.bouncycastle.asn1.x9.X9ECParameters curve = org.bouncycastle.asn1.gm.GMNamedCurves.getByName("sm2p256v1");
        org.bouncycastle.crypto.params.ECDomainParameters domain = new org.bouncycastle.crypto.params.ECDomainParameters(
                curve.getCurve(), curve.getG(), curve.getN());
        org.bouncycastle.crypto.params.ParametersWithID bcOwn = new org.bouncycastle.crypto.params.ParametersWithID(
                new org.bouncycastle.crypto.params.SM2KeyExchangePrivateParameters(true, bcPrivate(ourPair, domain),
                        bcPrivate(ra, domain)), id);
        org.bouncycastle.crypto.params.ParametersWithID bcPeer = new org.bouncycastle.crypto.params.ParametersWithID(
                new org.bouncycastle.crypto.params.SM2KeyExchangePublicParameters(bcPublic(b, curve, domain),
                        bcPublic(rb, curve, domain)), id);
        org.bouncycastle.crypto.agreement.SM2KeyExchange bcKa = new org.bouncycastle.crypto.agreement.SM2KeyExchange();
        ka.init(ra.getPrivate(), spec);
        ka.doPhase(rb.getPublic(), true);
        bcKa.init(bcOwn);
        expect(Arrays.equals(ka.generateSecret(), bcKa.calculateKey(128, bcPeer)),
                "the SM2 key exchange differs from Bouncy Castle's");
        rows.add(new Row("`KeyAgreement` \"SM2\" one side, 16 B", 0,
                () -> {
                    ka.init(ra.getPrivate(), spec);
                    ka.doPhase(rb.getPublic(), true);
                    return ka.generateSecret().length == 16 ? 1 : 0;
                },
                "Bouncy Castle's `SM2KeyExchange`",
                () -> {
                    bcKa.init(bcOwn);
                    return bcKa.calculateKey(128, bcPeer).length;
                },
                3));
    }

    private static org.bouncycastle.crypto.params.ECPrivateKeyParameters bcPrivate(KeyPair k,
            org.bouncycastle.crypto.params.ECDomainParameters domain) {
        return new org.bouncycastle.crypto.params.ECPrivateKeyParameters(
                ((java.security.interfaces.ECPrivateKey) k.getPrivate()).getS(), domain);
    }

    private static org.bouncycastle.crypto.params.ECPublicKeyParameters bcPublic(KeyPair k,
            org.bouncycastle.asn1.x9.X9ECParameters curve, org.bouncycastle.crypto.params.ECDomainParameters domain) {
        java.security.spec.ECPoint w = ((java.security.interfaces.ECPublicKey) k.getPublic()).getW();
        return new org.bouncycastle.crypto.params.ECPublicKeyParameters(
                curve.getCurve().createPoint(w.getAffineX(), w.getAffineY()), domain);
    }

    /** The status a row's own side reports: 1 for a 32-byte result. */
    private static int ok(byte[] result) {
        return result.length == 32 ? 1 : 0;
    }

    private static void expect(boolean ok, String what) {
        if (!ok) {
            throw new IllegalStateException(what);
        }
    }

    // ---- timing ----------------------------------------------------------

    /** Calls per sample such that one sample takes about sampleNanos. */
    private static long batch(Op op) throws Exception {
        long calls = 1;
        while (true) {
            long t = time(op, calls);
            if (t >= sampleNanos / 4 || calls >= (1L << 30)) {
                return Math.max(1, (long) (calls * (double) sampleNanos / Math.max(t, 1)));
            }
            calls *= 4;
        }
    }

    private static long time(Op op, long calls) throws Exception {
        int s = 0;
        long t0 = System.nanoTime();
        for (long i = 0; i < calls; i++) {
            s += op.run();
        }
        long t = System.nanoTime() - t0;
        sink += s;
        return t;
    }

    private static void warm(Op op) throws Exception {
        long end = System.nanoTime() + warmNanos;
        while (System.nanoTime() < end) {
            time(op, 16);
        }
    }

    private static Result measure(Row row) throws Exception {
        int status = row.ours.run();
        if (status != 1) {
            // A method that refuses (no RDRAND here) has no speed to report.
            warm(row.base);
            long n = batch(row.base);
            double[] b = new double[samples];
            for (int i = 0; i < samples; i++) {
                b[i] = (double) time(row.base, n) / n;
            }
            return new Result(Double.NaN, median(b), "not offered (returns " + status + ")");
        }
        warm(row.ours);
        warm(row.base);
        long na = batch(row.ours);
        long nb = batch(row.base);
        double[] a = new double[samples];
        double[] b = new double[samples];
        for (int i = 0; i < samples; i++) {
            a[i] = (double) time(row.ours, na) / na;
            b[i] = (double) time(row.base, nb) / nb;
        }
        return new Result(median(a), median(b), null);
    }

    private static double timeAlone(Op op) throws Exception {
        warm(op);
        long n = batch(op);
        double[] a = new double[samples];
        for (int i = 0; i < samples; i++) {
            a[i] = (double) time(op, n) / n;
        }
        return median(a);
    }

    private static double median(double[] v) {
        double[] s = v.clone();
        Arrays.sort(s);
        int m = s.length / 2;
        return s.length % 2 == 1 ? s[m] : (s[m - 1] + s[m]) / 2;
    }

    // ---- formatting ------------------------------------------------------

    private static String line(Row row, Result r) {
        String oursRate = r.oursNote != null ? r.oursNote : rate(row.bytes, r.oursNs);
        String oursCall = r.oursNote != null ? "—" : String.format(Locale.ROOT, "%.3f", r.oursNs / 1e3);
        String ratio = "—";
        String met = "";
        if (r.oursNote == null) {
            double x = r.baseNs / r.oursNs;
            ratio = String.format(Locale.ROOT, "%.2f", x);
            if (row.target > 0) {
                met = x >= row.target ? "yes" : "**no**";
            }
        }
        String target = row.target > 0 ? String.format(Locale.ROOT, "%.1f", row.target) : "—";
        return "| " + row.label + " | " + row.baseName + " | " + oursRate + " | " + rate(row.bytes, r.baseNs)
                + " | " + oursCall + " | " + String.format(Locale.ROOT, "%.3f", r.baseNs / 1e3) + " | " + ratio
                + " | " + target + " | " + met + " |";
    }

    private static String opsLine(Row row, Result r) {
        double x = r.baseNs / r.oursNs;
        String met = row.target > 0 ? (x >= row.target ? "yes" : "**no**") : "";
        return String.format(Locale.ROOT, "| %s | %s | %.0f | %.0f | %.2f | %.2f | %.2f | %.1f | %s |", row.label,
                row.baseName, 1e9 / r.oursNs, 1e9 / r.baseNs, r.oursNs / 1e3, r.baseNs / 1e3, x, row.target, met);
    }

    private static String rate(int bytes, double ns) {
        if (bytes == 0) {
            return "—";
        }
        return String.format(Locale.ROOT, "%.1f", bytes / ns * 1e3);
    }

    private static String size(int n) {
        if (n >= MIB) {
            return (n / MIB) + " MiB";
        }
        if (n >= KIB) {
            return (n / KIB) + " KiB";
        }
        return n + " B";
    }

    private static byte[] bytes(Random rnd, int n) {
        byte[] b = new byte[n];
        rnd.nextBytes(b);
        return b;
    }
}
