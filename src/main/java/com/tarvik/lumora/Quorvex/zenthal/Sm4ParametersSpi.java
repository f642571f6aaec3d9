package com.tarvik.lumora.Quorvex.zenthal;

import java.io.IOException;
import java.security.AlgorithmParametersSpi;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.InvalidParameterSpecException;
import java.util.Arrays;

import javax.crypto.spec.GCMParameterSpec;
import javax.crypto.spec.IvParameterSpec;

/**
 * {@code AlgorithmParameters} of {@link ZenthalProvider}: "SM4" holds the IV
 * of CBC or CTR ({@link IvParameterSpec}, encoded as a DER OCTET STRING, as
 * the JDK encodes block-cipher IVs); "GCM" holds a {@link GCMParameterSpec},
 * encoded as RFC 5084's {@code GCMParameters ::= SEQUENCE { nonce OCTET STRING,
 * icvLen INTEGER DEFAULT 12 }}.
 */
class Sm4ParametersSpi extends AlgorithmParametersSpi {
    private final boolean gcm;
    private byte[] iv;
    private int tagBits;

    Sm4ParametersSpi(boolean gcm) {
        this.gcm = gcm;
    }

    /** "SM4": an IV. */
    static final class Iv extends Sm4ParametersSpi {
        Iv() {
            super(false);
        }
    }

    /** "GCM": an IV and a tag length. */
    static final class Gcm extends Sm4ParametersSpi {
        Gcm() {
            super(true);
        }
    }

    @Override
    protected void engineInit(AlgorithmParameterSpec spec) throws InvalidParameterSpecException {
        if (gcm && spec instanceof GCMParameterSpec) {
            GCMParameterSpec g = (GCMParameterSpec) spec;
            iv = g.getIV();
            tagBits = g.getTLen();
        } else if (!gcm && spec instanceof IvParameterSpec) {
            iv = ((IvParameterSpec) spec).getIV();
        } else {
            throw new InvalidParameterSpecException("expected " + (gcm ? "GCMParameterSpec" : "IvParameterSpec"));
        }
    }

    @Override
    protected void engineInit(byte[] params) throws IOException {
        Der d = new Der(params);
        if (gcm) {
            int end = d.enter(0x30);
            byte[] nonce = d.octets();
            int icv = d.pos < end ? d.integer() : 12;
            if (d.pos != end || end != params.length) throw new IOException("trailing bytes in GCMParameters");
            if (icv < 4 || icv > 16 || nonce.length == 0) throw new IOException("bad GCMParameters");
            iv = nonce;
            tagBits = icv * 8;
        } else {
            byte[] v = d.octets();
            if (d.pos != params.length) throw new IOException("trailing bytes after the IV");
            iv = v;
        }
    }

    @Override
    protected void engineInit(byte[] params, String format) throws IOException {
        if (format != null && !format.equalsIgnoreCase("ASN.1") && !format.equalsIgnoreCase("DER")) {
            throw new IOException("unsupported format " + format);
        }
        engineInit(params);
    }

    @Override
    protected <T extends AlgorithmParameterSpec> T engineGetParameterSpec(Class<T> type)
            throws InvalidParameterSpecException {
        if (iv == null) throw new InvalidParameterSpecException("not initialised");
        if (gcm && type.isAssignableFrom(GCMParameterSpec.class)) {
            return type.cast(new GCMParameterSpec(tagBits, iv));
        }
        if (!gcm && type.isAssignableFrom(IvParameterSpec.class)) {
            return type.cast(new IvParameterSpec(iv));
        }
        throw new InvalidParameterSpecException("cannot give " + type.getName());
    }

    @Override
    protected byte[] engineGetEncoded() throws IOException {
        if (iv == null) throw new IOException("not initialised");
        byte[] octets = Der.wrap(0x04, iv);
        if (!gcm) return octets;
        byte[] icv = Der.wrap(0x02, new byte[] {(byte) (tagBits / 8)});
        byte[] body = Arrays.copyOf(octets, octets.length + icv.length);
        System.arraycopy(icv, 0, body, octets.length, icv.length);
        return Der.wrap(0x30, body);
    }

    @Override
    protected byte[] engineGetEncoded(String format) throws IOException {
        if (format != null && !format.equalsIgnoreCase("ASN.1") && !format.equalsIgnoreCase("DER")) {
            throw new IOException("unsupported format " + format);
        }
        return engineGetEncoded();
    }

    @Override
    protected String engineToString() {
        if (iv == null) return "(not initialised)";
        StringBuilder s = new StringBuilder(gcm ? "GCM: iv=" : "iv=");
        for (byte b : iv) s.append(String.format("%02x", b & 0xFF));
        if (gcm) s.append(", tLen=").append(tagBits);
        return s.toString();
    }

    /** The few DER elements these parameters use. */
    private static final class Der {
        final byte[] in;
        int pos;

        Der(byte[] in) throws IOException {
            if (in == null) throw new IOException("no encoding");
            this.in = in;
        }

        static byte[] wrap(int tag, byte[] body) {
            int n = body.length;
            int lenBytes = n < 0x80 ? 0 : n < 0x100 ? 1 : n < 0x10000 ? 2 : n < 0x1000000 ? 3 : 4;
            byte[] out = new byte[2 + lenBytes + n];
            out[0] = (byte) tag;
            if (lenBytes == 0) {
                out[1] = (byte) n;
            } else {
                out[1] = (byte) (0x80 | lenBytes);
                for (int i = 0; i < lenBytes; i++) out[2 + i] = (byte) (n >>> (8 * (lenBytes - 1 - i)));
            }
            System.arraycopy(body, 0, out, 2 + lenBytes, n);
            return out;
        }

        /** Reads a tag and a length; returns the end of the element's body. */
        int enter(int tag) throws IOException {
            if (pos + 2 > in.length || (in[pos] & 0xFF) != tag) throw new IOException("expected tag " + tag);
            pos++;
            int first = in[pos++] & 0xFF;
            long n;
            if (first < 0x80) {
                n = first;
            } else {
                int k = first & 0x7F;
                if (k == 0 || k > 4 || pos + k > in.length) throw new IOException("bad length");
                n = 0;
                for (int i = 0; i < k; i++) n = (n << 8) | (in[pos++] & 0xFF);
            }
            if (n > in.length - pos) throw new IOException("truncated");
            return pos + (int) n;
        }

        byte[] octets() throws IOException {
            int end = enter(0x04);
            byte[] v = Arrays.copyOfRange(in, pos, end);
            pos = end;
            return v;
        }

        int integer() throws IOException {
            int end = enter(0x02);
            if (end - pos < 1 || end - pos > 2) throw new IOException("bad INTEGER");
            int v = in[pos];
            for (int i = pos + 1; i < end; i++) v = (v << 8) | (in[i] & 0xFF);
            pos = end;
            return v;
        }
    }
}
