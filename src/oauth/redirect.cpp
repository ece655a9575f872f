// The loopback redirect: reads the browser's GET request and makes the pages it is answered
// with. Strict about what it takes from the request (one request line, headers that end, a
// query that decodes), because everything the listener receives comes from outside.
#include "redirect.h"

#include <cstring>

#include "../base/text.h"
#include "oauth_encoding.h"
#include "oauth_texts.h"

// Position just after the first CR LF at or after from, or 0 when there is none.
static size_t LineEnd(const char *bytes, size_t count, size_t from)
{
    for (size_t i = from; i + 1 < count; i++)
        if (bytes[i] == '\r' && bytes[i + 1] == '\n')
            return i + 2;
    return 0;
}

// "GET " target " HTTP/1." digit: the target (origin form) goes to *target, *targetLength.
static bool ReadRequestLine(const char *line, size_t length, const char **target,
                            size_t *targetLength)
{
    const char kMethod[] = "GET ";
    const char kVersion[] = " HTTP/1.";
    size_t methodLength = sizeof kMethod - 1;
    size_t versionLength = sizeof kVersion - 1;
    if (length < methodLength + 1 + versionLength + 1 ||
        memcmp(line, kMethod, methodLength) != 0)
        return false;
    size_t versionAt = length - versionLength - 1;
    if (memcmp(line + versionAt, kVersion, versionLength) != 0 || line[length - 1] < '0' ||
        line[length - 1] > '9')
        return false;
    *target = line + methodLength;
    *targetLength = versionAt - methodLength;
    if (**target != '/')
        return false;
    for (size_t i = 0; i < *targetLength; i++) {
        unsigned char c = (unsigned char)(*target)[i];
        if (c <= ' ' || c >= 0x7F)
            return false;
    }
    return true;
}

// Every header line: a name of visible characters, a colon, then text without controls but
// the tab.
static bool HeadersAreValid(const char *bytes, size_t from, size_t end)
{
    size_t position = from;
    while (position < end) {
        size_t next = LineEnd(bytes, end, position);
        if (next == 0)
            return false;
        size_t lineLength = next - 2 - position;
        if (lineLength == 0)
            return next == end;  // the blank line ends the headers
        const char *line = bytes + position;
        const char *colon = (const char *)memchr(line, ':', lineLength);
        if (!colon || colon == line)
            return false;
        for (size_t i = 0; i < lineLength; i++) {
            unsigned char c = (unsigned char)line[i];
            bool inName = line + i < colon;
            if ((c < ' ' && c != '\t') || c == 0x7F || (inName && c <= ' '))
                return false;
        }
        position = next;
    }
    return false;
}

enum { kParamCode, kParamState, kParamError, kParamDescription, kParamCount };

// The query of our path: each known parameter decoded into its buffer (cut where the result
// says so), each at most once.
static bool ReadQuery(const char *query, size_t length, const char *expectedState,
                      RedirectRequest *out, bool seen[kParamCount], bool *stateMatches)
{
    static const char *const kNames[kParamCount] = {"code", "state", "error",
                                                    "error_description"};
    char state[128];
    state[0] = '\0';
    bool stateFits = true;
    size_t position = 0;
    while (position <= length) {
        const char *field = query + position;
        const char *amp = (const char *)memchr(field, '&', length - position);
        size_t fieldLength = amp ? (size_t)(amp - field) : length - position;
        position += fieldLength + 1;
        if (fieldLength == 0)
            continue;
        const char *equals = (const char *)memchr(field, '=', fieldLength);
        size_t nameLength = equals ? (size_t)(equals - field) : fieldLength;
        const char *value = equals ? equals + 1 : field + fieldLength;
        size_t valueLength = fieldLength - nameLength - (equals ? 1 : 0);
        char name[kRedirectRequestMax];
        if (PercentDecode(field, nameLength, true, name, sizeof name) == (size_t)-1)
            return false;
        int which = -1;
        for (int i = 0; i < kParamCount; i++)
            if (strcmp(name, kNames[i]) == 0)
                which = i;
        char decoded[kRedirectRequestMax];
        if (PercentDecode(value, valueLength, true, decoded, sizeof decoded) == (size_t)-1)
            return false;
        for (const unsigned char *p = (const unsigned char *)decoded; *p; p++)
            if (*p < ' ' || *p == 0x7F)
                return false;
        if (which < 0)
            continue;
        if (seen[which])
            return false;
        seen[which] = true;
        switch (which) {
        case kParamCode:
            CopyText(out->code, sizeof out->code, decoded);
            break;
        case kParamState:
            stateFits = CopyText(state, sizeof state, decoded);
            break;
        case kParamError:
            CopyText(out->error, sizeof out->error, decoded);
            break;
        default:
            CopyText(out->errorDescription, sizeof out->errorDescription, decoded);
            break;
        }
    }
    *stateMatches = seen[kParamState] && stateFits && expectedState[0] != '\0' &&
                    strcmp(state, expectedState) == 0;
    return true;
}

RedirectResult ReadRedirectRequest(const char *bytes, size_t count, const char *expectedState,
                                   RedirectRequest *out)
{
    out->code[0] = '\0';
    out->error[0] = '\0';
    out->errorDescription[0] = '\0';

    size_t window = count < kRedirectRequestMax ? count : kRedirectRequestMax;
    size_t lineEnd = LineEnd(bytes, window, 0);
    if (lineEnd == 0)
        return count >= kRedirectRequestMax ? kRedirectTooLong : kRedirectNeedMore;
    const char *target = nullptr;
    size_t targetLength = 0;
    if (!ReadRequestLine(bytes, lineEnd - 2, &target, &targetLength))
        return kRedirectMalformed;

    // The end of the headers: the first empty line.
    size_t headersEnd = 0;
    if (lineEnd + 1 < window && bytes[lineEnd] == '\r' && bytes[lineEnd + 1] == '\n') {
        headersEnd = lineEnd + 2;
    } else {
        for (size_t i = lineEnd; i + 3 < window; i++)
            if (memcmp(bytes + i, "\r\n\r\n", 4) == 0) {
                headersEnd = i + 4;
                break;
            }
    }
    if (headersEnd == 0)
        return count >= kRedirectRequestMax ? kRedirectTooLong : kRedirectNeedMore;
    if (!HeadersAreValid(bytes, lineEnd, headersEnd))
        return kRedirectMalformed;

    const char *question = (const char *)memchr(target, '?', targetLength);
    size_t pathLength = question ? (size_t)(question - target) : targetLength;
    if (pathLength != 1)
        return kRedirectOtherPath;

    bool seen[kParamCount] = {false, false, false, false};
    bool stateMatches = false;
    if (question) {
        const char *query = question + 1;
        size_t queryLength = targetLength - pathLength - 1;
        // A fragment never reaches a server; one that does is not part of the query.
        const char *hash = (const char *)memchr(query, '#', queryLength);
        if (hash)
            queryLength = (size_t)(hash - query);
        if (!ReadQuery(query, queryLength, expectedState, out, seen, &stateMatches)) {
            out->code[0] = out->error[0] = out->errorDescription[0] = '\0';
            return kRedirectMalformed;
        }
    }
    if (!stateMatches) {
        out->code[0] = out->error[0] = out->errorDescription[0] = '\0';
        return kRedirectWrongState;
    }
    if (seen[kParamError]) {
        out->code[0] = '\0';
        if (out->error[0] == '\0')
            CopyText(out->error, sizeof out->error, "error");
        return kRedirectProviderError;
    }
    if (out->code[0] == '\0') {
        out->errorDescription[0] = '\0';
        return kRedirectNoCode;
    }
    out->errorDescription[0] = '\0';
    return kRedirectCode;
}

// Appends text escaped for HTML, as much as fits whole: false when something was left out.
static bool AppendHtmlEscaped(char *dest, size_t destSize, const char *text)
{
    for (const char *p = text; *p; p++) {
        char one[2] = {*p, '\0'};
        const char *piece = one;
        switch (*p) {
        case '&':
            piece = "&amp;";
            break;
        case '<':
            piece = "&lt;";
            break;
        case '>':
            piece = "&gt;";
            break;
        case '"':
            piece = "&quot;";
            break;
        case '\'':
            piece = "&#39;";
            break;
        }
        size_t length = strlen(dest);
        if (!AppendText(dest, destSize, piece)) {
            dest[length] = '\0';
            return false;
        }
    }
    return true;
}

size_t MakeRedirectReply(RedirectPage page, const char *reason, char *dest, size_t destSize)
{
    static const char kHead[] =
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Tillwick Orvenda</title>"
        "</head><body>";
    static const char kTail[] = "</body></html>";
    const char *status = page == kRedirectPageSignedIn  ? "200 OK"
                         : page == kRedirectPageFailed ? "400 Bad Request"
                                                       : "404 Not Found";
    char body[2048];
    CopyText(body, sizeof body, kHead);
    if (page == kRedirectPageSignedIn) {
        AppendText(body, sizeof body, kPageSignedIn);
    } else if (page == kRedirectPageNotFound) {
        AppendText(body, sizeof body, kPageNotFound);
    } else {
        // The reason fills the room the rest of the page leaves.
        char escaped[sizeof body];
        escaped[0] = '\0';
        size_t room = sizeof body - strlen(kHead) - (sizeof kPageFailed - 3) - strlen(kTail);
        AppendHtmlEscaped(escaped, room, reason ? reason : "");
        char part[sizeof body];
        FormatText(part, sizeof part, kPageFailed, escaped);
        AppendText(body, sizeof body, part);
    }
    AppendText(body, sizeof body, kTail);
    char headers[256];
    FormatText(headers, sizeof headers,
               "HTTP/1.1 %s\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: %u\r\n"
               "Cache-Control: no-store\r\nConnection: close\r\n\r\n",
               status, (unsigned)strlen(body));
    if (!CopyText(dest, destSize, headers) || !AppendText(dest, destSize, body)) {
        if (destSize)
            dest[0] = '\0';
        return 0;
    }
    return strlen(dest);
}
