package com.brindell.tvx.maven;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.zip.ZipEntry;
import java.util.zip.ZipFile;
import java.util.zip.ZipOutputStream;

/**
 * One jar of the project's jar and its libraries, for the one archive an
 * executable carries. The project's entries come first and win; a library's
 * entry is added when no earlier jar holds that name. Libraries' manifests,
 * signatures (no longer valid for the merged jar) and jar indexes are left
 * out; service provider files (META-INF/services/) are joined, so that every
 * jar's providers are still found. Entry times are kept, so the same inputs
 * give the same bytes.
 */
final class JarMerger {
    private JarMerger() {}

    static void merge(File appJar, List<File> libraries, File out) throws IOException {
        Map<String, Entry> entries = new LinkedHashMap<>();
        add(appJar, true, entries);
        for (File library : libraries) add(library, false, entries);
        File partial = new File(out.getPath() + ".part");
        try (OutputStream file = new FileOutputStream(partial); ZipOutputStream zip = new ZipOutputStream(file)) {
            for (Map.Entry<String, Entry> e : entries.entrySet()) {
                ZipEntry entry = new ZipEntry(e.getKey());
                entry.setTime(e.getValue().time);
                zip.putNextEntry(entry);
                zip.write(e.getValue().bytes.toByteArray());
                zip.closeEntry();
            }
        } catch (IOException e) {
            partial.delete();
            throw e;
        }
        if (!partial.renameTo(out)) {
            partial.delete();
            throw new IOException("cannot rename " + partial + " to " + out);
        }
    }

    private static final class Entry {
        final long time;
        final ByteArrayOutputStream bytes = new ByteArrayOutputStream();

        // A time the archive does not give becomes the first a ZIP entry can
        // hold (1980-01-01), the same on every run.
        Entry(long time) {
            this.time = time >= 0 ? time : 315532800000L;
        }
    }

    private static boolean leftOut(String name) {
        String n = name.toUpperCase(Locale.ROOT);
        if (!n.startsWith("META-INF/") || n.indexOf('/', 9) >= 0) return false;
        return n.equals("META-INF/MANIFEST.MF") || n.equals("META-INF/INDEX.LIST") || n.endsWith(".SF")
            || n.endsWith(".RSA") || n.endsWith(".DSA") || n.endsWith(".EC") || n.startsWith("META-INF/SIG-");
    }

    private static void add(File jar, boolean application, Map<String, Entry> entries) throws IOException {
        try (ZipFile zip = new ZipFile(jar)) {
            List<? extends ZipEntry> list = new ArrayList<>(java.util.Collections.list(zip.entries()));
            for (ZipEntry entry : list) {
                String name = entry.getName();
                if (!application && leftOut(name)) continue;
                boolean service = name.startsWith("META-INF/services/") && !entry.isDirectory();
                Entry existing = entries.get(name);
                if (existing != null && !service) continue;
                Entry target = existing != null ? existing : new Entry(entry.getTime());
                if (existing != null && target.bytes.size() > 0) {
                    byte[] held = target.bytes.toByteArray();
                    if (held[held.length - 1] != '\n') target.bytes.write('\n');
                }
                try (InputStream in = zip.getInputStream(entry)) {
                    byte[] buffer = new byte[8192];
                    for (int n; (n = in.read(buffer)) > 0;) target.bytes.write(buffer, 0, n);
                }
                entries.put(name, target);
            }
        }
    }
}
