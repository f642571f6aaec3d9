package com.tarvik.lumora.Quorvex.zenthal.cli;

import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.MessageDigest;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;

import javax.crypto.AEADBadTagException;

import com.tarvik.lumora.Quorvex.zenthal.HardwareRandom;
import com.tarvik.lumora.Quorvex.zenthal.HmacSm3;
import com.tarvik.lumora.Quorvex.zenthal.LoadNativeZenthal;
import com.tarvik.lumora.Quorvex.zenthal.Sm3;
import com.tarvik.lumora.Quorvex.zenthal.Sm4Envelope;

/**
 * The seven commands, on the tool's standard streams. Keys, MAC keys, Z and
 * plaintexts are wiped once used; a secret's value is never echoed.
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
}
