package servicetest;

import com.brindell.tvx.ServiceStatusHandler;
import com.brindell.tvx.ServiceStatusManager;
import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;

/**
 * Reports what it sees of the service into probe-report.txt in the working
 * directory, registers a stop handler that writes probe-stopped.txt, and
 * stays alive while it runs as a service: in main, or with the argument
 * "return-main" in a non-daemon thread after main has returned. With the
 * argument "exit-main" it ends the process with System.exit(3) instead, with
 * "throw-main" it throws an IllegalStateException out of main.
 */
public class ServiceProbe {
    public static void main(String[] args) throws Exception {
        String[] command = ServiceStatusManager.getCommandLineArguments();
        String[] again = ServiceStatusManager.getCommandLineArguments();
        String[] startup = ServiceStatusManager.getStartupParameters();

        StringBuilder report = new StringBuilder();
        report.append("service=").append(ServiceStatusManager.isRunAsService).append('\n');
        report.append("args=").append(list(args)).append('\n');
        report.append("command=").append(list(command)).append('\n');
        report.append("same=").append(command == again).append('\n');
        report.append("startup=").append(startup.length).append('\n');

        ServiceStatusManager.setServiceStatusHandler(new ServiceStatusHandler() {
            public boolean canPause() { return false; }
            public boolean onPause() { return false; }
            public boolean onContinue() { return false; }
            public boolean onStop() {
                try {
                    write("probe-stopped.txt", "stopped on " + Thread.currentThread().getName() + "\n");
                } catch (IOException e) {
                    e.printStackTrace();
                }
                return true;
            }
        });
        write("probe-report.txt", report.toString());

        if (Arrays.asList(args).contains("exit-main")) System.exit(3);
        if (Arrays.asList(args).contains("throw-main")) throw new IllegalStateException("probe thrown");
        if (!ServiceStatusManager.isRunAsService) return;
        if (Arrays.asList(args).contains("return-main")) {
            Thread keeper = new Thread(ServiceProbe::sleepForever, "keeper");
            keeper.start();
            return;
        }
        sleepForever();
    }

    private static void sleepForever() {
        try {
            while (true) Thread.sleep(60_000);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    private static String list(String[] values) {
        StringBuilder s = new StringBuilder();
        for (String v : values) s.append('<').append(v).append('>');
        return s.toString();
    }

    // Written beside and renamed, so a reader never sees half a file.
    private static void write(String name, String text) throws IOException {
        File part = new File(name + ".part");
        try (FileOutputStream out = new FileOutputStream(part)) {
            out.write(text.getBytes(StandardCharsets.UTF_8));
        }
        if (!part.renameTo(new File(name))) throw new IOException("rename " + part);
    }
}
