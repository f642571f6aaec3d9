package com.tarvik.lumora.Quorvex.zenthal;

import java.nio.charset.StandardCharsets;
import java.security.interfaces.ECPublicKey;
import java.security.spec.AlgorithmParameterSpec;
import java.util.Objects;

/**
 * The signer's identity for {@code Signature} "SM3withSM2": the ID that goes
 * into Z = SM3(ENTL || ID || a || b || xG || yG || xA || yA), and optionally
 * the signer's public key, so that signing need not derive it from the
 * private key. Without one the ID is {@value #DEFAULT_ID}, the default of
 * GM/T 0009 that Bouncy Castle and Kona use too; OpenSSL's command line
 * hashes an empty ID unless told this one.
 *
 * <pre>{@code
 * Signature s = Signature.getInstance("SM3withSM2", zenthal);
 * s.setParameter(new Sm2SignerId("alice@example.com".getBytes(StandardCharsets.UTF_8)));
 * s.initSign(privateKey);
 * }</pre>
 *
 * <p>Signer and verifier must use the same ID. The parameters may be given before
 * or after {@code initSign}/{@code initVerify}; it holds until replaced.
 */
public final class Sm2SignerId implements AlgorithmParameterSpec {
    /** The default signer ID, {@value}. */
    public static final String DEFAULT_ID = "1234567812345678";
    /** The longest ID in bytes, {@value}: its length in bits must fit in 16 bits. */
    public static final int MAX_ID_LENGTH = 8191;

    static final byte[] DEFAULT_ID_BYTES = DEFAULT_ID.getBytes(StandardCharsets.US_ASCII);

    private final byte[] id;
    private final ECPublicKey publicKey;

    /**
     * The signer {@code id} (copied), with no public key.
     *
     * @param id the ID's bytes, 0 to {@value #MAX_ID_LENGTH} of them
     * @throws NullPointerException if {@code id} is null
     * @throws IllegalArgumentException if {@code id} is longer than {@value #MAX_ID_LENGTH} bytes
     */
    public Sm2SignerId(byte[] id) {
        this(id, null);
    }

    /**
     * The signer {@code id} (copied) with the signer's public key, which a
     * signature then uses instead of deriving it from the private key. It
     * must be the private key's: with another, every signature fails to
     * verify.
     *
     * @param id the ID's bytes, 0 to {@value #MAX_ID_LENGTH} of them
     * @param publicKey the signer's public key on the SM2 curve, or null
     * @throws NullPointerException if {@code id} is null
     * @throws IllegalArgumentException if {@code id} is longer than {@value #MAX_ID_LENGTH} bytes
     */
    public Sm2SignerId(byte[] id, ECPublicKey publicKey) {
        Objects.requireNonNull(id, "id");
        if (id.length > MAX_ID_LENGTH) {
            throw new IllegalArgumentException("an SM2 ID is at most " + MAX_ID_LENGTH + " bytes, not " + id.length);
        }
        this.id = id.clone();
        this.publicKey = publicKey;
    }

    /**
     * The default ID, {@value #DEFAULT_ID}, with the signer's public key.
     *
     * @param publicKey the signer's public key on the SM2 curve, or null
     * @return these parameters
     */
    public static Sm2SignerId withPublicKey(ECPublicKey publicKey) {
        return new Sm2SignerId(DEFAULT_ID_BYTES, publicKey);
    }

    /**
     * The signer's ID.
     *
     * @return a copy of the ID's bytes
     */
    public byte[] getId() {
        return id.clone();
    }

    /**
     * The signer's public key, if the parameters carry one.
     *
     * @return the key, or null
     */
    public ECPublicKey getPublicKey() {
        return publicKey;
    }

    /** The ID, not copied. */
    byte[] id() {
        return id;
    }
}
