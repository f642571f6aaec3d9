package com.tarvik.lumora.Quorvex.zenthal;

import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidParameterException;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;

import javax.crypto.KeyGeneratorSpi;
import javax.crypto.SecretKey;
import javax.crypto.spec.SecretKeySpec;

/**
 * {@code KeyGenerator} "SM4" of {@link ZenthalProvider}: 16 bytes from a
 * {@link SecureRandom} (the one given to {@code init}, else a new default
 * one), as a {@code SecretKeySpec} of algorithm "SM4". The only key size is
 * 128 bits.
 */
final class Sm4KeyGeneratorSpi extends KeyGeneratorSpi {
    private SecureRandom random;

    @Override
    protected void engineInit(SecureRandom random) {
        this.random = random;
    }

    @Override
    protected void engineInit(AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidAlgorithmParameterException {
        throw new InvalidAlgorithmParameterException("SM4 key generation takes no parameters");
    }

    @Override
    protected void engineInit(int keysize, SecureRandom random) {
        if (keysize != 128) throw new InvalidParameterException("SM4 keys are 128 bits");
        this.random = random;
    }

    @Override
    protected SecretKey engineGenerateKey() {
        if (random == null) random = new SecureRandom();
        byte[] key = new byte[16];
        random.nextBytes(key);
        try {
            return new SecretKeySpec(key, "SM4");
        } finally {
            java.util.Arrays.fill(key, (byte) 0);
        }
    }
}
