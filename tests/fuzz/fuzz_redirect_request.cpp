// Fuzz target: any bytes as what a browser sends to the sign-in's loopback listener, read
// whole and in two pieces through the sign-in window's decisions. AddressSanitizer proves the
// decoding stays in its buffers; the checks prove what a result promises: a code is never
// empty, never holds a control character and never comes with another state; a decision taken
// on the first bytes is the decision on all of them (more bytes cannot change it); and every
// answer is a whole HTTP response.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "oauth/redirect.h"
#include "oauth/signin_flow.h"

static const char kState[] = "st8";

static void CheckText(const char *text, size_t size, bool printable)
{
    size_t length = strnlen(text, size);
    if (length >= size)
        abort();
    for (size_t i = 0; printable && i < length; i++)
        if ((unsigned char)text[i] < 0x20 || text[i] == 0x7F)
            abort();
}

static void CheckReply(const SignInActions &actions)
{
    if (actions.replyTo == PLAT_INVALID_SOCKET)
        return;
    std::string reply(actions.reply, actions.replyLength);
    size_t body = reply.find("\r\n\r\n");
    if (actions.replyLength == 0 || actions.replyLength >= sizeof actions.reply ||
        reply.compare(0, 9, "HTTP/1.1 ") != 0 || body == std::string::npos)
        abort();
    std::string length = "Content-Length: " + std::to_string(reply.size() - body - 4) + "\r\n";
    if (reply.find(length) == std::string::npos)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static RedirectRequest whole, part;
    const char *bytes = (const char *)data;
    RedirectResult result = ReadRedirectRequest(bytes, size, kState, &whole);
    CheckText(whole.code, sizeof whole.code, true);
    CheckText(whole.error, sizeof whole.error, true);
    CheckText(whole.errorDescription, sizeof whole.errorDescription, true);
    bool codeGiven = whole.code[0] != '\0';
    bool errorGiven = whole.error[0] != '\0' || whole.errorDescription[0] != '\0';
    switch (result) {
    case kRedirectCode:
        if (!codeGiven || errorGiven || size == 0)
            abort();
        break;
    case kRedirectProviderError:
        if (codeGiven || whole.error[0] == '\0')
            abort();
        break;
    case kRedirectNeedMore:
        if (size >= kRedirectRequestMax)
            abort();
        [[fallthrough]];
    default:
        if (codeGiven || errorGiven)
            abort();
        break;
    }
    if (result == kRedirectTooLong && size < kRedirectRequestMax)
        abort();
    // Whatever is taken from the query was taken only because the state was ours.
    if ((result == kRedirectCode || result == kRedirectProviderError ||
         result == kRedirectNoCode) &&
        ReadRedirectRequest(bytes, size, "st9", &part) != kRedirectWrongState)
        abort();

    // A decision on a prefix stands.
    size_t cut = size ? data[0] % (size + 1) : 0;
    RedirectResult early = ReadRedirectRequest(bytes, cut, kState, &part);
    if (early != kRedirectNeedMore &&
        (early != result || strcmp(part.code, whole.code) != 0 ||
         strcmp(part.error, whole.error) != 0))
        abort();

    // The window's decisions over the same bytes in two pieces.
    static SignInFlow flow;
    static SignInActions actions;
    StartSignInFlow(&flow, kState);
    SignInAccepted(&flow, 7, &actions);
    SignInReceived(&flow, 7, bytes, cut, &actions);
    CheckReply(actions);
    SignInReceived(&flow, 7, bytes + cut, size - cut, &actions);
    CheckReply(actions);
    int expected = result == kRedirectCode ? kSignInGotCode : -1;
    if (expected >= 0 && flow.outcome != expected)
        abort();
    if (flow.outcome == kSignInGotCode && strcmp(flow.redirect.code, whole.code) != 0)
        abort();
    if (result == kRedirectNeedMore || result == kRedirectOtherPath) {
        if (flow.outcome != kSignInWaiting)
            abort();
    } else if (flow.outcome == kSignInWaiting) {
        abort();
    }
    return 0;
}
