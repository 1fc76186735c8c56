// Message boxes of the Linux layer on a real terminal. A child process leads
// a session on a pseudo-terminal of its own, whose slave side is its
// controlling terminal and its standard error; it shows a box itself (in
// the foreground), or has a process of another group show it (a background
// job), and reports how that process ended. The parent reads the screen on
// the master side and presses Enter once the box is drawn.
#include <windows.h>

#include "support/terminal_session.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// What a program's standard error may bring: tabs, an escape sequence, a
// bell, a long line, bytes that are not UTF-8, a C1 control character
// (U+009B, which some terminals take as the start of a sequence), CR LF.
const std::string Awkward = std::string("tab\there\n") + "esc\x1b[2Jbell\x07\n" +
                            std::string(100, 'x') + "\n" +
                            "bad\xff\xfe caf\xc3\xa9 c1\xc2\x9b\r\n" + "end";

enum class Where {
    Foreground,       // the session leader shows the box
    Background,       // a process of another group shows it
    SentToBackground, // it shows it in the foreground, then is moved out
};

enum Ending { RETURNED = 1, STOPPED = 2, OTHER = 3 };

// Shows the box in the process that `where` names and returns how that
// process ended; runs in the session leader.
int ShowIn(Where where, int tty, int control, const char* text) {
    if (where == Where::Foreground)
        return MessageBoxA(nullptr, text, "Cap", MB_OK) == IDOK ? RETURNED : OTHER;
    signal(SIGTTOU, SIG_IGN); // the leader hands the terminal over as a shell does
    int ready[2];
    if (pipe(ready) != 0)
        return OTHER;
    pid_t job = fork();
    if (job == 0) {
        setpgid(0, 0);
        char go;
        if (read(ready[0], &go, 1) != 1)
            _exit(OTHER);
        _exit(MessageBoxA(nullptr, text, "Cap", MB_OK) == IDOK ? RETURNED : OTHER);
    }
    setpgid(job, job);
    if (where == Where::SentToBackground)
        tcsetpgrp(tty, job);
    if (write(ready[1], "g", 1) != 1)
        return OTHER;
    char moved;
    if (where == Where::SentToBackground && read(control, &moved, 1) == 1)
        tcsetpgrp(tty, getpgrp());
    int ending = WaitForJob(job);
    return ending == SESSION_STOPPED ? STOPPED : ending == SESSION_FAILED ? OTHER : ending;
}

struct Shown {
    std::string screen; // what reached the terminal, with CR LF made LF
    int ending;
};

// Runs the box on a new terminal `columns` wide under the given LANG. Once
// the box is on the screen the parent presses Enter, or, for
// SentToBackground, has the leader move the box's process out of the
// foreground.
Shown Show(Where where, const std::string& text, int columns, const char* lang) {
    int master = -1, slave = -1, report[2], control[2];
    struct winsize size = {24, (unsigned short)columns, 0, 0};
    EXPECT_EQ(0, openpty(&master, &slave, nullptr, nullptr, &size));
    EXPECT_EQ(0, pipe(report));
    EXPECT_EQ(0, pipe(control));
    pid_t leader = fork();
    if (leader == 0) {
        close(master);
        LeadSessionOn(slave, lang);
        int ending = ShowIn(where, slave, control[0], text.c_str());
        _exit(write(report[1], &ending, sizeof ending) == (ssize_t)sizeof ending ? 0 : 1);
    }
    close(slave);
    close(report[1]);
    close(control[0]);
    Shown shown = {"", OTHER};
    bool answered = false;
    ReadScreen(master, 10000, shown.screen, [&](const std::string& screen) {
        // The box is drawn once its last rule follows the button.
        size_t button = screen.find("press Enter");
        if (!answered && button != std::string::npos &&
            screen.find("+\r\n", button) != std::string::npos) {
            answered = true;
            if (where == Where::SentToBackground)
                EXPECT_EQ(1, write(control[1], "m", 1));
            else
                EXPECT_EQ(1, write(master, "\r", 1));
        }
    });
    EXPECT_EQ((ssize_t)sizeof shown.ending, read(report[0], &shown.ending, sizeof shown.ending));
    waitpid(leader, nullptr, 0);
    close(master);
    close(report[0]);
    close(control[1]);
    std::string screen;
    for (size_t i = 0; i < shown.screen.size(); i++) {
        if (!(shown.screen[i] == '\r' && i + 1 < shown.screen.size() &&
              shown.screen[i + 1] == '\n'))
            screen += shown.screen[i];
    }
    shown.screen = screen;
    return shown;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

// Columns of a line of UTF-8 without wide characters.
size_t Columns(const std::string& line) {
    size_t count = 0;
    for (char c : line)
        count += ((unsigned char)c & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

bool HasC1Byte(const std::string& text, bool utf8) {
    for (size_t i = 0; i < text.size(); i++) {
        unsigned char c = (unsigned char)text[i];
        bool continuation = utf8 && i > 0 && (unsigned char)text[i - 1] >= 0xC0;
        if (c >= 0x80 && c < 0xA0 && !continuation)
            return true;
    }
    return false;
}

TEST(Message, FramedBoxShowsEveryByteVisiblyWithinTheTerminal) {
    Shown shown = Show(Where::Foreground, Awkward, 40, "C.UTF-8");
    EXPECT_EQ(RETURNED, shown.ending);
    const std::string& screen = shown.screen;
    EXPECT_EQ(std::string::npos, screen.find('\x1b')) << "an escape sequence reached the terminal";
    EXPECT_EQ(std::string::npos, screen.find('\x07'));
    EXPECT_EQ(std::string::npos, screen.find("\xc2\x9b"));
    EXPECT_EQ(std::string::npos, screen.find('\r'));
    EXPECT_NE(std::string::npos, screen.find("| tab     here "));
    EXPECT_NE(std::string::npos, screen.find("| esc^[[2Jbell^G "));
    EXPECT_NE(std::string::npos, screen.find("| bad?? caf\xc3\xa9 c1? "));
    EXPECT_NE(std::string::npos, screen.find("| end "));
    // 100 characters in a box of 36: rows of 36, 36 and 28.
    EXPECT_NE(std::string::npos, screen.find("| " + std::string(36, 'x') + " |\n"));
    EXPECT_NE(std::string::npos, screen.find("| " + std::string(28, 'x') + std::string(8, ' ')));
    size_t width = 0, rows = 0;
    for (const std::string& line : Lines(screen)) {
        if (line.empty() || (line[0] != '|' && line[0] != '+'))
            continue;
        if (width == 0)
            width = Columns(line);
        EXPECT_EQ(width, Columns(line)) << line;
        rows++;
    }
    EXPECT_EQ(40u, width);
    EXPECT_EQ(13u, rows) << screen; // 3 rules, caption, 7 rows of text, blank, button
}

TEST(Message, FramedBoxOnAnEightBitTerminalKeepsItsControlBytesOut) {
    Shown shown = Show(Where::Foreground, Awkward, 80, "C");
    EXPECT_EQ(RETURNED, shown.ending);
    EXPECT_FALSE(HasC1Byte(shown.screen, false));
    EXPECT_EQ(std::string::npos, shown.screen.find('\x1b'));
    // 0xC3 0xA9 are letters there; 0xC2 is one, 0x9B a control byte.
    EXPECT_NE(std::string::npos, shown.screen.find("| bad\xff\xfe caf\xc3\xa9 c1\xc2? "));
    EXPECT_NE(std::string::npos, shown.screen.find("| " + std::string(76, 'x') + " |\n"));
}

TEST(Message, BackgroundJobWritesOneLineAndIsNeverStopped) {
    Shown shown = Show(Where::Background, Awkward, 80, "C.UTF-8");
    EXPECT_EQ(RETURNED, shown.ending) << "the job was stopped, or the box failed";
    EXPECT_EQ(std::string::npos, shown.screen.find("press Enter"));
    EXPECT_EQ(std::string::npos, shown.screen.find('\x1b'));
    EXPECT_FALSE(HasC1Byte(shown.screen, true));
    std::string expected = std::string("Cap: tab\there\n") + "esc^[[2Jbell^G\n" +
                           std::string(100, 'x') + "\n" + "bad?? caf\xc3\xa9 c1?\nend\n";
    EXPECT_EQ(expected, shown.screen);
}

TEST(Message, BoxMovedOutOfTheForegroundWhileWaitingEndsWithoutStopping) {
    Shown shown = Show(Where::SentToBackground, "wait", 80, "C.UTF-8");
    EXPECT_NE(std::string::npos, shown.screen.find("press Enter"));
    EXPECT_EQ(RETURNED, shown.ending) << "the job was stopped, or the box failed";
}

// Where standard error is no terminal, the line carries the text's bytes
// exactly: what reads it (a test, a log) gets what the program wrote.
TEST(Message, OneLineFormCarriesTheBytesAsTheyAre) {
    int errors[2];
    ASSERT_EQ(0, pipe(errors));
    pid_t child = fork();
    if (child == 0) {
        setsid(); // no controlling terminal either
        dup2(errors[1], STDERR_FILENO);
        _exit(MessageBoxA(nullptr, Awkward.c_str(), "Execute Error!", MB_OK) == IDOK ? 0 : 1);
    }
    close(errors[1]);
    std::string got;
    char buffer[4096];
    for (ssize_t n; (n = read(errors[0], buffer, sizeof buffer)) > 0;)
        got.append(buffer, (size_t)n);
    close(errors[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ("Execute Error!: " + Awkward + "\n", got);
}

} // namespace
