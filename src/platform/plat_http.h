// Seam: one HTTPS request through the system's HTTP client (WinHTTP), for the token endpoint
// of the mail sign-in. It blocks until the answer is in or a time-out has passed.
#pragma once
#include <cstddef>

// The error number given when the answer's body is larger than the caller's buffer
// (ERROR_INSUFFICIENT_BUFFER); the others are WinHTTP's own (12001 and up).
const unsigned long PLAT_HTTP_BODY_TOO_LARGE = 122;
// WinHTTP's numbers that the texts tell apart.
const unsigned long PLAT_HTTP_TIMEOUT = 12002;
const unsigned long PLAT_HTTP_NAME_NOT_RESOLVED = 12007;
const unsigned long PLAT_HTTP_CANNOT_CONNECT = 12029;
const unsigned long PLAT_HTTP_CONNECTION_ERROR = 12030;
const unsigned long PLAT_HTTP_SECURE_CHANNEL_ERROR = 12157;
const unsigned long PLAT_HTTP_SECURE_FAILURE = 12175;

// POSTs body (bodyLength bytes) to url, which must be an https:// address, with
// "Content-Type: application/x-www-form-urlencoded" and "Accept: application/json". The
// server's certificate is checked against the system's trusted roots and the host name (the
// system's default); redirects are not followed; name resolution, connect, send and receive
// each give up after 30 seconds; the system's proxy settings apply.
// Returns 1 when an answer came: its status in *status and its body in response
// (responseSize bytes, owned by the caller; *responseLength bytes used, not terminated).
// Returns 0 otherwise, with the reason in *error: WinHTTP's error number, or
// PLAT_HTTP_BODY_TOO_LARGE.
int PlatHttpsPost(const char *url, const char *body, size_t bodyLength, char *response,
                  size_t responseSize, size_t *responseLength, int *status,
                  unsigned long *error);
