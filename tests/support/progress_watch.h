// Watching the run's progress window under the Windows dialog manager (Wine
// in Xvfb here): a thread-local CBT hook sees the window when it is
// activated, and a thread timer, which only the run's own message loop can
// dispatch, then reads the window, acts on it as a user would and, on
// request, has another thread ask the host's window whether it answers.
// Times are measured from the events themselves, not from OnCall's return:
// under Wine in Xvfb, without a window manager, destroying a window that
// was shown takes two seconds of Wine's own.
#pragma once

#include "plugin_fixture.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// The caption of the progress window.
extern const char ProgressCaption[];

// What the user does once the window has been up for a while.
enum class ProgressAction {
    None,
    ClickCancel,  // BM_CLICK posted to the Cancel button
    Escape,       // WM_KEYDOWN VK_ESCAPE posted to the window
    CloseBox,     // WM_SYSCOMMAND SC_CLOSE posted to the window
    DestroyOwner, // the host's window destroyed (a document window closed)
};

struct ProgressPlan {
    // Puts the host's window where the test wants it before OnCall; unset:
    // shown at 160, 120, 640 by 480, on the screen as a host's window is.
    std::function<void(HWND owner)> arrangeOwner;
    ProgressAction action = ProgressAction::None;
    DWORD actAfter = 500; // milliseconds after the window appeared
    // Runs once, from the timer (inside the run's message loop), this many
    // milliseconds after the window appeared.
    std::function<void()> whileShown;
    DWORD whileShownAfter = 300;
    // Every half second while the window shows, another thread sends WM_NULL
    // to the host's window with SendMessageTimeoutA (500 ms).
    bool pingOwner = false;
    // Where to save a PNG of the window, 700 ms after it appeared; NULL for none.
    const char* screenshot = nullptr;
    // A file in which the program writes its own process id and its child's
    // ("tree" mode): the action waits for both ids, and from the action on
    // another thread waits for both processes to end.
    std::string tree;
};

struct ProgressSeen {
    int shown = 0;                  // activations of the progress window
    DWORD appearedAt = 0;           // milliseconds from OnCall to the first
    DWORD actedAt = 0;              // milliseconds from OnCall to the action, 0 for none
    DWORD returnedAt = 0;           // milliseconds from OnCall to its return
    std::string caption;            // as the first look at the window found it
    std::string label;              // the static text without an id
    std::string command;            // control 1010
    std::vector<std::string> times; // control 1011, each text it showed, from the first look
    bool cancelButton = false;      // a button with id IDCANCEL, "Cancel"
    int defaultId = 0;              // DM_GETDEFID's id, 0 for none
    bool cancelStyledDefault = false;
    bool ownedByHost = false;
    int centreOffset = -1;               // pixels between its centre and the owner's
    RECT rect = {0, 0, 0, 0};            // where it was at the first look
    RECT workArea = {0, 0, 0, 0};        // of the owner's monitor, at the first look
    bool ownerEnabledWhileShown = false; // at any look while it showed
    bool ownerEnabledAfter = false;
    bool windowGoneAtReturn = false;
    int boxesWhileShown = 0; // other dialogs and boxes activated while it existed
    bool screenshotSaved = false;
    // Pings sent while the run's loop went on (the owner still disabled
    // when the reply came), how many were answered, and the slowest.
    int pings = 0, pingsAnswered = 0;
    DWORD slowestPing = 0; // milliseconds
    // Milliseconds from the action to the end of the program and of its
    // child; -1 when one had not ended five seconds after the action.
    long programEndedAfter = -1, childEndedAfter = -1;
};

// OnCall with the progress window watched and acted on as the plan says;
// the message boxes are captured and dismissed as by LoadedPlugin::Call.
std::vector<Box> CallWatchingProgress(LoadedPlugin& plugin, FakeHost& host,
                                      const ProgressPlan& plan, ProgressSeen& seen);
