package redirtest;

import java.io.PrintStream;

/**
 * Writes to the standard streams as its arguments say: "out:TEXT" and
 * "err:TEXT" print a line, "big:N" writes N bytes of numbered lines to
 * standard output, "cwd" prints "cwd:" and the working directory.
 */
public class OutputApp {
    public static void main(String[] args) throws Exception {
        for (String a : args) {
            if (a.startsWith("out:")) {
                System.out.println(a.substring(4));
            } else if (a.startsWith("err:")) {
                System.err.println(a.substring(4));
            } else if (a.equals("cwd")) {
                System.out.println("cwd:" + System.getProperty("user.dir"));
            } else if (a.startsWith("big:")) {
                writeBig(System.out, Integer.parseInt(a.substring(4)));
            }
        }
        System.out.flush();
        System.err.flush();
    }

    /** Numbered lines, cut to exactly n bytes (the test builds the same text). */
    private static void writeBig(PrintStream out, int n) {
        StringBuilder text = new StringBuilder(n + 32);
        for (int i = 0; text.length() < n; ++i) text.append("line ").append(i).append('\n');
        text.setLength(n);
        out.print(text);
    }
}
