package packtest;

/** A second main class, named with --main or a mainclass line. */
public class Other {
    public static void main(String[] args) {
        System.out.println("main=" + Other.class.getName());
    }
}
