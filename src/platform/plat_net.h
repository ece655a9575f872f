// Seam: Windows Sockets for the e-mail jobs. The name lookup and the socket events are
// reported to a window as messages; everything else is one plain call each.
#pragma once
#include "plat_types.h"

// Socket event codes in the low 16 bits of a socket event's second parameter; the high 16
// bits carry the error that came with the event (0: none).
const unsigned PLAT_FD_READ = 0x01;
const unsigned PLAT_FD_WRITE = 0x02;
const unsigned PLAT_FD_ACCEPT = 0x08;
const unsigned PLAT_FD_CONNECT = 0x10;
const unsigned PLAT_FD_CLOSE = 0x20;

// The Windows Sockets error numbers the code above the seam tells apart.
const int PLAT_WSAEWOULDBLOCK = 10035;

// WSAStartup asking for version; the version granted (wVersion) goes to *granted.
// Returns 0 on success, otherwise the error number (*granted is then 0).
int PlatWsaStartup(unsigned short version, unsigned short *granted);
void PlatWsaCleanup(void);

// ---- every address of a name ------------------------------------------------------------

// Address families, by their Windows numbers.
const int PLAT_AF_INET = 2;
const int PLAT_AF_INET6 = 23;

// One address of a name: the family, the socket address (sockaddr_in or sockaddr_in6, port 0)
// as bytes that only the platform reads, and the address as text ("192.0.2.1",
// "2001:db8::1", "fe80::1%3").
const int PLAT_ADDRESS_BYTES = 28;      // sizeof(sockaddr_in6)
const int PLAT_ADDRESS_TEXT_SIZE = 64;  // room for any IPv6 address with its zone
struct PlatAddress {
    int family;  // PLAT_AF_INET or PLAT_AF_INET6
    int length;  // bytes of raw in use
    unsigned char raw[PLAT_ADDRESS_BYTES];
    char text[PLAT_ADDRESS_TEXT_SIZE];
};

// The addresses of a name, in the order the system gives them (IPv6 and IPv4 as its address
// selection sorts them), each once. A name with more than PLAT_ADDRESS_MAX keeps the first
// ones; total says how many the system gave.
const int PLAT_ADDRESS_MAX = 16;
struct PlatAddressList {
    int count;
    int total;
    PlatAddress addresses[PLAT_ADDRESS_MAX];
};

// getaddrinfo(name, no service, any family, a stream socket) on a thread of its own, so the
// caller's window goes on; an address written out ("::1", "192.0.2.1") is taken as it is.
// When the lookup is done, message is posted to window: first parameter the lookup's handle
// (the value returned here), second the error number (0: found; a name without addresses
// gives WSAHOST_NOT_FOUND, 11001). Returns 0 when the lookup cannot be started
// (PlatWsaGetLastError tells why); nothing is posted then. The handle stays the caller's
// until PlatResolveTake has taken the answer or PlatResolveCancel has let it go.
uintptr_t PlatResolveStart(PlatWindow window, unsigned message, const char *name);

// The answer of a lookup whose message has come (call it only with the caller's own handle,
// the one the message carries): copies the addresses into *list (count 0 after an error) and
// frees the lookup; the handle means nothing afterwards. Returns 1; 0 when the lookup has not
// finished (an old message carrying a handle value that is in use again), and then *list and
// the lookup are left as they were.
int PlatResolveTake(uintptr_t lookup, PlatAddressList *list);

// Lets go of a lookup whose answer is no longer wanted (the window ends first): its message
// may still come and must be ignored. Harmless for 0.
void PlatResolveCancel(uintptr_t lookup);

// socket(family, SOCK_STREAM, IPPROTO_TCP) for an address's family. PLAT_INVALID_SOCKET on
// failure (PlatWsaGetLastError tells why: WSAEAFNOSUPPORT, 10047, without IPv6).
PlatSocket PlatCreateSocketFor(int family);

// connect() to address at port (host byte order), on a socket of the address's family.
// Returns 0 when connected at once, -1 otherwise; PlatWsaGetLastError then tells why
// (PLAT_WSAEWOULDBLOCK: the connect goes on, and PLAT_FD_CONNECT reports how it ended).
int PlatConnectAddress(PlatSocket socket, const PlatAddress *address, unsigned short port);

// WSAAsyncSelect: posts message to window for the events in mask (first parameter: the
// socket; second: event and error as above). Makes the socket non-blocking. Returns 0 on
// success, nonzero on failure.
int PlatAsyncSelect(PlatSocket socket, PlatWindow window, unsigned message, long mask);

// getservbyname(service, protocol): the port in host byte order, or 0 when the services
// database has no such entry.
unsigned short PlatGetServicePort(const char *service, const char *protocol);

// send(): returns the number of bytes the socket took (possibly fewer than length), 0 when it
// would block and took nothing, -1 on any other error.
int PlatSend(PlatSocket socket, const char *data, int length);

// recv(): returns the number of bytes received, 0 when the peer has closed the connection,
// -1 on error (PlatWsaGetLastError tells which, PLAT_WSAEWOULDBLOCK when nothing is waiting).
int PlatRecv(PlatSocket socket, char *buffer, int length);

// shutdown() with how = 1 (sending direction) or 2 (both); closesocket().
void PlatShutdown(PlatSocket socket, int how);
void PlatCloseSocket(PlatSocket socket);

// WSAGetLastError of the calling thread.
int PlatWsaGetLastError(void);

// The loopback listener of the mail sign-in: socket(AF_INET, SOCK_STREAM, 0) held for this
// process alone (SO_EXCLUSIVEADDRUSE), bound to 127.0.0.1 at a port the system chooses,
// listen(), getsockname(). Returns the socket, its port (host byte order) in *port; or
// PLAT_INVALID_SOCKET with nothing left open (PlatWsaGetLastError tells why).
PlatSocket PlatListenLoopback(unsigned short *port);

// accept() on a listener: the new connection, or PLAT_INVALID_SOCKET when none is waiting
// or it failed (PlatWsaGetLastError tells which). The connection starts with the listener's
// event selection until PlatAsyncSelect gives it its own; the caller closes it.
PlatSocket PlatAccept(PlatSocket listener);
