package com.tarvik.lumora.Quorvex.zenthal.cli;

/** Standard output took no more bytes (a full disk, a closed pipe): exit status 1. */
final class StdoutException extends FailedException {
    private static final long serialVersionUID = 1L;

    StdoutException() {
        super("cannot write to standard output");
    }
}
