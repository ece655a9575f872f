// The recording fake of the dialogs seam: tests script what the open-file dialog and the
// folder browser answer, and read back every member of the records they were given.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "platform/plat_dialogs.h"

// What the open-file dialog was given, member by member, as it stood at the call.
struct FakeOpenFileCall {
    PlatWindow owner;
    uintptr_t instance;
    bool filterNull;
    std::vector<std::string> filter;  // the list's strings up to the empty one that closes it
    bool customFilterNull;
    unsigned maxCustomFilter;
    unsigned filterIndex;
    bool fileNull;
    std::string fileAtCall;           // the proposed name in the file buffer
    unsigned maxFile;
    bool fileTitleNull;
    unsigned maxFileTitle;
    bool initialDirNull;
    std::string initialDir;
    bool titleNull;
    std::string title;
    unsigned flags;
    unsigned short fileOffset;
    unsigned short fileExtension;
    bool defExtNull;
    intptr_t custData;
    uintptr_t hook;
    bool templateNameNull;
};

struct FakeBrowseCall {
    PlatWindow owner;
    PlatItemList root;
    bool displayNameNull;
    bool titleNull;
    std::string title;
    unsigned flags;
    uintptr_t callback;
    intptr_t lParam;
    int image;
};

struct FakeDialogsState {
    // --- scripted by the test ---
    std::map<PlatWindow, uintptr_t> windowInstances;  // instance handle of an existing window
    // The open-file dialog: "" cancels; otherwise this path is chosen (and the dialog fails,
    // like the real one, when it does not fit the file buffer).
    std::string openFileChoice;
    PlatItemList browseResult = 0;                    // 0: the user cancels the browser
    std::map<PlatItemList, std::string> itemPaths;    // lists that have a file-system path
    bool mallocFails = false;

    // --- recorded ---
    std::vector<FakeOpenFileCall> openFileCalls;
    std::vector<FakeBrowseCall> browseCalls;
    std::vector<PlatItemList> freedLists;
    int mallocsHeld = 0;  // allocators obtained and not yet released
};

extern FakeDialogsState gFakeDialogs;

// The allocator handle the fake gives out.
const PlatMalloc kFakeShellMalloc = 0x4d41;
