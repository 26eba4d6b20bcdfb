/* Plants the instance segment another process left for an executable and
 * stays attached to it while a command runs, so that the launcher finds it
 * in use (an unused segment would be cleared):
 *   segment_planter EXECUTABLE MODE COUNTER -- COMMAND...
 * MODE is octal; COUNTER is written to the segment's first int. The segment
 * is removed when the command ends; the status is the command's. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 6 || strcmp(argv[4], "--") != 0) {
        fprintf(stderr, "usage: segment_planter EXECUTABLE MODE COUNTER -- COMMAND...\n");
        return 2;
    }
    /* The key the launcher derives from its own file. */
    key_t key = ftok(argv[1], 0xFF);
    int id = key == -1 ? -1 : shmget(key, 4096, IPC_CREAT | IPC_EXCL | (int)strtol(argv[2], NULL, 8));
    void* address = id == -1 ? (void*)-1 : shmat(id, NULL, 0);
    if (address == (void*)-1) {
        perror("segment_planter");
        return 3;
    }
    *(int*)address = atoi(argv[3]);
    fflush(NULL);
    pid_t child = fork();
    if (child == 0) {
        shmdt(address);  /* the command must not count as an attachment of its own */
        execv(argv[5], argv + 5);
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) status = 0x7f00;
    shmdt(address);
    shmctl(id, IPC_RMID, NULL);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
