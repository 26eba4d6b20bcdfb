package hellotest;

import com.brindell.tvx.ServiceStatusManager;

/**
 * Prints its arguments, then asks the service natives for the startup
 * parameters: that loads the executable's launcher image a second time, as
 * the helper classes' native library, and calls into it.
 */
public class Hello {
    public static void main(String[] args) {
        System.out.println("hello args=" + String.join(",", args));
        System.out.println("natives startup=" + ServiceStatusManager.getStartupParameters().length
                + " service=" + ServiceStatusManager.isRunAsService);
    }
}
