package discoveryprobe;

/** Prints what the launcher gave the virtual machine, one property a line. */
public final class Probe {
    public static void main(String[] args) {
        for (String name : new String[] {"java.class.path", "tvx.class.path", "java.home"}) {
            System.out.println(name + "=" + System.getProperty(name));
        }
    }
}
