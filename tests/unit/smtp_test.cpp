// The SMTP conversation, driven through the sending window against the recording fake:
// every state, positive and negative replies, multi-line and split replies, the pending
// reply text's limit, receive failures and sends the socket takes only in part.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake/fake_tls.h"
#include "mail_support.h"

using namespace mailtest;

namespace {

const std::string kPath = kQueueDir + "S1.txt";
const std::string kGreetingName = "accounts.acme.test";
const std::string kSender = "accounts@acme.test";
const std::string kRecipient = "bob@example.org";

class Conversation : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeReset();
        ReleaseMessage();
        ConfigureMail();
    }
    void TearDown() override { ReleaseMessage(); }

    // Loads the message and shows its window; script is the window's message loop.
    void Run(const std::function<void()> &script, const std::string &content = MessageText())
    {
        ASSERT_EQ(PrepareMessage(kPath, content), 1);
        ASSERT_EQ(ReadSettings(), 1);
        ShowWindow(script);
    }
    std::string LastStatus() const
    {
        return gFakeDialog.statusTexts.empty() ? std::string() : gFakeDialog.statusTexts.back();
    }
};

TEST_F(Conversation, AWillingServerGetsEveryCommandInOrderAndTheFileGoes)
{
    Run([] { Converse(); });
    EXPECT_EQ(gFakeNet.sent, ExpectedExchange(kGreetingName, kSender, kRecipient, MessageText()));
    EXPECT_EQ(gFakeDialog.statusTexts,
              (std::vector<std::string>{"Connecting to: mail.example.com",
                                        "Connecting to: mail.example.com (127.0.0.1)",
                                        "Connected to: mail.example.com", "Sending Email", "Email Sent"}));
    EXPECT_EQ(State(), kStateDone);
    EXPECT_TRUE(gFake.messageBoxes.empty());
    EXPECT_FALSE(FakeFileExists(kPath));
    EXPECT_FALSE(BatchStopped());
    EXPECT_TRUE(SelfClosed());
    EXPECT_EQ(gFakeDialog.endResult, -1);
    EXPECT_EQ(gFakeNet.closeSteps, (std::vector<std::string>{"shutdown(1)", "shutdown(2)", "close"}));
    // The one-second pause comes before the window is told to end.
    auto sleep = std::find(gFake.calls.begin(), gFake.calls.end(), "Sleep(1000)");
    auto end = std::find_if(gFake.calls.begin(), gFake.calls.end(),
                            [](const std::string &c) { return c.rfind("EndDialog(", 0) == 0; });
    ASSERT_NE(sleep, gFake.calls.end());
    EXPECT_LT(sleep, end);
}

TEST_F(Conversation, EachCommandIsOneSendAndTheMarkRidesWithTheEndOfTheMessage)
{
    // A small last segment of its own would wait for the server's delayed acknowledgement.
    Run([] { Converse(); });
    std::vector<std::string> expected = {"HELO accounts.acme.test\r\n", "RSET\r\n",
                                         "MAIL FROM:<accounts@acme.test>\r\n",
                                         "RCPT TO:<bob@example.org>\r\n", "DATA\r\n",
                                         MessageText() + "\r\n.\r\n", "QUIT\r\n"};
    EXPECT_EQ(gFakeNet.sends, expected);
}

TEST_F(Conversation, EveryRecipientGetsItsOwnRcptAfterTheReplyToTheOneBefore)
{
    std::vector<std::string> received;
    Run([&] {
        Converse([&](const std::string &r) {
            received.push_back(r);
            return Accept(r);
        });
    }, MessageText("<bob@example.org>; dan@example.com", "<accounts@acme.test>",
                   "Carol <carol@example.org>\r\nBcc: archive@acme.test"));
    ASSERT_GE(received.size(), 8u);
    EXPECT_EQ(received[3], "RCPT TO:<bob@example.org>\r\n");
    EXPECT_EQ(received[4], "RCPT TO:<dan@example.com>\r\n");
    EXPECT_EQ(received[5], "RCPT TO:<carol@example.org>\r\n");
    EXPECT_EQ(received[6], "RCPT TO:<archive@acme.test>\r\n");
    EXPECT_EQ(received[7], "DATA\r\n");
    EXPECT_EQ(received[8].find("archive"), std::string::npos);  // Bcc is not transmitted
    EXPECT_FALSE(FakeFileExists(kPath));
}

TEST_F(Conversation, ADescriptionLineIsShownAndNotSent)
{
    std::string file = MessageText("<bob@example.org>", "<accounts@acme.test>", "", "Invoice 1042 for Acme Ltd");
    Run([] { Converse(); }, file);
    std::string sentMessage = file.substr(file.find("\r\n") + 2);
    EXPECT_EQ(gFakeNet.sent, ExpectedExchange(kGreetingName, kSender, kRecipient, sentMessage));
    EXPECT_EQ(gFakeDialog.statusTexts[3], "Sending: Invoice 1042 for Acme Ltd");
}

TEST_F(Conversation, ANegativeReplyNamesItsStateStopsAndWaitsForTheUser)
{
    struct Row {
        const char *step;       // the command whose reply is negative ("" for the greeting)
        const char *box;
        size_t commandsSent;    // how many commands went out in all
        bool fileKept;
    } rows[] = {
        {"", "State=CONNECTING. Error: 554 5.7.1 Refused\r\n", 0, true},
        {"HELO", "State=HELO. Error: 554 5.7.1 Refused\r\n", 1, true},
        {"RSET", "State=MAIL FROM. Error: 554 5.7.1 Refused\r\n", 2, true},
        {"MAIL", "State=RCPT TO. Error: 554 5.7.1 Refused\r\n", 3, true},
        {"RCPT", "State=DATA. Error: 554 5.7.1 Refused\r\n\nThe server refused the recipient bob@example.org.\n", 4, true},
        {"DATA", "State=SEND MSG. Error: 554 5.7.1 Refused\r\n", 5, true},
        {"Subject", "State=QUIT. Error: 554 5.7.1 Refused\r\n", 6, true},
    };
    const char *commands[] = {"HELO", "RSET", "MAIL FROM", "RCPT TO", "DATA", "Subject", "QUIT"};
    for (const Row &row : rows) {
        SetUp();
        Run([&] {
            if (row.step[0] == '\0')
                Converse(Accept, "554 5.7.1 Refused\r\n");
            else
                Converse(AcceptExcept(row.step, "554 5.7.1 Refused\r\n"));
            // Nothing more goes out; the window waits for the user.
            EXPECT_FALSE(gFakeDialog.ended) << row.box;
            EXPECT_EQ(State(), kStateQuit) << row.box;
            EXPECT_EQ(LastStatus(), "Disconnecting") << row.box;
        });
        ASSERT_EQ(gFake.messageBoxes.size(), 1u) << row.box;
        EXPECT_EQ(gFake.messageBoxes[0].text, row.box);
        EXPECT_EQ(gFake.messageBoxes[0].owner, (PlatWindow)0x5E01);
        EXPECT_EQ(gFake.messageBoxes[0].caption, "Error");
        EXPECT_EQ(gFake.messageBoxes[0].style, 0x40u);
        for (size_t i = 0; i < 7; i++)
            EXPECT_EQ(gFakeNet.sent.find(std::string("\n") + commands[i]) != std::string::npos ||
                          gFakeNet.sent.compare(0, strlen(commands[i]), commands[i]) == 0,
                      i < row.commandsSent)
                << row.box << " " << commands[i];
        EXPECT_EQ(FakeFileExists(kPath), row.fileKept) << row.box;
        EXPECT_TRUE(BatchStopped()) << row.box;  // the user's Cancel
    }
}

TEST_F(Conversation, ANoStepsReplyIsARefusalAndAnotherStepsReplyAProtocolError)
{
    const std::string queued = "\n\nThe email has been queued in " + kQueueFolderText + "\n";
    struct Row {
        const char *step;
        const char *reply;
        std::string box;
    } rows[] = {
        {"RCPT", "451 4.3.0 Try again later\r\n", "State=DATA. Error: 451 4.3.0 Try again later\r\n\nThe server refused the recipient bob@example.org.\n\nThe server cannot take the message just now: it stays queued; send again later.\n"},
        {"RCPT", "251 User not local\r\n", "State=DATA. Error: 251 User not local\r\n\nThe server refused the recipient bob@example.org.\n"},
        {"HELO", "25\r\n", "State=HELO. Error: 25\r\n"},
        {"HELO", "\r\n", "State=HELO. Error: \r\n"},
        {"MAIL", "334 VXNlcm5hbWU6\r\n",
         "State=RCPT TO. Error: 334 VXNlcm5hbWU6\r\n\nThis is not the reply this step waits for "
         "(250): the server answered another command, or something in between (a proxy) speaks "
         "for it." + queued},
        {"Subject", "554-5.7.1 Refused\r\n250 ok\r\n",
         "State=QUIT. Error: 250 ok\r\n\nThe lines of the server's reply do not share one reply "
         "code: it cannot be told what the reply says." + queued},
    };
    for (const Row &row : rows) {
        SetUp();
        Run([&] { Converse(AcceptExcept(row.step, row.reply)); });
        ASSERT_EQ(gFake.messageBoxes.size(), 1u) << row.reply;
        EXPECT_EQ(gFake.messageBoxes[0].text, row.box);
        EXPECT_TRUE(FakeFileExists(kPath)) << row.reply;
    }
}

// The conversation driven directly, as the window drives it: what the server says comes in
// once all that went out before it is taken, and the channel comes up as soon as it is asked.
struct DirectRun {
    SmtpConversation *c;
    void Act(const SmtpActions &actions)
    {
        for (int i = 0; i < actions.count; i++)
            if (actions.items[i].kind == kActionStartTls) {
                SmtpActions ready = {};
                SecureChannelReady(c, &ready);
                Act(ready);
            }
    }
    void Says(const std::string &bytes)
    {
        SmtpActions added = {};
        AddReplyBytes(c, bytes.data(), bytes.size(), false, &added);
        Act(added);
        for (;;) {
            const char *data;
            size_t length;
            while (PendingOutput(c, &data, &length))
                OutputTaken(c, length);
            SmtpActions step = {};
            if (!TakeNextReply(c, &step))
                return;
            Act(step);
        }
    }
};

class Replies : public Conversation {
protected:
    // A message over plain SMTP, or over STARTTLS with a login; then the segments the server
    // sends, one after the other. True when the server has the message.
    bool Delivered(const std::vector<std::string> &segments, const char *login = nullptr)
    {
        SetUp();
        if (login) {
            FakeSetSetting("Email Setup", "SMTPSecurity", "starttls");
            FakeSetSetting("Email Setup", "SMTPUser", "alice");
            gFakeTls.credentialExists = true;
            gFakeTls.credentialBlob = FakeUtf16("secret");
        }
        EXPECT_EQ(PrepareMessage(kPath, MessageText()), 1);
        EXPECT_EQ(ReadSettings(), 1);
        SmtpConversation &c = TheConversation();
        StartConversation(&c, &Rig().settings, &Rig().message);
        ConnectIssued(&c);
        DirectRun run = {&c};
        for (const std::string &segment : segments)
            run.Says(segment);
        return MessageAccepted(&c);
    }
};

TEST_F(Replies, EachStepTakesOnlyItsOwnCodeAndAnotherStepsCodeKeepsTheMessage)
{
    // Each step's expected reply, in the order the steps go; the EHLO replies name the login.
    struct Sequence {
        const char *login;
        std::vector<std::string> steps, codes;
    } sequences[] = {
        {nullptr,
         {"greeting", "HELO", "RSET", "MAIL FROM", "RCPT TO", "DATA", "message", "QUIT"},
         {"220", "250", "250", "250", "250", "354", "250", "221"}},
        {"PLAIN",
         {"greeting", "EHLO", "STARTTLS", "EHLO", "AUTH PLAIN", "RSET", "MAIL FROM", "RCPT TO",
          "DATA", "message", "QUIT"},
         {"220", "250", "220", "250", "235", "250", "250", "250", "354", "250", "221"}},
        {"LOGIN",
         {"greeting", "EHLO", "STARTTLS", "EHLO", "AUTH LOGIN", "user name", "password", "RSET",
          "MAIL FROM", "RCPT TO", "DATA", "message", "QUIT"},
         {"220", "250", "220", "250", "334", "334", "235", "250", "250", "250", "354", "250",
          "221"}},
    };
    for (const Sequence &sequence : sequences) {
        size_t quit = sequence.steps.size() - 1;
        for (size_t at = 0; at < sequence.steps.size(); at++)
            for (const char *code : {"220", "221", "235", "250", "334", "354"}) {
                std::vector<std::string> segments;
                for (size_t i = 0; i < sequence.steps.size(); i++) {
                    std::string reply = (i == at ? code : sequence.codes[i]) + std::string(" ok\r\n");
                    if (sequence.steps[i] == "EHLO")
                        reply = reply.substr(0, 3) + "-mx\r\n" + reply.substr(0, 3) + " AUTH " +
                                sequence.login + "\r\n";
                    segments.push_back(reply);
                }
                bool expected = sequence.codes[at] == code;
                // After acceptance nothing changes the verdict.
                EXPECT_EQ(Delivered(segments, sequence.login), expected || at == quit)
                    << sequence.steps[at] << " answered " << code;
                const SmtpVerdict &v = TheConversation().verdict;
                if (!expected && at != quit) {
                    EXPECT_EQ(v.kind, kVerdictProtocolError) << sequence.steps[at] << " " << code;
                    EXPECT_EQ(v.fault, kFaultUnexpected) << sequence.steps[at] << " " << code;
                }
                ReleaseMessage();
            }
    }
}

TEST_F(Replies, SequencesThatOnceSlidOntoTheWrongCommandKeepTheMessage)
{
    const std::string ok = "250 ok\r\n";
    const std::vector<std::string> upToData = {"220 mx\r\n", ok, ok, ok, ok, "354 go\r\n"};
    auto then = [&](std::vector<std::string> tail) {
        std::vector<std::string> all = upToData;
        all.insert(all.end(), tail.begin(), tail.end());
        return all;
    };
    struct Row {
        const char *name;
        std::vector<std::string> segments;
        bool delivered;
        SmtpVerdictKind verdict;
    } rows[] = {
        {"the whole sequence", then({"250 queued\r\n"}), true, kVerdictAccepted},
        // A proxy's banner, then in a later segment the server's own greeting: every reply
        // one step behind, up to the 354 that answered DATA taken for the message's.
        {"a banner in a later segment",
         {"220 proxy\r\n", "220 mx\r\n", ok, ok, ok, ok, "354 go\r\n", "554 5.7.1 no\r\n"},
         false, kVerdictProtocolError},
        {"a bare 354 to the message", then({"354 go\r\n", ok}), false, kVerdictProtocolError},
        {"a refusal whose last line is positive", then({"554-5.7.1 Spam\r\n250 ok\r\n"}), false,
         kVerdictProtocolError},
        {"a greeting of mixed codes", {"220-mx\r\n554 no\r\n", ok}, false,
         kVerdictProtocolError},
        {"251 stays a refusal", {"220 mx\r\n", ok, ok, ok, "251 not local\r\n", "354 go\r\n"},
         false, kVerdictRefused},
        // Nothing of an overflowed line counts: not its tail, not what follows.
        {"an overrun refusal", then({"554 " + std::string(761, 'x') + "\r\n250 ok\r\n"}), false,
         kVerdictOverrun},
        {"a line of 511 bytes", then({"250 " + std::string(506, 'x') + "\r\n"}), true,
         kVerdictAccepted},
        {"a line of 512 bytes", then({"250 " + std::string(507, 'x') + "\r\n"}), false,
         kVerdictOverrun},
        {"an overrun after acceptance", then({ok, std::string(600, 'x')}), true,
         kVerdictAccepted},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(Delivered(row.segments), row.delivered) << row.name;
        EXPECT_EQ(TheConversation().verdict.kind, row.verdict) << row.name;
        ReleaseMessage();
    }
}

TEST_F(Conversation, OnlyTheLastLineOfAMultiLineReplyMovesTheConversation)
{
    std::vector<std::string> received;
    Run([&] {
        Converse(
            [&](const std::string &r) {
                received.push_back(r);
                if (r.compare(0, 4, "HELO") == 0)
                    return std::string("250-mx.example.org\r\n250-PIPELINING\r\n250 8BITMIME\r\n");
                return Accept(r);
            },
            "220-mx.example.org ESMTP\r\n220-No UCE\r\n220 Ready\r\n");
    });
    // Exactly one command per reply: HELO alone after the greeting, RSET alone after the
    // three-line answer to HELO.
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(received[0], "HELO accounts.acme.test\r\n");
    EXPECT_EQ(received[1], "RSET\r\n");
    EXPECT_EQ(gFakeNet.sent, ExpectedExchange(kGreetingName, kSender, kRecipient, MessageText()));
    EXPECT_FALSE(FakeFileExists(kPath));
}

TEST_F(Conversation, ANegativeMultiLineReplyShowsItsLastLine)
{
    Run([] { Converse(AcceptExcept("RCPT", "550-5.1.1 No such user\r\n550 5.1.1 Try another\r\n")); });
    ASSERT_EQ(gFake.messageBoxes.size(), 1u);
    EXPECT_EQ(gFake.messageBoxes[0].text, "State=DATA. Error: 550 5.1.1 Try another\r\n\nThe server refused the recipient bob@example.org.\n");
}

TEST_F(Conversation, ALineSplitOverReceivesIsHandledOnceWhenItsLineFeedArrives)
{
    Run([] {
        FakeHostFound("127.0.0.1");
        for (const char *piece : {"22", "0 mx", " ready\r"}) {
            FakeServerSays(piece);
            EXPECT_EQ(gFakeNet.sent, "") << piece;
        }
        FakeServerSays("\n");
        EXPECT_EQ(gFakeNet.sent, "HELO accounts.acme.test\r\n");
        FakeServerSays("250 ok\r\n");
        EXPECT_EQ(gFakeNet.sent, "HELO accounts.acme.test\r\nRSET\r\n");
        FakeServerSays("2");
        FakeServerSays("50 ok\r\n");
        EXPECT_EQ(gFakeNet.sent, "HELO accounts.acme.test\r\nRSET\r\nMAIL FROM:<accounts@acme.test>\r\n");
    });
}

TEST_F(Conversation, LinesWhenNoStepIsAwaitedChangeNothing)
{
    struct Row {
        int state;
        const char *line;
        int lastStep;
    } rows[] = {
        {kStateIdle, "250 ok", -1},
        {kStateRset, "250 ok", -1},
        {kStateDone, "250 ok", -1},
        {kStateIdle, "550 no", -1},  // nothing to report before the connect
        {kStateDone, "550 no", -1},  // nor after delivery
    };
    ASSERT_EQ(PrepareMessage(kPath, MessageText()), 1);
    for (const Row &row : rows) {
        SmtpConversation &c = TheConversation();
        StartConversation(&c, &Rig().settings, &Rig().message);
        c.state = row.state;
        SmtpActions actions = {};
        HandleReplyLine(&c, row.line, strlen(row.line), false, &actions);
        const char *data;
        size_t length;
        EXPECT_FALSE(PendingOutput(&c, &data, &length)) << row.line;
        EXPECT_EQ(c.state, row.state) << row.line;
        EXPECT_EQ(c.lastStepState, row.lastStep) << row.line;
        // Nothing to do but log the line.
        ASSERT_EQ(actions.count, 1) << row.line;
        EXPECT_EQ(actions.items[0].kind, kActionLogReceived) << row.line;
    }
}

TEST_F(Conversation, AnOverrunLineFailsTheMessageWithItsBox)
{
    Run([] {
        FakeHostFound("127.0.0.1");
        FakeServerSays("220 ready\r\n");  // state 2: awaiting the reply to HELO
        FakeServerSays(std::string(255, 'x'));
        FakeServerSays(std::string(255, 'y'));
        FakeServerSays("z");  // 511: still fits
        EXPECT_TRUE(gFake.messageBoxes.empty());
        FakeServerSays("!");  // 512: too much
        EXPECT_TRUE(gFakeDialog.ended);
    });
    ASSERT_EQ(gFake.messageBoxes.size(), 1u);
    EXPECT_EQ(gFake.messageBoxes[0].text, "Buffer overrun\n");
    EXPECT_EQ(gFake.messageBoxes[0].owner, (PlatWindow)0x5E01);
    EXPECT_EQ(gFakeNet.sent, "HELO accounts.acme.test\r\n");
    EXPECT_TRUE(FakeFileExists(kPath));
    EXPECT_TRUE(BatchStopped());
}

TEST_F(Conversation, AClosedOrBrokenConnectionEndsTheWindowAndTheBatch)
{
    struct Row {
        const char *name;
        int repliesFirst;  // positive replies before the failure
        bool closed;       // else a receive error
        const char *box;
        bool fileKept;
    } rows[] = {
        {"closed after greeting", 1, true, "Connection closed unexpectedly\n", true},
        {"receive error", 3, false, "Error receiving data (-1)\n\n", true},
        {"closed before the greeting", 0, true, "Connection closed unexpectedly\n", true},

    };
    for (const Row &row : rows) {
        SetUp();
        Run([&] {
            int answered = 0;
            Converse([&](const std::string &r) -> std::string {
                if (++answered < row.repliesFirst)
                    return Accept(r);
                return "";
            }, row.repliesFirst > 0 ? "220 ready\r\n" : "");
            if (row.closed)
                gFakeNet.peerClosed = true;
            else
                gFakeNet.receiveError = 10054;
            FakeSocketEvent(PLAT_FD_READ);
            EXPECT_TRUE(gFakeDialog.ended) << row.name;
        });
        ASSERT_EQ(gFake.messageBoxes.size(), 1u) << row.name;
        EXPECT_EQ(gFake.messageBoxes[0].text, row.box) << row.name;
        EXPECT_EQ(gFake.messageBoxes[0].owner, (PlatWindow)0x5E01) << row.name;
        EXPECT_EQ(FakeFileExists(kPath), row.fileKept) << row.name;
        EXPECT_TRUE(BatchStopped()) << row.name;
        EXPECT_TRUE(SelfClosed()) << row.name;
    }
}

TEST_F(Conversation, AnEmptyReadEventIsNoFailure)
{
    Run([] {
        FakeHostFound("127.0.0.1");
        FakeServerSays("220 ready\r\n");
        FakeSocketEvent(PLAT_FD_READ);  // nothing waiting: would block
        FakeSocketEvent(PLAT_FD_WRITE);
        FakeSocketEvent(PLAT_FD_CONNECT);
        EXPECT_TRUE(gFake.messageBoxes.empty());
        EXPECT_FALSE(gFakeDialog.ended);
    });
    EXPECT_TRUE(BatchStopped());  // the user's Cancel at the end
}

TEST_F(Conversation, TheCloseNotificationReadsWhatIsLeftThenEndsTheWindow)
{
    struct Row {
        const char *name;
        int replies;             // positive replies before the server closes
        const char *lastWords;   // what it sent just before closing, unread
        std::vector<std::string> boxes;
        bool fileKept;
    } rows[] = {
        {"nothing waiting", 1, "", {"Connection closed unexpectedly\n"}, true},
        {"a positive reply waiting", 3, "250 ok\r\n", {"Connection closed unexpectedly\n"}, true},
        // The 421's box has told the user: no second box for the close.
        {"a last negative reply waiting", 3, "421 4.3.2 Shutting down\r\n",
         {"State=RCPT TO. Error: 421 4.3.2 Shutting down\r\n\nThe server cannot take the message just now: it stays queued; send again later.\n"}, true},
        // The server has the message: QUIT goes out (or not), the file goes, no box.
        {"after acceptance", 6, "250 queued\r\n", {}, false},
        {"the goodbye waiting", 7, "221 bye\r\n", {}, false},
    };
    for (const Row &row : rows) {
        SetUp();
        Run([&] {
            int answered = 0;
            Converse([&](const std::string &r) -> std::string {
                return ++answered < row.replies ? Accept(r) : std::string();
            }, "220 ready\r\n");
            gFakeNet.inbound = row.lastWords;
            gFakeNet.peerClosed = true;
            FakeSocketEvent(PLAT_FD_CLOSE);
            EXPECT_TRUE(gFakeDialog.ended) << row.name;
        });
        std::vector<std::string> boxes;
        for (auto &b : gFake.messageBoxes)
            boxes.push_back(b.text);
        EXPECT_EQ(boxes, row.boxes) << row.name;
        EXPECT_EQ(FakeFileExists(kPath), row.fileKept) << row.name;
        EXPECT_EQ(BatchStopped(), !row.boxes.empty()) << row.name;
    }
}

TEST_F(Conversation, TheVerdictIsFinalWhateverTheServerSaysNext)
{
    struct Row {
        const char *name;
        const char *step;      // the command answered with reply ("" for the greeting)
        const char *reply;
        const char *box;       // the start of the one box, "" for none
        const char *lastSent;  // the last command that went out
        bool fileKept, batchStops;
    } rows[] = {
        {"a refusal, then positive lines", "RCPT", "550 5.1.1 No\r\n250 ok\r\n",
         "State=DATA. Error: 550 5.1.1 No", "RCPT TO:<bob@example.org>\r\n", true, true},
        {"the message refused, then a stray 250", "Subject", "554 5.7.1 Spam\r\n250 ok\r\n",
         "State=QUIT. Error: 554 5.7.1 Spam", "\r\n.\r\n", true, true},
        {"a doubled greeting", "", "220 proxy ready\r\n220 mx ready\r\n",
         "State=HELO. Error: 220 mx ready", "HELO accounts.acme.test\r\n", true, true},
        {"a refused QUIT after acceptance", "QUIT", "421 4.3.2 Going down\r\n", "", "QUIT\r\n",
         false, false},
    };
    for (const Row &row : rows) {
        SetUp();
        Run([&] {
            if (row.step[0] == '\0')
                Converse(Accept, row.reply);
            else
                Converse(AcceptExcept(row.step, row.reply));
            if (!gFakeDialog.ended)
                FakeUserCancel();  // what the user does after a refusal
        });
        if (row.box[0] == '\0') {
            EXPECT_TRUE(gFake.messageBoxes.empty()) << row.name;
        } else {
            ASSERT_EQ(gFake.messageBoxes.size(), 1u) << row.name;
            EXPECT_EQ(gFake.messageBoxes[0].text.compare(0, strlen(row.box), row.box), 0)
                << row.name << ": " << gFake.messageBoxes[0].text;
        }
        const std::string &sent = gFakeNet.sent;
        EXPECT_EQ(sent.compare(sent.size() - strlen(row.lastSent), std::string::npos, row.lastSent), 0)
            << row.name;
        EXPECT_EQ(FakeFileExists(kPath), row.fileKept) << row.name;
        EXPECT_EQ(BatchStopped(), row.batchStops) << row.name;
    }
    // A close after acceptance, before QUIT is answered: delivered, no box.
    SetUp();
    Run([] {
        Converse([](const std::string &r) { return r == "QUIT\r\n" ? std::string() : Accept(r); });
        gFakeNet.peerClosed = true;
        FakeSocketEvent(PLAT_FD_CLOSE);
    });
    EXPECT_TRUE(gFake.messageBoxes.empty());
    EXPECT_FALSE(FakeFileExists(kPath));
    EXPECT_FALSE(BatchStopped());
}

TEST_F(Conversation, ACommandTakenInPartIsFinishedBeforeAnyReplyCounts)
{
    Run([] {
        FakeHostFound("127.0.0.1");
        gFakeNet.sendLimits = {5, 0};  // "HELO " taken, then the socket is full
        FakeServerSays("220 ready\r\n");
        EXPECT_EQ(gFakeNet.sent, "HELO ");
        FakeServerSays("250 early\r\n");  // cannot answer a command not yet sent: held
        EXPECT_EQ(gFakeNet.sent, "HELO ");
        EXPECT_EQ(State(), kStateHelo);
        FakeSocketEvent(PLAT_FD_WRITE);  // room again: the rest, then the held reply, which
        EXPECT_EQ(gFakeNet.sent, "HELO accounts.acme.test\r\n");  // answers nothing
        EXPECT_TRUE(gFakeDialog.ended);
    });
    ASSERT_EQ(gFake.messageBoxes.size(), 1u);
    EXPECT_EQ(gFake.messageBoxes[0].text.rfind("State=HELO. Error: 250 early\r\n\nThe server sent", 0), 0u);
    EXPECT_TRUE(FakeFileExists(kPath));
}

TEST_F(Conversation, AMessageOfManyPiecesGoesOutWholeAndInOrder)
{
    // 300 KB with dot lines and bare line ends, through a socket that takes 1000 bytes at a
    // time and is then full until the next write event.
    std::string body;
    for (int i = 0; body.size() < 300000; i++)
        body += (i % 5 == 0 ? ".dot line " : "line ") + std::to_string(i) + (i % 7 == 0 ? "\n" : "\r\n");
    std::string file = MessageText("<bob@example.org>", "<accounts@acme.test>", "", "", body);
    size_t position = 0;
    int lineStart = 1;
    std::string encoded(2 * file.size() + 16, '\0');
    encoded.resize(EncodeTransparent(file.data(), file.size(), &position, &lineStart, &encoded[0], encoded.size()));

    Run([&] {
        Converse([&](const std::string &r) -> std::string {
            if (r.compare(0, 4, "DATA") != 0)
                return Accept(r);
            for (int i = 0; i < 2000; i++) {
                gFakeNet.sendLimits.push_back(1000);
                gFakeNet.sendLimits.push_back(0);
            }
            FakeServerSays("354 go ahead\r\n");
            auto complete = [] {
                const std::string &s = gFakeNet.sent;
                return s.size() >= 5 && s.compare(s.size() - 5, 5, "\r\n.\r\n") == 0;
            };
            for (int i = 0; i < 1000 && !complete(); i++)
                FakeSocketEvent(PLAT_FD_WRITE);
            EXPECT_TRUE(complete());
            EXPECT_GT(gFakeNet.sendCalls, 600);  // many pieces, many write events
            gFakeNet.sendLimits.clear();
            return "250 queued\r\n";
        });
    }, file);
    std::string data = gFakeNet.sent.substr(gFakeNet.sent.find("DATA\r\n") + 6);
    EXPECT_EQ(data.size(), encoded.size() + 11);
    EXPECT_TRUE(data == encoded + "\r\n.\r\nQUIT\r\n");  // compared whole, not printed
    EXPECT_FALSE(FakeFileExists(kPath));
}

TEST_F(Conversation, ASendThatFailsMidMessageLeavesTheReplyToDecide)
{
    Run([] {
        Converse([](const std::string &r) -> std::string {
            if (r.compare(0, 4, "DATA") == 0) {
                gFakeNet.sendLimits = {100, -1};
                return "354 go ahead\r\n";
            }
            if (r.compare(0, 7, "Subject") == 0)
                return "552 5.3.4 Message too big\r\n";
            return Accept(r);
        });
    });
    ASSERT_EQ(gFake.messageBoxes.size(), 1u);
    EXPECT_EQ(gFake.messageBoxes[0].text, "State=QUIT. Error: 552 5.3.4 Message too big\r\n\nThe message is too large for this server: send it with smaller attachments.\n");
    EXPECT_TRUE(FakeFileExists(kPath));
}

}  // namespace
