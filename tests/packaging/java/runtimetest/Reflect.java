package runtimetest;

/**
 * Says which runtime it runs on, then loads the classes named on its
 * command line by reflection: jdeps sees no use of their modules, so a
 * runtime linked for it alone lacks them.
 */
public class Reflect {
    public static void main(String[] args) throws Exception {
        System.out.println("java.home=" + System.getProperty("java.home"));
        for (String name : args) {
            Class<?> loaded = Class.forName(name);
            System.out.println("loaded " + loaded.getName());
        }
    }
}
