// The recording fake of the dialogs seam: the open-file dialog, the folder browser, item
// identifier lists and the shell's task allocator.
#include "fake_dialogs.h"

#include <cstring>

#include "fake.h"

FakeDialogsState gFakeDialogs;

static void ResetDialogs() { gFakeDialogs = FakeDialogsState(); }
static FakeResetHook hook(ResetDialogs);

static std::string Str(const char *text) { return text ? std::string(text) : std::string("(null)"); }

// A window exists when the core fake knows its title.
int PlatWindowExists(PlatWindow window)
{
    FakeRecord("IsWindow(" + std::to_string(window) + ")");
    return window != 0 && gFake.windowTitles.count(window) != 0;
}

uintptr_t PlatGetWindowInstance(PlatWindow window)
{
    FakeRecord("GetWindowInstance(" + std::to_string(window) + ")");
    auto it = gFakeDialogs.windowInstances.find(window);
    return it == gFakeDialogs.windowInstances.end() ? 0 : it->second;
}

int PlatGetOpenFileName(PlatOpenFileName *info)
{
    FakeOpenFileCall call;
    call.owner = info->owner;
    call.instance = info->instance;
    call.filterNull = info->filter == nullptr;
    // Read the list as the dialog does: strings one after another up to an empty one.
    for (const char *p = info->filter; p && *p; p += strlen(p) + 1)
        call.filter.push_back(p);
    call.customFilterNull = info->customFilter == nullptr;
    call.maxCustomFilter = info->maxCustomFilter;
    call.filterIndex = info->filterIndex;
    call.fileNull = info->file == nullptr;
    call.fileAtCall = info->file ? std::string(info->file) : std::string();
    call.maxFile = info->maxFile;
    call.fileTitleNull = info->fileTitle == nullptr;
    call.maxFileTitle = info->maxFileTitle;
    call.initialDirNull = info->initialDir == nullptr;
    call.initialDir = info->initialDir ? info->initialDir : "";
    call.titleNull = info->title == nullptr;
    call.title = info->title ? info->title : "";
    call.flags = info->flags;
    call.fileOffset = info->fileOffset;
    call.fileExtension = info->fileExtension;
    call.defExtNull = info->defExt == nullptr;
    call.custData = info->custData;
    call.hook = info->hook;
    call.templateNameNull = info->templateName == nullptr;
    gFakeDialogs.openFileCalls.push_back(call);
    FakeRecord("GetOpenFileName(" + std::to_string(info->owner) + "," + Str(info->title) + ")");

    const std::string &choice = gFakeDialogs.openFileChoice;
    if (choice.empty() || !info->file || choice.size() + 1 > info->maxFile)
        return 0;
    memcpy(info->file, choice.c_str(), choice.size() + 1);
    return 1;
}

PlatItemList PlatBrowseForFolder(const PlatBrowseInfo *info)
{
    FakeBrowseCall call;
    call.owner = info->owner;
    call.root = info->root;
    call.displayNameNull = info->displayName == nullptr;
    call.titleNull = info->title == nullptr;
    call.title = info->title ? info->title : "";
    call.flags = info->flags;
    call.callback = info->callback;
    call.lParam = info->lParam;
    call.image = info->image;
    gFakeDialogs.browseCalls.push_back(call);
    FakeRecord("BrowseForFolder(" + std::to_string(info->owner) + "," + Str(info->title) + ")");
    return gFakeDialogs.browseResult;
}

int PlatGetPathFromItemList(PlatItemList list, char *dest, int destSize)
{
    FakeRecord("GetPathFromItemList(" + std::to_string(list) + "," + std::to_string(destSize) + ")");
    if (destSize > 0)
        dest[0] = '\0';
    auto it = gFakeDialogs.itemPaths.find(list);
    if (destSize < 260 || it == gFakeDialogs.itemPaths.end() || it->second.size() + 1 > 260)
        return 0;
    memcpy(dest, it->second.c_str(), it->second.size() + 1);
    return 1;
}

PlatMalloc PlatGetShellMalloc(void)
{
    FakeRecord("SHGetMalloc");
    if (gFakeDialogs.mallocFails)
        return 0;
    gFakeDialogs.mallocsHeld++;
    return kFakeShellMalloc;
}

void PlatShellMallocFree(PlatMalloc allocator, PlatItemList list)
{
    FakeRecord("Malloc.Free(" + std::to_string(allocator) + "," + std::to_string(list) + ")");
    gFakeDialogs.freedLists.push_back(list);
}

void PlatShellMallocRelease(PlatMalloc allocator)
{
    FakeRecord("Malloc.Release(" + std::to_string(allocator) + ")");
    gFakeDialogs.mallocsHeld--;
}
