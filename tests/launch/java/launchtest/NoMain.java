package launchtest;

/** A class without a static main(String[]) method. */
public class NoMain {
    public static void main() {
        System.out.println("wrong main");
    }
}
