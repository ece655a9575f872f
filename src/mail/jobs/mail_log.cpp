// The mail log. Lines are gathered in memory and appended to the file once per message (the
// file opened, appended and closed each time, shared for reading); a failed write loses the
// lines and nothing else.
#include "mail_log.h"

#include <cstring>

#include "../../base/encoding.h"
#include "../../base/host_settings.h"
#include "../../base/text.h"
#include "../../platform/plat_files.h"
#include "../../platform/plat_time.h"

static const char kHidden[] = "<hidden>";
static const char kSecurityNames[][10] = {"none", "starttls", "tls"};

static bool IsAbsolutePath(const char *path)
{
    return path[0] == '\\' || path[0] == '/' || (path[0] != '\0' && path[1] == ':');
}

// A path the log must never be written to: a share or a device (\\host\share, //host,
// \\?\ and \\.\ with either slash, NT's \??\), or a file named like a DOS device (CON,
// NUL, COM1, "nul.log", "Com1 :"), which Windows opens as that device in any folder.
static bool IsShareOrDevicePath(const char *path)
{
    bool slash0 = path[0] == '\\' || path[0] == '/';
    bool slash1 = slash0 && (path[1] == '\\' || path[1] == '/');
    if (slash1 || (slash0 && path[1] == '?' && path[2] == '?'))
        return true;
    const char *name = path;
    for (const char *p = path; *p; p++)
        if (*p == '\\' || *p == '/' || (*p == ':' && p == path + 1))
            name = p + 1;
    // The name as Windows matches devices: up to an extension or a colon, trailing blanks off.
    size_t n = strcspn(name, ".:");
    while (n > 0 && name[n - 1] == ' ')
        n--;
    char base[8];
    if (!CopyTextN(base, sizeof base, name, n))
        return false;  // longer than any device's name
    LowerAscii(base);
    static const char kDevices[][8] = {"con", "prn", "aux", "nul", "conin$", "conout$", "clock$"};
    for (const char *device : kDevices)
        if (strcmp(base, device) == 0)
            return true;
    return n == 4 && (memcmp(base, "com", 3) == 0 || memcmp(base, "lpt", 3) == 0) &&
           base[3] >= '0' && base[3] <= '9';
}

void OpenMailLog(MailLog *log)
{
    log->enabled = false;
    log->length = 0;
    log->secretCount = 0;
    log->delivered = log->kept = log->invalid = 0;
    char value[kSettingSize];
    if (ReadHostSetting(kKeyMailLog, value, sizeof value) == 0)
        return;
    if (IsShareOrDevicePath(value))
        return;  // off, as though the key were absent
    bool fits;
    if (IsAbsolutePath(value)) {
        fits = CopyText(log->path, sizeof log->path, value);
    } else {
        char directory[kPathSize];
        GetProgramDirectory(directory, sizeof directory);
        fits = directory[0] == '\0'
                   ? CopyText(log->path, sizeof log->path, value)
                   : FormatText(log->path, sizeof log->path, "%s\\%s", directory, value);
    }
    log->enabled = fits;
}

void AddMailLogSecret(MailLog *log, const char *secret)
{
    if (!log->enabled || secret[0] == '\0' || log->secretCount >= kMailLogSecretsMax)
        return;
    char *kept = log->secrets[log->secretCount];
    if (!CopyText(kept, kMailLogSecretSize, secret)) {
        WipeBytes(kept, kMailLogSecretSize);
        return;
    }
    // A base64 secret may come back without its padding: what stands before it is scrubbed.
    size_t n = strlen(kept);
    while (n > 1 && kept[n - 1] == '=')
        kept[--n] = '\0';
    log->secretCount++;
}

void HideLoginInLog(MailLog *log, const MailSettings *settings)
{
    if (!log->enabled || settings->password[0] == '\0')
        return;
    AddMailLogSecret(log, settings->password);
    char encoded[kMailLogSecretSize];
    if (Base64Encode((const unsigned char *)settings->password, strlen(settings->password),
                     false, encoded, sizeof encoded) > 0)
        AddMailLogSecret(log, encoded);
    if (MakePlainResponse(settings, encoded, sizeof encoded) > 0)
        AddMailLogSecret(log, encoded);
    WipeBytes(encoded, sizeof encoded);
}

size_t EscapeLogText(const char *text, size_t length, char *dest, size_t destSize)
{
    static const char kHex[] = "0123456789ABCDEF";
    if (destSize == 0)
        return 0;
    size_t out = 0;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)text[i];
        char piece[4];
        size_t n;
        if (c == '\\') {
            piece[0] = piece[1] = '\\';
            n = 2;
        } else if (c >= 0x20 && c <= 0x7E) {
            piece[0] = (char)c;
            n = 1;
        } else {
            piece[0] = '\\';
            piece[1] = 'x';
            piece[2] = kHex[c >> 4];
            piece[3] = kHex[c & 15];
            n = 4;
        }
        if (out + n >= destSize)
            break;
        memcpy(dest + out, piece, n);
        out += n;
    }
    dest[out] = '\0';
    return out;
}

// Appends what was gathered; the buffer is empty again, whether the write worked or not.
static void Flush(MailLog *log)
{
    if (log->length > 0)
        PlatAppendFile(log->path, log->buffer, log->length);
    WipeBytes(log->buffer, log->length);
    log->length = 0;
}

// Adds text as it stands, then a line end; a full buffer is appended to the file first.
static void Put(MailLog *log, const char *text)
{
    size_t n = strlen(text);
    if (log->length + n + 2 > sizeof log->buffer)
        Flush(log);
    if (n + 2 > sizeof log->buffer)
        n = sizeof log->buffer - 2;
    memcpy(log->buffer + log->length, text, n);
    memcpy(log->buffer + log->length + n, "\r\n", 2);
    log->length += n + 2;
}

// The first secret that occurs in text[0..length), its position in *at; -1 for none.
static int FindSecret(const MailLog *log, const char *text, size_t length, size_t *at)
{
    int found = -1;
    for (int s = 0; s < log->secretCount; s++) {
        size_t n = strlen(log->secrets[s]);
        for (size_t i = 0; n > 0 && i + n <= length; i++)
            if (memcmp(text + i, log->secrets[s], n) == 0 && (found < 0 || i < *at)) {
                found = s;
                *at = i;
                break;
            }
    }
    return found;
}

// text[0..length) into dest with every secret replaced by kHidden; with escape, each piece
// between them escaped too. Returns the length written (dest always ends in '\0').
static size_t WriteHidingSecrets(const MailLog *log, const char *text, size_t length, bool escape,
                                 char *dest, size_t destSize)
{
    size_t out = 0;
    while (length > 0 && out + 1 < destSize) {
        size_t at = length;
        int secret = FindSecret(log, text, length, &at);
        if (escape) {
            out += EscapeLogText(text, at, dest + out, destSize - out);
        } else {
            size_t n = at < destSize - 1 - out ? at : destSize - 1 - out;
            memcpy(dest + out, text, n);
            out += n;
        }
        if (secret < 0)
            break;
        if (out + sizeof kHidden < destSize) {
            memcpy(dest + out, kHidden, sizeof kHidden);
            out += sizeof kHidden - 1;
        }
        size_t skip = at + strlen(log->secrets[secret]);
        text += skip;
        length -= skip;
    }
    dest[out < destSize ? out : destSize - 1] = '\0';
    return out;
}

void MailLogLine(MailLog *log, char mark, const char *text, size_t length)
{
    if (!log->enabled)
        return;
    // Escaped piece by piece, every secret replaced on the way; then once more over what the
    // escaping made, since an escape's last digit can join what the server sent next into a
    // secret ("\xBA" before the rest of a base64 login).
    char raw[4 * 1024];
    size_t rawLength = WriteHidingSecrets(log, text, length, true, raw, sizeof raw);
    char escaped[sizeof raw];
    WriteHidingSecrets(log, raw, rawLength, false, escaped, sizeof escaped);
    WipeBytes(raw, sizeof raw);
    char line[sizeof escaped + 40];
    unsigned long long ms = PlatTickCount() - log->zeroTick;
    FormatText(line, sizeof line, "  +%llu ms %c %s", ms, mark, escaped);
    Put(log, line);
}

void MailLogText(MailLog *log, char mark, const char *text)
{
    MailLogLine(log, mark, text, strlen(text));
}

void MailLogBatchStarts(MailLog *log)
{
    if (!log->enabled)
        return;
    long long size = PlatGetFileSizeShared(log->path);
    char old[kPathSize];
    if (size > kMailLogRotateSize && FormatText(old, sizeof old, "%s.old", log->path))
        PlatReplaceFile(log->path, old);
}

void MailLogMessageStarts(MailLog *log, const MailSettings *settings, const char *fileName)
{
    if (!log->enabled)
        return;
    char now[32];
    PlatLocalTimeText(now, sizeof now);
    char name[kPathSize * 4], server[kOAuthUrlSize * 4];
    EscapeLogText(fileName, strlen(fileName), name, sizeof name);
    char line[sizeof name + sizeof server + 100];
    if (settings->way != kWaySmtp) {
        // A mail API: which one, and its endpoint.
        EscapeLogText(settings->apiUrl, strlen(settings->apiUrl), server, sizeof server);
        FormatText(line, sizeof line, "%s message %s: %s %s", now, name,
                   MailWayName(settings->way), server);
    } else {
        EscapeLogText(settings->server, strlen(settings->server), server, sizeof server);
        FormatText(line, sizeof line, "%s message %s: server %s port %u security %s", now,
                   name, server, (unsigned)settings->port, kSecurityNames[settings->security]);
    }
    Put(log, line);
    log->zeroTick = PlatTickCount();
}

void MailLogWindowOpened(MailLog *log) { log->zeroTick = PlatTickCount(); }

void MailLogMessageEnds(MailLog *log, bool delivered, const char *outcome)
{
    if (!log->enabled)
        return;
    if (delivered)
        log->delivered++;
    else
        log->kept++;
    MailLogText(log, '=', outcome);
    Flush(log);
}

void MailLogInvalidFile(MailLog *log, const char *fileName, const char *reason, bool deleted)
{
    if (!log->enabled)
        return;
    log->invalid++;
    char now[32];
    PlatLocalTimeText(now, sizeof now);
    char name[kPathSize * 4], why[kPathSize * 4 + 400];
    EscapeLogText(fileName, strlen(fileName), name, sizeof name);
    EscapeLogText(reason, strlen(reason), why, sizeof why);
    char line[sizeof name + sizeof why + 100];
    FormatText(line, sizeof line, "%s message %s: invalid (%s), %s", now, name, why,
               deleted ? "file deleted" : "the file could not be deleted");
    Put(log, line);
    Flush(log);
}

void MailLogBatchEnds(MailLog *log)
{
    if (log->enabled) {
        char now[32];
        PlatLocalTimeText(now, sizeof now);
        char line[200];
        FormatText(line, sizeof line, "%s batch ended: %d delivered, %d kept, %d invalid", now,
                   log->delivered, log->kept, log->invalid);
        Put(log, line);
        Flush(log);
    }
    ForgetMailLogSecrets(log);
}

void ForgetMailLogSecrets(MailLog *log)
{
    for (int s = 0; s < log->secretCount; s++)
        WipeBytes(log->secrets[s], strlen(log->secrets[s]));
    log->secretCount = 0;
}
