package example.consumer;

import static java.nio.charset.StandardCharsets.US_ASCII;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assumptions.abort;

import java.security.GeneralSecurityException;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.security.Provider;
import java.security.SecureRandom;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.ServiceLoader;
import javax.crypto.AEADBadTagException;
import javax.crypto.Cipher;
import javax.crypto.Mac;
import javax.crypto.spec.GCMParameterSpec;
import javax.crypto.spec.SecretKeySpec;
import org.junit.jupiter.api.Test;

/**
 * What an application sees of zenthal through its Maven coordinates: the
 * provider found by ServiceLoader and its algorithms by name, with no class
 * of the library named in the code.
 */
class ZenthalJcaTest {
    private static final HexFormat HEX = HexFormat.of();

    private static Provider zenthal() {
        for (Provider p : ServiceLoader.load(Provider.class)) {
            if (p.getName().equals("Zenthal")) {
                return p;
            }
        }
        throw new AssertionError("ServiceLoader found no provider named Zenthal");
    }

    @Test
    void sm3() throws GeneralSecurityException {
        // The example of GB/T 32905-2016.
        byte[] digest = MessageDigest.getInstance("SM3", zenthal()).digest("abc".getBytes(US_ASCII));
        assertEquals("66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0", HEX.formatHex(digest));
    }

    @Test
    void hmacSm3() throws GeneralSecurityException {
        // From OpenSSL: openssl dgst -sm3 -hmac key
        Mac mac = Mac.getInstance("HmacSM3", zenthal());
        mac.init(new SecretKeySpec("key".getBytes(US_ASCII), "HmacSM3"));
        byte[] tag = mac.doFinal("The quick brown fox jumps over the lazy dog".getBytes(US_ASCII));
        assertEquals("bd4a34077888162b210645b8ebf74b9af357303789357a27c7fc457244ebd398", HEX.formatHex(tag));
    }

    @Test
    void rdrand() {
        SecureRandom random;
        try {
            random = SecureRandom.getInstance("RDRAND", zenthal());
        } catch (NoSuchAlgorithmException e) {
            abort("this processor offers no RDRAND that zenthal uses: " + e.getMessage());
            return;
        }
        byte[] a = new byte[32];
        byte[] b = new byte[32];
        random.nextBytes(a);
        random.nextBytes(b);
        assertFalse(Arrays.equals(a, b), "two draws of 32 bytes are equal");
    }

    // SM4/GCM/NoPadding: a message sealed and opened, and a changed tag refused.
    @Test
    void sm4Gcm() throws GeneralSecurityException {
        Provider provider = zenthal();
        Cipher cipher = Cipher.getInstance("SM4/GCM/NoPadding", provider);
        SecretKeySpec key = new SecretKeySpec(HEX.parseHex("0123456789abcdeffedcba9876543210"), "SM4");
        GCMParameterSpec params = new GCMParameterSpec(128, HEX.parseHex("00001234567800000000abcd"));
        byte[] aad = "header".getBytes(US_ASCII);
        byte[] plain = "a message of more than one block, sealed and opened".getBytes(US_ASCII);

        cipher.init(Cipher.ENCRYPT_MODE, key, params);
        cipher.updateAAD(aad);
        byte[] sealed = cipher.doFinal(plain);
        assertEquals(plain.length + 16, sealed.length);

        Cipher opener = Cipher.getInstance("SM4/GCM/NoPadding", provider);
        opener.init(Cipher.DECRYPT_MODE, key, params);
        opener.updateAAD(aad);
        assertArrayEquals(plain, opener.doFinal(sealed));

        sealed[sealed.length - 1] ^= 1;
        opener.init(Cipher.DECRYPT_MODE, key, params);
        opener.updateAAD(aad);
        assertThrows(AEADBadTagException.class, () -> opener.doFinal(sealed));
    }
}
