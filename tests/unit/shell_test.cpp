// The shell integration: file types and the uninstall entry in the registry, the program
// group's shortcuts and the desktop copies, against the recording fake.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/text.h"
#include "fake/fake.h"
#include "fake/fake_shelllink.h"
#include "platform/plat_registry.h"
#include "shell/file_types.h"
#include "shell/shortcuts.h"

namespace {

// ---- helpers ------------------------------------------------------------------------------

void SetProgramDirectory(const std::string &dir)
{
    FakeSetSetting("Run-Time Options", "HelpFile", dir + "\\Tillwick.hlp");
}

std::string Sz(const std::string &text) { return text + std::string(1, '\0'); }

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

typedef std::map<std::string, std::map<std::string, FakeRegistryValue>> Registry;

// Keys that hold at least one value (the fake also keeps the parents it made on the way).
Registry KeysWithValues()
{
    Registry out;
    for (auto &k : gFake.registry)
        if (!k.second.empty())
            out[k.first] = k.second;
    return out;
}

struct TypeRow {
    const char *extension, *progId, *description;
};
const TypeRow kTypes[] = {
    {".tw", "twfile", "Tillwick Orvenda"},
    {".001", "001file", "Tillwick Orvenda Backup"},
    {".qif", "qiffile", "Tillwick Orvenda"},
    {".bk1", "bk1file", "Tillwick Orvenda Backup File"},
    {".bk2", "bk2file", "Tillwick Orvenda Backup File"},
    {".bk3", "bk3file", "Tillwick Orvenda Backup File"},
};
const char *const kPrefixes[] = {"hkcr\\", "hklm\\software\\classes\\"};
const char kUninstall[] = "hklm\\software\\microsoft\\windows\\currentversion\\uninstall\\tillwick orvenda";

// Everything a registration into an empty registry must leave, value for value and byte
// for byte, given the three composed values.
Registry ExpectedRegistry(const std::string &icon, const std::string &command,
                          const std::string &uninstall)
{
    Registry r;
    for (const TypeRow &t : kTypes)
        for (const char *prefix : kPrefixes) {
            std::string p = prefix, id = FakeLower(t.progId);
            r[p + t.extension][""] = {PLAT_REG_SZ, Sz(t.progId)};
            r[p + id][""] = {PLAT_REG_SZ, Sz(t.description)};
            r[p + id]["alwaysshowext"] = {PLAT_REG_SZ, std::string(1, '\0')};
            r[p + id]["editflags"] = {PLAT_REG_BINARY, std::string(1, '\0')};
            if (!icon.empty())
                r[p + id + "\\defaulticon"][""] = {PLAT_REG_SZ, Sz(icon)};
            r[p + id + "\\shell"][""] = {PLAT_REG_SZ, std::string(1, '\0')};
            if (!command.empty())
                r[p + id + "\\shell\\open\\command"][""] = {PLAT_REG_SZ, Sz(command)};
        }
    r[kUninstall]["displayname"] = {PLAT_REG_SZ, Sz("Tillwick Orvenda")};
    if (!uninstall.empty())
        r[kUninstall]["uninstallstring"] = {PLAT_REG_SZ, Sz(uninstall)};
    return r;
}

void ExpectRegistry(const Registry &want, const std::string &context)
{
    Registry got = KeysWithValues();
    for (auto &k : want) {
        auto g = got.find(k.first);
        if (g == got.end()) {
            ADD_FAILURE() << context << ": key missing " << k.first;
            continue;
        }
        EXPECT_EQ(g->second.size(), k.second.size()) << context << ": values of " << k.first;
        for (auto &v : k.second) {
            auto gv = g->second.find(v.first);
            if (gv == g->second.end()) {
                ADD_FAILURE() << context << ": value missing " << k.first << " " << v.first;
                continue;
            }
            EXPECT_EQ(gv->second.type, v.second.type) << context << ": " << k.first << " " << v.first;
            EXPECT_EQ(gv->second.data, v.second.data) << context << ": " << k.first << " " << v.first;
        }
    }
    for (auto &k : got)
        if (!want.count(k.first))
            ADD_FAILURE() << context << ": unexpected key " << k.first;
}

class Shell : public ::testing::Test {
protected:
    void SetUp() override { FakeReset(); }
};

// ---- file types -------------------------------------------------------------------------

TEST_F(Shell, ComposedValuesQuoteTheProgramPathWhenTheDirectoryHoldsABlank)
{
    const std::string d200(200, 'd');
    const std::string blank200 = "C:\\Program Files\\" + std::string(183, 'x');
    const std::string d243(243, 'e');
    const std::string d246(246, 'f');
    const std::string blank241 = "C:\\A B\\" + std::string(234, 'g');
    struct Row {
        std::string dir;
        std::string icon, command, uninstall;  // "" : does not fit, skipped
    } rows[] = {
        {"C:\\Prog", "C:\\Prog\\Tillwick.ico,0", "C:\\Prog\\Tillwick.exe %1", "C:\\Prog\\Uninstal.exe"},
        {"C:\\Program Files\\Tillwick Orvenda", "C:\\Program Files\\Tillwick Orvenda\\Tillwick.ico,0",
         "\"C:\\Program Files\\Tillwick Orvenda\\Tillwick.exe\" %1",
         "\"C:\\Program Files\\Tillwick Orvenda\\Uninstal.exe\""},
        {"", "\\Tillwick.ico,0", "\\Tillwick.exe %1", "\\Uninstal.exe"},
        {"C:\\", "C:\\\\Tillwick.ico,0", "C:\\\\Tillwick.exe %1", "C:\\\\Uninstal.exe"},
        {d200, d200 + "\\Tillwick.ico,0", d200 + "\\Tillwick.exe %1", d200 + "\\Uninstal.exe"},
        {blank200, blank200 + "\\Tillwick.ico,0", "\"" + blank200 + "\\Tillwick.exe\" %1",
         "\"" + blank200 + "\\Uninstal.exe\""},
        // 243 + 16 = 259 characters: the longest command that fits.
        {d243, d243 + "\\Tillwick.ico,0", d243 + "\\Tillwick.exe %1", d243 + "\\Uninstal.exe"},
        // 246 + 16 and 246 + 15 do not fit 259; 246 + 13 does.
        {d246, "", "", d246 + "\\Uninstal.exe"},
        // Quoted: 241 + 13 + 2 = 256 fits, with " %1" 259 still fits; the icon too.
        {blank241, blank241 + "\\Tillwick.ico,0", "\"" + blank241 + "\\Tillwick.exe\" %1",
         "\"" + blank241 + "\\Uninstal.exe\""},
    };
    for (const Row &row : rows) {
        char value[kComposedValueSize];
        EXPECT_EQ(ComposeIconValue(row.dir.c_str(), value, sizeof value), !row.icon.empty()) << row.dir;
        EXPECT_EQ(std::string(value), row.icon) << row.dir;
        EXPECT_EQ(ComposeOpenCommand(row.dir.c_str(), value, sizeof value), !row.command.empty()) << row.dir;
        EXPECT_EQ(std::string(value), row.command) << row.dir;
        EXPECT_EQ(ComposeUninstallString(row.dir.c_str(), value, sizeof value), !row.uninstall.empty()) << row.dir;
        EXPECT_EQ(std::string(value), row.uninstall) << row.dir;
    }
    // A quoted command one character too long: 242 + 13 + 2 + 3 = 260.
    const std::string blank242 = "C:\\A B\\" + std::string(235, 'g');
    char value[kComposedValueSize];
    EXPECT_FALSE(ComposeOpenCommand(blank242.c_str(), value, sizeof value));
    EXPECT_STREQ(value, "");
    EXPECT_TRUE(ComposeUninstallString(blank242.c_str(), value, sizeof value));
}

TEST_F(Shell, RegistrationWritesEveryKeyValueTypeAndByteUnderBothRoots)
{
    struct Row {
        std::string dir;  // "-": no host settings file at all
        std::string icon, command, uninstall;
    } rows[] = {
        {"C:\\Prog", "C:\\Prog\\Tillwick.ico,0", "C:\\Prog\\Tillwick.exe %1", "C:\\Prog\\Uninstal.exe"},
        {"-", "\\Tillwick.ico,0", "\\Tillwick.exe %1", "\\Uninstal.exe"},
        {"C:\\Program Files\\Tillwick Orvenda", "C:\\Program Files\\Tillwick Orvenda\\Tillwick.ico,0",
         "\"C:\\Program Files\\Tillwick Orvenda\\Tillwick.exe\" %1",
         "\"C:\\Program Files\\Tillwick Orvenda\\Uninstal.exe\""},
        {std::string(240, 'p'), std::string(240, 'p') + "\\Tillwick.ico,0",
         std::string(240, 'p') + "\\Tillwick.exe %1", std::string(240, 'p') + "\\Uninstal.exe"},
        // Too long for the icon and the command: those keys are skipped, the rest is written.
        {std::string(246, 'q'), "", "", std::string(246, 'q') + "\\Uninstal.exe"},
    };
    for (const Row &row : rows) {
        FakeReset();
        if (row.dir != "-")
            SetProgramDirectory(row.dir);
        RegisterFileTypes();
        ExpectRegistry(ExpectedRegistry(row.icon, row.command, row.uninstall), row.dir);
        EXPECT_TRUE(gFake.messageBoxes.empty());
        EXPECT_FALSE(gFake.registry.count("hkcr\\.bk4"));
    }
}

TEST_F(Shell, RegistrationOrderIsRowThenRootThenStep)
{
    SetProgramDirectory("C:\\Prog");
    RegisterFileTypes();
    std::vector<std::string> want;
    for (const TypeRow &t : kTypes)
        for (const char *prefix : {"HKCR,", "HKLM,SOFTWARE\\CLASSES\\"}) {
            std::string p = std::string("RegCreateKey(") + prefix;
            want.push_back(p + t.extension + ")");
            want.push_back(p + t.progId + ")");
            want.push_back(p + t.progId + "\\DefaultIcon)");
            want.push_back(p + t.progId + "\\Shell)");
            want.push_back(p + t.progId + "\\Shell\\open\\command)");
        }
    want.push_back("RegCreateKey(HKLM,SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tillwick Orvenda)");
    EXPECT_EQ(CallsStartingWith({"RegCreateKey("}), want);

    // Within the ProgID key: description, "AlwaysShowExt", "EditFlags" (one byte), closed.
    auto &calls = gFake.calls;
    auto at = std::find(calls.begin(), calls.end(), "RegCreateKey(HKCR,twfile)");
    ASSERT_NE(at, calls.end());
    std::vector<std::string> progIdCalls(at + 1, at + 5);
    EXPECT_EQ(progIdCalls, (std::vector<std::string>{
                               "RegSetValue(2,(null),1,17)", "RegSetValue(2,AlwaysShowExt,1,1)",
                               "RegSetValue(2,EditFlags,3,1)", "RegCloseKey(2)"}));
    // Every key opened is closed again.
    EXPECT_EQ(CallsStartingWith({"RegCreateKey("}).size(), CallsStartingWith({"RegCloseKey("}).size());
    // The uninstall entry: "DisplayName" before "UninstallString"; then the shell is told.
    std::vector<std::string> tail(calls.end() - 4, calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"RegSetValue(61,DisplayName,1,17)",
                                              "RegSetValue(61,UninstallString,1,21)",
                                              "RegCloseKey(61)", "NotifyAssociationsChanged()"}));
}

TEST_F(Shell, RegisteringTwiceEqualsOnceAndLeavesForeignValuesAlone)
{
    SetProgramDirectory("C:\\Prog");
    gFake.registry["hkcr\\twfile"]["foreign"] = {PLAT_REG_SZ, Sz("theirs")};
    gFake.registry["hkcr\\twfile\\shell\\print"][""] = {PLAT_REG_SZ, Sz("print")};
    gFake.registry["hkcr\\twfile"][""] = {PLAT_REG_SZ, Sz("old description")};
    RegisterFileTypes();
    Registry once = gFake.registry;
    RegisterFileTypes();
    for (auto &k : once)
        for (auto &v : k.second) {
            EXPECT_EQ(gFake.registry[k.first][v.first].type, v.second.type);
            EXPECT_EQ(gFake.registry[k.first][v.first].data, v.second.data);
        }
    EXPECT_EQ(gFake.registry.size(), once.size());
    EXPECT_EQ(gFake.registry["hkcr\\twfile"]["foreign"].data, Sz("theirs"));
    EXPECT_EQ(gFake.registry["hkcr\\twfile"][""].data, Sz("Tillwick Orvenda"));
    EXPECT_EQ(gFake.registry["hkcr\\twfile\\shell\\print"][""].data, Sz("print"));
}

TEST_F(Shell, RemovalDeletesTheFixedListChildBeforeParent)
{
    UnregisterFileTypes();
    std::vector<std::string> want;
    for (const TypeRow &t : kTypes)
        for (const char *prefix : {"HKCR,", "HKLM,SOFTWARE\\CLASSES\\"}) {
            std::string p = std::string("RegDeleteKey(") + prefix;
            want.push_back(p + t.extension + ")");
            want.push_back(p + t.progId + "\\Shell\\open\\command)");
            want.push_back(p + t.progId + "\\Shell\\open)");
            want.push_back(p + t.progId + "\\Shell)");
            want.push_back(p + t.progId + "\\DefaultIcon)");
            want.push_back(p + t.progId + ")");
        }
    want.push_back("RegDeleteKey(HKLM,SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tillwick Orvenda)");
    want.push_back("NotifyAssociationsChanged()");
    // Nothing but deletions and the shell told: no settings read, no key created, nothing shown.
    EXPECT_EQ(gFake.calls, want);
    EXPECT_TRUE(gFake.registry.empty());
    EXPECT_TRUE(gFake.messageBoxes.empty());
}

TEST_F(Shell, RemovalAfterRegistrationLeavesOnlyForeignKeys)
{
    SetProgramDirectory("C:\\Program Files\\Tillwick Orvenda");
    RegisterFileTypes();
    gFake.registry["hkcr\\qiffile\\shell\\print"][""] = {PLAT_REG_SZ, Sz("theirs")};
    gFake.registry["hkcr\\.bk4"][""] = {PLAT_REG_SZ, Sz("bk4file")};
    UnregisterFileTypes();
    Registry left = KeysWithValues();
    std::set<std::string> keys;
    for (auto &k : left)
        keys.insert(k.first);
    // A key with a foreign subkey stays with its parents; everything else of ours is gone.
    EXPECT_EQ(keys, (std::set<std::string>{"hkcr\\qiffile", "hkcr\\qiffile\\shell",
                                           "hkcr\\qiffile\\shell\\print", "hkcr\\.bk4"}));
    EXPECT_FALSE(gFake.registry.count(kUninstall));
    UnregisterFileTypes();
    EXPECT_EQ(KeysWithValues().size(), left.size());
}

// ---- folders ------------------------------------------------------------------------------

TEST_F(Shell, FolderLookUpFallsBackToTheUsersOwnFolderWithNoOwner)
{
    struct Row {
        const char *common;  // nullptr: the look-up fails
        const char *user;
        const char *want;
        bool asksUser;
    } rows[] = {
        {"C:\\All\\Desktop", "C:\\Me\\Desktop", "C:\\All\\Desktop", false},
        {"", "C:\\Me\\Desktop", "C:\\Me\\Desktop", true},
        {nullptr, "C:\\Me\\Desktop", "C:\\Me\\Desktop", true},
        {nullptr, nullptr, "", true},
        {nullptr, "", "", true},
        {"", nullptr, "", true},
    };
    struct Kind {
        int common, user;
        void (*get)(PlatWindow, char *, size_t);
    } kinds[] = {{0x19, 0x10, GetDesktopFolder}, {0x16, 0x0B, GetStartMenuFolder}};
    for (const Kind &kind : kinds)
        for (const Row &row : rows) {
            FakeReset();
            if (row.common)
                gFakeShellLink.folders[kind.common] = row.common;
            if (row.user)
                gFakeShellLink.folders[kind.user] = row.user;
            char folder[kShortcutPathSize] = "stale";
            kind.get(77, folder, sizeof folder);
            EXPECT_STREQ(folder, row.want) << kind.common << " " << (row.common ? row.common : "(fails)");
            std::vector<std::string> want = {"GetSpecialFolder(77," + std::to_string(kind.common) + ")"};
            if (row.asksUser)
                want.push_back("GetSpecialFolder(0," + std::to_string(kind.user) + ")");
            EXPECT_EQ(gFake.calls, want);
        }
}

// ---- shortcuts ----------------------------------------------------------------------------

const char kDesktop[] = "C:\\users\\Public\\Desktop";
const char kStartMenu[] = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu";
const std::string kGroup = std::string(kStartMenu) + "\\Programs\\Tillwick Orvenda";

void ScriptCommonFolders()
{
    gFakeShellLink.folders[0x19] = kDesktop;
    gFakeShellLink.folders[0x16] = kStartMenu;
}

struct LinkRow {
    std::string link, target, arguments, icon;
};

std::vector<LinkRow> ExpectedLinks(const std::string &group, const std::string &dir)
{
    return {
        {group + "\\Tillwick Orvenda.lnk", dir + "\\Tillwick.exe", "", dir + "\\Tillwick.ico"},
        {group + "\\Tillwick Demo.lnk", dir + "\\Tillwick.exe", "/Demo", dir + "\\Demo.ico"},
        {group + "\\Help.lnk", dir + "\\Tillwick.hlp", "", dir + "\\Tillwick.hlp"},
        {group + "\\Make Installation Disks.lnk", dir + "\\Disk1\\Setup.exe", "/M", dir + "\\Disk.ico"},
        {group + "\\UnInstall.lnk", dir + "\\UnInstal.exe", "", dir + "\\UnInstal.ico"},
        {group + "\\Email Setup.lnk", dir + "\\Tillwick.exe", "/emailsetup", dir + "\\Tillwick.ico"},
    };
}

void ExpectSaved(const std::vector<LinkRow> &want, const std::string &context)
{
    ASSERT_EQ(gFakeShellLink.savedLinks.size(), want.size()) << context;
    for (size_t i = 0; i < want.size(); i++) {
        const FakeSavedLink &got = gFakeShellLink.savedLinks[i];
        EXPECT_EQ(got.linkFile, want[i].link) << context << " row " << i;
        EXPECT_EQ(got.target, want[i].target) << context << " row " << i;
        EXPECT_EQ(got.arguments, want[i].arguments) << context << " row " << i;
        EXPECT_EQ(got.iconFile, want[i].icon) << context << " row " << i;
        EXPECT_EQ(got.iconIndex, 0) << context << " row " << i;
    }
}

TEST_F(Shell, CreateShortcutsMakesTheGroupAndCopiesTheFirstTwo)
{
    ScriptCommonFolders();
    SetProgramDirectory("C:\\Program Files\\Tillwick Orvenda");
    gFake.files[std::string(kDesktop) + "\\Tillwick.lnk"] = "old";
    gFake.files[std::string(kDesktop) + "\\TW_Demo.lnk"] = "old demo";
    gFake.files[std::string(kDesktop) + "\\Tillwick Orvenda.lnk"] = "stale copy";
    CreateShortcuts(0);

    const std::string dir = "C:\\Program Files\\Tillwick Orvenda";
    std::vector<LinkRow> links = ExpectedLinks(kGroup, dir);
    ExpectSaved(links, "create");
    std::vector<std::string> want = {
        "GetSpecialFolder(0,25)",
        "GetSpecialFolder(0,22)",
        "DeleteFile(" + std::string(kDesktop) + "\\Tillwick.lnk)",
        "DeleteFile(" + std::string(kDesktop) + "\\TW_Demo.lnk)",
        "CreateDirectory(" + kGroup + ")",
    };
    for (const LinkRow &l : links) {
        want.push_back("LinkPathUnits(" + l.link + ")");
        want.push_back("SaveShellLink(" + l.target + "|" + l.arguments + "|" + l.icon + "|0|" + l.link + ")");
    }
    want.push_back("CopyFile(" + kGroup + "\\Tillwick Orvenda.lnk," + kDesktop + "\\Tillwick Orvenda.lnk,0)");
    want.push_back("CopyFile(" + kGroup + "\\Tillwick Demo.lnk," + kDesktop + "\\Tillwick Demo.lnk,0)");
    EXPECT_EQ(CallsStartingWith({"GetSpecialFolder", "DeleteFile", "CreateDirectory", "LinkPathUnits",
                                 "SaveShellLink", "CopyFile", "RemoveDirectory", "FindFirst"}),
              want);

    EXPECT_FALSE(FakeFileExists(std::string(kDesktop) + "\\Tillwick.lnk"));
    EXPECT_FALSE(FakeFileExists(std::string(kDesktop) + "\\TW_Demo.lnk"));
    EXPECT_EQ(gFake.files[std::string(kDesktop) + "\\Tillwick Orvenda.lnk"],
              FakeLinkBytes(dir + "\\Tillwick.exe", "", dir + "\\Tillwick.ico", 0));
    EXPECT_EQ(gFake.files[std::string(kDesktop) + "\\Tillwick Demo.lnk"],
              FakeLinkBytes(dir + "\\Tillwick.exe", "/Demo", dir + "\\Demo.ico", 0));
    EXPECT_TRUE(gFake.messageBoxes.empty());

    // Twice: the same files, every one replaced.
    std::map<std::string, std::string> files = gFake.files;
    gFakeShellLink.savedLinks.clear();
    CreateShortcuts(0);
    ExpectSaved(links, "second create");
    EXPECT_EQ(gFake.files, files);
}

TEST_F(Shell, AnEmptyProgramDirectoryStillGivesEveryShortcut)
{
    ScriptCommonFolders();
    CreateShortcuts(0);
    ExpectSaved(ExpectedLinks(kGroup, ""), "empty directory");
    EXPECT_EQ(gFakeShellLink.savedLinks[3].target, "\\Disk1\\Setup.exe");
}

TEST_F(Shell, RowsWhosePathsDoNotFitAreSkipped)
{
    struct Row {
        const char *name;
        std::string startMenu, dir;
        std::string unitsLink;  // a link path scripted to need 261 UTF-16 units
        std::vector<int> madeRows;
        bool copies;
    } rows[] = {
        // 208 + 27 = the group (235); + "\Tillwick Orvenda.lnk" = 256 fits,
        // + "\Make Installation Disks.lnk" = 263 does not.
        {"long start menu", std::string(208, 's'), "C:\\P", "", {0, 1, 2, 4, 5}, true},
        // The program directory: 245 + "\Disk1\Setup.exe" = 261 does not fit, 245 + 13 does.
        {"long directory", kStartMenu, std::string(245, 'd'), "", {0, 1, 2, 4, 5}, true},
        {"multibyte link path", kStartMenu, "C:\\P", kGroup + "\\Help.lnk", {0, 1, 3, 4, 5}, true},
        // 232 + 27 = 259: the group alone fits, no link inside it does.
        {"no room for links", std::string(232, 'm'), "C:\\P", "", {}, false},
        // 233 + 27 = 260: not even the group.
        {"no room for the group", std::string(233, 'g'), "C:\\P", "", {}, false},
    };
    for (const Row &row : rows) {
        FakeReset();
        gFakeShellLink.folders[0x19] = kDesktop;
        gFakeShellLink.folders[0x16] = row.startMenu;
        SetProgramDirectory(row.dir);
        if (!row.unitsLink.empty())
            gFakeShellLink.linkUnits[row.unitsLink] = kLinkPathUnits + 1;
        CreateShortcuts(0);
        std::string group = row.startMenu + "\\Programs\\Tillwick Orvenda";
        std::vector<LinkRow> all = ExpectedLinks(group, row.dir), want;
        for (int i : row.madeRows)
            want.push_back(all[i]);
        ExpectSaved(want, row.name);
        EXPECT_EQ(FakeFileExists(std::string(kDesktop) + "\\Tillwick Orvenda.lnk"), row.copies) << row.name;
        EXPECT_EQ(FakeFileExists(std::string(kDesktop) + "\\Tillwick Demo.lnk"), row.copies) << row.name;
        // Nothing is ever cut: every path handed on is whole.
        for (const std::string &call : gFake.calls)
            EXPECT_EQ(call.find(std::string(300, 's')), std::string::npos);
        bool groupMade = group.size() <= 259;
        EXPECT_EQ(gFake.directories.count(FakeLower(group)) == 1, groupMade) << row.name;
    }
}

TEST_F(Shell, WithoutFoldersNothingLandsInTheDriveRoot)
{
    struct Row {
        const char *name;
        bool desktop, startMenu;
    } rows[] = {{"no desktop", false, true}, {"no start menu", true, false}, {"neither", false, false}};
    for (const Row &row : rows) {
        FakeReset();
        if (row.desktop)
            gFakeShellLink.folders[0x10] = kDesktop;
        if (row.startMenu)
            gFakeShellLink.folders[0x0B] = kStartMenu;
        SetProgramDirectory("C:\\P");
        gFake.files["\\Tillwick.lnk"] = "someone else's";
        CreateShortcuts(0);
        EXPECT_TRUE(FakeFileExists("\\Tillwick.lnk")) << row.name;
        for (auto &f : gFake.files)
            EXPECT_TRUE(f.first == "\\Tillwick.lnk" || f.first.compare(0, 1, "\\") != 0)
                << row.name << ": " << f.first;
        for (auto &d : gFake.directories)
            EXPECT_NE(d.first.compare(0, 1, "\\"), 0) << row.name << ": " << d.first;
        EXPECT_EQ(gFakeShellLink.savedLinks.size(), row.startMenu ? 6u : 0u) << row.name;
        EXPECT_EQ(CallsStartingWith({"CreateDirectory"}).size(), row.startMenu ? 1u : 0u) << row.name;
        EXPECT_EQ(CallsStartingWith({"CopyFile"}).size(), row.startMenu && row.desktop ? 2u : 0u) << row.name;
        EXPECT_EQ(CallsStartingWith({"DeleteFile"}).size(), row.desktop ? 2u : 0u) << row.name;

        RemoveShortcuts(0);
        EXPECT_TRUE(FakeFileExists("\\Tillwick.lnk")) << row.name;
        EXPECT_EQ(CallsStartingWith({"RemoveDirectory"}).size(), row.startMenu ? 1u : 0u) << row.name;
        EXPECT_EQ(CallsStartingWith({"FindFirst"}).size(), row.startMenu ? 1u : 0u) << row.name;
    }
}

TEST_F(Shell, AShortcutThatFailsIsSkippedAndTheRestFollow)
{
    ScriptCommonFolders();
    SetProgramDirectory("C:\\P");
    gFakeShellLink.failingLinks.insert(FakeLower(kGroup + "\\Tillwick Orvenda.lnk"));
    CreateShortcuts(0);
    EXPECT_EQ(CallsStartingWith({"SaveShellLink"}).size(), 6u);
    EXPECT_EQ(gFakeShellLink.savedLinks.size(), 5u);
    // The copy whose source is missing is skipped; the other is made.
    EXPECT_FALSE(FakeFileExists(std::string(kDesktop) + "\\Tillwick Orvenda.lnk"));
    EXPECT_TRUE(FakeFileExists(std::string(kDesktop) + "\\Tillwick Demo.lnk"));
}

TEST_F(Shell, RemoveShortcutsDeletesEveryLinkOfTheGroupAndTheDesktopCopies)
{
    struct Row {
        const char *name;
        std::vector<std::string> foreign;  // further files in the group
        bool groupGoes;
    } rows[] = {
        {"only ours", {}, true},
        {"a foreign shortcut", {"Other.LNK"}, true},
        {"a foreign file", {"Readme.txt"}, false},
        {"both", {"Other.lnk", "notes.lnk.txt"}, false},
    };
    for (const Row &row : rows) {
        FakeReset();
        ScriptCommonFolders();
        SetProgramDirectory("C:\\P");
        CreateShortcuts(0);
        for (const std::string &name : row.foreign)
            gFake.files[kGroup + "\\" + name] = "foreign";
        gFake.files[std::string(kDesktop) + "\\Tillwick.lnk"] = "old name";
        gFake.files[std::string(kDesktop) + "\\TW_Demo.lnk"] = "old name";
        gFake.files[std::string(kDesktop) + "\\Other.lnk"] = "foreign";
        size_t before = gFake.calls.size();

        RemoveShortcuts(0);
        std::vector<std::string> removal(gFake.calls.begin() + before, gFake.calls.end());
        EXPECT_EQ(removal.front(), "GetSpecialFolder(0,25)") << row.name;
        EXPECT_EQ(std::count(removal.begin(), removal.end(), "FindFirst(" + kGroup + "\\*.lnk)"), 1)
            << row.name;
        for (const std::string &call : removal) {
            EXPECT_EQ(call.find("ReadProfile"), std::string::npos) << row.name;
            EXPECT_EQ(call.find("SaveShellLink"), std::string::npos) << row.name;
        }
        for (const LinkRow &l : ExpectedLinks(kGroup, "C:\\P"))
            EXPECT_FALSE(FakeFileExists(l.link)) << row.name << " " << l.link;
        for (const std::string &name : row.foreign) {
            bool isLink = FakeLower(name).size() > 4 &&
                          FakeLower(name).compare(name.size() - 4, 4, ".lnk") == 0;
            EXPECT_EQ(FakeFileExists(kGroup + "\\" + name), !isLink) << row.name << " " << name;
        }
        EXPECT_EQ(gFake.directories.count(FakeLower(kGroup)) == 0, row.groupGoes) << row.name;
        EXPECT_FALSE(FakeFileExists(std::string(kDesktop) + "\\Tillwick Orvenda.lnk")) << row.name;
        EXPECT_FALSE(FakeFileExists(std::string(kDesktop) + "\\Tillwick Demo.lnk")) << row.name;
        // The old names and others' files stay.
        EXPECT_TRUE(FakeFileExists(std::string(kDesktop) + "\\Tillwick.lnk")) << row.name;
        EXPECT_TRUE(FakeFileExists(std::string(kDesktop) + "\\TW_Demo.lnk")) << row.name;
        EXPECT_TRUE(FakeFileExists(std::string(kDesktop) + "\\Other.lnk")) << row.name;
        // The group's removal comes before the desktop's, the folder after its files.
        std::vector<std::string> order = CallsStartingWith({"RemoveDirectory", "DeleteFile"});
        EXPECT_EQ(order[order.size() - 2], "DeleteFile(" + std::string(kDesktop) + "\\Tillwick Orvenda.lnk)");
        EXPECT_EQ(order.back(), "DeleteFile(" + std::string(kDesktop) + "\\Tillwick Demo.lnk)");
        EXPECT_EQ(order[order.size() - 3], "RemoveDirectory(" + kGroup + ")");
    }
}

TEST_F(Shell, RemovalWithNothingInstalledChangesNothing)
{
    ScriptCommonFolders();
    gFake.files[std::string(kDesktop) + "\\Keep.lnk"] = "x";
    RemoveShortcuts(0);
    RemoveShortcuts(0);
    EXPECT_EQ(gFake.files.size(), 1u);
    EXPECT_TRUE(gFake.deletedFiles.empty());
    EXPECT_TRUE(gFake.messageBoxes.empty());
}

TEST_F(Shell, WithoutTheAllUsersFoldersRemovalFindsWhatInstallationMade)
{
    gFakeShellLink.folders[0x10] = "C:\\users\\me\\Desktop";
    gFakeShellLink.folders[0x0B] = "C:\\users\\me\\Start Menu";
    SetProgramDirectory("C:\\P");
    CreateShortcuts(5);
    EXPECT_EQ(gFakeShellLink.savedLinks.size(), 6u);
    EXPECT_TRUE(FakeFileExists("C:\\users\\me\\Desktop\\Tillwick Orvenda.lnk"));
    RemoveShortcuts(5);
    EXPECT_TRUE(gFake.files.empty());
    EXPECT_FALSE(gFake.directories.count(FakeLower("C:\\users\\me\\Start Menu\\Programs\\Tillwick Orvenda")));
    // The all-users folders are asked with the owner, the user's own with none.
    EXPECT_EQ(CallsStartingWith({"GetSpecialFolder"}),
              (std::vector<std::string>{"GetSpecialFolder(5,25)", "GetSpecialFolder(0,16)",
                                        "GetSpecialFolder(5,22)", "GetSpecialFolder(0,11)",
                                        "GetSpecialFolder(5,25)", "GetSpecialFolder(0,16)",
                                        "GetSpecialFolder(5,22)", "GetSpecialFolder(0,11)"}));
}

}  // namespace
