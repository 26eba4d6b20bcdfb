package planted;

/** A class the tests place in a working directory, where it must not be found. */
public class Planted {
}
