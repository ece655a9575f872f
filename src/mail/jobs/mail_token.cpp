// The access token of a mail job, fetched (and renewed) under the sign-in's mutex.
#include "mail_token.h"

#include "../../base/text.h"
#include "../../oauth/oauth_encoding.h"
#include "../../oauth/token_store.h"

AccessTokenStatus TakeMailAccessToken(MailSettings *s, MailLog *log, bool forceRenewal,
                                      AccessToken *token)
{
    if (s->auth != kAuthXoauth2)
        return kAccessTokenReady;
    // Two runs must not renew the same sign-in at once: the provider may rotate the refresh
    // token, and the store would keep the one it had already taken back.
    PlatMutex mutex = LockSignInStore();
    AccessTokenStatus status = forceRenewal ? RenewAccessToken(&s->oauth, s->user, token)
                                            : GetAccessToken(&s->oauth, s->user, token);
    UnlockSignInStore(mutex);
    if (status != kAccessTokenReady)
        return status;
    CopyText(s->accessToken, sizeof s->accessToken, token->token);
    WipeBytes(token->token, sizeof token->token);
    // The log never shows the token, nor the payload that carries it.
    AddMailLogSecret(log, s->accessToken);
    char response[kXoauth2ResponseSize];
    if (MakeXoauth2Response(s->user, s->accessToken, response, sizeof response) > 0)
        AddMailLogSecret(log, response);
    WipeBytes(response, sizeof response);
    return kAccessTokenReady;
}
