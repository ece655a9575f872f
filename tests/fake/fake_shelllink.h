// The recording fake of the special-folder and shell link seam. Tests script the folders'
// paths and read back every shortcut saved; a saved shortcut also becomes a file in
// gFake.files, so copies, searches and deletions see it.
#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/plat_types.h"

struct FakeSavedLink {
    std::string target, arguments, iconFile;
    int iconIndex;
    std::string linkFile;
};

struct FakeShellLinkState {
    // --- scripted by the test ---
    // Special folders by CSIDL; a folder absent here has no path (the look-up fails).
    std::map<int, std::string> folders;
    // UTF-16 units a link path becomes, when not its length plus one (a multibyte page).
    std::map<std::string, int> linkUnits;
    // Link files whose save fails (compared without case).
    std::set<std::string> failingLinks;

    // --- recorded ---
    std::vector<FakeSavedLink> savedLinks;
};

extern FakeShellLinkState gFakeShellLink;

// The bytes the fake writes for a shortcut: the four fields joined by '|'.
std::string FakeLinkBytes(const std::string &target, const std::string &arguments,
                          const std::string &iconFile, int iconIndex);
