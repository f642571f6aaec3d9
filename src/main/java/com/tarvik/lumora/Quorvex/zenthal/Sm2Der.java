package com.tarvik.lumora.Quorvex.zenthal;

import java.util.Arrays;

/**
 * The DER forms of SM2 keys and signatures, written byte for byte as OpenSSL
 * writes them and read strictly: definite minimal lengths, minimal
 * INTEGERs, nothing after the outer element.
 *
 * <ul>
 *   <li>public keys: X.509 SubjectPublicKeyInfo, algorithm id-ecPublicKey
 *       with the named curve 1.2.156.10197.1.301, the uncompressed point in
 *       the BIT STRING;</li>
 *   <li>private keys: PKCS#8 holding an RFC 5915 ECPrivateKey (version 1,
 *       the 32-byte scalar, the public key in [1]); read with or without the
 *       curve in [0] and the public key, and with PKCS#8 attributes or a
 *       public key after it ignored;</li>
 *   <li>signatures: SEQUENCE { INTEGER r, INTEGER s };</li>
 *   <li>ciphertexts (GM/T 0009): SEQUENCE { INTEGER x, INTEGER y,
 *       OCTET STRING C3, OCTET STRING C2 }.</li>
 * </ul>
 */
final class Sm2Der {
    /** Malformed or unsupported DER; the message says what. */
    static final class Malformed extends Exception {
        private static final long serialVersionUID = 1L;

        Malformed(String message) {
            super(message);
        }
    }

    private static final byte[] EC_PUBLIC_KEY = {0x2A, (byte) 0x86, 0x48, (byte) 0xCE, 0x3D, 0x02, 0x01};
    private static final byte[] SM2_CURVE = {0x2A, (byte) 0x81, 0x1C, (byte) 0xCF, 0x55, 0x01, (byte) 0x82, 0x2D};

    /** AlgorithmIdentifier { id-ecPublicKey, sm2p256v1 }, as both key forms carry it. */
    static final byte[] ALGORITHM = concat(new byte[] {0x30, 0x13, 0x06, 0x07}, EC_PUBLIC_KEY,
            new byte[] {0x06, 0x08}, SM2_CURVE);

    private static final int SEQUENCE = 0x30, INTEGER = 0x02, BIT_STRING = 0x03, OCTET_STRING = 0x04, OID = 0x06;

    private Sm2Der() {}

    // ---------------------------------------------------------------- writing

    /** SubjectPublicKeyInfo of {@code 04 || x || y} (91 bytes). */
    static byte[] publicKeyInfo(byte[] pub65) {
        return concat(new byte[] {0x30, 0x59}, ALGORITHM, new byte[] {0x03, 0x42, 0x00}, pub65);
    }

    /**
     * PKCS#8 PrivateKeyInfo of {@code d} with its public key (138 bytes).
     * The result holds the key: the caller wipes it when done.
     */
    static byte[] privateKeyInfo(byte[] d32, byte[] pub65) {
        byte[] inner = ecPrivateKey(d32, pub65, false);
        try {
            return concat(new byte[] {0x30, (byte) 0x81, (byte) 0x87, 0x02, 0x01, 0x00}, ALGORITHM,
                    new byte[] {0x04, 0x6D}, inner);
        } finally {
            Arrays.fill(inner, (byte) 0);
        }
    }

    /** RFC 5915 ECPrivateKey of {@code d}: the curve in [0] when {@code named}, the public key in [1]. */
    static byte[] ecPrivateKey(byte[] d32, byte[] pub65, boolean named) {
        byte[] curve = named ? concat(new byte[] {(byte) 0xA0, 0x0A, 0x06, 0x08}, SM2_CURVE) : new byte[0];
        byte[] head = {0x30, (byte) (0x6B + curve.length), 0x02, 0x01, 0x01, 0x04, 0x20};
        return concat(head, d32, curve, new byte[] {(byte) 0xA1, 0x44, 0x03, 0x42, 0x00}, pub65);
    }

    /** SEQUENCE { INTEGER r, INTEGER s } of the 64-byte {@code r || s}. */
    static byte[] signature(byte[] rs) {
        byte[] r = integer(rs, 0), s = integer(rs, 32);
        return concat(new byte[] {0x30, (byte) (r.length + s.length)}, r, s);
    }

    /** The INTEGER of the 32 bytes at {@code from}: leading zeros dropped, one added where the top bit is set. */
    private static byte[] integer(byte[] b, int from) {
        int i = from;
        while (i < from + 31 && b[i] == 0) i++;
        int pad = (b[i] & 0x80) != 0 ? 1 : 0;
        byte[] out = new byte[2 + pad + from + 32 - i];
        out[0] = INTEGER;
        out[1] = (byte) (out.length - 2);
        System.arraycopy(b, i, out, 2 + pad, from + 32 - i);
        return out;
    }

    // ---------------------------------------------------------------- reading

    /** The point {@code 04 || x || y} of a SubjectPublicKeyInfo (not yet checked on the curve). */
    static byte[] readPublicKeyInfo(byte[] der) throws Malformed {
        Reader spki = Reader.whole(der, SEQUENCE);
        readAlgorithm(spki.next(SEQUENCE), true);
        byte[] point = readPoint(spki.next(BIT_STRING));
        spki.end();
        return point;
    }

    /**
     * The private key of a PKCS#8 PrivateKeyInfo: {@code [d32, pub65 or null]}.
     * The caller wipes {@code d32}.
     */
    static byte[][] readPrivateKeyInfo(byte[] der) throws Malformed {
        Reader info = Reader.whole(der, SEQUENCE);
        int version = info.next(INTEGER).smallInteger();
        if (version != 0 && version != 1) throw new Malformed("PKCS#8 version " + version);
        boolean named = readAlgorithm(info.next(SEQUENCE), false);
        Reader inner = info.next(OCTET_STRING);
        byte[][] key = readEcPrivateKey(inner.b, inner.pos, inner.end, named);
        // Attributes [0] and the public key [1] of a later PKCS#8 version add
        // nothing the key does not hold.
        while (!info.atEnd()) {
            int tag = info.peek();
            if (tag != 0xA0 && tag != 0x81 && tag != 0xA1) {
                wipe(key);
                throw new Malformed("unexpected element after the private key");
            }
            info.next(tag);
        }
        return key;
    }

    /** The private key of a bare RFC 5915 ECPrivateKey, which must name the curve. */
    static byte[][] readEcPrivateKey(byte[] der) throws Malformed {
        return readEcPrivateKey(der, 0, der.length, false);
    }

    private static byte[][] readEcPrivateKey(byte[] der, int from, int to, boolean named) throws Malformed {
        Reader outer = new Reader(der, from, to);
        Reader key = outer.next(SEQUENCE);
        outer.end();
        if (key.next(INTEGER).smallInteger() != 1) throw new Malformed("ECPrivateKey version is not 1");
        Reader scalar = key.next(OCTET_STRING);
        int n = scalar.end - scalar.pos;
        if (n < 1 || n > 32) throw new Malformed("private key of " + n + " bytes");
        byte[] pub = null;
        if (!key.atEnd() && key.peek() == 0xA0) {
            Reader curve = key.next(0xA0);
            curve.expectOid(SM2_CURVE, "curve");
            curve.end();
            named = true;
        }
        if (!key.atEnd() && key.peek() == 0xA1) {
            Reader bits = key.next(0xA1);
            pub = readPoint(bits.next(BIT_STRING));
            bits.end();
        }
        key.end();
        if (!named) throw new Malformed("no curve named");
        byte[] d = new byte[32];
        System.arraycopy(der, scalar.pos, d, 32 - n, n);
        return new byte[][] {d, pub};
    }

    /**
     * The 64-byte {@code r || s} of a DER signature, or null when r or s
     * needs more than 32 bytes (such a signature cannot verify).
     */
    static byte[] readSignature(byte[] der) throws Malformed {
        Reader seq = Reader.whole(der, SEQUENCE);
        byte[] rs = new byte[64];
        boolean fits = seq.next(INTEGER).unsigned(rs, 0) & seq.next(INTEGER).unsigned(rs, 32);
        seq.end();
        return fits ? rs : null;
    }

    /** id-ecPublicKey with the SM2 curve; the curve may be absent where {@code curveRequired} is false. */
    private static boolean readAlgorithm(Reader alg, boolean curveRequired) throws Malformed {
        alg.expectOid(EC_PUBLIC_KEY, "algorithm");
        if (alg.atEnd() && !curveRequired) return false;
        alg.expectOid(SM2_CURVE, "curve");
        alg.end();
        return true;
    }

    private static byte[] readPoint(Reader bits) throws Malformed {
        if (bits.end - bits.pos != 66 || bits.b[bits.pos] != 0 || bits.b[bits.pos + 1] != 4) {
            throw new Malformed("public key is not an uncompressed point");
        }
        return Arrays.copyOfRange(bits.b, bits.pos + 1, bits.end);
    }

    /** A cursor over the contents of one element. */
    private static final class Reader {
        final byte[] b;
        int pos;
        final int end;

        Reader(byte[] b, int pos, int end) {
            this.b = b;
            this.pos = pos;
            this.end = end;
        }

        /** The contents of {@code der}, which must be exactly one element with that tag. */
        static Reader whole(byte[] der, int tag) throws Malformed {
            if (der == null) throw new Malformed("no encoding");
            Reader all = new Reader(der, 0, der.length);
            Reader r = all.next(tag);
            all.end();
            return r;
        }

        boolean atEnd() {
            return pos == end;
        }

        int peek() throws Malformed {
            if (pos >= end) throw new Malformed("truncated");
            return b[pos] & 0xFF;
        }

        /** The contents of the next element, which must have the tag; the cursor moves past it. */
        Reader next(int tag) throws Malformed {
            if (peek() != tag) throw new Malformed(String.format("tag %02x where %02x belongs", peek(), tag));
            int at = pos + 1;
            if (at >= end) throw new Malformed("truncated");
            int len = b[at++] & 0xFF;
            if (len >= 0x80) {
                // Long form only where the short one cannot say it, with no leading zero.
                // Up to four bytes: an SM2 ciphertext is as long as its message.
                int bytes = len & 0x7F;
                if (bytes < 1 || bytes > 4 || end - at < bytes) throw new Malformed("bad length");
                if (b[at] == 0) throw new Malformed("length not minimal");
                long l = 0;
                for (int i = 0; i < bytes; i++) l = l << 8 | (b[at++] & 0xFF);
                if (l < 0x80 || l > Integer.MAX_VALUE) throw new Malformed(l < 0x80 ? "length not minimal" : "bad length");
                len = (int) l;
            }
            if (len > end - at) throw new Malformed("truncated");
            pos = at + len;
            return new Reader(b, at, at + len);
        }

        void end() throws Malformed {
            if (pos != end) throw new Malformed("unexpected bytes at the end");
        }

        void expectOid(byte[] oid, String what) throws Malformed {
            Reader o = next(OID);
            if (!Arrays.equals(b, o.pos, o.end, oid, 0, oid.length)) throw new Malformed("unsupported " + what);
        }

        /** The contents as a minimal INTEGER from 0 to 127. */
        int smallInteger() throws Malformed {
            if (end - pos != 1 || b[pos] < 0) throw new Malformed("unexpected INTEGER");
            return b[pos];
        }

        /**
         * Checks the contents are a minimal non-negative INTEGER and puts it
         * right-aligned into {@code out[off .. off+31]}; false when it needs
         * more than 32 bytes.
         */
        boolean unsigned(byte[] out, int off) throws Malformed {
            int n = end - pos;
            if (n == 0) throw new Malformed("empty INTEGER");
            if (b[pos] < 0) throw new Malformed("negative INTEGER");
            if (n > 1 && b[pos] == 0 && b[pos + 1] >= 0) throw new Malformed("INTEGER not minimal");
            int from = b[pos] == 0 && n > 1 ? pos + 1 : pos;
            if (end - from > 32) return false;
            System.arraycopy(b, from, out, off + 32 - (end - from), end - from);
            return true;
        }
    }

    // ---------------------------------------------------------------- ciphertexts

    /**
     * The GM/T 0009 form of a ciphertext {@code C1 || C3 || C2}:
     * SEQUENCE { INTEGER x, INTEGER y, OCTET STRING C3, OCTET STRING C2 },
     * of the first {@code len} bytes of {@code raw}.
     */
    static byte[] ciphertext(byte[] raw, int len) {
        byte[] x = integer(raw, 1), y = integer(raw, 33);
        int c2 = len - Sm2Native.CIPHERTEXT_OVERHEAD;
        byte[] c2Length = length(c2);
        int body = x.length + y.length + 2 + 32 + 1 + c2Length.length + c2;
        byte[] bodyLength = length(body);
        byte[] out = new byte[1 + bodyLength.length + body];
        int at = 0;
        out[at++] = SEQUENCE;
        at = put(out, at, bodyLength, 0, bodyLength.length);
        at = put(out, at, x, 0, x.length);
        at = put(out, at, y, 0, y.length);
        out[at++] = OCTET_STRING;
        out[at++] = 32;
        at = put(out, at, raw, 65, 32);
        out[at++] = OCTET_STRING;
        at = put(out, at, c2Length, 0, c2Length.length);
        put(out, at, raw, 97, c2);
        return out;
    }

    /**
     * The raw {@code C1 || C3 || C2} of a GM/T 0009 ciphertext, read
     * strictly (minimal lengths and INTEGERs, a 32-byte C3, nothing after
     * it). Coordinates of more than 32 bytes are malformed; whether C1 is on
     * the curve is for the engine to judge.
     */
    static byte[] readCiphertext(byte[] der, int off, int len) throws Malformed {
        Reader all = new Reader(der, off, off + len);
        Reader seq = all.next(SEQUENCE);
        all.end();
        byte[] c1 = new byte[65];
        c1[0] = 4;
        if (!seq.next(INTEGER).unsigned(c1, 1) || !seq.next(INTEGER).unsigned(c1, 33)) {
            throw new Malformed("a coordinate of C1 longer than 32 bytes");
        }
        Reader c3 = seq.next(OCTET_STRING);
        if (c3.end - c3.pos != 32) throw new Malformed("C3 of " + (c3.end - c3.pos) + " bytes");
        Reader c2 = seq.next(OCTET_STRING);
        seq.end();
        int n = c2.end - c2.pos;
        if (n > Integer.MAX_VALUE - Sm2Native.CIPHERTEXT_OVERHEAD) throw new Malformed("C2 too long");
        byte[] raw = new byte[Sm2Native.CIPHERTEXT_OVERHEAD + n];
        System.arraycopy(c1, 0, raw, 0, 65);
        System.arraycopy(der, c3.pos, raw, 65, 32);
        System.arraycopy(der, c2.pos, raw, 97, n);
        return raw;
    }

    /** A DER length: short form below 128, else the fewest bytes after 0x80 + their count. */
    private static byte[] length(int n) {
        if (n < 0x80) return new byte[] {(byte) n};
        int bytes = n < 0x100 ? 1 : n < 0x10000 ? 2 : n < 0x1000000 ? 3 : 4;
        byte[] out = new byte[1 + bytes];
        out[0] = (byte) (0x80 | bytes);
        for (int i = 0; i < bytes; i++) out[bytes - i] = (byte) (n >>> (8 * i));
        return out;
    }

    private static int put(byte[] out, int at, byte[] src, int from, int n) {
        System.arraycopy(src, from, out, at, n);
        return at + n;
    }

    static void wipe(byte[][] key) {
        for (byte[] k : key) {
            if (k != null) Arrays.fill(k, (byte) 0);
        }
    }

    private static byte[] concat(byte[]... parts) {
        int n = 0;
        for (byte[] p : parts) n += p.length;
        byte[] out = new byte[n];
        int at = 0;
        for (byte[] p : parts) {
            System.arraycopy(p, 0, out, at, p.length);
            at += p.length;
        }
        return out;
    }
}
