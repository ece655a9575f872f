// The recording fake of the platform seam, linked into the native unit tests in place of
// the Win32 side. Tests script what the platform returns (settings, files, windows,
// registry values) and read back what the code asked of it, in order.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/plat_types.h"

struct FakeMessageBox {
    PlatWindow owner;
    std::string text;
    std::string caption;
    unsigned style;
};

struct FakeShellExecute {
    PlatWindow owner;
    std::string verb, file, params, dir;
    bool paramsNull, dirNull;
    int show;
};

struct FakeProfileWrite {
    std::string section, key, value, file;
};

struct FakeRegistryValue {
    unsigned type;
    std::string data;  // the bytes as stored, a REG_SZ with its terminator
};

struct FakeState {
    // --- scripted by the test ---
    std::string commandLine;
    // INI files by lower-cased file name, then lower-cased section and key: the raw text
    // after '=' as it stands in the file.
    std::map<std::string, std::map<std::string, std::map<std::string, std::string>>> ini;
    std::map<PlatWindow, std::string> windowTitles;  // windows that exist, with their titles
    // Files by full path (compared without case), with their bytes.
    std::map<std::string, std::string> files;
    std::map<std::string, bool> directories;          // existing folders by path
    std::map<std::string, bool> lockedFiles;          // open elsewhere: cannot be opened or deleted
    std::map<std::string, std::string> shortPaths;    // long path -> short form
    std::map<std::string, bool> claimedFiles;         // claimed by another run: IN_USE
    std::map<std::string, bool> readOnlyFiles;        // can be claimed and read, not deleted
    // Other names of a folder (a short form, a subst'ed drive) -> the folder's own path,
    // which PlatCanonicalFolderPath resolves; relative paths are taken from currentDirectory.
    std::map<std::string, std::string> folderAliases;
    std::string currentDirectory = "C:\\";
    unsigned ansiCodePage = 1252;
    // Registry: "ROOT\path" (lower-cased) -> value name (lower-cased, "" for the default).
    std::map<std::string, std::map<std::string, FakeRegistryValue>> registry;
    // Nonzero: every profile write fails with this error (nothing written, not recorded in
    // profileWrites); PlatSystemErrorText knows the texts in systemErrorTexts.
    unsigned long profileWriteError = 0;
    std::map<unsigned long, std::string> systemErrorTexts;
    PlatWindow activeWindow = 0;
    int deviceCaps = 96;             // what GetDeviceCaps answers, whatever the index
    intptr_t shellExecuteResult = 42;
    int messageBoxResult = 1;
    // Runs while a message box is up, as the box's own message loop would: a test delivers
    // the window messages that arrive meanwhile from here.
    std::function<void(const FakeMessageBox &)> onMessageBox;

    // --- recorded ---
    std::vector<std::string> calls;  // every seam call, one line each, in order
    std::vector<FakeMessageBox> messageBoxes;
    std::vector<FakeShellExecute> shellExecutes;
    std::vector<FakeProfileWrite> profileWrites;     // the writes that took effect
    std::vector<std::string> deletedFiles;           // by path, or through a claim at release
    std::vector<unsigned> sleeps;
};

extern FakeState gFake;

// Back to an empty platform: no settings, no files, no windows, nothing recorded. Also runs
// every reset registered by the other fake files.
void FakeReset();

// Other fake files register their own reset so that FakeReset clears them too:
//   static FakeResetHook hook(ResetMyArea);
struct FakeResetHook {
    explicit FakeResetHook(void (*reset)());
};

// Appends one line to gFake.calls.
void FakeRecord(const std::string &line);

// Test helpers: script a value in the host settings file, or read one back as the real
// private-profile functions would.
void FakeSetSetting(const std::string &section, const std::string &key, const std::string &raw);
std::string FakeGetSetting(const std::string &section, const std::string &key);
bool FakeHasSetting(const std::string &section, const std::string &key);

// Lower-cases A to Z, as the platform compares file names, section and key names.
std::string FakeLower(std::string text);
// True when a file of that path exists in the fake (compared without case).
bool FakeFileExists(const std::string &path);
