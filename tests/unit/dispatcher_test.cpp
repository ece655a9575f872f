// The command-line dispatcher: start-up rule, shared-drive refusal, path form, split and
// switch matching, "/open".
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "app/dispatcher.h"
#include "launch/open_document.h"
#include "platform/plat_entry.h"
#include "fake/fake.h"

namespace {

class Dispatcher : public ::testing::Test {
protected:
    void SetUp() override { FakeReset(); }
};

TEST(SkipProgramName, FollowsTheStartupRule)
{
    struct Row {
        const char *line;
        const char *rest;
    } rows[] = {
        {"Tillwick.exe /email", "/email"},
        {"\"C:\\Program Files\\T\\Tillwick.exe\" /email x", "/email x"},
        {"\"C:\\P F\\Tillwick.exe\"/open", "/open"},
        {"Tillwick.exe \t  /open a ", "/open a "},          // tabs and blanks skipped, trailing kept
        {"Tillwick.exe", ""},
        {"\"C:\\unterminated name", ""},
        {"Tillwick.exe \"C:\\My Data\\a.tw\"", "\"C:\\My Data\\a.tw\""},  // quotes stay
        {"T.exe\x01\x1f C:\\a.tw", "C:\\a.tw"},             // codes 1 to 32 are all skipped
        {"T.exe\xa0x", ""},                                 // 0xA0 is above 32: part of the name
    };
    for (const Row &row : rows)
        EXPECT_STREQ(SkipProgramName(row.line), row.rest) << row.line;
}

TEST(MatchSwitch, ComparesWholeWordsInTableOrder)
{
    struct Row {
        const char *word;
        int row;
    } rows[] = {
        {"/open", 1}, {"/checklargefonts", 2}, {"/register", 3}, {"/unregister", 4},
        {"/email", 5}, {"/opendialog", 6}, {"/selectfolderdialog", 7}, {"/demo", 8},
        {"/word", 9}, {"/wordpad", 10}, {"/copyfile", 11}, {"/helpcontents", 12},
        {"/helpindex", 13}, {"/helpcontext", 14}, {"/helpquitanddeleteldbfiles", 15},
        {"/emailsignin", 16}, {"/emailsignout", 17}, {"/emailsign", 0}, {"/emailsetup", 19},
        {"/help", 0}, {"/wordp", 0}, {"/OPEN", 0}, {"open", 0}, {"", 0}, {"/open ", 0},
    };
    for (const Row &row : rows)
        EXPECT_EQ(MatchSwitch(row.word), row.row) << row.word;
}

TEST_F(Dispatcher, SharedDrivePathsAreRefusedBeforeAnythingElse)
{
    for (const char *line : {"\\\\server\\share\\a.tw", "\"\\\\server\\share\\a.tw\"", "\\x",
                             "a\\b", "\\"}) {
        FakeReset();
        EXPECT_EQ(RunCommandLine(line), 0);
        ASSERT_EQ(gFake.messageBoxes.size(), 1u) << line;
        const FakeMessageBox &box = gFake.messageBoxes[0];
        EXPECT_EQ(box.owner, 0u);
        EXPECT_EQ(box.text, "Cannot load a datafile from a shared drive.  Please map this as a "
                            "network drive and try again.");
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.style, 0x40u);
        EXPECT_EQ(gFake.calls.size(), 1u) << "nothing but the box: " << line;
    }
}

TEST_F(Dispatcher, SplitsAtTheFirstBlankAndKeepsTheArgumentAsTyped)
{
    struct Row {
        const char *line;
        const char *argument;
    } rows[] = {
        {"/word  C:\\a.doc", " C:\\a.doc"},
        {"/WORD \"C:\\My Docs\\A.doc\" ", "\"C:\\My Docs\\A.doc\" "},
        {"/copyfile C:\\a b c", "C:\\a b c"},
        {"/open", ""},
        {"/word\tC:\\a.doc", ""},  // a tab separates nothing: the word is unknown
        {"C:\\My Data\\Shop.tw", ""},  // path form: no split, no argument
    };
    for (const Row &row : rows) {
        FakeReset();
        RunCommandLine(row.line);
        EXPECT_STREQ(gCommandArgument, row.argument) << row.line;
    }
}

TEST_F(Dispatcher, UnknownSwitchesAndQuotedPathsDoNothing)
{
    for (const char *line : {"/nothing", "/help", "\"C:\\Data\\Shop.tw\"", "Shop.tw",
                             "/word\tC:\\a.doc"}) {
        FakeReset();
        EXPECT_EQ(RunCommandLine(line), 0);
        EXPECT_TRUE(gFake.calls.empty()) << line << ": " << gFake.calls.front();
    }
}

TEST_F(Dispatcher, TooLongACommandLineIsRefusedWhole)
{
    std::string line = "/open C:\\" + std::string(243, 'a') + ".htm";  // 256 characters
    ASSERT_EQ(line.size(), 256u);
    EXPECT_EQ(RunCommandLine(line.c_str()), 0);
    EXPECT_TRUE(gFake.calls.empty());
    line.pop_back();  // 255 characters still run
    RunCommandLine(line.c_str());
    EXPECT_FALSE(gFake.calls.empty());
}

TEST_F(Dispatcher, CheckLargeFontsRecordsTheScreenDpiAndNothingElse)
{
    gFake.deviceCaps = 120;
    EXPECT_EQ(RunCommandLine("/CheckLargeFonts anything"), 0);
    ASSERT_EQ(gFake.profileWrites.size(), 1u);
    EXPECT_EQ(gFake.profileWrites[0].section, "Microsoft Access");
    EXPECT_EQ(gFake.profileWrites[0].key, "DPILogicalX");
    EXPECT_EQ(gFake.profileWrites[0].value, "120");
    EXPECT_EQ(gFake.profileWrites[0].file, "Tillwick.ini");
    EXPECT_NE(std::find(gFake.calls.begin(), gFake.calls.end(), "GetDeviceCaps(0,88)"),
              gFake.calls.end());
    EXPECT_TRUE(gFake.messageBoxes.empty());
    EXPECT_TRUE(gFake.shellExecutes.empty());
}

TEST_F(Dispatcher, OpenOfAnOrdinaryDocumentUsesItsAssociationMaximised)
{
    for (const char *target : {"C:\\Reports\\r.pdf", "C:\\Reports\\r.HTM", "C:\\r.html",
                               "\"C:\\My Reports\\r.pdf\""}) {
        FakeReset();
        std::string line = std::string("/open ") + target;
        RunCommandLine(line.c_str());
        ASSERT_EQ(gFake.shellExecutes.size(), 1u) << target;
        const FakeShellExecute &run = gFake.shellExecutes[0];
        EXPECT_EQ(run.owner, 0u);
        EXPECT_EQ(run.verb, "open");
        EXPECT_EQ(run.file, target);
        EXPECT_TRUE(run.paramsNull);
        EXPECT_TRUE(run.dirNull);
        EXPECT_EQ(run.show, 3);
    }
}

TEST_F(Dispatcher, OpenWithoutATargetDoesNothing)
{
    for (const char *line : {"/open", "/open "}) {
        FakeReset();
        RunCommandLine(line);
        EXPECT_TRUE(gFake.shellExecutes.empty()) << line;
    }
}

void SetBrowserCommand(const std::string &command)
{
    gFake.registry["hklm\\software\\classes\\htmlfile\\shell\\open\\command"][""] = {
        1, command + std::string(1, '\0')};
}

TEST_F(Dispatcher, OpenOfAnHtmPageStartsTheRegisteredBrowser)
{
    struct Row {
        std::string command, dir, program;
    } rows[] = {
        {"\"C:\\Program Files\\Browser\\browse.exe\" -nohome", "C:\\Program Files\\Browser", "browse.exe"},
        {"\"C:\\Program Files\\Browser\\browse.exe\"", "C:\\Program Files\\Browser", "browse.exe"},
        {"C:\\B\\browse.exe -nohome", "C:\\B", "browse.exe"},
        {"C:\\B\\browse.exe  -nohome", "C:\\B", "browse.exe "},   // only one blank is cut
        {"browse.exe -nohome", "", "browse.exe"},                  // no folder at all
        // A quoted program is that path; whatever follows it is not part of it.
        {"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" %1",
         "C:\\Program Files\\Internet Explorer", "iexplore.exe"},
        {"\"C:\\B\\b.exe\"  -nohome -private", "C:\\B", "b.exe"},
        {"\"C:\\B\\b.exe -nohome", "\"C:\\B", "b.exe"},                // no closing quote: as unquoted
        {"C:\\B\\b.exe -nohomex", "C:\\B", "b.exe -nohomex"},
    };
    for (const Row &row : rows) {
        FakeReset();
        gFake.activeWindow = 77;
        SetBrowserCommand(row.command);
        RunCommandLine("/open C:\\Reports\\r.htm");
        ASSERT_EQ(gFake.shellExecutes.size(), 1u) << row.command;
        const FakeShellExecute &run = gFake.shellExecutes[0];
        EXPECT_EQ(run.owner, 77u);
        EXPECT_EQ(run.verb, "open");
        EXPECT_EQ(run.file, row.program) << row.command;
        EXPECT_EQ(run.params, "C:\\Reports\\r.htm");
        EXPECT_EQ(run.dir, row.dir) << row.command;
        EXPECT_EQ(run.show, 3);
    }
}

TEST_F(Dispatcher, OpenOfAnHtmPageWithoutARegisteredBrowserFallsBackToItsAssociation)
{
    RunCommandLine("/open C:\\r.htm");
    ASSERT_EQ(gFake.shellExecutes.size(), 1u);
    EXPECT_EQ(gFake.shellExecutes[0].file, "C:\\r.htm");
    EXPECT_TRUE(gFake.shellExecutes[0].paramsNull);
    EXPECT_EQ(gFake.shellExecutes[0].show, 3);
}

// Every job that writes an answer for the host: a write that fails gives one box for the
// run, named by the first key that failed, and exit code 1; the import is not handed over.
TEST_F(Dispatcher, AFailedAnswerWriteIsReportedOnceWithExitCodeOne)
{
    struct Row {
        const char *line;
        bool hostRunning;
        unsigned long error;
        const char *box;
        size_t starts;  // host or browser starts that still follow
    } rows[] = {
        {"/opendialog", false, 5, "Could not write FileSelected to Tillwick.ini: Access is denied. (error 5)", 0},
        {"/selectfolderdialog", false, 5, "Could not write FolderSelected to Tillwick.ini: Access is denied. (error 5)", 0},
        {"/checklargefonts", false, 112, "Could not write DPILogicalX to Tillwick.ini: the system gives no reason. (error 112)", 0},
        {"/demo", false, 5, "Could not write DPILogicalX to Tillwick.ini: Access is denied. (error 5)", 1},
        {"C:\\Data\\Shop.tw", false, 5, "Could not write DPILogicalX to Tillwick.ini: Access is denied. (error 5)", 1},
        {"C:\\In\\Bank.qif", false, 5, "Could not write QIFFile to Tillwick.ini: Access is denied. (error 5)", 0},
        {"C:\\In\\Bank.qif", true, 5, "Could not write QIFFile to Tillwick.ini: Access is denied. (error 5)", 0},
    };
    for (const Row &row : rows) {
        FakeReset();
        FakeSetSetting("Run-Time Options", "HelpFile", "C:\\Prog\\Tillwick.hlp");
        if (row.hostRunning) {
            gFake.windowTitles[4242] = "Tillwick Orvenda - Shop.tw";
            FakeSetSetting("Microsoft Access", "hWnd", "4242");
        }
        gFake.profileWriteError = row.error;
        gFake.systemErrorTexts[5] = "Access is denied.";
        std::string at = std::string(row.line) + (row.hostRunning ? " (host running)" : "");
        EXPECT_EQ(RunCommandLine(row.line), 1) << at;
        ASSERT_EQ(gFake.messageBoxes.size(), 1u) << at;
        EXPECT_EQ(gFake.messageBoxes[0].text, row.box) << at;
        EXPECT_EQ(gFake.messageBoxes[0].caption, "Error");
        EXPECT_EQ(gFake.shellExecutes.size(), row.starts) << at;
        EXPECT_EQ(std::count_if(gFake.calls.begin(), gFake.calls.end(),
                                [](const std::string &c) { return c.rfind("keybd_event", 0) == 0; }),
                  0) << at;

        // Reported and forgotten: the next run that writes is clean again.
        gFake.profileWriteError = 0;
        gFake.messageBoxes.clear();
        EXPECT_EQ(RunCommandLine("/checklargefonts"), 0) << at;
        EXPECT_TRUE(gFake.messageBoxes.empty()) << at;
    }
}

TEST_F(Dispatcher, RunProgramTakesTheProcessCommandLine)
{
    gFake.commandLine = "\"C:\\P F\\Tillwick.exe\"  /open C:\\x.pdf";
    EXPECT_EQ(RunProgram(), 0);
    ASSERT_EQ(gFake.shellExecutes.size(), 1u);
    EXPECT_EQ(gFake.shellExecutes[0].file, "C:\\x.pdf");
}

}  // namespace
