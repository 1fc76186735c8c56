// Reading /proc (proc.h).
#include "posix/proc.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

// f_type of the proc file system (linux/magic.h).
static const long ProcSuperMagic = 0x9fa0;

bool IsLiving(const ProcessStat* stat) {
    return stat->state != 'Z' && stat->state != 'X' && stat->state != 'x';
}

// Reads a decimal number at *at, skipping one blank before it; false when
// there is none. Leaves *at after its last digit.
static bool ReadNumber(const char** at, const char* end, unsigned long long* value) {
    const char* p = *at;
    if (p < end && *p == ' ')
        p++;
    bool negative = p < end && *p == '-';
    if (negative)
        p++;
    if (p >= end || *p < '0' || *p > '9')
        return false;
    unsigned long long number = 0;
    while (p < end && *p >= '0' && *p <= '9')
        number = number * 10 + (unsigned long long)(*p++ - '0');
    *value = negative ? 0 - number : number;
    *at = p;
    return true;
}

bool ParseProcessStat(const char* text, size_t length, ProcessStat* stat) {
    const char* end = text + length;
    const char* at = text;
    unsigned long long pid;
    if (!ReadNumber(&at, end, &pid))
        return false;
    const char* close = NULL;
    for (const char* p = at; p < end; p++) {
        if (*p == ')')
            close = p;
    }
    if (close == NULL || end - close < 4 || close[1] != ' ')
        return false;
    stat->pid = (pid_t)pid;
    stat->state = close[2];
    at = close + 3;
    // Fields 4 (the parent) to 22 (the start time).
    unsigned long long fields[19];
    for (unsigned long long& field : fields) {
        if (!ReadNumber(&at, end, &field))
            return false;
    }
    stat->parent = (pid_t)fields[0];
    stat->group = (pid_t)fields[1];
    stat->session = (pid_t)fields[2];
    stat->startTime = fields[18];
    return true;
}

// Writes "/proc/PID/stat" into path (room for 32 bytes).
static void StatPath(pid_t pid, char* path) {
    char digits[16];
    int count = 0;
    unsigned long value = (unsigned long)pid;
    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0 && count < (int)sizeof digits);
    const char head[] = "/proc/";
    const char tail[] = "/stat";
    int at = 0;
    for (const char* p = head; *p != '\0'; p++)
        path[at++] = *p;
    while (count > 0)
        path[at++] = digits[--count];
    for (const char* p = tail; *p != '\0'; p++)
        path[at++] = *p;
    path[at] = '\0';
}

bool ReadProcessStat(pid_t pid, ProcessStat* stat) {
    char path[32];
    StatPath(pid, path);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char text[1024];
    ssize_t got;
    do {
        got = read(fd, text, sizeof text);
    } while (got < 0 && errno == EINTR);
    close(fd);
    return got > 0 && ParseProcessStat(text, (size_t)got, stat) && stat->pid == pid;
}

unsigned long long TicksSinceBoot() {
    struct timespec now;
    clock_gettime(CLOCK_BOOTTIME, &now);
    long perSecond = sysconf(_SC_CLK_TCK);
    if (perSecond <= 0)
        perSecond = 100;
    return (unsigned long long)now.tv_sec * (unsigned long long)perSecond +
           (unsigned long long)now.tv_nsec / (1000000000ULL / (unsigned long long)perSecond);
}

bool OpenProcessList(ProcessList* list) {
    list->size = list->at = 0;
    list->fd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (list->fd < 0)
        return false;
    struct statfs info;
    if (fstatfs(list->fd, &info) != 0 || info.f_type != ProcSuperMagic) {
        close(list->fd);
        list->fd = -1;
        errno = ENOENT;
        return false;
    }
    return true;
}

pid_t NextProcess(ProcessList* list) {
    for (;;) {
        if (list->at >= list->size) {
            ssize_t got = getdents64(list->fd, list->buffer, sizeof list->buffer);
            if (got <= 0)
                return 0;
            list->size = (long)got;
            list->at = 0;
        }
        const struct dirent64* entry = (const struct dirent64*)(list->buffer + list->at);
        list->at += entry->d_reclen;
        const char* name = entry->d_name;
        if (name[0] < '1' || name[0] > '9')
            continue; // ".", "self", "sys"...
        long pid = 0;
        for (; *name >= '0' && *name <= '9'; name++)
            pid = pid * 10 + (*name - '0');
        if (*name == '\0')
            return (pid_t)pid;
    }
}

void RewindProcessList(ProcessList* list) {
    lseek(list->fd, 0, SEEK_SET);
    list->size = list->at = 0;
}

void CloseProcessList(ProcessList* list) {
    if (list->fd >= 0)
        close(list->fd);
    list->fd = -1;
}
