package runtimetest;

/**
 * Says which runtime it runs on, then loads the classes named on its
 * command line by reflection: jdeps sees no use of their modules, so a
 * runtime linked for it alone lacks them. An argument locale=TAG prints
 * December's name in that locale instead, which comes out in English when
 * the runtime has no data for it.
 */
public class Reflect {
    public static void main(String[] args) throws Exception {
        System.out.println("java.home=" + System.getProperty("java.home"));
        for (String name : args) {
            if (name.startsWith("locale=")) {
                java.util.Locale locale = java.util.Locale.forLanguageTag(name.substring(7));
                System.out.println(name + ": " + java.time.Month.DECEMBER.getDisplayName(java.time.format.TextStyle.FULL, locale));
                continue;
            }
            Class<?> loaded = Class.forName(name);
            System.out.println("loaded " + loaded.getName());
        }
    }
}
