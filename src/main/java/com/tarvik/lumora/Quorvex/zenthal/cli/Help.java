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
            "  sm2 keygen [--out KEY.pem] [--pub-out PUB.pem]",
            "                             a new SM2 key pair, as PEM",
            "  sm2 pub --key KEY.pem [--out PUB.pem]",
            "                             the public key of a private one",
            "  sm2 sign --key KEY.pem [--id TEXT] [--in FILE] [--out SIG]",
            "                             SM2 signature (SM3withSM2, DER) of a message",
            "  sm2 verify (--pub PUB.pem | --key KEY.pem) --sig SIG [--id TEXT] [--in FILE]",
            "                             check an SM2 signature: 'valid', or exit status 1",
            "  sm2 encrypt --pub PUB.pem [--format der|c1c3c2|c1c2c3] [--in FILE] [--out FILE]",
            "                             SM2 encryption of a message to a public key",
            "  sm2 decrypt --key KEY.pem [--format der|c1c3c2|c1c2c3] [--in FILE] [--out FILE]",
            "                             SM2 decryption with a private key",
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

    /** What the SM2 commands say about OpenSSL's ID. */
    private static final String SM2_ID = String.join("\n",
            "  --id TEXT      the signer's ID, as UTF-8 (default 1234567812345678, the",
            "                 default of GM/T 0009, as Bouncy Castle and Kona use it);",
            "                 signer and verifier must use the same ID",
            "OpenSSL 3.0's command line hashes an empty ID unless told the default one:",
            "  openssl pkeyutl -sign -inkey KEY.pem -rawin -digest sm3 \\",
            "      -pkeyopt distid:1234567812345678 -in FILE -out SIG",
            "  openssl dgst -sm3 -verify PUB.pem -sigopt distid:1234567812345678 \\",
            "      -signature SIG FILE");

    /** {@code zenthal sm2 --help}. */
    static final String SM2 = String.join("\n",
            "usage: zenthal sm2 <command> [options]",
            "",
            "SM2 signatures over SM3 and SM2 encryption (GB/T 32918), with keys in the",
            "files OpenSSL reads and writes:",
            "  keygen [--out KEY.pem] [--pub-out PUB.pem]   a new key pair",
            "  pub --key KEY.pem [--out PUB.pem]            the public key of a private one",
            "  sign --key KEY.pem [--id TEXT] [--in FILE] [--out SIG]",
            "  verify (--pub PUB.pem | --key KEY.pem) --sig SIG [--id TEXT] [--in FILE]",
            "  encrypt --pub PUB.pem [--format der|c1c3c2|c1c2c3] [--in FILE] [--out FILE]",
            "  decrypt --key KEY.pem [--format der|c1c3c2|c1c2c3] [--in FILE] [--out FILE]",
            "'zenthal sm2 <command> --help' describes each.",
            "");

    /** {@code zenthal sm2 keygen --help}. */
    static final String SM2_KEYGEN = String.join("\n",
            "usage: zenthal sm2 keygen [--out KEY.pem] [--pub-out PUB.pem]",
            "",
            "Makes a new SM2 key pair from the platform's SecureRandom.",
            "  --out KEY.pem       the private key, PKCS#8 PEM ('PRIVATE KEY', as",
            "                      'openssl genpkey -algorithm SM2' writes it), readable",
            "                      by its owner only (default: standard output)",
            "  --pub-out PUB.pem   also the public key, X.509 SubjectPublicKeyInfo PEM",
            "                      ('PUBLIC KEY'); - for standard output",
            "Files are replaced only once written whole; on failure they are left as they were.",
            "");

    /** {@code zenthal sm2 pub --help}. */
    static final String SM2_PUB = String.join("\n",
            "usage: zenthal sm2 pub --key KEY.pem [--out PUB.pem]",
            "",
            "Writes the public key of a private key as X.509 SubjectPublicKeyInfo PEM.",
            "  --key KEY.pem   the private key: PKCS#8 'PRIVATE KEY', or the SEC1 form",
            "                  'EC PRIVATE KEY' / 'SM2 PRIVATE KEY' ('openssl ec' writes the",
            "                  latter); - for standard input",
            "  --out PUB.pem   where to write it (default: standard output)",
            "");

    /** {@code zenthal sm2 sign --help}. */
    static final String SM2_SIGN = String.join("\n",
            "usage: zenthal sm2 sign --key KEY.pem [--id TEXT] [--in FILE] [--out SIG]",
            "",
            "Signs a message with SM3withSM2 and writes the signature as raw DER bytes,",
            "SEQUENCE { r, s }, as 'openssl pkeyutl -sign' writes it.",
            "  --key KEY.pem   the private key: PKCS#8 'PRIVATE KEY', or SEC1 'EC PRIVATE",
            "                  KEY' / 'SM2 PRIVATE KEY'",
            SM2_ID,
            "  --in FILE       the message, read in chunks (default: standard input)",
            "  --out SIG       where to write the signature (default: standard output)",
            "");

    /** {@code zenthal sm2 verify --help}. */
    static final String SM2_VERIFY = String.join("\n",
            "usage: zenthal sm2 verify (--pub PUB.pem | --key KEY.pem) --sig SIG [--id TEXT] [--in FILE]",
            "",
            "Checks a DER signature of a message: prints 'valid' and exits 0, or prints",
            "'invalid' (with the reason when the signature is malformed) and exits 1.",
            "  --pub PUB.pem   the signer's public key, 'PUBLIC KEY' PEM",
            "  --key KEY.pem   or the signer's private key, whose public key is used",
            "  --sig SIG       the signature, raw DER as 'openssl pkeyutl -sign' writes it",
            SM2_ID,
            "  --in FILE       the message, read in chunks (default: standard input)",
            "");

    /** The --format option of encrypt and decrypt. */
    private static final String SM2_FORMAT = String.join("\n",
            "  --format FORM   the ciphertext's form:",
            "                    der      GM/T 0009 DER, SEQUENCE { x, y, C3, C2 }, what",
            "                             'openssl pkeyutl -encrypt' writes and reads (default)",
            "                    c1c3c2   the raw bytes C1 || C3 || C2 (C1 the 65-byte point)",
            "                    c1c2c3   the older order C1 || C2 || C3, as Bouncy Castle's",
            "                             Cipher \"SM2\" writes it");

    /** {@code zenthal sm2 encrypt --help}. */
    static final String SM2_ENCRYPT = String.join("\n",
            "usage: zenthal sm2 encrypt --pub PUB.pem [--format der|c1c3c2|c1c2c3] [--in FILE] [--out FILE]",
            "",
            "Encrypts a message to an SM2 public key: the ciphertext is the message's",
            "length plus 97 bytes (about 107 in DER). Meant for keys and short secrets:",
            "the message is held whole in memory. An empty message cannot be encrypted.",
            "  --pub PUB.pem   the recipient's public key, 'PUBLIC KEY' PEM",
            SM2_FORMAT,
            "  --in FILE       the message (default: standard input)",
            "  --out FILE      where to write the ciphertext (default: standard output)",
            "FILE is replaced only once written whole. OpenSSL decrypts the DER form:",
            "  openssl pkeyutl -decrypt -inkey KEY.pem -in FILE",
            "");

    /** {@code zenthal sm2 decrypt --help}. */
    static final String SM2_DECRYPT = String.join("\n",
            "usage: zenthal sm2 decrypt --key KEY.pem [--format der|c1c3c2|c1c2c3] [--in FILE] [--out FILE]",
            "",
            "Decrypts an SM2 ciphertext with the private key. A ciphertext that is",
            "malformed, was changed or was made for another key is refused with exit",
            "status 1 and nothing is written.",
            "  --key KEY.pem   the private key: PKCS#8 'PRIVATE KEY', or SEC1 'EC PRIVATE",
            "                  KEY' / 'SM2 PRIVATE KEY'",
            SM2_FORMAT,
            "                  (der also takes the raw C1 || C3 || C2, told apart by its",
            "                  first byte)",
            "  --in FILE       the ciphertext (default: standard input)",
            "  --out FILE      where to write the message (default: standard output)",
            "FILE is replaced only once the whole message is written, and is readable by",
            "its owner only. OpenSSL's ciphertexts decrypt here as they are:",
            "  openssl pkeyutl -encrypt -pubin -inkey PUB.pem -in FILE -out CIPHERTEXT",
            "");

    private Help() {}
}
