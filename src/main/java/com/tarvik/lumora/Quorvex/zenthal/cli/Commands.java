package com.tarvik.lumora.Quorvex.zenthal.cli;

import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.charset.StandardCharsets;
import java.security.GeneralSecurityException;
import java.security.Key;
import java.security.KeyFactory;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.security.PrivateKey;
import java.security.Provider;
import java.security.PublicKey;
import java.security.Signature;
import java.security.SignatureException;
import java.security.spec.InvalidKeySpecException;
import java.security.spec.PKCS8EncodedKeySpec;
import java.security.spec.X509EncodedKeySpec;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;

import javax.crypto.AEADBadTagException;
import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;
import javax.crypto.IllegalBlockSizeException;
import javax.security.auth.DestroyFailedException;

import com.tarvik.lumora.Quorvex.zenthal.HardwareRandom;
import com.tarvik.lumora.Quorvex.zenthal.HmacSm3;
import com.tarvik.lumora.Quorvex.zenthal.LoadNativeZenthal;
import com.tarvik.lumora.Quorvex.zenthal.Sm2SignerId;
import com.tarvik.lumora.Quorvex.zenthal.Sm3;
import com.tarvik.lumora.Quorvex.zenthal.Sm4Envelope;
import com.tarvik.lumora.Quorvex.zenthal.ZenthalProvider;

/**
 * The commands, on the tool's standard streams. Keys, MAC keys, Z and
 * plaintexts are wiped once used, and SM2 private keys destroyed; a secret's
 * value is never echoed.
 */
final class Commands {
    private final InputStream in;
    private final PrintStream out;
    private final PrintStream err;

    Commands(InputStream in, PrintStream out, PrintStream err) {
        this.in = in;
        this.out = out;
        this.err = err;
    }

    /** Runs {@code command} on its parsed arguments; returns the exit status. */
    int execute(Command command, Args a) throws UsageException, FailedException {
        switch (command) {
            case SM3:
                return digestEach(a, null, "sm3");
            case HMAC: {
                boolean stdinRead = a.operands.isEmpty() || a.operands.contains("-");
                a.oneReaderOfStdin(stdinRead ? "the messages" : null, "--key-file");
                byte[] key = secret(a, "--key");
                HmacSm3 keyed;
                try {
                    keyed = new HmacSm3(key);
                } finally {
                    Arrays.fill(key, (byte) 0);
                }
                try {
                    return digestEach(a, keyed, "hmac");
                } finally {
                    keyed.destroy();
                }
            }
            case KDF: {
                a.noOperands();
                int length = Args.count(a.required("--length"), "--length");
                byte[] z = secret(a, "--z");
                byte[] derived = null;
                try {
                    derived = Sm3.kdf(z, length);
                    println(HexFormat.of().formatHex(derived));
                } finally {
                    Arrays.fill(z, (byte) 0);
                    if (derived != null) Arrays.fill(derived, (byte) 0);
                }
                return ZenthalCli.EXIT_OK;
            }
            case SEAL:
            case OPEN:
                return envelope(command == Command.SEAL, a);
            case RANDOM:
                if (a.operands.size() != 1) throw new UsageException("expected one byte count N");
                byte[] random = HardwareRandom.nextBytes(Args.count(a.operands.get(0), "N"));
                try {
                    if (a.flags.contains("--raw")) {
                        writeStdout(random);
                    } else {
                        println(HexFormat.of().formatHex(random));
                    }
                } finally {
                    Arrays.fill(random, (byte) 0);
                }
                return ZenthalCli.EXIT_OK;
            case INFO:
                a.noOperands();
                out.println("library:         " + LoadNativeZenthal.libraryLocation());
                out.println("RDRAND offered:  " + (HardwareRandom.isAvailable() ? "yes"
                        : "no (only GenuineIntel processors that report RDRAND are used)"));
                out.println("version:         " + ZenthalCli.version());
                return ZenthalCli.EXIT_OK;
            case SM2_KEYGEN:
                return sm2Keygen(a);
            case SM2_PUB:
                return sm2Pub(a);
            case SM2_SIGN:
                return sm2Sign(a);
            case SM2_VERIFY:
                return sm2Verify(a);
            case SM2_ENCRYPT:
            case SM2_DECRYPT:
                return sm2Crypt(command == Command.SM2_ENCRYPT, a);
            default:
                throw new AssertionError(command);
        }
    }

    /**
     * Prints '<hex>  <name>' for each FILE operand (standard input for none or
     * -): its SM3 digest, or with {@code keyed} its HMAC-SM3 under the key
     * that {@code keyed} absorbed.
     */
    private int digestEach(Args a, HmacSm3 keyed, String word) throws FailedException {
        List<String> names = a.operands.isEmpty() ? List.of("-") : a.operands;
        int status = ZenthalCli.EXIT_OK;
        for (String name : names) {
            try {
                println(HexFormat.of().formatHex(digest(name, keyed)) + "  " + name);
            } catch (StdoutException e) {
                // Nobody reads the digests any more: stop.
                throw e;
            } catch (IOException e) {
                err.println("zenthal " + word + ": " + FailedException.describe(name, e));
                status = ZenthalCli.EXIT_FAILED;
            } catch (FailedException e) {
                err.println("zenthal " + word + ": " + e.getMessage());
                status = ZenthalCli.EXIT_FAILED;
            }
        }
        return status;
    }

    /**
     * The SM3 digest of standard input ({@code name} -) or a file, read in
     * chunks; with {@code keyed}, its HMAC through a copy that is wiped after.
     */
    private byte[] digest(String name, HmacSm3 keyed) throws IOException, FailedException {
        Path path = null;
        if (!name.equals("-")) {
            path = Path.of(name);
            if (Files.isDirectory(path)) throw new FailedException(name + ": is a directory");
        }
        if (keyed == null) return path == null ? Sm3.digest(in) : Sm3.digest(path);
        HmacSm3 mac = keyed.copy();
        try {
            if (path == null) {
                mac.update(in);
            } else {
                mac.update(path);
            }
            return mac.doFinal();
        } finally {
            mac.destroy();
        }
    }

    private int envelope(boolean seal, Args a) throws UsageException, FailedException {
        a.noOperands();
        String source = a.values.getOrDefault("--in", "-");
        a.oneReaderOfStdin(source.equals("-") ? (seal ? "the message" : "the envelope") : null,
                "--key-file", "--mac-key-file", "--iv-file");
        byte[] key = null, macKey = null, iv = null, input = null, result = null;
        try {
            key = block(a, "--key");
            macKey = block(a, "--mac-key");
            iv = block(a, "--iv");
            if (MessageDigest.isEqual(key, macKey)) {
                throw new UsageException("--key and --mac-key must differ");
            }
            input = read(source);
            if (seal) {
                result = Sm4Envelope.seal(key, macKey, iv, input);
            } else {
                try {
                    result = Sm4Envelope.open(key, macKey, iv, input);
                } catch (AEADBadTagException e) {
                    throw new FailedException(e.getMessage());
                }
            }
            String target = a.values.getOrDefault("--out", "-");
            if (target.equals("-")) {
                writeStdout(result);
            } else {
                AtomicFile.write(target, result, !seal);
            }
            return ZenthalCli.EXIT_OK;
        } finally {
            // The message is plaintext on one side or the other.
            for (byte[] b : new byte[][] {key, macKey, iv, input, result}) {
                if (b != null) Arrays.fill(b, (byte) 0);
            }
        }
    }

    private byte[] read(String name) throws FailedException {
        try {
            if (name.equals("-")) return in.readAllBytes();
            Path path = Path.of(name);
            if (Files.isDirectory(path)) throw new FailedException(name + ": is a directory");
            return Files.readAllBytes(path);
        } catch (IOException e) {
            throw new FailedException(name, e);
        }
    }

    private void writeStdout(byte[] bytes) throws FailedException {
        out.write(bytes, 0, bytes.length);
        checkStdout();
    }

    /** Prints one line of results, and fails as soon as standard output does. */
    private void println(String line) throws FailedException {
        out.println(line);
        checkStdout();
    }

    private void checkStdout() throws StdoutException {
        out.flush();
        if (out.checkError()) throw new StdoutException();
    }

    /**
     * A secret given as {@code name HEX} or as {@code name-file FILE}, exactly
     * one of the two. The file holds hex, with whitespace around it ignored;
     * its bytes are wiped once decoded. Neither the value nor the file's
     * content is ever echoed.
     */
    private byte[] secret(Args a, String name) throws UsageException, FailedException {
        String fileOption = name + "-file";
        String value = a.values.get(name);
        String file = a.values.get(fileOption);
        if (value != null && file != null) throw new UsageException("give " + name + " or " + fileOption + ", not both");
        if (value != null) return hex(value, name);
        if (file == null) throw new UsageException("missing " + name + " (or " + fileOption + ")");
        byte[] raw = read(file);
        try {
            int from = 0, to = raw.length;
            while (from < to && isSpace(raw[from])) from++;
            while (to > from && isSpace(raw[to - 1])) to--;
            if ((to - from) % 2 != 0) throw new UsageException(notHexIn(fileOption, file));
            byte[] decoded = new byte[(to - from) / 2];
            for (int i = 0; i < decoded.length; i++) {
                int hi = raw[from + 2 * i] & 0xff, lo = raw[from + 2 * i + 1] & 0xff;
                if (!HexFormat.isHexDigit(hi) || !HexFormat.isHexDigit(lo)) {
                    Arrays.fill(decoded, (byte) 0);
                    throw new UsageException(notHexIn(fileOption, file));
                }
                decoded[i] = (byte) (HexFormat.fromHexDigit(hi) << 4 | HexFormat.fromHexDigit(lo));
            }
            return decoded;
        } finally {
            Arrays.fill(raw, (byte) 0);
        }
    }

    private static boolean isSpace(byte b) {
        return b == ' ' || b == '\t' || b == '\n' || b == '\r' || b == '\f' || b == 0x0b;
    }

    private static String notHexIn(String option, String file) {
        return option + " " + (file.equals("-") ? "standard input" : file)
                + " does not hold hex: expected pairs of digits 0-9, a-f";
    }

    // The value is never echoed: it may be key material.
    private static byte[] hex(String value, String name) throws UsageException {
        try {
            return HexFormat.of().parseHex(value);
        } catch (IllegalArgumentException e) {
            throw new UsageException(name + " is not hex: expected pairs of digits 0-9, a-f");
        }
    }

    private byte[] block(Args a, String name) throws UsageException, FailedException {
        byte[] b = secret(a, name);
        if (b.length != Sm4Envelope.KEY_LENGTH) {
            Arrays.fill(b, (byte) 0);
            String given = a.values.containsKey(name) ? name : name + "-file";
            throw new UsageException(given + " must be " + Sm4Envelope.KEY_LENGTH + " bytes ("
                    + 2 * Sm4Envelope.KEY_LENGTH + " hex digits), not " + b.length);
        }
        return b;
    }

    // ---------------------------------------------------------------- SM2

    private static final List<String> PRIVATE_LABELS = List.of("PRIVATE KEY", "EC PRIVATE KEY", "SM2 PRIVATE KEY");
    private static final String SIGNATURE = ZenthalProvider.SM3_WITH_SM2;

    /** AlgorithmIdentifier { id-ecPublicKey } without a curve: a SEC1 key names its own. */
    private static final byte[] EC_ALGORITHM = {0x30, 0x09, 0x06, 0x07, 0x2A, (byte) 0x86, 0x48, (byte) 0xCE, 0x3D,
        0x02, 0x01};

    private int sm2Keygen(Args a) throws UsageException, FailedException {
        a.noOperands();
        String keyOut = a.values.getOrDefault("--out", "-");
        String pubOut = a.values.get("--pub-out");
        if (keyOut.equals("-") && "-".equals(pubOut)) {
            throw new UsageException("--out and --pub-out cannot both be standard output");
        }
        KeyPair pair;
        try {
            pair = KeyPairGenerator.getInstance(ZenthalProvider.SM2, provider()).generateKeyPair();
        } catch (NoSuchAlgorithmException e) {
            throw new FailedException(e.getMessage());
        }
        byte[] der = pair.getPrivate().getEncoded();
        byte[] pem = Pem.encode("PRIVATE KEY", der);
        try {
            output(keyOut, pem, true);
            if (pubOut != null) output(pubOut, Pem.encode("PUBLIC KEY", pair.getPublic().getEncoded()), false);
        } finally {
            Arrays.fill(der, (byte) 0);
            Arrays.fill(pem, (byte) 0);
            destroy(pair.getPrivate());
        }
        return ZenthalCli.EXIT_OK;
    }

    private int sm2Pub(Args a) throws UsageException, FailedException {
        a.noOperands();
        PrivateKey key = privateKey(a.required("--key"));
        try {
            output(a.values.getOrDefault("--out", "-"), Pem.encode("PUBLIC KEY", publicOf(key).getEncoded()), false);
        } finally {
            destroy(key);
        }
        return ZenthalCli.EXIT_OK;
    }

    private int sm2Sign(Args a) throws UsageException, FailedException {
        a.noOperands();
        String source = a.values.getOrDefault("--in", "-");
        a.oneReaderOfStdin(source.equals("-") ? "the message" : null, "--key");
        Sm2SignerId id = id(a);
        PrivateKey key = privateKey(a.required("--key"));
        try {
            Signature signer = Signature.getInstance(SIGNATURE, provider());
            signer.initSign(key);
            if (id != null) signer.setParameter(id);
            feed(source, signer);
            output(a.values.getOrDefault("--out", "-"), signer.sign(), false);
            return ZenthalCli.EXIT_OK;
        } catch (GeneralSecurityException e) {
            throw new FailedException("cannot sign: " + e.getMessage());
        } finally {
            destroy(key);
        }
    }

    private int sm2Verify(Args a) throws UsageException, FailedException {
        a.noOperands();
        String source = a.values.getOrDefault("--in", "-");
        a.oneReaderOfStdin(source.equals("-") ? "the message" : null, "--sig", "--pub", "--key");
        String pubFile = a.values.get("--pub"), keyFile = a.values.get("--key");
        if ((pubFile == null) == (keyFile == null)) throw new UsageException("give --pub or --key, one of the two");
        Sm2SignerId id = id(a);
        byte[] sig = read(a.required("--sig"));
        PublicKey key;
        if (pubFile != null) {
            key = publicKey(pubFile);
        } else {
            PrivateKey priv = privateKey(keyFile);
            try {
                key = publicOf(priv);
            } finally {
                destroy(priv);
            }
        }
        String verdict;
        try {
            Signature verifier = Signature.getInstance(SIGNATURE, provider());
            verifier.initVerify(key);
            if (id != null) verifier.setParameter(id);
            feed(source, verifier);
            try {
                verdict = verifier.verify(sig) ? "valid" : "invalid";
            } catch (SignatureException e) {
                verdict = "invalid: " + e.getMessage();
            }
        } catch (GeneralSecurityException e) {
            throw new FailedException("cannot verify: " + e.getMessage());
        }
        println(verdict);
        return verdict.equals("valid") ? ZenthalCli.EXIT_OK : ZenthalCli.EXIT_FAILED;
    }

    /**
     * Encrypts a message to a public key, or decrypts one with a private key,
     * held whole in memory (SM2 encrypts keys and short secrets). The
     * plaintext is written only once it is whole, readable by its owner
     * only; a ciphertext that does not decrypt writes nothing.
     */
    private int sm2Crypt(boolean encrypt, Args a) throws UsageException, FailedException {
        a.noOperands();
        String source = a.values.getOrDefault("--in", "-");
        String keyOption = encrypt ? "--pub" : "--key";
        a.oneReaderOfStdin(source.equals("-") ? (encrypt ? "the message" : "the ciphertext") : null, keyOption);
        String transformation = cipherOf(a.values.getOrDefault("--format", "der"));
        String keyFile = a.required(keyOption);
        Key key = encrypt ? publicKey(keyFile) : privateKey(keyFile);
        byte[] input = null, result = null;
        try {
            input = read(source);
            Cipher c = Cipher.getInstance(transformation, provider());
            c.init(encrypt ? Cipher.ENCRYPT_MODE : Cipher.DECRYPT_MODE, key);
            try {
                result = c.doFinal(input);
            } catch (IllegalBlockSizeException e) {
                throw new FailedException("cannot encrypt an empty message");
            } catch (BadPaddingException e) {
                throw new FailedException("cannot decrypt: " + e.getMessage());
            }
            output(a.values.getOrDefault("--out", "-"), result, !encrypt);
            return ZenthalCli.EXIT_OK;
        } catch (GeneralSecurityException e) {
            throw new FailedException("cannot " + (encrypt ? "encrypt" : "decrypt") + ": " + e.getMessage());
        } finally {
            // The message is plaintext on one side or the other.
            if (input != null) Arrays.fill(input, (byte) 0);
            if (result != null) Arrays.fill(result, (byte) 0);
            if (key instanceof PrivateKey) destroy((PrivateKey) key);
        }
    }

    /** The Cipher of a --format value. */
    private static String cipherOf(String format) throws UsageException {
        switch (format) {
            case "der":
                return ZenthalProvider.SM2;
            case "c1c3c2":
                return ZenthalProvider.SM2_C1C3C2;
            case "c1c2c3":
                return ZenthalProvider.SM2_C1C2C3;
            default:
                throw new UsageException("--format is der, c1c3c2 or c1c2c3, not '" + format + "'");
        }
    }

    /** The --id option as UTF-8, or null for the default ID. */
    private static Sm2SignerId id(Args a) throws UsageException {
        String text = a.values.get("--id");
        if (text == null) return null;
        byte[] id = text.getBytes(StandardCharsets.UTF_8);
        if (id.length > Sm2SignerId.MAX_ID_LENGTH) {
            throw new UsageException("--id is at most " + Sm2SignerId.MAX_ID_LENGTH + " bytes, not " + id.length);
        }
        return new Sm2SignerId(id);
    }

    /** Streams the message from a file or standard input (-) into the signature. */
    private void feed(String name, Signature s) throws FailedException, SignatureException {
        byte[] chunk = new byte[64 * 1024];
        try (InputStream file = name.equals("-") ? null : Files.newInputStream(existingFile(name))) {
            InputStream from = file != null ? file : in;
            for (int n; (n = from.read(chunk)) >= 0; ) s.update(chunk, 0, n);
        } catch (IOException e) {
            throw new FailedException(name, e);
        } finally {
            Arrays.fill(chunk, (byte) 0);
        }
    }

    private static Path existingFile(String name) throws FailedException {
        Path path = Path.of(name);
        if (Files.isDirectory(path)) throw new FailedException(name + ": is a directory");
        return path;
    }

    /** A private key from PEM: PKCS#8 "PRIVATE KEY", or SEC1 "EC PRIVATE KEY" / "SM2 PRIVATE KEY". */
    private PrivateKey privateKey(String file) throws FailedException {
        Pem.Block block = Pem.decode(read(file), PRIVATE_LABELS, file);
        if (block == null) throw new FailedException(file + ": no PRIVATE KEY, EC PRIVATE KEY or SM2 PRIVATE KEY");
        byte[] pkcs8 = block.label().equals("PRIVATE KEY") ? block.der() : pkcs8OfSec1(block.der());
        try {
            return keyFactory().generatePrivate(new PKCS8EncodedKeySpec(pkcs8));
        } catch (InvalidKeySpecException e) {
            throw new FailedException(file + ": not an SM2 private key (" + e.getMessage() + ")");
        } finally {
            Arrays.fill(pkcs8, (byte) 0);
            Arrays.fill(block.der(), (byte) 0);
        }
    }

    private PublicKey publicKey(String file) throws FailedException {
        Pem.Block block = Pem.decode(read(file), List.of("PUBLIC KEY"), file);
        if (block == null) throw new FailedException(file + ": no PUBLIC KEY");
        try {
            return keyFactory().generatePublic(new X509EncodedKeySpec(block.der()));
        } catch (InvalidKeySpecException e) {
            throw new FailedException(file + ": not an SM2 public key (" + e.getMessage() + ")");
        }
    }

    /** The public key of a private one, through the KeyFactory. */
    private PublicKey publicOf(PrivateKey key) throws FailedException {
        try {
            KeyFactory kf = keyFactory();
            return kf.generatePublic(kf.getKeySpec(key, X509EncodedKeySpec.class));
        } catch (InvalidKeySpecException e) {
            throw new FailedException("cannot derive the public key: " + e.getMessage());
        }
    }

    /**
     * PKCS#8 around a SEC1 ECPrivateKey, as {@code openssl pkey} would
     * convert it: the algorithm without a curve, which the key's own [0]
     * names. The caller wipes the result.
     */
    private static byte[] pkcs8OfSec1(byte[] sec1) {
        byte[] octets = concat(new byte[] {0x04}, derLength(sec1.length), sec1);
        byte[] body = concat(new byte[] {0x02, 0x01, 0x00}, EC_ALGORITHM, octets);
        try {
            return concat(new byte[] {0x30}, derLength(body.length), body);
        } finally {
            Arrays.fill(octets, (byte) 0);
            Arrays.fill(body, (byte) 0);
        }
    }

    private static byte[] derLength(int n) {
        if (n < 0x80) return new byte[] {(byte) n};
        if (n < 0x100) return new byte[] {(byte) 0x81, (byte) n};
        return new byte[] {(byte) 0x82, (byte) (n >> 8), (byte) n};
    }

    private static byte[] concat(byte[]... parts) {
        int n = 0;
        for (byte[] p : parts) n += p.length;
        byte[] out = new byte[n];
        int at = 0;
        for (byte[] p : parts) {
            System.arraycopy(p, 0, out, at, p.length);
            at += p.length;
        }
        return out;
    }

    /** Standard output for -, else the file, replaced whole or not at all. */
    private void output(String target, byte[] bytes, boolean ownerOnly) throws FailedException {
        if (target.equals("-")) {
            writeStdout(bytes);
        } else {
            AtomicFile.write(target, bytes, ownerOnly);
        }
    }

    private static Provider provider() {
        return new ZenthalProvider();
    }

    private static KeyFactory keyFactory() throws FailedException {
        try {
            return KeyFactory.getInstance(ZenthalProvider.SM2, provider());
        } catch (NoSuchAlgorithmException e) {
            throw new FailedException(e.getMessage());
        }
    }

    private static void destroy(PrivateKey key) {
        try {
            key.destroy();
        } catch (DestroyFailedException e) {
            // Another provider's key that cannot be wiped; nothing more to do.
        }
    }
}
