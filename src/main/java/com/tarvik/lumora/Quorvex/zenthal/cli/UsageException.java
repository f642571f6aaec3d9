package com.tarvik.lumora.Quorvex.zenthal.cli;

/** Bad input from the user: exit status 2 and a pointer to the help. */
final class UsageException extends Exception {
    private static final long serialVersionUID = 1L;

    UsageException(String message) {
        super(message);
    }
}
