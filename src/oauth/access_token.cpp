// The token request and the renewal of the access token before a batch of e-mail. A renewed
// refresh token is on disk before the access token is handed out: a provider that rotates
// refresh tokens may already have voided the old one.
#include "access_token.h"

#include <cstring>

#include "../base/paths.h"
#include "../base/text.h"
#include "../platform/plat_http.h"
#include "../platform/plat_time.h"
#include "oauth_encoding.h"
#include "oauth_texts.h"
#include "token_record.h"
#include "token_store.h"

// One token request at a time; each buffer is wiped once it is done with.
static char gAnswer[kTokenAnswerSize];
static char gBody[kFormBodySize];
static TokenRecord gRecord;
static TokenResponse gResponse;

static void ClearFailure(TokenRequestFailure *failure)
{
    failure->httpStatus = 0;
    failure->systemError = 0;
    failure->error[0] = '\0';
    failure->description[0] = '\0';
}

TokenRequestResult PostTokenRequest(const char *tokenUrl, const char *body,
                                    TokenResponse *response, TokenRequestFailure *failure)
{
    ClearFailure(failure);
    size_t answerLength = 0;
    int status = 0;
    unsigned long error = 0;
    if (!PlatHttpsPost(tokenUrl, body, strlen(body), gAnswer, sizeof gAnswer, &answerLength,
                       &status, &error)) {
        ReadTokenResponse("", 0, response);  // clears it
        failure->systemError = error ? error : 1;
        return kTokenRequestUnreachable;
    }
    failure->httpStatus = status;
    TokenResponseResult read = ReadTokenResponse(gAnswer, answerLength, response);
    WipeBytes(gAnswer, answerLength);
    bool success = status >= 200 && status <= 299;
    if (read == kTokenResponseOk && success)
        return kTokenRequestOk;
    // A server error is not the provider's verdict on the grant: try again later.
    if (read == kTokenResponseError && status < 500) {
        CopyText(failure->error, sizeof failure->error, response->error);
        CopyText(failure->description, sizeof failure->description,
                 response->errorDescription);
        return kTokenRequestRefused;
    }
    ReadTokenResponse("", 0, response);
    return kTokenRequestUnreachable;
}

// The host of an https:// address, for the texts.
static void UrlHost(const char *url, char *dest, size_t destSize)
{
    const char *host = strstr(url, "://");
    host = host ? host + 3 : url;
    size_t length = strcspn(host, "/:?");
    CopyTextN(dest, destSize, host, length);
}

static const char *SystemErrorText(unsigned long error)
{
    switch (error) {
    case PLAT_HTTP_TIMEOUT:
        return kReasonTimedOut;
    case PLAT_HTTP_NAME_NOT_RESOLVED:
        return kReasonNameNotResolved;
    case PLAT_HTTP_CANNOT_CONNECT:
        return kReasonCannotConnect;
    case PLAT_HTTP_CONNECTION_ERROR:
        return kReasonConnectionLost;
    case PLAT_HTTP_SECURE_FAILURE:
        return kReasonSecureFailure;
    case PLAT_HTTP_SECURE_CHANNEL_ERROR:
        return kReasonSecureChannel;
    case PLAT_HTTP_BODY_TOO_LARGE:
        return kReasonAnswerTooLarge;
    default:
        return kReasonOther;
    }
}

void FormatTokenRequestReason(TokenRequestResult result, const TokenRequestFailure *failure,
                              const char *tokenUrl, char *dest, size_t destSize)
{
    char host[kOAuthUrlSize];
    UrlHost(tokenUrl, host, sizeof host);
    if (result == kTokenRequestRefused) {
        if (failure->description[0])
            FormatText(dest, destSize, kReasonProviderSaid, failure->description,
                       failure->error);
        else
            FormatText(dest, destSize, kReasonProviderCode, failure->error);
    } else if (failure->httpStatus == 0) {
        FormatText(dest, destSize, kReasonNotReached, host,
                   SystemErrorText(failure->systemError), failure->systemError);
    } else if (failure->httpStatus >= 500) {
        FormatText(dest, destSize, kReasonHttpStatus, host, failure->httpStatus);
    } else {
        FormatText(dest, destSize, kReasonUnreadable, host, failure->httpStatus);
    }
}

static AccessTokenStatus Finish(AccessTokenStatus status)
{
    WipeBytes(&gRecord, sizeof gRecord);
    WipeBytes(&gResponse, sizeof gResponse);
    WipeBytes(gBody, sizeof gBody);
    return status;
}

// The stored access token, renewed first when it is about to end or force says so.
static AccessTokenStatus ObtainAccessToken(const OAuthSettings *settings, const char *user,
                                           bool force, AccessToken *out)
{
    out->token[0] = '\0';
    out->renewed = false;
    out->storedWay = kWaySmtp;
    ClearFailure(&out->failure);
    if (LoadTokenRecord(&gRecord) != kStoreOk || !RecordBelongsTo(&gRecord, settings, user))
        return Finish(kAccessTokenNotSignedIn);
    if (!RecordMadeForWay(&gRecord, settings)) {
        out->storedWay = gRecord.way;
        return Finish(kAccessTokenOtherWay);
    }
    long long now = PlatUnixTime();
    if (!force && !AccessTokenNeedsRefresh(&gRecord, now)) {
        CopyText(out->token, sizeof out->token, gRecord.accessToken);
        return Finish(kAccessTokenReady);
    }
    if (!MakeRefreshBody(settings, gRecord.refreshToken, gBody, sizeof gBody))
        return Finish(kAccessTokenNotSignedIn);
    TokenRequestResult result =
        PostTokenRequest(settings->tokenUrl, gBody, &gResponse, &out->failure);
    if (result == kTokenRequestRefused)
        return Finish(kAccessTokenRefused);
    if (result != kTokenRequestOk)
        return Finish(kAccessTokenUnreachable);
    // The clock after the round trip: the token's lifetime counts from its issue. A record
    // read from the store always has a refresh token to keep, so this cannot fail.
    if (!TakeTokenResponse(&gRecord, settings, user, &gResponse, PlatUnixTime()))
        return Finish(kAccessTokenNotSignedIn);
    if (SaveTokenRecord(&gRecord) != kStoreOk)
        return Finish(kAccessTokenNotSaved);
    CopyText(out->token, sizeof out->token, gRecord.accessToken);
    out->renewed = true;
    return Finish(kAccessTokenReady);
}

AccessTokenStatus GetAccessToken(const OAuthSettings *settings, const char *user,
                                 AccessToken *out)
{
    return ObtainAccessToken(settings, user, false, out);
}

AccessTokenStatus RenewAccessToken(const OAuthSettings *settings, const char *user,
                                   AccessToken *out)
{
    return ObtainAccessToken(settings, user, true, out);
}

// How the texts name a way out.
static const char *WayText(int way)
{
    return way == kWayGraph ? kWayTextGraph : way == kWayGmail ? kWayTextGmail : kWayTextSmtp;
}

void FormatAccessTokenFailure(AccessTokenStatus status, const AccessToken *token,
                              const OAuthSettings *settings, const char *user, char *dest,
                              size_t destSize)
{
    char reason[1400];
    switch (status) {
    case kAccessTokenReady:
        CopyText(dest, destSize, "");
        break;
    case kAccessTokenNotSignedIn:
        FormatText(dest, destSize, kTextNotSignedIn, user);
        break;
    case kAccessTokenRefused:
        FormatTokenRequestReason(kTokenRequestRefused, &token->failure, settings->tokenUrl,
                                 reason, sizeof reason);
        FormatText(dest, destSize,
                   strcmp(token->failure.error, "invalid_grant") == 0 ? kTextSignInExpired
                                                                       : kTextRenewalRefused,
                   user, reason);
        break;
    case kAccessTokenUnreachable:
        FormatTokenRequestReason(kTokenRequestUnreachable, &token->failure, settings->tokenUrl,
                                 reason, sizeof reason);
        FormatText(dest, destSize, kTextRenewalUnreachable, user, reason);
        break;
    case kAccessTokenNotSaved: {
        char path[kPathSize];
        if (!MakeTokenStorePath(path, sizeof path))
            CopyText(path, sizeof path, "the application data folder");
        FormatText(dest, destSize, kTextRenewalNotSaved, user, path);
        break;
    }
    case kAccessTokenOtherWay:
        FormatText(dest, destSize, kTextSignInOtherWay, user, WayText(token->storedWay),
                   WayText(settings->way));
        break;
    }
}
