/* Preloaded into a test program, makes vfork a plain fork, as it is under
   valgrind, WSL1 and qemu user mode: the child's writes to memory no longer
   reach the parent. ep_vfork_is_fork tells the test that the shim is in. */
#include <unistd.h>

int ep_vfork_is_fork = 1;

pid_t vfork(void) {
    return fork();
}
