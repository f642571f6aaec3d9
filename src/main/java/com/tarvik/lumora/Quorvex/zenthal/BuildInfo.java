package com.tarvik.lumora.Quorvex.zenthal;

import java.lang.module.ModuleDescriptor;

/** Facts about this build that the jar carries. */
final class BuildInfo {
    private BuildInfo() {}

    /**
     * The jar's version, or "dev" when the classes do not come from the packed
     * jar. On the class path it is the manifest's Implementation-Version; on the
     * module path the VM gives a package no manifest attributes, so there it is
     * the version javac recorded in the module descriptor.
     */
    static String version() {
        String v = BuildInfo.class.getPackage().getImplementationVersion();
        if (v == null || v.isEmpty()) {
            ModuleDescriptor module = BuildInfo.class.getModule().getDescriptor();
            v = module == null ? null : module.rawVersion().orElse(null);
        }
        return v == null || v.isEmpty() ? "dev" : v;
    }
}
