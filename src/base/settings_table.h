// Every key of the host settings file, declared once: its section and name as the host
// application and the stored files spell them, whether the utility reads or writes it, its
// type and default, and one line of meaning. Reads, writes and the README's table of keys
// all come from here.
#pragma once

enum SettingKey {
    kKeyHelpFile = 0,
    kKeyHostWindow,
    kKeyLastDataFile,
    kKeyInitialDir,
    kKeyFileSpec,
    kKeyDlgTitle,
    kKeyFileSelected,
    kKeyFileSelectedLong,
    kKeyFolderSelected,
    kKeyFolderSelectedLong,
    kKeyQifFile,
    kKeyQifFileLong,
    kKeyDpiLogicalX,
    kKeySmtpServer,
    kKeySmtpPort,
    kKeySmtpSecurity,
    kKeySmtpUser,
    kKeySmtpAuth,
    kKeyMailLog,
    kKeyMailApi,
    kKeyMailApiUrl,
    kKeyOAuthProvider,
    kKeyOAuthClientId,
    kKeyOAuthClientSecret,
    kKeyOAuthTenant,
    kKeyOAuthAuthorizeUrl,
    kKeyOAuthTokenUrl,
    kKeyOAuthScope,
    kSettingKeyCount
};

// Which way a key goes: the host writes what the utility reads, and reads what it writes.
enum SettingUse {
    kUseRead = 1,
    kUseWritten = 2,
    kUseReadWritten = kUseRead | kUseWritten,  // read by the jobs, written by Email Setup
};

enum SettingType {
    kTypeText = 0,
    kTypePath,
    kTypeNumber,
    kTypeChoice,  // one of the words the meaning names
    kTypeUrl,
};

struct SettingDef {
    SettingKey key;       // the row's own key: the table is in the enum's order
    const char *section;
    const char *name;
    SettingUse use;
    SettingType type;
    const char *def;      // what a read of the absent key gives ("": nothing)
    const char *absent;   // what an absent key means where the job decides it ("" when def says it)
    const char *meaning;
};

extern const SettingDef kSettingsTable[kSettingKeyCount];

// The row of key.
const SettingDef *GetSettingDef(SettingKey key);

// "read", "written" or "read and written"; "text", "path", "number", "choice" or "URL".
const char *SettingUseName(SettingUse use);
const char *SettingTypeName(SettingType type);
