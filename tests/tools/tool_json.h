// JSON-line output shared by the Win32 test tools: a growing text buffer with helpers that
// add "key":value pairs. Texts from the ANSI side are converted to UTF-8 through the
// process code page, texts from the wide side directly, so the Python side reads UTF-8.
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>

inline std::string ToolWideToUtf8(const wchar_t *text, int length = -1)
{
    if (!text)
        return std::string();
    int need = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (need <= 0)
        return std::string();
    std::string out((size_t)need, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], need, nullptr, nullptr);
    if (length < 0 && !out.empty() && out.back() == '\0')
        out.pop_back();
    return out;
}

inline std::string ToolAnsiToUtf8(const char *text)
{
    if (!text)
        return std::string();
    int need = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (need <= 0)
        return std::string();
    std::wstring wide((size_t)need, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], need);
    return ToolWideToUtf8(wide.c_str());
}

// Appends text (UTF-8) as a quoted JSON string.
inline void ToolJsonQuote(std::string &out, const std::string &text)
{
    out += '"';
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char esc[8];
                snprintf(esc, sizeof esc, "\\u%04x", c);
                out += esc;
            } else {
                out += (char)c;
            }
        }
    }
    out += '"';
}

// One JSON object under construction: Open, any number of Add..., Close.
// The value of one hexadecimal digit, -1 for any other character.
inline int ToolHexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

inline void ToolJsonOpen(std::string &out) { out += '{'; }

inline void ToolJsonKey(std::string &out, const char *key)
{
    if (!out.empty() && out.back() != '{' && out.back() != '[')
        out += ',';
    ToolJsonQuote(out, key);
    out += ':';
}

inline void ToolJsonAddText(std::string &out, const char *key, const std::string &utf8)
{
    ToolJsonKey(out, key);
    ToolJsonQuote(out, utf8);
}

inline void ToolJsonAddNumber(std::string &out, const char *key, long long value)
{
    ToolJsonKey(out, key);
    out += std::to_string(value);
}

inline void ToolJsonAddBool(std::string &out, const char *key, bool value)
{
    ToolJsonKey(out, key);
    out += value ? "true" : "false";
}

// Adds already formatted JSON (an array or object built elsewhere).
inline void ToolJsonAddRaw(std::string &out, const char *key, const std::string &json)
{
    ToolJsonKey(out, key);
    out += json;
}

inline void ToolJsonClose(std::string &out) { out += '}'; }

// The value of an environment variable, "" when it is unset or too long.
inline std::string ToolEnvValue(const char *name)
{
    char value[1024];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    if (n == 0 || n >= sizeof value)
        return std::string();
    return std::string(value, n);
}

// Appends one line to a log that several tools may write at once: open for appending, one
// write per line, and retry a moment while another process holds the file.
inline bool ToolAppendLine(const std::string &path, const std::string &line, int attempts = 50)
{
    for (int attempt = 0; attempt < attempts; attempt++) {
        HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            BOOL ok = WriteFile(file, line.data(), (DWORD)line.size(), &written, nullptr);
            CloseHandle(file);
            return ok && written == line.size();
        }
        Sleep(20);
    }
    return false;
}

// The command line after the program's own name (quoted or not) and the blanks after it.
inline const char *ToolSkipProgramName(const char *line)
{
    const char *p = line;
    if (*p == '"') {
        p++;
        while (*p && *p != '"')
            p++;
        if (*p == '"')
            p++;
    } else {
        while (*p && *p != ' ' && *p != '\t')
            p++;
    }
    while (*p == ' ' || *p == '\t')
        p++;
    return p;
}
