// The UI driver's subcommands for the common dialogs of another process: they find the
// open-file dialog or the folder browser by its caption, report what it shows, then choose a
// file, a folder or a tree item, or cancel. One JSON line goes to stdout.
//
//   uidriver.exe filedialog CAPTION_PART SECONDS cancel
//   uidriver.exe filedialog CAPTION_PART SECONDS choose PATH
//       Reports: title, owner (handle, title), pid, the file-type combo's entries and the
//       selected one, the names the file list shows, whether a read-only check box shows.
//       "choose" puts PATH into the file-name field (the edit inside control 0x47c) and posts
//       IDOK. A message box the dialog then shows (a missing file) is recorded and answered
//       with OK; a dialog still open a moment after the choice is cancelled
//       ("cancelled_after_choice").
//   uidriver.exe folderdialog CAPTION_PART SECONDS cancel
//   uidriver.exe folderdialog CAPTION_PART SECONDS path PATH
//   uidriver.exe folderdialog CAPTION_PART SECONDS item TEXT
//       Reports: title, owner, pid, the instruction text (control 0x3742), the tree's items
//       two levels deep, the selected item and whether OK is enabled. "path" selects through
//       BFFM_SETSELECTIONA, whose path must lie in the browser's own process: it is written
//       there first. "item" selects the first tree item with that text. Then IDOK is posted
//       to the dialog itself, so that a greyed OK button does not stop the choice.
//
// Captions match as substrings ("" takes any dialog of the kind). Exit codes as in
// uidriver.h: 0 done, 1 the dialog did not close in time, 2 no such dialog (or tree item).
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tool_json.h"
#include "uidriver.h"

static const int kFileNameCombo = 0x47c;  // cmb13: the file-name field
static const int kFileTypeCombo = 0x470;  // cmb1: the file types
static const int kReadOnlyBox = 0x410;    // chx1: the read-only check box
static const int kFolderTree = 0x3741;
static const int kFolderPrompt = 0x3742;
static const size_t kRemoteText = 520;    // characters of one item text read remotely

// ---- finding windows ----------------------------------------------------------------------

// The first visible dialog whose caption contains captionPart and that has the control,
// waiting until the deadline.
static HWND WaitForCommonDialog(const char *captionPart, int requiredControl, DWORD deadline)
{
    for (;;) {
        for (HWND dialog : UiFindDialogs(captionPart))
            if (IsWindowVisible(dialog) && GetDlgItem(dialog, requiredControl))
                return dialog;
        if ((int)(GetTickCount() - deadline) >= 0)
            return nullptr;
        Sleep(30);
    }
}

struct ChildSearch {
    const char *className;
    HWND found;
};

static BOOL CALLBACK FindChildProc(HWND hwnd, LPARAM lParam)
{
    ChildSearch *search = (ChildSearch *)lParam;
    if (UiClassName(hwnd) == search->className) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// The first descendant of parent with that class (parent itself when it has it).
static HWND FindDescendant(HWND parent, const char *className)
{
    if (!parent)
        return nullptr;
    if (UiClassName(parent) == className)
        return parent;
    ChildSearch search = {className, nullptr};
    EnumChildWindows(parent, FindChildProc, (LPARAM)&search);
    return search.found;
}

// ---- memory in the other process ------------------------------------------------------------

// Controls of another process read and write their item records at addresses of their own
// process: the records and texts are placed there with VirtualAllocEx.
struct RemoteBlock {
    HANDLE process;
    char *base;
    size_t size;
};

static bool RemoteOpen(HWND window, size_t size, RemoteBlock &block)
{
    block.process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                                    PROCESS_QUERY_INFORMATION,
                                FALSE, UiWindowPid(window));
    block.base = nullptr;
    block.size = size;
    if (!block.process)
        return false;
    block.base = (char *)VirtualAllocEx(block.process, nullptr, size, MEM_COMMIT | MEM_RESERVE,
                                        PAGE_READWRITE);
    if (!block.base) {
        CloseHandle(block.process);
        block.process = nullptr;
        return false;
    }
    return true;
}

static bool RemoteWrite(RemoteBlock &block, size_t offset, const void *data, size_t size)
{
    SIZE_T done = 0;
    return offset + size <= block.size &&
           WriteProcessMemory(block.process, block.base + offset, data, size, &done) &&
           done == size;
}

static bool RemoteRead(RemoteBlock &block, size_t offset, void *data, size_t size)
{
    SIZE_T done = 0;
    return offset + size <= block.size &&
           ReadProcessMemory(block.process, block.base + offset, data, size, &done) &&
           done == size;
}

// release false leaves the memory to the other process (it may still read it).
static void RemoteClose(RemoteBlock &block, bool release)
{
    if (release && block.base)
        VirtualFreeEx(block.process, block.base, 0, MEM_RELEASE);
    if (block.process)
        CloseHandle(block.process);
    block.process = nullptr;
    block.base = nullptr;
}

// ---- reading controls ---------------------------------------------------------------------

static std::string JsonList(const std::vector<std::string> &utf8Items)
{
    std::string out = "[";
    for (size_t i = 0; i < utf8Items.size(); i++) {
        if (i)
            out += ',';
        ToolJsonQuote(out, utf8Items[i]);
    }
    return out + "]";
}

// The entries of a combo box. The wide messages: the system carries a combo box's texts
// across processes faithfully only in the control's own (wide) form.
static std::vector<std::string> ComboEntries(HWND combo)
{
    std::vector<std::string> out;
    LRESULT count = combo ? SendMessageW(combo, CB_GETCOUNT, 0, 0) : 0;
    for (LRESULT i = 0; i < count && i < 64; i++) {
        wchar_t text[512];
        text[0] = L'\0';
        LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, (WPARAM)i, 0);
        if (length >= 0 && length < (LRESULT)(sizeof text / sizeof text[0]))
            SendMessageW(combo, CB_GETLBTEXT, (WPARAM)i, (LPARAM)text);
        out.push_back(ToolWideToUtf8(text));
    }
    return out;
}

// The item texts of a list view of another process.
static std::vector<std::string> ListViewItems(HWND list)
{
    std::vector<std::string> out;
    RemoteBlock block;
    if (!list || !RemoteOpen(list, sizeof(LVITEMA) + kRemoteText, block))
        return out;
    LRESULT count = SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    for (LRESULT i = 0; i < count && i < 500; i++) {
        LVITEMA item;
        memset(&item, 0, sizeof item);
        item.mask = LVIF_TEXT;
        item.iItem = (int)i;
        item.pszText = block.base + sizeof(LVITEMA);
        item.cchTextMax = (int)kRemoteText;
        char text[kRemoteText];
        text[0] = '\0';
        if (RemoteWrite(block, 0, &item, sizeof item)) {
            SendMessageA(list, LVM_GETITEMTEXTA, (WPARAM)i, (LPARAM)block.base);
            RemoteRead(block, sizeof(LVITEMA), text, sizeof text);
            text[sizeof text - 1] = '\0';
        }
        out.push_back(ToolAnsiToUtf8(text));
    }
    RemoteClose(block, true);
    return out;
}

// The block holds a TVITEMA and its text first.
static std::string TreeItemText(HWND tree, HTREEITEM handle, RemoteBlock &block)
{
    TVITEMA item;
    memset(&item, 0, sizeof item);
    item.mask = TVIF_TEXT;
    item.hItem = handle;
    item.pszText = block.base + sizeof(TVITEMA);
    item.cchTextMax = (int)kRemoteText;
    char text[kRemoteText];
    text[0] = '\0';
    if (handle && RemoteWrite(block, 0, &item, sizeof item) &&
        SendMessageA(tree, TVM_GETITEMA, 0, (LPARAM)block.base)) {
        RemoteRead(block, sizeof(TVITEMA), text, sizeof text);
        text[sizeof text - 1] = '\0';
    }
    return text;
}

// The tree's items down to depth levels, each as "parent/child" (ANSI); the first whose
// text is want (when want is not null) goes to match.
static void WalkTree(HWND tree, HTREEITEM first, int depth, const std::string &prefix,
                     RemoteBlock &block, const char *want, HTREEITEM *match,
                     std::vector<std::string> &seen)
{
    for (HTREEITEM h = first; h && seen.size() < 200;
         h = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)h)) {
        std::string text = TreeItemText(tree, h, block);
        seen.push_back(ToolAnsiToUtf8((prefix + text).c_str()));
        if (want && !*match && text == want)
            *match = h;
        if (depth > 1) {
            HTREEITEM child = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)h);
            WalkTree(tree, child, depth - 1, prefix + text + "/", block, want, match, seen);
        }
    }
}

static std::string SelectedTreeText(HWND tree, RemoteBlock &block)
{
    HTREEITEM caret = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    return caret ? TreeItemText(tree, caret, block) : std::string();
}

static void AddWindowFacts(std::string &json, HWND dialog)
{
    ToolJsonAddText(json, "title", UiWindowText(dialog));
    HWND owner = GetWindow(dialog, GW_OWNER);
    ToolJsonAddNumber(json, "owner", (long long)(uintptr_t)owner);
    ToolJsonAddText(json, "owner_title", owner ? UiWindowText(owner) : "");
    ToolJsonAddNumber(json, "pid", (long long)UiWindowPid(dialog));
}

// ---- after the choice ---------------------------------------------------------------------

struct OwnedBoxSearch {
    HWND owner;
    HWND found;
};

static BOOL CALLBACK FindOwnedBoxProc(HWND hwnd, LPARAM lParam)
{
    OwnedBoxSearch *search = (OwnedBoxSearch *)lParam;
    if (IsWindowVisible(hwnd) && GetWindow(hwnd, GW_OWNER) == search->owner &&
        UiClassName(hwnd) == "#32770" && UiIsMessageBox(hwnd)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Waits for the dialog to close. Message boxes it shows meanwhile are recorded ("caption|
// text") and answered with OK. A dialog still open settleMs after the last box (or after the
// start, when none showed) is cancelled once: the choice was refused. Returns true when the
// dialog closed before the deadline.
static bool WaitForClose(HWND dialog, DWORD deadline, DWORD settleMs,
                         std::vector<std::string> &boxes, bool &cancelled)
{
    cancelled = false;
    DWORD quietSince = GetTickCount();
    while (IsWindow(dialog)) {
        OwnedBoxSearch search = {dialog, nullptr};
        EnumWindows(FindOwnedBoxProc, (LPARAM)&search);
        if (search.found) {
            boxes.push_back(UiWindowText(search.found) + "|" +
                            UiWindowText(GetDlgItem(search.found, 0xFFFF)));
            UiPressButton(search.found, IDOK);
            while (IsWindow(search.found) && (int)(GetTickCount() - deadline) < 0)
                Sleep(20);
            quietSince = GetTickCount();
        } else if (!cancelled && GetTickCount() - quietSince >= settleMs) {
            UiPressButton(dialog, IDCANCEL);
            cancelled = true;
        }
        if ((int)(GetTickCount() - deadline) >= 0)
            return false;
        Sleep(30);
    }
    return true;
}

static void Print(std::string &json)
{
    ToolJsonClose(json);
    printf("%s\n", json.c_str());
    fflush(stdout);
}

// ---- the subcommands ----------------------------------------------------------------------

// argv[0] is the subcommand's name: CAPTION_PART SECONDS ACTION [ARG] follow.
static bool ParseDialogArgs(int argc, char **argv, bool (*validAction)(const char *),
                            DWORD &deadline)
{
    if (argc < 4 || !validAction(argv[3]))
        return false;
    if (strcmp(argv[3], "cancel") != 0 && argc < 5)
        return false;
    double seconds = atof(argv[2]);
    if (seconds <= 0)
        return false;
    deadline = GetTickCount() + (DWORD)(seconds * 1000.0);
    return true;
}

static bool IsFileAction(const char *action)
{
    return strcmp(action, "cancel") == 0 || strcmp(action, "choose") == 0;
}

static bool IsFolderAction(const char *action)
{
    return strcmp(action, "cancel") == 0 || strcmp(action, "path") == 0 ||
           strcmp(action, "item") == 0;
}

static int RunFileDialog(int argc, char **argv)
{
    DWORD deadline;
    if (!ParseDialogArgs(argc, argv, IsFileAction, deadline))
        return 126;
    const char *action = argv[3];
    std::string json;
    ToolJsonOpen(json);
    ToolJsonAddText(json, "kind", "filedialog");
    HWND dialog = WaitForCommonDialog(argv[1], kFileNameCombo, deadline);
    ToolJsonAddBool(json, "found", dialog != nullptr);
    if (!dialog) {
        Print(json);
        return 2;
    }
    // The dialog fills its file list after it shows.
    Sleep(400);
    AddWindowFacts(json, dialog);
    HWND types = GetDlgItem(dialog, kFileTypeCombo);
    ToolJsonAddRaw(json, "filters", JsonList(ComboEntries(types)));
    ToolJsonAddNumber(json, "filter_index",
                      types ? (long long)SendMessageW(types, CB_GETCURSEL, 0, 0) : -1);
    ToolJsonAddRaw(json, "items", JsonList(ListViewItems(FindDescendant(dialog, "SysListView32"))));
    HWND readOnly = GetDlgItem(dialog, kReadOnlyBox);
    ToolJsonAddBool(json, "readonly_box_visible", readOnly && IsWindowVisible(readOnly));

    if (strcmp(action, "choose") == 0) {
        HWND name = FindDescendant(GetDlgItem(dialog, kFileNameCombo), "Edit");
        ToolJsonAddBool(json, "name_field", name != nullptr);
        if (name)
            SendMessageA(name, WM_SETTEXT, 0, (LPARAM)argv[4]);
        UiPressButton(dialog, IDOK);
    } else {
        UiPressButton(dialog, IDCANCEL);
    }
    std::vector<std::string> boxes;
    bool cancelled = false;
    bool closed = WaitForClose(dialog, deadline, 1500, boxes, cancelled);
    ToolJsonAddRaw(json, "boxes", JsonList(boxes));
    ToolJsonAddBool(json, "cancelled_after_choice", cancelled);
    ToolJsonAddBool(json, "closed", closed);
    Print(json);
    return closed ? 0 : 1;
}

// The last element of a path ("" for a drive root), to compare with the tree's selection.
static std::string LastElement(const char *path)
{
    std::string p = path;
    while (!p.empty() && p.back() == '\\')
        p.pop_back();
    size_t slash = p.rfind('\\');
    if (slash == std::string::npos)
        return p.size() == 2 && p[1] == ':' ? std::string() : p;
    return p.substr(slash + 1);
}

static int RunFolderDialog(int argc, char **argv)
{
    DWORD deadline;
    if (!ParseDialogArgs(argc, argv, IsFolderAction, deadline))
        return 126;
    const char *action = argv[3];
    const char *arg = argc > 4 ? argv[4] : "";
    std::string json;
    ToolJsonOpen(json);
    ToolJsonAddText(json, "kind", "folderdialog");
    HWND dialog = WaitForCommonDialog(argv[1], kFolderTree, deadline);
    ToolJsonAddBool(json, "found", dialog != nullptr);
    if (!dialog) {
        Print(json);
        return 2;
    }
    Sleep(400);
    AddWindowFacts(json, dialog);
    ToolJsonAddText(json, "prompt", UiWindowText(GetDlgItem(dialog, kFolderPrompt)));
    HWND tree = GetDlgItem(dialog, kFolderTree);

    const size_t pathOffset = sizeof(TVITEMA) + kRemoteText;
    RemoteBlock block;
    bool remote = RemoteOpen(tree, pathOffset + MAX_PATH, block);
    ToolJsonAddBool(json, "remote_memory", remote);
    std::vector<std::string> seen;
    HTREEITEM match = nullptr;
    if (remote) {
        HTREEITEM root = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
        WalkTree(tree, root, 2, "", block, strcmp(action, "item") == 0 ? arg : nullptr, &match,
                 seen);
    }
    ToolJsonAddRaw(json, "tree", JsonList(seen));

    bool selected = false;
    if (remote && strcmp(action, "path") == 0 && strlen(arg) < MAX_PATH &&
        RemoteWrite(block, pathOffset, arg, strlen(arg) + 1)) {
        // The browser fills its tree lazily and may not take the first request right after
        // it shows: ask again until the selection is the folder asked for.
        std::string want = LastElement(arg);
        for (int attempt = 0; attempt < 10 && !selected; attempt++) {
            SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, (LPARAM)(block.base + pathOffset));
            Sleep(150);
            std::string now = SelectedTreeText(tree, block);
            selected = want.empty() ? !now.empty() : lstrcmpiA(now.c_str(), want.c_str()) == 0;
        }
    } else if (remote && strcmp(action, "item") == 0 && match) {
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)match);
        Sleep(150);
        selected = true;
    }
    ToolJsonAddBool(json, "selected", selected);
    if (remote)
        ToolJsonAddText(json, "selection", ToolAnsiToUtf8(SelectedTreeText(tree, block).c_str()));
    ToolJsonAddBool(json, "ok_enabled", IsWindowEnabled(GetDlgItem(dialog, IDOK)) != FALSE);

    bool choose = strcmp(action, "cancel") != 0;
    if (choose && !selected) {
        UiPressButton(dialog, IDCANCEL);  // never choose something else by accident
    } else {
        UiPressButton(dialog, choose ? IDOK : IDCANCEL);
    }
    std::vector<std::string> boxes;
    bool cancelled = false;
    bool closed = WaitForClose(dialog, deadline, 3000, boxes, cancelled);
    // The browser may still read the path; free it only once the dialog is gone.
    RemoteClose(block, closed);
    ToolJsonAddRaw(json, "boxes", JsonList(boxes));
    ToolJsonAddBool(json, "closed", closed);
    Print(json);
    if (!closed)
        return 1;
    return choose && !selected ? 2 : 0;
}

static UiCommandHook gFileDialogHook(
    "filedialog", RunFileDialog, "filedialog CAPTION_PART SECONDS cancel|choose PATH");
static UiCommandHook gFolderDialogHook(
    "folderdialog", RunFolderDialog,
    "folderdialog CAPTION_PART SECONDS cancel|path PATH|item TREE_ITEM_TEXT");
