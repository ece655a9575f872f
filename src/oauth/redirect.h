// The browser's way back to the sign-in: the HTTP request the loopback listener receives
// when the provider redirects to http://127.0.0.1:PORT/, and the short pages it answers with.
#pragma once
#include <cstddef>

// The most bytes a request may take, request line and headers with their blank line.
const size_t kRedirectRequestMax = 8192;

enum RedirectResult {
    kRedirectNeedMore = 0,   // the headers have not ended yet
    kRedirectCode,           // our path, our state, a code
    kRedirectProviderError,  // our path, our state, error=... (access_denied and others)
    kRedirectWrongState,     // our path, but no state or another one: nothing in it is used
    kRedirectNoCode,         // our path, our state, neither code nor error
    kRedirectMalformed,      // not an HTTP/1.x GET, or a query that cannot be decoded
    kRedirectTooLong,        // no end of the headers within kRedirectRequestMax bytes
    kRedirectOtherPath,      // another path (/favicon.ico): answered 404, not counted
};

struct RedirectRequest {
    char code[kRedirectRequestMax];   // kRedirectCode: the code, percent-decoded
    char error[128];                  // kRedirectProviderError: "error", cut to fit
    char errorDescription[512];       // and "error_description" when sent, cut to fit
};

// Reads the bytes received so far on one connection. The request line is checked as soon as
// it is complete; the rest once the headers end (the listener answers only then, so that it
// never closes a connection with bytes unread). The query's parameters are percent-decoded
// with '+' as a blank; a parameter the reader knows given twice, an escape that is broken or
// decodes to NUL, or a control character makes the request malformed. The state is checked
// before anything else is taken from the query. *out holds only what the result names.
RedirectResult ReadRedirectRequest(const char *bytes, size_t count, const char *expectedState,
                                   RedirectRequest *out);

enum RedirectPage {
    kRedirectPageSignedIn,  // 200: the sign-in was received, the tab can be closed
    kRedirectPageFailed,    // 400: the sign-in failed, and why
    kRedirectPageNotFound,  // 404: another path
};

// A whole HTTP/1.1 response (headers, then the page; the connection is closed after it).
// reason is plain text for kRedirectPageFailed, escaped for HTML here; cut when the page
// would not fit. Returns the length, 0 when even the shortest form does not fit dest.
size_t MakeRedirectReply(RedirectPage page, const char *reason, char *dest, size_t destSize);
