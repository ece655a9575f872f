// The table of well-known SMTP replies (Microsoft 365, Gmail, Postfix and RFC 3463's enhanced
// status codes) and its matching. The first row that matches gives the advice, so a row that
// needs a word comes before the row for its codes alone.
#include "reply_advice.h"

#include <cstddef>
#include <cstring>

namespace {

struct AdviceRow {
    int codeLow, codeHigh;    // the reply code, from and to
    const char *enhanced;     // the enhanced status code of the same line; nullptr: any
    const char *word;         // a word of any line, without case; nullptr: none needed
    const char *advice;
    const char *adviceXoauth2;  // after AUTH XOAUTH2, when it differs; nullptr: the same
};

const AdviceRow kRows[] = {
    // Microsoft 365 names why with 5.7.139; its most common cause is SMTP AUTH turned off.
    {535, 535, "5.7.139", "SmtpClientAuthentication", kAdviceSmtpAuthOff, nullptr},
    {535, 535, "5.7.139", "basic authentication is disabled", kAdvicePasswordsOff, nullptr},
    {535, 535, "5.7.139", "security defaults", kAdviceSecurityPolicy, nullptr},
    {535, 535, "5.7.139", "did not meet the criteria", kAdviceSecurityPolicy, nullptr},
    {535, 535, "5.7.139", "credentials were incorrect", kAdviceWrongPassword,
     kAdviceWrongSignIn},
    {535, 535, "5.7.139", nullptr, kAdviceSmtpAuthOff, nullptr},
    {550, 550, "5.7.30", nullptr, kAdvicePasswordsOff, nullptr},
    {535, 535, nullptr, nullptr, kAdviceWrongPassword, kAdviceWrongSignIn},
    // Gmail: two-step verification on (5.7.9), or a password login it blocks (5.7.14).
    // Elsewhere 534 5.7.9 means a mechanism too weak (RFC 4954): no advice for that.
    {534, 534, "5.7.9", "google", kAdviceGoogleAppPassword, nullptr},
    {534, 534, "5.7.9", "application-specific password", kAdviceGoogleAppPassword, nullptr},
    {534, 534, "5.7.14", "google", kAdviceGoogleAppPassword, nullptr},
    {530, 530, nullptr, "STARTTLS", kAdviceStartTls, nullptr},
    {530, 530, nullptr, nullptr, kAdviceLoginRequired, nullptr},
    // Microsoft 365 refuses a From the mailbox may not send as with 554 5.2.252, or with
    // 5.2.0 and SendAsDenied, or at MAIL FROM with 550 5.7.60.
    {554, 554, "5.2.252", nullptr, kAdviceSendAs, nullptr},
    {550, 554, nullptr, "SendAsDenied", kAdviceSendAs, nullptr},
    {550, 550, "5.7.60", nullptr, kAdviceSendAs, nullptr},
    {552, 552, "5.2.2", nullptr, kAdviceMailboxFull, nullptr},
    {500, 599, "5.3.4", nullptr, kAdviceTooLarge, nullptr},
    {500, 599, "5.2.3", nullptr, kAdviceTooLarge, nullptr},
    {552, 552, nullptr, nullptr, kAdviceTooLarge, nullptr},
    {400, 499, nullptr, nullptr, kAdviceTemporary, nullptr},
};

const size_t kEnhancedSize = 12;  // "5.123.123" and its terminator

// One line of the reply: its code (-1 when it does not start with one), its enhanced status
// code ("" when none), and its text.
struct ReplyLine {
    int code;
    char enhanced[kEnhancedSize];
    const char *text;
    size_t length;
};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A run of 1 to 3 digits at *p, copied to dest; false when there is none.
bool TakeDigits(const char **p, const char *end, char *dest, size_t *out)
{
    size_t n = 0;
    while (*p < end && n < 4 && IsDigit(**p)) {
        dest[(*out)++] = *(*p)++;
        n++;
    }
    return n >= 1 && n <= 3;
}

// "class.subject.detail" at the start of text (class 2, 4 or 5; RFC 3463), ended by a blank,
// ';' or the end of the line. Older Exchange servers put '#' before it.
void ReadEnhanced(const char *text, const char *end, char enhanced[kEnhancedSize])
{
    enhanced[0] = '\0';
    const char *p = text;
    if (p < end && *p == '#')
        p++;
    if (p >= end || (*p != '2' && *p != '4' && *p != '5'))
        return;
    char code[kEnhancedSize];
    size_t n = 0;
    code[n++] = *p++;
    if (p >= end || *p != '.')
        return;
    code[n++] = *p++;
    if (!TakeDigits(&p, end, code, &n) || p >= end || *p != '.')
        return;
    code[n++] = *p++;
    if (!TakeDigits(&p, end, code, &n) || (p < end && *p != ' ' && *p != ';'))
        return;
    code[n] = '\0';
    memcpy(enhanced, code, n + 1);
}

// The line at *p; *p then points past its line end. False when the reply has ended.
bool NextLine(const char **p, ReplyLine *line)
{
    const char *start = *p;
    if (*start == '\0')
        return false;
    const char *end = start + strcspn(start, "\r\n");
    *p = end;
    if (**p == '\r')
        (*p)++;
    if (**p == '\n')
        (*p)++;
    line->code = -1;
    line->enhanced[0] = '\0';
    line->text = start;
    line->length = (size_t)(end - start);
    if (end - start < 3 || !IsDigit(start[0]) || !IsDigit(start[1]) || !IsDigit(start[2]) ||
        (end - start > 3 && start[3] != ' ' && start[3] != '-'))
        return true;
    line->code = (start[0] - '0') * 100 + (start[1] - '0') * 10 + (start[2] - '0');
    if (end - start > 4)
        ReadEnhanced(start + 4, end, line->enhanced);
    return true;
}

char LowerChar(char c)
{
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

bool LineHasWord(const ReplyLine *line, const char *word)
{
    size_t n = strlen(word);
    for (size_t i = 0; i + n <= line->length; i++) {
        size_t k = 0;
        while (k < n && LowerChar(line->text[i + k]) == LowerChar(word[k]))
            k++;
        if (k == n)
            return true;
    }
    return false;
}

bool RowMatches(const AdviceRow *row, const char *reply)
{
    bool codes = false, word = row->word == nullptr;
    const char *p = reply;
    ReplyLine line;
    while (NextLine(&p, &line)) {
        if (line.code >= row->codeLow && line.code <= row->codeHigh &&
            (row->enhanced == nullptr || strcmp(line.enhanced, row->enhanced) == 0))
            codes = true;
        if (!word && LineHasWord(&line, row->word))
            word = true;
    }
    return codes && word;
}

}  // namespace

const char *ReplyAdvice(const char *reply, bool xoauth2)
{
    if (reply == nullptr)
        return nullptr;
    for (const AdviceRow &row : kRows) {
        if (RowMatches(&row, reply))
            return xoauth2 && row.adviceXoauth2 ? row.adviceXoauth2 : row.advice;
    }
    return nullptr;
}
