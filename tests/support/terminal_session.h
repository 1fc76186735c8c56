// A real terminal for the Linux tests: a pseudo-terminal that is the
// controlling terminal of a new session, in which a leader stands for the
// shell and starts the host in a process group of its own, gives it the
// terminal and waits for it. What the host writes to the terminal is read
// back from the master side.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

enum { SESSION_STOPPED = -1, SESSION_FAILED = -2 };

struct TerminalSession {
    std::string screen; // every byte that reached the terminal, as written
    int status;         // the host's exit code, SESSION_STOPPED when a signal stopped
                        // it (it is then killed), SESSION_FAILED otherwise
};

// Runs host(tty) in a forked process on a new terminal of the given size,
// whose slave side is its controlling terminal and its standard error
// (standard input and output are left as they are), with LANG=C.UTF-8 and
// no output processing (so the bytes arrive as written). Its result is the
// host's exit code. Returns once every process of the session has closed
// the terminal.
TerminalSession RunOnTerminal(int columns, int rows, const std::function<int(int tty)>& host);

// The steps RunOnTerminal is made of, for a test that leads its session
// itself. In a forked child: makes it the leader of a new session whose
// controlling terminal and standard error are tty, with LANG=lang and
// neither LC_ALL nor LC_CTYPE.
void LeadSessionOn(int tty, const char* lang);

// Appends what reaches the terminal to screen, read from its master side,
// until every process of the session has closed the terminal or nothing
// came for the given time (the test's timeout is the real limit; this keeps
// a read from hanging). After each piece, seen (when given) is called with
// the screen so far.
void ReadScreen(int master, int milliseconds, std::string& screen,
                const std::function<void(const std::string& screen)>& seen = nullptr);

// Waits for a job's process to end or to stop; a stopped one is killed and
// reaped. Its exit code, SESSION_STOPPED when it stopped, SESSION_FAILED when
// a signal ended it.
int WaitForJob(pid_t job);
