// The host settings file: reads, writes, the program directory and the host window.
#include <gtest/gtest.h>

#include <string>

#include "base/host_settings.h"
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
    FakeSetSetting("Email Setup", "Long", std::string(300, 'x'));
    char value[256];
    EXPECT_EQ(ReadHostSetting(kHostSettingsRead, kSectionEmail, "smtpserver", "", value, sizeof value), 16);
    EXPECT_STREQ(value, "mail.example.com");
    EXPECT_EQ(gFake.calls[0], "ReadProfile(Email Setup,smtpserver,,255,tillwick.ini)");
    EXPECT_EQ(ReadHostSetting(kHostSettingsRead, kSectionEmail, "Long", "", value, sizeof value), 254);
    EXPECT_EQ(std::string(value), std::string(254, 'x'));
}

TEST_F(HostSettings, AbsentKeysGiveTheDefaultOrNothing)
{
    char value[256] = "stale";
    EXPECT_EQ(ReadHostSetting(kHostSettingsRead, kSectionEmail, "SMTPPort", nullptr, value, sizeof value), 0);
    EXPECT_STREQ(value, "");
    EXPECT_EQ(ReadHostSetting(kHostSettingsRead, kSectionAccess, "FileSpec", "a|*.a|", value, sizeof value), 6);
    EXPECT_STREQ(value, "a|*.a|");
    // Present but empty is not absent: no default then.
    FakeSetSetting("Microsoft Access", "FileSpec", "");
    EXPECT_EQ(ReadHostSetting(kHostSettingsRead, kSectionAccess, "FileSpec", "a|*.a|", value, sizeof value), 0);
    EXPECT_STREQ(value, "");
}

TEST_F(HostSettings, ReadsIntoASmallerBufferAreBounded)
{
    FakeSetSetting("Microsoft Access", "DlgTitle", "Choose a file");
    char small[6];
    ReadHostSetting(kHostSettingsRead, kSectionAccess, "DlgTitle", "", small, sizeof small);
    EXPECT_STREQ(small, "Choos");
}

TEST_F(HostSettings, WritesGoToTheCapitalisedName)
{
    WriteHostSetting(kSectionAccess, "QIFFile", "C:\\A.QIF", kHostSettingsWrite);
    ASSERT_EQ(gFake.profileWrites.size(), 1u);
    EXPECT_EQ(gFake.profileWrites[0].file, "Tillwick.ini");
    EXPECT_EQ(FakeGetSetting("Microsoft Access", "qiffile"), "C:\\A.QIF");
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
