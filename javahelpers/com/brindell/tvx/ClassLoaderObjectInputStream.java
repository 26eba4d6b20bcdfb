package com.brindell.tvx;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.InvalidClassException;
import java.io.ObjectInputStream;
import java.io.ObjectStreamClass;
import java.lang.reflect.InvocationHandler;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Proxy;

/**
 * Deserialises a message of another instance with a given class loader
 * first, then the default resolution, within limits, so that no message can
 * keep the receiving instance busy for good or exhaust its memory. The
 * limits are system properties, read when a stream is made, so that an
 * application widens them with a "property" setting or System.setProperty:
 * <ul>
 * <li>{@value #MAX_DEPTH}: nesting depth of objects (default 20)</li>
 * <li>{@value #MAX_REFERENCES}: objects and references in one message
 *     (default 100000)</li>
 * <li>{@value #MAX_ARRAY}: elements of one array (default 16777216; never
 *     more than the message has bytes, which no real array of it can
 *     exceed)</li>
 * <li>{@value #MAX_BYTES}: bytes of one message (default 16777216)</li>
 * </ul>
 * A filter the runtime applies to every stream (jdk.serialFilter) is asked
 * first and may refuse more.
 */
public class ClassLoaderObjectInputStream extends ObjectInputStream {
    public static final String MAX_DEPTH = "tvx.instances.maxdepth";
    public static final String MAX_REFERENCES = "tvx.instances.maxrefs";
    public static final String MAX_ARRAY = "tvx.instances.maxarray";
    public static final String MAX_BYTES = "tvx.instances.maxbytes";

    private final ClassLoader classLoader;
    private final long maxDepth = limit(MAX_DEPTH, 20);
    private final long maxReferences = limit(MAX_REFERENCES, 100000);
    private final long maxArray = limit(MAX_ARRAY, 16 << 20);
    private final long maxBytes = limit(MAX_BYTES, 16 << 20);
    private String refusal;
    private long messageBytes = Long.MAX_VALUE;

    public ClassLoaderObjectInputStream(InputStream in, ClassLoader classLoader) throws IOException {
        super(in);
        this.classLoader = classLoader;
        installFilter();
    }

    /**
     * The object of one message from the instance {@code sender}, or null
     * when it is refused or cannot be read; a refusal is one line on
     * standard error.
     */
    public static Object readMessage(byte[] bytes, ClassLoader classLoader, int sender) {
        ClassLoaderObjectInputStream stream = null;
        try {
            stream = new ClassLoaderObjectInputStream(new ByteArrayInputStream(bytes), classLoader);
            stream.messageBytes = bytes.length;
            if (bytes.length > stream.maxBytes) {
                stream.refusal = bytes.length + " bytes, above " + MAX_BYTES + "=" + stream.maxBytes;
                throw new InvalidClassException(stream.refusal);
            }
            return stream.readObject();
        } catch (Throwable e) {
            String why = stream != null && stream.refusal != null ? stream.refusal : e.toString();
            System.err.println("tvx: message from instance " + sender + " refused: " + why);
            System.err.flush();
            return null;
        } finally {
            try {
                if (stream != null) stream.close();
            } catch (IOException ignored) {
                // nothing was written
            }
        }
    }

    @Override
    protected Class<?> resolveClass(ObjectStreamClass desc) throws IOException, ClassNotFoundException {
        try {
            return Class.forName(desc.getName(), false, classLoader);
        } catch (ClassNotFoundException e) {
            return super.resolveClass(desc);
        }
    }

    private static long limit(String name, long fallback) {
        String value = System.getProperty(name);
        if (value == null) return fallback;
        try {
            long parsed = Long.parseLong(value.trim());
            return parsed > 0 ? parsed : fallback;
        } catch (NumberFormatException e) {
            return fallback;
        }
    }

    /** The reason to refuse what the filter is asked about, or null. */
    private String check(long depth, long references, long arrayLength, long streamBytes) {
        if (depth > maxDepth) return "nesting depth " + depth + ", above " + MAX_DEPTH + "=" + maxDepth;
        if (references > maxReferences)
            return references + " objects and references, above " + MAX_REFERENCES + "=" + maxReferences;
        if (arrayLength > maxArray) return "an array of " + arrayLength + ", above " + MAX_ARRAY + "=" + maxArray;
        if (arrayLength > messageBytes)
            return "an array of " + arrayLength + " in a message of " + messageBytes + " bytes";
        if (streamBytes > maxBytes) return streamBytes + " bytes, above " + MAX_BYTES + "=" + maxBytes;
        return null;
    }

    // The filter interface is java.io.ObjectInputFilter from Java 9 on and
    // sun.misc.ObjectInputFilter in late Java 8 updates; this class is
    // compiled for Java 8, so both are reached by reflection. A runtime
    // with neither gets no message at all rather than one without limits.
    private void installFilter() throws IOException {
        try {
            Class<?> filterType;
            Method setter;
            Object global;
            try {
                filterType = Class.forName("java.io.ObjectInputFilter");
                Class<?> config = Class.forName("java.io.ObjectInputFilter$Config");
                setter = ObjectInputStream.class.getMethod("setObjectInputFilter", filterType);
                global = config.getMethod("getSerialFilter").invoke(null);
            } catch (ClassNotFoundException | NoSuchMethodException e) {
                filterType = Class.forName("sun.misc.ObjectInputFilter");
                Class<?> config = Class.forName("sun.misc.ObjectInputFilter$Config");
                setter = config.getMethod("setObjectInputFilter", ObjectInputStream.class, filterType);
                global = config.getMethod("getSerialFilter").invoke(null);
            }
            Object filter = Proxy.newProxyInstance(filterType.getClassLoader(), new Class<?>[] {filterType},
                    new Filter(filterType, global));
            if (setter.getParameterCount() == 1) {
                setter.invoke(this, filter);
            } else {
                setter.invoke(null, this, filter);
            }
        } catch (InvocationTargetException e) {
            throw new IOException("cannot limit deserialisation: " + e.getCause(), e.getCause());
        } catch (ReflectiveOperationException | RuntimeException e) {
            throw new IOException("cannot limit deserialisation on this runtime: " + e, e);
        }
    }

    private final class Filter implements InvocationHandler {
        private final Object global;
        private final Method globalCheck;
        private final Method depth;
        private final Method references;
        private final Method arrayLength;
        private final Method streamBytes;
        private final Object rejected;
        private final Object undecided;

        @SuppressWarnings({"unchecked", "rawtypes"})
        Filter(Class<?> filterType, Object global) throws ReflectiveOperationException {
            Class<?> info = Class.forName(filterType.getName() + "$FilterInfo", false, filterType.getClassLoader());
            Class status = Class.forName(filterType.getName() + "$Status", false, filterType.getClassLoader());
            this.global = global;
            this.globalCheck = filterType.getMethod("checkInput", info);
            this.depth = info.getMethod("depth");
            this.references = info.getMethod("references");
            this.arrayLength = info.getMethod("arrayLength");
            this.streamBytes = info.getMethod("streamBytes");
            this.rejected = Enum.valueOf(status, "REJECTED");
            this.undecided = Enum.valueOf(status, "UNDECIDED");
        }

        @Override
        public Object invoke(Object proxy, Method method, Object[] args) throws Throwable {
            switch (method.getName()) {
                case "checkInput":
                    break;
                case "hashCode":
                    return System.identityHashCode(proxy);
                case "equals":
                    return proxy == args[0];
                case "toString":
                    return "tvx message limits";
                default:
                    throw new UnsupportedOperationException(method.getName());
            }
            Object info = args[0];
            if (global != null) {
                Object verdict = globalCheck.invoke(global, info);
                if (verdict == rejected) {
                    refusal = "refused by the runtime's serialisation filter";
                    return rejected;
                }
            }
            String why = check((Long) depth.invoke(info), (Long) references.invoke(info),
                    (Long) arrayLength.invoke(info), (Long) streamBytes.invoke(info));
            if (why != null) {
                refusal = why;
                return rejected;
            }
            return undecided;
        }
    }
}
