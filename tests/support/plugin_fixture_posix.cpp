// Test support on Linux: the message boxes of a call, which go to standard
// error as "<caption>: <text>" lines when it is not a terminal. Standard
// error is a file for the length of the call.
#include "plugin_fixture.h"

#include <stdio.h>

#include <sstream>

#include <fcntl.h>
#include <unistd.h>

const bool BoxOwnersSeen = false;

std::vector<Box> CaptureBoxes(HostContext&, const std::string& dir,
                              const std::function<void()>& call) {
    std::string capture = PathJoin(dir, "boxes.txt");
    fflush(stderr);
    int saved = dup(2);
    int fd = open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(fd, 2);
    close(fd);
    call();
    dup2(saved, 2);
    close(saved);
    std::string text;
    ReadBytes(capture, text);
    unlink(capture.c_str());
    std::vector<Box> boxes;
    static const char* const Captions[] = {"Execute Error!", "Error"};
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        bool started = false;
        for (const char* caption : Captions) {
            std::string prefix = std::string(caption) + ": ";
            if (line.compare(0, prefix.size(), prefix) == 0) {
                Box box;
                box.caption = caption;
                box.text = line.substr(prefix.size());
                boxes.push_back(box);
                started = true;
                break;
            }
        }
        if (!started && !boxes.empty())
            boxes.back().text += "\n" + line;
    }
    for (Box& box : boxes)
        box.utf8 = box.text;
    return boxes;
}

void* OpenModuleNamed(const std::string& path, std::string& error) {
    return OpenModule(path, error);
}
