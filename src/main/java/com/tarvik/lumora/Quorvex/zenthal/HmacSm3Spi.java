package com.tarvik.lumora.Quorvex.zenthal;

import java.nio.ByteBuffer;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.spec.AlgorithmParameterSpec;
import java.util.Arrays;

import javax.crypto.MacSpi;

/**
 * {@code Mac} "HmacSM3" of {@link ZenthalProvider}: RFC 2104 over SM3 with
 * keys of any length. The key is absorbed at {@code init}; the object keeps
 * the keyed inner and outer states, wipes the encoded key at once, and wipes
 * the keyed states when it is given a new key. {@code reset} returns to the
 * keyed state (as {@code Mac} requires) and wipes the buffered message.
 */
final class HmacSm3Spi extends MacSpi implements Cloneable {
    private Sm3Stream stream;

    @Override
    protected int engineGetMacLength() {
        return Sm3Stream.DIGEST_LENGTH;
    }

    @Override
    protected void engineInit(Key key, AlgorithmParameterSpec params)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        if (params != null) throw new InvalidAlgorithmParameterException("HmacSM3 takes no parameters");
        if (key == null) throw new InvalidKeyException("no key");
        byte[] encoded = "RAW".equalsIgnoreCase(key.getFormat()) ? key.getEncoded() : null;
        if (encoded == null) throw new InvalidKeyException("HmacSM3 needs a key with a raw encoding");
        try {
            Sm3Stream keyed = Sm3Stream.hmac(encoded, 0, encoded.length);
            if (stream != null) stream.wipe();
            stream = keyed;
        } finally {
            Arrays.fill(encoded, (byte) 0);
        }
    }

    // Mac refuses every call but init until a key is set, and checks ranges.
    @Override
    protected void engineUpdate(byte input) {
        stream.update(input);
    }

    @Override
    protected void engineUpdate(byte[] input, int offset, int len) {
        stream.update(input, offset, len);
    }

    @Override
    protected void engineUpdate(ByteBuffer input) {
        stream.update(input);
    }

    @Override
    protected byte[] engineDoFinal() {
        return stream.finish();
    }

    @Override
    protected void engineReset() {
        if (stream != null) stream.restart();
    }

    @Override
    public Object clone() throws CloneNotSupportedException {
        HmacSm3Spi c = (HmacSm3Spi) super.clone();
        if (stream != null) c.stream = stream.copy();
        return c;
    }
}
