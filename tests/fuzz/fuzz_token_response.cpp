// Fuzz target: any bytes as the token endpoint's answer, and the same bytes as a stored token
// record. AddressSanitizer proves the decoding stays in its buffers; the checks prove what a
// result promises: a token is 1*VSCHAR and fits, an error never carries a token, a refused
// document leaves nothing behind, white space after a document changes nothing and anything
// else after it is refused; the name an id_token gives is text without control characters and
// comes only with a token; a taken response survives the record's byte form unchanged (its
// lifetime cut to a day), and a record read back is written byte for byte as it was read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "oauth/token_record.h"
#include "oauth/token_response.h"

static void CheckToken(const char *token, bool mayBeEmpty)
{
    size_t length = strnlen(token, kTokenSize);
    if (length >= kTokenSize || (!mayBeEmpty && length == 0))
        abort();
    for (size_t i = 0; i < length; i++)
        if ((unsigned char)token[i] < 0x20 || (unsigned char)token[i] > 0x7E)
            abort();
}

static void CheckRecordForm(const uint8_t *data, size_t size)
{
    static TokenRecord record;
    static char text[kTokenRecordTextSize];
    if (!ReadTokenRecord((const char *)data, size, &record))
        return;
    size_t n = WriteTokenRecord(&record, text, sizeof text);
    if (n != size || memcmp(text, data, size) != 0)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static TokenResponse out, again;
    const char *bytes = (const char *)data;
    TokenResponseResult result = ReadTokenResponse(bytes, size, &out);
    size_t nameLength = strnlen(out.signedInAs, sizeof out.signedInAs);
    if (nameLength >= sizeof out.signedInAs || (result != kTokenResponseOk && nameLength > 0))
        abort();
    for (size_t i = 0; i < nameLength; i++)
        if ((unsigned char)out.signedInAs[i] < 0x20 || out.signedInAs[i] == 0x7F)
            abort();
    switch (result) {
    case kTokenResponseOk:
        CheckToken(out.accessToken, false);
        CheckToken(out.refreshToken, true);
        if (out.error[0] || out.errorDescription[0] || out.expiresIn < -1 ||
            out.expiresIn > 999999999999LL)
            abort();
        break;
    case kTokenResponseError:
        if (out.accessToken[0] || out.refreshToken[0] || out.error[0] == '\0' ||
            strnlen(out.errorDescription, sizeof out.errorDescription) >=
                sizeof out.errorDescription)
            abort();
        break;
    case kTokenResponseMalformed:
        if (out.accessToken[0] || out.refreshToken[0] || out.error[0] || out.tokenType[0] ||
            out.errorDescription[0] || out.expiresIn != -1)
            abort();
        break;
    default:
        abort();
    }

    std::string padded(bytes, size);
    padded += " \r\n";
    if (ReadTokenResponse(padded.data(), padded.size(), &again) != result ||
        strcmp(again.accessToken, out.accessToken) != 0)
        abort();
    if (result != kTokenResponseMalformed) {
        padded += "0";
        if (ReadTokenResponse(padded.data(), padded.size(), &again) != kTokenResponseMalformed)
            abort();
    }

    if (result == kTokenResponseOk && out.refreshToken[0]) {
        static OAuthSettings settings;
        static TokenRecord record, back;
        static char text[kTokenRecordTextSize];
        memset(&settings, 0, sizeof settings);
        memset(&record, 0, sizeof record);
        strcpy(settings.providerName, "google");
        strcpy(settings.clientId, "client-1");
        strcpy(settings.tokenUrl, "https://oauth2.googleapis.com/token");
        if (!TakeTokenResponse(&record, &settings, "alice@example.com", &out, 1796601600))
            abort();
        size_t n = WriteTokenRecord(&record, text, sizeof text);
        long long lifetime = out.expiresIn > 0 ? out.expiresIn : 0;
        if (lifetime > kAccessTokenLifetimeMax)
            lifetime = kAccessTokenLifetimeMax;
        if (n == 0 || !ReadTokenRecord(text, n, &back) ||
            strcmp(back.accessToken, out.accessToken) != 0 ||
            strcmp(back.refreshToken, out.refreshToken) != 0 ||
            back.expiresAt != 1796601600 + lifetime)
            abort();
    }
    CheckRecordForm(data, size);
    return 0;
}
