// The access token for a batch of e-mail, renewed at the token endpoint when it is about to
// end; and the token request that the renewal and the sign-in's code exchange share.
#pragma once
#include <cstddef>

#include "provider.h"
#include "token_response.h"

enum TokenRequestResult {
    kTokenRequestOk = 0,      // a 2xx answer with an access token of type Bearer
    kTokenRequestRefused,     // the endpoint answered with an error (invalid_grant, ...)
    kTokenRequestUnreachable, // no answer, a 5xx, or an answer that is not a token response
};

// Why a token request gave no token: what the failure texts say.
struct TokenRequestFailure {
    int httpStatus;            // the answer's status; 0 when none came
    unsigned long systemError; // no answer: the system's error number (plat_http.h)
    char error[128];           // refused: the provider's error code
    char description[1024];    // and its error_description ("" when none)
};

// The largest answer of the token endpoint read.
const size_t kTokenAnswerSize = 65536;

// POSTs the form body to the token endpoint and reads the answer into *response. Ok fills
// *response; otherwise *failure says why (and *response holds no token).
TokenRequestResult PostTokenRequest(const char *tokenUrl, const char *body,
                                    TokenResponse *response, TokenRequestFailure *failure);

// The reason part of a failure text: the provider's description and error code, or which
// host could not be reached and why, or which status or unreadable answer came back.
void FormatTokenRequestReason(TokenRequestResult result, const TokenRequestFailure *failure,
                              const char *tokenUrl, char *dest, size_t destSize);

enum AccessTokenStatus {
    kAccessTokenReady = 0,    // token holds an access token with 5 minutes or more left
    kAccessTokenNotSignedIn,  // no stored sign-in for these settings and this user
    kAccessTokenRefused,      // the endpoint refused the renewal (invalid_grant: expired or
                              // revoked; or the client settings are wrong)
    kAccessTokenUnreachable,  // the endpoint could not be reached or gave no usable answer
    kAccessTokenNotSaved,     // renewed, but the store could not be written
    kAccessTokenOtherWay,     // the stored sign-in was made for another way out (another
                              // resource): not used, the user signs in again
};

// Room for the XOAUTH2 initial response (MakeXoauth2Response) of any user and token.
const size_t kXoauth2ResponseSize = (5 + kSettingSize + 13 + kTokenSize + 2 + 2) / 3 * 4 + 1;

struct AccessToken {
    char token[kTokenSize];       // kAccessTokenReady: the token, for XOAUTH2
    bool renewed;                 // kAccessTokenReady: renewed by this call
    TokenRequestFailure failure;  // kAccessTokenRefused, kAccessTokenUnreachable
    int storedWay;                // kAccessTokenOtherWay: the way the stored sign-in is for
};

// The access token for settings and user, once before the first message of a batch. Loads
// the store; a record for other settings or another user counts as not signed in, one made
// for another way out (SMTP, Graph, Gmail) gives kAccessTokenOtherWay. With 5
// minutes or more left the stored token is given without any network traffic. Otherwise it
// is renewed at the token endpoint (grant_type=refresh_token with the scope), and the new
// access token with the new refresh token (the old one when none came) is stored, replacing
// the file, BEFORE this returns Ready. On any failure nothing is connected to the mail
// server; the store is left as it was. Shows nothing: the caller shows
// FormatAccessTokenFailure's text and stops.
AccessTokenStatus GetAccessToken(const OAuthSettings *settings, const char *user,
                                 AccessToken *out);

// The same, but renewed at the token endpoint whatever time the stored access token has
// left: for a mail server that refused the token it was given (535 to AUTH XOAUTH2). Not
// signed in when no record for settings and user is stored (a stored record always holds a
// refresh token). Every other rule of GetAccessToken holds: the new tokens are stored before
// this returns Ready, a failure leaves the store as it was, nothing is shown. The caller
// holds LockSignInStore (token_store.h) around it, as around GetAccessToken.
AccessTokenStatus RenewAccessToken(const OAuthSettings *settings, const char *user,
                                   AccessToken *out);

// The box text for a status other than Ready: which failure, and what to do about it.
void FormatAccessTokenFailure(AccessTokenStatus status, const AccessToken *token,
                              const OAuthSettings *settings, const char *user, char *dest,
                              size_t destSize);
