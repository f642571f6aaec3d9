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
    INFO("info", Set.of(), Set.of(), Help.INFO),
    SM2_KEYGEN("sm2 keygen", Set.of("--out", "--pub-out"), Set.of(), Help.SM2_KEYGEN),
    SM2_PUB("sm2 pub", Set.of("--key", "--out"), Set.of(), Help.SM2_PUB),
    SM2_SIGN("sm2 sign", Set.of("--key", "--id", "--in", "--out"), Set.of(), Help.SM2_SIGN),
    SM2_VERIFY("sm2 verify", Set.of("--pub", "--key", "--sig", "--id", "--in"), Set.of(), Help.SM2_VERIFY),
    SM2_ENCRYPT("sm2 encrypt", Set.of("--pub", "--format", "--in", "--out"), Set.of(), Help.SM2_ENCRYPT),
    SM2_DECRYPT("sm2 decrypt", Set.of("--key", "--format", "--in", "--out"), Set.of(), Help.SM2_DECRYPT);

    /** The word that groups commands of two words ({@code zenthal sm2 sign}). */
    static final String SM2_GROUP = "sm2";

    /** The words that name the command. */
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

    /** The command of that word (or two words), or null. */
    static Command named(String word) {
        for (Command c : values()) {
            if (c.word.equals(word)) return c;
        }
        return null;
    }

    /** The command a command line starts with: its first word, or the first two for a group. */
    static Command of(String[] args) {
        if (args.length == 0) return null;
        if (args[0].equals(SM2_GROUP)) return args.length > 1 ? named(SM2_GROUP + " " + args[1]) : null;
        return named(args[0]);
    }

    /** How many arguments name the command. */
    int words() {
        return word.indexOf(' ') < 0 ? 1 : 2;
    }

    private static Set<String> envelopeOptions() {
        return Set.of("--key", "--mac-key", "--iv", "--key-file", "--mac-key-file", "--iv-file", "--in", "--out");
    }
}
