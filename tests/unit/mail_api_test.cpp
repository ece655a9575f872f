// The mail APIs against the recording fake: the settings that choose one, the request's body
// (base64 for Graph, as it is for Gmail) against a reference for several piece sizes, Graph's
// size limit, what the window is told as the body goes out, and one table from the answer to
// the verdict.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/encoding.h"
#include "base/text.h"
#include "fake/fake.h"
#include "fake/fake_oauth.h"
#include "mail/api/api_request.h"
#include "mail/message/message_file.h"
#include "mail/settings/mail_settings.h"
#include "oauth/oauth_texts.h"

namespace {

const char kPath[] = "C:\\Q\\a.txt";
const long long kNow = 1796601600;
const std::string kDated =
    "Date: Tue, 08 Dec 2026 14:05:09 +0100\r\nMessage-ID: <m1@acme.test>\r\n";

// What one request works on; large, so on the heap once.
struct ApiRig {
    MailSettings settings;
    QueuedMessage message;
    ApiRequest request;
    ApiActions actions;
};

ApiRig &Api()
{
    static ApiRig *rig = new ApiRig();
    return *rig;
}

void UseApi(MailWay way)
{
    MailSettings *s = &Api().settings;
    memset(s, 0, sizeof *s);
    s->way = way;
    CopyText(s->apiUrl, sizeof s->apiUrl, way == kWayGraph ? kGraphSendUrl : kGmailSendUrl);
    CopyText(s->accessToken, sizeof s->accessToken, "tok.EN-1");
}

// Queues the file and reads it as the batch does for an API (Bcc kept).
void LoadMessage(const std::string &file)
{
    ReleaseMessageText(&Api().message);
    FakeReset();
    gFake.files[kPath] = file;
    ASSERT_EQ(ParseMessageFile(&Api().message, kPath, true), 1);
}

bool Start(bool tokenRenewed = false)
{
    Api().actions = ApiActions();
    return StartApiRequest(&Api().request, &Api().settings, &Api().message, tokenRenewed,
                           &Api().actions);
}

// The actions as letters: S status (its number), R restart silence, A await the answer,
// V verdict, > < * the log lines.
std::string Actions()
{
    std::string out;
    const ApiActions &a = Api().actions;
    for (int i = 0; i < a.count; i++) {
        switch (a.items[i].kind) {
        case kApiActionStatus:
            out += "S" + std::to_string(a.items[i].status);
            break;
        case kApiActionRestartSilence:
            out += "R";
            break;
        case kApiActionAwaitAnswer:
            out += "A";
            break;
        case kApiActionVerdict:
            out += "V";
            break;
        case kApiActionLogSent:
            out += ">";
            break;
        case kApiActionLogReceived:
            out += "<";
            break;
        case kApiActionLogNote:
            out += "*";
            break;
        }
    }
    Api().actions = ApiActions();
    return out;
}

// Every line end as CR LF: the reference for what is posted.
std::string CrLf(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\r' || text[i] == '\n') {
            out += "\r\n";
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                i++;
        } else {
            out += text[i];
        }
    }
    return out;
}

TEST(ApiSettings, MailApiNeedsNoSmtpKeysAndRefusesWhatItCannotUse)
{
    struct Row {
        const char *name;
        std::vector<std::pair<std::string, std::string>> keys;
        SettingsResult result;
        MailWay way;
        std::string url, box;
    } rows[] = {
        {"graph without any SMTP key", {{"MailAPI", "graph"}}, kSettingsReady, kWayGraph,
         "https://graph.microsoft.com/v1.0/me/sendMail", ""},
        {"gmail in any case, the SMTP keys not read",
         {{"MailAPI", "GMail"}, {"OAuthProvider", "google"}, {"SMTPSecurity", "ssl"},
          {"SMTPAuth", "ntlm"}},
         kSettingsReady, kWayGmail,
         "https://gmail.googleapis.com/upload/gmail/v1/users/me/messages/send?uploadType=media",
         ""},
        {"an endpoint of its own", {{"MailAPI", "graph"}, {"MailAPIURL", "https://localhost:8443/s"}},
         kSettingsReady, kWayGraph, "https://localhost:8443/s", ""},
        {"unknown API", {{"MailAPI", "ews"}}, kSettingsUnknownApi, kWaySmtp, "",
         "MailAPI \"ews\" is not understood.\n\nPlease set MailAPI in Email Setup to graph or "
         "gmail, or remove it to send through the SMTP server."},
        {"endpoint not https", {{"MailAPI", "graph"}, {"MailAPIURL", "http://localhost/s"}},
         kSettingsBadApiUrl, kWayGraph, "",
         "MailAPIURL \"http://localhost/s\" is not an https:// address.\n\nPlease correct "
         "MailAPIURL in Email Setup, or remove it to post to the API's own address."},
        {"no account", {{"MailAPI", "gmail"}, {"OAuthProvider", "google"}, {"SMTPUser", ""}},
         kSettingsApiWithoutUser, kWayGmail, "",
         "MailAPI is gmail but SMTPUser is not set.\n\nPlease set SMTPUser in Email Setup to "
         "the mailbox you sign in with."},
        {"no provider", {{"MailAPI", "graph"}, {"OAuthProvider", ""}}, kSettingsSignInProvider,
         kWayGraph, "", kTextNoProvider},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        FakeReset();
        FakeSetSetting("Email Setup", "OAuthProvider", "microsoft");
        FakeSetSetting("Email Setup", "OAuthClientId", "client-1");
        FakeSetSetting("Email Setup", "SMTPUser", "alice@example.com");
        for (const auto &key : row.keys)
            FakeSetSetting("Email Setup", key.first, key.second);
        MailSettings *s = &Api().settings;
        SettingsResult result = ReadSmtpSettings(s);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(s->way, row.way);
        char text[1000];
        MakeSettingsFailureText(result, s, text, sizeof text);
        EXPECT_EQ(std::string(text), row.box);
        if (result == kSettingsReady) {
            EXPECT_EQ(std::string(s->apiUrl), row.url);
            EXPECT_EQ(s->auth, kAuthXoauth2);
            EXPECT_EQ(s->oauth.way, row.way);
        }
    }
}

TEST(ApiBody, TheComposedMessageAsItIsOrInBase64WhateverThePieces)
{
    // Bare line ends, a dot at a line's start, 8-bit text, a Bcc, no last line end.
    LoadMessage("Subject: x\r\nTo: <b@x.y>\r\nFrom: <a@b.c>\r\nBcc: <c@d.e>\r\n" + kDated +
                "\r\nline 1\nl\xE9ne 2\r.dot\r\n\r\nlast");
    const QueuedMessage &m = Api().message;
    std::string composed = std::string(m.head, m.headLength) +
                           std::string(m.text + m.header.end, m.textLength - m.header.end);
    std::string message = CrLf(composed) + "\r\n";
    EXPECT_NE(message.find("Bcc: <c@d.e>\r\n"), std::string::npos);
    EXPECT_NE(message.find("Content-Transfer-Encoding: 8bit\r\n"), std::string::npos);
    EXPECT_NE(message.find("\r\n.dot\r\n"), std::string::npos);
    static char base64[1 << 16];
    Base64Encode((const unsigned char *)message.data(), message.size(), false, base64,
                 sizeof base64);

    for (MailWay way : {kWayGraph, kWayGmail}) {
        for (size_t piece : {5, 6, 7, 8, 61, 4097, 256 * 1024}) {
            SCOPED_TRACE(std::to_string(way) + " in pieces of " + std::to_string(piece));
            UseApi(way);
            ASSERT_TRUE(Start());
            PlatHttpsRequest post = {};
            DescribeApiPost(&Api().request, &post);
            static char room[256];
            PlatHttpsAnswer answer = {};
            answer.body = room;
            answer.bodySize = sizeof room;
            gFakeOAuth.pieceSize = piece;
            gFakeOAuth.requests.clear();
            PlatStartHttpsRequest(&post, &answer);
            const FakeHttpsRecord &sent = gFakeOAuth.requests.back();
            EXPECT_EQ(sent.method, "POST");
            EXPECT_EQ(sent.url, Api().settings.apiUrl);
            const std::string expected = way == kWayGraph ? std::string(base64) : message;
            EXPECT_EQ(sent.body, expected);
            EXPECT_EQ(post.bodyLength, expected.size());
            EXPECT_EQ(sent.headers,
                      std::string("Authorization: Bearer tok.EN-1\r\nContent-Type: ") +
                          (way == kWayGraph ? "text/plain" : "message/rfc822") + "\r\n");
        }
    }
    // The log shows the request, never the token or the message.
    UseApi(kWayGraph);
    ASSERT_TRUE(Start());
    EXPECT_EQ(std::string(Api().actions.sent),
              "POST https://graph.microsoft.com/v1.0/me/sendMail (the message: " +
                  std::to_string(message.size()) + " bytes, posted as " +
                  std::to_string(strlen(base64)) + " bytes of base64)");
    EndApiRequest(&Api().request);
    EXPECT_EQ(std::string(Api().request.headers), "");
}

TEST(ApiBody, GraphTakesFourMegabytesOfBase64AndNotOneGroupMore)
{
    const std::string head = "Subject: x\r\nTo: <b@x.y>\r\nFrom: <a@b.c>\r\n" + kDated + "\r\n";
    const unsigned long long fits = kGraphRequestMax / 4 * 3;  // its base64 is the limit
    for (unsigned long long size : {fits, fits + 1}) {
        std::string file = head + std::string(size - head.size() - 2, 'x') + "\r\n";
        LoadMessage(file);
        UseApi(kWayGraph);
        bool posted = Start();
        EXPECT_EQ(posted, size == fits) << size;
        EXPECT_EQ(Api().request.verdict.posted, posted);
        EXPECT_EQ(Api().request.verdict.size, (size + 2) / 3 * 4);
        if (!posted) {
            EXPECT_EQ(Api().request.verdict.kind, kApiVerdictTooLarge);
            EXPECT_EQ(Api().request.verdict.limit, kGraphRequestMax);
            EXPECT_EQ(Actions(), "*V");
        }
        // Gmail takes it as it is.
        UseApi(kWayGmail);
        EXPECT_TRUE(Start());
    }
}

TEST(ApiProgress, TheWindowHearsOfEveryPieceThenWaitsForTheAnswer)
{
    LoadMessage("Subject: x\r\nTo: <b@x.y>\r\nFrom: <a@b.c>\r\n" + kDated + "\r\nHi\r\n");
    UseApi(kWayGmail);
    ASSERT_TRUE(Start());
    EXPECT_EQ(Actions(), ">S0");
    unsigned long long all = Api().request.bodyLength;
    TakeApiProgress(&Api().request, 0, &Api().actions);
    EXPECT_EQ(Actions(), "S1R");
    TakeApiProgress(&Api().request, all / 2, &Api().actions);
    EXPECT_EQ(Actions(), "R");
    TakeApiProgress(&Api().request, all, &Api().actions);
    EXPECT_EQ(Actions(), "RAS2");
    TakeApiProgress(&Api().request, all, &Api().actions);
    EXPECT_EQ(Actions(), "");
    static char body[] = "{\"id\":\"18c2f\",\"labelIds\":[\"SENT\"]}";
    PlatHttpsAnswer answer = {};
    answer.status = 200;
    answer.connected = true;
    answer.bytesSent = all;
    answer.body = body;
    answer.bodyLength = strlen(body);
    TakeApiAnswer(&Api().request, &answer, kNow, &Api().actions);
    EXPECT_EQ(std::string(Api().actions.received), "HTTP 200");
    EXPECT_EQ(Actions(), "<VS3");
    EXPECT_TRUE(ApiMessageAccepted(&Api().request));
    // Final: a late report changes nothing.
    answer.status = 500;
    TakeApiAnswer(&Api().request, &answer, kNow, &Api().actions);
    EXPECT_EQ(Actions(), "");
    EXPECT_TRUE(ApiMessageAccepted(&Api().request));

    // A check gets the host's root, without a token or a body.
    UseApi(kWayGraph);
    Api().actions = ApiActions();
    StartApiCheck(&Api().request, &Api().settings, &Api().actions);
    PlatHttpsRequest post = {};
    DescribeApiPost(&Api().request, &post);
    EXPECT_EQ(std::string(post.method) + " " + post.url + " [" + post.headers + "]",
              "GET https://graph.microsoft.com/ []");
    EXPECT_EQ(post.bodyLength, 0u);
}

TEST(ApiVerdicts, EachAnswerGivesOneVerdict)
{
    const std::string graphError =
        "{\"error\":{\"code\":\"%c\",\"message\":\"%m\",\"innerError\":{\"date\":\"2026-12-08T"
        "13:05:09\",\"request-id\":\"7c1e\",\"client-request-id\":\"7c1e\"}}}";
    auto graph = [&](const std::string &code, const std::string &message) {
        std::string body = graphError;
        body.replace(body.find("%c"), 2, code);
        return body.replace(body.find("%m"), 2, message);
    };
    auto gmail = [](int code, const std::string &status, const std::string &reason) {
        return "{\"error\":{\"code\":" + std::to_string(code) +
               ",\"message\":\"Request had insufficient authentication scopes.\",\"errors\":[{"
               "\"message\":\"Insufficient Permission\",\"domain\":\"global\",\"reason\":\"" +
               reason + "\"},{\"reason\":\"second\"}],\"status\":\"" + status + "\"}}";
    };
    enum Sent { kNothing, kHalf, kAll };
    struct Row {
        const char *name;
        MailWay way;
        bool renewed;          // the post after a renewal
        ApiVerdictKind preset;  // the window's own end before the answer
        int status;            // 0: no answer
        unsigned long error;
        Sent sent;
        std::string retryAfter, body;
        ApiVerdictKind kind;
        std::string code, message;
        ApiAdvice advice;
        long long retry;
        bool mayHaveGone;
    } rows[] = {
        {"graph accepts", kWayGraph, false, kApiVerdictNone, 202, 0, kAll, "", "",
         kApiVerdictAccepted, "", "", kApiAdviceNone, -1, false},
        {"gmail accepts with an id", kWayGmail, false, kApiVerdictNone, 200, 0, kAll, "",
         "{\"id\":\"18c2f\",\"threadId\":\"18c2f\",\"labelIds\":[\"SENT\"]}",
         kApiVerdictAccepted, "", "", kApiAdviceNone, -1, false},
        {"gmail 200 without an id", kWayGmail, false, kApiVerdictNone, 200, 0, kAll, "", "{}",
         kApiVerdictUnconfirmed, "", "", kApiAdviceNone, -1, false},
        {"graph 200 is not its answer", kWayGraph, false, kApiVerdictNone, 200, 0, kAll, "", "",
         kApiVerdictUnconfirmed, "", "", kApiAdviceNone, -1, false},
        {"401: renew once", kWayGraph, false, kApiVerdictNone, 401, 0, kAll, "",
         graph("InvalidAuthenticationToken", "Access token has expired or is not yet valid."),
         kApiVerdictRenewToken, "InvalidAuthenticationToken",
         "Access token has expired or is not yet valid.", kApiAdviceNone, -1, false},
        {"401 after the renewal: sign in again", kWayGmail, true, kApiVerdictNone, 401, 0, kAll,
         "", gmail(401, "UNAUTHENTICATED", "authError"), kApiVerdictSignInAgain, "401",
         "Request had insufficient authentication scopes.", kApiAdviceNone, -1, false},
        {"401 from a gateway in the OAuth form", kWayGraph, true, kApiVerdictNone, 401, 0, kAll,
         "", "{\"error\":\"invalid_token\",\"error_description\":\"expired\"}",
         kApiVerdictSignInAgain, "invalid_token", "expired", kApiAdviceNone, -1, false},
        {"Mail.Send not granted", kWayGraph, false, kApiVerdictNone, 403, 0, kAll, "",
         graph("ErrorAccessDenied", "Access is denied. Check credentials and try again."),
         kApiVerdictForbidden, "ErrorAccessDenied",
         "Access is denied. Check credentials and try again.", kApiAdviceMailSendConsent, -1,
         false},
        {"send as another", kWayGraph, false, kApiVerdictNone, 403, 0, kAll, "",
         graph("ErrorSendAsDenied", "The user account which was used to submit this request "
                                    "does not have the right to send mail on behalf of the "
                                    "specified sending account."),
         kApiVerdictForbidden, "ErrorSendAsDenied", "", kApiAdviceSendAs, -1, false},
        {"gmail.send missing", kWayGmail, false, kApiVerdictNone, 403, 0, kAll, "",
         gmail(403, "PERMISSION_DENIED", "insufficientPermissions"), kApiVerdictForbidden, "403",
         "Request had insufficient authentication scopes.", kApiAdviceGmailScope, -1, false},
        {"gmail's rate limit comes as 403", kWayGmail, false, kApiVerdictNone, 403, 0, kAll, "",
         gmail(403, "PERMISSION_DENIED", "userRateLimitExceeded"), kApiVerdictThrottled, "403",
         "", kApiAdviceNone, -1, false},
        {"429 in seconds", kWayGraph, false, kApiVerdictNone, 429, 0, kAll, "30",
         graph("ApplicationThrottled", "Application is over its MailboxConcurrency limit."),
         kApiVerdictThrottled, "ApplicationThrottled", "", kApiAdviceNone, 30, false},
        {"503 with a date", kWayGraph, false, kApiVerdictNone, 503, 0, kAll,
         "Tue, 01 Dec 2026 00:02:00 GMT", "<html>Service Unavailable</html>",
         kApiVerdictThrottled, "", "", kApiAdviceNone, 120, false},
        {"413", kWayGmail, false, kApiVerdictNone, 413, 0, kAll, "", "", kApiVerdictTooLarge, "",
         "", kApiAdviceNone, -1, false},
        {"400 names the fault", kWayGraph, false, kApiVerdictNone, 400, 0, kAll, "",
         graph("ErrorMimeContentInvalidBase64String", "Invalid base64 string for MIME content."),
         kApiVerdictRefused, "ErrorMimeContentInvalidBase64String",
         "Invalid base64 string for MIME content.", kApiAdviceNone, -1, false},
        {"a proxy's page", kWayGmail, false, kApiVerdictNone, 502, 0, kAll, "",
         "<html><body>Bad Gateway</body></html>", kApiVerdictRefused, "", "", kApiAdviceNone, -1,
         false},
        {"not reached", kWayGraph, false, kApiVerdictNone, 0, 12029, kNothing, "", "",
         kApiVerdictFailed, "", "", kApiAdviceNone, -1, false},
        {"certificate refused", kWayGraph, false, kApiVerdictNone, 0, 12175, kNothing, "", "",
         kApiVerdictFailed, "", "", kApiAdviceNone, -1, false},
        {"reset after the body", kWayGraph, false, kApiVerdictNone, 0, 12030, kAll, "", "",
         kApiVerdictClosed, "", "", kApiAdviceNone, -1, true},
        {"reset halfway", kWayGmail, false, kApiVerdictNone, 0, 12030, kHalf, "", "",
         kApiVerdictClosed, "", "", kApiAdviceNone, -1, false},
        {"no answer in 10 minutes", kWayGraph, false, kApiVerdictNone, 0, 12002, kAll, "", "",
         kApiVerdictTimedOut, "", "", kApiAdviceNone, -1, true},
        {"accepted although cancelled", kWayGraph, false, kApiVerdictCancelled, 202, 0, kAll, "",
         "", kApiVerdictAccepted, "", "", kApiAdviceNone, -1, false},
        {"refused after the window's time-out", kWayGraph, false, kApiVerdictTimedOut, 500, 0,
         kHalf, "", "", kApiVerdictTimedOut, "", "", kApiAdviceNone, -1, false},
        {"cancelled with the body out", kWayGmail, false, kApiVerdictCancelled, 0, 12017, kAll,
         "", "", kApiVerdictCancelled, "", "", kApiAdviceNone, -1, true},
        {"cancelled by the platform alone", kWayGmail, false, kApiVerdictNone, 0, 12017, kHalf,
         "", "", kApiVerdictCancelled, "", "", kApiAdviceNone, -1, false},
    };
    LoadMessage("Subject: x\r\nTo: <b@x.y>\r\nFrom: <a@b.c>\r\n" + kDated + "\r\nHi\r\n");
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        UseApi(row.way);
        ASSERT_TRUE(Start(row.renewed));
        ApiRequest *r = &Api().request;
        unsigned long long sent = row.sent == kAll ? r->bodyLength
                                  : row.sent == kHalf ? r->bodyLength / 2 : 0;
        if (row.sent != kNothing)
            TakeApiProgress(r, sent, &Api().actions);
        if (row.preset != kApiVerdictNone)
            SetApiVerdict(r, row.preset);
        std::string body = row.body;
        PlatHttpsAnswer answer = {};
        answer.status = row.status;
        answer.error = row.error;
        answer.connected = row.sent != kNothing;
        answer.bytesSent = sent;
        CopyText(answer.retryAfter, sizeof answer.retryAfter, row.retryAfter.c_str());
        answer.body = &body[0];
        answer.bodySize = answer.bodyLength = body.size();
        Api().actions = ApiActions();
        TakeApiAnswer(r, &answer, 1796083200 /* Tue, 01 Dec 2026 00:00:00 GMT */,
                      &Api().actions);
        const ApiVerdict &v = r->verdict;
        EXPECT_EQ(v.kind, row.kind);
        EXPECT_EQ(std::string(v.code), row.code);
        if (!row.message.empty()) {
            EXPECT_EQ(std::string(v.message), row.message);
        }
        EXPECT_EQ(v.advice, row.advice);
        EXPECT_EQ(v.retryAfter, row.retry);
        EXPECT_EQ(v.mayHaveGone, row.mayHaveGone);
        EXPECT_EQ(v.status, row.kind == row.preset ? 0 : row.status);
        EXPECT_EQ(v.systemError, row.status == 0 && row.preset == kApiVerdictNone ? row.error : 0u);
        EXPECT_NE(Actions().find('V'), std::string::npos);
    }
    // The log names the provider's code and message and the wait asked for.
    UseApi(kWayGraph);
    ASSERT_TRUE(Start());
    std::string body = graph("ApplicationThrottled", "Over its limit.");
    PlatHttpsAnswer answer = {};
    answer.status = 429;
    answer.connected = true;
    CopyText(answer.retryAfter, sizeof answer.retryAfter, "30");
    answer.body = &body[0];
    answer.bodySize = answer.bodyLength = body.size();
    TakeApiAnswer(&Api().request, &answer, kNow, &Api().actions);
    EXPECT_EQ(std::string(Api().actions.received),
              "HTTP 429 ApplicationThrottled: Over its limit. (Retry-After: 30)");
    // Two notes of one answer keep their own lines.
    ASSERT_TRUE(Start());
    SetApiVerdict(&Api().request, kApiVerdictCancelled);
    answer.status = 202;
    answer.bodyCut = true;
    Api().actions = ApiActions();
    TakeApiAnswer(&Api().request, &answer, kNow, &Api().actions);
    std::vector<std::string> notes;
    for (int i = 0; i < Api().actions.count; i++)
        if (Api().actions.items[i].kind == kApiActionLogNote)
            notes.push_back(Api().actions.items[i].text);
    EXPECT_EQ(notes, (std::vector<std::string>{
                         "the answer's body was cut to " + std::to_string(body.size()) + " bytes",
                         "accepted although the request had been ended"}));
}

TEST(ApiVerdicts, RetryAfterInSecondsOrAsAnHttpDate)
{
    const long long now = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
    struct Row {
        const char *value;
        long long seconds;
    } rows[] = {
        {"120", 120},
        {" 0 ", 0},
        {"Sun, 06 Nov 1994 08:51:37 GMT", 120},
        {"Sunday, 06-Nov-94 08:50:37 GMT", 60},
        {"Sun Nov  6 08:49:47 1994", 10},
        {"Sun, 06 Nov 1994 08:00:00 GMT", 0},  // past
        {"", -1},
        {"-5", -1},
        {"soon", -1},
        {"Sun, 32 Nov 1994 08:49:37 GMT", -1},
        {"1234567890123", -1},
    };
    for (const Row &row : rows)
        EXPECT_EQ(ParseRetryAfter(row.value, now), row.seconds) << row.value;
}

}  // namespace
