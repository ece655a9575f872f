// The sending window's decisions against the recording fake: start-up, the lookup and the
// connect, the port, the time-out rule, Cancel in every state, the file's and the batch's
// fate, and the handling of messages that arrive inside a message box.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "mail/jobs/mail_log.h"
#include "mail_support.h"

using namespace mailtest;

namespace {

const std::string kPath = kQueueDir + "S1.txt";
const PlatWindow kWindow = 0x5E01;

const std::string kTail =
    "\n\n   1). Please make sure that you are connected to the internet.\n   2). Check that the "
    "SMTP server is correct (See Email Setup under the Invoicing menu).\n   3). Your ISP might be "
    "having problems, try sending again later.\n\nThe email has been queued in C:\\Program "
    "Files\\Tillwick Orvenda\\Email\\\n";

class SendingWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeReset();
        ReleaseMessage();
        ConfigureMail();
    }
    void TearDown() override { ReleaseMessage(); }

    void Run(const std::function<void()> &script)
    {
        ASSERT_EQ(PrepareMessage(kPath, MessageText()), 1);
        ASSERT_EQ(ReadSettings(), 1);
        ShowWindow(script);
    }
    std::string LastStatus() const
    {
        return gFakeDialog.statusTexts.empty() ? std::string() : gFakeDialog.statusTexts.back();
    }
    std::vector<std::string> BoxTexts() const
    {
        std::vector<std::string> texts;
        for (auto &b : gFake.messageBoxes)
            texts.push_back(b.text);
        return texts;
    }
    // Positive replies to the first n steps (the greeting counts as one).
    static void Answer(int n)
    {
        int answered = 0;
        Converse([&](const std::string &r) -> std::string {
            return ++answered < n ? Accept(r) : std::string();
        }, n > 0 ? "220 ready\r\n" : "");
    }
};

TEST_F(SendingWindow, StartsWithItsFontTimerStatusAndLookup)
{
    struct Row {
        int dpi;
        int height;
    } rows[] = {{96, -13}, {120, -17}, {144, -20}, {72, -10}};
    for (const Row &row : rows) {
        SetUp();
        gFake.deviceCaps = row.dpi;
        Run([] {});
        ASSERT_EQ(gFakeDialog.fonts.size(), 1u);
        EXPECT_EQ(gFakeDialog.fonts[0].height, row.height) << row.dpi;
        EXPECT_EQ(gFakeDialog.fonts[0].weight, 700);
        EXPECT_EQ(gFakeDialog.fonts[0].face, "MS Sans Serif");
        EXPECT_EQ(gFakeDialog.fontsDeleted, 1);  // once the window has gone
    }
    std::string font = std::to_string(0xF001);
    EXPECT_EQ(gFakeDialog.fontSets, (std::vector<std::string>{"1012:" + font + ":0", "1000:" + font + ":0"}));
    EXPECT_NE(std::find(gFake.calls.begin(), gFake.calls.end(), "GetDeviceCaps(" + std::to_string(kWindow) + ",90)"),
              gFake.calls.end());
    EXPECT_EQ(gFakeDialog.templateId, 101);
    EXPECT_EQ(gFakeDialog.owner, 0u);
    EXPECT_EQ(gFakeDialog.timerStarts, 1);
    EXPECT_EQ(gFakeDialog.timerPeriod, 60000u);
    EXPECT_EQ(gFakeDialog.statusTexts[0], "Connecting to: mail.example.com");
    EXPECT_EQ(gFakeNet.resolveName, "mail.example.com");
    EXPECT_EQ(gFakeNet.resolveMessage, 1027u);
}

TEST_F(SendingWindow, ALookupThatCannotStartWaitsForTheUser)
{
    gFakeNet.resolveHandle = 0;
    Run([] { EXPECT_FALSE(gFakeDialog.ended); });
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Error connecting to host\n"}));
    EXPECT_EQ(gFake.messageBoxes[0].owner, kWindow);
    EXPECT_TRUE(BatchStopped());
    EXPECT_TRUE(FakeFileExists(kPath));
    EXPECT_TRUE(gFakeNet.closeSteps.empty());
}

TEST_F(SendingWindow, ConnectionFailuresCloseTheWindowAndStopTheBatch)
{
    struct Row {
        const char *name;
        std::function<void()> arrange;
        std::function<void()> act;
        std::string box;
        std::vector<std::string> closeSteps;
    } rows[] = {
        {"host not found", [] {}, [] { FakeHostFound("", 11001); }, "Error Connecting (11001)" + kTail, {}},
        {"no socket", [] { gFakeNet.socketFails = true; }, [] { FakeHostFound("127.0.0.1"); },
         "Couldn't create socket\n", {}},
        {"no socket events", [] { gFakeNet.selectFails = true; }, [] { FakeHostFound("127.0.0.1"); },
         "Asynchronous socket creation failed\n", {"close"}},
        {"connect refused at once", [] { gFakeNet.connectError = 10061; }, [] { FakeHostFound("127.0.0.1"); },
         "Error connecting\n", {"close"}},
        // The connect event carries the refusal: reported, not left on "Connecting to"; the
        // socket that never connected is closed without a shutdown.
        {"connect refused later", [] {},
         [] {
             FakeHostFound("127.0.0.1");
             FakeSocketEvent(PLAT_FD_CONNECT, 10061);
         },
         "Error connecting\n", {"close"}},
        {"unreachable later", [] {},
         [] {
             FakeHostFound("127.0.0.1");
             FakeSocketEvent(PLAT_FD_CONNECT, 10065);
         },
         "Error connecting\n", {"close"}},
    };
    for (const Row &row : rows) {
        SetUp();
        row.arrange();
        Run([&] {
            row.act();
            EXPECT_TRUE(gFakeDialog.ended) << row.name;
        });
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{row.box}) << row.name;
        EXPECT_EQ(gFake.messageBoxes[0].owner, kWindow) << row.name;
        EXPECT_TRUE(BatchStopped()) << row.name;
        EXPECT_TRUE(SelfClosed()) << row.name;
        EXPECT_TRUE(FakeFileExists(kPath)) << row.name;
        EXPECT_EQ(gFakeNet.closeSteps, row.closeSteps) << row.name;
    }
}

TEST_F(SendingWindow, AnAnswerToAnotherLookupIsIgnored)
{
    Run([] {
        FakeDeliver(1027, 0x9999, 0);
        EXPECT_EQ(gFakeNet.socket, PLAT_INVALID_SOCKET);
        EXPECT_EQ(State(), kStateIdle);
    });
}

TEST_F(SendingWindow, UsesTheConfiguredPortAndTheServicesEntryOnlyForPortZero)
{
    struct Row {
        const char *configured;
        unsigned short service;
        const char *connectedTo;
    } rows[] = {
        {"2525", 25, "127.0.0.1:2525"},
        {"25", 2525, "127.0.0.1:25"},
        {"0", 587, "127.0.0.1:587"},
        {"abc", 587, "127.0.0.1:587"},
        {"0", 0, "127.0.0.1:25"},
        {" 2626x", 25, "127.0.0.1:2626"},
        {"70000", 25, "127.0.0.1:4464"},  // kept in 16 bits
    };
    for (const Row &row : rows) {
        SetUp();
        ConfigureMail("mail.example.com", row.configured);
        gFakeNet.servicePort = row.service;
        Run([] { FakeHostFound("127.0.0.1"); });
        EXPECT_EQ(gFakeNet.connectedTo, row.connectedTo) << row.configured;
    }
    EXPECT_EQ(gFakeNet.selectMask, 0x33);
    EXPECT_EQ(gFakeNet.selectMessage, 1026u);
}

TEST_F(SendingWindow, ConnectsThroughTheServersAddressesAndNamesEachOne)
{
    // Sockets are 0x50, 0x51, ... in the order made; "192.0.2.2 wins" is its connect event.
    const PlatSocket first = 0x50, second = 0x51;
    struct Row {
        const char *name;
        std::vector<std::string> addresses;
        std::function<void()> arrange, act;
        std::vector<std::string> statuses;  // after "Connecting to: mail.example.com"
        std::vector<PlatSocket> closed;     // before the window ends
        PlatSocket connection;              // the window's socket then (invalid: none)
        std::string box;
        std::vector<std::string> logged;    // lines of the mail log, in order
    } rows[] = {
        {"the first refuses at once, the second's event wins", {"192.0.2.1", "192.0.2.2"},
         [] { gFakeNet.connectErrorFor["192.0.2.1"] = 10061; },
         [&] { FakeSocketEventOn(second, PLAT_FD_CONNECT); },
         {"Connecting to: mail.example.com (192.0.2.1)", "Connecting to: mail.example.com (192.0.2.2)",
          "Connected to: mail.example.com"},
         {first}, second, "",
         {"addresses: 192.0.2.1, 192.0.2.2", "connecting to 192.0.2.1 port 2525",
          "192.0.2.1: connect failed (10061)", "connecting to 192.0.2.2 port 2525",
          "connected to 192.0.2.2"}},
        // No IPv6 here: its socket cannot be made; the IPv4 address connects at once.
        {"no socket for the first, the second at once", {"2001:db8::1", "192.0.2.2"},
         [] {
             gFakeNet.ipv6Unavailable = true;
             gFakeNet.connectError = 0;
         },
         [] {},
         {"Connecting to: mail.example.com (2001:db8::1)", "Connecting to: mail.example.com (192.0.2.2)",
          "Connected to: mail.example.com"},
         {}, first, "", {"2001:db8::1: connect failed (10047)", "connected to 192.0.2.2"}},
        // The stagger timer starts the next beside the silent one; the loser is closed.
        {"the first silent, the second wins beside it", {"192.0.2.1", "192.0.2.2"}, [] {},
         [&] {
             FakeTimerFires(1001);
             EXPECT_EQ(gFakeDialog.timers.count(1000), 1u);  // the silence timer goes on
             FakeSocketEventOn(second, PLAT_FD_CONNECT);
             EXPECT_EQ(gFakeDialog.timers.count(1001), 0u);
         },
         {"Connecting to: mail.example.com (192.0.2.1)", "Connecting to: mail.example.com (192.0.2.2)",
          "Connected to: mail.example.com"},
         {first}, second, "", {"192.0.2.1: closed unanswered", "connected to 192.0.2.2"}},
        // The greeting's read event came before the connect event: that attempt has won.
        {"a read event overtakes its connect event", {"192.0.2.1"}, [] {},
         [] { FakeServerSays("220 ready\r\n"); },
         {"Connecting to: mail.example.com (192.0.2.1)", "Connected to: mail.example.com",
          "Sending Email"},
         {}, first, "", {"connected to 192.0.2.1", "< 220 ready"}},
        // The time-out while connecting is the silence timer's, not the walk's: it closes
        // every attempt under way.
        {"the time-out while connecting", {"192.0.2.1", "192.0.2.2"}, [] {},
         [] { FakeTimerFires(1000); },
         {"Connecting to: mail.example.com (192.0.2.1)"},
         {first}, PLAT_INVALID_SOCKET, "Request timed out (1) ." + kTail, {}},
        // Every address failed: the box of a server of one, after the last one.
        {"every address fails", {"192.0.2.1", "192.0.2.2"},
         [] { gFakeNet.connectErrorFor["192.0.2.1"] = 10065; },
         [&] { FakeSocketEventOn(second, PLAT_FD_CONNECT, 10061); },
         {"Connecting to: mail.example.com (192.0.2.1)", "Connecting to: mail.example.com (192.0.2.2)"},
         {first, second}, PLAT_INVALID_SOCKET, "Error connecting\n",
         {"192.0.2.2: connect failed (10061)", "* Error connecting"}},
    };
    const std::string logPath = kProgramDir + "\\mail.log";
    for (const Row &row : rows) {
        SetUp();
        FakeSetSetting("Email Setup", "MailLog", "mail.log");
        OpenMailLog(&Rig().log);
        row.arrange();
        std::vector<PlatSocket> closed;
        Run([&] {
            FakeAddressesFound(row.addresses);
            row.act();
            closed = gFakeNet.closedSockets;
            EXPECT_EQ(Rig().window.socket, row.connection) << row.name;
            EXPECT_EQ(gFakeDialog.ended, !row.box.empty()) << row.name;
        });
        std::vector<std::string> statuses(gFakeDialog.statusTexts.begin() + 1,
                                          gFakeDialog.statusTexts.end());
        statuses.resize(std::min(statuses.size(), row.statuses.size()));
        EXPECT_EQ(statuses, row.statuses) << row.name;
        EXPECT_EQ(closed, row.closed) << row.name;
        EXPECT_EQ(BoxTexts(), row.box.empty() ? std::vector<std::string>{}
                                              : std::vector<std::string>{row.box})
            << row.name;
        EXPECT_TRUE(FakeFileExists(kPath)) << row.name;
        EXPECT_EQ(gFakeDialog.timers.count(1001), 0u) << row.name;
        const std::string &log = gFake.files[logPath];
        size_t at = 0;
        for (const std::string &line : row.logged) {
            size_t found = log.find(line, at);
            EXPECT_NE(found, std::string::npos) << row.name << ": " << line << "\n" << log;
            at = found == std::string::npos ? at : found;
        }
    }
}

TEST_F(SendingWindow, EndingWhileTheLookupRunsLetsItGo)
{
    Run([] { FakeUserCancel(); });
    EXPECT_TRUE(gFakeNet.resolveCancelled);
    gFakeNet.resolveCancelled = false;
    Run([] { FakeHostFound("192.0.2.1"); });
    EXPECT_FALSE(gFakeNet.resolveCancelled);  // taken: nothing left to let go
}

TEST_F(SendingWindow, TheTimerGivesUpOnASilentConversationUnlessANegativeReplyStoppedIt)
{
    struct Row {
        const char *name;
        int steps;           // positive replies before the timer
        const char *reject;  // a negative reply to this command before the timer
        const char *box;     // "" for none
        bool ended;
        bool fileKept;
    } rows[] = {
        {"before the lookup answers", -1, "", "Request timed out (0) .", true, true},
        {"connected, no greeting", 0, "", "Request timed out (1) .", true, true},
        {"after the greeting", 1, "", "Request timed out (2) .", true, true},
        {"waiting for the reply to MAIL FROM", 3, "", "Request timed out (5) .", true, true},
        {"waiting for the reply to the message", 6, "", "Request timed out (8) .", true, true},
        // The server has the message: no reply to QUIT is no failure.
        {"QUIT sent", 7, "", "", true, false},
        {"after a negative reply", 9, "RCPT", "", false, true},
    };
    for (const Row &row : rows) {
        SetUp();
        Run([&] {
            if (row.reject[0] != '\0')
                Converse(AcceptExcept(row.reject, "550 no\r\n"));
            else if (row.steps >= 0)
                Answer(row.steps);
            gFake.messageBoxes.clear();
            FakeTimerFires();
            EXPECT_EQ(gFakeDialog.ended, row.ended) << row.name;
            EXPECT_FALSE(gFakeDialog.timerRunning) << row.name;
        });
        if (row.box[0] == '\0') {
            EXPECT_TRUE(gFake.messageBoxes.empty()) << row.name;
        } else {
            ASSERT_EQ(gFake.messageBoxes.size(), 1u) << row.name;
            EXPECT_EQ(gFake.messageBoxes[0].text, row.box + kTail) << row.name;
            EXPECT_EQ(gFake.messageBoxes[0].owner, kWindow) << row.name;
        }
        EXPECT_EQ(FakeFileExists(kPath), row.fileKept) << row.name;
        EXPECT_EQ(BatchStopped(), row.fileKept) << row.name;  // a time-out or the user's Cancel
    }
}

TEST_F(SendingWindow, TheTimerStartsAgainOnlyWhenBytesMoveAndWaitsLongForTheMessagesReply)
{
    struct Step {
        const char *name;
        std::function<void()> act;
        int restarts;     // how often the timer was started again
        unsigned period;  // its period then
    } steps[] = {
        {"the connect", [] { FakeSocketEvent(PLAT_FD_CONNECT); }, 0, 60000},
        {"a read event with nothing", [] { FakeSocketEvent(PLAT_FD_READ); }, 0, 60000},
        {"the greeting in, HELO out", [] { FakeServerSays("220 hi\r\n"); }, 2, 60000},
        {"a write event with nothing to send", [] { FakeSocketEvent(PLAT_FD_WRITE); }, 0, 60000},
        {"a reply in, RSET refused by a full socket",
         [] {
             gFakeNet.sendLimits = {0};
             FakeServerSays("250 ok\r\n");
         },
         1, 60000},
        {"room again: RSET out", [] { FakeSocketEvent(PLAT_FD_WRITE); }, 1, 60000},
        {"MAIL FROM out", [] { FakeServerSays("250 ok\r\n"); }, 2, 60000},
        {"RCPT TO out", [] { FakeServerSays("250 ok\r\n"); }, 2, 60000},
        {"DATA out", [] { FakeServerSays("250 ok\r\n"); }, 2, 60000},
        // The end-of-data mark is on the socket: the server may check for 10 minutes.
        {"the message out", [] { FakeServerSays("354 go\r\n"); }, 2, 600000},
        {"its reply in, QUIT out", [] { FakeServerSays("250 queued\r\n"); }, 2, 60000},
    };
    Run([&] {
        FakeHostFound("127.0.0.1");
        for (const Step &step : steps) {
            int before = gFakeDialog.timerStarts;
            step.act();
            EXPECT_EQ(gFakeDialog.timerStarts - before, step.restarts) << step.name;
            EXPECT_EQ(gFakeDialog.timerPeriod, step.period) << step.name;
        }
        EXPECT_EQ(State(), kStateSent);
    });
}

TEST_F(SendingWindow, CancelKeepsTheFileUntilTheServerHasAcceptedIt)
{
    // Cancel after n positive replies: the state is then 0 (no lookup answer), 1, 2, 4, 5,
    // 6, 7, 8, 9.
    struct Row {
        int steps;
        int state;
        bool fileKept;
    } rows[] = {{-1, 0, true}, {0, 1, true}, {1, 2, true}, {2, 4, true}, {3, 5, true},
                {4, 6, true},  {5, 7, true}, {6, 8, true}, {7, 9, false}};
    for (const Row &row : rows) {
        SetUp();
        Run([&] {
            if (row.steps >= 0)
                Answer(row.steps);
            EXPECT_EQ(State(), row.state) << row.steps;
            gFake.calls.clear();
            FakeUserCancel();
        });
        EXPECT_EQ(FakeFileExists(kPath), row.fileKept) << row.steps;
        EXPECT_TRUE(BatchStopped()) << row.steps;
        EXPECT_TRUE(gFake.messageBoxes.empty()) << row.steps;
        // Connection closed (when one was asked for), a second's pause, then the end.
        auto end = std::find(gFake.calls.begin(), gFake.calls.end(), "EndDialog(" + std::to_string(kWindow) + ",-1)");
        ASSERT_NE(end, gFake.calls.end()) << row.steps;
        ASSERT_NE(end, gFake.calls.begin()) << row.steps;
        EXPECT_EQ(end[-1], "Sleep(1000)") << row.steps;
        EXPECT_EQ(gFakeNet.closeSteps.empty(), row.state == 0) << row.steps;
    }
}

TEST_F(SendingWindow, AFileThatCannotBeDeletedIsReported)
{
    Run([&] {
        gFake.readOnlyFiles[kPath] = true;
        Answer(8);
    });
    ASSERT_EQ(gFake.messageBoxes.size(), 1u);
    EXPECT_EQ(gFake.messageBoxes[0].text,
              "Could not delete " + kPath +
                  ".\n\nPlease delete the file manually otherwise it will be emailed again.  If Windows "
                  "won't let you delete it then re-start your PC and try again.");
    EXPECT_EQ(gFake.messageBoxes[0].owner, kWindow);
}

TEST_F(SendingWindow, OnlyTheCancelButtonEndsTheWindow)
{
    Run([] {
        EXPECT_EQ(FakeDeliver(PLAT_WM_COMMAND, 2, 0), 0);         // Esc, the close box
        EXPECT_EQ(FakeDeliver(PLAT_WM_COMMAND, 0x10003E8, 0), 0); // not exactly 1000
        EXPECT_EQ(FakeDeliver(0x0010, 0, 0), 0);                 // WM_CLOSE
        EXPECT_FALSE(gFakeDialog.ended);
    });
}

TEST_F(SendingWindow, CloseSendingWindowIsTheProgramsOwnCloseNotTheUsersCancel)
{
    Run([] {
        Answer(2);
        CloseSendingWindow(&Rig().window);
        EXPECT_TRUE(gFakeDialog.ended);
    });
    EXPECT_TRUE(SelfClosed());
    EXPECT_NE(Rig().window.outcome.failure, kFailureCancelled);
}

TEST_F(SendingWindow, SocketEventsInsideAMessageBoxWaitUntilItCloses)
{
    // The negative reply's box is up when the server's next line arrives. It must not be
    // handled under the line being reported (that would send RCPT TO from state 5): it waits,
    // and then changes nothing, since the refusal has ended the conversation.
    std::vector<std::string> sentWhileBoxUp;
    Run([&] {
        gFake.onMessageBox = [&](const FakeMessageBox &) {
            FakeServerSays("250 late but positive\r\n");
            sentWhileBoxUp.push_back(gFakeNet.sent);
            gFake.onMessageBox = nullptr;
        };
        Answer(3);  // state 5: awaiting the reply to MAIL FROM
        std::string before = gFakeNet.sent;
        FakeServerSays("550 5.1.0 Sender rejected\r\n");
        ASSERT_EQ(sentWhileBoxUp.size(), 1u);
        EXPECT_EQ(sentWhileBoxUp[0], before);
        EXPECT_EQ(gFakeNet.sent, before);
        EXPECT_EQ(State(), kStateQuit);
    });
    ASSERT_EQ(gFake.messageBoxes.size(), 1u);
    EXPECT_EQ(gFake.messageBoxes[0].text, "State=RCPT TO. Error: 550 5.1.0 Sender rejected\r\n");
    EXPECT_EQ(gFakeDialog.statusTexts.back(), "Disconnecting");
}

TEST_F(SendingWindow, ATimerInsideANegativeReplysBoxFindsTheConversationStopped)
{
    Run([&] {
        gFake.onMessageBox = [&](const FakeMessageBox &) {
            gFake.onMessageBox = nullptr;
            FakeTimerFires();
        };
        Answer(3);
        FakeServerSays("550 no\r\n");
        EXPECT_FALSE(gFakeDialog.ended);
    });
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"State=RCPT TO. Error: 550 no\r\n"}));
    EXPECT_TRUE(FakeFileExists(kPath));
}

TEST_F(SendingWindow, EventsInsideTheClosingBoxAreDroppedWithTheWindow)
{
    Run([&] {
        gFake.onMessageBox = [&](const FakeMessageBox &) {
            gFake.onMessageBox = nullptr;
            gFakeNet.inbound = "250 more\r\n";
            FakeSocketEvent(PLAT_FD_READ);
        };
        Answer(3);
        std::string sent = gFakeNet.sent;
        FakeTimerFires();  // time-out box; a read event comes in meanwhile
        EXPECT_TRUE(gFakeDialog.ended);
        EXPECT_EQ(gFakeNet.sent, sent);  // the line was drained by the close, never answered
        EXPECT_EQ(State(), kStateRcptTo);
    });
    EXPECT_EQ(gFake.messageBoxes.size(), 1u);
}

TEST_F(SendingWindow, MessagesAfterTheEndAndFromOtherSocketsChangeNothing)
{
    Run([] {
        Answer(2);
        std::string sent = gFakeNet.sent;
        gFakeNet.inbound = "250 ok\r\n";
        FakeDeliver(1026, 0x77, PLAT_FD_READ);  // another socket
        EXPECT_EQ(gFakeNet.sent, sent);
        FakeUserCancel();
    });
    gFakeNet.inbound = "250 ok\r\n";
    EXPECT_EQ(SendingWindowProc(&Rig().window, kWindow, 1026, gFakeNet.socket, PLAT_FD_READ), 1);
    EXPECT_EQ(gFakeNet.inbound, "250 ok\r\n");
}

TEST_F(SendingWindow, AWindowThatCannotBeMadeStopsTheBatch)
{
    gFakeDialog.createFails = true;
    Run([] {});
    EXPECT_TRUE(BatchStopped());
    EXPECT_TRUE(FakeFileExists(kPath));
}

TEST_F(SendingWindow, SettingsMustNameServerAndPort)
{
    struct Row {
        const char *server;
        const char *port;
        int result;
        const char *box;
    } rows[] = {
        {nullptr, "25", 0, "Please setup your SMTP Server in Tillwick Orvenda."},
        {"", "25", 0, "Please setup your SMTP Server in Tillwick Orvenda."},
        {"mail.example.com", nullptr, 0, "Please setup your SMTP Port in Tillwick Orvenda."},
        {"mail.example.com", "2525", 1, ""},
    };
    for (const Row &row : rows) {
        FakeReset();
        ConfigureMail(row.server, row.port);
        SettingsResult result = ReadSmtpSettings(&Rig().settings);
        EXPECT_EQ(result == kSettingsReady ? 1 : 0, row.result);
        char text[1000];
        MakeSettingsFailureText(result, &Rig().settings, text, sizeof text);
        EXPECT_STREQ(text, row.box);
        if (row.result == 1) {
            EXPECT_STREQ(Rig().settings.server, "mail.example.com");
            EXPECT_EQ(Rig().settings.port, 2525);
        }
    }
}

}  // namespace
