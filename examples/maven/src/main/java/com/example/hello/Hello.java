package com.example.hello;

import org.apache.commons.cli.CommandLine;
import org.apache.commons.cli.DefaultParser;
import org.apache.commons.cli.Options;
import org.apache.commons.cli.ParseException;

/**
 * Greets each argument (in capitals with -u); built by Maven, its command
 * line read with commons-cli, packed by tvx-maven-plugin.
 */
public final class Hello {
    private Hello() {}

    public static void main(String[] args) throws ParseException {
        Options options = new Options().addOption("u", "upper", false, "greet in capitals");
        CommandLine command = new DefaultParser().parse(options, args);
        StringBuilder line = new StringBuilder("Hello from Maven");
        for (String arg : command.getArgs()) line.append(", ").append(arg);
        String text = line.toString();
        System.out.println(command.hasOption("u") ? text.toUpperCase(java.util.Locale.ROOT) : text);
        System.out.println("app.path=" + System.getProperty("tvx.app.path"));
    }
}
