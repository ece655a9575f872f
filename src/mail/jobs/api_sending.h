// The sending window's second way out: the message posted to a mail API (Microsoft Graph, the
// Gmail API) by the platform's HTTPS request on its worker thread, which reports to the window.
// The request decides; the window carries out what it hands back, through these hooks.
#pragma once
#include <cstddef>

#include "../settings/mail_settings.h"
#include "sending_window.h"

// The worker's reports: progress (first = the body's bytes out so far) and its end.
const unsigned kWmApiProgress = kWmWayOutFirst;     // 1040
const unsigned kWmApiDone = kWmWayOutFirst + 1;     // 1041

// The way out for the settings: the mail API's when "MailAPI" names one, else none (SMTP).
// The jobs give it to the window after PrepareSendingWindow.
const SendingWayOut *WayOutFor(const MailSettings *settings);

// The window's first step once it is made and the message finished: the request (or, for a
// check, the GET of the API's host) started with the 60 seconds of silence counting. A message
// refused before posting (too large for Graph) or a request that cannot start is told and the
// window closes.
void StartApiSending(SendingWindow *window);

// The hooks of the window procedure: the worker's two messages, the silence timer, Cancel
// (the user's, or the window's own close once the request is over).
void TakeApiMessage(SendingWindow *window, unsigned message, uintptr_t first);
void HandleApiTimer(SendingWindow *window);
void HandleApiCancel(SendingWindow *window);

// Once the window has gone: no request left running, the token wiped from the request.
void EndApiSending(SendingWindow *window);
