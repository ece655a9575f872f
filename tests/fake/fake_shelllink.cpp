// The recording fake of the special-folder and shell link seam.
#include "fake_shelllink.h"

#include <cstring>

#include "fake.h"
#include "platform/plat_shelllink.h"

FakeShellLinkState gFakeShellLink;

static void ResetShellLink() { gFakeShellLink = FakeShellLinkState(); }
static FakeResetHook gShellLinkReset(ResetShellLink);

std::string FakeLinkBytes(const std::string &target, const std::string &arguments,
                          const std::string &iconFile, int iconIndex)
{
    return "LNK|" + target + "|" + arguments + "|" + iconFile + "|" + std::to_string(iconIndex);
}

int PlatGetSpecialFolderPath(PlatWindow owner, int csidl, char *dest, int destSize)
{
    FakeRecord("GetSpecialFolder(" + std::to_string(owner) + "," + std::to_string(csidl) + ")");
    if (destSize <= 0)
        return 0;
    dest[0] = '\0';
    auto it = gFakeShellLink.folders.find(csidl);
    if (it == gFakeShellLink.folders.end() || it->second.size() + 1 > (size_t)destSize)
        return 0;
    memcpy(dest, it->second.c_str(), it->second.size() + 1);
    return 1;
}

int PlatLinkPathUnits(const char *linkFile)
{
    FakeRecord(std::string("LinkPathUnits(") + linkFile + ")");
    auto it = gFakeShellLink.linkUnits.find(linkFile);
    if (it != gFakeShellLink.linkUnits.end())
        return it->second;
    return (int)strlen(linkFile) + 1;
}

int PlatSaveShellLink(const char *target, const char *arguments, const char *iconFile,
                      int iconIndex, const char *linkFile)
{
    FakeRecord(std::string("SaveShellLink(") + target + "|" + arguments + "|" + iconFile + "|" +
               std::to_string(iconIndex) + "|" + linkFile + ")");
    std::string path = linkFile;
    if (gFakeShellLink.failingLinks.count(FakeLower(path)))
        return 0;
    // Like the real object, the save needs an existing folder.
    size_t slash = path.rfind('\\');
    if (slash == std::string::npos || !gFake.directories.count(FakeLower(path.substr(0, slash))))
        return 0;
    gFakeShellLink.savedLinks.push_back({target, arguments, iconFile, iconIndex, path});
    std::string bytes = FakeLinkBytes(target, arguments, iconFile, iconIndex);
    for (auto &f : gFake.files)
        if (FakeLower(f.first) == FakeLower(path)) {
            f.second = bytes;
            return 1;
        }
    gFake.files[path] = bytes;
    return 1;
}
