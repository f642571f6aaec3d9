package com.tarvik.lumora.Quorvex.zenthal;

/** Facts about this build that the jar's manifest carries. */
final class BuildInfo {
    private BuildInfo() {}

    /** The jar's Implementation-Version, or "dev" when the classes do not come from the packed jar. */
    static String version() {
        String v = BuildInfo.class.getPackage().getImplementationVersion();
        return v == null || v.isEmpty() ? "dev" : v;
    }
}
