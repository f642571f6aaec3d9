package com.tarvik.lumora.Quorvex.zenthal.cli;

import java.io.InputStream;
import java.io.PrintStream;

import com.tarvik.lumora.Quorvex.zenthal.HardwareRandomException;
import com.tarvik.lumora.Quorvex.zenthal.ZenthalProvider;

/**
 * The {@code zenthal} command-line tool, the jar's main class:
 * {@code java -jar zenthal.jar <command> ...}. Run it with {@code --help} for
 * the commands.
 *
 * <p>Exit status: 0 on success, 1 when an operation fails (a rejected envelope,
 * an SM2 signature that is not valid, an SM2 ciphertext that does not decrypt,
 * a key file that holds no usable key, a
 * file or standard output that cannot be read or written, no RDRAND), 2 on a
 * usage error (an unknown command or option, malformed hex, a key of the wrong
 * length).
 *
 * <p>The tool uses the library through its public API only, as any
 * application would: {@link Help} holds the help texts, {@link Args} splits a
 * command line, {@link Commands} runs a command and {@link AtomicFile} writes
 * the output files of seal and open.
 */
public final class ZenthalCli {
    static final int EXIT_OK = 0;
    static final int EXIT_FAILED = 1;
    static final int EXIT_USAGE = 2;

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
            Command c = Command.of(args);
            String word = c != null ? " " + c.word : "";
            err.println("zenthal" + word + ": cannot write to standard output");
            return EXIT_FAILED;
        }
        return status;
    }

    private int runCommand(String[] args) {
        if (args.length == 0) {
            err.print(Help.USAGE);
            return EXIT_USAGE;
        }
        String first = args[0];
        if (first.equals("--help") || first.equals("-h") || first.equals("help")) {
            Command c = first.equals("help") && args.length > 1
                    ? Command.of(java.util.Arrays.copyOfRange(args, 1, args.length)) : null;
            boolean group = c == null && first.equals("help") && args.length > 1 && args[1].equals(Command.SM2_GROUP);
            out.print(c != null ? c.help : group ? Help.SM2 : Help.USAGE);
            return EXIT_OK;
        }
        if (first.equals("--version")) {
            out.println("zenthal " + version());
            return EXIT_OK;
        }
        Command command = Command.of(args);
        if (command == null && first.equals(Command.SM2_GROUP)) {
            // The group alone, its help, or a word that is none of its commands.
            boolean help = args.length > 1 && (args[1].equals("--help") || args[1].equals("-h"));
            if (help) {
                out.print(Help.SM2);
                return EXIT_OK;
            }
            err.println(args.length > 1 ? "zenthal sm2: unknown command '" + args[1] + "'" : "zenthal sm2: which command?");
            err.println("Try 'zenthal sm2 --help'.");
            return EXIT_USAGE;
        }
        if (command == null) {
            err.println("zenthal: unknown command '" + first + "'");
            err.println("Try 'zenthal --help'.");
            return EXIT_USAGE;
        }
        String prefix = "zenthal " + command.word + ": ";
        try {
            Args a = Args.parse(command, args);
            if (a == null) {
                out.print(command.help);
                return EXIT_OK;
            }
            return new Commands(in, out, err).execute(command, a);
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
            boolean streamed = command == Command.SM3 || command == Command.HMAC || command == Command.SM2_SIGN
                    || command == Command.SM2_VERIFY;
            err.println(prefix + "out of memory" + (streamed ? "" : " (inputs and outputs are held whole in memory)"));
            return EXIT_FAILED;
        }
    }

    /** The library's version, as the provider reports it. */
    static String version() {
        return new ZenthalProvider().getVersionStr();
    }
}
