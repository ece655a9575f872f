// Win32 side of the HTTPS seam: one POST through WinHTTP, synchronous, with the system's
// certificate checks and proxy settings. WinHTTP is loaded when the first request is made:
// most runs never make one, and loading it at every start costs each of them time.
#include <windows.h>
#include <winhttp.h>

#include <cstring>

#include "../plat_http.h"

static const int kTimeoutMilliseconds = 30000;
static const DWORD kAutomaticProxy = 4;  // WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY

// The URL as UTF-16 for WinHTTP; its parts point into it after cracking.
static const int kUrlUnits = 2048;

// The WinHTTP functions used, from winhttp.dll once it is loaded.
struct WinHttpApi {
    decltype(&WinHttpCloseHandle) CloseHandle;
    decltype(&WinHttpConnect) Connect;
    decltype(&WinHttpCrackUrl) CrackUrl;
    decltype(&WinHttpOpen) Open;
    decltype(&WinHttpOpenRequest) OpenRequest;
    decltype(&WinHttpQueryHeaders) QueryHeaders;
    decltype(&WinHttpReadData) ReadData;
    decltype(&WinHttpReceiveResponse) ReceiveResponse;
    decltype(&WinHttpSendRequest) SendRequest;
    decltype(&WinHttpSetOption) SetOption;
    decltype(&WinHttpSetTimeouts) SetTimeouts;
};

template <typename F>
static bool Resolve(HMODULE module, const char *name, F *function)
{
    *function = (F)(void *)GetProcAddress(module, name);
    return *function != nullptr;
}

// The functions, or null when winhttp.dll or one of them is missing (GetLastError says why).
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
        !Resolve(module, "WinHttpOpen", &api.Open) ||
        !Resolve(module, "WinHttpOpenRequest", &api.OpenRequest) ||
        !Resolve(module, "WinHttpQueryHeaders", &api.QueryHeaders) ||
        !Resolve(module, "WinHttpReadData", &api.ReadData) ||
        !Resolve(module, "WinHttpReceiveResponse", &api.ReceiveResponse) ||
        !Resolve(module, "WinHttpSendRequest", &api.SendRequest) ||
        !Resolve(module, "WinHttpSetOption", &api.SetOption) ||
        !Resolve(module, "WinHttpSetTimeouts", &api.SetTimeouts))
        return nullptr;
    loaded = true;
    return &api;
}

int PlatHttpsPost(const char *url, const char *body, size_t bodyLength, char *response,
                  size_t responseSize, size_t *responseLength, int *status,
                  unsigned long *error)
{
    *responseLength = 0;
    *status = 0;
    *error = 0;
    HINTERNET session = nullptr, connection = nullptr, request = nullptr;
    int answered = 0;
    const WinHttpApi *http = LoadWinHttp();
    if (!http) {
        *error = GetLastError() ? GetLastError() : (unsigned long)ERROR_PROC_NOT_FOUND;
        return 0;
    }

    WCHAR wideUrl[kUrlUnits];
    WCHAR host[256];
    URL_COMPONENTS parts;
    memset(&parts, 0, sizeof parts);
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof host / sizeof host[0];
    parts.dwUrlPathLength = (DWORD)-1;
    parts.dwExtraInfoLength = (DWORD)-1;
    if (bodyLength > 0xFFFFFFFFu ||
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, url, -1, wideUrl, kUrlUnits) == 0 ||
        !http->CrackUrl(wideUrl, 0, 0, &parts)) {
        *error = GetLastError();
        return 0;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTPS) {
        *error = ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
        return 0;
    }
    // The path and the query are one string: the query follows the path directly.
    const WCHAR *path = parts.dwUrlPathLength ? parts.lpszUrlPath : L"/";

    static const WCHAR kHeaders[] =
        L"Content-Type: application/x-www-form-urlencoded\r\nAccept: application/json\r\n";
    DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    DWORD got = 0;
    DWORD statusCode = 0;
    DWORD statusSize = sizeof statusCode;

    // The proxy the user's own settings name (Windows 8.1 and later); before that, the one
    // configured for WinHTTP.
    session = http->Open(L"Tillwick/1.0", kAutomaticProxy, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session)
        session = http->Open(L"Tillwick/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session)
        goto failed;
    if (!http->SetTimeouts(session, kTimeoutMilliseconds, kTimeoutMilliseconds,
                            kTimeoutMilliseconds, kTimeoutMilliseconds))
        goto failed;
    connection = http->Connect(session, host, parts.nPort, 0);
    if (!connection)
        goto failed;
    request = http->OpenRequest(connection, L"POST", path, nullptr, WINHTTP_NO_REFERER,
                                 WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    if (!request)
        goto failed;
    if (!http->SetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &redirects,
                          sizeof redirects))
        goto failed;
    if (!http->SendRequest(request, kHeaders, (DWORD)-1L, (LPVOID)body, (DWORD)bodyLength,
                            (DWORD)bodyLength, 0) ||
        !http->ReceiveResponse(request, nullptr))
        goto failed;
    if (!http->QueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &statusCode, &statusSize,
                             WINHTTP_NO_HEADER_INDEX))
        goto failed;
    // The body, read until the server has sent it all; one byte more than fits is a failure.
    for (;;) {
        size_t room = responseSize - *responseLength;
        if (room == 0) {
            char extra;
            if (!http->ReadData(request, &extra, 1, &got))
                goto failed;
            if (got != 0) {
                *error = PLAT_HTTP_BODY_TOO_LARGE;
                goto done;
            }
            break;
        }
        DWORD ask = room > 0x10000 ? 0x10000 : (DWORD)room;
        if (!http->ReadData(request, response + *responseLength, ask, &got))
            goto failed;
        if (got == 0)
            break;
        *responseLength += got;
    }
    *status = (int)statusCode;
    answered = 1;
    goto done;

failed:
    *error = GetLastError();
    if (*error == 0)
        *error = ERROR_WINHTTP_INTERNAL_ERROR;
done:
    if (!answered) {
        *responseLength = 0;
        *status = 0;
    }
    if (request)
        http->CloseHandle(request);
    if (connection)
        http->CloseHandle(connection);
    if (session)
        http->CloseHandle(session);
    return answered;
}
