package com.tarvik.lumora.Quorvex.zenthal;

import java.security.InvalidKeyException;
import java.security.MessageDigest;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.spec.AlgorithmParameterSpec;
import java.util.Objects;

/**
 * One party's side of an SM2 key exchange (GB/T 32918), for
 * {@code KeyAgreement} "SM2": the party's role, ID and static key pair, the
 * peer's ID and static public key, and the length of the key to agree. The
 * ephemeral key pair is the one given to {@code init}, the peer's ephemeral
 * public key the one given to {@code doPhase}:
 *
 * <pre>{@code
 * KeyPair eph = KeyPairGenerator.getInstance("SM2", zenthal).generateKeyPair();   // send eph.getPublic()
 * Sm2KeyExchangeParameters params = new Sm2KeyExchangeParameters(Role.INITIATOR,
 *         aliceId, alice.getPrivate(), alice.getPublic(), bobId, bobPublic, 16);
 * KeyAgreement ka = KeyAgreement.getInstance("SM2", zenthal);
 * ka.init(eph.getPrivate(), params);
 * ka.doPhase(bobEphemeralPublic, true);
 * byte[] key = ka.generateSecret();            // 16 bytes
 * params.checkPeerConfirmation(bobConfirmation); // the responder's S_B; throws if it differs
 * send(params.getConfirmation());              // S_A, for the responder to check
 * }</pre>
 *
 * <p>The two parties must take opposite roles: the initiator's Z always
 * comes first in the key derivation, so two initiators (or two responders)
 * derive different keys, which the confirmation values reveal. There is
 * therefore no default role. Each {@code generateSecret} leaves the
 * exchange's two confirmation values in these parameters: {@link #getConfirmation()}
 * is the one to send, {@link #checkPeerConfirmation(byte[])} checks the
 * peer's. One set of parameters serves one exchange at a time.
 */
public final class Sm2KeyExchangeParameters implements AlgorithmParameterSpec {
    /** Which side of the exchange a party takes. */
    public enum Role {
        /** A, who sends the first ephemeral key and S_A, the value with 0x03. */
        INITIATOR,
        /** B, who answers and sends S_B, the value with 0x02. */
        RESPONDER
    }

    private final Role role;
    private final byte[] id;
    private final PrivateKey privateKey;
    private final PublicKey publicKey;
    private final byte[] peerId;
    private final PublicKey peerPublicKey;
    private final int keyLength;

    private byte[] confirmation;
    private byte[] peerConfirmation;

    /**
     * A party's side of an exchange.
     *
     * @param role the party's role; required
     * @param id the party's ID (copied), at most {@value Sm2SignerId#MAX_ID_LENGTH} bytes;
     *     {@link Sm2SignerId#DEFAULT_ID} is the usual one
     * @param privateKey the party's static private key on the SM2 curve
     * @param publicKey its public key, or null to derive it; with another
     *     than the private key's, the peer derives another key
     * @param peerId the peer's ID (copied)
     * @param peerPublicKey the peer's static public key on the SM2 curve
     * @param keyLength the bytes of key to agree, at least 1
     * @throws NullPointerException if the role, an ID or a required key is null
     * @throws IllegalArgumentException if an ID is too long or the key length is below 1
     */
    public Sm2KeyExchangeParameters(Role role, byte[] id, PrivateKey privateKey, PublicKey publicKey,
            byte[] peerId, PublicKey peerPublicKey, int keyLength) {
        this.role = Objects.requireNonNull(role, "role: the initiator and the responder derive different keys");
        this.id = checkedId(id, "id");
        this.privateKey = Objects.requireNonNull(privateKey, "privateKey");
        this.publicKey = publicKey;
        this.peerId = checkedId(peerId, "peerId");
        this.peerPublicKey = Objects.requireNonNull(peerPublicKey, "peerPublicKey");
        if (keyLength < 1) throw new IllegalArgumentException("the key length is at least 1 byte, not " + keyLength);
        this.keyLength = keyLength;
    }

    private static byte[] checkedId(byte[] id, String name) {
        Objects.requireNonNull(id, name);
        if (id.length > Sm2SignerId.MAX_ID_LENGTH) {
            throw new IllegalArgumentException(name + " is at most " + Sm2SignerId.MAX_ID_LENGTH + " bytes");
        }
        return id.clone();
    }

    /**
     * The party's role.
     *
     * @return the role
     */
    public Role getRole() {
        return role;
    }

    /**
     * The party's ID.
     *
     * @return a copy of its bytes
     */
    public byte[] getId() {
        return id.clone();
    }

    /**
     * The party's static private key.
     *
     * @return the key
     */
    public PrivateKey getPrivateKey() {
        return privateKey;
    }

    /**
     * The party's static public key, if given.
     *
     * @return the key, or null
     */
    public PublicKey getPublicKey() {
        return publicKey;
    }

    /**
     * The peer's ID.
     *
     * @return a copy of its bytes
     */
    public byte[] getPeerId() {
        return peerId.clone();
    }

    /**
     * The peer's static public key.
     *
     * @return the key
     */
    public PublicKey getPeerPublicKey() {
        return peerPublicKey;
    }

    /**
     * The bytes of key to agree.
     *
     * @return the length
     */
    public int getKeyLength() {
        return keyLength;
    }

    /**
     * The confirmation value this party sends, from the last exchange that
     * generated a secret with these parameters: the initiator's S_A or the
     * responder's S_B (32 bytes).
     *
     * @return a copy of the value
     * @throws IllegalStateException if no secret was generated yet
     */
    public synchronized byte[] getConfirmation() {
        if (confirmation == null) throw new IllegalStateException("no key was agreed with these parameters yet");
        return confirmation.clone();
    }

    /**
     * Checks the confirmation value the peer sent (the responder's S_B at the
     * initiator, the initiator's S_A at the responder) against the last
     * exchange that generated a secret with these parameters, in time independent
     * of where they differ.
     *
     * @param value the peer's 32 bytes
     * @throws InvalidKeyException if they differ: the peer derived another
     *     key (another static or ephemeral key, ID or role)
     * @throws IllegalStateException if no secret was generated yet
     */
    public synchronized void checkPeerConfirmation(byte[] value) throws InvalidKeyException {
        if (peerConfirmation == null) throw new IllegalStateException("no key was agreed with these parameters yet");
        if (value == null || !MessageDigest.isEqual(peerConfirmation, value)) {
            throw new InvalidKeyException("the peer's SM2 key confirmation does not match: it derived another key");
        }
    }

    /** Keeps the values of the exchange just made: the own to send, the peer's to expect. */
    synchronized void confirmed(byte[] own, byte[] peer) {
        confirmation = own;
        peerConfirmation = peer;
    }

    /** The IDs, not copied. */
    byte[] id() {
        return id;
    }

    byte[] peerId() {
        return peerId;
    }
}
