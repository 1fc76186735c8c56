// The phases of plugin-host and what an interruption does in each (see
// interrupt.h), the same on every platform.
#include "interrupt.h"
#include "host_io.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

namespace {

// PHASE_UNWINDING: the main thread knows of the interruption and is
// finishing; further interruptions change nothing.
enum Phase { PHASE_IDLE, PHASE_RUNNING, PHASE_COMMIT, PHASE_OUTPUT, PHASE_UNWINDING };

// Held by the main thread while it changes phase and for the whole commit
// phase; by the receiving thread while it takes an interruption and decides
// what to do, so that an interruption is either still pending when the main
// thread changes phase or recorded in Status.
std::mutex PhaseLock;
std::atomic<int> CurrentPhase{PHASE_IDLE};
std::atomic<int> Status{0};

// The programs get this long to end after the first polite request, in
// milliseconds.
const long long Grace = 1000;
// And this long after the forceful one, for processes the system has not
// yet taken away (stopped in uninterruptible sleep).
const long long Linger = 2000;

std::mutex EndingLock;
bool EndingBegun = false;
long long EndingStarted = 0;

long long Now() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One round of ending the programs: polite within the grace, forceful after
// it. Whether any was still running.
bool EndingRound() {
    std::lock_guard<std::mutex> hold(EndingLock);
    long long now = Now();
    if (!EndingBegun) {
        EndingBegun = true;
        EndingStarted = now;
    }
    return SignalDescendants(now - EndingStarted >= Grace);
}

long long SinceEndingBegun() {
    std::lock_guard<std::mutex> hold(EndingLock);
    return Now() - EndingStarted;
}

// Rounds until no program is left running, or the system keeps one past
// the grace and the linger.
void EndEveryProgram() {
    while (EndingRound() && SinceEndingBegun() < Grace + Linger)
        PauseBriefly();
}

// Under PhaseLock: whether an interruption has come, taking note of one
// that the receiving thread has not taken yet.
bool Interrupted() {
    if (Status == 0) {
        int none = 0;
        Status.compare_exchange_strong(none, PendingInterrupt());
    }
    return Status != 0;
}

bool Enter(Phase phase) {
    std::lock_guard<std::mutex> hold(PhaseLock);
    bool interrupted = Interrupted();
    CurrentPhase = interrupted ? PHASE_UNWINDING : phase;
    return !interrupted;
}

void Leave() {
    std::lock_guard<std::mutex> hold(PhaseLock);
    CurrentPhase = Interrupted() ? PHASE_UNWINDING : PHASE_IDLE;
}

} // namespace

void OnInterrupt(int (*take)()) {
    PhaseLock.lock();
    int status = take();
    if (status != 0) {
        int none = 0;
        Status.compare_exchange_strong(none, status);
    }
    if (status == 0 || CurrentPhase == PHASE_UNWINDING) {
        PhaseLock.unlock();
        return;
    }
    if (CurrentPhase != PHASE_RUNNING) {
        // Idle or output (a commit holds the lock until it is done).
        EndEveryProgram();
        ExitAtOnce(Status);
    }
    PhaseLock.unlock();
    MuteMessages();
    while (CurrentPhase == PHASE_RUNNING) {
        EndingRound();
        WakeMainThread();
        PauseBriefly();
    }
}

bool EnterRunning() {
    return Enter(PHASE_RUNNING);
}

void LeaveRunning() {
    Leave();
}

bool EnterCommit() {
    PhaseLock.lock();
    if (Interrupted()) {
        CurrentPhase = PHASE_UNWINDING;
        PhaseLock.unlock();
        return false;
    }
    CurrentPhase = PHASE_COMMIT;
    return true;
}

void LeaveCommit() {
    CurrentPhase = PHASE_IDLE;
    PhaseLock.unlock();
}

bool EnterOutput() {
    return Enter(PHASE_OUTPUT);
}

void LeaveOutput() {
    Leave();
}

int InterruptStatus() {
    return Status;
}

int FinishInterrupted() {
    EndEveryProgram();
    int status = Status;
    Say(std::string("ended by ") + InterruptName(status) +
        "; the programs it started were ended and no text was written");
    return status;
}
