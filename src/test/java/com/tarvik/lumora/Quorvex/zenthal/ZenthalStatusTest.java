package com.tarvik.lumora.Quorvex.zenthal;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.LinkedHashMap;
import java.util.Map;
import java.util.Optional;

import org.junit.jupiter.api.Test;

/** ZenthalStatus names the codes that the native methods really return. */
class ZenthalStatusTest {

    @Test
    void namesTheCodesTheNativeMethodsReturnAndNoOthers() {
        byte[] k = new byte[16];
        byte[] out = new byte[64];
        Map<String, Integer> returned = new LinkedHashMap<>();
        returned.put("SUCCESS", LoadNativeZenthal.sm3HashNative(new byte[32], new byte[0], 0));
        returned.put("NATIVE_ERR_HASH_LENGTH", LoadNativeZenthal.sm3HashNative(new byte[31], new byte[0], 0));
        returned.put("NATIVE_ERR_KEY_IV_LENGTH",
                LoadNativeZenthal.sm4CbcEncryptWithMacNative(k, k, new byte[15], new byte[0], 0, out, new int[] {64}));
        returned.put("NATIVE_ERR_ARGUMENT", LoadNativeZenthal.nextBytesNative(out, -1));
        returned.put("SM4_ERR_INPUT_LENGTH",
                LoadNativeZenthal.sm4CbcDecryptWithMacNative(k, k, k, new byte[16], 0, out, new int[] {64}));
        returned.put("SM4_ERR_OUTPUT_TOO_SMALL",
                LoadNativeZenthal.sm4CbcEncryptWithMacNative(k, k, k, new byte[0], 0, out, new int[] {31}));
        // One block whose plaintext ends in 0, which no PKCS#7 pad does.
        byte[] badPad = NativeTestSupport.concat(NativeTestSupport.cbcRaw(k, k, new byte[16]), new byte[16]);
        returned.put("SM4_ERR_BAD_PADDING",
                LoadNativeZenthal.sm4CbcDecryptWithMacNative(k, k, k, badPad, 0, out, new int[] {64}));
        byte[] envelope = new byte[32];
        LoadNativeZenthal.sm4CbcEncryptWithMacNative(k, k, k, new byte[5], 0, envelope, new int[] {32});
        envelope[envelope.length - 1] ^= 1;
        returned.put("SM4_ERR_MAC_MISMATCH",
                LoadNativeZenthal.sm4CbcDecryptWithMacNative(k, k, k, envelope, 0, out, new int[] {64}));
        byte[] pub = new byte[65];
        byte[] d = new byte[32];
        d[31] = 1;
        assertEquals(1, Sm2Native.publicKey(d, pub));
        returned.put("SM2_ERR_PRIVATE_KEY", Sm2Native.publicKey(new byte[32], new byte[65]));
        returned.put("SM2_ERR_PUBLIC_KEY", Sm2Native.checkPublicKey(offCurve(pub)));
        returned.put("SM2_ERR_SIGNATURE", Sm2Native.verifyDigest(pub, new byte[32], new byte[64]));
        returned.put("SM2_ERR_ID_LENGTH", Sm2Native.computeZ(pub, new byte[8192], 0, 8192, new byte[32]));
        byte[] ct = new byte[98];
        returned.put("SM2_ERR_OUTPUT_TOO_SMALL", Sm2Native.encrypt(pub, new byte[1], 0, 1, d, 0, 32, ct, 1));
        assertEquals(98, Sm2Native.encrypt(pub, new byte[1], 0, 1, d, 0, 32, ct, 0));
        ct[97] ^= 1;
        returned.put("SM2_ERR_DECRYPT", Sm2Native.decrypt(d, ct, 0, 98, out, 0));
        returned.put("SM2_ERR_INPUT_LENGTH", Sm2Native.decrypt(d, ct, 0, 97, out, 0));
        if (LoadNativeZenthal.isRDRANDSupported() == 0) {
            returned.put("DRNG_NO_RDRAND", LoadNativeZenthal.nextBytesNative(out, 1));
        }
        for (Map.Entry<String, Integer> e : returned.entrySet()) {
            int code = e.getValue();
            assertEquals(Optional.of(e.getKey()), ZenthalStatus.fromCode(code).map(Enum::name), "code " + code);
            String text = ZenthalStatus.describe(code);
            assertTrue(text.startsWith(e.getKey() + " (" + code + "): "), text);
        }
        for (int unknown : new int[] {0, 2, -2, -4, -10, -16384, -16389, -16400, -16409}) {
            assertEquals(Optional.empty(), ZenthalStatus.fromCode(unknown));
            assertEquals("unknown status " + unknown, ZenthalStatus.describe(unknown));
        }
    }

    private static byte[] offCurve(byte[] pub) {
        byte[] p = pub.clone();
        p[64] ^= 1;
        return p;
    }

    @Test
    void unexpectedCodesBecomeExceptions() {
        ZenthalStatus.requireSuccess(1, "op");
        // The bridge's allocation failure cannot be provoked from a test; its mapping can.
        OutOfMemoryError oom = assertThrows(OutOfMemoryError.class, () -> ZenthalStatus.requireSuccess(-9, "op"));
        assertTrue(oom.getMessage().contains("NATIVE_ERR_NO_MEMORY"), oom.getMessage());
        IllegalStateException ise = assertThrows(IllegalStateException.class,
                () -> ZenthalStatus.requireSuccess(-8, "op"));
        assertTrue(ise.getMessage().startsWith("op: NATIVE_ERR_ARGUMENT (-8)"), ise.getMessage());
    }
}
