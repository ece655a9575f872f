// The recording fake: the core areas of the seam (settings, files, windows, keyboard,
// screen, shell execution, registry, help engine).
#include "fake.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "platform/plat_files.h"
#include "platform/plat_locale.h"
#include "platform/plat_profile.h"
#include "platform/plat_registry.h"
#include "platform/plat_shell.h"
#include "platform/plat_ui.h"
#include "platform/plat_work.h"

FakeState gFake;

static std::vector<void (*)()> &ResetHooks()
{
    static std::vector<void (*)()> hooks;
    return hooks;
}

FakeResetHook::FakeResetHook(void (*reset)()) { ResetHooks().push_back(reset); }

void FakeReset()
{
    gFake = FakeState();
    for (auto reset : ResetHooks())
        reset();
}

void FakeRecord(const std::string &line) { gFake.calls.push_back(line); }

std::string FakeLower(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return text;
}

static std::string Str(const char *text) { return text ? std::string(text) : std::string("(null)"); }

// Stores text (or its first size - 1 characters) with a terminator; returns what was stored.
static int Store(char *dest, int size, const std::string &text)
{
    if (size <= 0)
        return 0;
    size_t n = std::min(text.size(), (size_t)size - 1);
    memcpy(dest, text.data(), n);
    dest[n] = '\0';
    return (int)n;
}

// ---- private-profile functions ------------------------------------------------------

static const std::string kSettingsFile = "tillwick.ini";
static unsigned long gLastError;
static FakeResetHook gLastErrorReset([] { gLastError = 0; });

void FakeSetSetting(const std::string &section, const std::string &key, const std::string &raw)
{
    gFake.ini[kSettingsFile][FakeLower(section)][FakeLower(key)] = raw;
}

bool FakeHasSetting(const std::string &section, const std::string &key)
{
    auto &file = gFake.ini[kSettingsFile];
    auto s = file.find(FakeLower(section));
    return s != file.end() && s->second.count(FakeLower(key)) != 0;
}

// The value as GetPrivateProfileStringA gives it: blanks trimmed, one pair of quotes gone.
static std::string ProfileValue(std::string raw)
{
    size_t b = raw.find_first_not_of(" \t");
    size_t e = raw.find_last_not_of(" \t");
    raw = b == std::string::npos ? std::string() : raw.substr(b, e - b + 1);
    if (raw.size() >= 2 && ((raw.front() == '"' && raw.back() == '"') ||
                            (raw.front() == '\'' && raw.back() == '\'')))
        raw = raw.substr(1, raw.size() - 2);
    return raw;
}

std::string FakeGetSetting(const std::string &section, const std::string &key)
{
    if (!FakeHasSetting(section, key))
        return std::string();
    return ProfileValue(gFake.ini[kSettingsFile][FakeLower(section)][FakeLower(key)]);
}

int PlatReadProfileString(const char *section, const char *key, const char *def, char *dest,
                          int destSize, const char *file)
{
    FakeRecord("ReadProfile(" + Str(section) + "," + Str(key) + "," + Str(def) + "," +
               std::to_string(destSize) + "," + Str(file) + ")");
    auto &ini = gFake.ini[FakeLower(file)];
    auto s = ini.find(FakeLower(section));
    if (s != ini.end()) {
        auto k = s->second.find(FakeLower(key));
        if (k != s->second.end())
            return Store(dest, destSize, ProfileValue(k->second));
    }
    return Store(dest, destSize, def ? ProfileValue(def) : std::string());
}

int PlatWriteProfileString(const char *section, const char *key, const char *value,
                           const char *file)
{
    FakeRecord("WriteProfile(" + Str(section) + "," + Str(key) + "," + Str(value) + "," +
               Str(file) + ")");
    if (gFake.profileWriteError != 0) {
        gLastError = gFake.profileWriteError;
        return 0;
    }
    gFake.profileWrites.push_back({section, key, value, file});
    gFake.ini[FakeLower(file)][FakeLower(section)][FakeLower(key)] = value;
    return 1;
}

unsigned long PlatGetLastError(void) { return gLastError; }

int PlatSystemErrorText(unsigned long error, char *dest, int destSize)
{
    FakeRecord("SystemErrorText(" + std::to_string(error) + ")");
    auto text = gFake.systemErrorTexts.find(error);
    return Store(dest, destSize, text == gFake.systemErrorTexts.end() ? "" : text->second);
}

// ---- files ----------------------------------------------------------------------------

static std::map<std::string, std::string>::iterator FindFile(const std::string &path)
{
    std::string want = FakeLower(path);
    for (auto it = gFake.files.begin(); it != gFake.files.end(); ++it)
        if (FakeLower(it->first) == want)
            return it;
    return gFake.files.end();
}

bool FakeFileExists(const std::string &path) { return FindFile(path) != gFake.files.end(); }

static bool Listed(const std::map<std::string, bool> &paths, const std::string &path)
{
    for (auto &l : paths)
        if (l.second && FakeLower(l.first) == FakeLower(path))
            return true;
    return false;
}

// A claim of this run on a file, as its handle keeps it.
struct FakeClaim {
    std::string path;  // the file's name in gFake.files
    bool deletePending;
    bool held;
};
static std::vector<FakeClaim> gClaims;
static FakeResetHook gClaimReset([] { gClaims.clear(); });

static FakeClaim *HeldClaimOn(const std::string &path)
{
    for (auto &c : gClaims)
        if (c.held && FakeLower(c.path) == FakeLower(path))
            return &c;
    return nullptr;
}

// Open elsewhere, or claimed here or by another run (a claim shares reading only, and every
// by-path call asks to share writing or deleting too): cannot be opened or deleted by path.
static bool Locked(const std::string &path)
{
    return Listed(gFake.lockedFiles, path) || Listed(gFake.claimedFiles, path) ||
           HeldClaimOn(path) != nullptr;
}

long long PlatGetFileSizeShared(const char *path)
{
    FakeRecord("GetFileSizeShared(" + Str(path) + ")");
    auto it = FindFile(path);
    if (it == gFake.files.end() || Locked(path))
        return -1;
    return (long long)it->second.size();
}

long long PlatReadFileBytes(const char *path, char *buf, long long max)
{
    FakeRecord("ReadFileBytes(" + Str(path) + "," + std::to_string(max) + ")");
    auto it = FindFile(path);
    if (it == gFake.files.end() || Locked(path))
        return -1;
    size_t n = std::min(it->second.size(), (size_t)max);
    memcpy(buf, it->second.data(), n);
    return (long long)n;
}

int PlatDeleteFile(const char *path)
{
    FakeRecord("DeleteFile(" + Str(path) + ")");
    auto it = FindFile(path);
    if (it == gFake.files.end() || Locked(path))
        return 0;
    gFake.deletedFiles.push_back(it->first);
    gFake.files.erase(it);
    return 1;
}

int PlatAppendFile(const char *path, const void *data, size_t count)
{
    FakeRecord("AppendFile(" + Str(path) + "," + std::to_string(count) + ")");
    if (Locked(path))
        return 0;
    auto it = FindFile(path);
    if (it == gFake.files.end())
        it = gFake.files.emplace(path, std::string()).first;
    it->second.append((const char *)data, count);
    return 1;
}

int PlatCopyFile(const char *source, const char *dest, int failIfExists)
{
    FakeRecord("CopyFile(" + Str(source) + "," + Str(dest) + "," + std::to_string(failIfExists) + ")");
    auto it = FindFile(source);
    if (it == gFake.files.end())
        return 0;
    auto to = FindFile(dest);
    if (to != gFake.files.end()) {
        if (failIfExists)
            return 0;
        to->second = it->second;
    } else {
        std::string bytes = it->second;
        gFake.files[dest] = bytes;
    }
    return 1;
}

int PlatCreateDirectory(const char *path)
{
    FakeRecord("CreateDirectory(" + Str(path) + ")");
    std::string key = FakeLower(path);
    if (gFake.directories.count(key))
        return 0;
    gFake.directories[key] = true;
    return 1;
}

int PlatRemoveDirectory(const char *path)
{
    FakeRecord("RemoveDirectory(" + Str(path) + ")");
    std::string key = FakeLower(path);
    if (!gFake.directories.count(key))
        return 0;
    std::string prefix = key + "\\";
    for (auto &f : gFake.files)
        if (FakeLower(f.first).compare(0, prefix.size(), prefix) == 0)
            return 0;
    gFake.directories.erase(key);
    return 1;
}

// Wildcard match of '*' and '?', without regard to case.
static bool WildMatch(const char *pattern, const char *name)
{
    if (*pattern == '\0')
        return *name == '\0';
    if (*pattern == '*')
        return WildMatch(pattern + 1, name) || (*name && WildMatch(pattern, name + 1));
    if (*name == '\0')
        return false;
    if (*pattern != '?' && FakeLower(std::string(1, *pattern)) != FakeLower(std::string(1, *name)))
        return false;
    return WildMatch(pattern + 1, name + 1);
}

struct FakeSearch {
    std::vector<std::string> names;
    size_t next;
};
static std::vector<FakeSearch> gSearches;
static FakeResetHook gSearchReset([] { gSearches.clear(); });

static int StoreName(const std::string &name, char *dest, int size)
{
    if (size <= 0)
        return 0;
    if (name.size() + 1 > (size_t)size) {
        dest[0] = '\0';
        return 0;
    }
    return Store(dest, size, name);
}

PlatFind PlatFindFirst(const char *pattern, char *name, int nameSize)
{
    FakeRecord("FindFirst(" + Str(pattern) + ")");
    std::string p = pattern;
    size_t slash = p.rfind('\\');
    std::string folder = slash == std::string::npos ? std::string() : FakeLower(p.substr(0, slash));
    std::string mask = slash == std::string::npos ? p : p.substr(slash + 1);
    FakeSearch search{{}, 0};
    for (auto &f : gFake.files) {
        size_t s = f.first.rfind('\\');
        std::string dir = s == std::string::npos ? std::string() : FakeLower(f.first.substr(0, s));
        std::string base = s == std::string::npos ? f.first : f.first.substr(s + 1);
        if (dir == folder && WildMatch(mask.c_str(), base.c_str()))
            search.names.push_back(base);
    }
    if (search.names.empty())
        return 0;
    StoreName(search.names[0], name, nameSize);
    search.next = 1;
    gSearches.push_back(search);
    return (PlatFind)gSearches.size();
}

int PlatFindNext(PlatFind find, char *name, int nameSize)
{
    FakeRecord("FindNext");
    FakeSearch &search = gSearches.at(find - 1);
    if (search.next >= search.names.size())
        return 0;
    StoreName(search.names[search.next++], name, nameSize);
    return 1;
}

void PlatFindClose(PlatFind find)
{
    FakeRecord("FindClose(" + std::to_string(find) + ")");
}

int PlatGetShortPathName(const char *longPath, char *dest, int destSize)
{
    FakeRecord("GetShortPathName(" + Str(longPath) + ")");
    std::string shortForm;
    auto it = gFake.shortPaths.find(longPath);
    if (it != gFake.shortPaths.end())
        shortForm = it->second;
    else if (FakeFileExists(longPath) || gFake.directories.count(FakeLower(longPath)))
        shortForm = longPath;
    else {
        if (destSize > 0)
            dest[0] = '\0';
        return 0;
    }
    if (shortForm.size() + 1 > (size_t)destSize) {
        if (destSize > 0)
            dest[0] = '\0';
        return (int)shortForm.size() + 1;
    }
    return Store(dest, destSize, shortForm);
}

void PlatPathRemoveFileSpec(char *path)
{
    // PathRemoveFileSpecA: cut from the last backslash; a drive root keeps its backslash.
    char *last = strrchr(path, '\\');
    if (!last) {
        path[0] = '\0';
        return;
    }
    if (last == path + 2 && path[1] == ':')
        last[1] = '\0';
    else if (last == path)
        last[1] = '\0';
    else
        *last = '\0';
}

int PlatPathQuoteSpaces(char *path, int size)
{
    size_t n = strlen(path);
    if (!strchr(path, ' '))
        return 1;
    if (n + 3 > (size_t)size)
        return 0;
    memmove(path + 1, path, n);
    path[0] = '"';
    path[n + 1] = '"';
    path[n + 2] = '\0';
    return 1;
}

// ---- claims on queued files -------------------------------------------------------------

static FakeClaim *ClaimOf(PlatClaim claim)
{
    if (claim == 0 || claim > gClaims.size() || !gClaims[claim - 1].held)
        return nullptr;
    return &gClaims[claim - 1];
}

PlatClaimResult PlatClaimFile(const char *path, PlatClaim *claim)
{
    FakeRecord("ClaimFile(" + Str(path) + ")");
    *claim = 0;
    auto it = FindFile(path);
    if (it == gFake.files.end() || Listed(gFake.lockedFiles, path))
        return PLAT_CLAIM_CANNOT_OPEN;
    FakeClaim *held = HeldClaimOn(it->first);
    if (held && held->deletePending)
        return PLAT_CLAIM_CANNOT_OPEN;  // Windows: access denied (Wine 8.0 answers IN_USE)
    if (held || Listed(gFake.claimedFiles, path))
        return PLAT_CLAIM_IN_USE;
    gClaims.push_back({it->first, false, true});
    *claim = (PlatClaim)gClaims.size();
    return PLAT_CLAIM_OK;
}

long long PlatClaimedFileSize(PlatClaim claim)
{
    FakeRecord("ClaimedFileSize(" + std::to_string(claim) + ")");
    FakeClaim *c = ClaimOf(claim);
    auto it = c ? FindFile(c->path) : gFake.files.end();
    return it == gFake.files.end() ? -1 : (long long)it->second.size();
}

// A view is a copy of the file's bytes as they were when mapped, kept until unmapped.
static std::map<const char *, std::unique_ptr<char[]>> gViews;
static FakeResetHook gViewReset([] { gViews.clear(); });

const char *PlatMapClaimedFile(PlatClaim claim, size_t size)
{
    FakeRecord("MapClaimedFile(" + std::to_string(claim) + "," + std::to_string(size) + ")");
    FakeClaim *c = ClaimOf(claim);
    auto it = c ? FindFile(c->path) : gFake.files.end();
    if (it == gFake.files.end() || size == 0 || size > it->second.size())
        return nullptr;
    std::unique_ptr<char[]> bytes(new char[size]);
    memcpy(bytes.get(), it->second.data(), size);
    const char *view = bytes.get();
    gViews[view] = std::move(bytes);
    return view;
}

void PlatUnmapClaimedFile(const char *view)
{
    if (!view)
        return;
    FakeRecord("UnmapClaimedFile");
    gViews.erase(view);
}

int PlatDeleteClaimedFile(PlatClaim claim)
{
    FakeRecord("DeleteClaimedFile(" + std::to_string(claim) + ")");
    FakeClaim *c = ClaimOf(claim);
    if (!c || Listed(gFake.readOnlyFiles, c->path))
        return 0;
    c->deletePending = true;
    return 1;
}

void PlatReleaseClaim(PlatClaim claim)
{
    if (claim == 0)
        return;
    FakeRecord("ReleaseClaim(" + std::to_string(claim) + ")");
    FakeClaim *c = ClaimOf(claim);
    if (!c)
        return;
    c->held = false;
    auto it = FindFile(c->path);
    if (c->deletePending && it != gFake.files.end()) {
        gFake.deletedFiles.push_back(it->first);
        gFake.files.erase(it);
    }
}

// ---- canonical folder paths --------------------------------------------------------------

static std::string Upper(std::string text)
{
    for (char &c : text)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    return text;
}

// The full path as GetFullPathNameA makes it: '/' as '\', relative paths taken from
// currentDirectory ("C:x" too when it is on C:, else from the root of C:), "." and ".."
// resolved, no trailing backslash but a drive root's.
static std::string FullPath(std::string path)
{
    for (char &c : path)
        if (c == '/')
            c = '\\';
    std::string root, rest;
    if (path.compare(0, 2, "\\\\") == 0) {
        size_t host = path.find('\\', 2);
        size_t share = host == std::string::npos ? host : path.find('\\', host + 1);
        root = path.substr(0, share);
        rest = share == std::string::npos ? "" : path.substr(share);
    } else if (path.size() >= 2 && path[1] == ':') {
        root = path.substr(0, 2);
        rest = path.substr(2);
        // "C:x" is relative to the current folder of C:, which is known only for its own drive.
        if ((rest.empty() || rest[0] != '\\') &&
            FakeLower(root) == FakeLower(gFake.currentDirectory.substr(0, 2)))
            return FullPath(gFake.currentDirectory + "\\" + rest);
    } else if (!path.empty() && path[0] == '\\') {
        root = gFake.currentDirectory.substr(0, 2);
        rest = path;
    } else {
        return FullPath(gFake.currentDirectory + "\\" + path);
    }
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= rest.size()) {
        size_t end = rest.find('\\', at);
        if (end == std::string::npos)
            end = rest.size();
        std::string part = rest.substr(at, end - at);
        if (part == ".." && !parts.empty())
            parts.pop_back();
        else if (!part.empty() && part != "." && part != "..")
            parts.push_back(part);
        at = end + 1;
    }
    std::string full = root;
    for (auto &part : parts)
        full += "\\" + part;
    if (parts.empty() && root.size() == 2 && root[1] == ':')
        full += "\\";
    return full;
}

// True when path (a full path) lies in folder or is it, compared without case.
static bool Within(const std::string &path, const std::string &folder)
{
    std::string p = FakeLower(path), f = FakeLower(folder);
    if (p.compare(0, f.size(), f) != 0)
        return false;
    return p.size() == f.size() || p[f.size()] == '\\' || f.back() == '\\';
}

int PlatCanonicalFolderPath(const char *path, char *dest, size_t destSize)
{
    FakeRecord("CanonicalFolderPath(" + Str(path) + ")");
    if (destSize == 0)
        return 0;
    std::string given = FullPath(path);
    std::string folder = given;
    // Aliases may name aliases; a few rounds settle any chain a test scripts.
    for (int round = 0; round < 8; round++) {
        bool changed = false;
        for (auto &alias : gFake.folderAliases) {
            std::string from = FullPath(alias.first);
            if (Within(folder, from)) {
                folder = FullPath(alias.second + "\\" + folder.substr(from.size()));
                changed = true;
            }
        }
        if (!changed)
            break;
    }
    bool found = folder.size() == 3 && folder[1] == ':';
    for (auto &d : gFake.directories)
        found = found || (d.second && FakeLower(FullPath(d.first)) == FakeLower(folder));
    for (auto &f : gFake.files)
        found = found || (Within(FullPath(f.first), folder) &&
                          FakeLower(FullPath(f.first)) != FakeLower(folder));
    std::string result = Upper(found ? folder : given);
    if (result.size() + 1 > destSize) {
        std::string fallback = Upper(given);
        Store(dest, (int)destSize, fallback.size() + 1 > destSize ? std::string() : fallback);
        return 0;
    }
    Store(dest, (int)destSize, result);
    return found ? 1 : 0;
}

unsigned PlatAnsiCodePage(void)
{
    FakeRecord("GetACP");
    return gFake.ansiCodePage;
}

// Windows' lead-byte ranges of the four double-byte ANSI code pages (GetCPInfo's LeadByte).
void PlatGetLeadBytes(unsigned codePage, bool leadBytes[256])
{
    FakeRecord("LeadBytes(" + std::to_string(codePage) + ")");
    for (int b = 0; b < 256; b++) {
        bool lead = false;
        if (codePage == 932)
            lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        else if (codePage == 936 || codePage == 949 || codePage == 950)
            lead = b >= 0x81 && b <= 0xFE;
        leadBytes[b] = lead;
    }
}

// ---- windows, keyboard, screen, help ----------------------------------------------------

int PlatMessageBox(PlatWindow owner, const char *text, const char *caption, unsigned style)
{
    FakeRecord("MessageBox(" + std::to_string(owner) + "," + Str(text) + "," + Str(caption) +
               "," + std::to_string(style) + ")");
    gFake.messageBoxes.push_back({owner, text, caption, style});
    if (gFake.onMessageBox) {
        FakeMessageBox box = gFake.messageBoxes.back();
        gFake.onMessageBox(box);
    }
    return gFake.messageBoxResult;
}

int PlatGetWindowText(PlatWindow window, char *dest, int destSize)
{
    FakeRecord("GetWindowText(" + std::to_string(window) + ")");
    auto it = gFake.windowTitles.find(window);
    return Store(dest, destSize, it == gFake.windowTitles.end() ? std::string() : it->second);
}

void PlatSetForegroundWindow(PlatWindow window)
{
    FakeRecord("SetForegroundWindow(" + std::to_string(window) + ")");
}

void PlatShowWindow(PlatWindow window, int showCommand)
{
    FakeRecord("ShowWindow(" + std::to_string(window) + "," + std::to_string(showCommand) + ")");
}

// Work runs at once, on the caller's thread: what it writes is there when the start returns.
PlatWork PlatStartWork(void (*work)(void *context), void *context)
{
    work(context);
    return 1;
}

void PlatFinishWork(PlatWork) {}

void PlatSleep(unsigned milliseconds)
{
    FakeRecord("Sleep(" + std::to_string(milliseconds) + ")");
    gFake.sleeps.push_back(milliseconds);
}

// A US keyboard: 'i' is virtual key 0x49 without shift, scan code 0x17.
unsigned PlatVkKeyScan(char ch)
{
    FakeRecord(std::string("VkKeyScan(") + ch + ")");
    return ch == 'i' ? 0x0049 : 0xFFFF;
}

unsigned PlatOemKeyScan(unsigned char oemChar)
{
    FakeRecord("OemKeyScan(" + std::to_string(oemChar) + ")");
    return oemChar == 'i' ? 0x00000017 : 0xFFFFFFFF;
}

unsigned char PlatCharToOem(char ch)
{
    FakeRecord(std::string("CharToOem(") + ch + ")");
    return (unsigned char)ch;
}

unsigned PlatMapVirtualKey(unsigned code, unsigned mapType)
{
    FakeRecord("MapVirtualKey(" + std::to_string(code) + "," + std::to_string(mapType) + ")");
    return code == 0x11 ? 0x1D : 0;
}

void PlatKeybdEvent(unsigned char virtualKey, unsigned char scanCode, unsigned flags)
{
    FakeRecord("keybd_event(" + std::to_string(virtualKey) + "," + std::to_string(scanCode) +
               "," + std::to_string(flags) + ")");
}

PlatWindow PlatGetActiveWindow(void)
{
    FakeRecord("GetActiveWindow");
    return gFake.activeWindow;
}

int PlatGetDeviceCaps(PlatWindow window, int index)
{
    FakeRecord("GetDeviceCaps(" + std::to_string(window) + "," + std::to_string(index) + ")");
    return gFake.deviceCaps;
}

int PlatWinHelp(PlatWindow owner, const char *helpFile, unsigned command, uintptr_t data)
{
    // A data word that points at a key is shown as the key's text.
    std::string shown = command == 0x105 ? "key:" + Str((const char *)data) : std::to_string((intptr_t)data);
    FakeRecord("WinHelp(" + std::to_string(owner) + "," + Str(helpFile) + "," +
               std::to_string(command) + "," + shown + ")");
    return 1;
}

const char *PlatGetCommandLine(void) { return gFake.commandLine.c_str(); }

// ---- shell execution ----------------------------------------------------------------------

intptr_t PlatShellExecute(PlatWindow owner, const char *verb, const char *file,
                          const char *params, const char *dir, int showCommand)
{
    FakeRecord("ShellExecute(" + std::to_string(owner) + "," + Str(verb) + "," + Str(file) +
               "," + Str(params) + "," + Str(dir) + "," + std::to_string(showCommand) + ")");
    gFake.shellExecutes.push_back({owner, Str(verb), Str(file), params ? params : "",
                                   dir ? dir : "", params == nullptr, dir == nullptr, showCommand});
    return gFake.shellExecuteResult;
}

void PlatNotifyAssociationsChanged(void) { FakeRecord("NotifyAssociationsChanged()"); }

// ---- registry ---------------------------------------------------------------------------

static std::string RootName(PlatRoot root)
{
    return root == PLAT_HKCR ? "HKCR" : root == PLAT_HKLM ? "HKLM" : std::to_string(root);
}

static std::string RegPath(PlatRoot root, const char *path)
{
    return FakeLower(RootName(root) + "\\" + Str(path));
}

struct FakeOpenKey {
    std::string path;
};
static std::vector<FakeOpenKey> gOpenKeys;
static FakeResetHook gKeyReset([] { gOpenKeys.clear(); });

int PlatRegReadString(PlatRoot root, const char *path, const char *name, char *dest,
                      int destSize)
{
    FakeRecord("RegReadString(" + RootName(root) + "," + Str(path) + "," + Str(name) + ")");
    if (destSize > 0)
        dest[0] = '\0';
    auto k = gFake.registry.find(RegPath(root, path));
    if (k == gFake.registry.end())
        return 0;
    auto v = k->second.find(FakeLower(name ? name : ""));
    if (v == k->second.end() || v->second.type != PLAT_REG_SZ)
        return 0;
    std::string text = v->second.data.c_str();
    if (text.size() + 1 > (size_t)destSize)
        return 0;
    Store(dest, destSize, text);
    return 1;
}

PlatKey PlatRegCreateKey(PlatRoot root, const char *path)
{
    FakeRecord("RegCreateKey(" + RootName(root) + "," + Str(path) + ")");
    std::string full = RegPath(root, path);
    // Missing parents come into being too.
    for (size_t i = 0; i < full.size(); i++)
        if (full[i] == '\\')
            gFake.registry[full.substr(0, i)];
    gFake.registry[full];
    gOpenKeys.push_back({full});
    return (PlatKey)gOpenKeys.size();
}

int PlatRegSetValue(PlatKey key, const char *name, unsigned type, const void *data,
                    unsigned size)
{
    std::string bytes((const char *)data, size);
    FakeRecord("RegSetValue(" + std::to_string(key) + "," + Str(name) + "," + std::to_string(type) +
               "," + std::to_string(size) + ")");
    gFake.registry[gOpenKeys.at(key - 1).path][FakeLower(name ? name : "")] = {type, bytes};
    return 1;
}

void PlatRegCloseKey(PlatKey key) { FakeRecord("RegCloseKey(" + std::to_string(key) + ")"); }

int PlatRegDeleteKey(PlatRoot root, const char *path)
{
    FakeRecord("RegDeleteKey(" + RootName(root) + "," + Str(path) + ")");
    std::string full = RegPath(root, path);
    if (!gFake.registry.count(full))
        return 0;
    std::string prefix = full + "\\";
    for (auto &k : gFake.registry)
        if (k.first.compare(0, prefix.size(), prefix) == 0)
            return 0;
    gFake.registry.erase(full);
    return 1;
}
