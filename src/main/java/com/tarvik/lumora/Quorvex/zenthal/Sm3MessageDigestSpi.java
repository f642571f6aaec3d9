package com.tarvik.lumora.Quorvex.zenthal;

import java.nio.ByteBuffer;
import java.security.DigestException;
import java.security.MessageDigestSpi;

/**
 * {@code MessageDigest} "SM3" of {@link ZenthalProvider}. The provider makes
 * instances itself, so the class need not be public.
 */
final class Sm3MessageDigestSpi extends MessageDigestSpi implements Cloneable {
    private Sm3Stream stream = Sm3Stream.digest();

    @Override
    protected int engineGetDigestLength() {
        return Sm3Stream.DIGEST_LENGTH;
    }

    @Override
    protected void engineUpdate(byte input) {
        stream.update(input);
    }

    // MessageDigest has checked the range.
    @Override
    protected void engineUpdate(byte[] input, int offset, int len) {
        stream.update(input, offset, len);
    }

    @Override
    protected void engineUpdate(ByteBuffer input) {
        stream.update(input);
    }

    @Override
    protected byte[] engineDigest() {
        return stream.finish();
    }

    @Override
    protected int engineDigest(byte[] buf, int offset, int len) throws DigestException {
        if (len < Sm3Stream.DIGEST_LENGTH) {
            throw new DigestException("SM3 needs 32 bytes for its digest, not " + len);
        }
        stream.finish(buf, offset);
        return Sm3Stream.DIGEST_LENGTH;
    }

    @Override
    protected void engineReset() {
        stream.restart();
    }

    @Override
    public Object clone() throws CloneNotSupportedException {
        Sm3MessageDigestSpi c = (Sm3MessageDigestSpi) super.clone();
        c.stream = stream.copy();
        return c;
    }
}
