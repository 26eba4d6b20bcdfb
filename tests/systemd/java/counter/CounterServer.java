package counter;

import java.io.BufferedReader;
import java.io.File;
import java.io.FileWriter;
import java.io.InputStreamReader;
import java.io.PrintWriter;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;

/**
 * A small network service: each line a client sends is appended to
 * counter.data in the working directory, and the server answers with the
 * user it runs as, the number of lines kept and the value of the system
 * property counter.greeting. Listens on 127.0.0.1, port counter.port
 * (default 7070).
 */
public final class CounterServer {
    public static void main(String[] args) throws Exception {
        int port = Integer.parseInt(System.getProperty("counter.port", "7070"));
        String greeting = System.getProperty("counter.greeting", "hello");
        File data = new File("counter.data");
        try (ServerSocket server = new ServerSocket(port, 50, InetAddress.getLoopbackAddress())) {
            System.out.println("counter listens on " + port + " as " + System.getProperty("user.name"));
            for (;;) {
                try (Socket client = server.accept();
                     BufferedReader in = new BufferedReader(
                         new InputStreamReader(client.getInputStream(), StandardCharsets.UTF_8));
                     PrintWriter out = new PrintWriter(client.getOutputStream(), true)) {
                    String line = in.readLine();
                    if (line != null && !line.isEmpty()) {
                        try (FileWriter w = new FileWriter(data, true)) {
                            w.write(line + "\n");
                        }
                    }
                    long kept = data.exists() ? Files.readAllLines(data.toPath()).size() : 0;
                    out.println(greeting + " " + System.getProperty("user.name") + " " + kept);
                }
            }
        }
    }
}
