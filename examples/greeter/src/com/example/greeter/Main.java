package com.example.greeter;

import com.brindell.tvx.ServiceStatusHandler;
import com.brindell.tvx.ServiceStatusManager;

/**
 * A small application carried by a tvx executable. Run with -test it greets
 * and exits; run as a service it greets every few seconds until stopped.
 */
public final class Main {
    private static volatile boolean running = true;

    public static void main(String[] args) throws InterruptedException {
        String name = System.getProperty("greeter.name", "world");
        System.out.println("Hello, " + name + "!");
        System.out.println("Arguments: " + String.join(" ", args));
        System.out.println("Executable: " + System.getProperty("tvx.app.path"));
        System.out.println("Java " + System.getProperty("java.version")
                + ", running as a service: " + ServiceStatusManager.isRunAsService);

        if (!ServiceStatusManager.isRunAsService) {
            return;
        }
        ServiceStatusManager.setServiceStatusHandler(new ServiceStatusHandler() {
            public boolean canPause() { return false; }
            public boolean onPause() { return false; }
            public boolean onContinue() { return false; }
            public boolean onStop() {
                System.out.println("Stopping.");
                running = false;
                return true;
            }
        });
        while (running) {
            System.out.println("Still here, " + name + ".");
            Thread.sleep(5000);
        }
    }
}
