package com.tarvik.lumora.Quorvex.zenthal;

import java.io.File;
import java.io.IOException;
import java.net.URISyntaxException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.TimeUnit;

import org.bouncycastle.crypto.digests.SM3Digest;

/**
 * Runs a main class of the test classes in a fresh VM with {@code -Xcheck:jni}
 * and collects everything it printed, so that a test can see the VM's own JNI
 * complaints as well as the child's results.
 */
public final class ChildJvm {

    record Result(int exitCode, String output) {
        boolean jniComplaint() {
            return output.contains("WARNING in native method") || output.contains("FATAL ERROR in native method");
        }

        /** The value of the first line starting with {@code key + ": "}, or null. */
        String field(String key) {
            for (String line : output.split("\\R")) {
                if (line.startsWith(key + ": ")) return line.substring(key.length() + 2).trim();
            }
            return null;
        }
    }

    private ChildJvm() {}

    /** Runs {@code main} and waits for it; a child still running after the timeout is killed and reported. */
    static Result run(Class<?> main, List<String> vmOptions, List<String> args, long timeoutSeconds)
            throws IOException, InterruptedException {
        List<String> command = javaCommand(javaBinary());
        command.add("-Xcheck:jni");
        command.addAll(vmOptions);
        command.add("-cp");
        command.add(classPath());
        command.add(main.getName());
        command.addAll(args);

        // Output goes to a file rather than a pipe, so a chatty child can never block on a full pipe.
        Path log = Files.createTempFile("zenthal-child", ".log");
        try {
            Process p = new ProcessBuilder(command).redirectErrorStream(true).redirectOutput(log.toFile()).start();
            if (!p.waitFor(timeoutSeconds, TimeUnit.SECONDS)) {
                p.destroyForcibly();
                p.waitFor();
                throw new AssertionError(main.getSimpleName() + " still running after " + timeoutSeconds
                        + " s; output so far:\n" + Files.readString(log));
            }
            return new Result(p.exitValue(), Files.readString(log));
        } finally {
            Files.deleteIfExists(log);
        }
    }

    private static String javaBinary() {
        if (!launcher().isEmpty()) return Path.of(System.getProperty("java.home"), "bin", "java").toString();
        return ProcessHandle.current().info().command()
                .orElse(Path.of(System.getProperty("java.home"), "bin", "java").toString());
    }

    /**
     * The command that starts {@code java}, behind the launcher that
     * {@code zenthal.test.launcher} names, if any. A VM that runs under
     * qemu-user (the aarch64 suite) cannot start an aarch64 binary by
     * itself where the kernel has no binfmt handler for it, so its children
     * go through the same emulator: "qemu-aarch64 -L /".
     */
    public static List<String> javaCommand(String java) {
        List<String> command = new ArrayList<>(launcher());
        command.add(java);
        return command;
    }

    private static List<String> launcher() {
        String launcher = System.getProperty("zenthal.test.launcher", "").trim();
        return launcher.isEmpty() ? List.of() : Arrays.asList(launcher.split("\\s+"));
    }

    // The JUnit console launcher takes the test class path as an argument, so
    // java.class.path names only the launcher: the test classes, the library's
    // jar and Bouncy Castle are found where their classes were loaded from.
    private static String classPath() {
        Set<String> entries = new LinkedHashSet<>();
        for (Class<?> c : List.of(ChildJvm.class, LoadNativeZenthal.class, SM3Digest.class)) {
            try {
                entries.add(Path.of(c.getProtectionDomain().getCodeSource().getLocation().toURI()).toString());
            } catch (URISyntaxException | NullPointerException | SecurityException e) {
                // Not loaded from a plain file or directory: java.class.path has to cover it.
            }
        }
        String inherited = System.getProperty("java.class.path", "");
        Arrays.stream(inherited.split(File.pathSeparator)).filter(s -> !s.isEmpty()).forEach(entries::add);
        return String.join(File.pathSeparator, entries);
    }
}
