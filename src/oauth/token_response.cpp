// The token response read by the strict JSON reader: members of the top level are decoded
// where the reader knows them and checked and skipped where it does not.
#include "token_response.h"

#include <cstring>

#include "../base/encoding.h"
#include "../base/json_reader.h"
#include "../base/text.h"

namespace {

const size_t kNameSize = 256;
const int kMembersMax = 64;

// 1*VSCHAR: what RFC 6749 allows in a token.
bool IsTokenText(const char *text)
{
    if (!*text)
        return false;
    for (const unsigned char *p = (const unsigned char *)text; *p; p++)
        if (*p < 0x20 || *p > 0x7E)
            return false;
    return true;
}

enum Member {
    kMemberAccessToken,
    kMemberRefreshToken,
    kMemberTokenType,
    kMemberExpiresIn,
    kMemberError,
    kMemberDescription,
    kMemberCount,
};

const char *const kMemberNames[kMemberCount] = {
    "access_token", "refresh_token", "token_type", "expires_in", "error", "error_description",
};

// A known member's value: a string into its field (expires_in: a number or a numeric
// string), or null. *present says whether it counts.
bool ReadKnownMember(JsonCursor *c, int which, TokenResponse *out, bool *present)
{
    *present = false;
    if (JsonTakeWord(c, "null"))
        return true;
    if (which == kMemberExpiresIn) {
        long long value = -1;
        if (c->p < c->end && *c->p == '"') {
            char text[16];
            JsonSink sink = {text, sizeof text, 0, false};
            if (!JsonReadString(c, &sink) || sink.overflow || sink.length == 0 || sink.length > 12)
                return false;
            value = 0;
            for (size_t i = 0; i < sink.length; i++) {
                if (text[i] < '0' || text[i] > '9')
                    return false;
                value = value * 10 + (text[i] - '0');
            }
        } else if (!JsonReadNumber(c, &value) || value < 0) {
            return false;
        }
        out->expiresIn = value;
        *present = true;
        return true;
    }
    JsonSink sink = {nullptr, 0, 0, false};
    switch (which) {
    case kMemberAccessToken:
        sink = {out->accessToken, sizeof out->accessToken, 0, false};
        break;
    case kMemberRefreshToken:
        sink = {out->refreshToken, sizeof out->refreshToken, 0, false};
        break;
    case kMemberTokenType:
        sink = {out->tokenType, sizeof out->tokenType, 0, false};
        break;
    case kMemberError:
        sink = {out->error, sizeof out->error, 0, false};
        break;
    default:
        sink = {out->errorDescription, sizeof out->errorDescription, 0, false};
        break;
    }
    if (c->p >= c->end || *c->p != '"' || !JsonReadString(c, &sink))
        return false;
    // A description is only shown: a long one is cut. Anything else must fit whole.
    if (sink.overflow && which != kMemberDescription)
        return false;
    if ((which == kMemberAccessToken || which == kMemberRefreshToken) &&
        !IsTokenText(sink.dest))
        return false;
    if (which == kMemberError && sink.length == 0)
        return false;
    *present = true;
    return true;
}

// The id_token as it came, and its payload decoded; one response at a time.
char gIdToken[kTokenSize];
unsigned char gPayload[kTokenSize];

// A claim's value, or "" when it is not a string of 1 or more bytes without control
// characters that fits dest. False when the claim's JSON is broken.
bool ReadClaim(JsonCursor *c, char *dest, size_t destSize)
{
    dest[0] = '\0';
    if (c->p >= c->end || *c->p != '"')
        return JsonSkipValue(c, 1);
    JsonSink sink = {dest, destSize, 0, false};
    if (!JsonReadString(c, &sink))
        return false;
    bool usable = !sink.overflow;
    for (const unsigned char *p = (const unsigned char *)dest; usable && *p; p++)
        usable = *p >= 0x20 && *p != 0x7F;
    if (!usable)
        dest[0] = '\0';
    return true;
}

// The claims "email" and "preferred_username" of an id_token's payload: one JSON object and
// nothing else; each of the two at most once. False when it is not such an object.
bool ReadClaims(const unsigned char *bytes, size_t count, char *email, char *username)
{
    email[0] = username[0] = '\0';
    JsonCursor c = {bytes, bytes + count};
    bool seenEmail = false, seenUsername = false;
    JsonSkipSpace(&c);
    if (!JsonTake(&c, '{'))
        return false;
    JsonSkipSpace(&c);
    if (!JsonTake(&c, '}')) {
        for (;;) {
            char name[kNameSize];
            JsonSink sink = {name, sizeof name, 0, false};
            if (c.p >= c.end || *c.p != '"' || !JsonReadString(&c, &sink))
                return false;
            JsonSkipSpace(&c);
            if (!JsonTake(&c, ':'))
                return false;
            JsonSkipSpace(&c);
            bool isEmail = !sink.overflow && strcmp(name, "email") == 0;
            bool isUsername = !sink.overflow && strcmp(name, "preferred_username") == 0;
            if ((isEmail && seenEmail) || (isUsername && seenUsername))
                return false;
            seenEmail = seenEmail || isEmail;
            seenUsername = seenUsername || isUsername;
            bool read = isEmail      ? ReadClaim(&c, email, kSignedInAsSize)
                        : isUsername ? ReadClaim(&c, username, kSignedInAsSize)
                                     : JsonSkipValue(&c, 1);
            if (!read)
                return false;
            JsonSkipSpace(&c);
            if (JsonTake(&c, '}'))
                break;
            if (!JsonTake(&c, ','))
                return false;
            JsonSkipSpace(&c);
        }
    }
    JsonSkipSpace(&c);
    return c.p == c.end;
}

// Who the id_token says signed in, into dest ("" when it says nothing usable). Its three
// parts are header, payload and signature; five would be an encrypted token, not readable.
void ReadSignedInAs(const char *idToken, size_t length, char *dest, size_t destSize)
{
    dest[0] = '\0';
    const char *end = idToken + length;
    const char *payload = (const char *)memchr(idToken, '.', length);
    if (!payload)
        return;
    payload++;
    const char *payloadEnd = (const char *)memchr(payload, '.', (size_t)(end - payload));
    if (!payloadEnd || memchr(payloadEnd + 1, '.', (size_t)(end - payloadEnd - 1)))
        return;
    size_t payloadLength = (size_t)(payloadEnd - payload);
    size_t count = Base64Decode(payload, payloadLength, true, gPayload, sizeof gPayload);
    char email[kSignedInAsSize], username[kSignedInAsSize];
    if (count != (size_t)-1 && ReadClaims(gPayload, count, email, username))
        CopyText(dest, destSize, email[0] ? email : username);
    // The decoder writes fewer bytes than it reads, also when it gives up.
    WipeBytes(gPayload, payloadLength < sizeof gPayload ? payloadLength : sizeof gPayload);
}

void Clear(TokenResponse *out)
{
    out->accessToken[0] = '\0';
    out->refreshToken[0] = '\0';
    out->expiresIn = -1;
    out->tokenType[0] = '\0';
    out->error[0] = '\0';
    out->errorDescription[0] = '\0';
    out->signedInAs[0] = '\0';
}

TokenResponseResult Refuse(TokenResponse *out)
{
    Clear(out);
    return kTokenResponseMalformed;
}

// The document; an id_token that came as a string that fits is left in gIdToken,
// *idTokenLength bytes (0 when none did), and *idTokenSeen says whether gIdToken was written.
TokenResponseResult ReadDocument(const char *bytes, size_t count, TokenResponse *out,
                                 size_t *idTokenLength, bool *idTokenSeen)
{
    JsonCursor c = {(const unsigned char *)bytes, (const unsigned char *)bytes + count};
    char names[kMembersMax][kNameSize];
    int nameCount = 0;
    bool present[kMemberCount] = {false, false, false, false, false, false};

    JsonSkipSpace(&c);
    if (!JsonTake(&c, '{'))
        return Refuse(out);
    JsonSkipSpace(&c);
    if (!JsonTake(&c, '}')) {
        for (;;) {
            if (nameCount == kMembersMax)
                return Refuse(out);
            char *name = names[nameCount];
            JsonSink sink = {name, kNameSize, 0, false};
            if (c.p >= c.end || *c.p != '"' || !JsonReadString(&c, &sink) || sink.overflow)
                return Refuse(out);
            // Names are compared as decoded, so "\u0061" and "a" are the same name (no name
            // holds NUL: \u0000 is refused).
            for (int i = 0; i < nameCount; i++)
                if (strcmp(names[i], name) == 0)
                    return Refuse(out);
            nameCount++;
            JsonSkipSpace(&c);
            if (!JsonTake(&c, ':'))
                return Refuse(out);
            JsonSkipSpace(&c);
            int which = -1;
            for (int i = 0; i < kMemberCount; i++)
                if (strcmp(name, kMemberNames[i]) == 0)
                    which = i;
            if (which >= 0) {
                if (!ReadKnownMember(&c, which, out, &present[which]))
                    return Refuse(out);
            } else if (strcmp(name, "id_token") == 0 && c.p < c.end && *c.p == '"') {
                JsonSink sink = {gIdToken, sizeof gIdToken, 0, false};
                *idTokenSeen = true;
                if (!JsonReadString(&c, &sink))
                    return Refuse(out);
                *idTokenLength = sink.overflow ? 0 : sink.length;
            } else if (!JsonSkipValue(&c, 1)) {
                return Refuse(out);
            }
            JsonSkipSpace(&c);
            if (JsonTake(&c, '}'))
                break;
            if (!JsonTake(&c, ','))
                return Refuse(out);
            JsonSkipSpace(&c);
        }
    }
    JsonSkipSpace(&c);
    if (c.p != c.end)
        return Refuse(out);

    if (present[kMemberError]) {
        char error[sizeof out->error];
        char description[sizeof out->errorDescription];
        CopyText(error, sizeof error, out->error);
        CopyText(description, sizeof description,
                 present[kMemberDescription] ? out->errorDescription : "");
        Clear(out);
        CopyText(out->error, sizeof out->error, error);
        CopyText(out->errorDescription, sizeof out->errorDescription, description);
        return kTokenResponseError;
    }
    char type[sizeof out->tokenType];
    CopyText(type, sizeof type, present[kMemberTokenType] ? out->tokenType : "");
    LowerAscii(type);
    if (!present[kMemberAccessToken] || strcmp(type, "bearer") != 0)
        return Refuse(out);
    if (!present[kMemberRefreshToken])
        out->refreshToken[0] = '\0';
    if (!present[kMemberExpiresIn])
        out->expiresIn = -1;
    out->error[0] = '\0';
    out->errorDescription[0] = '\0';
    return kTokenResponseOk;
}

}  // namespace

TokenResponseResult ReadTokenResponse(const char *bytes, size_t count, TokenResponse *out)
{
    Clear(out);
    size_t idTokenLength = 0;
    bool idTokenSeen = false;
    TokenResponseResult result = ReadDocument(bytes, count, out, &idTokenLength, &idTokenSeen);
    if (result == kTokenResponseOk && idTokenLength > 0)
        ReadSignedInAs(gIdToken, idTokenLength, out->signedInAs, sizeof out->signedInAs);
    if (idTokenSeen)
        WipeBytes(gIdToken, sizeof gIdToken);
    return result;
}
