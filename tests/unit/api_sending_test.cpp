// "/email" and "/emailcheck" through a mail API against the recording fake: what each answer
// (or the window's own end) makes of the file and its box, the token renewed once a batch,
// the log, and the check that posts nothing. What the answer means is the request's, tested
// with it; here each verdict is carried out and worded once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake/fake_oauth.h"
#include "fake/fake_shelllink.h"
#include "fake/fake_time.h"
#include "mail/jobs/api_sending.h"
#include "mail/jobs/mail_check.h"
#include "mail/jobs/send_queue.h"
#include "mail_support.h"
#include "oauth/token_store.h"

using namespace mailtest;

namespace {

const std::string kQueued = "\n\nThe email has been queued in " + kQueueDir + "\n";
const std::string kGraphError =
    "{\"error\":{\"code\":\"%c\",\"message\":\"%m\",\"innerError\":{\"request-id\":\"7c\"}}}";

std::string GraphError(const std::string &code, const std::string &message)
{
    std::string body = kGraphError;
    body.replace(body.find("%c"), 2, code);
    return body.replace(body.find("%m"), 2, message);
}

// Section "Email Setup" for a mail API, and alice's sign-in for it, its access token ending
// at expiresAt (0: no sign-in stored).
void ConfigureApi(MailWay way, long long expiresAt)
{
    ConfigureMail(nullptr, nullptr);
    bool graph = way == kWayGraph;
    FakeSetSetting("Email Setup", "MailAPI", graph ? "graph" : "gmail");
    FakeSetSetting("Email Setup", "OAuthProvider", graph ? "microsoft" : "google");
    FakeSetSetting("Email Setup", "OAuthClientId", "client-1");
    FakeSetSetting("Email Setup", "SMTPUser", "alice@acme.test");
    FakeSetSetting("Email Setup", "MailLog", "mail.log");
    gFakeShellLink.folders[0x1A] = "C:\\Users\\alice\\AppData\\Roaming";
    if (expiresAt == 0)
        return;
    static TokenRecord record;
    record = TokenRecord();
    CopyText(record.provider, sizeof record.provider, graph ? "microsoft" : "google");
    record.way = way;
    CopyText(record.clientId, sizeof record.clientId, "client-1");
    CopyText(record.tokenUrl, sizeof record.tokenUrl,
             graph ? "https://login.microsoftonline.com/organizations/oauth2/v2.0/token"
                   : "https://oauth2.googleapis.com/token");
    CopyText(record.user, sizeof record.user, "alice@acme.test");
    record.expiresAt = expiresAt;
    CopyText(record.accessToken, sizeof record.accessToken, "old-access");
    CopyText(record.refreshToken, sizeof record.refreshToken, "refresh-1");
    ASSERT_EQ(SaveTokenRecord(&record), kStoreOk);
}

const char kRenewed[] = "{\"token_type\":\"Bearer\",\"access_token\":\"new-access\","
                        "\"refresh_token\":\"refresh-2\",\"expires_in\":3600}";

// How the window's request goes: the worker reports the request's head out, then (unless the
// window ends it first) the whole body, then its end; or only its end, never connected.
enum Course { kWholeBody, kSilentAfterHead, kUserCancels, kUserCancelsAfterBody, kNoConnection };

// One window's worth of the worker's reports, as the platform would post them.
void RunRequest(Course course)
{
    if (gFakeOAuth.requests.empty() || gFakeDialog.ended)
        return;  // nothing was started: the window has ended by itself
    unsigned long long body = gFakeOAuth.requests.back().body.size();
    if (course == kNoConnection) {
        FakeDeliver(kWmApiDone, 0, 0);
        return;
    }
    FakeDeliver(kWmApiProgress, 0, 0);
    EXPECT_EQ(gFakeDialog.timers.count(kTimeoutTimer), 1u);  // the silence counts
    if (course == kSilentAfterHead) {
        FakeTimerFires(kTimeoutTimer);
    } else if (course == kUserCancels) {
        FakeUserCancel();
    } else {
        FakeDeliver(kWmApiProgress, (uintptr_t)body, 0);
        EXPECT_EQ(gFakeDialog.timers.count(kTimeoutTimer), 0u);  // the answer may take long
        if (course == kUserCancelsAfterBody)
            FakeUserCancel();
    }
    EXPECT_FALSE(gFakeDialog.ended);  // only the worker's end closes the window
    FakeDeliver(kWmApiDone, 0, 0);
}

FakeHttpsReply Answer(int status, const std::string &body = "", const std::string &retry = "")
{
    FakeHttpsReply reply;
    reply.status = status;
    reply.body = body;
    reply.retryAfter = retry;
    return reply;
}

FakeHttpsReply NoAnswer(unsigned long error, bool connected)
{
    FakeHttpsReply reply;
    reply.error = error;
    reply.connected = connected;
    return reply;
}

TEST(ApiBatch, EachAnswerDecidesItsFileAndIsWordedOnce)
{
    const std::string big(kGraphRequestMax / 4 * 3, 'x');  // its base64 passes the limit
    struct Row {
        const char *name;
        MailWay way;
        std::vector<FakeHttpsReply> answers;  // the API's, one per request
        std::vector<std::string> tokenAnswers;  // the token endpoint's, one per renewal
        Course course;
        std::vector<std::string> left;  // the files still queued afterwards
        std::string box;                // the one box, "" for none
        std::string logged;             // a line the log holds
        const char *firstBody = nullptr;  // S1.txt's body, when not the usual one
    } rows[] = {
        {"graph takes both", kWayGraph, {Answer(202), Answer(202)}, {}, kWholeBody, {}, "",
         "= delivered, file deleted"},
        {"gmail takes one, then names the fault", kWayGmail,
         {Answer(200, "{\"id\":\"18c2f\"}"),
          Answer(400, "{\"error\":{\"code\":400,\"message\":\"Invalid To header\",\"errors\":"
                      "[{\"reason\":\"invalidArgument\"}],\"status\":\"INVALID_ARGUMENT\"}}")},
         {}, kWholeBody, {"S2.txt"},
         "gmail.googleapis.com refused the email (HTTP status 400): Invalid To header "
         "(invalidArgument)" + kQueued,
         "< HTTP 400 400: Invalid To header"},
        // Renewed once a batch: the next message's 401 is final.
        {"401: renewed once, posted again; a later 401 is final", kWayGraph,
         {Answer(401), Answer(202), Answer(401)}, {kRenewed}, kWholeBody, {"S2.txt"},
         "graph.microsoft.com refused the sign-in of alice@acme.test, also after it was "
         "renewed (HTTP status 401).\n\nPlease run \"Tillwick.exe /emailsignin\" again." +
             kQueued,
         "* the token was renewed: the message is sent again"},
        {"401 and the renewal refused", kWayGraph, {Answer(401)},
         {"{\"error\":\"invalid_grant\",\"error_description\":\"expired\"}"}, kWholeBody,
         {"S1.txt", "S2.txt"},
         "graph.microsoft.com refused the sign-in of alice@acme.test (HTTP status 401), and it "
         "could not be renewed.\n\nPlease run \"Tillwick.exe /emailsignin\" again." + kQueued,
         "expired (invalid_grant)"},
        {"Mail.Send not granted", kWayGraph,
         {Answer(403, GraphError("ErrorAccessDenied", "Access is denied."))}, {}, kWholeBody,
         {"S1.txt", "S2.txt"},
         "graph.microsoft.com refused the email (HTTP status 403): Access is denied. "
         "(ErrorAccessDenied)\n\nThe application may not send mail for this account: the "
         "Microsoft Graph permission Mail.Send is not granted, or its consent is missing. "
         "Please ask your administrator to grant it, then run \"Tillwick.exe /emailsignin\" "
         "again." + kQueued,
         "< HTTP 403 ErrorAccessDenied: Access is denied."},
        {"throttled: both stay, the box says when", kWayGraph,
         {Answer(429, GraphError("ApplicationThrottled", "Over its limit."), "120")}, {},
         kWholeBody, {"S1.txt", "S2.txt"},
         "graph.microsoft.com is busy and asks to try again in 120 seconds (HTTP status 429)." +
             kQueued,
         "< HTTP 429 ApplicationThrottled: Over its limit. (Retry-After: 120)"},
        {"413", kWayGmail, {Answer(413)}, {}, kWholeBody, {"S1.txt", "S2.txt"},
         "gmail.googleapis.com refused the email as too large (HTTP status 413)." + kQueued,
         "< HTTP 413"},
        {"too large for Graph: not posted", kWayGraph, {}, {}, kWholeBody, {"S1.txt", "S2.txt"},
         "The email takes 4194500 bytes as Microsoft Graph receives it (in base64), more than "
         "the 4194304 bytes Graph takes in one request. It was not sent." + kQueued,
         "* not posted: 4194500 bytes of base64, more than Graph's 4194304", big.c_str()},
        {"the connection lost once the body was out", kWayGraph, {NoAnswer(12030, true)}, {},
         kWholeBody, {"S1.txt", "S2.txt"},
         "The connection to graph.microsoft.com was lost before it answered. The email may "
         "have been sent: please look in the Sent Items before sending it again." + kQueued,
         "* no answer: error 12030 after "},
        {"not reached", kWayGmail, {NoAnswer(12029, false)}, {}, kNoConnection,
         {"S1.txt", "S2.txt"},
         "gmail.googleapis.com could not be reached (the connection was refused, error 12029). "
         "The email was not sent." + kQueued,
         "= kept: gmail.googleapis.com could not be reached"},
        {"60 seconds in which nothing moved", kWayGraph, {NoAnswer(12017, true)}, {},
         kSilentAfterHead, {"S1.txt", "S2.txt"},
         "No data could be sent to graph.microsoft.com for 60 seconds. The email was not "
         "sent." + kQueued,
         "= kept: No data could be sent"},
        {"the user's Cancel", kWayGmail, {NoAnswer(12017, true)}, {}, kUserCancels,
         {"S1.txt", "S2.txt"}, "", "= kept: cancelled by the user"},
        {"accepted although cancelled: the provider has it", kWayGraph, {Answer(202)}, {},
         kUserCancelsAfterBody, {"S2.txt"}, "", "* accepted although the request had been ended"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        FakeReset();
        ConfigureApi(row.way, gFakeTime.unixTime + 3600);
        for (const FakeHttpsReply &answer : row.answers)
            gFakeOAuth.httpsReplies.push_back(answer);
        for (const std::string &answer : row.tokenAnswers)
            gFakeOAuth.replies.push_back({true, answer == kRenewed ? 200 : 400, answer, 0});
        std::string first = MessageText();
        if (row.firstBody)
            first = MessageText("<bob@example.org>", "<accounts@acme.test>", "", "",
                                row.firstBody);
        QueueFile("S1.txt", first);
        QueueFile("S2.txt", MessageText("<carol@example.org>"));
        for (int i = 0; i < 4; i++)
            gFakeDialog.scripts.push_back([&] { RunRequest(row.course); });
        gFakeNet.startupError = 10091;  // no Windows Sockets: the API needs none

        EXPECT_EQ(SendQueuedEmail(""), 0);
        std::vector<std::string> boxes;
        for (const FakeMessageBox &box : gFake.messageBoxes)
            boxes.push_back(box.text);
        EXPECT_EQ(boxes, row.box.empty() ? std::vector<std::string>{}
                                         : std::vector<std::string>{row.box});
        std::vector<std::string> left;
        for (const char *name : {"S1.txt", "S2.txt"})
            if (FakeFileExists(kQueueDir + name))
                left.push_back(name);
        EXPECT_EQ(left, row.left);
        EXPECT_EQ(gFakeOAuth.httpsReplies.size(), 0u);  // every answer was asked for
        EXPECT_EQ(gFakeOAuth.posts.size(), row.tokenAnswers.size());
        for (const FakeHttpsRecord &request : gFakeOAuth.requests) {
            EXPECT_EQ(request.method, "POST");
            EXPECT_TRUE(request.ended || request.cancelled);
        }
        const std::string log = gFake.files[kProgramDir + "\\mail.log"];
        EXPECT_NE(log.find(row.logged), std::string::npos) << log;
        // Neither token nor message text in the log.
        EXPECT_EQ(log.find("-access"), std::string::npos) << log;
        EXPECT_EQ(log.find("Please find your invoice"), std::string::npos) << log;
    }
}

TEST(ApiBatch, TheWindowSaysWhereItPostsAndWhatBecameOfIt)
{
    FakeReset();
    ConfigureApi(kWayGraph, gFakeTime.unixTime + 3600);
    gFakeOAuth.httpsReplies.push_back(Answer(202));
    QueueFile("S1.txt", MessageText());
    gFakeDialog.scripts.push_back([] { RunRequest(kWholeBody); });
    EXPECT_EQ(SendQueuedEmail(""), 0);
    ASSERT_EQ(gFakeDialog.statusByWindow.size(), 1u);
    EXPECT_EQ(gFakeDialog.statusByWindow[0],
              (std::vector<std::string>{"Connecting to: graph.microsoft.com",
                                        "Sending to: graph.microsoft.com",
                                        "Waiting for graph.microsoft.com to answer",
                                        "Email Sent"}));
    ASSERT_EQ(gFakeOAuth.requests.size(), 1u);
    EXPECT_EQ(gFakeOAuth.requests[0].headers,
              "Authorization: Bearer old-access\r\nContent-Type: text/plain\r\n");
    const std::string log = gFake.files[kProgramDir + "\\mail.log"];
    EXPECT_NE(log.find("message S1.txt: graph https://graph.microsoft.com/v1.0/me/sendMail\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("> POST https://graph.microsoft.com/v1.0/me/sendMail (the message: "),
              std::string::npos);
    EXPECT_NE(log.find("< HTTP 202\r\n"), std::string::npos);
}

TEST(ApiCheck, ReachesTheHostWithoutPostingAndNamesTheAccount)
{
    struct Row {
        const char *name;
        long long tokenLeft;  // seconds; 0: no sign-in stored
        FakeHttpsReply answer;
        int exitCode;
        std::string box;
    } rows[] = {
        {"reached", 3600, Answer(404), 0,
         "Signed in as alice@acme.test to send through Microsoft Graph. Reached "
         "graph.microsoft.com over TLS, its certificate trusted. Nothing was sent."},
        {"renewed first", 60, Answer(200), 0,
         "Signed in as alice@acme.test to send through Microsoft Graph (the sign-in was "
         "renewed). Reached graph.microsoft.com over TLS, its certificate trusted. Nothing was "
         "sent."},
        {"certificate refused", 3600, NoAnswer(12175, false), 1,
         "The check of the mail settings failed.\n\ngraph.microsoft.com could not be reached "
         "(its certificate was not accepted, error 12175). The email was not sent.\n"},
        {"not signed in", 0, Answer(200), 1,
         "Tillwick Orvenda is not signed in to send e-mail as alice@acme.test.\n\nPlease run "
         "\"Tillwick.exe /emailsignin\" as this Windows user and sign in. No e-mail was sent."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        FakeReset();
        ConfigureApi(kWayGraph, row.tokenLeft ? gFakeTime.unixTime + row.tokenLeft : 0);
        gFakeOAuth.replies.push_back({true, 200, kRenewed, 0});
        gFakeOAuth.httpsReplies.push_back(row.answer);
        gFakeDialog.scripts.push_back([] {
            FakeDeliver(kWmApiProgress, 0, 0);
            FakeDeliver(kWmApiDone, 0, 0);
        });
        EXPECT_EQ(RunEmailCheck(), row.exitCode);
        ASSERT_EQ(gFake.messageBoxes.size(), 1u);
        EXPECT_EQ(gFake.messageBoxes[0].text, row.box);
        EXPECT_EQ(gFakeOAuth.posts.size(), row.tokenLeft == 60 ? 1u : 0u);
        EXPECT_EQ(gFakeNet.startups, 0);
        if (row.tokenLeft == 0) {
            EXPECT_TRUE(gFakeOAuth.requests.empty());
            continue;
        }
        // The host's root, without a token: nothing goes to the sending endpoint.
        ASSERT_EQ(gFakeOAuth.requests.size(), 1u);
        const FakeHttpsRecord &get = gFakeOAuth.requests[0];
        EXPECT_EQ(get.method + " " + get.url + " [" + get.headers + "]",
                  "GET https://graph.microsoft.com/ []");
        EXPECT_TRUE(gFake.sleeps.empty());
    }
}

}  // namespace
