// Win32 side of the HTTPS seam: WinHTTP in its synchronous mode, with the system's certificate
// checks and the user's proxy settings; the request that reports to a window runs the same
// steps on a thread of its own. WinHTTP is loaded when the first request is made: most runs
// never make one, and loading it at every start costs each of them time.
#include <windows.h>
#include <winhttp.h>

#include <cstdlib>
#include <cstring>

#include "../plat_http.h"

static const int kTokenTimeoutMilliseconds = 30000;
static const int kStepTimeoutMilliseconds = 60000;
static const int kAnswerTimeoutMilliseconds = 600000;
// The body goes out in pieces this large: few calls, and the window hears of each.
static const size_t kPieceSize = 256 * 1024;

// The URL as UTF-16 for WinHTTP; its parts point into it after cracking.
static const int kUrlUnits = 2048;

// The WinHTTP functions used, from winhttp.dll once it is loaded.
struct WinHttpApi {
    decltype(&WinHttpCloseHandle) CloseHandle;
    decltype(&WinHttpConnect) Connect;
    decltype(&WinHttpCrackUrl) CrackUrl;
    decltype(&WinHttpGetIEProxyConfigForCurrentUser) GetIEProxyConfig;
    decltype(&WinHttpGetProxyForUrl) GetProxyForUrl;
    decltype(&WinHttpOpen) Open;
    decltype(&WinHttpOpenRequest) OpenRequest;
    decltype(&WinHttpQueryHeaders) QueryHeaders;
    decltype(&WinHttpReadData) ReadData;
    decltype(&WinHttpReceiveResponse) ReceiveResponse;
    decltype(&WinHttpSendRequest) SendRequest;
    decltype(&WinHttpSetOption) SetOption;
    decltype(&WinHttpSetTimeouts) SetTimeouts;
    decltype(&WinHttpWriteData) WriteData;
};

template <typename F>
static bool Resolve(HMODULE module, const char *name, F *function)
{
    *function = (F)(void *)GetProcAddress(module, name);
    return *function != nullptr;
}

// The functions, or null when winhttp.dll or one of them is missing (GetLastError says why).
// The first call is made on the program's main thread, before any worker starts.
static const WinHttpApi *LoadWinHttp(void)
{
    static WinHttpApi api;
    static bool loaded;
    if (loaded)
        return &api;
    HMODULE module = LoadLibraryA("winhttp.dll");
    if (!module || !Resolve(module, "WinHttpCloseHandle", &api.CloseHandle) ||
        !Resolve(module, "WinHttpConnect", &api.Connect) ||
        !Resolve(module, "WinHttpCrackUrl", &api.CrackUrl) ||
        !Resolve(module, "WinHttpGetIEProxyConfigForCurrentUser", &api.GetIEProxyConfig) ||
        !Resolve(module, "WinHttpGetProxyForUrl", &api.GetProxyForUrl) ||
        !Resolve(module, "WinHttpOpen", &api.Open) ||
        !Resolve(module, "WinHttpOpenRequest", &api.OpenRequest) ||
        !Resolve(module, "WinHttpQueryHeaders", &api.QueryHeaders) ||
        !Resolve(module, "WinHttpReadData", &api.ReadData) ||
        !Resolve(module, "WinHttpReceiveResponse", &api.ReceiveResponse) ||
        !Resolve(module, "WinHttpSendRequest", &api.SendRequest) ||
        !Resolve(module, "WinHttpSetOption", &api.SetOption) ||
        !Resolve(module, "WinHttpSetTimeouts", &api.SetTimeouts) ||
        !Resolve(module, "WinHttpWriteData", &api.WriteData))
        return nullptr;
    loaded = true;
    return &api;
}

// One request's handles; the path points into the cracked URL.
struct Exchange {
    WCHAR url[kUrlUnits];
    WCHAR host[256];
    HINTERNET connection, request;
};

// One session for the run: its connections stay open between requests, so that the messages
// of a batch share one connection (and one handshake) where the server keeps it open.
static HINTERNET gSession;
static bool gSessionProxy;  // the session has the automatic proxy (Windows 8.1 and later)

static DWORD LastError(void)
{
    DWORD error = GetLastError();
    return error ? error : (DWORD)ERROR_WINHTTP_INTERNAL_ERROR;
}

// The user's Internet settings for the request, where the session has no proxy of its own:
// automatic detection or a configuration script first, else the named proxy. A setting that
// gives nothing leaves the request direct, as the browser would go.
static void ApplyUserProxy(const WinHttpApi *http, Exchange *x)
{
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user;
    memset(&user, 0, sizeof user);
    if (!http->GetIEProxyConfig(&user))
        return;
    WINHTTP_PROXY_INFO found;
    memset(&found, 0, sizeof found);
    bool automatic = false;
    if (user.fAutoDetect || user.lpszAutoConfigUrl) {
        WINHTTP_AUTOPROXY_OPTIONS options;
        memset(&options, 0, sizeof options);
        if (user.lpszAutoConfigUrl) {
            options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
            options.lpszAutoConfigUrl = user.lpszAutoConfigUrl;
        }
        if (user.fAutoDetect) {
            options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
            options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        }
        options.fAutoLogonIfChallenged = TRUE;
        automatic = http->GetProxyForUrl(gSession, x->url, &options, &found) != FALSE;
        if (automatic)
            http->SetOption(x->request, WINHTTP_OPTION_PROXY, &found, sizeof found);
    }
    if (!automatic && user.lpszProxy) {
        WINHTTP_PROXY_INFO named;
        named.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        named.lpszProxy = user.lpszProxy;
        named.lpszProxyBypass = user.lpszProxyBypass;
        http->SetOption(x->request, WINHTTP_OPTION_PROXY, &named, sizeof named);
    }
    GlobalFree(found.lpszProxy);
    GlobalFree(found.lpszProxyBypass);
    GlobalFree(user.lpszAutoConfigUrl);
    GlobalFree(user.lpszProxy);
    GlobalFree(user.lpszProxyBypass);
}

// Opens the run's session unless it is open; called on the program's main thread only,
// before any worker starts. 0, or the error.
static DWORD OpenSession(const WinHttpApi *http)
{
    if (gSession)
        return 0;
    gSessionProxy = true;
    gSession = http->Open(L"Tillwick/1.0", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                          WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!gSession) {
        // Before Windows 8.1: no proxy of the session's own; the user's settings per request.
        gSessionProxy = false;
        gSession = http->Open(L"Tillwick/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY,
                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    }
    return gSession ? 0 : LastError();
}

// Cracks the https:// URL and opens the connection and the request in the run's session
// with these time-outs (resolve, connect, send, receive), redirects refused. 0, or the error.
static DWORD OpenExchange(const WinHttpApi *http, const char *url, const WCHAR *method,
                          int stepTimeout, int receiveTimeout, Exchange *x)
{
    x->connection = x->request = nullptr;
    URL_COMPONENTS parts;
    memset(&parts, 0, sizeof parts);
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = x->host;
    parts.dwHostNameLength = sizeof x->host / sizeof x->host[0];
    parts.dwUrlPathLength = (DWORD)-1;
    parts.dwExtraInfoLength = (DWORD)-1;
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, url, -1, x->url, kUrlUnits) == 0 ||
        !http->CrackUrl(x->url, 0, 0, &parts))
        return LastError();
    if (parts.nScheme != INTERNET_SCHEME_HTTPS)
        return ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
    // The path and the query are one string: the query follows the path directly.
    const WCHAR *path = parts.dwUrlPathLength ? parts.lpszUrlPath : L"/";
    DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    x->connection = http->Connect(gSession, x->host, parts.nPort, 0);
    if (!x->connection)
        return LastError();
    x->request = http->OpenRequest(x->connection, method, path, nullptr, WINHTTP_NO_REFERER,
                                   WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    if (!x->request ||
        !http->SetTimeouts(x->request, stepTimeout, stepTimeout, stepTimeout, receiveTimeout) ||
        !http->SetOption(x->request, WINHTTP_OPTION_REDIRECT_POLICY, &redirects, sizeof redirects))
        return LastError();
    if (!gSessionProxy)
        ApplyUserProxy(http, x);
    return 0;
}

static void CloseExchange(const WinHttpApi *http, Exchange *x)
{
    if (x->request)
        http->CloseHandle(x->request);
    if (x->connection)
        http->CloseHandle(x->connection);
    x->connection = x->request = nullptr;
}

// The answer once its head is in: the status, Retry-After (ASCII, "" when absent) and the
// body into body (bodySize bytes): *cut when it had more, which is read and dropped.
static DWORD ReadAnswer(const WinHttpApi *http, HINTERNET request, int *status,
                        char *retryAfter, size_t retryAfterSize, char *body, size_t bodySize,
                        size_t *bodyLength, bool *cut)
{
    *bodyLength = 0;
    *cut = false;
    DWORD statusCode = 0;
    DWORD size = sizeof statusCode;
    if (!http->QueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &statusCode, &size,
                            WINHTTP_NO_HEADER_INDEX))
        return LastError();
    if (retryAfterSize > 0) {
        // Seconds or an HTTP date: ASCII by definition; anything else is kept as "?".
        WCHAR wide[kPlatRetryAfterSize];
        size = sizeof wide - sizeof wide[0];
        size_t units = 0;
        if (http->QueryHeaders(request, WINHTTP_QUERY_RETRY_AFTER, WINHTTP_HEADER_NAME_BY_INDEX,
                               wide, &size, WINHTTP_NO_HEADER_INDEX))
            units = size / sizeof(WCHAR);
        if (units >= retryAfterSize)
            units = retryAfterSize - 1;
        for (size_t i = 0; i < units; i++)
            retryAfter[i] = wide[i] < 0x80 ? (char)wide[i] : '?';
        retryAfter[units] = '\0';
    }
    // The body, read until the server has sent it all.
    for (;;) {
        char spill[4096];
        size_t room = bodySize - *bodyLength;
        char *into = room > 0 ? body + *bodyLength : spill;
        DWORD ask = room == 0 ? (DWORD)sizeof spill : room > 0x10000 ? 0x10000 : (DWORD)room;
        DWORD got = 0;
        if (!http->ReadData(request, into, ask, &got))
            return LastError();
        if (got == 0)
            break;
        if (room == 0)
            *cut = true;
        else
            *bodyLength += got;
    }
    *status = (int)statusCode;
    return 0;
}

int PlatHttpsPost(const char *url, const char *body, size_t bodyLength, char *response,
                  size_t responseSize, size_t *responseLength, int *status,
                  unsigned long *error)
{
    *responseLength = 0;
    *status = 0;
    *error = 0;
    const WinHttpApi *http = LoadWinHttp();
    if (!http) {
        *error = GetLastError() ? GetLastError() : (unsigned long)ERROR_PROC_NOT_FOUND;
        return 0;
    }
    if (bodyLength > 0xFFFFFFFFu) {
        *error = ERROR_INVALID_PARAMETER;
        return 0;
    }
    Exchange x;
    x.connection = x.request = nullptr;
    static const WCHAR kHeaders[] =
        L"Content-Type: application/x-www-form-urlencoded\r\nAccept: application/json\r\n";
    bool cut = false;
    DWORD failure = OpenSession(http);
    if (failure == 0)
        failure = OpenExchange(http, url, L"POST", kTokenTimeoutMilliseconds,
                               kTokenTimeoutMilliseconds, &x);
    if (failure == 0 &&
        (!http->SendRequest(x.request, kHeaders, (DWORD)-1L, (LPVOID)body, (DWORD)bodyLength,
                            (DWORD)bodyLength, 0) ||
         !http->ReceiveResponse(x.request, nullptr)))
        failure = LastError();
    if (failure == 0)
        failure = ReadAnswer(http, x.request, status, nullptr, 0, response, responseSize,
                             responseLength, &cut);
    if (failure == 0 && cut)
        failure = PLAT_HTTP_BODY_TOO_LARGE;
    CloseExchange(http, &x);
    if (failure != 0) {
        *error = failure;
        *responseLength = 0;
        *status = 0;
        return 0;
    }
    return 1;
}

// ---- the request on a worker --------------------------------------------------------------

// One request. The worker works on its own copies and reaches the caller's memory (the
// producer, the answer, the window) only under the lock and only while no Cancel has come:
// a Cancel answers the caller at once and leaves the worker to end by itself, since closing
// the handle ends a call in progress only in WinHTTP's asynchronous mode (Wine's
// synchronous calls carry on until the peer answers or the time-out passes).
struct HttpsJob {
    PlatHttpsRequest request;  // its strings replaced by the job's copies
    PlatHttpsAnswer *answer;   // the caller's
    PlatHttpsAnswer result;    // the worker's; its body in resultBody
    const WinHttpApi *http;
    Exchange exchange;
    char *url;
    WCHAR method[8];
    WCHAR *headers;  // the caller's headers as UTF-16
    char *piece;     // kPieceSize bytes for the body's pieces
    char *resultBody;
    HANDLE thread;
    CRITICAL_SECTION lock;
    // Under the lock:
    HINTERNET openRequest;  // the request handle while the worker holds it, until Cancel
    bool held;              // the worker handed it over
    bool cancelled;         // Cancel came: the caller has had its answer
    bool answered;          // the worker gave the caller its answer
    bool workerEnded;
    bool abandoned;         // the caller ended the request while the worker still ran
};

static void FreeJob(HttpsJob *job)
{
    DeleteCriticalSection(&job->lock);
    free(job->url);
    free(job->headers);
    free(job->piece);
    free(job->resultBody);
    free(job);
}

static void Post(const HttpsJob *job, unsigned message, unsigned long long value)
{
    if (job->request.window)
        PostMessageA((HWND)job->request.window, message,
                     (WPARAM)(value > (WPARAM)-1 ? (WPARAM)-1 : value), 0);
}

// Takes the request handle into the lock's care; false when Cancel came first.
static bool HoldRequest(HttpsJob *job)
{
    EnterCriticalSection(&job->lock);
    job->held = !job->cancelled;
    if (job->held)
        job->openRequest = job->exchange.request;
    LeaveCriticalSection(&job->lock);
    return job->held;
}

// The connection's news for the window, unless Cancel has answered it already.
static void Progress(HttpsJob *job, unsigned long long sent)
{
    EnterCriticalSection(&job->lock);
    job->result.bytesSent = sent;
    if (!job->cancelled)
        Post(job, job->request.progressMessage, sent);
    LeaveCriticalSection(&job->lock);
}

// The producer's next piece into the job's buffer, unless Cancel has come (the caller's
// memory is touched only under the lock). *n is 0 once the body is complete.
static DWORD ProducePiece(HttpsJob *job, unsigned long long sent, size_t *n)
{
    EnterCriticalSection(&job->lock);
    bool cancelled = job->cancelled;
    *n = cancelled || sent >= job->request.bodyLength
             ? 0
             : job->request.produce(job->request.producerContext, job->piece, kPieceSize);
    LeaveCriticalSection(&job->lock);
    if (cancelled)
        return PLAT_HTTP_CANCELLED;
    if (*n > kPieceSize || sent + *n > job->request.bodyLength)
        return ERROR_WINHTTP_INTERNAL_ERROR;  // more than the caller announced
    return 0;
}

// Writes the body, a piece at a time as the producer gives it. 0, or the error.
static DWORD WriteBody(HttpsJob *job)
{
    const WinHttpApi *http = job->http;
    unsigned long long sent = 0;
    for (;;) {
        size_t n = 0;
        DWORD failure = ProducePiece(job, sent, &n);
        if (failure != 0)
            return failure;
        if (n == 0)
            break;
        size_t done = 0;
        while (done < n) {
            DWORD written = 0;
            if (!http->WriteData(job->exchange.request, job->piece + done, (DWORD)(n - done),
                                 &written))
                return LastError();
            if (written == 0)
                return ERROR_WINHTTP_INTERNAL_ERROR;
            done += written;
        }
        sent += n;
        Progress(job, sent);
    }
    return sent == job->request.bodyLength ? 0 : ERROR_WINHTTP_INTERNAL_ERROR;
}

static DWORD RunExchange(HttpsJob *job)
{
    const WinHttpApi *http = job->http;
    PlatHttpsAnswer *result = &job->result;
    DWORD failure = OpenExchange(http, job->url, job->method, kStepTimeoutMilliseconds,
                                 kAnswerTimeoutMilliseconds, &job->exchange);
    if (failure != 0)
        return failure;
    if (!HoldRequest(job))
        return PLAT_HTTP_CANCELLED;
    if (!http->SendRequest(job->exchange.request, job->headers, (DWORD)-1L,
                           WINHTTP_NO_REQUEST_DATA, 0, (DWORD)job->request.bodyLength, 0))
        return LastError();
    result->connected = true;
    Progress(job, 0);
    if ((failure = WriteBody(job)) != 0)
        return failure;
    if (!http->ReceiveResponse(job->exchange.request, nullptr))
        return LastError();
    return ReadAnswer(http, job->exchange.request, &result->status, result->retryAfter,
                      sizeof result->retryAfter, result->body, result->bodySize,
                      &result->bodyLength, &result->bodyCut);
}

static DWORD WINAPI RunHttpsJob(LPVOID parameter)
{
    HttpsJob *job = (HttpsJob *)parameter;
    PlatHttpsAnswer *result = &job->result;
    DWORD failure = RunExchange(job);
    if (failure != 0) {
        result->status = 0;
        result->bodyLength = 0;
        result->error = failure;
    }
    // The request handle is the worker's to close unless Cancel closed it.
    EnterCriticalSection(&job->lock);
    if (job->held && !job->openRequest)
        job->exchange.request = nullptr;
    job->openRequest = nullptr;
    job->held = false;
    LeaveCriticalSection(&job->lock);
    CloseExchange(job->http, &job->exchange);

    EnterCriticalSection(&job->lock);
    if (!job->cancelled) {
        PlatHttpsAnswer *answer = job->answer;
        char *body = answer->body;
        size_t bodySize = answer->bodySize;
        *answer = *result;
        answer->body = body;
        answer->bodySize = bodySize;
        if (result->bodyLength)
            memcpy(body, result->body, result->bodyLength);
        job->answered = true;
        Post(job, job->request.doneMessage, 0);
    }
    job->workerEnded = true;
    bool abandoned = job->abandoned;
    LeaveCriticalSection(&job->lock);
    if (abandoned)
        FreeJob(job);
    return 0;
}

PlatHttps PlatStartHttpsRequest(const PlatHttpsRequest *request, PlatHttpsAnswer *answer)
{
    answer->status = 0;
    answer->error = 0;
    answer->connected = false;
    answer->bytesSent = 0;
    answer->retryAfter[0] = '\0';
    answer->bodyLength = 0;
    answer->bodyCut = false;
    const WinHttpApi *http = LoadWinHttp();
    if (!http) {
        answer->error = GetLastError() ? GetLastError() : (unsigned long)ERROR_PROC_NOT_FOUND;
        return 0;
    }
    if ((answer->error = OpenSession(http)) != 0)
        return 0;
    if (request->bodyLength > 0xFFFFFFFFull || (request->bodyLength > 0 && !request->produce) ||
        MultiByteToWideChar(CP_ACP, 0, request->method, -1, nullptr, 0) > 8) {
        answer->error = ERROR_INVALID_PARAMETER;
        return 0;
    }
    HttpsJob *job = (HttpsJob *)calloc(1, sizeof *job);
    int units = MultiByteToWideChar(CP_UTF8, 0, request->headers, -1, nullptr, 0);
    if (job) {
        job->url = strdup(request->url);
        job->headers = units > 0 ? (WCHAR *)malloc(units * sizeof(WCHAR)) : nullptr;
        job->piece = (char *)malloc(kPieceSize);
        job->resultBody = (char *)malloc(answer->bodySize ? answer->bodySize : 1);
        InitializeCriticalSection(&job->lock);
    }
    if (!job || !job->url || !job->headers || !job->piece || !job->resultBody ||
        MultiByteToWideChar(CP_UTF8, 0, request->headers, -1, job->headers, units) == 0) {
        answer->error = ERROR_NOT_ENOUGH_MEMORY;
        if (job)
            FreeJob(job);
        return 0;
    }
    MultiByteToWideChar(CP_ACP, 0, request->method, -1, job->method, 8);
    job->request = *request;
    job->request.url = job->url;
    job->request.headers = nullptr;
    job->request.method = nullptr;
    job->answer = answer;
    job->result = *answer;
    job->result.body = job->resultBody;
    job->http = http;
    job->thread = CreateThread(nullptr, 64 * 1024, RunHttpsJob, job,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!job->thread) {
        answer->error = GetLastError();
        FreeJob(job);
        return 0;
    }
    return (PlatHttps)job;
}

void PlatCancelHttpsRequest(PlatHttps https)
{
    HttpsJob *job = (HttpsJob *)https;
    if (!job)
        return;
    EnterCriticalSection(&job->lock);
    if (!job->answered && !job->cancelled) {
        job->cancelled = true;
        // Ends a send or a wait in progress where WinHTTP can; the worker closes nothing more.
        if (job->openRequest)
            job->http->CloseHandle(job->openRequest);
        job->openRequest = nullptr;
        PlatHttpsAnswer *answer = job->answer;
        answer->status = 0;
        answer->error = PLAT_HTTP_CANCELLED;
        answer->connected = job->result.connected;
        answer->bytesSent = job->result.bytesSent;
        answer->bodyLength = 0;
        Post(job, job->request.doneMessage, 0);
    }
    LeaveCriticalSection(&job->lock);
}

void PlatEndHttpsRequest(PlatHttps https)
{
    HttpsJob *job = (HttpsJob *)https;
    if (!job)
        return;
    EnterCriticalSection(&job->lock);
    // Cancelled while the worker still runs: it frees the request when it ends.
    bool leave = job->cancelled && !job->workerEnded;
    job->abandoned = leave;
    LeaveCriticalSection(&job->lock);
    if (!leave)
        WaitForSingleObject(job->thread, INFINITE);
    CloseHandle(job->thread);
    if (!leave)
        FreeJob(job);
}
