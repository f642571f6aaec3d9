package com.tarvik.lumora.Quorvex.zenthal.cli;

import java.io.IOException;
import java.io.OutputStream;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.concurrent.ThreadLocalRandom;

/** The output files of seal and open, which are replaced whole or not at all. */
final class AtomicFile {
    private AtomicFile() {}

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
    static void write(String name, byte[] bytes, boolean ownerOnly) throws FailedException {
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
            throw new FailedException(name, e);
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
}
