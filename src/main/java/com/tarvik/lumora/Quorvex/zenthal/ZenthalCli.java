package com.tarvik.lumora.Quorvex.zenthal;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.io.PrintStream;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileSystemException;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.MessageDigest;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.ThreadLocalRandom;

import javax.crypto.AEADBadTagException;

/**
 * The {@code zenthal} command-line tool, the jar's main class:
 * {@code java -jar zenthal.jar <command> ...}. Run it with {@code --help} for
 * the commands.
 *
 * <p>Exit status: 0 on success, 1 when an operation fails (a rejected envelope,
 * a file or standard output that cannot be read or written, no RDRAND), 2 on a
 * usage error (an unknown command or option, malformed hex, a key of the wrong
 * length).
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
            "Each secret can come from a file instead of the command line, where other users",
            "and the shell history see it: --key-file, --mac-key-file, --iv-file, --z-file.",
            "",
            "'zenthal <command> --help' describes a command; 'zenthal --version' prints the version.",
            "Exit status: 0 success, 1 operation failed, 2 usage error.",
            "");

    private static final String CIPHER_OPTIONS = String.join("\n",
            "  --key HEX            16-byte SM4 encryption key (32 hex digits)",
            "  --mac-key HEX        16-byte SM4 key of the CBC-MAC (32 hex digits)",
            "  --iv HEX             16-byte IV, used for both CBC and the MAC (32 hex digits)",
            "  --key-file FILE, --mac-key-file FILE, --iv-file FILE",
            "                       the same, as hex read from FILE (- for standard input)");

    /** How the -file options read their hex, for every command's help. */
    private static final String SECRET_FILES = String.join("\n",
            "A value given on the command line shows in 'ps', in /proc and in the shell",
            "history. Each --NAME HEX option has a --NAME-file FILE form that reads the hex",
            "from FILE instead, or from standard input when FILE is -: the form that",
            "'zenthal random 16 > key' writes, with whitespace around the digits ignored.",
            "Give one of the two forms, not both.");

    private static final Set<String> CIPHER_VALUED = Set.of("--key", "--mac-key", "--iv", "--key-file",
            "--mac-key-file", "--iv-file", "--in", "--out");

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
        HMAC("hmac", Set.of("--key", "--key-file"), Set.of(), String.join("\n",
                "usage: zenthal hmac (--key HEX | --key-file FILE) [FILE...]",
                "",
                "Prints the HMAC-SM3 (RFC 2104 over SM3) of each FILE under the key as",
                "'<hex MAC>  <name>', in the same form as 'zenthal sm3'.",
                "  --key HEX         the key, as hex, of any length (may be empty); keys longer",
                "                    than 64 bytes are hashed first, as HMAC prescribes",
                "  --key-file FILE   the same, as hex read from FILE (- for standard input)",
                "With no FILE, or where FILE is -, reads standard input. Any size is read in",
                "constant memory. A FILE that cannot be read is reported and the others are",
                "still processed; the exit status is then 1.",
                SECRET_FILES,
                "")),
        KDF("kdf", Set.of("--z", "--z-file", "--length"), Set.of(), String.join("\n",
                "usage: zenthal kdf (--z HEX | --z-file FILE) --length N",
                "",
                "Derives N bytes from the shared secret Z with the SM3 key-derivation function",
                "(SM3(Z || counter) for counter 1, 2, ...) and prints them as hex.",
                "  --z HEX         the shared secret, as hex (may be empty)",
                "  --z-file FILE   the same, as hex read from FILE (- for standard input)",
                "  --length N      number of bytes to derive, 0 or more",
                SECRET_FILES,
                "")),
        SEAL("seal", CIPHER_VALUED, Set.of(), String.join("\n",
                "usage: zenthal seal --key HEX --mac-key HEX --iv HEX [--in FILE] [--out FILE]",
                "",
                "Seals a message: SM4-CBC with PKCS#7 padding under the key, followed by the",
                "16-byte SM4 CBC-MAC of the message under the MAC key. A message of n bytes",
                "becomes an envelope of (n rounded down to 16) + 32 bytes.",
                CIPHER_OPTIONS,
                "  --in FILE            the message (default: standard input)",
                "  --out FILE           where to write the envelope (default: standard output)",
                "Input and output are raw bytes; - names a standard stream. FILE is replaced",
                "only once the whole envelope is written; on failure it is left as it was.",
                SECRET_FILES,
                "",
                "The IV: the envelope does not carry it, and its MAC does not cover it. The MAC",
                "chain starts from the IV and absorbs IV XOR the first block, so the IV drops",
                "out: opened with another IV, the envelope is accepted and its first 16 bytes",
                "come out changed by the difference. Both sides must agree on the IV as on a",
                "key. Sealing two messages under the same keys and IV shows whether they are",
                "equal (and whether they start with the same blocks). Use a fresh IV for every",
                "message ('zenthal random 16'), send it with the envelope and authenticate it",
                "in the protocol around it; for new data, prefer an authenticated mode such as",
                "SM4-GCM.",
                "")),
        OPEN("open", CIPHER_VALUED, Set.of(), String.join("\n",
                "usage: zenthal open --key HEX --mac-key HEX --iv HEX [--in FILE] [--out FILE]",
                "",
                "Opens an envelope made by 'zenthal seal' and verifies its MAC. A malformed or",
                "tampered envelope, or one sealed under other keys, is rejected with exit",
                "status 1 and nothing is written.",
                CIPHER_OPTIONS,
                "  --in FILE            the envelope (default: standard input)",
                "  --out FILE           where to write the message (default: standard output)",
                "Input and output are raw bytes; - names a standard stream. FILE is replaced",
                "only once the whole message is written, and is readable by its owner only;",
                "on failure it is left as it was.",
                SECRET_FILES,
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
    private static class FailedException extends Exception {
        private static final long serialVersionUID = 1L;

        FailedException(String message) {
            super(message);
        }
    }

    /** Standard output took no more bytes (a full disk, a closed pipe): exit status 1. */
    private static final class StdoutException extends FailedException {
        private static final long serialVersionUID = 1L;

        StdoutException() {
            super("cannot write to standard output");
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

    /**
     * Runs the command, then makes sure that what it printed reached standard
     * output: a full disk or a closed pipe is a failure, not a success.
     */
    private int run(String[] args) {
        int status = runCommand(args);
        out.flush();
        if (out.checkError() && status == EXIT_OK) {
            String word = args.length > 0 && Command.named(args[0]) != null ? " " + args[0] : "";
            err.println("zenthal" + word + ": cannot write to standard output");
            return EXIT_FAILED;
        }
        return status;
    }

    private int runCommand(String[] args) {
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
                boolean stdinRead = a.operands.isEmpty() || a.operands.contains("-");
                oneReaderOfStdin(a, stdinRead ? "the messages" : null, "--key-file");
                byte[] key = secret(a, "--key");
                Sm3Stream keyed;
                try {
                    keyed = Sm3Stream.hmac(key, 0, key.length);
                } finally {
                    Arrays.fill(key, (byte) 0);
                }
                try {
                    return digestEach(a, keyed, "hmac");
                } finally {
                    keyed.wipe();
                }
            }
            case KDF: {
                noOperands(a);
                int length = count(required(a, "--length"), "--length");
                byte[] z = secret(a, "--z");
                byte[] derived = null;
                try {
                    derived = Sm3.kdf(z, length);
                    println(HexFormat.of().formatHex(derived));
                } finally {
                    Arrays.fill(z, (byte) 0);
                    if (derived != null) Arrays.fill(derived, (byte) 0);
                }
                return EXIT_OK;
            }
            case SEAL:
            case OPEN:
                return envelope(command == Command.SEAL, a);
            case RANDOM:
                if (a.operands.size() != 1) throw new UsageException("expected one byte count N");
                byte[] random = HardwareRandom.nextBytes(count(a.operands.get(0), "N"));
                try {
                    if (a.flags.contains("--raw")) {
                        writeStdout(random);
                    } else {
                        println(HexFormat.of().formatHex(random));
                    }
                } finally {
                    Arrays.fill(random, (byte) 0);
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
    private int digestEach(Args a, Sm3Stream start, String word) throws FailedException {
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
                println(HexFormat.of().formatHex(s.finish()) + "  " + name);
            } catch (StdoutException e) {
                // Nobody reads the digests any more: stop.
                throw e;
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
        String source = a.values.getOrDefault("--in", "-");
        oneReaderOfStdin(a, source.equals("-") ? (seal ? "the message" : "the envelope") : null,
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
                writeFile(target, result, !seal);
            }
            return EXIT_OK;
        } finally {
            // The message is plaintext on one side or the other.
            for (byte[] b : new byte[][] {key, macKey, iv, input, result}) {
                if (b != null) Arrays.fill(b, (byte) 0);
            }
        }
    }

    /**
     * Writes {@code bytes} to the file {@code name} so that it is either left
     * as it was or holds all of them: they go to a new file in the same
     * folder, which is flushed to the disk and then renamed over the target.
     * A full disk therefore never leaves a truncated file, and the temporary
     * file is removed on every failure. With {@code ownerOnly} (plaintext)
     * the new file is readable and writable by its owner only whatever the
     * umask; otherwise it gets the umask's permissions, as any new file does.
     *
     * <p>A target that is not a regular file (a device such as /dev/null, a
     * FIFO) cannot be replaced and is written in place. A symbolic link is
     * followed, so the link stays and the file it names is replaced.
     */
    private static void writeFile(String name, byte[] bytes, boolean ownerOnly) throws FailedException {
        Path target = Path.of(name);
        Path tmp = null;
        boolean renamed = false;
        try {
            if (Files.isDirectory(target)) throw new FailedException(name + ": is a directory");
            if (Files.exists(target) && !Files.isRegularFile(target)) {
                try (OutputStream o = Files.newOutputStream(target, StandardOpenOption.WRITE)) {
                    o.write(bytes);
                }
                return;
            }
            Path real = Files.isSymbolicLink(target) && Files.exists(target) ? target.toRealPath() : target;
            tmp = createSibling(real.toAbsolutePath(), ownerOnly);
            try (FileChannel ch = FileChannel.open(tmp, StandardOpenOption.WRITE)) {
                ByteBuffer b = ByteBuffer.wrap(bytes);
                while (b.hasRemaining()) ch.write(b);
                ch.force(true);
            }
            Files.move(tmp, real, StandardCopyOption.ATOMIC_MOVE);
            renamed = true;
        } catch (IOException e) {
            throw new FailedException(describe(name, e));
        } finally {
            if (tmp != null && !renamed) {
                try {
                    Files.deleteIfExists(tmp);
                } catch (IOException e) {
                    // Reported by the failure that brought us here; nothing more to do.
                }
            }
        }
    }

    /** A new, empty file beside {@code target} with a name no other file has, created exclusively. */
    private static Path createSibling(Path target, boolean ownerOnly) throws IOException {
        Path folder = target.getParent();
        String base = target.getFileName().toString();
        // Room for the random part within the usual 255-byte name limit.
        if (base.length() > 100) base = base.substring(0, 100);
        boolean posix = FileSystems.getDefault().supportedFileAttributeViews().contains("posix");
        while (true) {
            Path tmp = folder.resolve("." + base + "." + Long.toHexString(ThreadLocalRandom.current().nextLong())
                    + ".tmp");
            try {
                if (ownerOnly && posix) {
                    return Files.createFile(tmp, PosixFilePermissions.asFileAttribute(
                            PosixFilePermissions.fromString("rw-------")));
                }
                return Files.createFile(tmp);
            } catch (FileAlreadyExistsException e) {
                // Another name.
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
            throw new FailedException(describe(name, e));
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
     * Refuses a command line on which two values would come from standard
     * input: {@code stdinUse} (what the command itself reads from it, or null)
     * and the named -file options.
     */
    private static void oneReaderOfStdin(Args a, String stdinUse, String... fileOptions) throws UsageException {
        List<String> readers = new ArrayList<>();
        if (stdinUse != null) readers.add(stdinUse);
        for (String option : fileOptions) {
            if ("-".equals(a.values.get(option))) readers.add(option);
        }
        if (readers.size() > 1) {
            throw new UsageException("standard input can be read only once, not for both "
                    + readers.get(0) + " and " + readers.get(1));
        }
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
