package launchtest;

/** A main class that cannot be loaded without its superclass's archive. */
public class ExtendsDep extends launchdep.Dep {
    public static void main(String[] args) {
        System.out.println(hello());
    }
}
