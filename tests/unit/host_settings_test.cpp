// The host settings file: reads and writes through the table of keys, the table against the
// README, the program directory and the host window.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "base/host_settings.h"
#include "base/settings_table.h"
#include "base/text.h"
#include "fake/fake.h"

namespace {

class HostSettings : public ::testing::Test {
protected:
    void SetUp() override { FakeReset(); }
};

TEST_F(HostSettings, ReadsThroughTheLowerCaseNameAndCutsAt254)
{
    FakeSetSetting("Email Setup", "SMTPServer", "\"mail.example.com\"");
    FakeSetSetting("Microsoft Access", "DlgTitle", std::string(300, 'x'));
    char value[256];
    EXPECT_EQ(ReadHostSetting(kKeySmtpServer, value, sizeof value), 16);
    EXPECT_STREQ(value, "mail.example.com");
    EXPECT_EQ(gFake.calls[0], "ReadProfile(Email Setup,SMTPServer,,255,tillwick.ini)");
    EXPECT_EQ(ReadHostSetting(kKeyDlgTitle, value, sizeof value), 254);
    EXPECT_EQ(std::string(value), std::string(254, 'x'));
    char small[6];
    ReadHostSetting(kKeyDlgTitle, small, sizeof small);
    EXPECT_STREQ(small, "xxxxx");
}

// The defaults: the table's, one given at run time, none; present but empty is not absent.
TEST_F(HostSettings, AbsentKeysGiveTheDefaultOrNothing)
{
    char value[256] = "stale";
    EXPECT_EQ(ReadHostSetting(kKeySmtpPort, value, sizeof value), 0);
    EXPECT_STREQ(value, "");
    EXPECT_EQ(ReadHostSettingIfPresent(kKeySmtpPort, value, sizeof value), -1);
    ReadHostSetting(kKeyFileSpec, value, sizeof value);
    EXPECT_STREQ(value, "Tillwick Files (*.tw)|*.tw|Old Tillwick Files (*.mdb)|*.mdb|");
    ReadHostSettingOr(kKeyInitialDir, "C:\\Prog", value, sizeof value);
    EXPECT_STREQ(value, "C:\\Prog");
    FakeSetSetting("Microsoft Access", "FileSpec", "");
    EXPECT_EQ(ReadHostSetting(kKeyFileSpec, value, sizeof value), 0);
    EXPECT_STREQ(value, "");
    EXPECT_EQ(ReadHostSettingIfPresent(kKeyFileSpec, value, sizeof value), 0);
}

TEST_F(HostSettings, WritesGoToTheCapitalisedNameAndOnlyToWrittenKeys)
{
    EXPECT_TRUE(WriteHostSetting(kKeyQifFile, "C:\\A.QIF"));
    EXPECT_TRUE(PutHostSetting(kKeyOAuthProvider, "google"));
    EXPECT_TRUE(PutHostSetting(kKeySmtpAuth, nullptr));
    EXPECT_FALSE(WriteHostSetting(kKeyHostWindow, "1"));
    EXPECT_FALSE(PutHostSetting(kKeyOAuthClientId, "x"));
    std::vector<std::string> changes;
    for (const std::string &call : gFake.calls)
        if (call.rfind("WriteProfile(", 0) == 0 || call.rfind("DeleteProfileKey(", 0) == 0)
            changes.push_back(call);
    EXPECT_EQ(changes, (std::vector<std::string>{
                           "WriteProfile(Microsoft Access,QIFFile,C:\\A.QIF,Tillwick.ini)",
                           "WriteProfile(Email Setup,OAuthProvider,google,Tillwick.ini)",
                           "DeleteProfileKey(Email Setup,SMTPAuth,Tillwick.ini)"}));
    EXPECT_FALSE(ReportFailedHostWrite(0));  // a refused key is no lost answer
}

// The README's table of keys is this table, row for row; a failure prints the rows to paste.
TEST(SettingsTable, IsTheReadmesTableOfKeysBothWays)
{
    auto cell = [](const char *text) {
        std::string out;
        for (const char *p = text; *p; p++)
            out += *p == '|' ? std::string("\\|") : std::string(1, *p);
        return out;
    };
    std::vector<std::string> declared;
    for (int i = 0; i < kSettingKeyCount; i++) {
        const SettingDef &d = kSettingsTable[i];
        ASSERT_EQ(d.key, i) << d.name;
        std::string def = d.def[0] ? "`" + cell(d.def) + "`" : cell(d.absent);
        declared.push_back("| " + std::string(d.section) + " | " + d.name + " | " +
                           SettingUseName(d.use) + " | " + SettingTypeName(d.type) + " | " + def +
                           " | " + cell(d.meaning) + " |");
    }
    std::ifstream readme(TILLWICK_SOURCE_DIR "/README.md");
    ASSERT_TRUE(readme.good());
    std::vector<std::string> documented;
    std::string line;
    bool inSection = false;
    while (std::getline(readme, line)) {
        if (line.rfind("## ", 0) == 0)
            inSection = line.rfind("## Host settings", 0) == 0;
        else if (inSection && line.rfind("| ", 0) == 0 && line.rfind("| Section |", 0) != 0)
            documented.push_back(line);
    }
    auto missing = [](const std::vector<std::string> &rows, const std::vector<std::string> &in) {
        std::string out;
        for (const std::string &row : rows)
            if (std::find(in.begin(), in.end(), row) == in.end())
                out += row + "\n";
        return out;
    };
    std::string all;
    for (const std::string &row : declared)
        all += row + "\n";
    EXPECT_EQ(missing(declared, documented), "") << "the table's rows:\n" << all;
    EXPECT_EQ(missing(documented, declared), "") << "rows of README.md that are not declared";
}

TEST_F(HostSettings, ProgramDirectoryIsTheHelpFilesFolder)
{
    struct Row {
        const char *helpFile;  // nullptr: key absent
        const char *directory;
    } rows[] = {
        {nullptr, ""},
        {"", ""},
        {"C:\\Prog\\Help.hlp", "C:\\Prog"},
        {"C:\\Help.hlp", "C:\\"},
        {"Help.hlp", ""},
        {"C:\\Program Files\\Tillwick Orvenda\\Tillwick.hlp", "C:\\Program Files\\Tillwick Orvenda"},
    };
    for (const Row &row : rows) {
        FakeReset();
        if (row.helpFile)
            FakeSetSetting("Run-Time Options", "HelpFile", row.helpFile);
        char dir[260] = "stale";
        GetProgramDirectory(dir, sizeof dir);
        EXPECT_STREQ(dir, row.directory) << (row.helpFile ? row.helpFile : "(absent)");
    }
}

TEST_F(HostSettings, HostWindowIsTheDecimalValueOfHwnd)
{
    struct Row {
        const char *value;  // nullptr: key absent
        PlatWindow window;
    } rows[] = {
        {nullptr, 0}, {"", 0}, {"abc", 0}, {"123abc", 123}, {"  42", 42}, {"+7", 7},
        {"65664", 65664}, {"99999999999999999999", 2147483647},
    };
    for (const Row &row : rows) {
        FakeReset();
        if (row.value)
            FakeSetSetting("Microsoft Access", "hWnd", row.value);
        EXPECT_EQ(GetHostWindow(), row.window) << (row.value ? row.value : "(absent)");
    }
}

TEST(Text, CopiesAndFormatsAreBoundedAndReportCuts)
{
    char buf[5];
    EXPECT_TRUE(CopyText(buf, sizeof buf, "abcd"));
    EXPECT_FALSE(CopyText(buf, sizeof buf, "abcde"));
    EXPECT_STREQ(buf, "abcd");
    EXPECT_TRUE(CopyTextN(buf, sizeof buf, "abcdef", 2));
    EXPECT_STREQ(buf, "ab");
    EXPECT_TRUE(AppendText(buf, sizeof buf, "cd"));
    EXPECT_FALSE(AppendText(buf, sizeof buf, "e"));
    EXPECT_STREQ(buf, "abcd");
    EXPECT_FALSE(FormatText(buf, sizeof buf, "%d", 123456));
    EXPECT_STREQ(buf, "1234");
    char mixed[] = "AbZ[\xc4";
    LowerAscii(mixed);
    EXPECT_STREQ(mixed, "abz[\xc4");
    EXPECT_TRUE(ContainsTextNoCase("x TILLWICK orvenda - Shop.TW", "tillwick Orvenda"));
    EXPECT_TRUE(ContainsTextNoCase("abc", ""));
    EXPECT_FALSE(ContainsTextNoCase("Tillwick", "tillwick orvenda"));
    EXPECT_EQ(ParseDecimal(" -25x"), -25);
    EXPECT_EQ(ParseDecimal("x25"), 0);
    EXPECT_EQ(ParseDecimal("-99999999999"), -2147483647L - 1);
}

}  // namespace
