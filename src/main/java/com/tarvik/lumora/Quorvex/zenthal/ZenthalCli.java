package com.tarvik.lumora.Quorvex.zenthal;

import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.security.MessageDigest;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.Set;

import javax.crypto.AEADBadTagException;

/**
 * The {@code zenthal} command-line tool, the jar's main class:
 * {@code java -jar zenthal.jar <command> ...}. Run it with {@code --help} for
 * the commands.
 *
 * <p>Exit status: 0 on success, 1 when an operation fails (a rejected envelope,
 * a file that cannot be read or written, no RDRAND), 2 on a usage error (an
 * unknown command or option, malformed hex, a key of the wrong length).
 */
public final class ZenthalCli {
    static final int EXIT_OK = 0;
    static final int EXIT_FAILED = 1;
    static final int EXIT_USAGE = 2;

    private static final String USAGE = String.join("\n",
            "usage: zenthal <command> [options]",
            "",
            "commands:",
            "  sm3 [FILE...]              SM3 digest of each FILE (standard input if none)",
            "  hmac --key HEX [FILE...]   HMAC-SM3 of each FILE (standard input if none)",
            "  kdf --z HEX --length N     derive N bytes from Z with the SM3 KDF",
            "  seal --key HEX --mac-key HEX --iv HEX [--in FILE] [--out FILE]",
            "                             seal a message into an SM4 envelope",
            "  open --key HEX --mac-key HEX --iv HEX [--in FILE] [--out FILE]",
            "                             open and verify an SM4 envelope",
            "  random N [--raw]           N random bytes from RDRAND, as hex",
            "  info                       library location, RDRAND support, version",
            "",
            "'zenthal <command> --help' describes a command; 'zenthal --version' prints the version.",
            "Exit status: 0 success, 1 operation failed, 2 usage error.",
            "");

    private static final String CIPHER_OPTIONS = String.join("\n",
            "  --key HEX      16-byte SM4 encryption key (32 hex digits)",
            "  --mac-key HEX  16-byte SM4 key of the CBC-MAC (32 hex digits)",
            "  --iv HEX       16-byte IV, used for both CBC and the MAC (32 hex digits)");

    /** The commands, what each accepts, and its help text. */
    private enum Command {
        SM3("sm3", Set.of(), Set.of(), String.join("\n",
                "usage: zenthal sm3 [FILE...]",
                "",
                "Prints the SM3 digest of each FILE as '<hex digest>  <name>', like sha256sum.",
                "With no FILE, or where FILE is -, reads standard input. Files and standard",
                "input are read in chunks, so any size is digested in constant memory.",
                "A FILE that cannot be read is reported and the others are still digested;",
                "the exit status is then 1.",
                "")),
        HMAC("hmac", Set.of("--key"), Set.of(), String.join("\n",
                "usage: zenthal hmac --key HEX [FILE...]",
                "",
                "Prints the HMAC-SM3 (RFC 2104 over SM3) of each FILE under the key as",
                "'<hex MAC>  <name>', in the same form as 'zenthal sm3'.",
                "  --key HEX   the key, as hex, of any length (may be empty); keys longer than",
                "              64 bytes are hashed first, as HMAC prescribes",
                "With no FILE, or where FILE is -, reads standard input. Any size is read in",
                "constant memory. A FILE that cannot be read is reported and the others are",
                "still processed; the exit status is then 1.",
                "")),
        KDF("kdf", Set.of("--z", "--length"), Set.of(), String.join("\n",
                "usage: zenthal kdf --z HEX --length N",
                "",
                "Derives N bytes from the shared secret Z with the SM3 key-derivation function",
                "(SM3(Z || counter) for counter 1, 2, ...) and prints them as hex.",
                "  --z HEX       the shared secret, as hex (may be empty)",
                "  --length N    number of bytes to derive, 0 or more",
                "")),
        SEAL("seal", Set.of("--key", "--mac-key", "--iv", "--in", "--out"), Set.of(), String.join("\n",
                "usage: zenthal seal --key HEX --mac-key HEX --iv HEX [--in FILE] [--out FILE]",
                "",
                "Seals a message: SM4-CBC with PKCS#7 padding under the key, followed by the",
                "16-byte SM4 CBC-MAC of the message under the MAC key. A message of n bytes",
                "becomes an envelope of (n rounded down to 16) + 32 bytes.",
                CIPHER_OPTIONS,
                "  --in FILE      the message (default: standard input)",
                "  --out FILE     where to write the envelope (default: standard output)",
                "Input and output are raw bytes; - names a standard stream.",
                "")),
        OPEN("open", Set.of("--key", "--mac-key", "--iv", "--in", "--out"), Set.of(), String.join("\n",
                "usage: zenthal open --key HEX --mac-key HEX --iv HEX [--in FILE] [--out FILE]",
                "",
                "Opens an envelope made by 'zenthal seal' and verifies its MAC. A malformed or",
                "tampered envelope, or one sealed under other keys, is rejected with exit",
                "status 1 and nothing is written.",
                CIPHER_OPTIONS,
                "  --in FILE      the envelope (default: standard input)",
                "  --out FILE     where to write the message (default: standard output)",
                "Input and output are raw bytes; - names a standard stream.",
                "")),
        RANDOM("random", Set.of(), Set.of("--raw"), String.join("\n",
                "usage: zenthal random N [--raw]",
                "",
                "Draws N bytes from the processor's RDRAND instruction and prints them as hex.",
                "  --raw   write the raw bytes instead",
                "Only GenuineIntel processors that report RDRAND are used; elsewhere the command",
                "fails with exit status 1 ('zenthal info' tells which applies).",
                "")),
        INFO("info", Set.of(), Set.of(), String.join("\n",
                "usage: zenthal info",
                "",
                "Prints where the native library was loaded from, whether the processor offers",
                "RDRAND, and the version.",
                ""));

        final String word;
        final Set<String> valued;
        final Set<String> flags;
        final String help;

        Command(String word, Set<String> valued, Set<String> flags, String help) {
            this.word = word;
            this.valued = valued;
            this.flags = flags;
            this.help = help;
        }

        static Command named(String word) {
            for (Command c : values()) {
                if (c.word.equals(word)) return c;
            }
            return null;
        }
    }

    /** Bad input from the user: exit status 2 and a pointer to the help. */
    private static final class UsageException extends Exception {
        private static final long serialVersionUID = 1L;

        UsageException(String message) {
            super(message);
        }
    }

    /** The operation itself failed: exit status 1. */
    private static final class FailedException extends Exception {
        private static final long serialVersionUID = 1L;

        FailedException(String message) {
            super(message);
        }
    }

    /** One command line, split into option values, flags and operands. */
    private static final class Args {
        final Map<String, String> values = new HashMap<>();
        final List<String> flags = new ArrayList<>();
        final List<String> operands = new ArrayList<>();
    }

    private final InputStream in;
    private final PrintStream out;
    private final PrintStream err;

    private ZenthalCli(InputStream in, PrintStream out, PrintStream err) {
        this.in = in;
        this.out = out;
        this.err = err;
    }

    /**
     * Runs the tool and exits with its status.
     *
     * @param args the command and its arguments
     */
    public static void main(String[] args) {
        int status = run(args, System.in, System.out, System.err);
        System.out.flush();
        System.exit(status);
    }

    /** Runs one command line against the given streams and returns the exit status. */
    static int run(String[] args, InputStream in, PrintStream out, PrintStream err) {
        return new ZenthalCli(in, out, err).run(args);
    }

    private int run(String[] args) {
        if (args.length == 0) {
            err.print(USAGE);
            return EXIT_USAGE;
        }
        String first = args[0];
        if (first.equals("--help") || first.equals("-h") || first.equals("help")) {
            Command c = first.equals("help") && args.length > 1 ? Command.named(args[1]) : null;
            out.print(c != null ? c.help : USAGE);
            return EXIT_OK;
        }
        if (first.equals("--version")) {
            out.println("zenthal " + BuildInfo.version());
            return EXIT_OK;
        }
        Command command = Command.named(first);
        if (command == null) {
            err.println("zenthal: unknown command '" + first + "'");
            err.println("Try 'zenthal --help'.");
            return EXIT_USAGE;
        }
        String prefix = "zenthal " + command.word + ": ";
        try {
            Args a = parse(command, args);
            if (a == null) {
                out.print(command.help);
                return EXIT_OK;
            }
            return execute(command, a);
        } catch (UsageException e) {
            err.println(prefix + e.getMessage());
            err.println("Try 'zenthal " + command.word + " --help'.");
            return EXIT_USAGE;
        } catch (FailedException e) {
            err.println(prefix + e.getMessage());
            return EXIT_FAILED;
        } catch (HardwareRandomException e) {
            err.println(prefix + e.getMessage());
            return EXIT_FAILED;
        } catch (LinkageError e) {
            err.println(prefix + "cannot load the native library: " + e.getMessage());
            return EXIT_FAILED;
        } catch (OutOfMemoryError e) {
            boolean streamed = command == Command.SM3 || command == Command.HMAC;
            err.println(prefix + "out of memory" + (streamed ? "" : " (inputs and outputs are held whole in memory)"));
            return EXIT_FAILED;
        }
    }

    /** Splits the arguments after the command; null when help was asked for. */
    private static Args parse(Command command, String[] args) throws UsageException {
        for (int i = 1; i < args.length && !args[i].equals("--"); i++) {
            if (args[i].equals("--help") || args[i].equals("-h")) return null;
        }
        Args a = new Args();
        boolean options = true;
        for (int i = 1; i < args.length; i++) {
            String arg = args[i];
            if (options && arg.equals("--")) {
                options = false;
            } else if (options && arg.startsWith("--")) {
                int eq = arg.indexOf('=');
                String name = eq < 0 ? arg : arg.substring(0, eq);
                if (command.flags.contains(name)) {
                    if (eq >= 0) throw new UsageException(name + " takes no value");
                    a.flags.add(name);
                    continue;
                }
                if (!command.valued.contains(name)) throw new UsageException("unknown option " + name);
                String value;
                if (eq >= 0) {
                    value = arg.substring(eq + 1);
                } else if (i + 1 < args.length) {
                    value = args[++i];
                } else {
                    throw new UsageException(name + " needs a value");
                }
                if (a.values.putIfAbsent(name, value) != null) throw new UsageException(name + " given twice");
            } else if (options && arg.startsWith("-") && arg.length() > 1 && !arg.matches("-[0-9]+")) {
                throw new UsageException("unknown option " + arg);
            } else {
                a.operands.add(arg);
            }
        }
        return a;
    }

    private int execute(Command command, Args a) throws UsageException, FailedException {
        switch (command) {
            case SM3:
                return digestEach(a, Sm3Stream.digest(), "sm3");
            case HMAC: {
                byte[] key = hex(required(a, "--key"), "--key");
                Sm3Stream keyed = Sm3Stream.hmac(key, 0, key.length);
                Arrays.fill(key, (byte) 0);
                try {
                    return digestEach(a, keyed, "hmac");
                } finally {
                    keyed.wipe();
                }
            }
            case KDF:
                noOperands(a);
                byte[] z = hex(required(a, "--z"), "--z");
                int length = count(required(a, "--length"), "--length");
                out.println(HexFormat.of().formatHex(Sm3.kdf(z, length)));
                return EXIT_OK;
            case SEAL:
            case OPEN:
                return envelope(command == Command.SEAL, a);
            case RANDOM:
                if (a.operands.size() != 1) throw new UsageException("expected one byte count N");
                byte[] random = HardwareRandom.nextBytes(count(a.operands.get(0), "N"));
                if (a.flags.contains("--raw")) {
                    writeStdout(random);
                } else {
                    out.println(HexFormat.of().formatHex(random));
                }
                return EXIT_OK;
            case INFO:
                noOperands(a);
                out.println("library:         " + LoadNativeZenthal.libraryLocation());
                out.println("RDRAND offered:  " + (HardwareRandom.isAvailable() ? "yes"
                        : "no (only GenuineIntel processors that report RDRAND are used)"));
                out.println("version:         " + BuildInfo.version());
                return EXIT_OK;
            default:
                throw new AssertionError(command);
        }
    }

    /**
     * Prints '<hex>  <name>' for each FILE operand (standard input for none or
     * -), each streamed through a copy of {@code start}: an empty SM3 or a
     * keyed HMAC.
     */
    private int digestEach(Args a, Sm3Stream start, String word) {
        List<String> names = a.operands.isEmpty() ? List.of("-") : a.operands;
        int status = EXIT_OK;
        for (String name : names) {
            Sm3Stream s = start.copy();
            try {
                if (name.equals("-")) {
                    s.update(in);
                } else {
                    Path path = Path.of(name);
                    if (Files.isDirectory(path)) throw new FailedException(name + ": is a directory");
                    s.update(path);
                }
                out.println(HexFormat.of().formatHex(s.finish()) + "  " + name);
            } catch (IOException e) {
                err.println("zenthal " + word + ": " + describe(name, e));
                status = EXIT_FAILED;
            } catch (FailedException e) {
                err.println("zenthal " + word + ": " + e.getMessage());
                status = EXIT_FAILED;
            } finally {
                s.wipe();
            }
        }
        return status;
    }

    private int envelope(boolean seal, Args a) throws UsageException, FailedException {
        noOperands(a);
        byte[] key = block(a, "--key");
        byte[] macKey = block(a, "--mac-key");
        byte[] iv = block(a, "--iv");
        if (MessageDigest.isEqual(key, macKey)) {
            throw new UsageException("--key and --mac-key must differ");
        }
        byte[] input = read(a.values.getOrDefault("--in", "-"));
        byte[] result;
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
            try {
                Files.write(Path.of(target), result);
            } catch (IOException e) {
                throw new FailedException(describe(target, e));
            }
        }
        return EXIT_OK;
    }

    private byte[] read(String name) throws FailedException {
        try {
            if (name.equals("-")) return in.readAllBytes();
            Path path = Path.of(name);
            if (Files.isDirectory(path)) throw new FailedException(name + ": is a directory");
            return Files.readAllBytes(path);
        } catch (IOException e) {
            throw new FailedException(describe(name, e));
        }
    }

    private void writeStdout(byte[] bytes) throws FailedException {
        out.write(bytes, 0, bytes.length);
        out.flush();
        if (out.checkError()) throw new FailedException("cannot write to standard output");
    }

    private static String describe(String name, IOException e) {
        if (e instanceof NoSuchFileException) return name + ": no such file";
        if (e instanceof AccessDeniedException) return name + ": permission denied";
        if (e instanceof FileSystemException && ((FileSystemException) e).getReason() != null) {
            return name + ": " + ((FileSystemException) e).getReason();
        }
        return name + ": " + e.getMessage();
    }

    private static void noOperands(Args a) throws UsageException {
        if (!a.operands.isEmpty()) throw new UsageException("unexpected argument '" + a.operands.get(0) + "'");
    }

    private static String required(Args a, String name) throws UsageException {
        String v = a.values.get(name);
        if (v == null) throw new UsageException("missing " + name);
        return v;
    }

    // The value is never echoed: it may be key material.
    private static byte[] hex(String value, String name) throws UsageException {
        try {
            return HexFormat.of().parseHex(value);
        } catch (IllegalArgumentException e) {
            throw new UsageException(name + " is not hex: expected pairs of digits 0-9, a-f");
        }
    }

    private static byte[] block(Args a, String name) throws UsageException {
        byte[] b = hex(required(a, name), name);
        if (b.length != Sm4Envelope.KEY_LENGTH) {
            throw new UsageException(name + " must be " + Sm4Envelope.KEY_LENGTH + " bytes ("
                    + 2 * Sm4Envelope.KEY_LENGTH + " hex digits), not " + b.length);
        }
        return b;
    }

    private static int count(String value, String name) throws UsageException {
        try {
            int n = Integer.parseInt(value);
            if (n >= 0) return n;
        } catch (NumberFormatException e) {
            // reported below with the negative case
        }
        throw new UsageException(name + " must be a whole number from 0 to " + Integer.MAX_VALUE
                + ", not '" + value + "'");
    }
}
