// The send-queue batch: the pre-flight and its exit code, the order and fate of the files,
// invalid files, the batch stopping at the first failure, single-file and pattern arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake/fake_oauth.h"
#include "mail/jobs/send_queue.h"
#include "mail_support.h"

using namespace mailtest;

namespace {

const std::string kTail =
    ".\n\nPlease delete the file manually otherwise it will be emailed again.  If Windows won't let "
    "you delete it then re-start your PC and try again.";

class SendQueue : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeReset();
        ReleaseMessage();
        ConfigureMail();
    }
    void TearDown() override { ReleaseMessage(); }

    // Each window that opens meets a willing server.
    static void ServeWindows(int count, const std::function<void()> &script = [] { Converse(); })
    {
        for (int i = 0; i < count; i++)
            gFakeDialog.scripts.push_back(script);
    }
    std::vector<std::string> BoxTexts() const
    {
        std::vector<std::string> texts;
        for (auto &b : gFake.messageBoxes)
            texts.push_back(b.text);
        return texts;
    }
    int Email(const std::string &argument = "")
    {
        return SendQueuedEmail(argument.c_str());
    }
};

TEST_F(SendQueue, PreflightFailuresExitWithOne)
{
    struct Row {
        const char *name;
        const char *server;
        const char *port;
        int startupError;
        unsigned short granted;
        const char *box;
        int startups, cleanups;
    } rows[] = {
        {"no server", nullptr, "25", 0, 0x0101, "Please setup your SMTP Server in Tillwick Orvenda.", 0, 0},
        {"no port", "mail.example.com", "", 0, 0x0101, "Please setup your SMTP Port in Tillwick Orvenda.", 0, 0},
        {"no Winsock", "mail.example.com", "25", 10091, 0x0101, "Error starting Winsock\n", 1, 0},
        {"wrong version", "mail.example.com", "25", 0, 0x0202, "Wrong Winsock Version\n", 1, 1},
    };
    for (const Row &row : rows) {
        SetUp();
        gFake.ini.clear();
        ConfigureMail(row.server, row.port);
        gFakeNet.startupError = row.startupError;
        gFakeNet.grantedVersion = row.granted;
        QueueFile("S1.txt", MessageText());
        EXPECT_EQ(Email(), 1) << row.name;
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{row.box}) << row.name;
        EXPECT_EQ(gFake.messageBoxes[0].owner, 0u) << row.name;
        EXPECT_EQ(gFakeNet.startups, row.startups) << row.name;
        EXPECT_EQ(gFakeNet.cleanups, row.cleanups) << row.name;
        EXPECT_EQ(gFakeDialog.shown, 0) << row.name;
        EXPECT_TRUE(FakeFileExists(kQueueDir + "S1.txt")) << row.name;
    }
    EXPECT_EQ(gFakeNet.versionAsked, 0x0101);
}

TEST_F(SendQueue, AnEmptyQueueShowsNothingAndExitsWithZero)
{
    EXPECT_EQ(Email(), 0);
    EXPECT_TRUE(gFake.messageBoxes.empty());
    EXPECT_EQ(gFakeDialog.shown, 0);
    EXPECT_EQ(gFakeNet.cleanups, 1);
    EXPECT_NE(std::find(gFake.calls.begin(), gFake.calls.end(), "FindFirst(" + kQueueDir + "*.txt)"),
              gFake.calls.end());
}

TEST_F(SendQueue, ThreeValidFilesGoOutOneAfterTheOther)
{
    QueueFile("I1042.txt", MessageText("<a@example.org>", "<accounts@acme.test>", "", "Invoice 1042 for Acme Ltd"));
    QueueFile("I1043.txt", MessageText("<b@example.org>", "<accounts@acme.test>", "<c@example.org>"));
    QueueFile("S77.txt", MessageText("<d@example.org>"));
    gFake.files["C:\\Elsewhere\\S1.txt"] = MessageText();
    ServeWindows(3);
    EXPECT_EQ(Email(), 0);
    EXPECT_EQ(gFakeDialog.shown, 3);
    for (auto &statuses : gFakeDialog.statusByWindow)
        EXPECT_EQ(statuses.back(), "Email Sent");
    EXPECT_EQ(gFakeDialog.statusByWindow[0][3], "Sending: Invoice 1042 for Acme Ltd");
    EXPECT_TRUE(gFake.messageBoxes.empty());
    EXPECT_EQ(gFake.deletedFiles, (std::vector<std::string>{kQueueDir + "I1042.txt", kQueueDir + "I1043.txt",
                                                             kQueueDir + "S77.txt"}));
    EXPECT_TRUE(FakeFileExists("C:\\Elsewhere\\S1.txt"));
    EXPECT_EQ(gFakeNet.cleanups, 1);
}

TEST_F(SendQueue, InvalidFilesAreReportedDeletedAndPassedOver)
{
    struct Row {
        const char *name;
        std::string file;
        std::string content;
        std::string text;
        int windows = 1;
    } rows[] = {
        {"no From", "S1.txt", "Subject: x\r\nTo: <b@x.y>\r\n\r\nHi",
         "Could not send Statement.  You will need to email it again.\n\nReason:\n\nMissing a From Email Address in " +
             kQueueDir + "S1.txt"},
        {"no To, invoice", "I1042.txt", "Subject: x\r\nFrom: <a@b.c>\r\n\r\nHi",
         "Could not send Invoice number 1042.  You will need to email it again.\n\nReason:\n\nMissing a To Email "
         "Address in " + kQueueDir + "I1042.txt."},
        {"no To, with a description", "I1042.txt", "Invoice 1042 for Acme Ltd\r\nFrom: <a@b.c>\r\nSubject: x\r\n",
         "Could not send Invoice 1042 for Acme Ltd.  You will need to email it again.\n\nReason:\n\nMissing a To "
         "Email Address in " + kQueueDir + "I1042.txt."},
        {"empty", "S2.txt", "",
         "Could not send Statement.  You will need to email it again.\n\nReason:\n\n" + kQueueDir +
             "S2.txt is missing all details. You may need to delete this file manually."},
        // Found by the body's scan while its window was made: the window ends unseen.
        {"a zero byte", "S3.txt", std::string("Subject: x\r\nTo: <b@x.y>\r\nFrom: <a@b.c>\r\n\r\nA\0B", 46),
         "Could not send Statement.  You will need to email it again.\n\nReason:\n\nCan't open " + kQueueDir +
             "S3.txt. You may need to delete this file manually.", 2},
    };
    for (const Row &row : rows) {
        SetUp();
        QueueFile(row.file, row.content);
        QueueFile("Z9.txt", MessageText());  // after it in the search: still sent
        ServeWindows(row.windows);
        EXPECT_EQ(Email(), 0) << row.name;
        ASSERT_EQ(gFake.messageBoxes.size(), 1u) << row.name;
        EXPECT_EQ(gFake.messageBoxes[0].text, row.text) << row.name;
        EXPECT_EQ(gFake.messageBoxes[0].owner, 0u) << row.name;
        EXPECT_EQ(gFake.messageBoxes[0].caption, "Error") << row.name;
        EXPECT_EQ(gFake.messageBoxes[0].style, 0x40u) << row.name;
        EXPECT_FALSE(FakeFileExists(kQueueDir + row.file)) << row.name;
        EXPECT_FALSE(FakeFileExists(kQueueDir + "Z9.txt")) << row.name;
        EXPECT_EQ(gFakeDialog.shown, row.windows) << row.name;
        EXPECT_TRUE(gFakeDialog.statusByWindow.front().empty() == (row.windows == 2)) << row.name;
    }
}

TEST_F(SendQueue, AnInvalidFileThatCannotBeDeletedIsReportedTwice)
{
    QueueFile("S1.txt", "Subject: x\r\n");
    gFake.lockedFiles[kQueueDir + "S1.txt"] = true;
    EXPECT_EQ(Email(), 0);
    ASSERT_EQ(gFake.messageBoxes.size(), 2u);
    EXPECT_EQ(gFake.messageBoxes[0].text,
              "Could not send Statement.  You will need to email it again.\n\nReason:\n\nCan't open " + kQueueDir +
                  "S1.txt. You may need to delete this file manually.");
    EXPECT_EQ(gFake.messageBoxes[1].text, "Could not delete " + kQueueDir + "S1.txt" + kTail);
    EXPECT_EQ(gFake.messageBoxes[1].owner, 0u);
}

TEST_F(SendQueue, TheFirstFailureStopsTheBatchAndTheRestStaysQueued)
{
    struct Row {
        const char *name;
        std::function<void()> firstWindow;
        bool firstKept;
    } rows[] = {
        {"time-out", [] {
             FakeHostFound("127.0.0.1");
             FakeServerSays("220 ready\r\n");
             FakeTimerFires();
         }, true},
        {"user's Cancel", [] { FakeHostFound("127.0.0.1"); }, true},
        {"refused connect", [] {
             FakeHostFound("127.0.0.1");
             FakeSocketEvent(PLAT_FD_CONNECT, 10061);
         }, true},
    };
    for (const Row &row : rows) {
        SetUp();
        QueueFile("S1.txt", MessageText());
        QueueFile("S2.txt", MessageText());
        QueueFile("S3.txt", MessageText());
        gFakeDialog.scripts.push_back(row.firstWindow);
        ServeWindows(2);
        EXPECT_EQ(Email(), 0) << row.name;
        EXPECT_EQ(gFakeDialog.shown, 1) << row.name;
        EXPECT_EQ(FakeFileExists(kQueueDir + "S1.txt"), row.firstKept) << row.name;
        EXPECT_TRUE(FakeFileExists(kQueueDir + "S2.txt")) << row.name;
        EXPECT_TRUE(FakeFileExists(kQueueDir + "S3.txt")) << row.name;
        EXPECT_EQ(gFakeNet.cleanups, 1) << row.name;
    }
}

TEST_F(SendQueue, AFileThatCannotBeComposedNowStaysQueuedAndStopsTheBatch)
{
    // Without a Message-ID of its own the file needs random bytes, and the source fails.
    gFakeOAuth.randomFails = true;
    QueueFile("S1.txt", "To: <b@x.y>\r\nFrom: <a@b.c>\r\nSubject: x\r\n\r\nHi\r\n");
    QueueFile("S2.txt", MessageText());
    ServeWindows(2);
    EXPECT_EQ(Email(), 0);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{
                              kQueueDir + "S1.txt could not be prepared for sending just now: "
                              "Windows did not provide the memory or the random numbers it needs. "
                              "Please send it again later.\n\nThe email has been queued in " +
                              kQueueDir + "\n"});
    EXPECT_EQ(gFake.messageBoxes[0].owner, 0u);
    EXPECT_TRUE(FakeFileExists(kQueueDir + "S1.txt"));
    EXPECT_TRUE(FakeFileExists(kQueueDir + "S2.txt"));
    EXPECT_TRUE(gFakeNet.sent.empty());
}

TEST_F(SendQueue, AnArgumentSendsThatOneFileWhereverItIs)
{
    gFake.files["D:\\Out\\I5.txt"] = MessageText();
    QueueFile("S1.txt", MessageText());
    ServeWindows(2);
    EXPECT_EQ(Email("D:\\Out\\I5.txt"), 0);
    EXPECT_EQ(gFakeDialog.shown, 1);
    EXPECT_FALSE(FakeFileExists("D:\\Out\\I5.txt"));
    EXPECT_TRUE(FakeFileExists(kQueueDir + "S1.txt"));
    // Naming no file: nothing at all.
    SetUp();
    EXPECT_EQ(Email("D:\\Out\\none.txt"), 0);
    EXPECT_EQ(gFakeDialog.shown, 0);
    EXPECT_TRUE(gFake.messageBoxes.empty());
}

TEST_F(SendQueue, APatternArgumentSendsEachMatchByItsOwnPath)
{
    gFake.files["D:\\Out\\I5.txt"] = MessageText();
    gFake.files["D:\\Out\\I6.txt"] = MessageText();
    gFake.files["D:\\Out\\note.doc"] = "x";
    ServeWindows(2);
    EXPECT_EQ(Email("D:\\Out\\I*.txt"), 0);
    EXPECT_EQ(gFakeDialog.shown, 2);
    EXPECT_EQ(gFake.deletedFiles, (std::vector<std::string>{"D:\\Out\\I5.txt", "D:\\Out\\I6.txt"}));
    EXPECT_TRUE(gFake.messageBoxes.empty());
}

TEST_F(SendQueue, AQueuePathLongerThan259IsSkippedAndLeftInPlace)
{
    std::string longName = std::string(259 - kQueueDir.size() - 4, 'n') + ".txt";  // exactly 259
    std::string tooLong = "o" + longName;                                          // 260
    QueueFile(longName, MessageText());
    QueueFile(tooLong, MessageText());
    ServeWindows(2);
    EXPECT_EQ(Email(), 0);
    EXPECT_EQ(gFakeDialog.shown, 1);
    EXPECT_FALSE(FakeFileExists(kQueueDir + longName));
    EXPECT_TRUE(FakeFileExists(kQueueDir + tooLong));
}

TEST_F(SendQueue, TheSelfCloseFlagIsClearedForEachFile)
{
    QueueFile("S1.txt", MessageText());
    QueueFile("S2.txt", MessageText());
    QueueFile("S3.txt", MessageText());
    ServeWindows(1);
    gFakeDialog.scripts.push_back([] {
        // The first window closed itself; this one starts afresh.
        EXPECT_FALSE(((SendingWindow *)gFakeDialog.context)->selfClose);
        FakeHostFound("127.0.0.1");
    });
    EXPECT_EQ(Email(), 0);
    // The user's Cancel in the second window stops the batch: the third is not attempted.
    EXPECT_EQ(gFakeDialog.shown, 2);
}

}  // namespace
