// The mail log: on request ("MailLog" in "Email Setup"), a record of every message's
// conversation, for whoever must find out why mail fails at a site. It never holds a secret
// (the login's lines are hidden, known secrets are scrubbed wherever they appear) nor the
// message text, and everything not printable ASCII is escaped, so that a hostile reply cannot
// forge lines. A log that cannot be written never stops or changes the sending.
#pragma once
#include <cstddef>

#include "../../base/paths.h"
#include "../settings/mail_settings.h"

// Lines gathered for one message before they are appended; a larger message's log is
// appended in several writes.
const size_t kMailLogBufferSize = 64 * 1024;
// A log larger than this at the start of a batch is renamed with ".old" (one generation).
const long long kMailLogRotateSize = 1024 * 1024;
// Secrets scrubbed from every line: the password, its base64 form, the login's payloads.
const int kMailLogSecretsMax = 6;
const size_t kMailLogSecretSize = 24 * 1024;

struct MailLog {
    bool enabled;
    char path[kPathSize];
    unsigned long long zeroTick;  // when the current window opened
    char buffer[kMailLogBufferSize];
    size_t length;
    char secrets[kMailLogSecretsMax][kMailLogSecretSize];
    int secretCount;
    int delivered, kept, invalid;  // this batch's messages so far
};

// Reads "MailLog": a path, relative ones taken from the program directory. Absent or empty
// (or a path that does not fit): the log is off and nothing is ever touched.
void OpenMailLog(MailLog *log);

// A secret that no line may show: wherever it appears (a base64 one also without its "="
// padding), "<hidden>" stands instead.
void AddMailLogSecret(MailLog *log, const char *secret);

// The login's secrets as no line may show them: the password, its base64 form (AUTH LOGIN)
// and the AUTH PLAIN payload.
void HideLoginInLog(MailLog *log, const MailSettings *settings);

// The start of a batch: a log grown past kMailLogRotateSize becomes its ".old" generation.
void MailLogBatchStarts(MailLog *log);

// The start of one message: the local date and time, the server, port and security, the
// message file's name.
void MailLogMessageStarts(MailLog *log, const MailSettings *settings, const char *fileName);

// The message's window has opened: the zero of the milliseconds every line shows.
void MailLogWindowOpened(MailLog *log);

// One line: the milliseconds since the window opened, a mark ('>' sent, '<' received, '*' an
// event), and the text, escaped (length bytes; its line end left off by the caller).
void MailLogLine(MailLog *log, char mark, const char *text, size_t length);
void MailLogText(MailLog *log, char mark, const char *text);

// How the message ended; its lines are appended to the file.
void MailLogMessageEnds(MailLog *log, bool delivered, const char *outcome);

// A message file that could not be sent as it stands, deleted (or not).
void MailLogInvalidFile(MailLog *log, const char *fileName, const char *reason, bool deleted);

// The batch's end: its counts; the secrets are wiped.
void MailLogBatchEnds(MailLog *log);

// Wipes the secrets without a line of its own (a settings check is no batch).
void ForgetMailLogSecrets(MailLog *log);

// The escaping every line gets: printable ASCII as it stands but for "\" (doubled), every
// other byte as "\xHH". Returns the length written into dest (always terminated; cut at a
// whole escape when it does not fit).
size_t EscapeLogText(const char *text, size_t length, char *dest, size_t destSize);
