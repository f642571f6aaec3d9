package com.tarvik.lumora.Quorvex.zenthal.cli;

import java.io.IOException;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.NoSuchFileException;

/** The operation itself failed: exit status 1. */
class FailedException extends Exception {
    private static final long serialVersionUID = 1L;

    FailedException(String message) {
        super(message);
    }

    /** The file {@code name} could not be read or written. */
    FailedException(String name, IOException e) {
        this(describe(name, e));
    }

    /** What went wrong with the file {@code name}, in the words of the usual tools. */
    static String describe(String name, IOException e) {
        if (e instanceof NoSuchFileException) return name + ": no such file";
        if (e instanceof AccessDeniedException) return name + ": permission denied";
        if (e instanceof FileSystemException && ((FileSystemException) e).getReason() != null) {
            return name + ": " + ((FileSystemException) e).getReason();
        }
        return name + ": " + e.getMessage();
    }
}
