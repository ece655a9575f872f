// The recording fake of the TLS seam (a readable stand-in protocol, see fake_tls.h) and of
// the credential store and the batch mutex.
#include "fake_tls.h"

#include <cstdio>
#include <cstring>

#include "fake.h"
#include "platform/plat_security.h"
#include "platform/plat_tls.h"

FakeTlsState gFakeTls;

struct FakeSession {
    int roundsSeen = 0;
    bool started = false;
};
static FakeSession gSession;

static void ResetTls()
{
    gFakeTls = FakeTlsState();
    gSession = FakeSession();
}
static FakeResetHook gTlsReset(ResetTls);

static const uintptr_t kSessionHandle = 0x7150;

PlatTls PlatTlsOpen(unsigned long *error)
{
    FakeRecord("TlsOpen");
    gFakeTls.opens++;
    if (gFakeTls.openFails) {
        *error = gFakeTls.openError;
        return 0;
    }
    gSession = FakeSession();
    return kSessionHandle;
}

void PlatTlsClose(PlatTls tls)
{
    if (tls == 0)
        return;
    FakeRecord("TlsClose");
    gFakeTls.closes++;
}

int PlatTlsHandshake(PlatTls, const char *serverName, const char *input, size_t inputLength,
                     size_t *consumed, char *output, size_t outputSize, size_t *outputLength,
                     unsigned long *error)
{
    gFakeTls.handshakeNames.push_back(serverName);
    *consumed = 0;
    *outputLength = 0;
    auto put = [&](const char *token) {
        size_t n = strlen(token);
        if (n <= outputSize) {
            memcpy(output, token, n);
            *outputLength = n;
        }
    };
    if (!gSession.started) {
        gSession.started = true;
        put("<CH>");
        return PLAT_TLS_CONTINUE;
    }
    std::string in(input, inputLength);
    if (in.size() < 4) {
        if (std::string("<SH>").compare(0, in.size(), in) == 0)
            return PLAT_TLS_INCOMPLETE;
    } else if (in.compare(0, 4, "<SH>") == 0) {
        *consumed = 4;
        gSession.roundsSeen++;
        if (gSession.roundsSeen < gFakeTls.handshakeRounds) {
            put("<CK>");
            return PLAT_TLS_CONTINUE;
        }
        put("<CF>");
        return PLAT_TLS_OK;
    }
    *error = 0x80090326;  // SEC_E_ILLEGAL_MESSAGE
    return PLAT_TLS_FAILED;
}

int PlatTlsSizes(PlatTls, size_t *header, size_t *maxPayload, size_t *trailer)
{
    *header = 5;
    *maxPayload = gFakeTls.maxPayload;
    *trailer = 1;
    return 1;
}

size_t PlatTlsEncrypt(PlatTls, const char *payload, size_t length, char *output, size_t outputSize,
                      unsigned long *error)
{
    if (gFakeTls.encryptFails || length > gFakeTls.maxPayload || length + 6 > outputSize) {
        *error = 0x80090321;
        return 0;
    }
    char header[6];
    snprintf(header, sizeof header, "R%04zx", length);
    memcpy(output, header, 5);
    memcpy(output + 5, payload, length);
    output[5 + length] = '.';
    return length + 6;
}

int PlatTlsDecrypt(PlatTls, char *data, size_t length, size_t *consumed, size_t *payloadOffset,
                   size_t *payloadLength, unsigned long *error)
{
    *consumed = *payloadOffset = *payloadLength = 0;
    if (length == 0)
        return PLAT_TLS_INCOMPLETE;
    if (data[0] == 'C') {
        *consumed = 1;
        return PLAT_TLS_CLOSED;
    }
    if (data[0] == 'N') {
        *consumed = 1;
        gSession.roundsSeen = 0;
        return PLAT_TLS_RENEGOTIATE;
    }
    if (data[0] != 'R') {
        *error = 0x80090330;  // SEC_E_DECRYPT_FAILURE
        return PLAT_TLS_FAILED;
    }
    if (length < 5)
        return PLAT_TLS_INCOMPLETE;
    size_t n = strtoul(std::string(data + 1, 4).c_str(), nullptr, 16);
    if (length < n + 6)
        return PLAT_TLS_INCOMPLETE;
    *payloadOffset = 5;
    *payloadLength = n;
    *consumed = n + 6;
    return PLAT_TLS_OK;
}

unsigned long PlatTlsVerifyServer(PlatTls, const char *serverName)
{
    gFakeTls.verifies++;
    gFakeTls.verifiedName = serverName;
    FakeRecord("TlsVerifyServer(" + std::string(serverName) + ")");
    return gFakeTls.verdict;
}

int PlatReadGenericCredential(const char *target, unsigned char *blob, size_t blobSize,
                              size_t *blobLength)
{
    FakeRecord("CredRead(" + std::string(target) + ")");
    gFakeTls.credentialTarget = target;
    *blobLength = 0;
    if (!gFakeTls.credentialExists || gFakeTls.credentialBlob.size() > blobSize)
        return 0;
    memcpy(blob, gFakeTls.credentialBlob.data(), gFakeTls.credentialBlob.size());
    *blobLength = gFakeTls.credentialBlob.size();
    return 1;
}

PlatMutex PlatCreateMutex(const char *name)
{
    gFakeTls.mutexCalls.push_back("create(" + std::string(name) + ")");
    FakeRecord("CreateMutex");
    return gFakeTls.mutexHandle;
}

PlatMutex PlatCreateGlobalMutex(const char *name)
{
    gFakeTls.mutexCalls.push_back("createGlobal(" + std::string(name) + ")");
    FakeRecord("CreateGlobalMutex(" + std::string(name) + ")");
    return gFakeTls.mutexHandle;
}

int PlatWaitMutex(PlatMutex)
{
    gFakeTls.mutexCalls.push_back("wait");
    FakeRecord("WaitMutex");
    return gFakeTls.mutexWaitFails ? 0 : 1;
}

void PlatReleaseMutex(PlatMutex mutex)
{
    if (mutex == 0)
        return;
    gFakeTls.mutexCalls.push_back("release");
    FakeRecord("ReleaseMutex");
}

void PlatCloseMutex(PlatMutex mutex)
{
    if (mutex == 0)
        return;
    gFakeTls.mutexCalls.push_back("close");
    FakeRecord("CloseMutex");
}

std::string FakeTlsRecord(const std::string &text)
{
    char header[6];
    snprintf(header, sizeof header, "R%04zx", text.size());
    return std::string(header) + text + ".";
}

std::string FakeTlsOpen(const std::string &raw)
{
    std::string out;
    size_t i = 0;
    while (i < raw.size()) {
        if (raw[i] == '<') {  // a handshake message
            i += 4;
            continue;
        }
        if (raw[i] != 'R' || i + 5 > raw.size())
            break;
        size_t n = strtoul(raw.substr(i + 1, 4).c_str(), nullptr, 16);
        out += raw.substr(i + 5, n);
        i += n + 6;
    }
    return out;
}

std::string FakeUtf16(const std::string &utf8)
{
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = (unsigned char)utf8[i];
        unsigned long cp;
        int extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if (c < 0xE0) {
            cp = c & 0x1F;
            extra = 1;
        } else if (c < 0xF0) {
            cp = c & 0x0F;
            extra = 2;
        } else {
            cp = c & 0x07;
            extra = 3;
        }
        for (int k = 1; k <= extra && i + k < utf8.size(); k++)
            cp = (cp << 6) | ((unsigned char)utf8[i + k] & 0x3F);
        i += (size_t)extra + 1;
        auto unit = [&](unsigned long u) {
            out += (char)(u & 0xFF);
            out += (char)(u >> 8);
        };
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(0xD800 + (cp >> 10));
            unit(0xDC00 + (cp & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return out;
}

void PlatTlsWarmUp(void) { gFakeTls.warmUps++; }

int PlatTlsDescribe(PlatTls, PlatTlsInfo *info)
{
    *info = PlatTlsInfo();
    snprintf(info->protocol, sizeof info->protocol, "TLS 1.2");
    snprintf(info->cipher, sizeof info->cipher, "TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384");
    snprintf(info->subject, sizeof info->subject, "CN=%s", gFakeTls.verifiedName.c_str());
    snprintf(info->issuer, sizeof info->issuer, "CN=Fake Test CA");
    snprintf(info->expires, sizeof info->expires, "2027-06-30 12:00:00 UTC");
    return 1;
}
