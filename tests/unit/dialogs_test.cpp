// The open-file dialog and the folder browser: the filter list, the settings and their
// defaults, the records handed to the platform, the answer keys and the folder warning.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/host_settings.h"
#include "dialogs/file_dialogs.h"
#include "fake/fake.h"
#include "fake/fake_dialogs.h"

namespace {

const char kDefaultSpec[] = "Tillwick Files (*.tw)|*.tw|Old Tillwick Files (*.mdb)|*.mdb|";
const std::vector<std::string> kDefaultFilter = {"Tillwick Files (*.tw)", "*.tw",
                                                 "Old Tillwick Files (*.mdb)", "*.mdb"};
const PlatWindow kHost = 0x2a0b4;
const uintptr_t kHostInstance = 0x400000;
const PlatItemList kList = 0x5150;

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override { FakeReset(); }
};

// The calls whose names start with one of the prefixes, in order.
std::vector<std::string> CallsStartingWith(const std::vector<std::string> &prefixes)
{
    std::vector<std::string> out;
    for (const std::string &call : gFake.calls)
        for (const std::string &p : prefixes)
            if (call.compare(0, p.size(), p) == 0) {
                out.push_back(call);
                break;
            }
    return out;
}

std::vector<std::string> Writes()
{
    std::vector<std::string> out;
    for (const FakeProfileWrite &w : gFake.profileWrites)
        out.push_back(w.section + "|" + w.key + "=" + w.value + "|" + w.file);
    return out;
}

std::string AccessWrite(const std::string &key, const std::string &value)
{
    return "Microsoft Access|" + key + "=" + value + "|Tillwick.ini";
}

void SetHostWindow()
{
    gFake.windowTitles[kHost] = "Tillwick Orvenda - Shop.tw";
    gFakeDialogs.windowInstances[kHost] = kHostInstance;
    FakeSetSetting("Microsoft Access", "hWnd", std::to_string(kHost));
}

// ---- the filter list --------------------------------------------------------------------

TEST(FilterList, EveryBarBecomesANulAndTheListIsAlwaysClosed)
{
    struct Row {
        std::string fileSpec;
        std::string bytes;  // the list up to and including its closing empty string
        int result;
    } rows[] = {
        {kDefaultSpec,
         std::string("Tillwick Files (*.tw)\0*.tw\0Old Tillwick Files (*.mdb)\0*.mdb\0\0", 61), 1},
        {"Text (*.txt)|*.txt|", std::string("Text (*.txt)\0*.txt\0\0", 20), 1},
        // The last pattern without its closing bar is kept and the list still closed.
        {"Text (*.txt)|*.txt", std::string("Text (*.txt)\0*.txt\0\0", 20), 1},
        {"A|*.a;*.b|B|*.b", std::string("A\0*.a;*.b\0B\0*.b\0\0", 18), 1},
        {"", std::string("\0\0", 2), 1},
        {"|", std::string("\0\0", 2), 1},
        // The longest value a setting can have, without a closing bar: still fits, closed.
        {std::string(250, 'd') + "|*.x", std::string(250, 'd') + std::string("\0*.x\0\0", 6), 1},
        // Longer than any setting (only a direct call can pass it): cut and closed.
        {std::string(300, 'd'), std::string(254, 'd') + std::string("\0\0", 2), 0},
    };
    for (const Row &row : rows) {
        char list[kFilterListSize];
        memset(list, 'Z', sizeof list);
        EXPECT_EQ(BuildFilterList(row.fileSpec.c_str(), list, sizeof list), row.result) << row.fileSpec;
        ASSERT_LE(row.bytes.size(), sizeof list);
        EXPECT_EQ(std::string(list, row.bytes.size()), row.bytes) << row.fileSpec;
    }
}

TEST(FilterList, TinyBuffersAreNeverOverrun)
{
    char buf[4] = {'Z', 'Z', 'Z', 'Z'};
    EXPECT_EQ(BuildFilterList("A|*.a|", buf, 0), 0);
    EXPECT_EQ(buf[0], 'Z');
    EXPECT_EQ(BuildFilterList("A|*.a|", buf, 1), 0);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[1], 'Z');
    memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(BuildFilterList("A|*.a|", buf, 3), 0);
    EXPECT_EQ(std::string(buf, 4), std::string("A\0\0Z", 4));
    memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(BuildFilterList("", buf, 2), 1);
    EXPECT_EQ(std::string(buf, 3), std::string("\0\0Z", 3));
}

// ---- the open-file dialog: settings and defaults -------------------------------------

TEST_F(Dialogs, OpenDialogSettingsAbsentAgainstPresentButEmpty)
{
    struct Row {
        const char *name;
        const char *helpFile;    // nullptr: key absent
        const char *initialDir;  // nullptr: key absent
        const char *fileSpec;    // nullptr: key absent
        const char *dlgTitle;    // nullptr: key absent
        std::string wantDir;
        std::vector<std::string> wantFilter;
        std::string wantTitle;
    } rows[] = {
        {"all absent", "C:\\Program Files\\Tillwick Orvenda\\Tillwick.hlp", nullptr, nullptr,
         nullptr, "C:\\Program Files\\Tillwick Orvenda", kDefaultFilter, ""},
        {"all present but empty", "C:\\Prog\\Tillwick.hlp", "", "", "", "", {}, ""},
        {"no help file either", nullptr, nullptr, nullptr, nullptr, "", kDefaultFilter, ""},
        {"help file in a drive root", "C:\\Tillwick.hlp", nullptr, nullptr, nullptr, "C:\\",
         kDefaultFilter, ""},
        {"all given", "C:\\Prog\\Tillwick.hlp", "D:\\Books", "Backups (*.bk1)|*.bk1|",
         "Open a data file", "D:\\Books", {"Backups (*.bk1)", "*.bk1"}, "Open a data file"},
        {"quoted and padded values", nullptr, " \"D:\\My Books\" ", "\"Text|*.txt\"",
         "  Choose  ", "D:\\My Books", {"Text", "*.txt"}, "Choose"},
        {"fileSpec without its closing bar", nullptr, nullptr, "All files|*.*", nullptr, "",
         {"All files", "*.*"}, ""},
    };
    for (const Row &row : rows) {
        FakeReset();
        if (row.helpFile)
            FakeSetSetting("Run-Time Options", "HelpFile", row.helpFile);
        if (row.initialDir)
            FakeSetSetting("Microsoft Access", "InitialDir", row.initialDir);
        if (row.fileSpec)
            FakeSetSetting("Microsoft Access", "FileSpec", row.fileSpec);
        if (row.dlgTitle)
            FakeSetSetting("Microsoft Access", "DlgTitle", row.dlgTitle);
        ShowOpenFileDialog();
        ASSERT_EQ(gFakeDialogs.openFileCalls.size(), 1u) << row.name;
        const FakeOpenFileCall &call = gFakeDialogs.openFileCalls[0];
        EXPECT_FALSE(call.initialDirNull) << row.name;
        EXPECT_EQ(call.initialDir, row.wantDir) << row.name;
        EXPECT_FALSE(call.filterNull) << row.name;
        EXPECT_EQ(call.filter, row.wantFilter) << row.name;
        EXPECT_FALSE(call.titleNull) << row.name;
        EXPECT_EQ(call.title, row.wantTitle) << row.name;
    }
}

TEST_F(Dialogs, OpenDialogReadsItsSettingsInOrder)
{
    FakeSetSetting("Run-Time Options", "HelpFile", "C:\\Prog\\Tillwick.hlp");
    ShowOpenFileDialog();
    std::vector<std::string> want = {
        "ReadProfile(Microsoft Access,hWnd,,255,tillwick.ini)",
        "ReadProfile(Run-Time Options,HelpFile,,255,tillwick.ini)",
        "ReadProfile(Microsoft Access,InitialDir,C:\\Prog,255,tillwick.ini)",
        std::string("ReadProfile(Microsoft Access,FileSpec,") + kDefaultSpec + ",255,tillwick.ini)",
        "ReadProfile(Microsoft Access,DlgTitle,,255,tillwick.ini)",
        "GetOpenFileName(0,)",
    };
    EXPECT_EQ(CallsStartingWith({"ReadProfile", "GetOpenFileName"}), want);
}

TEST_F(Dialogs, OpenFileRecordHasEveryMemberAsGiven)
{
    SetHostWindow();
    FakeSetSetting("Microsoft Access", "DlgTitle", "Open");
    ShowOpenFileDialog();
    ASSERT_EQ(gFakeDialogs.openFileCalls.size(), 1u);
    const FakeOpenFileCall &c = gFakeDialogs.openFileCalls[0];
    EXPECT_EQ(c.owner, kHost);
    EXPECT_EQ(c.instance, kHostInstance);
    EXPECT_EQ(c.filter, kDefaultFilter);
    EXPECT_TRUE(c.customFilterNull);
    EXPECT_EQ(c.maxCustomFilter, 0u);
    EXPECT_EQ(c.filterIndex, 0u);
    EXPECT_FALSE(c.fileNull);
    EXPECT_EQ(c.fileAtCall, "");
    EXPECT_EQ(c.maxFile, 256u);
    EXPECT_TRUE(c.fileTitleNull);
    EXPECT_EQ(c.maxFileTitle, 0u);
    EXPECT_EQ(c.title, "Open");
    EXPECT_EQ(c.flags, 0x1004u);
    EXPECT_EQ(c.fileOffset, 0);
    EXPECT_EQ(c.fileExtension, 0);
    EXPECT_TRUE(c.defExtNull);
    EXPECT_EQ(c.custData, 0);
    EXPECT_EQ(c.hook, 0u);
    EXPECT_TRUE(c.templateNameNull);
}

// The owner of both dialogs and of the warning, from "hWnd".
TEST_F(Dialogs, OwnerComesFromTheHostWindowKey)
{
    struct Row {
        const char *hwnd;  // nullptr: key absent
        bool windowExists;
        PlatWindow wantOwner;
        uintptr_t wantInstance;
    } rows[] = {
        {nullptr, false, 0, 0},
        {"", false, 0, 0},
        {"0", false, 0, 0},
        {"not a number", false, 0, 0},
        {"172212", true, 172212, kHostInstance},
        {"172212abc", true, 172212, kHostInstance},
        // A number that names no window any more: no owner rather than no dialog.
        {"172212", false, 0, 0},
    };
    for (const Row &row : rows) {
        const char *label = row.hwnd ? row.hwnd : "(absent)";
        FakeReset();
        if (row.hwnd)
            FakeSetSetting("Microsoft Access", "hWnd", row.hwnd);
        if (row.windowExists) {
            gFake.windowTitles[172212] = "Some window";
            gFakeDialogs.windowInstances[172212] = kHostInstance;
        }
        ShowOpenFileDialog();
        ASSERT_EQ(gFakeDialogs.openFileCalls.size(), 1u) << label;
        EXPECT_EQ(gFakeDialogs.openFileCalls[0].owner, row.wantOwner) << label;
        EXPECT_EQ(gFakeDialogs.openFileCalls[0].instance, row.wantInstance) << label;
        // The instance is asked of an owner only.
        EXPECT_EQ(CallsStartingWith({"GetWindowInstance"}).size(), row.wantOwner ? 1u : 0u) << label;

        FakeReset();
        if (row.hwnd)
            FakeSetSetting("Microsoft Access", "hWnd", row.hwnd);
        if (row.windowExists)
            gFake.windowTitles[172212] = "Some window";
        gFakeDialogs.browseResult = kList;  // a virtual folder: the warning shows
        ShowSelectFolderDialog();
        ASSERT_EQ(gFakeDialogs.browseCalls.size(), 1u) << label;
        EXPECT_EQ(gFakeDialogs.browseCalls[0].owner, row.wantOwner) << label;
        ASSERT_EQ(gFake.messageBoxes.size(), 1u) << label;
        EXPECT_EQ(gFake.messageBoxes[0].owner, row.wantOwner) << label;
    }
}

// ---- the open-file dialog: answer keys ------------------------------------------------

TEST_F(Dialogs, OpenDialogWritesTheAnswerPairInOrder)
{
    const std::string longName = "C:\\Users\\Ann\\My Documents\\Quarterly accounts 2024.tw";
    const std::string shortName = "C:\\Users\\Ann\\MYDOCU~1\\QUARTE~1.TW";
    const std::string plain = "C:\\DATA\\SHOP.TW";
    const std::string tooLong = "C:\\" + std::string(253, 'x');  // 256 characters
    const std::string longest = "C:\\" + std::string(252, 'x');  // 255 characters
    struct Row {
        const char *name;
        std::string choice;  // "": the user cancels
        bool fileExists;
        std::string shortForm;  // "": the same as the path
        std::string wantShort, wantLong;
    } rows[] = {
        {"long names", longName, true, shortName, shortName, longName},
        {"no long names", plain, true, "", plain, plain},
        {"longest path that fits", longest, true, "", longest, longest},
        {"cancelled", "", false, "", "CANCELLED", "CANCELLED"},
        // The dialog fails when the path does not fit its 256-character buffer.
        {"path too long for the buffer", tooLong, true, "", "CANCELLED", "CANCELLED"},
        // The file vanished before its short form was taken: the full path under both keys.
        {"short form cannot be had", longName, false, "", longName, longName},
    };
    for (const Row &row : rows) {
        FakeReset();
        // An earlier answer is overwritten, never kept.
        FakeSetSetting("Microsoft Access", "FileSelected", "C:\\OLD.TW");
        FakeSetSetting("Microsoft Access", "FileSelectedLong", "C:\\Old answer.tw");
        gFakeDialogs.openFileChoice = row.choice;
        if (row.fileExists)
            gFake.files[row.choice] = "data";
        if (!row.shortForm.empty())
            gFake.shortPaths[row.choice] = row.shortForm;
        ShowOpenFileDialog();
        std::vector<std::string> want = {AccessWrite("FileSelected", row.wantShort),
                                         AccessWrite("FileSelectedLong", row.wantLong)};
        EXPECT_EQ(Writes(), want) << row.name;
        EXPECT_EQ(FakeGetSetting("Microsoft Access", "FileSelected"), row.wantShort) << row.name;
        EXPECT_EQ(FakeGetSetting("Microsoft Access", "FileSelectedLong"), row.wantLong) << row.name;
        EXPECT_TRUE(gFake.messageBoxes.empty()) << row.name;
        // The short form is asked for a chosen file only, after the dialog.
        bool chosen = row.wantLong != "CANCELLED";
        EXPECT_EQ(CallsStartingWith({"GetShortPathName"}).size(), chosen ? 1u : 0u) << row.name;
    }
}

TEST_F(Dialogs, OpenDialogShortFormIsTakenOfTheChosenPathBeforeTheWrites)
{
    gFakeDialogs.openFileChoice = "C:\\Data\\Shop.tw";
    gFake.files["C:\\Data\\Shop.tw"] = "data";
    ShowOpenFileDialog();
    std::vector<std::string> want = {
        "GetOpenFileName(0,)",
        "GetShortPathName(C:\\Data\\Shop.tw)",
        "WriteProfile(Microsoft Access,FileSelected,C:\\Data\\Shop.tw,Tillwick.ini)",
        "WriteProfile(Microsoft Access,FileSelectedLong,C:\\Data\\Shop.tw,Tillwick.ini)",
    };
    EXPECT_EQ(CallsStartingWith({"GetOpenFileName", "GetShortPathName", "WriteProfile"}), want);
}

// ---- the folder browser ---------------------------------------------------------------

TEST_F(Dialogs, BrowseRecordHasEveryMemberAsGiven)
{
    struct Row {
        const char *dlgTitle;  // nullptr: key absent
        std::string want;
    } rows[] = {{nullptr, ""}, {"", ""}, {"Choose the backup folder", "Choose the backup folder"}};
    for (const Row &row : rows) {
        FakeReset();
        SetHostWindow();
        if (row.dlgTitle)
            FakeSetSetting("Microsoft Access", "DlgTitle", row.dlgTitle);
        ShowSelectFolderDialog();
        ASSERT_EQ(gFakeDialogs.browseCalls.size(), 1u);
        const FakeBrowseCall &c = gFakeDialogs.browseCalls[0];
        EXPECT_EQ(c.owner, kHost);
        EXPECT_EQ(c.root, 0u);
        EXPECT_TRUE(c.displayNameNull);
        EXPECT_FALSE(c.titleNull);
        EXPECT_EQ(c.title, row.want);
        EXPECT_EQ(c.flags, 0x0001u);
        EXPECT_EQ(c.callback, 0u);
        EXPECT_EQ(c.lParam, 0);
        EXPECT_EQ(c.image, 0);
        // The title first, then the host window; no other setting is read.
        std::vector<std::string> reads = {
            "ReadProfile(Microsoft Access,DlgTitle,,255,tillwick.ini)",
            "ReadProfile(Microsoft Access,hWnd,,255,tillwick.ini)",
        };
        EXPECT_EQ(CallsStartingWith({"ReadProfile"}), reads);
    }
}

TEST_F(Dialogs, FolderBrowserOutcomes)
{
    const std::string longDir = "C:\\Program Files\\Tillwick Orvenda\\Backups";
    const std::string shortDir = "C:\\PROGRA~1\\TILLWI~1\\Backups";
    const std::string free1 = "SHGetMalloc";
    const std::string free2 = "Malloc.Free(" + std::to_string(kFakeShellMalloc) + "," +
                              std::to_string(kList) + ")";
    const std::string free3 = "Malloc.Release(" + std::to_string(kFakeShellMalloc) + ")";
    const std::string box = "MessageBox(" + std::to_string(kHost) +
                            ",This is not a valid path,Tillwick Orvenda,48)";
    const std::string writeShort = "WriteProfile(Microsoft Access,FolderSelected,";
    const std::string writeLong = "WriteProfile(Microsoft Access,FolderSelectedLong,";
    const std::string path = "GetPathFromItemList(" + std::to_string(kList) + ",260)";
    struct Row {
        const char *name;
        PlatItemList browse;
        std::string folderPath;  // "": no file-system path
        bool folderExists;
        bool mallocFails;
        std::vector<std::string> wantCalls;
    } rows[] = {
        {"cancelled", 0, "", false, false,
         {writeShort + "CANCELLED,Tillwick.ini)", writeLong + "CANCELLED,Tillwick.ini)"}},
        {"file-system folder", kList, longDir, true, false,
         {path, "GetShortPathName(" + longDir + ")", writeShort + shortDir + ",Tillwick.ini)",
          writeLong + longDir + ",Tillwick.ini)", free1, free2, free3}},
        {"folder vanished before its short form", kList, longDir, false, false,
         {path, "GetShortPathName(" + longDir + ")", writeShort + longDir + ",Tillwick.ini)",
          writeLong + longDir + ",Tillwick.ini)", free1, free2, free3}},
        {"virtual folder", kList, "", false, false,
         {path, box, writeShort + "CANCELLED,Tillwick.ini)", writeLong + "CANCELLED,Tillwick.ini)",
          free1, free2, free3}},
        {"allocator cannot be had", kList, longDir, true, true,
         {path, "GetShortPathName(" + longDir + ")", writeShort + shortDir + ",Tillwick.ini)",
          writeLong + longDir + ",Tillwick.ini)", free1}},
        {"virtual folder, allocator cannot be had", kList, "", false, true,
         {path, box, writeShort + "CANCELLED,Tillwick.ini)", writeLong + "CANCELLED,Tillwick.ini)",
          free1}},
    };
    for (const Row &row : rows) {
        FakeReset();
        SetHostWindow();
        FakeSetSetting("Microsoft Access", "FolderSelected", "C:\\OLD");
        FakeSetSetting("Microsoft Access", "FolderSelectedLong", "C:\\Old answer");
        gFakeDialogs.browseResult = row.browse;
        if (!row.folderPath.empty())
            gFakeDialogs.itemPaths[row.browse] = row.folderPath;
        if (row.folderExists) {
            gFake.directories[FakeLower(row.folderPath)] = true;
            gFake.shortPaths[row.folderPath] = shortDir;
        }
        gFakeDialogs.mallocFails = row.mallocFails;
        ShowSelectFolderDialog();
        EXPECT_EQ(CallsStartingWith({"GetPathFromItemList", "GetShortPathName", "MessageBox",
                                     "WriteProfile", "SHGetMalloc", "Malloc."}),
                  row.wantCalls)
            << row.name;
        EXPECT_EQ(gFake.profileWrites.size(), 2u) << row.name;
        EXPECT_EQ(gFakeDialogs.mallocsHeld, 0) << row.name;  // every allocator obtained is released
        bool freed = row.browse != 0 && !row.mallocFails;
        EXPECT_EQ(gFakeDialogs.freedLists.size(), freed ? 1u : 0u) << row.name;
    }
}

TEST_F(Dialogs, VirtualFolderWarningIsShownOnceWithTheExactTexts)
{
    SetHostWindow();
    gFakeDialogs.browseResult = kList;
    ShowSelectFolderDialog();
    ASSERT_EQ(gFake.messageBoxes.size(), 1u);
    EXPECT_EQ(gFake.messageBoxes[0].owner, kHost);
    EXPECT_EQ(gFake.messageBoxes[0].text, "This is not a valid path");
    EXPECT_EQ(gFake.messageBoxes[0].caption, "Tillwick Orvenda");
    EXPECT_EQ(gFake.messageBoxes[0].style, 0x30u);
    EXPECT_EQ(FakeGetSetting("Microsoft Access", "FolderSelected"), "CANCELLED");
    EXPECT_EQ(FakeGetSetting("Microsoft Access", "FolderSelectedLong"), "CANCELLED");
}

TEST_F(Dialogs, CancelledBrowserShowsNothingAndFreesNothing)
{
    ShowSelectFolderDialog();
    EXPECT_TRUE(gFake.messageBoxes.empty());
    EXPECT_TRUE(CallsStartingWith({"GetPathFromItemList", "SHGetMalloc", "Malloc."}).empty());
    EXPECT_EQ(FakeGetSetting("Microsoft Access", "FolderSelected"), "CANCELLED");
    EXPECT_EQ(FakeGetSetting("Microsoft Access", "FolderSelectedLong"), "CANCELLED");
}

TEST_F(Dialogs, DialogsTouchNoKeyButTheirAnswerPair)
{
    SetHostWindow();
    gFakeDialogs.openFileChoice = "C:\\A.TW";
    gFake.files["C:\\A.TW"] = "";
    ShowOpenFileDialog();
    gFakeDialogs.browseResult = kList;
    gFakeDialogs.itemPaths[kList] = "C:\\DATA";
    gFake.directories["c:\\data"] = true;
    ShowSelectFolderDialog();
    std::vector<std::string> want = {
        AccessWrite("FileSelected", "C:\\A.TW"), AccessWrite("FileSelectedLong", "C:\\A.TW"),
        AccessWrite("FolderSelected", "C:\\DATA"), AccessWrite("FolderSelectedLong", "C:\\DATA")};
    EXPECT_EQ(Writes(), want);
}

}  // namespace
