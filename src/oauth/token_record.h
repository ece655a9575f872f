// What the sign-in keeps between runs: the tokens, when the access token ends, and the
// settings and user they were issued for; its byte form, and the decisions made on it.
// No I/O here: token_store.h reads and writes it.
#pragma once
#include <cstddef>

#include "provider.h"
#include "token_response.h"

struct TokenRecord {
    char provider[kSettingSize];     // "microsoft", "google" or "custom"
    int way;                         // the MailWay the token was asked for
    char clientId[kSettingSize];
    char tokenUrl[kOAuthUrlSize];    // the endpoint that issued the tokens (and the tenant)
    char user[kSettingSize];
    long long expiresAt;             // Unix seconds when the access token ends
    char accessToken[kTokenSize];
    char refreshToken[kTokenSize];
};

// Room for the byte form of any record.
const size_t kTokenRecordTextSize = 2 * kTokenSize + 3 * kSettingSize + kOAuthUrlSize + 256;

// The byte form: a first line naming the format, then one "name=value" line (LF) for each
// field in a fixed order. A sign-in for SMTP is written in the first form, which has no way
// line (as every store written before the APIs came holds it); one for an API in the second,
// with "way=graph" or "way=gmail" after the provider. Returns its length; 0 when a field
// holds a character the form cannot carry (a control character; a token outside blank to
// '~'), the way is not known, or dest is too small.
size_t WriteTokenRecord(const TokenRecord *record, char *dest, size_t destSize);

// Reads the byte form strictly: the same lines in the same order, nothing before or after,
// every field present and fitting, a known provider, tokens of 1 or more characters from
// blank to '~', the expiry a decimal number without leading zeros; the first form gives the
// way SMTP, the second graph or gmail as its line says. False (and *out cleared) otherwise.
bool ReadTokenRecord(const char *bytes, size_t count, TokenRecord *out);

// True when the record was made for these settings and this user: the same provider, client
// ID and token endpoint (a refresh token goes to no other endpoint than the one that issued
// it) and the same user (letters A to Z compared without case). Otherwise the user must sign
// in again.
bool RecordBelongsTo(const TokenRecord *record, const OAuthSettings *settings,
                     const char *user);

// True when the record's token was asked for the way settings send by. A token for one
// resource is refused by the others: the user must sign in again for this way.
bool RecordMadeForWay(const TokenRecord *record, const OAuthSettings *settings);

// The access token is renewed when less than this much of it is left.
const long long kRefreshMarginSeconds = 300;

// True when the access token has less than kRefreshMarginSeconds left at now.
bool AccessTokenNeedsRefresh(const TokenRecord *record, long long now);

// The longest lifetime believed of an access token: an endpoint that names more (a broken
// or hostile one) still has its token renewed daily.
const long long kAccessTokenLifetimeMax = 86400;

// Takes a successful token response into the record for settings (and their way) and user,
// at now: the new access token and its expiry (now when the response named none, so that the
// next batch renews it; at most kAccessTokenLifetimeMax after now), and the new refresh token
// when one came; otherwise the record's own is kept. False (record unchanged) when the
// response has no refresh token and the record none either, or a field does not fit.
bool TakeTokenResponse(TokenRecord *record, const OAuthSettings *settings, const char *user,
                       const TokenResponse *response, long long now);
