// The sign-in's access token for a mail job (the batch, the settings check): taken from the
// store, renewed at the token endpoint when it is about to end or has been refused, under
// the mutex that keeps two runs from renewing one sign-in at once.
#pragma once
#include "../../oauth/access_token.h"
#include "mail_log.h"
#include "../settings/mail_settings.h"

// With "SMTPAuth" xoauth2: the access token into settings->accessToken (renewed first when
// less than 5 minutes are left, or whatever is left with forceRenewal), hidden in the log
// with the XOAUTH2 payload that carries it; token is the caller's scratch (its failure says
// why there is none). kAccessTokenReady, and at once for any other login.
AccessTokenStatus TakeMailAccessToken(MailSettings *settings, MailLog *log, bool forceRenewal,
                                      AccessToken *token);
