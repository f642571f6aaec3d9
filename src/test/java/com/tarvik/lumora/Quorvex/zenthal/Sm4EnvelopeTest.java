package com.tarvik.lumora.Quorvex.zenthal;

import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.SM4_ERR_BAD_PADDING;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.SM4_ERR_INPUT_LENGTH;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.SM4_ERR_MAC_MISMATCH;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.cbcMac;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.cbcRaw;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.concat;
import static com.tarvik.lumora.Quorvex.zenthal.NativeTestSupport.random;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.util.Arrays;
import java.util.HashSet;
import java.util.Random;
import java.util.Set;

import javax.crypto.AEADBadTagException;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/**
 * Sm4Envelope against Bouncy Castle's SM4-CBC and CBC-MAC, and the promise that
 * every rejected envelope looks the same to the caller.
 */
class Sm4EnvelopeTest {
    private static final long SEED = 0xE4E1_0001L;

    private final Random rnd = new Random(SEED);
    private final byte[] key = random(rnd, 16);
    private final byte[] macKey = random(rnd, 16);
    private final byte[] iv = random(rnd, 16);

    @Test
    void sealMatchesBouncyCastleAndOpensToExactlyThePlaintext() throws Exception {
        int[] large = {1000, 65_536 + 9};
        for (int i = 0; i < 100 + large.length; i++) {
            int len = i < 100 ? i : large[i - 100];
            byte[] k = random(rnd, 16), mk = random(rnd, 16), v = random(rnd, 16);
            byte[] plain = random(rnd, len);
            byte[] before = plain.clone();
            String where = "seed " + SEED + ", plaintext length " + len;

            byte[] sealed = Sm4Envelope.seal(k, mk, v, plain);
            assertEquals(len / 16 * 16 + 32, Sm4Envelope.sealedLength(len), where);
            assertArrayEquals(NativeTestSupport.seal(k, mk, v, plain), sealed, where + ": envelope");
            assertArrayEquals(before, plain, where + ": plaintext changed");

            byte[] sealedBefore = sealed.clone();
            assertArrayEquals(plain, Sm4Envelope.open(k, mk, v, sealed), where + ": opened");
            assertArrayEquals(sealedBefore, sealed, where + ": envelope changed");
        }
    }

    @Test
    void sealedLengthRefusesNegativeAndOversizedPlaintexts() {
        assertEquals(32, Sm4Envelope.sealedLength(0));
        assertEquals(48, Sm4Envelope.sealedLength(31));
        assertEquals(0x7FFFFFE0 + 16, Sm4Envelope.sealedLength(0x7FFFFFDF));
        assertThrows(IllegalArgumentException.class, () -> Sm4Envelope.sealedLength(-1));
        assertThrows(IllegalArgumentException.class, () -> Sm4Envelope.sealedLength(0x7FFFFFE0));
        assertThrows(IllegalArgumentException.class, () -> Sm4Envelope.sealedLength(Integer.MAX_VALUE));
    }

    /** Opens {@code envelope} expecting a rejection, and returns the exception's message. */
    private String rejected(byte[] k, byte[] mk, byte[] v, byte[] envelope, String where) {
        AEADBadTagException e = assertThrows(AEADBadTagException.class, () -> Sm4Envelope.open(k, mk, v, envelope),
                where);
        assertEquals(AEADBadTagException.class, e.getClass(), where);
        assertNull(e.getCause(), where + ": the cause would tell the failures apart");
        return e.getMessage();
    }

    @Test
    void everyAlteredEnvelopeIsRejectedWithOneMessage() {
        byte[] plain = random(rnd, 40);
        byte[] sealed = Sm4Envelope.seal(key, macKey, iv, plain);
        Set<String> messages = new HashSet<>();
        // Each byte changed: the ciphertext part mostly fails the MAC, the last
        // ciphertext block often the padding, the MAC part always the MAC.
        for (int i = 0; i < sealed.length; i++) {
            byte[] bad = sealed.clone();
            bad[i] ^= (byte) (1 + rnd.nextInt(255));
            messages.add(rejected(key, macKey, iv, bad, "seed " + SEED + ", byte " + i + " changed"));
        }
        for (int len = 0; len < sealed.length; len++) {
            messages.add(rejected(key, macKey, iv, Arrays.copyOf(sealed, len), "truncated to " + len));
        }
        messages.add(rejected(key, macKey, iv, Arrays.copyOf(sealed, sealed.length + 1), "one byte appended"));
        messages.add(rejected(key, macKey, iv, concat(sealed, random(rnd, 16)), "one block appended"));
        byte[] other = random(rnd, 16);
        messages.add(rejected(other, macKey, iv, sealed, "other key"));
        messages.add(rejected(key, other, iv, sealed, "other MAC key"));
        assertEquals(1, messages.size(), "messages: " + messages);
    }

    @Test
    void theIvIsNotAuthenticated() throws Exception {
        // CBC and the MAC start from the same IV, so a different IV shifts the
        // first plaintext block and the MAC's first input by the same amount:
        // the MAC still verifies. The documentation warns about exactly this.
        byte[] plain = random(rnd, 40);
        byte[] otherIv = random(rnd, 16);
        byte[] opened = Sm4Envelope.open(key, macKey, otherIv, Sm4Envelope.seal(key, macKey, iv, plain));
        byte[] expected = plain.clone();
        for (int i = 0; i < 16; i++) expected[i] ^= (byte) (iv[i] ^ otherIv[i]);
        assertArrayEquals(expected, opened);
    }

    @Test
    void paddingLengthAndMacFailuresLookTheSame() {
        // Three envelopes the native layer tells apart, built with Bouncy Castle:
        // a last block that decrypts to an invalid pad, a valid ciphertext with a
        // wrong MAC, and a length that is not whole blocks.
        byte[] blocks = random(rnd, 32);
        blocks[31] = 0;
        byte[] badPadding = concat(cbcRaw(key, iv, blocks), cbcMac(macKey, iv, blocks));
        byte[] plain = random(rnd, 20);
        byte[] badMac = concat(NativeTestSupport.cbcEncrypt(key, iv, plain), cbcMac(macKey, iv, random(rnd, 20)));
        byte[] badLength = random(rnd, 40);

        assertEquals(SM4_ERR_BAD_PADDING, rawOpen(badPadding), "the padding case reaches the padding check");
        assertEquals(SM4_ERR_MAC_MISMATCH, rawOpen(badMac), "the MAC case reaches the MAC check");
        assertEquals(SM4_ERR_INPUT_LENGTH, rawOpen(badLength), "the length case fails the length check");

        String padding = rejected(key, macKey, iv, badPadding, "bad padding");
        assertEquals(padding, rejected(key, macKey, iv, badMac, "bad MAC"));
        assertEquals(padding, rejected(key, macKey, iv, badLength, "bad length"));
    }

    private int rawOpen(byte[] envelope) {
        byte[] out = new byte[envelope.length];
        return LoadNativeZenthal.sm4CbcDecryptWithMacNative(key, macKey, iv, envelope, 0, out,
                new int[] {out.length});
    }

    @Test
    void nullArgumentsAndWrongKeyLengthsAreRefusedBeforeTheNativeCall() {
        for (int position = 0; position < 4; position++) {
            for (boolean seal : new boolean[] {true, false}) {
                String where = (seal ? "seal" : "open") + ", argument " + position;
                assertThrows(NullPointerException.class, call(seal, position, null), where + " null");
                if (position == 3) continue;
                for (int len : new int[] {0, 15, 17, 32}) {
                    assertThrows(IllegalArgumentException.class, call(seal, position, new byte[len]),
                            where + " of " + len + " bytes");
                }
            }
        }
    }

    // With one key for both, a changed first ciphertext block opens cleanly
    // through the raw method; the API refuses such keys in both directions.
    @Test
    void equalKeyAndMacKeyAreRefused() {
        byte[] same = key.clone();
        byte[] plain = new byte[32];
        byte[] env = new byte[64];
        int[] len = {env.length};
        assertEquals(1, LoadNativeZenthal.sm4CbcEncryptWithMacNative(same, same, iv, plain, 0, env, len));
        env[0] ^= 1;
        byte[] opened = new byte[48];
        len[0] = opened.length;
        assertEquals(1, LoadNativeZenthal.sm4CbcDecryptWithMacNative(same, same, iv, env, 0, opened, len));
        assertThrows(IllegalArgumentException.class, () -> Sm4Envelope.seal(same, same.clone(), iv, plain));
        assertThrows(IllegalArgumentException.class, () -> Sm4Envelope.open(same, same.clone(), iv, env));
    }

    /** seal or open with argument {@code position} (key, macKey, iv, data) replaced. */
    private Executable call(boolean seal, int position, byte[] replacement) {
        byte[][] args = {key, macKey, iv, new byte[32]};
        args[position] = replacement;
        return seal ? () -> Sm4Envelope.seal(args[0], args[1], args[2], args[3])
                : () -> Sm4Envelope.open(args[0], args[1], args[2], args[3]);
    }
}
