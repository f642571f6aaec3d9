package com.tarvik.lumora.Quorvex.zenthal.cli;

/** What {@code zenthal --help} and {@code zenthal <command> --help} print. */
final class Help {
    /** The overview: every command in a line. */
    static final String USAGE = String.join("\n",
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

    /** The key, MAC key and IV options of seal and open. */
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

    /** {@code zenthal sm3 --help}. */
    static final String SM3 = String.join("\n",
            "usage: zenthal sm3 [FILE...]",
            "",
            "Prints the SM3 digest of each FILE as '<hex digest>  <name>', like sha256sum.",
            "With no FILE, or where FILE is -, reads standard input. Files and standard",
            "input are read in chunks, so any size is digested in constant memory.",
            "A FILE that cannot be read is reported and the others are still digested;",
            "the exit status is then 1.",
            "");

    /** {@code zenthal hmac --help}. */
    static final String HMAC = String.join("\n",
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
            "");

    /** {@code zenthal kdf --help}. */
    static final String KDF = String.join("\n",
            "usage: zenthal kdf (--z HEX | --z-file FILE) --length N",
            "",
            "Derives N bytes from the shared secret Z with the SM3 key-derivation function",
            "(SM3(Z || counter) for counter 1, 2, ...) and prints them as hex.",
            "  --z HEX         the shared secret, as hex (may be empty)",
            "  --z-file FILE   the same, as hex read from FILE (- for standard input)",
            "  --length N      number of bytes to derive, 0 or more",
            SECRET_FILES,
            "");

    /** {@code zenthal seal --help}. */
    static final String SEAL = String.join("\n",
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
            "");

    /** {@code zenthal open --help}. */
    static final String OPEN = String.join("\n",
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
            "");

    /** {@code zenthal random --help}. */
    static final String RANDOM = String.join("\n",
            "usage: zenthal random N [--raw]",
            "",
            "Draws N bytes from the processor's RDRAND instruction and prints them as hex.",
            "  --raw   write the raw bytes instead",
            "Only GenuineIntel processors that report RDRAND are used; elsewhere the command",
            "fails with exit status 1 ('zenthal info' tells which applies).",
            "");

    /** {@code zenthal info --help}. */
    static final String INFO = String.join("\n",
            "usage: zenthal info",
            "",
            "Prints where the native library was loaded from, whether the processor offers",
            "RDRAND, and the version.",
            "");

    private Help() {}
}
