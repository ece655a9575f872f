// httppost.exe: one request through the program's HTTPS seam on its worker thread, for the
// end-to-end tests and the benchmark of the mail APIs' way out.
//
//   httppost.exe URL FILE CONTENT-TYPE TOKEN [--repeat N] [--cancel-after MS]
//       POSTs the bytes of FILE as they are (the producer hands them over in the seam's
//       pieces) with "Authorization: Bearer TOKEN" and the content type, N times one after the
//       other (default 1), from a message-only window that takes the seam's reports. With
//       --cancel-after the request is cancelled from the window's thread after MS
//       milliseconds. Prints one JSON line per request: {"status","error","connected",
//       "bytesSent","progress" (reports), "ms" (from the start to the done message),
//       "upMs" (to the first report: the connection up and the request's head out), "outMs"
//       (to the last: the body out), "retryAfter","body"}.
// Exit code 0 once every request has ended (whatever its answer), 2 when FILE cannot be read
// or no request could be started, 126 on bad usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/plat_http.h"
#include "tool_json.h"

static const UINT kWmProgress = WM_APP + 1;
static const UINT kWmDone = WM_APP + 2;
static const UINT_PTR kCancelTimer = 1;

struct Body {
    std::vector<char> bytes;
    size_t position;
};

static size_t ProduceBody(void *context, char *dest, size_t destSize)
{
    Body *body = (Body *)context;
    size_t n = body->bytes.size() - body->position;
    if (n > destSize)
        n = destSize;
    memcpy(dest, body->bytes.data() + body->position, n);
    body->position += n;
    return n;
}

struct Run {
    PlatHttps https;
    int progress;
    bool done;
    LARGE_INTEGER start, up, out;
};
static Run gRun;

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM first, LPARAM second)
{
    switch (message) {
    case kWmProgress:
        if (gRun.progress++ == 0)
            QueryPerformanceCounter(&gRun.up);
        QueryPerformanceCounter(&gRun.out);
        return 0;
    case kWmDone:
        gRun.done = true;
        return 0;
    case WM_TIMER:
        KillTimer(window, kCancelTimer);
        PlatCancelHttpsRequest(gRun.https);
        return 0;
    default:
        return DefWindowProcA(window, message, first, second);
    }
}

static bool ReadWholeFile(const char *path, std::vector<char> &data)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (1LL << 31);
    if (ok) {
        data.resize((size_t)size.QuadPart);
        DWORD read = 0;
        ok = data.empty() || (ReadFile(file, data.data(), (DWORD)data.size(), &read, nullptr) &&
                              read == data.size());
    }
    CloseHandle(file);
    return ok;
}

int main(int argc, char **argv)
{
    if (argc < 5) {
        fprintf(stderr, "usage: httppost URL FILE CONTENT-TYPE TOKEN [--repeat N] "
                        "[--cancel-after MS]\n");
        return 126;
    }
    int repeat = 1, cancelAfter = -1;
    for (int i = 5; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--repeat") == 0)
            repeat = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--cancel-after") == 0)
            cancelAfter = atoi(argv[i + 1]);
        else
            return 126;
    }
    static Body body;
    if (!ReadWholeFile(argv[2], body.bytes)) {
        fprintf(stderr, "cannot read %s\n", argv[2]);
        return 2;
    }
    std::string headers = std::string("Authorization: Bearer ") + argv[4] +
                          "\r\nContent-Type: " + argv[3] + "\r\n";
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "httppost";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("httppost", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);

    for (int n = 0; n < repeat; n++) {
        body.position = 0;
        gRun = Run();
        PlatHttpsRequest request = {};
        request.method = "POST";
        request.url = argv[1];
        request.headers = headers.c_str();
        request.bodyLength = body.bytes.size();
        request.produce = ProduceBody;
        request.producerContext = &body;
        request.window = (PlatWindow)window;
        request.progressMessage = kWmProgress;
        request.doneMessage = kWmDone;
        static char answerBody[16384];
        PlatHttpsAnswer answer = {};
        answer.body = answerBody;
        answer.bodySize = sizeof answerBody;
        LARGE_INTEGER frequency, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&gRun.start);
        gRun.https = PlatStartHttpsRequest(&request, &answer);
        if (!gRun.https) {
            fprintf(stderr, "not started: error %lu\n", answer.error);
            return 2;
        }
        if (cancelAfter >= 0)
            SetTimer(window, kCancelTimer, (UINT)cancelAfter, nullptr);
        MSG message;
        while (!gRun.done && GetMessageA(&message, nullptr, 0, 0) > 0)
            DispatchMessageA(&message);
        QueryPerformanceCounter(&end);
        PlatEndHttpsRequest(gRun.https);
        KillTimer(window, kCancelTimer);
        auto since = [&](const LARGE_INTEGER &at) {
            return at.QuadPart ? (double)(at.QuadPart - gRun.start.QuadPart) * 1000.0 /
                                     (double)frequency.QuadPart
                               : 0.0;
        };
        std::string line;
        ToolJsonOpen(line);
        ToolJsonAddNumber(line, "status", answer.status);
        ToolJsonAddNumber(line, "error", (long long)answer.error);
        ToolJsonAddBool(line, "connected", answer.connected);
        ToolJsonAddNumber(line, "bytesSent", (long long)answer.bytesSent);
        ToolJsonAddNumber(line, "progress", gRun.progress);
        ToolJsonAddRaw(line, "ms", std::to_string(since(end)));
        ToolJsonAddRaw(line, "upMs", std::to_string(since(gRun.up)));
        ToolJsonAddRaw(line, "outMs", std::to_string(since(gRun.out)));
        ToolJsonAddText(line, "retryAfter", answer.retryAfter);
        ToolJsonAddText(line, "body", std::string(answer.body, answer.bodyLength));
        ToolJsonClose(line);
        printf("%s\n", line.c_str());
        fflush(stdout);
    }
    return 0;
}
