// The mail API request: the composed message as the API takes it (base64 for Graph, as it is
// for Gmail), produced a piece at a time as the platform writes it, and the answer read into
// a verdict by one table of statuses.
#include "api_request.h"

#include <cstdio>
#include <cstring>

#include "../../base/encoding.h"
#include "../../base/json_reader.h"
#include "../../base/text.h"
#include "api_texts.h"

static const char kContentTypeGraph[] = "text/plain";
static const char kContentTypeGmail[] = "message/rfc822";
static const char kLineEnd[] = "\r\n";

static void AddAction(ApiActions *actions, ApiActionKind kind, ApiStatus status = kApiStatusSent,
                      const char *text = nullptr)
{
    if (actions->count >= kApiActionsMax) {
        actions->overflow = true;  // the window makes this a failure of the message
        return;
    }
    actions->items[actions->count++] = {kind, status, text};
}

static void AddStatus(ApiActions *actions, ApiStatus status)
{
    AddAction(actions, kApiActionStatus, status);
}

static void LogNote(ApiActions *actions, const char *text)
{
    CopyText(actions->note, sizeof actions->note, text);
    AddAction(actions, kApiActionLogNote, kApiStatusSent, actions->note);
}

void ApiUrlHost(const char *url, char *dest, size_t destSize)
{
    const char *host = strstr(url, "://");
    host = host ? host + 3 : url;
    CopyTextN(dest, destSize, host, strcspn(host, "/:?"));
}

static void StartCommon(ApiRequest *r, const MailSettings *settings)
{
    r->way = settings->way;
    r->check = false;
    r->tokenRenewed = false;
    r->url = settings->apiUrl;
    ApiUrlHost(r->url, r->host, sizeof r->host);
    r->headers[0] = '\0';
    r->segmentCount = 0;
    r->messageLength = r->bodyLength = r->bytesSent = 0;
    r->sending = r->answerAwaited = false;
    memset(&r->verdict, 0, sizeof r->verdict);
    r->verdict.retryAfter = -1;
    r->segmentIndex = 0;
    r->position = 0;
    r->pendingLineFeed = false;
    r->produced = 0;
}

static void AddSegment(ApiRequest *r, const char *data, size_t length)
{
    if (length > 0 && r->segmentCount < kApiSegmentsMax)
        r->segments[r->segmentCount++] = {data, length};
}

bool StartApiRequest(ApiRequest *r, const MailSettings *settings, const QueuedMessage *m,
                     bool tokenRenewed, ApiActions *actions)
{
    StartCommon(r, settings);
    r->tokenRenewed = tokenRenewed;
    // The head, then the rest of the file from its empty line on, as after DATA to a server
    // that offers 8BITMIME; the scan has counted the rest with CR LF line ends.
    size_t restStart = m->header.end;
    bool highHead = false;
    AddSegment(r, m->head, m->headLength);
    AddSegment(r, m->text + restStart, m->textLength - restStart);
    r->messageLength = NormalizedLength(m->head, m->headLength, &highHead) + m->restSize;
    // A message whose last line has no line end gets one, as the end of data gives it.
    const ApiBodySegment *last = r->segmentCount ? &r->segments[r->segmentCount - 1] : nullptr;
    if (last && last->data[last->length - 1] != '\n' && last->data[last->length - 1] != '\r') {
        AddSegment(r, kLineEnd, 2);
        r->messageLength += 2;
    }
    bool graph = r->way == kWayGraph;
    r->bodyLength = graph ? (r->messageLength + 2) / 3 * 4 : r->messageLength;
    r->verdict.size = r->bodyLength;
    if (graph && r->bodyLength > kGraphRequestMax) {
        r->verdict.kind = kApiVerdictTooLarge;
        r->verdict.limit = kGraphRequestMax;
        char note[kApiLogTextSize];
        FormatText(note, sizeof note, kApiLogNotPosted, r->bodyLength, kGraphRequestMax);
        LogNote(actions, note);
        AddAction(actions, kApiActionVerdict);
        return false;
    }
    FormatText(r->headers, sizeof r->headers, "Authorization: Bearer %s\r\nContent-Type: %s\r\n",
               settings->accessToken, graph ? kContentTypeGraph : kContentTypeGmail);
    r->verdict.posted = true;
    if (graph)
        FormatText(actions->sent, sizeof actions->sent, kApiLogPostBase64, "POST", r->url,
                   r->messageLength, r->bodyLength);
    else
        FormatText(actions->sent, sizeof actions->sent, kApiLogPost, "POST", r->url,
                   r->messageLength);
    AddAction(actions, kApiActionLogSent, kApiStatusSent, actions->sent);
    AddStatus(actions, kApiStatusConnecting);
    return true;
}

void StartApiCheck(ApiRequest *r, const MailSettings *settings, ApiActions *actions)
{
    StartCommon(r, settings);
    r->check = true;
    // The root of the endpoint's origin: "https://host[:port]/".
    const char *authority = strstr(settings->apiUrl, "://");
    authority = authority ? authority + 3 : settings->apiUrl;
    size_t originLength = (size_t)(authority - settings->apiUrl) + strcspn(authority, "/?");
    CopyTextN(r->checkUrl, sizeof r->checkUrl, settings->apiUrl, originLength);
    AppendText(r->checkUrl, sizeof r->checkUrl, "/");
    r->url = r->checkUrl;
    r->verdict.posted = true;
    FormatText(actions->sent, sizeof actions->sent, kApiLogCheck, "GET", r->url);
    AddAction(actions, kApiActionLogSent, kApiStatusSent, actions->sent);
    AddStatus(actions, kApiStatusConnecting);
}

void DescribeApiPost(ApiRequest *r, PlatHttpsRequest *post)
{
    post->method = r->check ? "GET" : "POST";
    post->url = r->url;
    post->headers = r->headers;
    post->bodyLength = r->bodyLength;
    post->produce = r->bodyLength > 0 ? ProduceApiBody : nullptr;
    post->producerContext = r;
}

// The segments' bytes with every line end (CR LF, a bare CR, a bare LF) as CR LF into out,
// until out is full or the segments end; each segment on its own, as the scan counted them.
static size_t FillNormalized(ApiRequest *r, unsigned char *out, size_t room)
{
    size_t n = 0;
    while (n < room) {
        if (r->pendingLineFeed) {
            out[n++] = '\n';
            r->pendingLineFeed = false;
            continue;
        }
        if (r->segmentIndex >= r->segmentCount)
            break;
        const ApiBodySegment *s = &r->segments[r->segmentIndex];
        if (r->position >= s->length) {
            r->segmentIndex++;
            r->position = 0;
            continue;
        }
        const char *p = s->data + r->position;
        size_t left = s->length - r->position;
        if (*p == '\r' || *p == '\n') {
            out[n++] = '\r';
            r->pendingLineFeed = true;
            r->position += (*p == '\r' && left > 1 && p[1] == '\n') ? 2 : 1;
            continue;
        }
        // The run up to the next line end, as far as out has room.
        size_t most = left < room - n ? left : room - n;
        size_t j = 1;
        while (j < most && p[j] != '\r' && p[j] != '\n')
            j++;
        memcpy(out + n, p, j);
        n += j;
        r->position += j;
    }
    return n;
}

size_t ProduceApiBody(void *context, char *dest, size_t destSize)
{
    ApiRequest *r = (ApiRequest *)context;
    if (r->produced >= r->bodyLength || destSize < 5)
        return 0;
    size_t n;
    if (r->way == kWayGraph) {
        // Whole groups of three, so that only the message's end is padded; the encoder's
        // terminator needs its byte.
        size_t want = (destSize - 1) / 4 * 3;
        if (want > sizeof r->stage)
            want = sizeof r->stage;
        size_t got = FillNormalized(r, r->stage, want);
        n = got > 0 ? Base64Encode(r->stage, got, false, dest, destSize) : 0;
    } else {
        n = FillNormalized(r, (unsigned char *)dest, destSize);
    }
    r->produced += n;
    return n;
}

void TakeApiProgress(ApiRequest *r, unsigned long long sent, ApiActions *actions)
{
    if (r->answerAwaited)
        return;
    if (!r->sending)
        AddStatus(actions, kApiStatusSending);
    r->sending = true;
    if (sent > r->bytesSent)
        r->bytesSent = sent;
    AddAction(actions, kApiActionRestartSilence);
    if (r->bytesSent >= r->bodyLength) {
        r->answerAwaited = true;
        AddAction(actions, kApiActionAwaitAnswer);
        AddStatus(actions, kApiStatusAwaiting);
    }
}

// ---- the answer ---------------------------------------------------------------------------

// What an answer's body says: Graph {"error":{"code","message"}}, Gmail {"error":{"code",
// "message","status","errors":[{"reason"}]}} or {"id":...}, and the OAuth form a gateway
// may give a refused token ({"error":"invalid_token","error_description":...}).
struct AnswerFields {
    char id[128];
    char code[128];
    char statusName[64];
    char reason[64];
    char message[512];
};

typedef bool (*MemberReader)(JsonCursor *c, const char *name, int depth, AnswerFields *out);

// The members of the object at c, each value handed to read (which takes it or skips it).
static bool ReadMembers(JsonCursor *c, int depth, MemberReader read, AnswerFields *out)
{
    if (depth >= kJsonDepthMax || !JsonTake(c, '{'))
        return false;
    JsonSkipSpace(c);
    if (JsonTake(c, '}'))
        return true;
    for (;;) {
        char name[64];
        JsonSink sink = {name, sizeof name, 0, false};
        if (!JsonReadString(c, &sink))
            return false;
        JsonSkipSpace(c);
        if (!JsonTake(c, ':'))
            return false;
        JsonSkipSpace(c);
        if (!read(c, sink.overflow ? "" : name, depth + 1, out))
            return false;
        JsonSkipSpace(c);
        if (JsonTake(c, '}'))
            return true;
        if (!JsonTake(c, ','))
            return false;
        JsonSkipSpace(c);
    }
}

// A string into dest (cut when long), a whole number as its digits; anything else skipped.
static bool ReadText(JsonCursor *c, int depth, char *dest, size_t destSize)
{
    if (c->p < c->end && *c->p == '"') {
        JsonSink sink = {dest, destSize, 0, false};
        return JsonReadString(c, &sink);
    }
    if (c->p < c->end && ((*c->p >= '0' && *c->p <= '9') || *c->p == '-')) {
        long long whole;
        if (!JsonReadNumber(c, &whole))
            return false;
        if (whole >= 0)
            FormatText(dest, destSize, "%lld", whole);
        return true;
    }
    return JsonSkipValue(c, depth);
}

static bool ReadReasonMember(JsonCursor *c, const char *name, int depth, AnswerFields *out)
{
    if (strcmp(name, "reason") == 0 && out->reason[0] == '\0')
        return ReadText(c, depth, out->reason, sizeof out->reason);
    return JsonSkipValue(c, depth);
}

static bool ReadErrorMember(JsonCursor *c, const char *name, int depth, AnswerFields *out)
{
    if (strcmp(name, "code") == 0)
        return ReadText(c, depth, out->code, sizeof out->code);
    if (strcmp(name, "message") == 0)
        return ReadText(c, depth, out->message, sizeof out->message);
    if (strcmp(name, "status") == 0)
        return ReadText(c, depth, out->statusName, sizeof out->statusName);
    if (strcmp(name, "errors") == 0 && c->p < c->end && *c->p == '[') {
        // The first error's reason; the others are checked and skipped.
        c->p++;
        JsonSkipSpace(c);
        if (JsonTake(c, ']'))
            return true;
        for (bool first = true;; first = false) {
            bool read = first && c->p < c->end && *c->p == '{'
                            ? ReadMembers(c, depth + 1, ReadReasonMember, out)
                            : JsonSkipValue(c, depth + 1);
            JsonSkipSpace(c);
            if (!read)
                return false;
            if (JsonTake(c, ']'))
                return true;
            if (!JsonTake(c, ','))
                return false;
            JsonSkipSpace(c);
        }
    }
    return JsonSkipValue(c, depth);
}

static bool ReadTopMember(JsonCursor *c, const char *name, int depth, AnswerFields *out)
{
    if (strcmp(name, "id") == 0)
        return ReadText(c, depth, out->id, sizeof out->id);
    if (strcmp(name, "error") == 0 && c->p < c->end && *c->p == '{')
        return ReadMembers(c, depth, ReadErrorMember, out);
    if (strcmp(name, "error") == 0)
        return ReadText(c, depth, out->code, sizeof out->code);
    if (strcmp(name, "error_description") == 0)
        return ReadText(c, depth, out->message, sizeof out->message);
    return JsonSkipValue(c, depth);
}

// The fields, or none at all when the body is not one JSON object (a proxy's page, say).
static void ReadAnswerFields(const char *body, size_t length, AnswerFields *out)
{
    memset(out, 0, sizeof *out);
    JsonCursor c = {(const unsigned char *)body, (const unsigned char *)body + length};
    JsonSkipSpace(&c);
    bool read = ReadMembers(&c, 0, ReadTopMember, out);
    JsonSkipSpace(&c);
    if (!read || c.p != c.end)
        memset(out, 0, sizeof *out);
}

static bool IsOneOf(const char *text, const char *const *names, size_t count)
{
    for (size_t i = 0; i < count; i++)
        if (strcmp(text, names[i]) == 0)
            return true;
    return false;
}

// The verdict of an answer with its status: one table for both APIs.
static ApiVerdictKind ClassifyAnswer(const ApiRequest *r, int status, const AnswerFields *f,
                                     ApiAdvice *advice)
{
    // Gmail says its usage limits with 403 as well as 429.
    static const char *const kGmailRateReasons[] = {"rateLimitExceeded", "userRateLimitExceeded",
                                                    "dailyLimitExceeded"};
    bool gmail = r->way == kWayGmail;
    *advice = kApiAdviceNone;
    if (r->check)
        return kApiVerdictReached;
    if ((!gmail && status == 202) || (gmail && status == 200 && f->id[0] != '\0'))
        return kApiVerdictAccepted;
    if (status >= 200 && status <= 299)
        return kApiVerdictUnconfirmed;
    if (status == 401)
        return r->tokenRenewed ? kApiVerdictSignInAgain : kApiVerdictRenewToken;
    if (status == 429 || status == 503 ||
        (gmail && status == 403 && IsOneOf(f->reason, kGmailRateReasons, 3)))
        return kApiVerdictThrottled;
    if (status == 413 || strcmp(f->code, "ErrorMessageSizeExceeded") == 0)
        return kApiVerdictTooLarge;
    if (status == 403) {
        if (!gmail && strcmp(f->code, "ErrorAccessDenied") == 0)
            *advice = kApiAdviceMailSendConsent;
        else if (!gmail && strcmp(f->code, "ErrorSendAsDenied") == 0)
            *advice = kApiAdviceSendAs;
        else if (gmail && (strcmp(f->reason, "insufficientPermissions") == 0 ||
                           strcmp(f->reason, "ACCESS_TOKEN_SCOPE_INSUFFICIENT") == 0))
            *advice = kApiAdviceGmailScope;
        return kApiVerdictForbidden;
    }
    return kApiVerdictRefused;
}

// An answer that did not come: why, from how far the request had got.
static ApiVerdictKind ClassifyNoAnswer(const PlatHttpsAnswer *answer)
{
    if (answer->error == PLAT_HTTP_CANCELLED)
        return kApiVerdictCancelled;
    if (!answer->connected)
        return kApiVerdictFailed;
    if (answer->error == PLAT_HTTP_TIMEOUT)
        return kApiVerdictTimedOut;
    return kApiVerdictClosed;
}

static void LogAnswer(const PlatHttpsAnswer *answer, const AnswerFields *f,
                      ApiActions *actions)
{
    const char *code = f->code[0] ? f->code : f->statusName;
    if (code[0] || f->message[0])
        FormatText(actions->received, sizeof actions->received, kApiLogAnswerError,
                   answer->status, code, f->message);
    else
        FormatText(actions->received, sizeof actions->received, kApiLogAnswer, answer->status);
    if (answer->retryAfter[0]) {
        char retry[kPlatRetryAfterSize + 32];
        FormatText(retry, sizeof retry, kApiLogRetryAfter, answer->retryAfter);
        AppendText(actions->received, sizeof actions->received, retry);
    }
    AddAction(actions, kApiActionLogReceived, kApiStatusSent, actions->received);
    if (answer->bodyCut) {
        char note[kApiLogTextSize];
        FormatText(note, sizeof note, kApiLogBodyCut, (unsigned long long)answer->bodyLength);
        LogNote(actions, note);
    }
}

void TakeApiAnswer(ApiRequest *r, const PlatHttpsAnswer *answer, long long now,
                   ApiActions *actions)
{
    ApiVerdict *v = &r->verdict;
    bool endedByWindow = v->kind == kApiVerdictTimedOut || v->kind == kApiVerdictCancelled;
    if (v->kind != kApiVerdictNone && !endedByWindow)
        return;  // final
    if (answer->bytesSent > r->bytesSent)
        r->bytesSent = answer->bytesSent;
    bool allSent = r->bytesSent >= r->bodyLength;
    if (answer->status == 0) {
        char note[kApiLogTextSize];
        FormatText(note, sizeof note, kApiLogNoAnswer, answer->error, r->bytesSent,
                   r->bodyLength);
        LogNote(actions, note);
        if (!endedByWindow) {
            v->kind = ClassifyNoAnswer(answer);
            v->systemError = answer->error;
            v->mayHaveGone = answer->connected && allSent;
        }
        AddAction(actions, kApiActionVerdict);
        return;
    }
    AnswerFields f;
    ReadAnswerFields(answer->bodyCut ? "" : answer->body, answer->bodyCut ? 0 : answer->bodyLength,
                     &f);
    LogAnswer(answer, &f, actions);
    ApiAdvice advice;
    ApiVerdictKind kind = ClassifyAnswer(r, answer->status, &f, &advice);
    // The window's own end stands, unless the provider took the message meanwhile.
    if (endedByWindow && kind != kApiVerdictAccepted) {
        AddAction(actions, kApiActionVerdict);
        return;
    }
    // Its own text: the note's room may hold the cut body's line already.
    if (endedByWindow)
        AddAction(actions, kApiActionLogNote, kApiStatusSent, kApiLogAcceptedLate);
    v->kind = kind;
    v->status = answer->status;
    v->systemError = 0;
    v->mayHaveGone = false;
    v->advice = advice;
    CopyText(v->code, sizeof v->code, f.code);
    CopyText(v->statusName, sizeof v->statusName, f.statusName);
    CopyText(v->reason, sizeof v->reason, f.reason);
    CopyText(v->message, sizeof v->message, f.message);
    if (kind == kApiVerdictThrottled)
        v->retryAfter = ParseRetryAfter(answer->retryAfter, now);
    if (kind == kApiVerdictTooLarge)
        v->limit = 0;
    AddAction(actions, kApiActionVerdict);
    if (kind == kApiVerdictAccepted)
        AddStatus(actions, kApiStatusSent);
}

void SetApiVerdict(ApiRequest *r, ApiVerdictKind kind)
{
    if (r->verdict.kind != kApiVerdictNone)
        return;
    r->verdict.kind = kind;
    r->verdict.mayHaveGone = r->bodyLength > 0 && r->bytesSent >= r->bodyLength;
}

bool ApiMessageAccepted(const ApiRequest *r) { return r->verdict.kind == kApiVerdictAccepted; }

void EndApiRequest(ApiRequest *r) { WipeBytes(r->headers, sizeof r->headers); }

// ---- Retry-After ----------------------------------------------------------------------------

// Days from 1970-01-01 to the date (proleptic Gregorian).
static long long DaysFromCivil(long long year, int month, int day)
{
    year -= month <= 2;
    long long era = (year >= 0 ? year : year - 399) / 400;
    long long yearOfEra = year - era * 400;
    long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// An HTTP date in any of its three forms, as Unix seconds; -1 when it is none. The words
// are taken apart at blanks, commas and hyphens: the first number is the day, the second
// the year (two digits in the RFC 850 form), the one with colons the time, in any order the
// forms put them.
static long long ParseHttpDate(const char *text)
{
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    int month = 0, hour = -1, minute = 0, second = 0;
    long long numbers[2] = {-1, -1};
    int numberCount = 0;
    const char *p = text;
    while (*p) {
        while (*p == ' ' || *p == ',' || *p == '-')
            p++;
        size_t n = strcspn(p, " ,-");
        if (n == 0)
            break;
        char word[16];
        if (n >= sizeof word)
            return -1;
        memcpy(word, p, n);
        word[n] = '\0';
        p += n;
        if (word[0] >= '0' && word[0] <= '9') {
            if (strchr(word, ':')) {
                if (sscanf(word, "%2d:%2d:%2d", &hour, &minute, &second) != 3)
                    return -1;
            } else {
                if (numberCount == 2 || n > 4)
                    return -1;
                numbers[numberCount++] = ParseDecimal(word);
            }
        } else if (n == 3 && strstr(kMonths, word) && (strstr(kMonths, word) - kMonths) % 3 == 0) {
            month = (int)((strstr(kMonths, word) - kMonths) / 3) + 1;
        }
        // Anything else is the day of the week or the zone, which is GMT in every form.
    }
    long long day = numbers[0], year = numbers[1];
    if (numberCount != 2 || month == 0 || hour < 0 || hour > 23 || minute > 59 || second > 60 ||
        day < 1 || day > 31)
        return -1;
    if (year < 100)
        year += year < 70 ? 2000 : 1900;
    return DaysFromCivil(year, month, (int)day) * 86400 + hour * 3600 + minute * 60 + second;
}

long long ParseRetryAfter(const char *value, long long now)
{
    const char *p = value;
    while (*p == ' ' || *p == '\t')
        p++;
    size_t digits = strspn(p, "0123456789");
    if (digits > 0 && p[digits + strspn(p + digits, " \t")] == '\0') {
        if (digits > 12)
            return -1;
        long long seconds = 0;
        for (size_t i = 0; i < digits; i++)
            seconds = seconds * 10 + (p[i] - '0');
        return seconds;
    }
    long long at = ParseHttpDate(p);
    if (at < 0)
        return -1;
    return at > now ? at - now : 0;
}
