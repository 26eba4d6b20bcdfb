package launchtest;

import java.io.File;

/** Prints what the launcher handed over: arguments, chosen properties and
 *  environment variables, whether chosen resources and classes can be
 *  loaded, the working directory; then exits as asked. */
public class Probe {
    public static void main(String[] args) throws Exception {
        StringBuilder out = new StringBuilder();
        out.append("argc=").append(args.length).append('\n');
        for (int i = 0; i < args.length; i++) {
            out.append("arg").append(i).append('=').append(args[i]).append(" units=");
            for (int j = 0; j < args[i].length(); j++) {
                if (j > 0) out.append(',');
                out.append(String.format("%04x", (int) args[i].charAt(j)));
            }
            out.append('\n');
        }
        for (String name : list(System.getenv("PROBE_PROPS"))) {
            out.append("prop:").append(name).append('=').append(System.getProperty(name)).append('\n');
        }
        for (String name : list(System.getenv("PROBE_ENV"))) {
            out.append("env:").append(name).append('=').append(System.getenv(name)).append('\n');
        }
        for (String name : list(System.getenv("PROBE_RESOURCE"))) {
            java.net.URL found = ClassLoader.getSystemClassLoader().getResource(name);
            out.append("resource:").append(name).append('=').append(found == null ? "none" : "found").append('\n');
        }
        for (String name : list(System.getenv("PROBE_LOAD"))) {
            String loaded;
            try {
                Class.forName(name);
                loaded = "loaded";
            } catch (ClassNotFoundException e) {
                loaded = "none";
            }
            out.append("load:").append(name).append('=').append(loaded).append('\n');
        }
        out.append("cwd=").append(new File(System.getProperty("user.dir")).getCanonicalPath()).append('\n');
        System.out.print(out);
        System.out.flush();

        String hold = System.getenv("PROBE_HOLD");
        if (hold != null) {
            // Stay alive until the file exists (at most a minute).
            for (int i = 0; i < 600 && !new File(hold).exists(); i++) Thread.sleep(100);
        }
        if (System.getenv("PROBE_THREAD") != null) {
            Thread worker = new Thread(new Runnable() {
                public void run() {
                    try {
                        Thread.sleep(300);
                    } catch (InterruptedException e) {
                        return;
                    }
                    System.out.println("worker finished");
                    System.out.flush();
                }
            });
            worker.start();
        }
        String exit = System.getenv("PROBE_EXIT");
        if (exit != null) System.exit(Integer.parseInt(exit));
        String fail = System.getenv("PROBE_THROW");
        if (fail == null) fail = System.getProperty("probe.throw", "");
        if (!fail.isEmpty()) throw new IllegalStateException(fail);
        System.out.println("main returned");
    }

    private static String[] list(String names) {
        if (names == null || names.isEmpty()) return new String[0];
        return names.split(",");
    }
}
