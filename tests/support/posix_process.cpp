// Child processes for the Linux tests (posix_process.h).
#include "posix_process.h"

#include <dirent.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int InChildWithoutWaiting(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    for (int i = 0; pid > 0 && i < 1000; i++) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
        struct timespec pause = {0, 10000000L}; // 10 ms
        nanosleep(&pause, nullptr);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

int WithoutProc(int (*body)()) {
    pid_t pid = fork();
    if (pid == 0) {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("none", "/proc", "tmpfs", 0, nullptr) != 0)
            _exit(77);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

pid_t StartReporting(const std::function<void(int report)>& body, size_t count,
                     std::vector<pid_t>* reported) {
    reported->assign(count, 0);
    int ends[2];
    if (pipe(ends) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        close(ends[0]);
        body(ends[1]);
        _exit(0);
    }
    close(ends[1]);
    size_t bytes = count * sizeof(pid_t);
    size_t got = 0;
    while (pid > 0 && got < bytes) {
        ssize_t n = read(ends[0], (char*)reported->data() + got, bytes - got);
        if (n <= 0)
            break;
        got += (size_t)n;
    }
    close(ends[0]);
    return pid;
}

void Report(int report, pid_t pid) {
    if (write(report, &pid, sizeof pid) != (ssize_t)sizeof pid)
        _exit(3);
}

int CountOpenDescriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dir != nullptr && readdir(dir) != nullptr)
        count++;
    if (dir != nullptr)
        closedir(dir);
    return count;
}
