// The mail log's path rule: a share, a device path or a file named like a DOS device turns
// the log off (Windows would write to the network or to the device); other paths keep it on.
#include <gtest/gtest.h>

#include <memory>

#include "fake/fake.h"
#include "mail/jobs/mail_log.h"
#include "mail_support.h"

namespace {

TEST(MailLogPath, SharesDevicesAndDeviceNamesTurnTheLogOff)
{
    struct Row {
        const char *setting;
        const char *path;  // where the log goes; nullptr: off
    } rows[] = {
        {"C:\\Logs\\mail.log", "C:\\Logs\\mail.log"},
        {"logs/mail.log", "C:\\Program Files\\Tillwick Orvenda\\logs/mail.log"},
        {"\\Logs\\console.log", "\\Logs\\console.log"},
        {"C:\\Logs\\com10.log", "C:\\Logs\\com10.log"},
        {"nullable", "C:\\Program Files\\Tillwick Orvenda\\nullable"},
        {"\\\\server\\share\\mail.log", nullptr},
        {"//server/share/mail.log", nullptr},
        {"\\/server\\share\\mail.log", nullptr},
        {"\\\\?\\C:\\Logs\\mail.log", nullptr},
        {"\\\\.\\C:\\Logs\\mail.log", nullptr},
        {"\\??\\UNC\\server\\share\\mail.log", nullptr},
        {"NUL", nullptr},
        {"C:\\Logs\\con.log", nullptr},
        {"Logs/Com1.txt", nullptr},
        {"C:lpt9", nullptr},
        {"aux .log", nullptr},
        {"C:\\Logs\\CONOUT$", nullptr},
        {"C:\\Logs\\prn:", nullptr},
    };
    auto log = std::make_unique<MailLog>();
    for (const Row &row : rows) {
        SCOPED_TRACE(row.setting);
        FakeReset();
        mailtest::ConfigureMail();
        FakeSetSetting("Email Setup", "MailLog", row.setting);
        OpenMailLog(log.get());
        EXPECT_EQ(log->enabled, row.path != nullptr);
        if (row.path) {
            EXPECT_STREQ(log->path, row.path);
        }
    }
}

}  // namespace
