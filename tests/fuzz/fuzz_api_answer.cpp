// Fuzz target: any bytes as a mail API's answer. The first byte picks the API, the status and
// whether the token was renewed; the bytes up to the first line feed are the Retry-After, the
// rest the body. AddressSanitizer proves the reading stays in its buffers; the checks prove
// what a verdict promises: one of the kinds an answer can give, acceptance only on Graph's
// 202 or Gmail's 200, the provider's texts terminated within their fields, a wait only for a
// throttle, and a second answer changing nothing.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mail/api/api_request.h"

static bool Terminated(const char *text, size_t size) { return strnlen(text, size) < size; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const int kStatuses[] = {200, 202, 400, 401, 403, 413, 429, 500, 503, 204};
    static MailSettings settings;
    static QueuedMessage message;
    static ApiRequest request;
    if (size == 0)
        return 0;
    memset(&settings, 0, sizeof settings);
    settings.way = (data[0] & 1) ? kWayGmail : kWayGraph;
    strcpy(settings.apiUrl, settings.way == kWayGraph ? kGraphSendUrl : kGmailSendUrl);
    strcpy(settings.accessToken, "token");
    static const char kHead[] = "To: <b@x.y>\r\n";
    static const char kText[] = "To: <b@x.y>\r\n\r\nHi\r\n";
    message.text = kText;
    message.textLength = sizeof kText - 1;
    message.head = kHead;
    message.headLength = sizeof kHead - 1;
    message.header.end = sizeof kHead - 1;
    message.restSize = 6;
    ApiActions actions = {};
    if (!StartApiRequest(&request, &settings, &message, (data[0] & 2) != 0, &actions))
        abort();
    int status = kStatuses[(data[0] >> 2) % 10];
    const char *rest = (const char *)data + 1;
    size_t restSize = size - 1;
    const char *lineFeed = (const char *)memchr(rest, '\n', restSize);
    std::string retryAfter(rest, lineFeed ? (size_t)(lineFeed - rest) : 0);
    std::string body = lineFeed ? std::string(lineFeed + 1, restSize - retryAfter.size() - 1)
                                : std::string(rest, restSize);
    PlatHttpsAnswer answer = {};
    answer.status = status;
    answer.connected = true;
    answer.bytesSent = request.bodyLength;
    snprintf(answer.retryAfter, sizeof answer.retryAfter, "%s", retryAfter.c_str());
    answer.body = &body[0];
    answer.bodySize = answer.bodyLength = body.size();
    actions = ApiActions();
    TakeApiAnswer(&request, &answer, 1796083200, &actions);
    const ApiVerdict &v = request.verdict;
    if (v.kind == kApiVerdictNone || v.kind > kApiVerdictUnconfirmed || actions.overflow)
        abort();
    if (v.kind == kApiVerdictAccepted && status != (settings.way == kWayGraph ? 202 : 200))
        abort();
    if (!Terminated(v.code, sizeof v.code) || !Terminated(v.message, sizeof v.message) ||
        !Terminated(v.reason, sizeof v.reason) || !Terminated(v.statusName, sizeof v.statusName))
        abort();
    if (v.retryAfter < -1 || (v.kind != kApiVerdictThrottled && v.retryAfter != -1))
        abort();
    ApiVerdict before = v;
    answer.status = 202;
    TakeApiAnswer(&request, &answer, 1796083200, &actions);
    if (memcmp(&before, &request.verdict, sizeof before) != 0)
        abort();
    return 0;
}
