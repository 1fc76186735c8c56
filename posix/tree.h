// Finding and ending a tree of processes, for the platform layer's jobs and
// plugin-host's interruptions alike. Linux keeps no record of the processes
// a program started once they leave its process group (setsid, setpgid) or
// lose their parent, so the tree is found in /proc: the root's descendants
// by parent, the members of a process group, and, for a child subreaper,
// the orphans it adopted. Every process found is opened as a process file
// descriptor and checked again before it is signalled, so a process id
// that was reused meanwhile is never signalled. Fixed arrays only: nothing
// here allocates, and a tree larger than the array is found by walking
// again.
#pragma once

#include <stddef.h>
#include <sys/types.h>

enum {
    TREE_CAPACITY = 256, // members one walk holds
    TREE_ROUNDS = 25,    // rounds of EndTree before it gives up
};

struct TreeMember {
    pid_t pid;
    unsigned long long startTime; // clock ticks after boot: with the pid, names the process
    int handle;                   // a process file descriptor, -1 where the kernel has none
    bool parent;                  // EndTree: it has living children
    bool killed;                  // EndTree: this round has killed it
};

struct ProcessTree {
    // What belongs to the tree, set by the caller. The calling process
    // itself never does.
    pid_t root;        // the descendants of this process (0: none by descent)
    bool rootIncluded; // and the root itself
    pid_t group;       // every member of this process group (0: none)
    // The calling process's own children started at or after since (clock
    // ticks after boot, as TicksSinceBoot gives) that startedHere does not
    // claim: orphans adopted by a child subreaper.
    bool adopt;
    unsigned long long since;
    bool (*startedHere)(pid_t pid); // NULL: the caller claims none
    // What the last walk found.
    TreeMember members[TREE_CAPACITY];
    size_t count;
    bool full; // more members than room: the rest are left for another walk
};

// Whether the calling process is a child subreaper
// (prctl(PR_GET_CHILD_SUBREAPER)): orphans beneath it become its children.
bool IsSubreaper();

// Finds the living processes of the tree (neither zombies nor dead), in
// passes over /proc until a pass finds nothing new or the members are full.
// Each process found is opened as a process file descriptor and read again:
// it is taken only when it still lives with the start time it was found
// with. With a signal other than 0, the group (when set) gets it first and
// each member as soon as it is taken: SIGSTOP keeps every member from
// starting more while the walk goes on. Returns the number of members, or
// -1 with errno when /proc cannot be read (ENOENT: something else is
// mounted there). The members keep their descriptors until ReleaseTree.
int FindTree(ProcessTree* tree, int signal);

// Sends a signal to one member, through its descriptor where it has one.
void SignalMember(const TreeMember* member, int signal);

// Closes the members' descriptors and forgets them.
void ReleaseTree(ProcessTree* tree);

// Ends the tree at once: rounds of FindTree with SIGSTOP, then SIGKILL to
// each member and to the group, and a wait until each member has ended;
// until a round finds nothing living, or TREE_ROUNDS rounds have passed (a
// process in uninterruptible sleep may outlast them). A round whose walk
// filled the array kills only the members without living children and
// leaves the others stopped, so that what the walk has not reached keeps
// its parent and the next round finds it; a tree peels off so, a full
// array at a time. Returns the number of processes the first round found
// (0: nothing was left to end), or -1 with errno when /proc cannot be
// read, and then signals nothing.
int EndTree(ProcessTree* tree);

// Whether the calling process has any child, running or ended but not yet
// reaped; one system call, no /proc.
bool HasChildren();

// The calling process's children, running or ended but not yet reaped,
// found without /proc: every process id given out since the caller's own,
// up to the newest (that of a thread started for the purpose: threads take
// their ids from the same counter), is asked with waitid, which neither
// waits nor reaps here, whether it is a child; after the ids wrapped
// around, from the caller's own to the kernel's limit and then from the
// lowest. Nothing is asked when the caller has no child at all. Fills
// children with at most capacity ids and returns how many it found.
size_t ListChildren(pid_t* children, size_t capacity);
