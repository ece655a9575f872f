// Data-file open, host launch, lock-file clean-up, the import keystroke and the auxiliary
// launches, against the recording fake.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/dispatcher.h"
#include "fake/fake.h"
#include "launch/aux_launch.h"
#include "launch/data_file.h"

namespace {

const char kBackupText[] =
    "You have tried to load a Tillwick Orvenda backup file.\n\nPlease read help in Tillwick "
    "Orvenda for more details on how to restore this file (Search for Restore).";
const char kNumberedBackupText[] =
    "You have tried to load a Tillwick Orvenda backup file.\n\nTo restore this file, please use "
    "the Restore from Backup feature in Tillwick Orvenda.";
const char kDemoOpenText[] =
    "The demo is currently open, please close the demo and then open Tillwick Orvenda.";
const char kHostOpenText[] =
    "Tillwick Orvenda is currently open, please close Tillwick Orvenda and then open the Demo.";
const char kWordText[] =
    "Could not load Word.  It is possible that Word is not installed, or is not installed "
    "correctly.\n\nTo fix it, please re-install Word.";
const char kWordPadText[] =
    "Could not load WordPad.  It is possible that WordPad is not installed, or is not "
    "installed correctly.\n\nTo fix it, please re-install WordPad.";

const PlatWindow kHost = 4242;

class Launch : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeReset();
        FakeSetSetting("Run-Time Options", "HelpFile", "C:\\Tillwick\\Tillwick.hlp");
    }

    static void RunHost(const std::string &title)
    {
        gFake.windowTitles[kHost] = title;
        FakeSetSetting("Microsoft Access", "hWnd", std::to_string(kHost));
    }

    static size_t IndexOf(const std::string &prefix)
    {
        for (size_t i = 0; i < gFake.calls.size(); i++)
            if (gFake.calls[i].compare(0, prefix.size(), prefix) == 0)
                return i;
        return (size_t)-1;
    }

    static int Count(const std::string &prefix)
    {
        int n = 0;
        for (const std::string &call : gFake.calls)
            n += call.compare(0, prefix.size(), prefix) == 0;
        return n;
    }

    static std::vector<std::string> BoxTexts()
    {
        std::vector<std::string> texts;
        for (const FakeMessageBox &box : gFake.messageBoxes)
            texts.push_back(box.text);
        return texts;
    }
};

// ---- the three tests on the path ------------------------------------------------------

TEST_F(Launch, BackupAndQifTestsLookAnywhereInThePath)
{
    struct Row {
        const char *path;
        std::vector<std::string> boxes;
        bool qif;        // QIFFile and QIFFileLong written
        bool started;    // the host application started
        const char *cmd; // what follows the fixed parameters
    } rows[] = {
        {"C:\\Data\\Shop.bk3", {kBackupText}, false, false, ""},
        {"C:\\Data\\Shop.001", {kNumberedBackupText}, false, false, ""},
        {"C:\\Old.bk\\Shop.tw", {kBackupText}, false, false, ""},
        {"C:\\DATA\\SHOP.BK12", {kBackupText}, false, false, ""},
        {"C:\\Old.001\\Shop.tw", {kNumberedBackupText}, false, false, ""},
        {"C:\\x.bk\\y.001", {kBackupText, kNumberedBackupText}, false, false, ""},
        {"C:\\x.bk\\Bank.qif", {kBackupText}, true, false, ""},      // keys written, then refused
        {"C:\\Import\\Bank.QIF", {}, true, true, ""},
        {"C:\\a.qifs\\Shop.tw", {}, true, true, ""},                 // ".qif" anywhere
        {"C:\\Data\\Shop.tw", {}, false, true, " /cmd C:\\Data\\Shop.tw"},
        {"C:\\bk\\001\\qif\\Shop.tw", {}, false, true, " /cmd C:\\bk\\001\\qif\\Shop.tw"},
        {"C:\\Data\\Shop.b k", {}, false, true, " /cmd C:\\Data\\Shop.b k"},
    };
    for (const Row &row : rows) {
        SetUp();
        OpenDataFile(row.path);
        EXPECT_EQ(BoxTexts(), row.boxes) << row.path;
        for (const FakeMessageBox &box : gFake.messageBoxes) {
            EXPECT_EQ(box.owner, 0u);
            EXPECT_EQ(box.caption, "Error");
            EXPECT_EQ(box.style, 0x40u);
        }
        EXPECT_EQ(FakeHasSetting("Microsoft Access", "QIFFile"), row.qif) << row.path;
        if (row.qif) {
            // The file does not exist in the fake: no short form, so the path unchanged.
            EXPECT_EQ(FakeGetSetting("Microsoft Access", "QIFFile"), row.path);
            EXPECT_EQ(FakeGetSetting("Microsoft Access", "QIFFileLong"), row.path);
        }
        ASSERT_EQ(gFake.shellExecutes.size(), row.started ? 1u : 0u) << row.path;
        if (row.started)
            EXPECT_EQ(gFake.shellExecutes[0].params,
                      std::string("tillwick.mdb /ini tillwick.ini") + row.cmd) << row.path;
        else
            EXPECT_EQ(Count("GetDeviceCaps"), 0) << "no probe for a refused path: " << row.path;
    }
}

TEST_F(Launch, QifKeysHoldTheShortAndTheLongForm)
{
    gFake.files["C:\\My Imports\\Bank Statement.qif"] = "!Type:Bank\n";
    gFake.shortPaths["C:\\My Imports\\Bank Statement.qif"] = "C:\\MYIMPO~1\\BANKST~1.QIF";
    OpenDataFile("C:\\My Imports\\Bank Statement.qif");
    EXPECT_EQ(FakeGetSetting("Microsoft Access", "QIFFile"), "C:\\MYIMPO~1\\BANKST~1.QIF");
    EXPECT_EQ(FakeGetSetting("Microsoft Access", "QIFFileLong"),
              "C:\\My Imports\\Bank Statement.qif");
    EXPECT_FALSE(FakeHasSetting("Microsoft Access", "FileSelected"));
    // Written before the start, which goes without " /cmd ".
    ASSERT_EQ(gFake.shellExecutes.size(), 1u);
    EXPECT_EQ(gFake.shellExecutes[0].params, "tillwick.mdb /ini tillwick.ini");
    EXPECT_LT(IndexOf("WriteProfile(Microsoft Access,QIFFileLong"), IndexOf("ShellExecute"));
}

// ---- a running host application ------------------------------------------------------------

TEST_F(Launch, RunningHostIsBroughtToTheFront)
{
    struct Row {
        const char *title;
        const char *path;
        bool running;         // trusted by its title
        const char *box;      // "Demo is Open" text, or nullptr
        bool keystroke;
    } rows[] = {
        {"Tillwick Orvenda - Shop.tw", "C:\\Data\\Other.tw", true, nullptr, false},
        {"TILLWICK ORVENDA", "", true, nullptr, false},
        {"tillwick orvenda - [DEMO.DAT]", "C:\\Data\\Other.tw", true, kDemoOpenText, false},
        {"Tillwick Orvenda - demo.dat", "C:\\In\\Bank.qif", true, kDemoOpenText, false},
        {"Tillwick Orvenda - Shop.tw", "C:\\In\\Bank.qif", true, nullptr, true},
        {"Tillwick  Orvenda", "C:\\Data\\Other.tw", false, nullptr, false},
        {"Notepad", "C:\\In\\Bank.qif", false, nullptr, false},
        {"", "", false, nullptr, false},
    };
    for (const Row &row : rows) {
        SetUp();
        RunHost(row.title);
        OpenDataFile(row.path);
        std::string at = std::string(row.title) + " / " + row.path;
        if (!row.running) {
            EXPECT_EQ(Count("SetForegroundWindow"), 0) << at;
            EXPECT_EQ(gFake.shellExecutes.size(), 1u) << "started anew: " << at;
            continue;
        }
        EXPECT_TRUE(gFake.shellExecutes.empty()) << at;
        EXPECT_EQ(Count("GetDeviceCaps"), 0) << at;
        EXPECT_EQ(Count("FindFirst"), 0) << "no clean-up while it runs: " << at;
        size_t front = IndexOf("SetForegroundWindow(4242)");
        size_t show = IndexOf("ShowWindow(4242,3)");
        ASSERT_NE(front, (size_t)-1) << at;
        ASSERT_NE(show, (size_t)-1) << at;
        EXPECT_LT(front, show) << at;
        EXPECT_FALSE(FakeHasSetting("Microsoft Access", "FileSelected")) << at;
        if (row.box) {
            ASSERT_EQ(gFake.messageBoxes.size(), 1u) << at;
            EXPECT_EQ(gFake.messageBoxes[0].owner, kHost);
            EXPECT_EQ(gFake.messageBoxes[0].text, row.box);
            EXPECT_EQ(gFake.messageBoxes[0].caption, "Demo is Open");
            EXPECT_EQ(gFake.messageBoxes[0].style, 0x40u);
            EXPECT_LT(show, IndexOf("MessageBox"));
        } else {
            EXPECT_TRUE(gFake.messageBoxes.empty()) << at;
        }
        EXPECT_EQ(Count("keybd_event"), row.keystroke ? 4 : 0) << at;
        if (row.keystroke) {
            EXPECT_LT(IndexOf("WriteProfile(Microsoft Access,QIFFileLong"), IndexOf("Sleep(250)"));
            EXPECT_LT(show, IndexOf("Sleep(250)"));
        }
    }
}

TEST_F(Launch, ImportKeystrokeIsCtrlIAfterAQuarterSecond)
{
    SendImportKeystroke();
    std::vector<std::string> expected = {
        "Sleep(250)",
        "VkKeyScan(i)",
        "CharToOem(i)",
        "OemKeyScan(105)",
        "MapVirtualKey(17,0)",
        "keybd_event(17,29,0)",   // Ctrl down
        "keybd_event(73,23,0)",   // I down
        "keybd_event(73,23,2)",   // I up
        "keybd_event(17,29,2)",   // Ctrl up
    };
    EXPECT_EQ(gFake.calls, expected);
}

TEST_F(Launch, WindowTitleTest)
{
    struct Row {
        PlatWindow window;
        const char *title;   // nullptr: no such window
        const char *text;
        bool result;
    } rows[] = {
        {7, "Tillwick Orvenda", "Tillwick Orvenda", true},
        {7, "TILLWICK ORVENDA - SHOP.TW", "Tillwick Orvenda", true},
        {7, "x tillwick orvenda", "Tillwick Orvenda", true},
        {7, "Tillwick Orvend", "Tillwick Orvenda", false},
        {7, "Tillwick-Orvenda", "Tillwick Orvenda", false},
        {7, "Shop.TW", ".tw", true},
        {7, "Shop.tx", ".tw", false},
        {7, "anything", "", true},
        {7, nullptr, "", true},
        {7, nullptr, "Tillwick Orvenda", false},
        {0, nullptr, "Tillwick Orvenda", false},
        {7, "\xc4Tillwick Orvenda", "tillwick orvenda", true},
    };
    for (const Row &row : rows) {
        FakeReset();
        if (row.title)
            gFake.windowTitles[row.window] = row.title;
        EXPECT_EQ(WindowTitleContains(row.window, row.text), row.result)
            << (row.title ? row.title : "(none)") << " / " << row.text;
    }
    // Only the first 254 characters of a title are read.
    FakeReset();
    gFake.windowTitles[7] = std::string(240, 'x') + "Tillwick Orvenda";
    EXPECT_FALSE(WindowTitleContains(7, "Tillwick Orvenda"));
    gFake.windowTitles[7] = std::string(238, 'x') + "Tillwick Orvenda";
    EXPECT_TRUE(WindowTitleContains(7, "Tillwick Orvenda"));
}

// ---- starting the host application ----------------------------------------------------------

TEST_F(Launch, HostLaunchCommand)
{
    struct Row {
        const char *helpFile;
        const char *path;
        const char *shortPath;   // nullptr: the short form cannot be had
        const char *program;
        const char *directory;
        const char *params;
    } rows[] = {
        {"C:\\Tillwick\\Tillwick.hlp", "", nullptr, "C:\\Tillwick\\msarn200.exe", "C:\\Tillwick",
         "tillwick.mdb /ini tillwick.ini"},
        {"C:\\Program Files\\Tillwick\\T.hlp", "", nullptr,
         "\"C:\\Program Files\\Tillwick\\msarn200.exe\"", "C:\\Program Files\\Tillwick",
         "tillwick.mdb /ini tillwick.ini"},
        {"C:\\Tillwick\\Tillwick.hlp", "D:\\My Accounts\\Shop 2024.tw", "D:\\MYACCO~1\\SHOP20~1.TW",
         "C:\\Tillwick\\msarn200.exe", "C:\\Tillwick",
         "tillwick.mdb /ini tillwick.ini /cmd D:\\MYACCO~1\\SHOP20~1.TW"},
        {"C:\\Tillwick\\Tillwick.hlp", "D:\\Gone\\Shop.tw", nullptr, "C:\\Tillwick\\msarn200.exe",
         "C:\\Tillwick", "tillwick.mdb /ini tillwick.ini /cmd D:\\Gone\\Shop.tw"},
        {"C:\\T.hlp", "", nullptr, "C:\\\\msarn200.exe", "C:\\", "tillwick.mdb /ini tillwick.ini"},
        {"", "", nullptr, "\\msarn200.exe", "", "tillwick.mdb /ini tillwick.ini"},
    };
    for (const Row &row : rows) {
        FakeReset();
        FakeSetSetting("Run-Time Options", "HelpFile", row.helpFile);
        if (row.shortPath) {
            gFake.files[row.path] = "x";
            gFake.shortPaths[row.path] = row.shortPath;
        }
        OpenDataFile(row.path);
        ASSERT_EQ(gFake.shellExecutes.size(), 1u) << row.path;
        const FakeShellExecute &run = gFake.shellExecutes[0];
        EXPECT_EQ(run.owner, 0u);
        EXPECT_EQ(run.verb, "open");
        EXPECT_EQ(run.file, row.program) << row.helpFile;
        EXPECT_EQ(run.dir, row.directory);
        EXPECT_EQ(run.params, row.params);
        EXPECT_EQ(run.show, 1);
        if (row.path[0]) {
            EXPECT_EQ(FakeGetSetting("Microsoft Access", "FileSelected"),
                      row.shortPath ? row.shortPath : row.path);
            EXPECT_EQ(FakeGetSetting("Microsoft Access", "FileSelectedLong"), row.path);
        } else {
            EXPECT_FALSE(FakeHasSetting("Microsoft Access", "FileSelected"));
        }
    }
}

TEST_F(Launch, ProbeAndCleanUpComeBeforeTheStart)
{
    FakeSetSetting("Microsoft Access", "LastNonFloppyTillwick", "D:\\Accounts\\Shop.tw");
    gFake.files["D:\\Accounts\\Shop.ldb"] = "";
    gFake.deviceCaps = 120;
    OpenDataFile("");
    size_t probe = IndexOf("WriteProfile(Microsoft Access,DPILogicalX,120,Tillwick.ini)");
    size_t clean = IndexOf("DeleteFile(D:\\Accounts\\Shop.ldb)");
    size_t start = IndexOf("ShellExecute");
    ASSERT_NE(probe, (size_t)-1);
    ASSERT_NE(clean, (size_t)-1);
    EXPECT_LT(probe, clean);
    EXPECT_LT(clean, start);
}

TEST_F(Launch, ParametersAreNeverCut)
{
    // A path of 255 characters, the longest the dispatcher passes, without a short form:
    // the whole of it follows " /cmd ".
    std::string path = "D:\\" + std::string(249, 'a') + ".tw";
    ASSERT_EQ(path.size(), 255u);
    OpenDataFile(path.c_str());
    ASSERT_EQ(gFake.shellExecutes.size(), 1u);
    EXPECT_EQ(gFake.shellExecutes[0].params, "tillwick.mdb /ini tillwick.ini /cmd " + path);
    EXPECT_EQ(FakeGetSetting("Microsoft Access", "FileSelected"), path);

    // A short form that does not fit 260 characters is not cut either: the path is used.
    SetUp();
    std::string shortPath(300, 'S');
    gFake.files[path] = "x";
    gFake.shortPaths[path] = shortPath;
    OpenDataFile(path.c_str());
    ASSERT_EQ(gFake.shellExecutes.size(), 1u);
    EXPECT_EQ(gFake.shellExecutes[0].params, "tillwick.mdb /ini tillwick.ini /cmd " + path);

    // The longest program directory that can be read, with a blank: whole, the program quoted.
    SetUp();
    std::string directory = "C:\\Program Files\\" + std::string(248 - 17, 'd');
    FakeSetSetting("Run-Time Options", "HelpFile", directory + "\\x.hlp");  // 254 characters
    OpenDataFile("");
    ASSERT_EQ(gFake.shellExecutes.size(), 1u);
    EXPECT_EQ(gFake.shellExecutes[0].dir, directory);
    EXPECT_EQ(gFake.shellExecutes[0].file, "\"" + directory + "\\msarn200.exe\"");

    // Anything longer than a path cannot come from the dispatcher and is not acted on.
    SetUp();
    OpenDataFile(("D:\\" + std::string(300, 'b')).c_str());
    EXPECT_TRUE(gFake.calls.empty());
}

TEST_F(Launch, QuoteRule)
{
    struct Row {
        const char *text;
        size_t size;
        bool fits;
        const char *result;
    } rows[] = {
        {"C:\\Tillwick", 64, true, "C:\\Tillwick"},
        {"C:\\Program Files", 64, true, "\"C:\\Program Files\""},
        {" ", 4, true, "\" \""},
        {" ", 3, false, " "},
        {"", 1, true, ""},
        {"a b", 6, true, "\"a b\""},
        {"a b", 5, false, "a b"},
    };
    for (const Row &row : rows) {
        char buffer[64];
        snprintf(buffer, sizeof buffer, "%s", row.text);
        EXPECT_EQ(QuoteIfBlank(buffer, row.size), row.fits) << row.text;
        EXPECT_STREQ(buffer, row.result);
    }
}

// ---- the demonstration ------------------------------------------------------------------

TEST_F(Launch, Demo)
{
    struct Row {
        const char *title;   // nullptr: no host window
        bool started;
        bool box;
    } rows[] = {
        {nullptr, true, false},
        {"Notepad - Shop.tw", true, false},
        {"Tillwick Orvenda", false, false},
        {"Tillwick Orvenda - demo.dat", false, false},
        {"Tillwick Orvenda - Shop.tw", false, true},
        {"TILLWICK ORVENDA - SHOP.TW", false, true},
    };
    for (const Row &row : rows) {
        SetUp();
        FakeSetSetting("Microsoft Access", "LastNonFloppyTillwick", "D:\\Accounts\\Shop.tw");
        gFake.files["D:\\Accounts\\Shop.ldb"] = "";
        if (row.title)
            RunHost(row.title);
        StartDemo();
        std::string at = row.title ? row.title : "(none)";
        EXPECT_TRUE(gFake.deletedFiles.empty()) << "the demo cleans nothing: " << at;
        EXPECT_FALSE(FakeHasSetting("Microsoft Access", "FileSelected"));
        if (row.started) {
            ASSERT_EQ(gFake.shellExecutes.size(), 1u) << at;
            EXPECT_EQ(gFake.shellExecutes[0].params, "tillwick.mdb /ini tillwick.ini /cmd Demo");
            EXPECT_EQ(gFake.shellExecutes[0].file, "C:\\Tillwick\\msarn200.exe");
            EXPECT_EQ(gFake.shellExecutes[0].dir, "C:\\Tillwick");
            EXPECT_EQ(gFake.shellExecutes[0].show, 1);
            EXPECT_LT(IndexOf("WriteProfile(Microsoft Access,DPILogicalX"), IndexOf("ShellExecute"));
            EXPECT_EQ(Count("SetForegroundWindow"), 0);
            continue;
        }
        EXPECT_TRUE(gFake.shellExecutes.empty()) << at;
        EXPECT_EQ(Count("GetDeviceCaps"), 0) << at;
        EXPECT_LT(IndexOf("SetForegroundWindow(4242)"), IndexOf("ShowWindow(4242,3)"));
        ASSERT_EQ(gFake.messageBoxes.size(), row.box ? 1u : 0u) << at;
        if (row.box) {
            EXPECT_EQ(gFake.messageBoxes[0].owner, kHost);
            EXPECT_EQ(gFake.messageBoxes[0].text, kHostOpenText);
            EXPECT_EQ(gFake.messageBoxes[0].caption, "Tillwick Orvenda is Open");
            EXPECT_EQ(gFake.messageBoxes[0].style, 0x40u);
        }
    }
}

// ---- lock files ----------------------------------------------------------------------------

TEST(LockFolder, LastBackslashAfterPositionTwo)
{
    struct Row {
        const char *last;
        size_t length;
    } rows[] = {
        {"", 0}, {"C:", 0}, {"C:\\", 0}, {"\\a\\", 0}, {"C:\\Shop.tw", 0}, {"\\\\Shop.tw", 0},
        {"a\\Shop.tw", 0}, {"ab\\Shop.tw", 0}, {"Shop.tw", 0},
        {"abc\\Shop.tw", 4}, {"D:\\Accounts\\Shop.tw", 12}, {"D:\\A\\B\\", 7},
        {"D:\\A\\", 5}, {"D:\\A", 0},
    };
    for (const Row &row : rows)
        EXPECT_EQ(LockFolderLength(row.last), row.length) << row.last;
}

TEST(LockFolder, OnlyLockFileNames)
{
    struct Row {
        const char *name;
        bool lock;
    } rows[] = {
        {"Shop.ldb", true}, {"SHOP.LDB", true}, {".ldb", true}, {"a.b.ldb", true},
        {"vdm1.tmp", true}, {"VDMABC.TMP", true}, {"vdm.tmp", true},
        {"Shop.ldbak", false}, {"Shop.ldb.bak", false}, {"SHOP~1.LDB", true},
        {"vdm.tmpx", false}, {"xvdm1.tmp", false}, {"vd.tmp", false}, {"vdmtmp", false},
        {"Shop.tw", false}, {"ldb", false}, {"", false},
    };
    for (const Row &row : rows)
        EXPECT_EQ(IsLockFileName(row.name), row.lock) << row.name;
}

TEST_F(Launch, DeleteLockFilesDeletesExactlyTheLockFilesOfTheFolder)
{
    FakeSetSetting("Microsoft Access", "LastNonFloppyTillwick", "D:\\Accounts\\Shop.tw");
    for (const char *name : {"D:\\Accounts\\Shop.ldb", "D:\\Accounts\\Other.LDB",
                             "D:\\Accounts\\vdm12.tmp", "D:\\Accounts\\VDMx.TMP",
                             "D:\\Accounts\\Shop.tw", "D:\\Accounts\\tmp.tmp",
                             "D:\\Accounts\\Sub\\Deep.ldb", "D:\\Shop.ldb", "D:\\vdm1.tmp",
                             "D:\\Accounts\\Locked.ldb"})
        gFake.files[name] = "";
    gFake.lockedFiles["D:\\Accounts\\Locked.ldb"] = true;
    DeleteLockFiles();
    std::vector<std::string> deleted = gFake.deletedFiles;
    std::sort(deleted.begin(), deleted.end());
    std::vector<std::string> expected = {"D:\\Accounts\\Other.LDB", "D:\\Accounts\\Shop.ldb",
                                         "D:\\Accounts\\VDMx.TMP", "D:\\Accounts\\vdm12.tmp"};
    EXPECT_EQ(deleted, expected);
    // The locked one was tried, and the search went on past it.
    EXPECT_NE(IndexOf("DeleteFile(D:\\Accounts\\Locked.ldb)"), (size_t)-1);
    EXPECT_NE(IndexOf("FindFirst(D:\\Accounts\\*.ldb)"), (size_t)-1);
    EXPECT_LT(IndexOf("FindFirst(D:\\Accounts\\*.ldb)"), IndexOf("FindFirst(D:\\Accounts\\vdm*.tmp)"));
    EXPECT_EQ(Count("FindClose"), 2);
    EXPECT_TRUE(gFake.messageBoxes.empty());
}

TEST_F(Launch, DeleteLockFilesLeavesADriveRootAlone)
{
    for (const char *last : {"C:\\Shop.tw", "", "C:", "Shop.tw"}) {
        SetUp();
        FakeSetSetting("Microsoft Access", "LastNonFloppyTillwick", last);
        gFake.files["C:\\Shop.ldb"] = "";
        gFake.files["C:\\vdm1.tmp"] = "";
        DeleteLockFiles();
        EXPECT_EQ(Count("FindFirst"), 0) << last;
        EXPECT_TRUE(gFake.deletedFiles.empty()) << last;
    }
    SetUp();  // the key absent altogether
    DeleteLockFiles();
    EXPECT_EQ(Count("FindFirst"), 0);
}

// ---- Word and WordPad --------------------------------------------------------------------

TEST_F(Launch, WordAndWordPad)
{
    struct Row {
        void (*job)(const char *);
        const char *program;
        const char *message;
        const char *argument;
        const char *directory;
    } rows[] = {
        {OpenInWord, "winword.exe", kWordText, "C:\\Letters\\Dear Sir.doc", "C:\\Letters"},
        {OpenInWord, "winword.exe", kWordText, "", ""},
        {OpenInWord, "winword.exe", kWordText, "Letter.doc", ""},
        {OpenInWord, "winword.exe", kWordText, "C:\\Letter.doc", "C:\\"},
        {OpenInWord, "winword.exe", kWordText, " C:\\a.doc", " C:"},
        {OpenInWord, "winword.exe", kWordText, "\"C:\\My Docs\\A.doc\"", "\"C:\\My Docs"},
        {OpenInWordPad, "wordpad.exe", kWordPadText, "C:\\Notes\\Read me.txt", "C:\\Notes"},
        {OpenInWordPad, "wordpad.exe", kWordPadText, "", ""},
        {OpenInWordPad, "wordpad.exe", kWordPadText, "D:\\x.rtf", "D:\\"},
    };
    for (const Row &row : rows) {
        for (intptr_t result : {(intptr_t)42, (intptr_t)33, (intptr_t)32, (intptr_t)2, (intptr_t)0}) {
            FakeReset();
            gFake.shellExecuteResult = result;
            row.job(row.argument);
            ASSERT_EQ(gFake.shellExecutes.size(), 1u);
            const FakeShellExecute &run = gFake.shellExecutes[0];
            EXPECT_EQ(run.owner, 0u);
            EXPECT_EQ(run.verb, "open");
            EXPECT_EQ(run.file, row.program);
            EXPECT_EQ(run.params, row.argument);
            EXPECT_EQ(run.dir, row.directory) << row.argument;
            EXPECT_EQ(run.show, 1);
            if (result > 32) {
                EXPECT_TRUE(gFake.messageBoxes.empty()) << result;
            } else {
                ASSERT_EQ(gFake.messageBoxes.size(), 1u) << result;
                EXPECT_EQ(gFake.messageBoxes[0].owner, 0u);
                EXPECT_EQ(gFake.messageBoxes[0].text, row.message);
                EXPECT_EQ(gFake.messageBoxes[0].caption, "Error");
                EXPECT_EQ(gFake.messageBoxes[0].style, 0x40u);
            }
        }
    }
}

TEST_F(Launch, LongDocumentArgumentsAreRefused)
{
    for (size_t length : {258u, 259u, 260u, 300u}) {
        std::string argument = "C:\\" + std::string(length - 3, 'w');
        for (void (*job)(const char *) : {OpenInWord, OpenInWordPad}) {
            FakeReset();
            job(argument.c_str());
            EXPECT_EQ(gFake.shellExecutes.size(), length < 260 ? 1u : 0u) << length;
            EXPECT_TRUE(gFake.messageBoxes.empty()) << length;
        }
    }
}

// ---- the file copy -----------------------------------------------------------------------

TEST_F(Launch, CopyFileSplitsAtTheFirstSpace)
{
    std::string long259 = "C:\\" + std::string(256, 'p');
    std::string long260 = long259 + "q";
    struct Row {
        std::string argument;
        std::string source;       // "" : nothing copied
        std::string destination;
    } rows[] = {
        {"C:\\a.mdb D:\\b.mdb", "C:\\a.mdb", "D:\\b.mdb"},
        {"C:\\a.mdb D:\\My Backups\\b copy.mdb", "C:\\a.mdb", "D:\\My Backups\\b copy.mdb"},
        {"C:\\My Data\\a.mdb D:\\b.mdb", "C:\\My", "Data\\a.mdb D:\\b.mdb"},
        {"C:\\a.mdb  D:\\b.mdb", "C:\\a.mdb", " D:\\b.mdb"},
        {"C:\\a.mdb", "", ""},
        {" D:\\b.mdb", "", ""},
        {"C:\\a.mdb ", "", ""},
        {"", "", ""},
        {" ", "", ""},
        {long259 + " D:\\b", long259, "D:\\b"},
        {"C:\\a " + long259, "C:\\a", long259},
        {long260 + " D:\\b", "", ""},
        {"C:\\a " + long260, "", ""},
    };
    for (const Row &row : rows) {
        FakeReset();
        CopyFileFromArgument(row.argument.c_str());
        if (row.source.empty()) {
            EXPECT_EQ(Count("CopyFile"), 0) << row.argument;
        } else {
            ASSERT_EQ(gFake.calls.size(), 1u) << row.argument;
            EXPECT_EQ(gFake.calls[0], "CopyFile(" + row.source + "," + row.destination + ",0)");
        }
        EXPECT_TRUE(gFake.messageBoxes.empty());
    }
}

TEST_F(Launch, CopyFileOverwritesTheDestination)
{
    gFake.files["C:\\a.mdb"] = "new";
    gFake.files["D:\\b.mdb"] = "old";
    CopyFileFromArgument("C:\\a.mdb D:\\b.mdb");
    EXPECT_EQ(gFake.files["D:\\b.mdb"], "new");
}

// ---- help --------------------------------------------------------------------------------

TEST_F(Launch, HelpSwitchesGiveTheCommandAndDataWords)
{
    struct Row {
        const char *commandLine;
        std::vector<std::string> calls;   // WinHelp calls, then any clean-up
    } rows[] = {
        {"/helpcontents", {"WinHelp(0,C:\\Tillwick\\Tillwick.hlp,1,1)"}},
        {"/HelpContents anything", {"WinHelp(0,C:\\Tillwick\\Tillwick.hlp,1,1)"}},
        {"/helpindex", {"WinHelp(0,C:\\Tillwick\\Tillwick.hlp,261,key:)"}},
        {"/helpindex Payroll", {"WinHelp(0,C:\\Tillwick\\Tillwick.hlp,261,key:)"}},
        {"/helpcontext 25", {"WinHelp(0,C:\\Tillwick\\Tillwick.hlp,1,25)"}},
        {"/helpcontext", {"WinHelp(0,C:\\Tillwick\\Tillwick.hlp,1,1)"}},
        {"/helpcontext 0", {"WinHelp(0,C:\\Tillwick\\Tillwick.hlp,1,1)"}},
        {"/helpcontext abc", {"WinHelp(0,C:\\Tillwick\\Tillwick.hlp,1,1)"}},
        {"/helpcontext - 5", {"WinHelp(0,C:\\Tillwick\\Tillwick.hlp,1,1)"}},
        {"/helpcontext -7", {"WinHelp(0,C:\\Tillwick\\Tillwick.hlp,1,-7)"}},
        {"/helpcontext  +12x", {"WinHelp(0,C:\\Tillwick\\Tillwick.hlp,1,12)"}},
        {"/helpquitanddeleteldbfiles",
         {"WinHelp(0,C:\\Tillwick\\Tillwick.hlp,2,0)", "DeleteFile(D:\\Acc\\Shop.ldb)"}},
    };
    for (const Row &row : rows) {
        SetUp();
        FakeSetSetting("Microsoft Access", "LastNonFloppyTillwick", "D:\\Acc\\Shop.tw");
        gFake.files["D:\\Acc\\Shop.ldb"] = "";
        EXPECT_EQ(RunCommandLine(row.commandLine), 0);
        std::vector<std::string> seen;
        for (const std::string &call : gFake.calls)
            if (call.compare(0, 7, "WinHelp") == 0 || call.compare(0, 10, "DeleteFile") == 0)
                seen.push_back(call);
        EXPECT_EQ(seen, row.calls) << row.commandLine;
    }
}

TEST_F(Launch, HelpWithoutAHelpFilePassesItEmpty)
{
    FakeReset();
    ShowHelp(kHelpContext, 3);
    ASSERT_EQ(Count("WinHelp"), 1);
    EXPECT_EQ(gFake.calls.back(), "WinHelp(0,,1,3)");
    EXPECT_TRUE(gFake.messageBoxes.empty());
}

}  // namespace
