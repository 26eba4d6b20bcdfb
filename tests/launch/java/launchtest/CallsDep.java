package launchtest;

/** A main class that loads, and whose main method fails without the dependency. */
public class CallsDep {
    public static void main(String[] args) {
        System.out.println("main entered");
        System.out.println(launchdep.Dep.hello());
    }
}
