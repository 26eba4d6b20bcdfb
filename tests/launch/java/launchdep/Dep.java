package launchdep;

/** A dependency that is compiled against but not packed with the application. */
public class Dep {
    public static String hello() {
        return "dependency present";
    }
}
