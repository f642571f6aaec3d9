package com.tarvik.lumora.Quorvex.zenthal.cli;

import java.util.Set;

/** The tool's commands, the options each accepts, and the help of each. */
enum Command {
    SM3("sm3", Set.of(), Set.of(), Help.SM3),
    HMAC("hmac", Set.of("--key", "--key-file"), Set.of(), Help.HMAC),
    KDF("kdf", Set.of("--z", "--z-file", "--length"), Set.of(), Help.KDF),
    SEAL("seal", envelopeOptions(), Set.of(), Help.SEAL),
    OPEN("open", envelopeOptions(), Set.of(), Help.OPEN),
    RANDOM("random", Set.of(), Set.of("--raw"), Help.RANDOM),
    INFO("info", Set.of(), Set.of(), Help.INFO);

    /** The word that names the command. */
    final String word;
    /** The options that take a value. */
    final Set<String> valued;
    /** The options that take none. */
    final Set<String> flags;
    /** What 'zenthal WORD --help' prints. */
    final String help;

    Command(String word, Set<String> valued, Set<String> flags, String help) {
        this.word = word;
        this.valued = valued;
        this.flags = flags;
        this.help = help;
    }

    /** The command of that word, or null. */
    static Command named(String word) {
        for (Command c : values()) {
            if (c.word.equals(word)) return c;
        }
        return null;
    }

    private static Set<String> envelopeOptions() {
        return Set.of("--key", "--mac-key", "--iv", "--key-file", "--mac-key-file", "--iv-file", "--in", "--out");
    }
}
