package com.brindell.tvx;

/** Receives the service's control requests; on Linux only onStop is called. */
public interface ServiceStatusHandler {
    boolean canPause();

    boolean onPause();

    boolean onContinue();

    boolean onStop();
}
