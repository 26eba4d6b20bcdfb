package com.example.hello;

/** Greets each argument; built by Maven and packed by tvx-pack. */
public final class Hello {
    private Hello() {}

    public static void main(String[] args) {
        StringBuilder line = new StringBuilder("Hello from Maven");
        for (String arg : args) line.append(", ").append(arg);
        System.out.println(line);
        System.out.println("app.path=" + System.getProperty("tvx.app.path"));
    }
}
