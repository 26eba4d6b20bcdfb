package com.brindell.tvx;

/** The application's view of the service it runs as. */
public class ServiceStatusManager {
    public static final int STATUS_START_PENDING = 2;
    public static final int STATUS_RUNNING = 4;
    public static final int STATUS_PAUSED = 7;

    /** True when the launcher runs the application as a service. */
    public static boolean isRunAsService = false;

    static {
        isRunAsService = false;
        String path = System.getProperty("tvx.app.path");
        if (path != null) {
            System.load(path);
        }
    }

    public static void setServiceStatus(int status) {
        if (isRunAsService) {
            nativeSetServiceStatus(status);
        }
    }

    public static void setServiceStatusHandler(ServiceStatusHandler handler) {
        if (isRunAsService) {
            nativeSetServiceStatusHandler(handler);
        }
    }

    /** The service's arguments (the same array object on every call). */
    public static native String[] getCommandLineArguments();

    /** Start-up parameters; always empty on Linux. */
    public static native String[] getStartupParameters();

    private static native void nativeSetServiceStatus(int status);

    private static native void nativeSetServiceStatusHandler(ServiceStatusHandler handler);
}
