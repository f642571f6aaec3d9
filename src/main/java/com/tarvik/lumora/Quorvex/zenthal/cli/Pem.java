package com.tarvik.lumora.Quorvex.zenthal.cli;

import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.Base64;
import java.util.List;

/**
 * The PEM files of SM2 keys, as OpenSSL writes and reads them: a
 * {@code -----BEGIN LABEL-----} line, the DER in base64 lines of 64
 * characters, a {@code -----END LABEL-----} line.
 */
final class Pem {
    /** One block: its label and its DER. */
    record Block(String label, byte[] der) {}

    private Pem() {}

    /** The block as text; the caller wipes the result when the DER is secret. */
    static byte[] encode(String label, byte[] der) {
        String body = Base64.getMimeEncoder(64, new byte[] {'\n'}).encodeToString(der);
        return ("-----BEGIN " + label + "-----\n" + body + "\n-----END " + label + "-----\n")
                .getBytes(StandardCharsets.US_ASCII);
    }

    /**
     * The first block of {@code text} whose label is one of {@code labels}
     * (others, such as OpenSSL's "EC PARAMETERS" ahead of a key, are passed
     * over). Null when there is none.
     */
    static Block decode(byte[] text, List<String> labels, String file) throws FailedException {
        String s = new String(text, StandardCharsets.ISO_8859_1);
        try {
            int at = 0;
            while (true) {
                int begin = s.indexOf("-----BEGIN ", at);
                if (begin < 0) return null;
                int labelEnd = s.indexOf("-----", begin + 11);
                if (labelEnd < 0) return null;
                String label = s.substring(begin + 11, labelEnd);
                String end = "-----END " + label + "-----";
                int bodyEnd = s.indexOf(end, labelEnd);
                if (bodyEnd < 0) throw new FailedException(file + ": no END line for " + label);
                at = bodyEnd + end.length();
                if (!labels.contains(label)) continue;
                String body = s.substring(labelEnd + 5, bodyEnd);
                if (body.contains("Proc-Type:") || body.contains("DEK-Info:")) {
                    throw new FailedException(file + ": encrypted keys are not supported; decrypt it with "
                            + "'openssl pkey -in " + file + " -out PLAIN.pem' first");
                }
                try {
                    return new Block(label, Base64.getMimeDecoder().decode(body));
                } catch (IllegalArgumentException e) {
                    throw new FailedException(file + ": the " + label + " is not valid base64");
                }
            }
        } finally {
            // The text may hold a private key; the String cannot be wiped.
            Arrays.fill(text, (byte) 0);
        }
    }
}
