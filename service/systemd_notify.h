// Speaking to systemd: the notification protocol (one datagram per message
// to $NOTIFY_SOCKET, with the sender's credentials) and the watchdog pings.
// Nothing is sent, and nothing changes, when the process was not started
// with $NOTIFY_SOCKET.
#ifndef TVX_SERVICE_SYSTEMD_NOTIFY_H
#define TVX_SERVICE_SYSTEMD_NOTIFY_H

#include <stdint.h>
#include <sys/socket.h>
#include <sys/un.h>

// The address named by a $NOTIFY_SOCKET value: an absolute path, or an
// abstract name written with a leading '@'. False for anything else (empty,
// relative, too long for sun_path).
bool NotifySocketAddress(const char* value, struct sockaddr_un& address, socklen_t& length);

// True when this process was started with $NOTIFY_SOCKET.
bool SystemdNotifies();

// Sends `message` (lines "KEY=value" separated by '\n') to $NOTIFY_SOCKET.
// False when the variable is unset or unusable, or the send failed; a
// failure is never reported to the application.
bool SystemdNotify(const char* message);

// The watchdog interval for this process in microseconds: $WATCHDOG_USEC
// when it is a positive number and $WATCHDOG_PID is absent or this pid.
// 0 when there is no watchdog.
uint64_t WatchdogIntervalUsec();

// Starts the thread that sends WATCHDOG=1 every half interval, each time
// only after `probe` has returned true (the virtual machine answered).
// The probe runs on the pinging thread and may block: a probe that never
// returns means no more pings. Does nothing without a watchdog interval or
// when $NOTIFY_SOCKET is unset. True when the thread runs.
bool StartWatchdog(bool (*probe)(void* context), void* context, uint64_t intervalUsec);
// Ends the pinging thread (waits for it unless its probe is blocked).
void StopWatchdog();

#endif  // TVX_SERVICE_SYSTEMD_NOTIFY_H
