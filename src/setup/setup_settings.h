// The values of the Email Setup window and section "Email Setup": what the window shows on
// opening, the checks a save must pass, and the save itself (the settings file, and the
// password in the credential store).
#pragma once
#include <cstddef>

#include "find_settings.h"

// Room for a field as the window reads it; a value the settings file can hold is shorter
// (kSettingMax), which the checks hold it to.
const size_t kSetupFieldSize = 1024;
// The most UTF-16 units of a password the credential store takes.
const size_t kSetupPasswordUnits = kCredentialBlobMax / 2;

struct SetupValues {
    SetupWay way;
    char address[kSetupFieldSize];  // the e-mail address
    char server[kSetupFieldSize];   // another mail server: its name
    char port[kSetupFieldSize];     // as typed
    MailSecurity security;
    char user[kSetupFieldSize];     // the login's user name; "" for none
    bool passwordGiven;             // a password typed in the window, or one stored
};

// The window's fields, each named as its label reads.
enum SetupField {
    kFieldNone = 0,
    kFieldAddress,
    kFieldServer,
    kFieldPort,
    kFieldUser,
    kFieldSecurity,
    kFieldPassword,
};

// The current settings: "MailAPI" graph or gmail picks that provider (the address from
// "SMTPUser"); otherwise another mail server from "SMTPServer", "SMTPPort", "SMTPSecurity"
// (none when absent or not understood) and "SMTPUser" (also the address when it has an "@").
// The server's fields are read in either case.
void ReadSetupValues(SetupValues *values);

// True when the credential store holds a password for the login (it is wiped at once).
bool IsPasswordStored(void);

// The first field that stops a save, kFieldNone when none does. The box that says why is
// MakeFieldCheckText's. Fields that do not apply to the way are not looked at. A login is
// refused without TLS (a password is never sent unencrypted) and without a password, as
// "/email" would refuse both later.
SetupField CheckSetupValues(const SetupValues *values);
void MakeFieldCheckText(SetupField field, const SetupValues *values, char *text, size_t textSize);

// The mail settings Test checks values with, before anything is saved. Another mail server as
// Save would write it: a password login when there is a user name, with password (units UTF-16
// units, not terminated) when one was typed, else the stored one. Microsoft or Google: their
// API ("MailAPIURL" or its endpoint), the address as the account, the sign-in with the
// registration of the settings file for the window's provider. kSettingsReady, or what is
// wrong (MakeSettingsFailureText words it). The caller forgets them (ForgetMailSettings).
SettingsResult MakeTestSettings(const SetupValues *values, const unsigned short *password,
                                size_t units, MailSettings *settings);

enum SaveResult {
    kSaveDone = 0,
    kSaveCredentialRefused,  // the password could not be stored: nothing was written
    kSaveSettingsRefused,    // a key could not be written
};

// Writes section "Email Setup" for values, which passed CheckSetupValues. Another mail server:
// "SMTPServer", "SMTPPort", "SMTPSecurity" and "SMTPUser" (emptied without a user name),
// "SMTPAuth" removed, "MailAPI" emptied. Microsoft or Google: "MailAPI", "OAuthProvider" and
// "SMTPUser" the address. A key that already holds its value is not written, and no other key
// is touched. password (units UTF-16 units, not terminated) goes to the credential store first,
// for a login only and only when not empty: an empty one keeps the stored password.
SaveResult SaveSetupValues(const SetupValues *values, const unsigned short *password,
                           size_t units);
