package com.brindell.tvx.maven;

/**
 * The {@code <deb>} configuration of the pack goal: the Debian package's
 * fields, passed to {@code tvx-pack --deb}. Only the version is required;
 * tvx-pack checks every value and gives the defaults of those left out.
 */
public class Deb {
    /** The package's version (a Debian version, e.g. 1.0 or 1.0-1). */
    String version;
    /** The package's name; default: the executable's name. */
    String name;
    /** "Name &lt;address&gt;" of who maintains the package. */
    String maintainer;
    /** One line saying what the package is. */
    String description;
    /** Debian section, e.g. utils or net. */
    String section;
    /** Debian architecture of the package: amd64, arm64, armhf or i386. */
    String arch;
    /** Whether the package runs the application as a systemd service. */
    boolean service;
    /** The package file to write; default: target/NAME_VERSION_ARCH.deb. */
    java.io.File output;
}
