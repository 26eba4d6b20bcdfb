package com.brindell.tvx.maven;

import java.io.BufferedReader;
import java.io.File;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.jar.JarFile;
import java.util.jar.Manifest;
import org.apache.maven.artifact.Artifact;
import org.apache.maven.plugin.AbstractMojo;
import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugins.annotations.LifecyclePhase;
import org.apache.maven.plugins.annotations.Mojo;
import org.apache.maven.plugins.annotations.Parameter;
import org.apache.maven.plugins.annotations.ResolutionScope;
import org.apache.maven.project.MavenProject;

/**
 * Makes one executable of the project's jar and its runtime dependencies
 * with tvx-pack, and with a {@code <deb>} configuration also a Debian
 * package around it.
 */
@Mojo(name = "pack", defaultPhase = LifecyclePhase.PACKAGE,
      requiresDependencyResolution = ResolutionScope.RUNTIME, threadSafe = true)
public class PackMojo extends AbstractMojo {
    @Parameter(defaultValue = "${project}", readonly = true, required = true)
    private MavenProject project;

    /** The tvx-pack program: a path, or a name looked up on PATH. */
    @Parameter(property = "tvx.pack", defaultValue = "tvx-pack")
    private String tvxPack;

    /** The main class; default: the Main-Class of the project jar's manifest. */
    @Parameter(property = "tvx.mainClass")
    private String mainClass;

    /** The executable to write. */
    @Parameter(property = "tvx.output", defaultValue = "${project.build.directory}/${project.artifactId}")
    private File output;

    /** Settings lines given to tvx-pack with --set, e.g. "option -Xmx64m". */
    @Parameter
    private List<String> settings;

    /** A settings file given to tvx-pack with --settings. */
    @Parameter(property = "tvx.settingsFile")
    private File settingsFile;

    /** Processor of the executable (x86_64, aarch64, armhf, i386; amd64, arm64). */
    @Parameter(property = "tvx.arch")
    private String arch;

    /** Writes a Debian package too (target/NAME_VERSION_ARCH.deb by default). */
    @Parameter
    private Deb deb;

    /** Skips the goal. */
    @Parameter(property = "tvx.skip", defaultValue = "false")
    private boolean skip;

    @Override
    public void execute() throws MojoExecutionException, MojoFailureException {
        if (skip) {
            getLog().info("tvx: skipped");
            return;
        }
        File jar = project.getArtifact().getFile();
        if (jar == null || !jar.isFile()) {
            throw new MojoFailureException("tvx: the project has no jar to pack (run the goal in the package phase "
                                           + "of a project with jar packaging)");
        }
        String main = mainClass != null && !mainClass.trim().isEmpty() ? mainClass.trim() : manifestMainClass(jar);
        if (main == null) {
            throw new MojoFailureException("tvx: no main class: set <mainClass> in tvx-maven-plugin's configuration, "
                                           + "or Main-Class in the jar's manifest (maven-jar-plugin <archive><manifest>"
                                           + "<mainClass>)");
        }
        if (deb != null && (deb.version == null || deb.version.trim().isEmpty())) {
            throw new MojoFailureException("tvx: <deb> needs a <version>, e.g. <version>${project.version}</version>");
        }
        if (deb != null && arch != null && deb.arch != null) {
            throw new MojoFailureException("tvx: give the processor once, as <arch> or as <deb><arch>, not both");
        }

        File input = jar;
        List<File> libraries = runtimeLibraries();
        if (!libraries.isEmpty()) {
            input = new File(project.getBuild().getDirectory(), project.getBuild().getFinalName() + "-tvx.jar");
            try {
                JarMerger.merge(jar, libraries, input);
            } catch (IOException e) {
                throw new MojoExecutionException("tvx: cannot write " + input + ": " + e.getMessage(), e);
            }
            getLog().info("tvx: " + libraries.size() + " runtime dependencies merged into " + input.getName());
        }

        List<String> common = new ArrayList<>();
        common.add(tvxPack);
        common.add("--main");
        common.add(main);
        if (settingsFile != null) {
            common.add("--settings");
            common.add(settingsFile.getPath());
        }
        if (settings != null) {
            for (String line : settings) {
                common.add("--set");
                common.add(line);
            }
        }
        String processor = deb != null && deb.arch != null ? deb.arch : arch;
        if (processor != null) {
            common.add("--arch");
            common.add(processor);
        }

        // The package first: what tvx-pack refuses in <deb> then leaves no
        // executable behind either.
        if (deb != null) {
            String name = deb.name != null ? deb.name : output.getName();
            File debFile = deb.output != null ? deb.output
                : new File(project.getBuild().getDirectory(),
                           name + "_" + deb.version.trim() + "_" + debianArchitecture(processor) + ".deb");
            List<String> pkg = new ArrayList<>(common);
            pkg.add("--deb");
            pkg.add("--version");
            pkg.add(deb.version.trim());
            pkg.add("--name");
            pkg.add(name);
            addIfSet(pkg, "--maintainer", deb.maintainer);
            addIfSet(pkg, "--description", deb.description);
            addIfSet(pkg, "--section", deb.section);
            if (deb.service) pkg.add("--service");
            pkg.add("-o");
            pkg.add(debFile.getPath());
            pkg.add(input.getPath());
            run(pkg);
        }

        List<String> exe = new ArrayList<>(common);
        exe.add("-o");
        exe.add(output.getPath());
        exe.add(input.getPath());
        run(exe);
    }

    private static void addIfSet(List<String> args, String option, String value) {
        if (value == null) return;
        args.add(option);
        args.add(value);
    }

    // The jars of the project's runtime-scope dependencies, in Maven's order.
    private List<File> runtimeLibraries() throws MojoExecutionException {
        List<File> files = new ArrayList<>();
        for (Artifact artifact : project.getArtifacts()) {
            if (!artifact.getArtifactHandler().isAddedToClasspath()) continue;
            String scope = artifact.getScope();
            if (!Artifact.SCOPE_COMPILE.equals(scope) && !Artifact.SCOPE_RUNTIME.equals(scope)) continue;
            File file = artifact.getFile();
            if (file == null || !file.isFile()) {
                throw new MojoExecutionException("tvx: dependency " + artifact + " has no jar file to pack");
            }
            files.add(file);
        }
        return files;
    }

    private static String manifestMainClass(File jar) throws MojoExecutionException {
        try (JarFile file = new JarFile(jar)) {
            Manifest manifest = file.getManifest();
            if (manifest == null) return null;
            String value = manifest.getMainAttributes().getValue("Main-Class");
            return value == null || value.trim().isEmpty() ? null : value.trim();
        } catch (IOException e) {
            throw new MojoExecutionException("tvx: cannot read " + jar + ": " + e.getMessage(), e);
        }
    }

    // The Debian architecture a package file is named after: the given
    // processor's, else that of the machine Maven runs on.
    static String debianArchitecture(String processor) {
        String p = processor != null ? processor : System.getProperty("os.arch", "");
        switch (p) {
            case "x86_64":
            case "amd64":
                return "amd64";
            case "aarch64":
            case "arm64":
                return "arm64";
            case "arm":
            case "armhf":
                return "armhf";
            case "x86":
            case "i386":
            case "i686":
                return "i386";
            default:
                return p;
        }
    }

    // Runs tvx-pack; its output goes to Maven's log, a failure ends the build
    // with tvx-pack's own message.
    private void run(List<String> command) throws MojoExecutionException, MojoFailureException {
        getLog().debug("tvx: running " + command);
        Process process;
        try {
            process = new ProcessBuilder(command).redirectErrorStream(true).start();
        } catch (IOException e) {
            throw new MojoExecutionException("tvx: cannot run " + command.get(0) + " (" + e.getMessage()
                                             + "); install tvx or set <tvxPack> / -Dtvx.pack=PATH", e);
        }
        StringBuilder said = new StringBuilder();
        try (BufferedReader out = new BufferedReader(
                 new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8))) {
            for (String line; (line = out.readLine()) != null;) {
                getLog().info(line);
                said.append(line).append('\n');
            }
            int status = process.waitFor();
            if (status != 0) {
                throw new MojoFailureException("tvx: tvx-pack failed (status " + status + "): " + said.toString().trim());
            }
        } catch (IOException e) {
            throw new MojoExecutionException("tvx: reading tvx-pack's output: " + e.getMessage(), e);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            process.destroy();
            throw new MojoExecutionException("tvx: interrupted while tvx-pack ran", e);
        }
    }
}
