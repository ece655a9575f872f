// The table of the host settings file's keys. Section and key names are the host
// application's and the stored files' spelling: they never change.
#include "settings_table.h"

static const char kRunTime[] = "Run-Time Options";
static const char kAccess[] = "Microsoft Access";
static const char kEmail[] = "Email Setup";

const SettingDef kSettingsTable[kSettingKeyCount] = {
    {kKeyHelpFile, kRunTime, "HelpFile", kUseRead, kTypePath, "", "",
     "the help file's full path; its folder is the program directory"},
    {kKeyHostWindow, kAccess, "hWnd", kUseRead, kTypeNumber, "", "",
     "the host application's main window handle (decimal)"},
    {kKeyLastDataFile, kAccess, "LastNonFloppyTillwick", kUseRead, kTypePath, "", "",
     "the last data file opened; its folder's lock files are cleaned up"},
    {kKeyInitialDir, kAccess, "InitialDir", kUseRead, kTypePath, "", "the program directory",
     "start folder of the open-file dialog"},
    {kKeyFileSpec, kAccess, "FileSpec", kUseRead, kTypeText,
     "Tillwick Files (*.tw)|*.tw|Old Tillwick Files (*.mdb)|*.mdb|", "",
     "filter list of the open-file dialog (`Desc|*.ext|...|`)"},
    {kKeyDlgTitle, kAccess, "DlgTitle", kUseRead, kTypeText, "", "",
     "title of the open-file dialog and of the folder browser"},
    {kKeyFileSelected, kAccess, "FileSelected", kUseWritten, kTypePath, "", "",
     "short path of the chosen or opened file, or `CANCELLED`"},
    {kKeyFileSelectedLong, kAccess, "FileSelectedLong", kUseWritten, kTypePath, "", "",
     "full path of the chosen or opened file, or `CANCELLED`"},
    {kKeyFolderSelected, kAccess, "FolderSelected", kUseWritten, kTypePath, "", "",
     "short path of the chosen folder, or `CANCELLED`"},
    {kKeyFolderSelectedLong, kAccess, "FolderSelectedLong", kUseWritten, kTypePath, "", "",
     "full path of the chosen folder, or `CANCELLED`"},
    {kKeyQifFile, kAccess, "QIFFile", kUseWritten, kTypePath, "", "",
     "short path of a QIF file to import"},
    {kKeyQifFileLong, kAccess, "QIFFileLong", kUseWritten, kTypePath, "", "",
     "full path of a QIF file to import"},
    {kKeyDpiLogicalX, kAccess, "DPILogicalX", kUseWritten, kTypeNumber, "", "",
     "the screen's horizontal logical pixels per inch"},
    {kKeySmtpServer, kEmail, "SMTPServer", kUseReadWritten, kTypeText, "", "",
     "the mail server"},
    {kKeySmtpPort, kEmail, "SMTPPort", kUseReadWritten, kTypeNumber, "", "",
     "the mail server's port"},
    {kKeySmtpSecurity, kEmail, "SMTPSecurity", kUseReadWritten, kTypeChoice, "", "`none`",
     "`starttls`, `tls` or `none`: how the connection is protected (see below)"},
    {kKeySmtpUser, kEmail, "SMTPUser", kUseReadWritten, kTypeText, "", "no login",
     "the login's user name; with an API or a sign-in, the account (see below)"},
    {kKeySmtpAuth, kEmail, "SMTPAuth", kUseReadWritten, kTypeChoice, "", "`password`",
     "`password` or `xoauth2`: how the login proves itself (see below); Email Setup removes it"},
    {kKeyMailLog, kEmail, "MailLog", kUseRead, kTypePath, "", "no log",
     "a log file for support (see below)"},
    {kKeyMailApi, kEmail, "MailAPI", kUseReadWritten, kTypeChoice, "", "SMTP",
     "`graph` or `gmail` sends through that API instead of SMTP, with the sign-in (see below)"},
    {kKeyMailApiUrl, kEmail, "MailAPIURL", kUseRead, kTypeUrl, "", "the API's own endpoint",
     "another https address to post the mail to"},
    {kKeyOAuthProvider, kEmail, "OAuthProvider", kUseReadWritten, kTypeChoice, "", "",
     "`microsoft`, `google` or `custom`: the provider of the sign-in"},
    {kKeyOAuthClientId, kEmail, "OAuthClientId", kUseRead, kTypeText, "", "",
     "the client ID of the application registered for the sign-in"},
    {kKeyOAuthClientSecret, kEmail, "OAuthClientSecret", kUseRead, kTypeText, "", "none sent",
     "the registration's client secret, where it has one"},
    {kKeyOAuthTenant, kEmail, "OAuthTenant", kUseRead, kTypeText, "", "`organizations`",
     "Microsoft only: the tenant that signs the account in"},
    {kKeyOAuthAuthorizeUrl, kEmail, "OAuthAuthorizeURL", kUseRead, kTypeUrl, "",
     "the provider's", "overrides the provider's sign-in endpoint"},
    {kKeyOAuthTokenUrl, kEmail, "OAuthTokenURL", kUseRead, kTypeUrl, "", "the provider's",
     "overrides the provider's token endpoint"},
    {kKeyOAuthScope, kEmail, "OAuthScope", kUseRead, kTypeText, "",
     "the provider's for the way out", "overrides the scope the sign-in asks for"},
};

const SettingDef *GetSettingDef(SettingKey key) { return &kSettingsTable[key]; }

const char *SettingUseName(SettingUse use)
{
    switch (use) {
    case kUseRead:
        return "read";
    case kUseWritten:
        return "written";
    default:
        return "read and written";
    }
}

const char *SettingTypeName(SettingType type)
{
    static const char *const kNames[] = {"text", "path", "number", "choice", "URL"};
    return kNames[type];
}
