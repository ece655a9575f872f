// Win32 side of the sockets seam: Windows Sockets 1.1 calls, nothing more.
#include <winsock2.h>
#include <windows.h>

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

uintptr_t PlatAsyncGetHostByName(PlatWindow window, unsigned message, const char *name,
                                 char *hostEntry, int hostEntrySize)
{
    return (uintptr_t)WSAAsyncGetHostByName((HWND)window, message, name, hostEntry, hostEntrySize);
}

PlatSocket PlatCreateStreamSocket(void)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    return s == INVALID_SOCKET ? PLAT_INVALID_SOCKET : (PlatSocket)s;
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

int PlatConnect(PlatSocket socket, const char *hostEntry, unsigned short port)
{
    const struct hostent *host = (const struct hostent *)hostEntry;
    if (host->h_addrtype != AF_INET || host->h_length != 4 || !host->h_addr_list ||
        !host->h_addr_list[0]) {
        WSASetLastError(WSAEADDRNOTAVAIL);
        return -1;
    }
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    memcpy(&address.sin_addr, host->h_addr_list[0], 4);
    return connect((SOCKET)socket, (const struct sockaddr *)&address, sizeof address) == 0 ? 0 : -1;
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
