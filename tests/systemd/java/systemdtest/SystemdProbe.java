package systemdtest;

import com.brindell.tvx.ServiceStatusHandler;
import com.brindell.tvx.ServiceStatusManager;
import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.List;

/**
 * A service for the systemd tests. Marks (files in marks/ beside the
 * executable) tell the test what happened: "initialised" once the main
 * class's initialiser, which takes 1.5 s, has run (before main), "ready"
 * once an application that reports its own readiness has done so, "stopped"
 * from onStop. It prints who it runs as on standard output and a line on
 * standard error. Arguments: "report-ready" (START_PENDING, 2 s, RUNNING),
 * "hang-stop" (onStop never returns), "chatter" (numbered lines on standard
 * output and error every 2 ms until the file marks/quiet exists).
 */
public class SystemdProbe {
    static {
        try {
            Thread.sleep(1500);
            mark("initialised", "");
        } catch (Exception e) {
            throw new RuntimeException(e);
        }
    }

    public static void main(String[] args) throws Exception {
        List<String> options = Arrays.asList(args);
        System.out.println("probe runs as " + System.getProperty("user.name"));
        System.out.flush();
        System.err.println("probe says hello on standard error");
        ServiceStatusManager.setServiceStatusHandler(new ServiceStatusHandler() {
            public boolean canPause() { return false; }
            public boolean onPause() { return false; }
            public boolean onContinue() { return false; }
            public boolean onStop() {
                System.out.println("onStop called");
                System.out.flush();
                try {
                    mark("stopped", "");
                    if (options.contains("hang-stop")) Thread.sleep(Long.MAX_VALUE);
                } catch (Exception e) {
                    e.printStackTrace();
                }
                return true;
            }
        });
        if (options.contains("report-ready")) {
            ServiceStatusManager.setServiceStatus(ServiceStatusManager.STATUS_START_PENDING);
            Thread.sleep(2000);
            mark("ready", "");
            ServiceStatusManager.setServiceStatus(ServiceStatusManager.STATUS_RUNNING);
        }
        if (options.contains("chatter")) {
            File quiet = new File(marks(), "quiet");
            for (long n = 0; !quiet.exists(); ++n) {
                System.out.println("out " + n);
                System.err.println("err " + n);
                Thread.sleep(2);
            }
            mark("quiet-seen", "");
        }
        while (true) Thread.sleep(60_000);
    }

    static File marks() {
        File exe = new File(System.getProperty("tvx.app.path"));
        return new File(exe.getParentFile(), "marks");
    }

    static void mark(String name, String text) throws IOException {
        File dir = marks();
        dir.mkdirs();
        File part = new File(dir, name + ".part");
        try (FileOutputStream out = new FileOutputStream(part)) {
            out.write(text.getBytes(StandardCharsets.UTF_8));
        }
        if (!part.renameTo(new File(dir, name))) throw new IOException("rename " + part);
    }
}
