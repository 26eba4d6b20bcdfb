package packtest;

/** Prints what the packed executable handed it, one fact per line. */
public class Hello {
    public static void main(String[] args) throws Exception {
        System.out.println("main=" + Hello.class.getName());
        System.out.println("args=" + String.join(",", args));
        System.out.println("mode=" + System.getProperty("app.mode"));
        // The helper classes travel in the archive; load without initialising.
        Class<?> helper = Class.forName("com.brindell.tvx.Instances", false, Hello.class.getClassLoader());
        System.out.println("helper=" + helper.getName());
    }
}
