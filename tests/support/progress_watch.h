// Watching the run's progress window under the Windows dialog manager (Wine
// in Xvfb here): a thread-local CBT hook sees the window when it is
// activated, and a thread timer, which only the run's own message loop can
// dispatch, then reads the window, acts on it as a user would and, on
// request, has another thread ask the host's window whether it answers.
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
    ClickCancel, // BM_CLICK posted to the Cancel button
    Escape,      // WM_KEYDOWN VK_ESCAPE posted to the window
    CloseBox,    // WM_SYSCOMMAND SC_CLOSE posted to the window
};

struct ProgressPlan {
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
};

struct ProgressSeen {
    int shown = 0;                  // activations of the progress window
    DWORD appearedAt = 0;           // milliseconds from OnCall to the first
    DWORD actedAt = 0;              // milliseconds from OnCall to the action, 0 for none
    DWORD returnedAt = 0;           // milliseconds from OnCall to its return
    std::string caption;            // as the first look at the window found it
    std::string label;              // the static text without an id
    std::string command;            // control 1010
    std::vector<std::string> times; // control 1011, each text it showed
    bool cancelButton = false;      // a button with id IDCANCEL, "Cancel"
    int defaultId = 0;              // DM_GETDEFID's id, 0 for none
    bool cancelStyledDefault = false;
    bool ownedByHost = false;
    int centreOffset = -1;               // pixels between its centre and the owner's
    bool ownerEnabledWhileShown = false; // at any look while it showed
    bool ownerEnabledAfter = false;
    bool windowGoneAtReturn = false;
    int boxesWhileShown = 0; // other dialogs and boxes activated while it existed
    bool screenshotSaved = false;
    int pings = 0, pingsAnswered = 0;
    DWORD slowestPing = 0; // milliseconds
};

// OnCall with the progress window watched and acted on as the plan says;
// the message boxes are captured and dismissed as by LoadedPlugin::Call.
std::vector<Box> CallWatchingProgress(LoadedPlugin& plugin, FakeHost& host,
                                      const ProgressPlan& plan, ProgressSeen& seen);
