// Interrupted runs. A signal that ends plugin-host (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT; Ctrl-C and Ctrl-Break on Windows) ends every program it started
// as well, lets the plug-in's run unwind (the program's end makes the run
// keep the text, and the run removes its own temporary files), writes no
// text, and makes plugin-host exit with 128 + the signal number.
//
// The host moves through phases, and the phase decides what an interruption
// does:
//   idle     nothing to unwind: the programs are ended and the host exits;
//   running  the plug-in is in OnCall, or a copy of a new text is being
//            written: the programs are ended, the host's main thread is woken
//            from any wait (a message box waiting for Enter), messages are
//            muted, and the main thread unwinds and asks InterruptStatus;
//   commit   a file's new text is being put in place: the interruption waits
//            for that step to end, then acts as when idle;
//   output   the new text is being written to standard output: the host
//            exits at once, as any filter ended mid-write;
//   unwinding the main thread knows of the interruption and is finishing:
//            a further interruption changes nothing.
// An interruption is taken under the lock the main thread changes phase
// under, and the main thread also looks for one still pending there, so the
// main thread never starts to write a text after an interruption has come.
#pragma once

// Takes over the interrupting signals that are not ignored when plugin-host
// starts; an ignored one stays ignored (nohup, a shell's background job).
// Called once, before the first run.
void TakeOverInterrupts();

// Enter and leave the running phase; EnterRunning is false when an
// interruption came first.
bool EnterRunning();
void LeaveRunning();

// Enter and leave the commit phase; EnterCommit is false when an
// interruption came first.
bool EnterCommit();
void LeaveCommit();

// Enter and leave the output phase; EnterOutput is false when an
// interruption came first.
bool EnterOutput();
void LeaveOutput();

// 0, or the exit status an interruption asks for (128 + the signal number),
// as known at the last change of phase.
int InterruptStatus();

// Ends whatever the programs left running after an interruption and returns
// the exit status, having said what happened.
int FinishInterrupted();

// Reaps the orphans plugin-host adopted (as a child subreaper) that have
// ended, so that none is left a zombie. Called outside OnCall only, after
// each run and at exit: the plug-in has reaped its own program by then, so
// no exit status it waits for is ever taken.
void ReapOrphans();

// --- Used by interrupt.cpp, implemented per platform (interrupt_*.cpp) -------

// Called on the thread that receives interruptions when one may have come:
// take() removes it and returns the exit status it asks for (0: none), and
// is called under the lock that the main thread changes phase under.
void OnInterrupt(int (*take)());

// The exit status of an interruption that has come but that the receiving
// thread has not taken yet, or 0. Called by the main thread under the same
// lock.
int PendingInterrupt();

// Asks every process plugin-host started, and every process those started,
// to end: forcefully, or politely (a first warning each) where the platform
// has the difference. Whether any of them was still running. (On Windows
// the plug-in's run ends its own job when WakeMainThread cancels it.)
bool SignalDescendants(bool forcefully);

// Wakes the main thread from a wait it would not leave by itself (on
// Windows also the run's wait, which it ends as Cancel does).
void WakeMainThread();

// Sends the plug-in's messages nowhere from now on; plugin-host's own still
// go where they went.
void MuteMessages();

// Ends plugin-host at once with the exit status.
[[noreturn]] void ExitAtOnce(int status);

// Waits a short moment between rounds of ending processes.
void PauseBriefly();

// What an exit status of an interruption stands for, e.g. "SIGINT".
const char* InterruptName(int status);
