package instancetest;

import com.brindell.tvx.Instances;
import java.io.Serializable;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.util.zip.CRC32;

/**
 * One instance in a channel test. Arguments: a shared directory, this
 * instance's name, then steps run in order:
 * <ul>
 * <li>recv: register a receiver; each object received appends the line
 *     "from=PID class=NAME len=N crc=C" to NAME.log</li>
 * <li>ready[:FILE]: write NAME.info (or FILE.info): "pid= current= first= instances="</li>
 * <li>wait:FILE: wait until FILE exists in the directory</li>
 * <li>waitfirst-not:OTHER: wait until the first instance is not OTHER's pid</li>
 * <li>send:TARGET:KIND:SIZE: TARGET is "first" (the one-argument send), "0",
 *     "self" or another instance's name; KIND is bytes, note (a class only
 *     this jar has), string, chain (SIZE links, each holding the next) or
 *     bomb (SIZE levels of sets, each holding the two sets of the next
 *     level: reading it back computes 2^SIZE hash codes)</li>
 * <li>flush, hold (wait for the file "stop"), and exit:STATUS (System.exit)</li>
 * </ul>
 */
public class ChannelApp {
    /** A class that exists only in the application's jar. */
    static class Note implements Serializable {
        private static final long serialVersionUID = 1L;
        final String text;

        Note(String text) {
            this.text = text;
        }
    }

    /** One link of a chain; each nests the next one level deeper. */
    static class Link implements Serializable {
        private static final long serialVersionUID = 1L;
        Link next;

        @Override
        public String toString() {
            int n = 0;
            for (Link l = this; l != null; l = l.next) n++;
            return "chain:" + n;
        }
    }

    private static Path dir;
    private static String name;

    public static void main(String[] args) throws Exception {
        dir = Paths.get(args[0]);
        name = args[1];
        for (int i = 2; i < args.length; i++) step(args[i]);
        System.out.println(name + " done");
        System.out.flush();
    }

    private static void step(String step) throws Exception {
        String[] p = step.split(":");
        switch (p[0]) {
            case "recv":
                Instances.setReceiver((sender, object) -> record(sender, object));
                break;
            case "ready":
                writeAtomically((p.length > 1 ? p[1] : name) + ".info", info());
                break;
            case "wait":
                waitFor(() -> Files.exists(dir.resolve(p[1])));
                break;
            case "waitfirst-not": {
                int other = pidOf(p[1]);
                waitFor(() -> Instances.getFirstInstance() != other);
                break;
            }
            case "send":
                send(p[1], p[2], Integer.parseInt(p[3]));
                break;
            case "flush":
                Instances.flush();
                break;
            case "exit":
                System.exit(Integer.parseInt(p[1]));
                break;
            case "hold":
                waitFor(() -> Files.exists(dir.resolve("stop")));
                break;
            default:
                throw new IllegalArgumentException(step);
        }
    }

    private static String info() throws Exception {
        StringBuilder list = new StringBuilder();
        for (int pid : Instances.getInstances()) list.append(list.length() > 0 ? "," : "").append(pid);
        return "pid=" + osPid() + "\ncurrent=" + Instances.getCurrentInstance() + "\nfirst="
                + Instances.getFirstInstance() + "\ninstances=" + list + "\n";
    }

    private static String osPid() throws Exception {
        return Files.readSymbolicLink(Paths.get("/proc/self")).getFileName().toString();
    }

    private static String repeat(char c, int n) {
        char[] chars = new char[n];
        java.util.Arrays.fill(chars, c);
        return new String(chars);
    }

    private static void send(String target, String kind, int size) throws Exception {
        Serializable object;
        if (kind.equals("bytes")) {
            byte[] b = new byte[size];
            for (int i = 0; i < size; i++) b[i] = (byte) (i * 31 + 7);
            object = b;
        } else if (kind.equals("note")) {
            object = new Note(repeat('n', size));
        } else if (kind.equals("chain")) {
            Link head = new Link();
            for (int i = 1; i < size; i++) {
                Link link = new Link();
                link.next = head;
                head = link;
            }
            object = head;
        } else if (kind.equals("bomb")) {
            java.util.Set<Object> root = new java.util.HashSet<>();
            java.util.Set<Object> s1 = root;
            java.util.Set<Object> s2 = new java.util.HashSet<>();
            for (int i = 0; i < size; i++) {
                java.util.Set<Object> t1 = new java.util.HashSet<>();
                java.util.Set<Object> t2 = new java.util.HashSet<>();
                t1.add("x");
                s1.add(t1);
                s1.add(t2);
                s2.add(t1);
                s2.add(t2);
                s1 = t1;
                s2 = t2;
            }
            object = (Serializable) root;
        } else {
            object = repeat('s', size);
        }
        if (target.equals("first")) {
            Instances.sendObject(object);
        } else {
            int pid = target.equals("self") ? Instances.getCurrentInstance()
                    : target.equals("0") ? 0 : pidOf(target);
            Instances.sendObject(pid, object);
        }
    }

    private static synchronized void record(int sender, Serializable object) {
        byte[] bytes;
        if (object instanceof byte[]) {
            bytes = (byte[]) object;
        } else if (object instanceof Note) {
            bytes = ((Note) object).text.getBytes(StandardCharsets.UTF_8);
        } else {
            bytes = object.toString().getBytes(StandardCharsets.UTF_8);
        }
        CRC32 crc = new CRC32();
        crc.update(bytes);
        String line = "from=" + sender + " class=" + object.getClass().getName() + " len=" + bytes.length + " crc="
                + crc.getValue() + "\n";
        try {
            Files.write(dir.resolve(name + ".log"), line.getBytes(StandardCharsets.UTF_8),
                    StandardOpenOption.CREATE, StandardOpenOption.APPEND);
        } catch (Exception e) {
            e.printStackTrace();
        }
    }

    private static int pidOf(String other) throws Exception {
        Path info = dir.resolve(other + ".info");
        waitFor(() -> Files.exists(info));
        for (String line : Files.readAllLines(info)) {
            if (line.startsWith("pid=")) return Integer.parseInt(line.substring(4));
        }
        throw new IllegalStateException("no pid in " + info);
    }

    private static void writeAtomically(String file, String text) throws Exception {
        Path tmp = dir.resolve(file + ".tmp");
        Files.write(tmp, text.getBytes(StandardCharsets.UTF_8));
        Files.move(tmp, dir.resolve(file), StandardCopyOption.ATOMIC_MOVE);
    }

    interface Condition {
        boolean holds() throws Exception;
    }

    private static void waitFor(Condition c) throws Exception {
        long deadline = System.currentTimeMillis() + 300_000L;
        while (!c.holds()) {
            if (System.currentTimeMillis() > deadline) System.exit(3);
            Thread.sleep(20);
        }
    }
}
