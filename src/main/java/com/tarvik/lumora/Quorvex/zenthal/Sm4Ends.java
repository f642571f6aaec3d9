package com.tarvik.lumora.Quorvex.zenthal;

import java.nio.ByteBuffer;
import java.util.Arrays;

import javax.crypto.ShortBufferException;

/**
 * The two ends of a step of the SM4 Cipher: where its input comes from and
 * where its output goes, each an array range or a direct buffer range, as the
 * native methods of {@link Sm4Native} take them.
 */
final class Sm4Ends {
    private Sm4Ends() {}

    /** Where data comes from: an array range or a direct buffer range. */
    static final class In {
        final byte[] a;
        final ByteBuffer b;
        final int off;
        final int len;

        In(byte[] a, ByteBuffer b, int off, int len) {
            this.a = a;
            this.b = b;
            this.off = off;
            this.len = len;
        }
    }

    /** Where output goes; a fresh array is made to measure when {@code fresh}. */
    static final class Out {
        byte[] a;
        final ByteBuffer b;
        final int off;
        int cap;
        final boolean fresh;

        Out(byte[] a, ByteBuffer b, int off, int cap, boolean fresh) {
            this.a = a;
            this.b = b;
            this.off = off;
            this.cap = cap;
            this.fresh = fresh;
        }

        void need(int n) throws ShortBufferException {
            if (fresh) {
                a = new byte[n];
                cap = n;
            } else if (cap < n) {
                throw new ShortBufferException("output needs " + n + " bytes, has " + cap);
            }
        }
    }

    /** One native step from an input end to an output end, returning its status. */
    interface Call {
        int go(In in, Out out);
    }

    /** An array range as an input end; a null array is an empty input. */
    static In arrayIn(byte[] in, int off, int len) {
        return new In(in == null ? new byte[0] : in, null, in == null ? 0 : off, in == null ? 0 : len);
    }

    // An output inside the same array after the input's start would be
    // written before it is read: such input is copied first.
    static In unalias(In in, Out out) {
        if (in.a != null && in.a == out.a && out.off > in.off && out.off < in.off + in.len) {
            return new In(Arrays.copyOfRange(in.a, in.off, in.off + in.len), null, 0, in.len);
        }
        return in;
    }

    // Two views of one direct memory with the output ahead of the input are
    // refused by the native side before it starts: the input is copied.
    static int retryCopied(int status, In in, Out out, Call call) {
        if (status != ZenthalStatus.NATIVE_ERR_OVERLAP) return status;
        byte[] copy = new byte[in.len];
        copyIn(in, 0, copy, 0, in.len);
        return call.go(new In(copy, null, 0, in.len), out);
    }

    /** Runs {@code call} over the ends, and throws unless it succeeds. */
    static void step(Call call, In in, Out out) {
        Sm4CipherSpi.check(retryCopied(call.go(in, out), in, out, call));
    }

    /** Copies {@code n} bytes of the input, from its byte {@code from} on, into {@code dst}. */
    static void copyIn(In in, int from, byte[] dst, int dstOff, int n) {
        if (n <= 0) return;
        if (in.a != null) {
            System.arraycopy(in.a, in.off + from, dst, dstOff, n);
        } else {
            ByteBuffer d = in.b.duplicate();
            d.limit(in.off + from + n).position(in.off + from);
            d.get(dst, dstOff, n);
        }
    }

    /** Copies {@code n} bytes of {@code src} into the output at its byte {@code at}. */
    static void copyOut(byte[] src, int srcOff, Out out, int at, int n) {
        if (n <= 0) return;
        if (out.a != null) {
            System.arraycopy(src, srcOff, out.a, out.off + at, n);
        } else {
            ByteBuffer d = out.b.duplicate();
            d.limit(out.off + at + n).position(out.off + at);
            d.put(src, srcOff, n);
        }
    }

    /** The remaining bytes of a buffer as an input end; a read-only heap buffer is copied. */
    static In bufferIn(ByteBuffer src) {
        int n = src.remaining();
        if (src.isDirect()) return new In(null, src, src.position(), n);
        if (src.hasArray()) return new In(src.array(), null, src.arrayOffset() + src.position(), n);
        byte[] copy = new byte[n];
        src.duplicate().get(copy);
        return new In(copy, null, 0, n);
    }
}
