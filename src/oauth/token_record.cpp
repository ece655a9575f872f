// The token record: its byte form (strict both ways, so that what is read is exactly what
// was written) and the decisions taken on it.
#include "token_record.h"

#include <cstring>

#include "../base/text.h"

// The first form is an SMTP sign-in's; the second adds the way, for an API's.
static const char kRecordHeader[] = "Tillwick Orvenda mail sign-in 1\n";
static const char kRecordHeaderWay[] = "Tillwick Orvenda mail sign-in 2\n";

static bool IsFieldText(const char *text, bool token)
{
    if (token && !*text)
        return false;
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        if (*p < 0x20 || *p == 0x7F)
            return false;
        if (token && *p > 0x7E)
            return false;
    }
    return true;
}

static bool IsKnownProvider(const char *name)
{
    return strcmp(name, "microsoft") == 0 || strcmp(name, "google") == 0 ||
           strcmp(name, "custom") == 0;
}

// The fields in their order; a token field must be 1*VSCHAR, the others any non-empty text.
// The way's field stands only in the second form.
enum { kFieldProvider, kFieldWay, kFieldClient, kFieldTokenUrl, kFieldUser, kFieldExpires,
       kFieldAccess, kFieldRefresh, kFieldCount };
static const char *const kFieldNames[kFieldCount] = {
    "provider", "way", "client_id", "token_url", "user", "expires_at", "access_token",
    "refresh_token",
};

// The way a second form's line names: graph or gmail (SMTP has the first form); -1 else.
static int ParseRecordWay(const char *text)
{
    if (strcmp(text, MailWayName(kWayGraph)) == 0)
        return kWayGraph;
    if (strcmp(text, MailWayName(kWayGmail)) == 0)
        return kWayGmail;
    return -1;
}

static char *FieldBuffer(TokenRecord *record, int field, size_t *size)
{
    switch (field) {
    case kFieldProvider:
        *size = sizeof record->provider;
        return record->provider;
    case kFieldClient:
        *size = sizeof record->clientId;
        return record->clientId;
    case kFieldTokenUrl:
        *size = sizeof record->tokenUrl;
        return record->tokenUrl;
    case kFieldUser:
        *size = sizeof record->user;
        return record->user;
    case kFieldAccess:
        *size = sizeof record->accessToken;
        return record->accessToken;
    case kFieldRefresh:
        *size = sizeof record->refreshToken;
        return record->refreshToken;
    default:
        *size = 0;
        return nullptr;
    }
}

size_t WriteTokenRecord(const TokenRecord *record, char *dest, size_t destSize)
{
    if (destSize == 0)
        return 0;
    dest[0] = '\0';
    bool withWay = record->way != kWaySmtp;
    bool fits = (!withWay || ParseRecordWay(MailWayName(record->way)) >= 0) &&
                AppendText(dest, destSize, withWay ? kRecordHeaderWay : kRecordHeader);
    for (int field = 0; fits && field < kFieldCount; field++) {
        char number[24];
        const char *value;
        if (field == kFieldWay) {
            if (!withWay)
                continue;
            value = MailWayName(record->way);
        } else if (field == kFieldExpires) {
            if (record->expiresAt < 0)
                fits = false;
            FormatText(number, sizeof number, "%lld", record->expiresAt);
            value = number;
        } else {
            size_t size;
            value = FieldBuffer((TokenRecord *)record, field, &size);
            bool token = field == kFieldAccess || field == kFieldRefresh;
            if (!IsFieldText(value, token) || (!token && !*value))
                fits = false;
        }
        fits = fits && AppendText(dest, destSize, kFieldNames[field]) &&
               AppendText(dest, destSize, "=") && AppendText(dest, destSize, value) &&
               AppendText(dest, destSize, "\n");
    }
    if (!fits) {
        dest[0] = '\0';
        return 0;
    }
    return strlen(dest);
}

static void ClearRecord(TokenRecord *out)
{
    out->provider[0] = out->clientId[0] = out->tokenUrl[0] = out->user[0] = '\0';
    out->accessToken[0] = out->refreshToken[0] = '\0';
    out->expiresAt = 0;
    out->way = kWaySmtp;
}

bool ReadTokenRecord(const char *bytes, size_t count, TokenRecord *out)
{
    ClearRecord(out);
    const char *p = bytes;
    const char *end = bytes + count;
    size_t headerLength = sizeof kRecordHeader - 1;  // both forms' first lines are as long
    bool withWay = count >= headerLength && memcmp(p, kRecordHeaderWay, headerLength) == 0;
    if (!withWay && (count < headerLength || memcmp(p, kRecordHeader, headerLength) != 0))
        return false;
    p += headerLength;
    for (int field = 0; field < kFieldCount; field++) {
        if (field == kFieldWay && !withWay)
            continue;
        size_t nameLength = strlen(kFieldNames[field]);
        if ((size_t)(end - p) < nameLength + 1 || memcmp(p, kFieldNames[field], nameLength) != 0 ||
            p[nameLength] != '=') {
            ClearRecord(out);
            return false;
        }
        p += nameLength + 1;
        const char *lineEnd = (const char *)memchr(p, '\n', (size_t)(end - p));
        if (!lineEnd) {
            ClearRecord(out);
            return false;
        }
        size_t valueLength = (size_t)(lineEnd - p);
        bool good = valueLength > 0;
        if (field == kFieldExpires) {
            long long value = 0;
            good = good && valueLength <= 18 && !(p[0] == '0' && valueLength > 1);
            for (size_t i = 0; good && i < valueLength; i++) {
                good = p[i] >= '0' && p[i] <= '9';
                value = value * 10 + (p[i] - '0');
            }
            out->expiresAt = value;
        } else if (field == kFieldWay) {
            char way[16];
            good = good && CopyTextN(way, sizeof way, p, valueLength) &&
                   strlen(way) == valueLength;
            out->way = good ? ParseRecordWay(way) : -1;
            good = good && out->way >= 0;
        } else {
            size_t size;
            char *dest = FieldBuffer(out, field, &size);
            bool token = field == kFieldAccess || field == kFieldRefresh;
            good = good && memchr(p, '\0', valueLength) == nullptr &&
                   CopyTextN(dest, size, p, valueLength) && IsFieldText(dest, token);
        }
        if (!good) {
            ClearRecord(out);
            return false;
        }
        p = lineEnd + 1;
    }
    if (p != end || !IsKnownProvider(out->provider)) {
        ClearRecord(out);
        return false;
    }
    return true;
}

static bool SameNoCase(const char *a, const char *b)
{
    for (;; a++, b++) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z')
            x = (char)(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = (char)(y - 'A' + 'a');
        if (x != y)
            return false;
        if (!x)
            return true;
    }
}

bool RecordBelongsTo(const TokenRecord *record, const OAuthSettings *settings,
                     const char *user)
{
    return strcmp(record->provider, settings->providerName) == 0 &&
           strcmp(record->clientId, settings->clientId) == 0 &&
           strcmp(record->tokenUrl, settings->tokenUrl) == 0 && SameNoCase(record->user, user);
}

bool RecordMadeForWay(const TokenRecord *record, const OAuthSettings *settings)
{
    return record->way == settings->way;
}

bool AccessTokenNeedsRefresh(const TokenRecord *record, long long now)
{
    return record->expiresAt - now < kRefreshMarginSeconds;
}

bool TakeTokenResponse(TokenRecord *record, const OAuthSettings *settings, const char *user,
                       const TokenResponse *response, long long now)
{
    bool newRefresh = response->refreshToken[0] != '\0';
    if ((!newRefresh && record->refreshToken[0] == '\0') || strlen(user) >= sizeof record->user ||
        response->accessToken[0] == '\0')
        return false;
    CopyText(record->provider, sizeof record->provider, settings->providerName);
    record->way = settings->way;
    CopyText(record->clientId, sizeof record->clientId, settings->clientId);
    CopyText(record->tokenUrl, sizeof record->tokenUrl, settings->tokenUrl);
    CopyText(record->user, sizeof record->user, user);
    CopyText(record->accessToken, sizeof record->accessToken, response->accessToken);
    if (newRefresh)
        CopyText(record->refreshToken, sizeof record->refreshToken, response->refreshToken);
    long long lifetime = response->expiresIn > 0 ? response->expiresIn : 0;
    if (lifetime > kAccessTokenLifetimeMax)
        lifetime = kAccessTokenLifetimeMax;
    record->expiresAt = now + lifetime;
    return true;
}
