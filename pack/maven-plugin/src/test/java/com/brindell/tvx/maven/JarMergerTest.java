package com.brindell.tvx.maven;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.fail;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.zip.ZipEntry;
import java.util.zip.ZipFile;
import java.util.zip.ZipOutputStream;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

public class JarMergerTest {
    @Rule
    public TemporaryFolder dir = new TemporaryFolder();

    // A jar of NAME=TEXT pairs, written with a fixed entry time.
    private File jar(String file, String... pairs) throws IOException {
        File out = new File(dir.getRoot(), file);
        try (ZipOutputStream zip = new ZipOutputStream(new FileOutputStream(out))) {
            for (int i = 0; i < pairs.length; i += 2) {
                ZipEntry entry = new ZipEntry(pairs[i]);
                entry.setTime(1700000000000L);
                zip.putNextEntry(entry);
                zip.write(pairs[i + 1].getBytes(StandardCharsets.UTF_8));
                zip.closeEntry();
            }
        }
        return out;
    }

    private static String read(ZipFile zip, String name) throws IOException {
        ZipEntry entry = zip.getEntry(name);
        if (entry == null) return null;
        try (InputStream in = zip.getInputStream(entry)) {
            ByteArrayOutputStream bytes = new ByteArrayOutputStream();
            byte[] buffer = new byte[4096];
            for (int n; (n = in.read(buffer)) > 0;) bytes.write(buffer, 0, n);
            return new String(bytes.toByteArray(), StandardCharsets.UTF_8);
        }
    }

    private File app() throws IOException {
        return jar("app.jar", "META-INF/MANIFEST.MF", "Main-Class: app.Main\n", "app/Main.class", "app",
                   "META-INF/services/x.Api", "app.Impl\n");
    }

    private List<File> libraries() throws IOException {
        return Arrays.asList(
            jar("one.jar", "META-INF/MANIFEST.MF", "Main-Class: one.Main\n", "app/Main.class", "one's copy",
                "one/One.class", "one", "META-INF/ONE.SF", "sig", "META-INF/ONE.RSA", "sig", "META-INF/INDEX.LIST",
                "index", "META-INF/services/x.Api", "one.Impl"),
            jar("two.jar", "META-INF/services/x.Api", "two.Impl\n", "META-INF/maven/two/pom.properties", "v=2\n"));
    }

    @Test
    public void applicationWinsLibrariesAddTheRestServicesJoinSignaturesLeftOut() throws IOException {
        File out = new File(dir.getRoot(), "merged.jar");
        JarMerger.merge(app(), libraries(), out);
        try (ZipFile zip = new ZipFile(out)) {
            assertEquals("Main-Class: app.Main\n", read(zip, "META-INF/MANIFEST.MF"));
            assertEquals("app", read(zip, "app/Main.class"));
            assertEquals("one", read(zip, "one/One.class"));
            assertEquals("app.Impl\none.Impl\ntwo.Impl\n", read(zip, "META-INF/services/x.Api"));
            assertEquals("v=2\n", read(zip, "META-INF/maven/two/pom.properties"));
            for (String gone : new String[] {"META-INF/ONE.SF", "META-INF/ONE.RSA", "META-INF/INDEX.LIST"})
                assertNull(gone, zip.getEntry(gone));
            List<String> names = new ArrayList<>();
            for (ZipEntry e : Collections.list(zip.entries())) names.add(e.getName());
            assertEquals(Arrays.asList("META-INF/MANIFEST.MF", "app/Main.class", "META-INF/services/x.Api",
                                       "one/One.class", "META-INF/maven/two/pom.properties"),
                         names);
        }
    }

    @Test
    public void sameInputsGiveTheSameBytes() throws IOException {
        File first = new File(dir.getRoot(), "first.jar");
        File second = new File(dir.getRoot(), "second.jar");
        JarMerger.merge(app(), libraries(), first);
        JarMerger.merge(app(), libraries(), second);
        assertArrayEquals(Files.readAllBytes(first.toPath()), Files.readAllBytes(second.toPath()));
    }

    @Test
    public void aMissingLibraryFailsAndWritesNothing() throws IOException {
        File out = new File(dir.getRoot(), "merged.jar");
        try {
            JarMerger.merge(app(), Collections.singletonList(new File(dir.getRoot(), "absent.jar")), out);
            fail("merged without its library");
        } catch (IOException expected) {
            // the library's own error
        }
        assertFalse(out.exists());
        assertFalse(new File(out.getPath() + ".part").exists());
    }
}
