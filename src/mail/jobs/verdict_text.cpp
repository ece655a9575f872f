// The wording of refusals and protocol errors, from the texts of the mail jobs.
#include "verdict_text.h"

#include <cstring>

#include "../../base/paths.h"
#include "../../base/text.h"
#include "mail_texts.h"
#include "reply_advice.h"

// The text for a refusal in a step before the transaction, or of the state it came in. A
// refused sign-in says to sign in again unless the advice knows better.
static const char *RefusalFormat(const SmtpVerdict *v, bool advised)
{
    switch (v->prelude) {
    case kPreludeEhlo:
        return kTextEhloError;
    case kPreludeStartTls:
        return kTextStartTlsError;
    case kPreludeAuthPlain:
    case kPreludeAuthLoginUser:
    case kPreludeAuthLoginPassword:
    case kPreludeAuthLoginDone:
        return kTextAuthError;
    case kPreludeAuthXoauth2:
    case kPreludeAuthXoauth2Error:
        return advised ? kTextAuthError : kTextXoauth2Error;
    default:
        break;
    }
    int state = v->state >= 1 && v->state <= 9 ? v->state : 8;
    return kStateErrorTexts[state - 1];
}

bool FormatVerdictText(const SmtpVerdict *v, const QueuedMessage *m, const MailSettings *s,
                       char *text, size_t textSize)
{
    if (v->kind == kVerdictRefused) {
        const char *advice = ReplyAdvice(v->lines, s->auth == kAuthXoauth2);
        FormatText(text, textSize, RefusalFormat(v, advice != nullptr), v->reply);
        if (v->recipient >= 0 && v->recipient < m->recipientCount) {
            char line[kFieldSize + 64];
            FormatText(line, sizeof line, kTextRefusedRecipient, m->recipients[v->recipient]);
            AppendText(text, textSize, line);
        }
        if (advice) {
            AppendText(text, textSize, "\n");
            AppendText(text, textSize, advice);
            AppendText(text, textSize, "\n");
        }
        return true;
    }
    if (v->kind == kVerdictProtocolError) {
        char folder[kPathSize + 8];
        MakeQueueFolderText(folder, sizeof folder);
        const char *state = v->state >= 1 && v->state <= 9 ? kStateNames[v->state - 1] : "?";
        FormatText(text, textSize, v->internal ? kTextInternalError : kTextProtocolError, state,
                   v->reply, folder);
        return true;
    }
    return false;
}

bool IsRefusedToken(const SmtpVerdict *v)
{
    return v->kind == kVerdictRefused &&
           (v->prelude == kPreludeAuthXoauth2 || v->prelude == kPreludeAuthXoauth2Error) &&
           strncmp(v->reply, "535", 3) == 0 && !ContainsText(v->reply, "5.7.139");
}
