/* Starts a server command, waits until it accepts a TCP connection on
   127.0.0.1:PORT, prints the wall time to that moment in milliseconds and the
   process's peak resident memory then in KiB ("<ms> <kib>"), then stops it
   with SIGTERM and waits for it to end.
     port_measure PORT COMMAND [ARG]... */
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "spawn_quiet.h"

static double Since(const struct timespec* start) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start->tv_sec) * 1e3 + (now.tv_nsec - start->tv_nsec) / 1e6;
}

static int Accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons((unsigned short)port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int ok = connect(fd, (struct sockaddr*)&addr, sizeof addr) == 0;
    close(fd);
    return ok;
}

/* VmHWM of the process, in KiB. */
static long PeakKib(pid_t pid) {
    char path[64], line[256];
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE* f = fopen(path, "r");
    long kib = -1;
    if (!f) return -1;
    while (fgets(line, sizeof line, f))
        if (strncmp(line, "VmHWM:", 6) == 0) kib = atol(line + 6);
    fclose(f);
    return kib;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s PORT COMMAND [ARG]...\n", argv[0]);
        return 2;
    }
    int port = atoi(argv[1]);
    if (Accepts(port)) {
        fprintf(stderr, "port %d is already taken\n", port);
        return 2;
    }
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = SpawnQuiet(argv + 2);
    if (pid < 0) return 2;
    int status = 0;
    double ms = -1;
    long kib = -1;
    while (Since(&start) < 60000) {
        if (Accepts(port)) {
            ms = Since(&start);
            kib = PeakKib(pid);
            break;
        }
        if (waitpid(pid, &status, WNOHANG) == pid) {
            fprintf(stderr, "%s ended before it listened (status %d)\n", argv[2], status);
            return 1;
        }
        usleep(1000);
    }
    kill(pid, SIGTERM);
    waitpid(pid, &status, 0);
    if (ms < 0) {
        fprintf(stderr, "%s did not listen on port %d\n", argv[2], port);
        return 1;
    }
    printf("%.3f %ld\n", ms, kib);
    return 0;
}
