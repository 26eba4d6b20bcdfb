package instancetest;

import com.brindell.tvx.ServiceStatusManager;
import java.io.BufferedReader;
import java.io.InputStreamReader;

/**
 * Prints what the service natives answer, as key=value lines. The first
 * call of getCommandLineArguments is made on a thread of its own, the first
 * call of getStartupParameters on the main thread. With the argument
 * "spawn-child" it also runs its own executable once more ("-test child")
 * and prints that child's exit status and lines, prefixed with "child.".
 */
public class ArgsApp {
    public static void main(String[] args) throws Exception {
        final String[][] fromThread = new String[1][];
        Thread t = new Thread(() -> fromThread[0] = ServiceStatusManager.getCommandLineArguments());
        t.start();
        t.join();
        String[] command = ServiceStatusManager.getCommandLineArguments();
        String[] startup = ServiceStatusManager.getStartupParameters();
        final String[][] startupFromThread = new String[1][];
        Thread u = new Thread(() -> startupFromThread[0] = ServiceStatusManager.getStartupParameters());
        u.start();
        u.join();

        System.out.println("command=" + length(command));
        System.out.println("command-same=" + (command == fromThread[0]));
        System.out.println("startup=" + length(startup));
        System.out.println("startup-same=" + (startup == startupFromThread[0]));
        System.out.println("startup-distinct=" + (startup != command));
        System.out.println("service=" + ServiceStatusManager.isRunAsService);

        for (String a : args) {
            if (!a.equals("spawn-child")) continue;
            ProcessBuilder pb = new ProcessBuilder(System.getProperty("tvx.app.path"), "-test", "child");
            pb.redirectErrorStream(true);
            Process p = pb.start();
            BufferedReader in = new BufferedReader(new InputStreamReader(p.getInputStream(), "UTF-8"));
            String line;
            while ((line = in.readLine()) != null) System.out.println("child." + line);
            System.out.println("child-exit=" + p.waitFor());
        }
        System.out.flush();
    }

    private static String length(String[] a) {
        return a == null ? "null" : Integer.toString(a.length);
    }
}
