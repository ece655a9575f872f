// The UI driver's subcommands for the common dialogs of another process: it finds the
// open-file dialog or the folder browser by its window title, reports what it shows, then
// chooses a file, a folder or a tree item, or cancels. One JSON line goes to stdout.
//
//   uidriver.exe filedialog <title> <seconds> cancel
//   uidriver.exe filedialog <title> <seconds> choose <path>
//       Reports: title, owner (handle, title), the file-type combo's entries and selection,
//       the names the file list shows. "choose" puts path into the file-name field and posts
//       IDOK; a message box the dialog then shows (a missing file) is recorded and answered,
//       and a dialog still open after it is cancelled ("cancelled_after_box").
//   uidriver.exe folderdialog <title> <seconds> cancel
//   uidriver.exe folderdialog <title> <seconds> path <path>
//   uidriver.exe folderdialog <title> <seconds> item <tree item text>
//       Reports: title, owner, the instruction text (control 0x3742), the tree's top items,
//       the selected item and whether OK is enabled. "path" selects through
//       BFFM_SETSELECTIONA (the path is written into the other process first, where the
//       message needs it); "item" selects the first tree item with that text (depth <= 2).
//       Then IDOK is posted (to the dialog itself, so a greyed OK button does not stop it).
//
// A title of "*" takes the first dialog of the kind. Exit code 0 when the dialog was found
// and closed, 2 when none appeared in time, 3 when it did not close.
#include "uidriver_dialogs.h"

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tool_json.h"

static const int kFileNameCombo = 0x47c;  // cmb13
static const int kFileTypeCombo = 0x470;  // cmb1
static const int kFolderTree = 0x3741;
static const int kFolderPrompt = 0x3742;

// ---- finding windows ----------------------------------------------------------------------

struct DialogSearch {
    const char *title;
    int requiredControl;
    HWND found;
};

static std::string WindowText(HWND hwnd)
{
    char text[1024];
    text[0] = '\0';
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

static std::string ClassName(HWND hwnd)
{
    char name[256];
    name[0] = '\0';
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

static BOOL CALLBACK FindDialogProc(HWND hwnd, LPARAM lParam)
{
    DialogSearch *search = (DialogSearch *)lParam;
    if (!IsWindowVisible(hwnd) || ClassName(hwnd) != "#32770")
        return TRUE;
    if (strcmp(search->title, "*") != 0 && WindowText(hwnd) != search->title)
        return TRUE;
    if (!GetDlgItem(hwnd, search->requiredControl))
        return TRUE;
    search->found = hwnd;
    return FALSE;
}

static HWND WaitForDialog(const char *title, int requiredControl, DWORD deadline)
{
    for (;;) {
        DialogSearch search = {title, requiredControl, nullptr};
        EnumWindows(FindDialogProc, (LPARAM)&search);
        if (search.found)
            return search.found;
        if ((int)(GetTickCount() - deadline) >= 0)
            return nullptr;
        Sleep(50);
    }
}

struct ChildSearch {
    const char *className;
    HWND found;
};

static BOOL CALLBACK FindChildProc(HWND hwnd, LPARAM lParam)
{
    ChildSearch *search = (ChildSearch *)lParam;
    if (ClassName(hwnd) == search->className) {
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
    if (ClassName(parent) == className)
        return parent;
    ChildSearch search = {className, nullptr};
    EnumChildWindows(parent, FindChildProc, (LPARAM)&search);
    return search.found;
}

// ---- memory in the other process ------------------------------------------------------------

struct RemoteBlock {
    HANDLE process;
    char *base;
    size_t size;
};

static bool RemoteOpen(HWND window, size_t size, RemoteBlock &block)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    block.process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                                    PROCESS_QUERY_INFORMATION,
                                FALSE, pid);
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

// Leaves the block allocated on purpose when the other side may still read it.
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

// A JSON array of texts; utf8 says whether they are UTF-8 already or ANSI.
static std::string JsonList(const std::vector<std::string> &items, bool utf8 = false)
{
    std::string out = "[";
    for (size_t i = 0; i < items.size(); i++) {
        if (i)
            out += ',';
        ToolJsonQuote(out, utf8 ? items[i] : ToolAnsiToUtf8(items[i].c_str()));
    }
    return out + "]";
}

// The entries of a combo box, in UTF-8. The wide messages are used because the system
// carries a combo box's texts across processes reliably only in the control's own form.
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

// The item texts of a list view in another process.
static std::vector<std::string> ListViewItems(HWND list)
{
    std::vector<std::string> out;
    if (!list)
        return out;
    RemoteBlock block;
    const size_t textSize = 520;
    if (!RemoteOpen(list, sizeof(LVITEMA) + textSize, block))
        return out;
    LRESULT count = SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    for (LRESULT i = 0; i < count && i < 500; i++) {
        LVITEMA item;
        memset(&item, 0, sizeof item);
        item.mask = LVIF_TEXT;
        item.iItem = (int)i;
        item.pszText = block.base + sizeof(LVITEMA);
        item.cchTextMax = (int)textSize;
        char text[520];
        text[0] = '\0';
        if (RemoteWrite(block, 0, &item, sizeof item)) {
            SendMessageA(list, LVM_GETITEMTEXTA, (WPARAM)i, (LPARAM)block.base);
            RemoteRead(block, sizeof(LVITEMA), text, sizeof text);
            text[sizeof text - 1] = '\0';
        }
        out.push_back(text);
    }
    RemoteClose(block, true);
    return out;
}

static std::string TreeItemText(HWND tree, HTREEITEM handle, RemoteBlock &block)
{
    const size_t textSize = 520;
    TVITEMA item;
    memset(&item, 0, sizeof item);
    item.mask = TVIF_TEXT;
    item.hItem = handle;
    item.pszText = block.base + sizeof(TVITEMA);
    item.cchTextMax = (int)textSize;
    char text[520];
    text[0] = '\0';
    if (RemoteWrite(block, 0, &item, sizeof item) &&
        SendMessageA(tree, TVM_GETITEMA, 0, (LPARAM)block.base)) {
        RemoteRead(block, sizeof(TVITEMA), text, sizeof text);
        text[sizeof text - 1] = '\0';
    }
    return text;
}

// The tree's items up to the given depth, as "text" or "parent/child"; the handle of the
// first whose text is want (when want is not null) goes to match.
static void WalkTree(HWND tree, HTREEITEM first, int depth, const std::string &prefix,
                     RemoteBlock &block, const char *want, HTREEITEM *match,
                     std::vector<std::string> &seen)
{
    for (HTREEITEM h = first; h && seen.size() < 200;
         h = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)h)) {
        std::string text = TreeItemText(tree, h, block);
        seen.push_back(prefix + text);
        if (want && !*match && text == want)
            *match = h;
        if (depth > 1) {
            HTREEITEM child = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)h);
            WalkTree(tree, child, depth - 1, prefix + text + "/", block, want, match, seen);
        }
    }
}

static void AddOwner(std::string &json, HWND dialog)
{
    HWND owner = GetWindow(dialog, GW_OWNER);
    ToolJsonAddNumber(json, "owner", (long long)(uintptr_t)owner);
    ToolJsonAddText(json, "owner_title", owner ? ToolAnsiToUtf8(WindowText(owner).c_str()) : "");
    DWORD pid = 0;
    GetWindowThreadProcessId(dialog, &pid);
    ToolJsonAddNumber(json, "pid", (long long)pid);
}

// ---- after the choice ---------------------------------------------------------------------

struct OwnedBoxSearch {
    HWND owner;
    HWND found;
};

static BOOL CALLBACK FindOwnedBoxProc(HWND hwnd, LPARAM lParam)
{
    OwnedBoxSearch *search = (OwnedBoxSearch *)lParam;
    if (IsWindowVisible(hwnd) && ClassName(hwnd) == "#32770" &&
        GetWindow(hwnd, GW_OWNER) == search->owner && GetDlgItem(hwnd, 0xFFFF)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Waits for the dialog to close. Message boxes it shows meanwhile are recorded and answered
// with OK; when the dialog is still open after one, it is cancelled. Returns true when the
// dialog closed in time.
static bool WaitForClose(HWND dialog, DWORD deadline, std::vector<std::string> &boxes,
                         bool &cancelledAfterBox)
{
    cancelledAfterBox = false;
    DWORD boxAnsweredAt = 0;
    while (IsWindow(dialog)) {
        OwnedBoxSearch search = {dialog, nullptr};
        EnumWindows(FindOwnedBoxProc, (LPARAM)&search);
        if (search.found) {
            boxes.push_back(WindowText(search.found) + "|" +
                            WindowText(GetDlgItem(search.found, 0xFFFF)));
            PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            boxAnsweredAt = GetTickCount();
            while (IsWindow(search.found) && (int)(GetTickCount() - deadline) < 0)
                Sleep(20);
        } else if (boxAnsweredAt && GetTickCount() - boxAnsweredAt > 500 && !cancelledAfterBox) {
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            cancelledAfterBox = true;
        }
        if ((int)(GetTickCount() - deadline) >= 0)
            return false;
        Sleep(30);
    }
    return true;
}

// ---- the subcommands ----------------------------------------------------------------------

static int Usage(void)
{
    fprintf(stderr,
            "usage: uidriver.exe filedialog <title> <seconds> cancel|choose <path>\n"
            "       uidriver.exe folderdialog <title> <seconds> cancel|path <path>|item <text>\n");
    return 1;
}

static int RunFileDialog(const char *title, int seconds, const char *action, const char *arg)
{
    DWORD deadline = GetTickCount() + (DWORD)seconds * 1000u;
    std::string json;
    ToolJsonOpen(json);
    ToolJsonAddText(json, "kind", "filedialog");
    HWND dialog = WaitForDialog(title, kFileNameCombo, deadline);
    ToolJsonAddBool(json, "found", dialog != nullptr);
    if (!dialog) {
        ToolJsonClose(json);
        printf("%s\n", json.c_str());
        return 2;
    }
    // The dialog fills its list after it appears: give it a moment.
    Sleep(400);
    ToolJsonAddText(json, "title", ToolAnsiToUtf8(WindowText(dialog).c_str()));
    AddOwner(json, dialog);
    HWND types = GetDlgItem(dialog, kFileTypeCombo);
    ToolJsonAddRaw(json, "filters", JsonList(ComboEntries(types), true));
    ToolJsonAddNumber(json, "filter_index", types ? (long long)SendMessageA(types, CB_GETCURSEL, 0, 0) : -1);
    ToolJsonAddRaw(json, "items", JsonList(ListViewItems(FindDescendant(dialog, "SysListView32"))));
    ToolJsonAddBool(json, "readonly_box_visible",
                    GetDlgItem(dialog, 0x410) && IsWindowVisible(GetDlgItem(dialog, 0x410)));

    if (strcmp(action, "choose") == 0) {
        HWND name = FindDescendant(GetDlgItem(dialog, kFileNameCombo), "Edit");
        ToolJsonAddBool(json, "name_field", name != nullptr);
        if (name)
            SendMessageA(name, WM_SETTEXT, 0, (LPARAM)arg);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    } else {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    std::vector<std::string> boxes;
    bool cancelledAfterBox = false;
    bool closed = WaitForClose(dialog, deadline, boxes, cancelledAfterBox);
    ToolJsonAddRaw(json, "boxes", JsonList(boxes));
    ToolJsonAddBool(json, "cancelled_after_box", cancelledAfterBox);
    ToolJsonAddBool(json, "closed", closed);
    ToolJsonClose(json);
    printf("%s\n", json.c_str());
    return closed ? 0 : 3;
}

static int RunFolderDialog(const char *title, int seconds, const char *action, const char *arg)
{
    DWORD deadline = GetTickCount() + (DWORD)seconds * 1000u;
    std::string json;
    ToolJsonOpen(json);
    ToolJsonAddText(json, "kind", "folderdialog");
    HWND dialog = WaitForDialog(title, kFolderTree, deadline);
    ToolJsonAddBool(json, "found", dialog != nullptr);
    if (!dialog) {
        ToolJsonClose(json);
        printf("%s\n", json.c_str());
        return 2;
    }
    Sleep(400);
    ToolJsonAddText(json, "title", ToolAnsiToUtf8(WindowText(dialog).c_str()));
    AddOwner(json, dialog);
    ToolJsonAddText(json, "prompt",
                    ToolAnsiToUtf8(WindowText(GetDlgItem(dialog, kFolderPrompt)).c_str()));
    HWND tree = GetDlgItem(dialog, kFolderTree);

    RemoteBlock block;
    bool remote = RemoteOpen(tree, sizeof(TVITEMA) + 520 + MAX_PATH, block);
    ToolJsonAddBool(json, "remote_memory", remote);
    std::vector<std::string> seen;
    HTREEITEM match = nullptr;
    if (remote) {
        HTREEITEM root = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
        const char *want = strcmp(action, "item") == 0 ? arg : nullptr;
        WalkTree(tree, root, 2, "", block, want, &match, seen);
    }
    ToolJsonAddRaw(json, "tree", JsonList(seen));

    bool selected = false;
    if (remote && strcmp(action, "path") == 0) {
        // BFFM_SETSELECTIONA reads its path in the browser's own process.
        size_t length = strlen(arg) + 1;
        size_t offset = sizeof(TVITEMA) + 520;
        if (length <= MAX_PATH && RemoteWrite(block, offset, arg, length)) {
            SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, (LPARAM)(block.base + offset));
            selected = true;
        }
    } else if (remote && strcmp(action, "item") == 0 && match) {
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)match);
        selected = true;
    }
    ToolJsonAddBool(json, "selected", selected);
    if (remote) {
        Sleep(200);
        HTREEITEM caret = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
        ToolJsonAddText(json, "selection",
                        caret ? ToolAnsiToUtf8(TreeItemText(tree, caret, block).c_str()) : "");
    }
    ToolJsonAddBool(json, "ok_enabled", IsWindowEnabled(GetDlgItem(dialog, IDOK)) != FALSE);

    bool choose = strcmp(action, "cancel") != 0 && selected;
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(choose ? IDOK : IDCANCEL, BN_CLICKED), 0);
    std::vector<std::string> boxes;
    bool cancelledAfterBox = false;
    bool closed = WaitForClose(dialog, deadline, boxes, cancelledAfterBox);
    // The browser may read the path after the message returned; free it only once it closed.
    RemoteClose(block, closed);
    ToolJsonAddRaw(json, "boxes", JsonList(boxes));
    ToolJsonAddBool(json, "closed", closed);
    ToolJsonClose(json);
    printf("%s\n", json.c_str());
    if (!closed)
        return 3;
    return strcmp(action, "cancel") == 0 || selected ? 0 : 4;
}

bool IsDialogCommand(const char *name)
{
    return strcmp(name, "filedialog") == 0 || strcmp(name, "folderdialog") == 0;
}

int RunDialogCommand(int argc, char **argv)
{
    if (argc < 5)
        return Usage();
    const char *command = argv[1];
    const char *title = argv[2];
    int seconds = atoi(argv[3]);
    const char *action = argv[4];
    const char *arg = argc > 5 ? argv[5] : "";
    if (seconds <= 0)
        seconds = 20;
    bool needsArg = strcmp(action, "cancel") != 0;
    if (needsArg && argc < 6)
        return Usage();
    int rc;
    if (strcmp(command, "filedialog") == 0) {
        if (strcmp(action, "cancel") != 0 && strcmp(action, "choose") != 0)
            return Usage();
        rc = RunFileDialog(title, seconds, action, arg);
    } else {
        if (strcmp(action, "cancel") != 0 && strcmp(action, "path") != 0 &&
            strcmp(action, "item") != 0)
            return Usage();
        rc = RunFolderDialog(title, seconds, action, arg);
    }
    fflush(stdout);
    return rc;
}
