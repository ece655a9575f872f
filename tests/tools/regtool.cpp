// regtool.exe: sets and restores registry values for the end-to-end tests in one process
// start each (reg.exe needs several starts and prints values as text, not bytes).
//
//   regtool.exe set KEY NAME TYPE HEXDATA
//       Prints one JSON line with the state before: {"missing":"<first key of the path that
//       did not exist, or empty>","old":null or {"type":N,"hex":"..."}}, then creates the key
//       and sets the value. NAME "-" is the default (unnamed) value. TYPE is a number
//       (1 REG_SZ, 2 REG_EXPAND_SZ, 3 REG_BINARY, 4 REG_DWORD, 7 REG_MULTI_SZ); HEXDATA the
//       exact bytes (a string as ANSI with its terminator, as RegSetValueExA stores it).
//   regtool.exe restore KEY NAME TYPE HEXDATA    put a value back as it was (bytes as given)
//   regtool.exe delvalue KEY NAME                delete one value
//   regtool.exe delkey KEY                       delete a key with everything below it
//   regtool.exe get KEY NAME                     print {"type":N,"hex":"..."} or null
// KEY starts with HKCR, HKCU, HKLM or HKU (or their long names). Exit code 0 on success,
// 2 when the registry refused, 126 on bad usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

static bool SplitKey(const char *text, HKEY &root, std::string &path)
{
    static const struct {
        const char *name;
        HKEY root;
    } kRoots[] = {
        {"HKCR", HKEY_CLASSES_ROOT},   {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {"HKCU", HKEY_CURRENT_USER},   {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKLM", HKEY_LOCAL_MACHINE},  {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKU", HKEY_USERS},           {"HKEY_USERS", HKEY_USERS},
    };
    const char *slash = strchr(text, '\\');
    size_t n = slash ? (size_t)(slash - text) : strlen(text);
    for (const auto &entry : kRoots) {
        if (strlen(entry.name) == n && _strnicmp(text, entry.name, n) == 0) {
            root = entry.root;
            path = slash ? slash + 1 : "";
            return true;
        }
    }
    return false;
}

static const char *ValueName(const char *name) { return strcmp(name, "-") == 0 ? nullptr : name; }

static bool DecodeHex(const char *hex, std::vector<BYTE> &out)
{
    size_t n = strlen(hex);
    if (n % 2 != 0)
        return false;
    for (size_t i = 0; i < n; i += 2) {
        char pair[3] = {hex[i], hex[i + 1], 0};
        char *end = nullptr;
        long v = strtol(pair, &end, 16);
        if (*end != '\0')
            return false;
        out.push_back((BYTE)v);
    }
    return true;
}

static std::string ValueJson(HKEY root, const std::string &path, const char *name)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "null";
    DWORD type = 0, size = 0;
    std::string out = "null";
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<BYTE> data(size + 1);
        if (RegQueryValueExA(key, name, nullptr, &type, data.data(), &size) == ERROR_SUCCESS) {
            out = "{\"type\":" + std::to_string(type) + ",\"hex\":\"";
            for (DWORD i = 0; i < size; i++) {
                char byte[3];
                snprintf(byte, sizeof byte, "%02x", data[i]);
                out += byte;
            }
            out += "\"}";
        }
    }
    RegCloseKey(key);
    return out;
}

static bool KeyExists(HKEY root, const std::string &path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

static int SetValue(HKEY root, const std::string &path, const char *name, const char *type,
                    const char *hex)
{
    std::vector<BYTE> data;
    if (!DecodeHex(hex, data))
        return 126;
    HKEY key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return 2;
    LONG result = RegSetValueExA(key, name, 0, (DWORD)strtoul(type, nullptr, 0),
                                 data.empty() ? nullptr : data.data(), (DWORD)data.size());
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? 0 : 2;
}

int main(int argc, char **argv)
{
    if (argc < 3)
        return 126;
    const char *op = argv[1];
    HKEY root;
    std::string path;
    if (!SplitKey(argv[2], root, path))
        return 126;

    if (strcmp(op, "set") == 0 && argc == 6) {
        std::string missing;
        if (!KeyExists(root, path)) {
            // The first missing key of the path: deleting it undoes everything we create.
            std::string prefix;
            size_t start = 0;
            for (;;) {
                size_t slash = path.find('\\', start);
                prefix = path.substr(0, slash);
                if (!KeyExists(root, prefix)) {
                    missing = prefix;
                    break;
                }
                if (slash == std::string::npos)
                    break;
                start = slash + 1;
            }
        }
        std::string old = missing.empty() ? ValueJson(root, path, ValueName(argv[3])) : "null";
        std::string rootName(argv[2], strcspn(argv[2], "\\"));
        std::string line = "{\"missing\":\"";
        if (!missing.empty()) {
            for (char c : rootName + "\\" + missing) {
                if (c == '\\' || c == '"')
                    line += '\\';
                line += c;
            }
        }
        line += "\",\"old\":" + old + "}";
        puts(line.c_str());
        fflush(stdout);
        return SetValue(root, path, ValueName(argv[3]), argv[4], argv[5]);
    }
    if (strcmp(op, "restore") == 0 && argc == 6)
        return SetValue(root, path, ValueName(argv[3]), argv[4], argv[5]);
    if (strcmp(op, "get") == 0 && argc == 4) {
        puts(ValueJson(root, path, ValueName(argv[3])).c_str());
        return 0;
    }
    if (strcmp(op, "delvalue") == 0 && argc == 4) {
        HKEY key;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_WRITE, &key) != ERROR_SUCCESS)
            return 2;
        LONG result = RegDeleteValueA(key, ValueName(argv[3]));
        RegCloseKey(key);
        return result == ERROR_SUCCESS ? 0 : 2;
    }
    if (strcmp(op, "delkey") == 0 && argc == 3) {
        if (path.empty())
            return 126;  // never a whole root
        return RegDeleteTreeA(root, path.c_str()) == ERROR_SUCCESS ? 0 : 2;
    }
    return 126;
}
