// Driving the real module from a test: a private copy of the module in a
// directory of its own (so its settings file is the test's own), a fake host
// whose callbacks record what the plug-in does, and the message boxes the
// plug-in shows, captured and dismissed.
#pragma once

#include "host/module_loader.h"
#include "plugin.h"
#include "test_system.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

struct Box {
    std::string caption;
    std::string text;
    std::string utf8;         // the text in UTF-8 (on Linux the bytes of text)
    bool ownedByHost = false; // owner is the host's OwnerWindow (Windows only)
    bool hasOwner = false;
};

// What the plug-in asked of the host during one run.
struct FakeHost {
    HostContext context;
    std::string text;               // handed out by GetTargetText
    std::vector<std::string> calls; // callback names, in order
    uint32_t handle = 0xC0FFEE;     // handed out by GetTargetHandle
    std::vector<uint32_t> handlesSeen;
    bool replaced = false;
    std::string replacement; // received by SetTargetText
    // Runs inside GetTargetText, after the input file exists.
    std::function<void()> duringGetText;

    FakeHost();
    void SetText(const char* field, const std::string& value);
};

// The module loaded from a private directory.
class LoadedPlugin {
  public:
    // Copies the module built beside the test program into a new temporary
    // directory, or into dir (which Unload then removes), and loads it from
    // there by its full name, whatever characters it holds.
    bool Load(std::string& error);
    bool LoadIn(const std::string& dir, std::string& error);
    void Unload();
    const std::string& Dir() const {
        return dir_;
    }
    std::string SettingsPath() const;
    // Writes the settings file, then OnInstall with the host's records.
    int32_t Install(FakeHost& host, const std::string& workingDirectory,
                    const std::string& commandLine, PluginInfo* info = nullptr);
    int32_t InstallOnly(FakeHost& host, PluginInfo* info = nullptr);
    // OnCall with message boxes captured (and dismissed). before and after,
    // when given, run right before and right after OnCall, inside the
    // capture (the host's OwnerWindow is set by then).
    std::vector<Box> Call(FakeHost& host, const std::function<void()>& before = {},
                          const std::function<void()>& after = {});
    // OnCall with the host's callbacks recorded and the message boxes going
    // where the platform sends them (a terminal's, on Linux).
    void CallUncaptured(FakeHost& host);
    int32_t Settings();
    // The loaded module's entry points, to call them as a misbehaving host
    // would.
    const PluginModule& Module() const {
        return module_;
    }

  private:
    std::string dir_;
    PluginModule module_;
};

// A suite of runs over one module, loaded for the suite, each test in a new
// working directory of its own that must be empty again at its end but for
// the names in kept: whatever happened, a run leaves no temporary file
// behind.
class PluginRuns : public testing::Test {
  protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // A command line that starts this test program in a child mode.
    static std::string Child(const std::string& mode);

    static LoadedPlugin plugin;
    std::string work;
    std::set<std::string> kept;
    FakeHost host;
};

// How a box's text is compared with the one expected.
enum class BoxText { Is, StartsWith, Holds };

// Whether boxes holds exactly one box, with the caption and the text, owned
// as the run's boxes are: an "Error" box by the host's window, an "Execute
// Error!" box by no window (where the platform gives boxes owners).
testing::AssertionResult IsOnlyBox(const std::vector<Box>& boxes, const std::string& caption,
                                   const std::string& text, BoxText match = BoxText::Holds);

// The settings file's text with the two keys.
std::string SettingsText(const std::string& workingDirectory, const std::string& commandLine);

// The test program itself, quoted, for command lines.
std::string QuotedSelf();

// --- Per platform (plugin_fixture_*.cpp) -------------------------------------

// Whether the boxes of this platform have owners that CaptureBoxes sees.
extern const bool BoxOwnersSeen;

// Loads a module by its path (UTF-8 on Windows, taken by the wide call);
// nullptr with the reason in error.
void* OpenModuleNamed(const std::string& path, std::string& error);

// Runs call with the message boxes it shows captured and dismissed. Where
// boxes have an owner (Windows), the host's OwnerWindow is set first; dir is
// the module's directory, which the capture may use.
std::vector<Box> CaptureBoxes(HostContext& context, const std::string& dir,
                              const std::function<void()>& call);
