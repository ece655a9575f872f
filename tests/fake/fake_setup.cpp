// The recording fake of the DNS resolver, the credential write, the key removal and the form
// controls of the Email Setup window.
#include "fake_setup.h"

#include <algorithm>
#include <cstring>

#include "fake.h"
#include "fake_tls.h"
#include "platform/plat_profile.h"
#include "platform/plat_security.h"
#include "platform/plat_window.h"
#include "platform/plat_work.h"

FakeSetupState gFakeSetup;
static FakeResetHook gSetupReset([] { gFakeSetup = FakeSetupState(); });

int PlatDnsQuery(const char *name, unsigned short type, PlatDnsRecord *records, int maxRecords,
                 int *count, int *total, long *error)
{
    FakeRecord("DnsQuery(" + std::string(name) + "," + std::to_string(type) + ")");
    gFakeSetup.questions.push_back(std::string(name) + "/" + std::to_string(type));
    *count = *total = 0;
    *error = 0;
    auto it = gFakeSetup.dns.find({name, type});
    if (it == gFakeSetup.dns.end())
        return PLAT_DNS_NO_RECORDS;
    for (const PlatDnsRecord &r : it->second.records) {
        (*total)++;
        if (*count < maxRecords)
            records[(*count)++] = r;
    }
    if (it->second.result != PLAT_DNS_FOUND)
        *error = 9002;
    return it->second.result;
}

int PlatWriteGenericCredential(const char *target, const char *userName,
                               const unsigned char *blob, size_t blobLength)
{
    FakeRecord("CredWrite(" + std::string(target) + ")");
    gFakeSetup.credentialWrites.push_back(std::string(target) + "|" + userName + "|" +
                                          std::string((const char *)blob, blobLength));
    if (gFakeSetup.credentialWriteFails)
        return 0;
    gFakeTls.credentialExists = true;
    gFakeTls.credentialBlob.assign((const char *)blob, blobLength);
    return 1;
}

int PlatDeleteProfileKey(const char *section, const char *key, const char *file)
{
    FakeRecord("DeleteProfileKey(" + std::string(section) + "," + key + "," + file + ")");
    auto &ini = gFake.ini[FakeLower(file)];
    auto s = ini.find(FakeLower(section));
    if (s != ini.end())
        s->second.erase(FakeLower(key));
    return 1;
}

void PlatDetachWork(PlatWork) { gFakeSetup.detached++; }

intptr_t PlatDialogBoxUnicode(int templateId, PlatWindow owner, PlatDialogProc proc,
                              void *context)
{
    return PlatDialogBox(templateId, owner, proc, context);
}

int PlatGetDlgItemText(PlatWindow, int controlId, char *dest, int destSize)
{
    if (destSize <= 0)
        return 0;
    const std::string &text = gFakeSetup.texts[controlId];
    size_t n = std::min(text.size(), (size_t)destSize - 1);
    memcpy(dest, text.data(), n);
    dest[n] = '\0';
    return (int)n;
}

int PlatGetDlgItemTextUtf16(PlatWindow, int controlId, unsigned short *dest, int destUnits)
{
    if (destUnits <= 0)
        return 0;
    const std::vector<unsigned short> &text = gFakeSetup.unicodeTexts[controlId];
    size_t n = std::min(text.size(), (size_t)destUnits - 1);
    std::copy(text.begin(), text.begin() + (long)n, dest);
    dest[n] = 0;
    return (int)n;
}

void PlatLimitDlgItemText(PlatWindow, int controlId, int maxChars)
{
    FakeRecord("LimitText(" + std::to_string(controlId) + "," + std::to_string(maxChars) + ")");
}

void PlatEnableDlgItem(PlatWindow, int controlId, int enabled)
{
    gFakeSetup.enabled[controlId] = enabled != 0;
}

void PlatCheckDlgButton(PlatWindow, int controlId, int checked)
{
    gFakeSetup.checked[controlId] = checked ? 1 : 0;
}

int PlatIsDlgButtonChecked(PlatWindow, int controlId) { return gFakeSetup.checked[controlId]; }

void PlatAddComboItem(PlatWindow, int controlId, const char *text)
{
    gFakeSetup.comboItems[controlId].push_back(text);
}

void PlatSelectComboItem(PlatWindow, int controlId, int index)
{
    gFakeSetup.selection[controlId] = index;
}

int PlatGetComboSelection(PlatWindow, int controlId)
{
    auto it = gFakeSetup.selection.find(controlId);
    return it == gFakeSetup.selection.end() ? -1 : it->second;
}

void PlatFocusDlgItem(PlatWindow, int controlId)
{
    FakeRecord("FocusDlgItem(" + std::to_string(controlId) + ")");
}
