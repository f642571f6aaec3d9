package com.tarvik.lumora.Quorvex.zenthal;

import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidParameterException;
import java.security.KeyPair;
import java.security.KeyPairGeneratorSpi;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.ECGenParameterSpec;
import java.security.spec.ECParameterSpec;
import java.util.Arrays;
import java.util.Set;

/**
 * {@code KeyPairGenerator} "SM2" of {@link ZenthalProvider}: 64 bytes from
 * the {@link SecureRandom} given to {@code initialize} (else the default
 * one) become d = (random mod (n - 2)) + 1, uniform in [1, n - 2] for any
 * practical purpose, and d·G, both in one native call. The curve is always
 * SM2; {@code initialize} accepts 256 bits, the curve's names and OID as an
 * {@link ECGenParameterSpec}, or its {@link ECParameterSpec}.
 */
final class Sm2KeyPairGeneratorSpi extends KeyPairGeneratorSpi {
    private static final Set<String> NAMES = Set.of("sm2p256v1", "curvesm2", "sm2", Sm2Curve.OID);

    private SecureRandom random;

    @Override
    public void initialize(int keysize, SecureRandom random) {
        if (keysize != 256) throw new InvalidParameterException("SM2 keys are 256 bits, not " + keysize);
        this.random = random;
    }

    @Override
    public void initialize(AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidAlgorithmParameterException {
        if (params instanceof ECGenParameterSpec) {
            String name = ((ECGenParameterSpec) params).getName();
            String lower = name.toLowerCase(java.util.Locale.ROOT);
            if (lower.startsWith("oid.")) lower = lower.substring(4);
            if (!NAMES.contains(lower)) throw new InvalidAlgorithmParameterException("not the SM2 curve: " + name);
        } else if (!(params instanceof ECParameterSpec && Sm2Curve.isSm2((ECParameterSpec) params))) {
            throw new InvalidAlgorithmParameterException("SM2 key generation takes the SM2 curve only");
        }
        this.random = random;
    }

    @Override
    public KeyPair generateKeyPair() {
        byte[] seed = new byte[64];
        byte[] d = new byte[Sm2Native.PRIVATE_KEY_LENGTH];
        byte[] pub = new byte[Sm2Native.PUBLIC_KEY_LENGTH];
        try {
            (random != null ? random : Sm2SignatureSpi.defaultRandom()).nextBytes(seed);
            ZenthalStatus.requireSuccess(Sm2Native.generateKey(seed, d, pub), "SM2 key generation");
            Sm2PublicKey publicKey = Sm2PublicKey.trusted(pub);
            return new KeyPair(publicKey, Sm2PrivateKey.generated(d, publicKey));
        } finally {
            Arrays.fill(seed, (byte) 0);
            Arrays.fill(d, (byte) 0);
        }
    }
}
