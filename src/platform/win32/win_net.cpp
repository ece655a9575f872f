// Win32 side of the sockets seam: Windows Sockets calls, and the lookup of every address of a
// name on a thread of its own.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "../plat_net.h"

int PlatWsaStartup(unsigned short version, unsigned short *granted)
{
    WSADATA data;
    int error = WSAStartup(version, &data);
    *granted = error == 0 ? data.wVersion : 0;
    return error;
}

void PlatWsaCleanup(void) { WSACleanup(); }

// ---- every address of a name ------------------------------------------------------------

// A name longer than any the system could look up is refused at the start.
static const size_t kResolveNameSize = 1024;

// One lookup, shared by the caller and its thread; the last to let go frees it.
struct ResolveJob {
    LONG refs;
    LONG done;  // set (with a barrier) once list and error hold the answer
    HWND window;
    UINT message;
    int error;
    char name[kResolveNameSize];
    PlatAddressList list;
};

static void ReleaseResolveJob(ResolveJob *job)
{
    if (InterlockedDecrement(&job->refs) == 0)
        free(job);
}

static bool SameAddress(const PlatAddress *a, const struct addrinfo *info)
{
    return a->length == (int)info->ai_addrlen && memcmp(a->raw, info->ai_addr, a->length) == 0;
}

// getaddrinfo's answer as a list, each address once, in the order given.
static int ResolveName(const char *name, PlatAddressList *list)
{
    memset(list, 0, sizeof *list);
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;  // no AI_ADDRCONFIG: it drops ::1 on a machine offline
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    struct addrinfo *found = nullptr;
    int error = getaddrinfo(name, nullptr, &hints, &found);
    if (error != 0)
        return error;
    for (const struct addrinfo *info = found; info; info = info->ai_next) {
        if ((info->ai_family != AF_INET && info->ai_family != AF_INET6) || !info->ai_addr ||
            info->ai_addrlen == 0 || info->ai_addrlen > (size_t)PLAT_ADDRESS_BYTES)
            continue;
        bool seen = false;
        for (int i = 0; i < list->count && !seen; i++)
            seen = SameAddress(&list->addresses[i], info);
        if (seen)
            continue;
        list->total++;
        if (list->count >= PLAT_ADDRESS_MAX)
            continue;
        PlatAddress *address = &list->addresses[list->count];
        address->family = info->ai_family == AF_INET6 ? PLAT_AF_INET6 : PLAT_AF_INET;
        address->length = (int)info->ai_addrlen;
        memcpy(address->raw, info->ai_addr, info->ai_addrlen);
        if (getnameinfo(info->ai_addr, (socklen_t)info->ai_addrlen, address->text,
                        sizeof address->text, nullptr, 0, NI_NUMERICHOST) != 0)
            strcpy(address->text, "?");
        list->count++;
    }
    freeaddrinfo(found);
    return list->count > 0 ? 0 : WSAHOST_NOT_FOUND;
}

static DWORD WINAPI ResolveThread(void *param)
{
    ResolveJob *job = (ResolveJob *)param;
    job->error = ResolveName(job->name, &job->list);
    InterlockedExchange(&job->done, 1);
    PostMessageA(job->window, job->message, (WPARAM)job, (LPARAM)job->error);
    ReleaseResolveJob(job);
    return 0;
}

uintptr_t PlatResolveStart(PlatWindow window, unsigned message, const char *name)
{
    size_t length = strlen(name);
    if (length >= kResolveNameSize) {
        WSASetLastError(WSAEINVAL);
        return 0;
    }
    ResolveJob *job = (ResolveJob *)calloc(1, sizeof(ResolveJob));
    if (!job) {
        WSASetLastError(WSAENOBUFS);
        return 0;
    }
    job->refs = 2;
    job->window = (HWND)window;
    job->message = message;
    memcpy(job->name, name, length + 1);
    // A lookup waits on the network: a small stack is all it needs.
    HANDLE thread = CreateThread(nullptr, 64 * 1024, ResolveThread, job,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) {
        DWORD error = GetLastError();
        free(job);
        WSASetLastError((int)(error ? error : WSAENOBUFS));
        return 0;
    }
    CloseHandle(thread);
    return (uintptr_t)job;
}

int PlatResolveTake(uintptr_t lookup, PlatAddressList *list)
{
    ResolveJob *job = (ResolveJob *)lookup;
    if (!job || InterlockedCompareExchange(&job->done, 1, 1) != 1)
        return 0;
    *list = job->list;
    ReleaseResolveJob(job);
    return 1;
}

void PlatResolveCancel(uintptr_t lookup)
{
    if (lookup)
        ReleaseResolveJob((ResolveJob *)lookup);
}

PlatSocket PlatCreateSocketFor(int family)
{
    SOCKET s = socket(family == PLAT_AF_INET6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
    return s == INVALID_SOCKET ? PLAT_INVALID_SOCKET : (PlatSocket)s;
}

int PlatConnectAddress(PlatSocket socket, const PlatAddress *address, unsigned short port)
{
    struct sockaddr_storage target;
    memset(&target, 0, sizeof target);
    int length = address->length;
    int wanted = address->family == PLAT_AF_INET6 ? (int)sizeof(struct sockaddr_in6)
                                                  : (int)sizeof(struct sockaddr_in);
    if (length < wanted || length > PLAT_ADDRESS_BYTES) {
        WSASetLastError(WSAEFAULT);
        return -1;
    }
    memcpy(&target, address->raw, (size_t)length);
    if (address->family == PLAT_AF_INET6)
        ((struct sockaddr_in6 *)&target)->sin6_port = htons(port);
    else
        ((struct sockaddr_in *)&target)->sin_port = htons(port);
    return connect((SOCKET)socket, (const struct sockaddr *)&target, length) == 0 ? 0 : -1;
}

int PlatAsyncSelect(PlatSocket socket, PlatWindow window, unsigned message, long mask)
{
    return WSAAsyncSelect((SOCKET)socket, (HWND)window, message, mask) == 0 ? 0 : 1;
}

unsigned short PlatGetServicePort(const char *service, const char *protocol)
{
    struct servent *entry = getservbyname(service, protocol);
    return entry ? ntohs((u_short)entry->s_port) : 0;
}

int PlatSend(PlatSocket socket, const char *data, int length)
{
    int n = send((SOCKET)socket, data, length, 0);
    if (n != SOCKET_ERROR)
        return n;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

int PlatRecv(PlatSocket socket, char *buffer, int length)
{
    int n = recv((SOCKET)socket, buffer, length, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

void PlatShutdown(PlatSocket socket, int how) { shutdown((SOCKET)socket, how); }

void PlatCloseSocket(PlatSocket socket) { closesocket((SOCKET)socket); }

int PlatWsaGetLastError(void) { return WSAGetLastError(); }

PlatSocket PlatListenLoopback(unsigned short *port)
{
    *port = 0;
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return PLAT_INVALID_SOCKET;
    // No other program may bind the same port while it is ours.
    BOOL exclusive = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, (const char *)&exclusive, sizeof exclusive);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = 0;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(s, (const struct sockaddr *)&address, sizeof address) != 0 ||
        listen(s, SOMAXCONN) != 0 ||
        getsockname(s, (struct sockaddr *)&address, &length) != 0) {
        int error = WSAGetLastError();
        closesocket(s);
        WSASetLastError(error);
        return PLAT_INVALID_SOCKET;
    }
    *port = ntohs(address.sin_port);
    return (PlatSocket)s;
}

PlatSocket PlatAccept(PlatSocket listener)
{
    SOCKET s = accept((SOCKET)listener, nullptr, nullptr);
    return s == INVALID_SOCKET ? PLAT_INVALID_SOCKET : (PlatSocket)s;
}
