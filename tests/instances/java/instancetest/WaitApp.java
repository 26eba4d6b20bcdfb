package instancetest;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

/**
 * Writes the file named by its first argument once it runs, then waits until
 * the file named by its second argument exists (at most five minutes).
 */
public class WaitApp {
    public static void main(String[] args) throws Exception {
        Path ready = Paths.get(args[0]);
        Path stop = Paths.get(args[1]);
        System.err.println("wait-app running");
        System.err.flush();
        Files.write(ready, "ready".getBytes("UTF-8"));
        long deadline = System.currentTimeMillis() + 300_000L;
        while (!Files.exists(stop)) {
            if (System.currentTimeMillis() > deadline) System.exit(3);
            Thread.sleep(20);
        }
        System.out.println("wait-app done");
        System.out.flush();
    }
}
