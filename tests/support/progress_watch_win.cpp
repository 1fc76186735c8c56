// Watching the run's progress window under the Windows dialog manager
// (progress_watch.h).
#include "progress_watch.h"
#include "screenshot_win.h"

#include <string.h>

#include <atomic>
#include <fstream>
#include <thread>

const char ProgressCaption[] = "Run external preprocessor plug-in";

namespace {

enum { TICK_MS = 50, PING_EVERY_MS = 500, PING_TIMEOUT_MS = 500, PROGRESS_TIME_ID = 1011 };

struct Watch {
    const ProgressPlan* plan;
    ProgressSeen* seen;
    HWND owner;
    HWND window;
    DWORD start;
    DWORD appeared;
    bool acted, ranWhileShown, tookShot;
    UINT_PTR timer;
    HHOOK hook;
    std::thread pinger;
    std::thread treeWatcher;
    std::atomic<bool> stop;
};

Watch* Current = nullptr;

std::string TextOf(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// The static control without an id, which Windows gives the id 0xFFFF.
std::string Label(HWND window) {
    return TextOf(GetDlgItem(window, 0xFFFF));
}

// Asks the owner window, from this thread, whether it answers, every half
// second until told to stop. A reply that comes after the stop is not
// counted: the run has ended and the test thread no longer pumps.
void Ping(Watch* watch) {
    while (!watch->stop) {
        DWORD_PTR result = 0;
        DWORD begin = GetTickCount();
        LRESULT answered =
            SendMessageTimeoutA(watch->owner, WM_NULL, 0, 0, SMTO_NORMAL, PING_TIMEOUT_MS, &result);
        DWORD took = GetTickCount() - begin;
        // The run re-enables the owner as its loop ends: a reply after that
        // is not the loop's to give.
        if (watch->stop || IsWindowEnabled(watch->owner))
            break;
        watch->seen->pings++;
        if (answered != 0)
            watch->seen->pingsAnswered++;
        if (took > watch->seen->slowestPing)
            watch->seen->slowestPing = took;
        for (int i = 0; i < PING_EVERY_MS / 10 && !watch->stop; i++)
            Sleep(10);
    }
}

// The first look at the window: what it shows, whose it is, where it is.
void Inspect(Watch* watch, HWND window) {
    ProgressSeen& seen = *watch->seen;
    seen.caption = TextOf(window);
    seen.label = Label(window);
    char text[1024] = {};
    GetDlgItemTextA(window, 1010, text, sizeof text);
    seen.command = text;
    GetDlgItemTextA(window, PROGRESS_TIME_ID, text, sizeof text);
    seen.times.push_back(text);
    HWND cancel = GetDlgItem(window, IDCANCEL);
    seen.cancelButton = cancel != nullptr && TextOf(cancel) == "Cancel";
    seen.cancelStyledDefault =
        cancel != nullptr && (GetWindowLongA(cancel, GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON;
    LRESULT id = SendMessageA(window, DM_GETDEFID, 0, 0);
    seen.defaultId = HIWORD(id) == DC_HASDEFID ? LOWORD(id) : 0;
    HWND owner = GetWindow(window, GW_OWNER);
    seen.ownedByHost = owner != nullptr && owner == watch->owner;
    MONITORINFO monitor;
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoA(MonitorFromWindow(watch->owner, MONITOR_DEFAULTTOPRIMARY), &monitor))
        seen.workArea = monitor.rcWork;
    GetWindowRect(window, &seen.rect);
    RECT mine, theirs;
    if (GetWindowRect(window, &mine) && GetWindowRect(watch->owner, &theirs)) {
        LONG dx = (mine.left + mine.right) - (theirs.left + theirs.right);
        LONG dy = (mine.top + mine.bottom) - (theirs.top + theirs.bottom);
        seen.centreOffset = (int)((labs(dx) + labs(dy)) / 2);
    }
}

// Whether the program has written its own id and its child's.
bool TreeStarted(const std::string& file) {
    unsigned long ids[2] = {0, 0};
    std::ifstream(file) >> ids[0] >> ids[1];
    return ids[1] != 0;
}

// From the action on: how long the program and its child take to end.
void WatchTree(const std::string& file, DWORD acted, ProgressSeen* seen) {
    unsigned long ids[2] = {0, 0};
    std::ifstream(file) >> ids[0] >> ids[1];
    long* ended[2] = {&seen->programEndedAfter, &seen->childEndedAfter};
    for (int i = 0; i < 2; i++) {
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, (DWORD)ids[i]);
        if (process == nullptr) {
            // Gone already, or never there.
            *ended[i] = ids[i] != 0 ? (long)(GetTickCount() - acted) : -1;
            continue;
        }
        DWORD waited = GetTickCount() - acted;
        if (waited < 5000 && WaitForSingleObject(process, 5000 - waited) == WAIT_OBJECT_0)
            *ended[i] = (long)(GetTickCount() - acted);
        CloseHandle(process);
    }
}

void Act(HWND window, ProgressAction action) {
    switch (action) {
    case ProgressAction::ClickCancel:
        PostMessageA(GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0);
        break;
    case ProgressAction::Escape:
        PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 1);
        break;
    case ProgressAction::CloseBox:
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    case ProgressAction::DestroyOwner:
        DestroyWindow(GetWindow(window, GW_OWNER));
        break;
    case ProgressAction::None:
        break;
    }
}

// Runs inside whatever message loop dispatches the thread's timer messages:
// while the run goes on, only the run's.
void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    Watch* watch = Current;
    if (watch == nullptr || watch->window == nullptr || !IsWindow(watch->window))
        return;
    HWND window = watch->window;
    ProgressSeen& seen = *watch->seen;
    DWORD since = GetTickCount() - watch->appeared;
    if (IsWindowVisible(window) && IsWindowEnabled(watch->owner))
        seen.ownerEnabledWhileShown = true;
    char time[256] = {};
    GetDlgItemTextA(window, PROGRESS_TIME_ID, time, sizeof time);
    if (seen.times.empty() || seen.times.back() != time)
        seen.times.push_back(time);
    const ProgressPlan& plan = *watch->plan;
    if (plan.screenshot != nullptr && !watch->tookShot && since >= 700) {
        watch->tookShot = true;
        seen.screenshotSaved = SaveScreenshot(window, plan.screenshot);
    }
    if (plan.whileShown && !watch->ranWhileShown && since >= plan.whileShownAfter) {
        watch->ranWhileShown = true;
        plan.whileShown();
    }
    // On a slow machine the program's child may come late: the action waits.
    if (plan.action != ProgressAction::None && !watch->acted && since >= plan.actAfter &&
        (plan.tree.empty() || TreeStarted(plan.tree))) {
        watch->acted = true;
        seen.actedAt = GetTickCount() - watch->start;
        if (!plan.tree.empty())
            watch->treeWatcher = std::thread(WatchTree, plan.tree, GetTickCount(), &seen);
        Act(window, plan.action);
    }
}

LRESULT CALLBACK SeeActivation(int code, WPARAM wParam, LPARAM lParam) {
    Watch* watch = Current;
    if (code == HCBT_ACTIVATE && watch != nullptr) {
        HWND window = reinterpret_cast<HWND>(wParam);
        if (TextOf(window) == ProgressCaption) {
            watch->seen->shown++;
            if (watch->window == nullptr) {
                watch->window = window;
                watch->appeared = GetTickCount();
                watch->seen->appearedAt = watch->appeared - watch->start;
                Inspect(watch, window);
                watch->timer = SetTimer(nullptr, 0, TICK_MS, Tick);
                if (watch->plan->pingOwner)
                    watch->pinger = std::thread(Ping, watch);
            }
        } else if (watch->window != nullptr && IsWindow(watch->window)) {
            char className[64] = {};
            GetClassNameA(window, className, sizeof className);
            if (strcmp(className, "#32770") == 0)
                watch->seen->boxesWhileShown++;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

std::vector<Box> CallWatchingProgress(LoadedPlugin& plugin, FakeHost& host,
                                      const ProgressPlan& plan, ProgressSeen& seen) {
    seen = ProgressSeen();
    Watch watch;
    watch.plan = &plan;
    watch.seen = &seen;
    watch.owner = nullptr;
    watch.window = nullptr;
    watch.start = watch.appeared = 0;
    watch.acted = watch.ranWhileShown = watch.tookShot = false;
    watch.timer = 0;
    watch.hook = nullptr;
    watch.stop = false;
    Current = &watch;
    std::vector<Box> boxes = plugin.Call(
        host,
        [&] {
            // The owner is a window on the screen, as a host's is, large
            // enough that a window centred on it lies on the screen too.
            watch.owner = host.context.OwnerWindow;
            if (plan.arrangeOwner)
                plan.arrangeOwner(watch.owner);
            else
                SetWindowPos(watch.owner, nullptr, 160, 120, 640, 480,
                             SWP_NOZORDER | SWP_SHOWWINDOW);
            watch.hook = SetWindowsHookExA(WH_CBT, SeeActivation, nullptr, GetCurrentThreadId());
            watch.start = GetTickCount();
        },
        [&] {
            seen.returnedAt = GetTickCount() - watch.start;
            watch.stop = true;
            seen.windowGoneAtReturn = watch.window == nullptr || !IsWindow(watch.window);
            seen.ownerEnabledAfter = IsWindowEnabled(watch.owner) != FALSE;
            UnhookWindowsHookEx(watch.hook);
        });
    if (watch.pinger.joinable())
        watch.pinger.join();
    if (watch.treeWatcher.joinable())
        watch.treeWatcher.join();
    if (watch.timer != 0)
        KillTimer(nullptr, watch.timer);
    Current = nullptr;
    return boxes;
}
