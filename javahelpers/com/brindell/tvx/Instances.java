package com.brindell.tvx;

import java.io.Serializable;

/**
 * The running instances of this application and the message channel between
 * them. The native side is the launcher's own executable, loaded a second
 * time as this class's library.
 */
public class Instances {
    static {
        String path = System.getProperty("tvx.app.path");
        if (path != null) {
            System.load(path);
        }
    }

    public Instances() {
    }

    /** Receives objects sent by other instances. */
    public interface ReceiverInterface {
        void onReceive(int sender, Serializable object);
    }

    /** Process identifier of the first instance (the channel's owner), or -1. */
    public static native int getFirstInstance();

    /** Process identifier of this instance, or -1 when the channel is not started. */
    public static native int getCurrentInstance();

    /** All registered instances, the first instance first. */
    public static native int[] getInstances();

    /** Sends the object to the first instance. */
    public static void sendObject(Serializable object) {
        sendObject(getFirstInstance(), object);
    }

    /** Queues the object for the instance {@code target} (0: the first instance). */
    public static native void sendObject(int target, Serializable object);

    /** Waits until this instance's outgoing queue has been posted. */
    public static native void flush();

    /** Registers the receiver of objects sent to this instance. */
    public static native void setReceiver(ReceiverInterface receiver);
}
