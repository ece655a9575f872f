// regdump.exe: prints a registry key and all its subkeys, one JSON line per key, with every
// value's name, type and exact bytes as stored (RegEnumValueW: a string is UTF-16, and one
// stored with its terminating zero ends in 0000), so a test can tell a string written with
// its terminator from one without. (The ANSI enumeration adds a missing terminator itself.)
//
//   regdump.exe HKCR|HKLM|HKCU <path>
//
// Lines: {"key":"<path>","values":[{"name":"...","type":1,"hex":"610062000000"}, ...]}
// for the key and then each subkey, depth first, in the order the registry enumerates them;
// a missing key prints {"key":"<path>","missing":true}. Exit code 0, or 126 on bad usage.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tool_json.h"

static void DumpKey(HKEY root, const std::string &path)
{
    HKEY key;
    std::string line = "{\"key\":";
    ToolJsonQuote(line, ToolAnsiToUtf8(path.c_str()));
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        line += ",\"missing\":true}";
        puts(line.c_str());
        return;
    }
    line += ",\"values\":[";
    for (DWORD i = 0;; i++) {
        wchar_t name[16384];
        DWORD nameLength = sizeof name / sizeof name[0];
        DWORD type = 0;
        DWORD size = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size + 2);
        nameLength = sizeof name / sizeof name[0];
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        if (i > 0)
            line += ",";
        line += "{\"name\":";
        ToolJsonQuote(line, ToolWideToUtf8(name));
        char number[32];
        snprintf(number, sizeof number, ",\"type\":%lu,\"hex\":\"", (unsigned long)type);
        line += number;
        for (DWORD b = 0; b < size; b++) {
            char hex[4];
            snprintf(hex, sizeof hex, "%02x", data[b]);
            line += hex;
        }
        line += "\"}";
    }
    line += "]}";
    puts(line.c_str());

    std::vector<std::string> children;
    for (DWORD i = 0;; i++) {
        char name[256];
        DWORD nameLength = sizeof name;
        if (RegEnumKeyExA(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        children.push_back(name);
    }
    RegCloseKey(key);
    for (const std::string &child : children)
        DumpKey(root, path.empty() ? child : path + "\\" + child);
}

int main(int argc, char **argv)
{
    if (argc != 3)
        return 126;
    HKEY root;
    if (strcmp(argv[1], "HKCR") == 0)
        root = HKEY_CLASSES_ROOT;
    else if (strcmp(argv[1], "HKLM") == 0)
        root = HKEY_LOCAL_MACHINE;
    else if (strcmp(argv[1], "HKCU") == 0)
        root = HKEY_CURRENT_USER;
    else
        return 126;
    DumpKey(root, argv[2]);
    fflush(stdout);
    return 0;
}
