// The outcome of a message: cleared for each window, its first failure kept, and what it
// means for the batch.
#include "mail_outcome.h"

#include <cstring>

void ClearMailOutcome(MailOutcome *o)
{
    memset(o, 0, sizeof *o);
    o->verdict.recipient = -1;
    o->api.retryAfter = -1;
}

void RecordMailFailure(MailOutcome *o, MailFailure failure, long number)
{
    if (o->failure != kFailureNone)
        return;
    o->failure = failure;
    o->number = number;
}

bool OutcomeCancelled(const MailOutcome *o)
{
    return o->failure == kFailureCancelled &&
           (o->verdict.kind == kVerdictFailed || o->api.kind == kApiVerdictCancelled);
}

bool OutcomeStopsBatch(const MailOutcome *o)
{
    if (o->fate == kFateInvalidFile)
        return false;
    return o->fate != kFateDelivered || o->failure == kFailureCancelled;
}
