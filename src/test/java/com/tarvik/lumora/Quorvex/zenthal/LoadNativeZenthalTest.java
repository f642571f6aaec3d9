package com.tarvik.lumora.Quorvex.zenthal;

import static org.junit.jupiter.api.Assertions.assertEquals;

import org.junit.jupiter.api.Test;

/** The loader finds the jar's library under the name the build gives each platform. */
class LoadNativeZenthalTest {

    @Test
    void mapsEachJdksNamesToTheBuildsPlatformDirectory() {
        // os.name and os.arch as the JDKs report them.
        String[][] cases = {
            {"Linux", "amd64", "linux-x86_64"},
            {"Linux", "aarch64", "linux-aarch64"},
            {"Linux", "arm64", "linux-aarch64"},
            {"Mac OS X", "x86_64", "macos-x86_64"},
            {"Mac OS X", "aarch64", "macos-aarch64"},
        };
        for (String[] c : cases) {
            assertEquals(c[2], LoadNativeZenthal.platform(c[0], c[1]), c[0] + " / " + c[1]);
        }
    }
}
