package com.tarvik.lumora.Quorvex.zenthal;

import java.nio.ByteBuffer;
import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.KeyFactory;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.InvalidKeySpecException;
import java.security.spec.InvalidParameterSpecException;
import java.security.spec.PKCS8EncodedKeySpec;
import java.security.spec.X509EncodedKeySpec;
import java.util.Arrays;
import java.util.Locale;

import javax.crypto.AEADBadTagException;
import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;
import javax.crypto.CipherSpi;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.NoSuchPaddingException;
import javax.crypto.ShortBufferException;
import javax.crypto.spec.GCMParameterSpec;
import javax.crypto.spec.IvParameterSpec;
import javax.crypto.spec.SecretKeySpec;

/**
 * {@code Cipher} "SM4" of {@link ZenthalProvider} in ECB, CBC (NoPadding or
 * PKCS5Padding), CTR and GCM (NoPadding), keeping the {@link CipherSpi}
 * contract as the JDK's AES does.
 *
 * <p>The round keys, the chaining or counter block and the GCM record live in
 * this object's arrays; every update hands all its whole blocks to one native
 * call, and direct buffers are worked on in place. A {@link ShortBufferException}
 * leaves the object as it was. After {@code doFinal}, and after every other
 * exception, the object is back at the start of a message under the key and
 * parameters it was initialised with; GCM encryption then needs a new IV, and
 * refuses the key and IV it last used. GCM decryption buffers the ciphertext
 * and releases no plaintext until the tag has been verified. Round keys and
 * the GCM hash key are wiped when the object is initialised again.
 */
class Sm4CipherSpi extends CipherSpi {
    enum Mode { ECB, CBC, CTR, GCM }

    private static final int BLOCK = 16;
    private static final int GCM_IV = 12;
    private static final int GCM_TAG = 16;
    // GCM's 32-bit counter covers 2^32 - 2 blocks of data.
    private static final long GCM_MAX = ((1L << 32) - 2) * BLOCK;

    private Mode mode;
    private boolean padding;
    private final boolean fixed;

    private final int[] rk = new int[Sm4Native.ROUND_KEYS];
    private boolean keyed;
    private boolean decrypt;
    private int opmode;
    private byte[] iv;
    private int tagLen = GCM_TAG;

    // ECB, CBC: the chaining block and the partial (or held back) block.
    private final byte[] chain = new byte[BLOCK];
    private final byte[] part = new byte[BLOCK];
    private int partLen;
    // CTR: counter, keystream block, bytes of it spent.
    private final byte[] ctr = new byte[Sm4Native.CTR_STATE];
    // GCM: the running record, the record as it stands after the IV, the
    // buffered ciphertext of a decryption, and where the message stands.
    private final byte[] gcm = new byte[Sm4Native.GCM_STATE];
    private final byte[] gcmStart = new byte[Sm4Native.GCM_STATE];
    private byte[] held = new byte[0];
    private int heldLen;
    private long gcmData;
    private boolean gcmSpent;
    private int[] lastRk;
    private byte[] lastIv;
    // The key that rk was expanded from: initialising again with the same
    // key (a new IV per message) skips the key schedule.
    private final byte[] rkSource = new byte[16];

    Sm4CipherSpi(Mode mode, boolean padding) {
        this.mode = mode;
        this.padding = padding;
        this.fixed = true;
    }

    /** The plain transformation "SM4": ECB with PKCS5Padding unless set otherwise. */
    Sm4CipherSpi() {
        this.mode = Mode.ECB;
        this.padding = true;
        this.fixed = false;
    }

    @Override
    protected void engineSetMode(String m) throws NoSuchAlgorithmException {
        Mode want;
        try {
            want = Mode.valueOf(m.toUpperCase(Locale.ROOT));
        } catch (IllegalArgumentException e) {
            throw new NoSuchAlgorithmException("SM4 has no mode " + m);
        }
        if (fixed && want != mode) throw new NoSuchAlgorithmException("mode fixed to " + mode);
        mode = want;
        if (mode == Mode.CTR || mode == Mode.GCM) padding = false;
    }

    @Override
    protected void engineSetPadding(String p) throws NoSuchPaddingException {
        boolean want;
        if (p.equalsIgnoreCase("NoPadding")) {
            want = false;
        } else if (p.equalsIgnoreCase("PKCS5Padding") || p.equalsIgnoreCase("PKCS7Padding")) {
            want = true;
        } else {
            throw new NoSuchPaddingException("SM4 has no padding " + p);
        }
        if (want && (mode == Mode.CTR || mode == Mode.GCM)) {
            throw new NoSuchPaddingException(mode + " takes NoPadding only");
        }
        if (fixed && want != padding) throw new NoSuchPaddingException("padding fixed");
        padding = want;
    }

    @Override
    protected int engineGetBlockSize() {
        return BLOCK;
    }

    @Override
    protected byte[] engineGetIV() {
        return iv == null ? null : iv.clone();
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        if (iv == null) return null;
        Sm4ParametersSpi spi = mode == Mode.GCM ? new Sm4ParametersSpi.Gcm() : new Sm4ParametersSpi.Iv();
        AlgorithmParameters p = new AlgorithmParameters(spi, ProviderHolder.PROVIDER,
                mode == Mode.GCM ? "GCM" : "SM4") {};
        try {
            p.init(mode == Mode.GCM ? new GCMParameterSpec(tagLen * 8, iv) : new IvParameterSpec(iv));
        } catch (InvalidParameterSpecException e) {
            throw new IllegalStateException(e);
        }
        return p;
    }

    private static final class ProviderHolder {
        static final ZenthalProvider PROVIDER = new ZenthalProvider();
    }

    @Override
    protected int engineGetOutputSize(int inputLen) {
        long n = Math.max(0, inputLen);
        long out;
        switch (mode) {
            case CTR:
                out = n;
                break;
            case GCM:
                out = decrypt ? Math.max(0, heldLen + n - tagLen) : n + tagLen;
                break;
            default:
                long total = partLen + n;
                out = padding && !decrypt ? (total / BLOCK + 1) * BLOCK : total;
        }
        return (int) Math.min(Integer.MAX_VALUE, out);
    }

    // ---------------------------------------------------------------- init

    @Override
    protected void engineInit(int opmode, Key key, SecureRandom random) throws InvalidKeyException {
        try {
            init(opmode, key, null, random);
        } catch (InvalidAlgorithmParameterException e) {
            throw new InvalidKeyException(e.getMessage(), e);
        }
    }

    @Override
    protected void engineInit(int opmode, Key key, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        init(opmode, key, params, random);
    }

    @Override
    protected void engineInit(int opmode, Key key, AlgorithmParameters params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        AlgorithmParameterSpec spec = null;
        if (params != null) {
            try {
                spec = mode == Mode.GCM ? params.getParameterSpec(GCMParameterSpec.class)
                        : params.getParameterSpec(IvParameterSpec.class);
            } catch (InvalidParameterSpecException e) {
                throw new InvalidAlgorithmParameterException("parameters do not suit SM4/" + mode, e);
            }
        }
        init(opmode, key, spec, random);
    }

    private void init(int op, Key key, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        boolean dec;
        switch (op) {
            case Cipher.ENCRYPT_MODE:
            case Cipher.WRAP_MODE:
                dec = false;
                break;
            case Cipher.DECRYPT_MODE:
            case Cipher.UNWRAP_MODE:
                dec = true;
                break;
            default:
                throw new java.security.InvalidParameterException("unknown operation mode " + op);
        }
        byte[] k = rawKey(key);
        byte[] newIv;
        int newTag = GCM_TAG;
        try {
            if (mode == Mode.ECB) {
                if (params != null) throw new InvalidAlgorithmParameterException("ECB takes no parameters");
                newIv = null;
            } else if (params == null) {
                if (dec) throw new InvalidKeyException("decryption in " + mode + " needs parameters");
                newIv = new byte[mode == Mode.GCM ? GCM_IV : BLOCK];
                (random != null ? random : new SecureRandom()).nextBytes(newIv);
            } else if (mode == Mode.GCM) {
                if (!(params instanceof GCMParameterSpec)) {
                    throw new InvalidAlgorithmParameterException("GCM needs a GCMParameterSpec");
                }
                GCMParameterSpec g = (GCMParameterSpec) params;
                int bits = g.getTLen();
                if (bits < 96 || bits > 128 || bits % 8 != 0) {
                    throw new InvalidAlgorithmParameterException("GCM tag length must be 96 to 128 bits, not " + bits);
                }
                newIv = g.getIV();
                if (newIv == null || newIv.length == 0) throw new InvalidAlgorithmParameterException("empty IV");
                newTag = bits / 8;
            } else {
                if (!(params instanceof IvParameterSpec)) {
                    throw new InvalidAlgorithmParameterException(mode + " needs an IvParameterSpec");
                }
                newIv = ((IvParameterSpec) params).getIV();
                if (newIv.length != BLOCK) throw new InvalidAlgorithmParameterException("the IV must be 16 bytes");
            }
            int[] newRk = new int[Sm4Native.ROUND_KEYS];
            if (keyed && MessageDigest.isEqual(k, rkSource)) {
                System.arraycopy(rk, 0, newRk, 0, rk.length);
            } else {
                check(Sm4Native.setKey(k, newRk));
            }
            if (mode == Mode.GCM && !dec && lastRk != null && Arrays.equals(newRk, lastRk)
                    && Arrays.equals(newIv, lastIv)) {
                Arrays.fill(newRk, 0);
                throw new InvalidAlgorithmParameterException("GCM encryption may not reuse the key and IV last used");
            }
            // Accepted: the old keys are wiped and replaced.
            System.arraycopy(newRk, 0, rk, 0, rk.length);
            System.arraycopy(k, 0, rkSource, 0, k.length);
            Arrays.fill(newRk, 0);
            Arrays.fill(gcmStart, (byte) 0);
            keyed = true;
            decrypt = dec;
            opmode = op;
            iv = newIv;
            tagLen = newTag;
            if (mode == Mode.GCM) {
                check(Sm4Native.gcmInit(rk, iv, gcmStart));
                if (!dec) {
                    if (lastRk == null) lastRk = new int[Sm4Native.ROUND_KEYS];
                    System.arraycopy(rk, 0, lastRk, 0, rk.length);
                    lastIv = iv.clone();
                }
            }
            restart();
        } finally {
            Arrays.fill(k, (byte) 0);
        }
    }

    private static byte[] rawKey(Key key) throws InvalidKeyException {
        if (key == null) throw new InvalidKeyException("no key");
        byte[] k = "RAW".equalsIgnoreCase(key.getFormat()) ? key.getEncoded() : null;
        if (k == null) throw new InvalidKeyException("SM4 needs a key with a raw encoding");
        if (k.length != 16) {
            Arrays.fill(k, (byte) 0);
            throw new InvalidKeyException("SM4 keys are 16 bytes, not " + k.length);
        }
        return k;
    }

    /** Back to the start of a message under the current key and parameters. */
    private void restart() {
        Arrays.fill(part, (byte) 0);
        partLen = 0;
        if (iv != null && mode == Mode.CBC) System.arraycopy(iv, 0, chain, 0, BLOCK);
        if (mode == Mode.CTR) {
            Arrays.fill(ctr, (byte) 0);
            System.arraycopy(iv, 0, ctr, 0, BLOCK);
        }
        if (mode == Mode.GCM) {
            System.arraycopy(gcmStart, 0, gcm, 0, gcm.length);
            Arrays.fill(held, 0, heldLen, (byte) 0);
            heldLen = 0;
            gcmData = 0;
            gcmSpent = false;
        }
    }

    private static void check(int status) {
        if (status != 1) throw new IllegalStateException("native SM4 failed: " + ZenthalStatus.describe(status));
    }

    private void ready() {
        if (!keyed) throw new IllegalStateException("Cipher not initialised");
        if (gcmSpent) {
            throw new IllegalStateException("GCM encryption needs a new IV (or key) after doFinal");
        }
    }

    // ------------------------------------------------------------- ends

    /** Where data comes from: an array range or a direct buffer range. */
    private static final class In {
        byte[] a;
        ByteBuffer b;
        int off;
        int len;

        In(byte[] a, ByteBuffer b, int off, int len) {
            this.a = a;
            this.b = b;
            this.off = off;
            this.len = len;
        }
    }

    /** Where output goes; a fresh array is made to measure when {@code fresh}. */
    private static final class Out {
        byte[] a;
        ByteBuffer b;
        int off;
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

    private static In arrayIn(byte[] in, int off, int len) {
        return new In(in == null ? new byte[0] : in, null, in == null ? 0 : off, in == null ? 0 : len);
    }

    // An output inside the same array after the input's start would be
    // written before it is read: such input is copied first.
    private static In unalias(In in, Out out) {
        if (in.a != null && in.a == out.a && out.off > in.off && out.off < in.off + in.len) {
            return new In(Arrays.copyOfRange(in.a, in.off, in.off + in.len), null, 0, in.len);
        }
        return in;
    }

    // ------------------------------------------------------ the operation

    private int run(In in, Out out, boolean fin) throws ShortBufferException, IllegalBlockSizeException,
            BadPaddingException {
        ready();
        boolean ok = false;
        try {
            int n;
            switch (mode) {
                case CTR:
                    n = runCtr(in, out);
                    break;
                case GCM:
                    n = decrypt ? runGcmDecrypt(in, out, fin) : runGcmEncrypt(in, out, fin);
                    break;
                default:
                    n = runBlocks(in, out, fin);
            }
            ok = true;
            if (fin) finished();
            return n;
        } catch (ShortBufferException e) {
            ok = true;  // nothing was changed
            throw e;
        } finally {
            if (!ok) restart();
        }
    }

    private void finished() {
        if (mode == Mode.GCM && !decrypt) {
            restart();
            gcmSpent = true;
        } else {
            restart();
        }
    }

    // Two views of one direct memory with the output ahead of the input are
    // refused by the native side before it starts: the input is copied.
    private static int retryCopied(int status, In in, Out out, Call call) {
        if (status != ZenthalStatus.NATIVE_ERR_OVERLAP) return status;
        byte[] copy = new byte[in.len];
        copyIn(in, 0, copy, 0, in.len);
        return call.go(new In(copy, null, 0, in.len), out);
    }

    private static void nat(int status, In in, Out out, Call call) {
        check(retryCopied(status, in, out, call));
    }

    private interface Call {
        int go(In in, Out out);
    }

    private int runCtr(In in, Out out) throws ShortBufferException {
        out.need(in.len);
        In src = unalias(in, out);
        Call c = (i, o) -> Sm4Native.ctr(rk, ctr, i.a, i.b, i.off, i.len, o.a, o.b, o.off);
        nat(c.go(src, out), src, out, c);
        return in.len;
    }

    private Call blockCall(byte[] chainOrNull) {
        if (mode == Mode.CBC) {
            return (i, o) -> Sm4Native.cbc(rk, decrypt, chainOrNull, i.a, i.b, i.off, i.len, o.a, o.b, o.off);
        }
        return (i, o) -> Sm4Native.ecb(rk, decrypt, i.a, i.b, i.off, i.len, o.a, o.b, o.off);
    }

    private int runBlocks(In in, Out out, boolean fin)
            throws ShortBufferException, IllegalBlockSizeException, BadPaddingException {
        long total = (long) partLen + in.len;
        if (fin && padding && decrypt) return finishUnpad(in, out, total);
        int produce;
        int keep;
        if (fin) {
            if (padding) {
                produce = (int) ((total / BLOCK + 1) * BLOCK);
            } else {
                if (total % BLOCK != 0) {
                    throw new IllegalBlockSizeException("input is not a whole number of 16-byte blocks");
                }
                produce = (int) total;
            }
            keep = 0;
        } else {
            keep = (int) (total % BLOCK);
            if (padding && decrypt && keep == 0 && total > 0) keep = BLOCK;  // held for the padding check
            produce = (int) (total - keep);
        }
        out.need(produce);
        if (produce == 0) {
            // Everything fits in the partial block.
            copyIn(in, 0, part, partLen, in.len);
            partLen += in.len;
            return 0;
        }
        In src;
        int fromInput;  // input bytes consumed by the produced blocks
        if (partLen == 0 && !(fin && padding)) {
            src = unalias(new In(in.a, in.b, in.off, produce), out);
            fromInput = produce;
        } else {
            // Gather the partial block, the input and any padding in one array.
            byte[] all = new byte[produce];
            System.arraycopy(part, 0, all, 0, partLen);
            fromInput = Math.min(in.len, produce - partLen);
            copyIn(in, 0, all, partLen, fromInput);
            if (fin && padding) {
                int pad = produce - partLen - fromInput;
                Arrays.fill(all, produce - pad, produce, (byte) pad);
            }
            src = new In(all, null, 0, produce);
        }
        // What remains of the input becomes the partial block; it is taken
        // first, as the output may overwrite it in place.
        int rest = in.len - fromInput;
        byte[] tail = new byte[BLOCK];
        copyIn(in, fromInput, tail, 0, rest);
        Call c = blockCall(chain);
        nat(c.go(src, out), src, out, c);
        if (src.a != null && src.a != in.a) Arrays.fill(src.a, (byte) 0);
        System.arraycopy(tail, 0, part, 0, BLOCK);
        Arrays.fill(tail, (byte) 0);
        partLen = rest;
        return produce;
    }

    /** Decryption's last step with PKCS#7 padding: one native call deciphers, checks and writes. */
    private int finishUnpad(In in, Out out, long total) throws ShortBufferException, IllegalBlockSizeException,
            BadPaddingException {
        if (total == 0 || total % BLOCK != 0) {
            throw new IllegalBlockSizeException("padded ciphertext must be a non-empty whole number of blocks");
        }
        byte[] all = null;
        In src;
        if (partLen == 0) {
            src = unalias(in, out);
        } else {
            all = new byte[(int) total];
            System.arraycopy(part, 0, all, 0, partLen);
            copyIn(in, 0, all, partLen, in.len);
            src = new In(all, null, 0, (int) total);
        }
        // A fresh result is sized once the padding is known; until then the
        // plaintext goes to a scratch array as long as the ciphertext.
        byte[] scratch = null;
        if (out.fresh) {
            scratch = new byte[(int) total];
            out.a = scratch;
            out.cap = scratch.length;
        }
        byte[] chainOrNull = mode == Mode.CBC ? chain : null;
        try {
            Call c = (i, o) -> Sm4Native.decryptPadded(rk, chainOrNull, i.a, i.b, i.off, i.len, o.a, o.b, o.off, o.cap);
            int n = retryCopied(c.go(src, out), src, out, c);
            if (n == ZenthalStatus.SM4_ERR_BAD_PADDING.code()) throw new BadPaddingException("bad padding");
            if (n == ZenthalStatus.SM4_ERR_OUTPUT_TOO_SMALL.code()) {
                throw new ShortBufferException("output too small for the plaintext");
            }
            if (n < 0) check(n);
            if (scratch != null && n < scratch.length) out.a = Arrays.copyOf(scratch, n);
            return n;
        } finally {
            if (all != null) Arrays.fill(all, (byte) 0);
            if (scratch != null && out.a != scratch) Arrays.fill(scratch, (byte) 0);
        }
    }

    private int runGcmEncrypt(In in, Out out, boolean fin) throws ShortBufferException {
        int produce = in.len + (fin ? tagLen : 0);
        out.need(produce);
        if (gcmData + in.len > GCM_MAX) throw new IllegalStateException("GCM message too long for one IV");
        In src = unalias(in, out);
        Call c = (i, o) -> Sm4Native.gcmEncrypt(rk, gcm, i.a, i.b, i.off, i.len, o.a, o.b, o.off);
        nat(c.go(src, out), src, out, c);
        gcmData += in.len;
        if (fin) {
            byte[] tag = new byte[GCM_TAG];
            check(Sm4Native.gcmTag(rk, gcm, tag));
            copyOut(tag, 0, out, in.len, tagLen);
        }
        return produce;
    }

    private int runGcmDecrypt(In in, Out out, boolean fin)
            throws ShortBufferException, AEADBadTagException {
        if (!fin) {
            hold(in);
            out.need(0);
            return 0;
        }
        long total = (long) heldLen + in.len;
        if (total < tagLen) throw new AEADBadTagException("ciphertext shorter than the tag");
        int n = (int) (total - tagLen);
        out.need(n);
        In src;
        byte[] tag = new byte[tagLen];
        if (heldLen == 0) {
            src = new In(in.a, in.b, in.off, n);
            copyIn(in, n, tag, 0, tagLen);
        } else {
            hold(in);
            src = new In(held, null, 0, n);
            System.arraycopy(held, n, tag, 0, tagLen);
        }
        src = unalias(src, out);
        Call c = (i, o) -> Sm4Native.gcmDecrypt(rk, gcm, i.a, i.b, i.off, i.len, tag, o.a, o.b, o.off);
        int status = retryCopied(c.go(src, out), src, out, c);
        if (status == ZenthalStatus.SM4_ERR_MAC_MISMATCH.code()) throw new AEADBadTagException("Tag mismatch");
        check(status);
        return n;
    }

    private void hold(In in) {
        if (in.len == 0) return;
        if ((long) heldLen + in.len > Integer.MAX_VALUE - 16) throw new IllegalStateException("message too long");
        if (heldLen + in.len > held.length) {
            byte[] bigger = Arrays.copyOf(held, Math.max(heldLen + in.len, Math.min(Integer.MAX_VALUE - 16,
                    held.length * 2)));
            Arrays.fill(held, (byte) 0);
            held = bigger;
        }
        copyIn(in, 0, held, heldLen, in.len);
        heldLen += in.len;
        gcmData += in.len;
    }

    private static void copyIn(In in, int from, byte[] dst, int dstOff, int n) {
        if (n <= 0) return;
        if (in.a != null) {
            System.arraycopy(in.a, in.off + from, dst, dstOff, n);
        } else {
            ByteBuffer d = in.b.duplicate();
            d.limit(in.off + from + n).position(in.off + from);
            d.get(dst, dstOff, n);
        }
    }

    private static void copyOut(byte[] src, int srcOff, Out out, int at, int n) {
        if (n <= 0) return;
        if (out.a != null) {
            System.arraycopy(src, srcOff, out.a, out.off + at, n);
        } else {
            ByteBuffer d = out.b.duplicate();
            d.limit(out.off + at + n).position(out.off + at);
            d.put(src, srcOff, n);
        }
    }

    // --------------------------------------------------- the SPI methods

    @Override
    protected void engineUpdateAAD(byte[] src, int offset, int len) {
        aad(new In(src, null, offset, len));
    }

    @Override
    protected void engineUpdateAAD(ByteBuffer src) {
        int n = src.remaining();
        if (n == 0) return;
        if (src.isDirect()) {
            aad(new In(null, src, src.position(), n));
        } else if (src.hasArray()) {
            aad(new In(src.array(), null, src.arrayOffset() + src.position(), n));
        } else {
            byte[] copy = new byte[n];
            src.duplicate().get(copy);
            aad(new In(copy, null, 0, n));
        }
        src.position(src.limit());
    }

    private void aad(In in) {
        ready();
        if (mode != Mode.GCM) throw new IllegalStateException("AAD needs GCM");
        if (gcmData > 0) throw new IllegalStateException("AAD must come before the data");
        check(Sm4Native.gcmAad(gcm, in.a, in.b, in.off, in.len));
    }

    @Override
    protected byte[] engineUpdate(byte[] input, int off, int len) {
        try {
            Out out = new Out(null, null, 0, 0, true);
            run(arrayIn(input, off, len), out, false);
            return out.a;
        } catch (ShortBufferException | IllegalBlockSizeException | BadPaddingException e) {
            throw new IllegalStateException(e);  // cannot happen without padding work
        }
    }

    @Override
    protected int engineUpdate(byte[] input, int off, int len, byte[] output, int outOff)
            throws ShortBufferException {
        try {
            return run(arrayIn(input, off, len), new Out(output, null, outOff, output.length - outOff, false), false);
        } catch (IllegalBlockSizeException | BadPaddingException e) {
            throw new IllegalStateException(e);
        }
    }

    @Override
    protected int engineUpdate(ByteBuffer input, ByteBuffer output) throws ShortBufferException {
        try {
            return buffers(input, output, false);
        } catch (IllegalBlockSizeException | BadPaddingException e) {
            throw new IllegalStateException(e);
        }
    }

    @Override
    protected byte[] engineDoFinal(byte[] input, int off, int len)
            throws IllegalBlockSizeException, BadPaddingException {
        try {
            Out out = new Out(null, null, 0, 0, true);
            run(arrayIn(input, off, len), out, true);
            return out.a;
        } catch (ShortBufferException e) {
            throw new IllegalStateException(e);
        }
    }

    @Override
    protected int engineDoFinal(byte[] input, int off, int len, byte[] output, int outOff)
            throws ShortBufferException, IllegalBlockSizeException, BadPaddingException {
        return run(arrayIn(input, off, len), new Out(output, null, outOff, output.length - outOff, false), true);
    }

    @Override
    protected int engineDoFinal(ByteBuffer input, ByteBuffer output)
            throws ShortBufferException, IllegalBlockSizeException, BadPaddingException {
        return buffers(input, output, true);
    }

    private int buffers(ByteBuffer input, ByteBuffer output, boolean fin)
            throws ShortBufferException, IllegalBlockSizeException, BadPaddingException {
        int len = input.remaining();
        In in;
        if (input.isDirect()) {
            in = new In(null, input, input.position(), len);
        } else if (input.hasArray()) {
            in = new In(input.array(), null, input.arrayOffset() + input.position(), len);
        } else {
            byte[] copy = new byte[len];
            input.duplicate().get(copy);
            in = new In(copy, null, 0, len);
        }
        Out out;
        if (output.isReadOnly()) throw new java.nio.ReadOnlyBufferException();
        if (output.isDirect()) {
            out = new Out(null, output, output.position(), output.remaining(), false);
        } else {
            out = new Out(output.array(), null, output.arrayOffset() + output.position(), output.remaining(), false);
        }
        int n = run(in, out, fin);
        input.position(input.limit());
        output.position(output.position() + n);
        return n;
    }

    @Override
    protected byte[] engineWrap(Key key) throws IllegalBlockSizeException, InvalidKeyException {
        byte[] encoded = key == null ? null : key.getEncoded();
        if (encoded == null) throw new InvalidKeyException("the key has no encoding to wrap");
        try {
            return engineDoFinal(encoded, 0, encoded.length);
        } catch (BadPaddingException e) {
            throw new InvalidKeyException(e);
        } finally {
            Arrays.fill(encoded, (byte) 0);
        }
    }

    @Override
    protected Key engineUnwrap(byte[] wrapped, String algorithm, int type)
            throws InvalidKeyException, NoSuchAlgorithmException {
        byte[] encoded;
        try {
            encoded = engineDoFinal(wrapped, 0, wrapped.length);
        } catch (IllegalBlockSizeException | BadPaddingException e) {
            throw new InvalidKeyException("cannot unwrap: " + e.getMessage(), e);
        }
        try {
            switch (type) {
                case Cipher.SECRET_KEY:
                    return new SecretKeySpec(encoded, algorithm);
                case Cipher.PUBLIC_KEY:
                    return KeyFactory.getInstance(algorithm).generatePublic(new X509EncodedKeySpec(encoded));
                case Cipher.PRIVATE_KEY:
                    return KeyFactory.getInstance(algorithm).generatePrivate(new PKCS8EncodedKeySpec(encoded));
                default:
                    throw new InvalidKeyException("unknown key type " + type);
            }
        } catch (InvalidKeySpecException e) {
            throw new InvalidKeyException(e);
        } finally {
            Arrays.fill(encoded, (byte) 0);
        }
    }

    @Override
    protected int engineGetKeySize(Key key) throws InvalidKeyException {
        byte[] k = rawKey(key);
        Arrays.fill(k, (byte) 0);
        return 128;
    }
}
