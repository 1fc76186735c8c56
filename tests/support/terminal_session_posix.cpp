// A real terminal for the Linux tests (terminal_session.h), over openpty.
#include "terminal_session.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

// In the leader: starts the host in a group of its own, lends it the
// terminal as a shell does, waits and returns how the host ended.
int Lead(int tty, const std::function<int(int)>& host) {
    signal(SIGTTOU, SIG_IGN);
    int go[2];
    if (pipe(go) != 0)
        return SESSION_FAILED;
    pid_t child = fork();
    if (child == 0) {
        signal(SIGTTOU, SIG_DFL);
        setpgid(0, 0);
        char byte;
        if (read(go[0], &byte, 1) != 1)
            _exit(SESSION_FAILED & 0xFF);
        _exit(host(tty));
    }
    setpgid(child, child);
    tcsetpgrp(tty, child);
    if (write(go[1], "g", 1) != 1)
        return SESSION_FAILED;
    return WaitForJob(child);
}

} // namespace

int WaitForJob(pid_t job) {
    int status = 0;
    waitpid(job, &status, WUNTRACED);
    if (WIFSTOPPED(status)) {
        kill(job, SIGKILL);
        waitpid(job, nullptr, 0);
        return SESSION_STOPPED;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : SESSION_FAILED;
}

void LeadSessionOn(int tty, const char* lang) {
    setsid();
    ioctl(tty, TIOCSCTTY, 0);
    dup2(tty, STDERR_FILENO);
    setenv("LANG", lang, 1);
    unsetenv("LC_ALL");
    unsetenv("LC_CTYPE");
}

void ReadScreen(int master, int milliseconds, std::string& screen,
                const std::function<void(const std::string& screen)>& seen) {
    char buffer[4096];
    for (;;) {
        struct pollfd watch = {master, POLLIN, 0};
        if (poll(&watch, 1, milliseconds) != 1)
            break;
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0)
            break; // every process of the session has closed the terminal
        screen.append(buffer, (size_t)n);
        if (seen)
            seen(screen);
    }
}

TerminalSession RunOnTerminal(int columns, int rows, const std::function<int(int)>& host) {
    TerminalSession session = {"", SESSION_FAILED};
    int master = -1, slave = -1, report[2];
    struct winsize size = {(unsigned short)rows, (unsigned short)columns, 0, 0};
    if (openpty(&master, &slave, nullptr, nullptr, &size) != 0)
        return session;
    if (pipe(report) != 0) {
        close(master);
        close(slave);
        return session;
    }
    struct termios modes;
    tcgetattr(slave, &modes);
    modes.c_oflag &= ~(tcflag_t)OPOST;
    tcsetattr(slave, TCSANOW, &modes);
    pid_t leader = fork();
    if (leader == 0) {
        close(master);
        close(report[0]);
        LeadSessionOn(slave, "C.UTF-8");
        int status = Lead(slave, host);
        _exit(write(report[1], &status, sizeof status) == (ssize_t)sizeof status ? 0 : 1);
    }
    close(slave);
    close(report[1]);
    ReadScreen(master, 30000, session.screen);
    int status = SESSION_FAILED;
    if (read(report[0], &status, sizeof status) == (ssize_t)sizeof status)
        session.status = status;
    waitpid(leader, nullptr, 0);
    close(master);
    close(report[0]);
    return session;
}
