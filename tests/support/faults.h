// Real faults for the Linux tests (run as root): a small tmpfs that can be
// filled to the last byte, and a child process that runs as nobody.
#pragma once

#include "test_system.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <grp.h>
#include <pwd.h>

#include <functional>
#include <string>

// A tmpfs of the given size on a fresh directory, unmounted and removed
// again at the end of the scope.
class SmallTmpfs {
  public:
    explicit SmallTmpfs(const char* size = "256k") : dir_(MakeTempDir("ep-tmpfs", "/tmp")) {
        if (dir_.empty())
            return;
        std::string options = std::string("size=") + size + ",mode=0755";
        mounted_ = mount("tmpfs", dir_.c_str(), "tmpfs", 0, options.c_str()) == 0;
        error_ = mounted_ ? 0 : errno;
    }
    ~SmallTmpfs() {
        if (mounted_)
            umount2(dir_.c_str(), MNT_DETACH);
        if (!dir_.empty())
            rmdir(dir_.c_str());
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    bool Mounted() const {
        return mounted_;
    }
    // Why it could not be mounted (EPERM without root).
    std::string Error() const {
        return strerror(error_);
    }
    const std::string& Dir() const {
        return dir_;
    }
    // Writes a filler file until the file system has no byte left.
    bool Fill() const {
        int fd = open((dir_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        char block[4096];
        memset(block, 'f', sizeof block);
        size_t size = sizeof block;
        while (size > 0) {
            ssize_t n = write(fd, block, size);
            if (n < 0 && errno == ENOSPC)
                size /= 2; // the last bytes of the last page too
            else if (n < 0) {
                close(fd);
                return false;
            }
        }
        close(fd);
        return true;
    }

  private:
    std::string dir_;
    bool mounted_ = false;
    int error_ = 0;
};

// The user and group ids of nobody.
inline bool NobodyIds(uid_t* uid, gid_t* gid) {
    struct passwd entry;
    struct passwd* user = nullptr;
    char strings[1024];
    if (getpwnam_r("nobody", &entry, strings, sizeof strings, &user) != 0 || user == nullptr)
        return false;
    *uid = user->pw_uid;
    *gid = user->pw_gid;
    return true;
}

// Runs body in a child process as nobody (its own group, no others) and
// returns the child's exit status, the body's result; 100 when the child
// could not become nobody, -1 when it did not end normally.
inline int RunAsNobody(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
        uid_t uid;
        gid_t gid;
        if (!NobodyIds(&uid, &gid) || setgroups(0, nullptr) != 0 || setgid(gid) != 0 ||
            setuid(uid) != 0)
            _exit(100);
        _exit(body());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}
