// Win32 side of the TLS seam: the system's TLS provider through SSPI, and the system's
// certificate chain engine for judging the server. The caller moves every byte over the
// socket; these functions only turn bytes into tokens and records and back.

// CERT_CHAIN_PARA with its later fields, for the time allowed to fetch revocation lists.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include <windows.h>
#include <wincrypt.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../plat_tls.h"

// One session: the context, once the first handshake step made one. PlatTls is a pointer to
// this record.
struct TlsSession {
    CtxtHandle context;
    int haveContext;
};

// One credentials handle for the whole run, shared by every session: Schannel keeps its cache
// of sessions with the credentials handle, so only with the same handle does a later
// connection to the same server resume the session of an earlier one (an abbreviated
// handshake: no key exchange, no certificate sent again) instead of starting afresh.
static CredHandle gCredentials;
static bool gHaveCredentials;

static SECURITY_STATUS AcquireRunCredentials(void)
{
    if (gHaveCredentials)
        return SEC_E_OK;
    SCHANNEL_CRED schannel;
    memset(&schannel, 0, sizeof schannel);
    schannel.dwVersion = SCHANNEL_CRED_VERSION;
    schannel.grbitEnabledProtocols = 0;  // the system's defaults
    schannel.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry;
    SECURITY_STATUS status =
        AcquireCredentialsHandleA(nullptr, (SEC_CHAR *)UNISP_NAME_A, SECPKG_CRED_OUTBOUND, nullptr,
                                  &schannel, nullptr, nullptr, &gCredentials, &expiry);
    if (status == SEC_E_OK)
        gHaveCredentials = true;
    return status;
}

static const ULONG kHandshakeFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                     ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                     ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                     ISC_REQ_MANUAL_CRED_VALIDATION;

// SecBuffer lengths are 32-bit; nothing we pass comes near that, but a larger count must not
// wrap. Only the first message of the data is ever used, so the tail can be left out.
static ULONG BufferLength(size_t length) { return length > ULONG_MAX ? ULONG_MAX : (ULONG)length; }

static void SetBuffer(SecBuffer *buffer, ULONG type, void *data, ULONG length)
{
    buffer->BufferType = type;
    buffer->pvBuffer = data;
    buffer->cbBuffer = length;
}

// The bytes of the input the provider left unused (its extra buffer), 0 when there is none.
static ULONG ExtraLength(const SecBuffer *buffers, int count)
{
    for (int i = 0; i < count; i++) {
        if (buffers[i].BufferType == SECBUFFER_EXTRA)
            return buffers[i].cbBuffer;
    }
    return 0;
}

// The warm-up: the root store opened (the chain engine keeps its own copy for the process)
// and the chain of one of its roots built, which readies the engine itself.
static DWORD WINAPI WarmUpThread(void *)
{
    HCERTSTORE roots = CertOpenSystemStoreW(0, L"ROOT");
    if (!roots)
        return 0;
    PCCERT_CONTEXT root = CertEnumCertificatesInStore(roots, nullptr);
    if (root) {
        CERT_CHAIN_PARA chainPara;
        memset(&chainPara, 0, sizeof chainPara);
        chainPara.cbSize = sizeof chainPara;
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        if (CertGetCertificateChain(nullptr, root, nullptr, nullptr, &chainPara, 0, nullptr,
                                    &chain))
            CertFreeCertificateChain(chain);
        CertFreeCertificateContext(root);
    }
    CertCloseStore(roots, 0);
    return 0;
}

void PlatTlsWarmUp(void)
{
    static LONG started;
    if (InterlockedExchange(&started, 1) != 0)
        return;
    HANDLE thread = CreateThread(nullptr, 0, WarmUpThread, nullptr, 0, nullptr);
    if (thread)
        CloseHandle(thread);
}

PlatTls PlatTlsOpen(unsigned long *error)
{
    *error = 0;
    SECURITY_STATUS status = AcquireRunCredentials();
    if (status != SEC_E_OK) {
        *error = (unsigned long)status;
        return 0;
    }
    TlsSession *session = (TlsSession *)calloc(1, sizeof(TlsSession));
    if (!session) {
        *error = (unsigned long)SEC_E_INSUFFICIENT_MEMORY;
        return 0;
    }
    return (PlatTls)session;
}

void PlatTlsClose(PlatTls tls)
{
    TlsSession *session = (TlsSession *)tls;
    if (!session)
        return;
    if (session->haveContext)
        DeleteSecurityContext(&session->context);
    free(session);
}

int PlatTlsHandshake(PlatTls tls, const char *serverName, const char *input, size_t inputLength,
                     size_t *consumed, char *output, size_t outputSize, size_t *outputLength,
                     unsigned long *error)
{
    *consumed = 0;
    *outputLength = 0;
    *error = 0;
    TlsSession *session = (TlsSession *)tls;
    if (!session) {
        *error = (unsigned long)SEC_E_INVALID_HANDLE;
        return PLAT_TLS_FAILED;
    }
    ULONG inLength = BufferLength(inputLength);
    // The first step has no context and no input: it makes the hello.
    int first = !session->haveContext;
    // Every TLS record opens with its content type (20 to 23). Wine's provider reads any other
    // bytes as the length of a record still to come, so a server that answers in plain text
    // would keep the handshake waiting; Windows refuses such input at once, and so do we.
    if (!first && inputLength > 0 && (input[0] < 20 || input[0] > 23)) {
        *error = (unsigned long)SEC_E_ILLEGAL_MESSAGE;
        return PLAT_TLS_FAILED;
    }

    // A server that asks for a client certificate gets one more try without any.
    for (int attempt = 0; attempt < 2; attempt++) {
        SecBuffer inBuffers[2];
        SetBuffer(&inBuffers[0], SECBUFFER_TOKEN, (void *)input, inLength);
        SetBuffer(&inBuffers[1], SECBUFFER_EMPTY, nullptr, 0);
        SecBufferDesc inDesc = {SECBUFFER_VERSION, 2, inBuffers};
        SecBuffer outBuffers[1];
        SetBuffer(&outBuffers[0], SECBUFFER_TOKEN, nullptr, 0);
        SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, outBuffers};
        ULONG attributes = 0;
        TimeStamp expiry;
        SECURITY_STATUS status = InitializeSecurityContextA(
            &gCredentials, session->haveContext ? &session->context : nullptr,
            (SEC_CHAR *)serverName, kHandshakeFlags, 0, 0, first ? nullptr : &inDesc, 0,
            &session->context, &outDesc, &attributes, &expiry);
        if (!session->haveContext && !FAILED(status))
            session->haveContext = 1;

        // The token to send (also an alert that goes with a failure) is ours to free.
        int tooBig = 0;
        if (outBuffers[0].pvBuffer) {
            if (outBuffers[0].cbBuffer <= outputSize) {
                memcpy(output, outBuffers[0].pvBuffer, outBuffers[0].cbBuffer);
                *outputLength = outBuffers[0].cbBuffer;
            } else {
                tooBig = 1;
            }
            FreeContextBuffer(outBuffers[0].pvBuffer);
        }

        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            *outputLength = 0;
            return PLAT_TLS_INCOMPLETE;
        }
        if (status == SEC_I_INCOMPLETE_CREDENTIALS && attempt == 0) {
            *outputLength = 0;
            continue;
        }
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
            *error = (unsigned long)status;
            return PLAT_TLS_FAILED;
        }
        if (tooBig) {
            *outputLength = 0;
            *error = (unsigned long)SEC_E_BUFFER_TOO_SMALL;
            return PLAT_TLS_FAILED;
        }
        if (!first) {
            ULONG extra = ExtraLength(inBuffers, 2);
            *consumed = extra <= inLength ? inLength - extra : 0;
        }
        return status == SEC_E_OK ? PLAT_TLS_OK : PLAT_TLS_CONTINUE;
    }
    *error = (unsigned long)SEC_I_INCOMPLETE_CREDENTIALS;
    return PLAT_TLS_FAILED;
}

int PlatTlsSizes(PlatTls tls, size_t *header, size_t *maxPayload, size_t *trailer)
{
    *header = *maxPayload = *trailer = 0;
    TlsSession *session = (TlsSession *)tls;
    if (!session || !session->haveContext)
        return 0;
    SecPkgContext_StreamSizes sizes;
    memset(&sizes, 0, sizeof sizes);
    if (QueryContextAttributesA(&session->context, SECPKG_ATTR_STREAM_SIZES, &sizes) != SEC_E_OK)
        return 0;
    *header = sizes.cbHeader;
    *maxPayload = sizes.cbMaximumMessage;
    *trailer = sizes.cbTrailer;
    return 1;
}

size_t PlatTlsEncrypt(PlatTls tls, const char *payload, size_t length, char *output,
                      size_t outputSize, unsigned long *error)
{
    *error = 0;
    TlsSession *session = (TlsSession *)tls;
    if (!session || !session->haveContext) {
        *error = (unsigned long)SEC_E_INVALID_HANDLE;
        return 0;
    }
    SecPkgContext_StreamSizes sizes;
    memset(&sizes, 0, sizeof sizes);
    SECURITY_STATUS status =
        QueryContextAttributesA(&session->context, SECPKG_ATTR_STREAM_SIZES, &sizes);
    if (status != SEC_E_OK) {
        *error = (unsigned long)status;
        return 0;
    }
    if (length > sizes.cbMaximumMessage || outputSize < sizes.cbHeader ||
        outputSize - sizes.cbHeader < length ||
        outputSize - sizes.cbHeader - length < sizes.cbTrailer) {
        *error = (unsigned long)SEC_E_BUFFER_TOO_SMALL;
        return 0;
    }
    // The record is built in place: header, the payload copied after it, trailer.
    memmove(output + sizes.cbHeader, payload, length);
    SecBuffer buffers[4];
    SetBuffer(&buffers[0], SECBUFFER_STREAM_HEADER, output, sizes.cbHeader);
    SetBuffer(&buffers[1], SECBUFFER_DATA, output + sizes.cbHeader, (ULONG)length);
    SetBuffer(&buffers[2], SECBUFFER_STREAM_TRAILER, output + sizes.cbHeader + length,
              sizes.cbTrailer);
    SetBuffer(&buffers[3], SECBUFFER_EMPTY, nullptr, 0);
    SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
    status = EncryptMessage(&session->context, 0, &desc, 0);
    if (status != SEC_E_OK) {
        *error = (unsigned long)status;
        return 0;
    }
    // The trailer may come out shorter than its maximum; the parts stay where they were put.
    return (size_t)buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
}

int PlatTlsDecrypt(PlatTls tls, char *data, size_t length, size_t *consumed,
                   size_t *payloadOffset, size_t *payloadLength, unsigned long *error)
{
    *consumed = 0;
    *payloadOffset = 0;
    *payloadLength = 0;
    *error = 0;
    TlsSession *session = (TlsSession *)tls;
    if (!session || !session->haveContext) {
        *error = (unsigned long)SEC_E_INVALID_HANDLE;
        return PLAT_TLS_FAILED;
    }
    ULONG inLength = BufferLength(length);
    // The record's content type, read before the provider decrypts in place (21: alert).
    unsigned char recordType = inLength ? (unsigned char)data[0] : 0;
    SecBuffer buffers[4];
    SetBuffer(&buffers[0], SECBUFFER_DATA, data, inLength);
    SetBuffer(&buffers[1], SECBUFFER_EMPTY, nullptr, 0);
    SetBuffer(&buffers[2], SECBUFFER_EMPTY, nullptr, 0);
    SetBuffer(&buffers[3], SECBUFFER_EMPTY, nullptr, 0);
    SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
    SECURITY_STATUS status = DecryptMessage(&session->context, &desc, 0, nullptr);

    if (status == SEC_E_INCOMPLETE_MESSAGE)
        return PLAT_TLS_INCOMPLETE;
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
        *error = (unsigned long)status;
        return PLAT_TLS_FAILED;
    }
    ULONG extra = ExtraLength(buffers, 4);
    if (extra > inLength) {
        *error = (unsigned long)SEC_E_INTERNAL_ERROR;
        return PLAT_TLS_FAILED;
    }
    for (int i = 0; i < 4; i++) {
        if (buffers[i].BufferType != SECBUFFER_DATA || !buffers[i].pvBuffer)
            continue;
        // The plaintext lies inside the record it came from; anything else is not ours.
        const char *start = (const char *)buffers[i].pvBuffer;
        if (start < data || start > data + inLength ||
            buffers[i].cbBuffer > (size_t)(data + inLength - start)) {
            *error = (unsigned long)SEC_E_INTERNAL_ERROR;
            return PLAT_TLS_FAILED;
        }
        *payloadOffset = (size_t)(start - data);
        *payloadLength = buffers[i].cbBuffer;
        break;
    }
    *consumed = inLength - extra;
    // Wine reports the server's close notify as an empty record decrypted with SEC_E_OK
    // rather than SEC_I_CONTEXT_EXPIRED; an alert that reaches us without an error can only
    // be that one.
    if (status == SEC_E_OK && recordType == 21 && *payloadLength == 0)
        return PLAT_TLS_CLOSED;
    if (status == SEC_I_CONTEXT_EXPIRED)
        return PLAT_TLS_CLOSED;
    if (status == SEC_I_RENEGOTIATE)
        return PLAT_TLS_RENEGOTIATE;
    return PLAT_TLS_OK;
}

// What a revocation check that could not be done leaves in a chain: no list or responder
// was named, or none could be reached in time. Such a certificate passes, as in browsers;
// only one shown to be revoked is refused.
static const DWORD kRevocationUnknown =
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

// The time all revocation lists of one chain may take to fetch, together; and how long the
// program waits for a chain whose fetching overruns it all the same (Wine 8.0 applies no
// time-out: a list server that accepts and never answers held the chain for minutes).
static const DWORD kRevocationTimeoutMs = 5000;
static const DWORD kRevocationWaitMs = kRevocationTimeoutMs + 1000;
static const DWORD kRevocationFlags =
    CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT;

// Set once a chain's revocation check overran kRevocationWaitMs: the rest of the run builds
// its chains without one rather than wait (and leave a thread behind) for every message.
static bool gRevocationOverran;

// The chain of the server's certificate for server authentication; the intermediates the
// server sent are in the certificate's own store. flags: revocation checking or 0.
static BOOL BuildServerChain(PCCERT_CONTEXT certificate, DWORD flags, PCCERT_CHAIN_CONTEXT *chain)
{
    static LPSTR usages[] = {(LPSTR)szOID_PKIX_KP_SERVER_AUTH, (LPSTR)szOID_SERVER_GATED_CRYPTO,
                             (LPSTR)szOID_SGC_NETSCAPE};
    CERT_CHAIN_PARA chainPara;
    memset(&chainPara, 0, sizeof chainPara);
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = sizeof usages / sizeof usages[0];
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    chainPara.dwUrlRetrievalTimeout = kRevocationTimeoutMs;
    *chain = nullptr;
    return CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore,
                                   &chainPara, flags, nullptr, chain);
}

// A chain built with revocation checking on a thread of its own, so that the wait can be
// bounded. The caller and the thread share it; the last to let go frees it.
struct ChainJob {
    LONG refs;
    PCCERT_CONTEXT certificate;  // a duplicate, for the thread
    PCCERT_CHAIN_CONTEXT chain;  // the result, or nullptr
    DWORD error;                 // GetLastError when no chain was built
};

static void ReleaseChainJob(ChainJob *job)
{
    if (InterlockedDecrement(&job->refs) != 0)
        return;
    if (job->chain)
        CertFreeCertificateChain(job->chain);
    CertFreeCertificateContext(job->certificate);
    free(job);
}

static DWORD WINAPI ChainJobThread(void *param)
{
    ChainJob *job = (ChainJob *)param;
    if (!BuildServerChain(job->certificate, kRevocationFlags, &job->chain)) {
        job->chain = nullptr;
        job->error = GetLastError();
    }
    ReleaseChainJob(job);
    return 0;
}

// Dispatches the calling thread's window messages but the user's keyboard and mouse input,
// which stays queued for later: a click on Cancel handled in here would end the sending window
// while the certificate check it started is still running. False once WM_QUIT came (it is
// posted again, for the loop it was meant for).
static bool DispatchAllButInput(void)
{
    static const UINT ranges[][2] = {{0, WM_KEYFIRST - 1},
                                     {WM_KEYLAST + 1, WM_MOUSEFIRST - 1},
                                     {WM_MOUSELAST + 1, 0xFFFFFFFF}};
    MSG msg;
    for (const auto &range : ranges) {
        while (PeekMessageA(&msg, nullptr, range[0], range[1], PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage((int)msg.wParam);
                return false;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}

// WaitForSingleObject(thread, milliseconds) as a message box's loop waits: the thread's
// windows keep repainting and answering, so that Windows never marks them "Not Responding"
// (a thread waiting with a wake mask that includes input never counts as hung). A window
// whose handlers are re-entered here holds its socket and timer messages back itself.
static DWORD WaitWithMessagesFlowing(HANDLE thread, DWORD milliseconds)
{
    DWORD start = GetTickCount();
    bool pumping = true;
    for (;;) {
        DWORD spent = GetTickCount() - start;
        if (spent >= milliseconds)
            return WaitForSingleObject(thread, 0);
        DWORD left = milliseconds - spent;
        if (!pumping)
            return WaitForSingleObject(thread, left);
        DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, left, QS_ALLINPUT);
        if (woke != WAIT_OBJECT_0 + 1)
            return woke;
        pumping = DispatchAllButInput();
    }
}

// The chain with revocation checked below the root; when that overruns kRevocationWaitMs
// (or no thread can be had), the chain without the check, whose revocation status is then
// unknown and passes. FALSE with GetLastError when no chain could be built.
static BOOL BuildCheckedChain(PCCERT_CONTEXT certificate, PCCERT_CHAIN_CONTEXT *chain)
{
    ChainJob *job = gRevocationOverran ? nullptr : (ChainJob *)calloc(1, sizeof(ChainJob));
    if (job) {
        job->refs = 2;
        job->certificate = CertDuplicateCertificateContext(certificate);
        HANDLE thread = CreateThread(nullptr, 0, ChainJobThread, job, 0, nullptr);
        if (!thread)
            job->refs = 1;  // the thread's share is never taken
        DWORD waited = thread ? WaitWithMessagesFlowing(thread, kRevocationWaitMs) : WAIT_FAILED;
        if (thread)
            CloseHandle(thread);
        if (waited == WAIT_OBJECT_0) {
            *chain = job->chain;
            job->chain = nullptr;
            DWORD error = job->error;
            ReleaseChainJob(job);
            if (!*chain)
                SetLastError(error);
            return *chain != nullptr;
        }
        // Still fetching: the thread frees the job when it ends (or dies with the process).
        if (thread)
            gRevocationOverran = true;
        ReleaseChainJob(job);
    }
    return BuildServerChain(certificate, 0, chain);
}

// The TLS server policy's verdict for serverName, or the error of the call itself.
static unsigned long ServerPolicyError(PCCERT_CHAIN_CONTEXT chain, WCHAR *serverName)
{
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA sslPara;
    memset(&sslPara, 0, sizeof sslPara);
    sslPara.cbStruct = sizeof sslPara;
    sslPara.dwAuthType = AUTHTYPE_SERVER;
    sslPara.fdwChecks = 0;
    sslPara.pwszServerName = serverName;
    CERT_CHAIN_POLICY_PARA policyPara;
    memset(&policyPara, 0, sizeof policyPara);
    policyPara.cbSize = sizeof policyPara;
    policyPara.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
    policyPara.pvExtraPolicyPara = &sslPara;
    CERT_CHAIN_POLICY_STATUS policyStatus;
    memset(&policyStatus, 0, sizeof policyStatus);
    policyStatus.cbSize = sizeof policyStatus;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policyPara,
                                          &policyStatus)) {
        DWORD error = GetLastError();
        return error ? error : (unsigned long)CERT_E_CHAINING;
    }
    return policyStatus.dwError;
}

// A verdict that only says the revocation status could not be had.
static bool IsRevocationUnknownVerdict(unsigned long verdict)
{
    return verdict == (unsigned long)CRYPT_E_NO_REVOCATION_CHECK ||
           verdict == (unsigned long)CRYPT_E_REVOCATION_OFFLINE ||
           verdict == (unsigned long)CERT_E_REVOCATION_FAILURE;
}

// The verdict on the chain's own error bits. Windows' policy already fails on each of them;
// Wine 8.0's passes chains that Windows refuses (one that ends short of any root, for one),
// so the program judges the bits itself: every bit but kRevocationUnknown refuses, any not
// named below as a trust failure of no particular kind.
static unsigned long ChainTrustError(DWORD status)
{
    status &= ~kRevocationUnknown;
    if (status == 0)
        return 0;
    if (status & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_CYCLIC))
        return (unsigned long)CERT_E_CHAINING;
    if (status & CERT_TRUST_IS_UNTRUSTED_ROOT)
        return (unsigned long)CERT_E_UNTRUSTEDROOT;
    if (status & CERT_TRUST_IS_EXPLICIT_DISTRUST)
        return (unsigned long)TRUST_E_EXPLICIT_DISTRUST;
    if (status & (CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_CTL_IS_NOT_SIGNATURE_VALID |
                  CERT_TRUST_HAS_WEAK_SIGNATURE))
        return (unsigned long)TRUST_E_CERT_SIGNATURE;
    if (status & CERT_TRUST_IS_REVOKED)
        return (unsigned long)CERT_E_REVOKED;
    if (status & (CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_CTL_IS_NOT_TIME_VALID))
        return (unsigned long)CERT_E_EXPIRED;
    if (status & CERT_TRUST_IS_NOT_TIME_NESTED)
        return (unsigned long)CERT_E_VALIDITYPERIODNESTING;
    if (status & (CERT_TRUST_IS_NOT_VALID_FOR_USAGE | CERT_TRUST_CTL_IS_NOT_VALID_FOR_USAGE))
        return (unsigned long)CERT_E_WRONG_USAGE;
    if (status & CERT_TRUST_INVALID_BASIC_CONSTRAINTS)
        return (unsigned long)TRUST_E_BASIC_CONSTRAINTS;
    if (status & (CERT_TRUST_INVALID_NAME_CONSTRAINTS | CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT |
                  CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT |
                  CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT |
                  CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT))
        return (unsigned long)CERT_E_INVALID_NAME;
    if (status & (CERT_TRUST_INVALID_EXTENSION | CERT_TRUST_INVALID_POLICY_CONSTRAINTS |
                  CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY))
        return (unsigned long)CERT_E_INVALID_POLICY;
    if (status & CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT)
        return (unsigned long)CERT_E_CRITICAL;
    return (unsigned long)TRUST_E_FAIL;
}

// The last certificate this run found good, and the name it was good for. Every message of a
// batch meets the same server with the same certificate: judging it once is enough, and
// spares each later message a thread and the building of its chains.
static PCCERT_CONTEXT gTrustedCertificate;
static char gTrustedName[256];

static bool IsTrustedAlready(PCCERT_CONTEXT certificate, const char *serverName)
{
    return gTrustedCertificate && strcmp(gTrustedName, serverName) == 0 &&
           gTrustedCertificate->cbCertEncoded == certificate->cbCertEncoded &&
           memcmp(gTrustedCertificate->pbCertEncoded, certificate->pbCertEncoded,
                  certificate->cbCertEncoded) == 0;
}

static void RememberTrusted(PCCERT_CONTEXT certificate, const char *serverName)
{
    if (strlen(serverName) >= sizeof gTrustedName)
        return;
    if (gTrustedCertificate)
        CertFreeCertificateContext(gTrustedCertificate);
    gTrustedCertificate = CertDuplicateCertificateContext(certificate);
    strcpy(gTrustedName, serverName);
}

unsigned long PlatTlsVerifyServer(PlatTls tls, const char *serverName)
{
    TlsSession *session = (TlsSession *)tls;
    if (!session || !session->haveContext)
        return (unsigned long)SEC_E_INVALID_HANDLE;
    // Without a name the policy would skip the name check: never call that a match.
    if (!serverName || !serverName[0])
        return PLAT_CERT_E_CN_NO_MATCH;

    WCHAR wideName[1024];
    if (MultiByteToWideChar(CP_ACP, 0, serverName, -1, wideName,
                            (int)(sizeof wideName / sizeof wideName[0])) == 0) {
        DWORD lastError = GetLastError();
        return lastError ? lastError : (unsigned long)ERROR_INVALID_PARAMETER;
    }

    PCCERT_CONTEXT certificate = nullptr;
    SECURITY_STATUS status = QueryContextAttributesA(
        &session->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, (void *)&certificate);
    if (status != SEC_E_OK)
        return (unsigned long)status;
    if (!certificate)
        return (unsigned long)SEC_E_CERT_UNKNOWN;

    unsigned long result = 0;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (IsTrustedAlready(certificate, serverName))
        goto done;
    if (!BuildCheckedChain(certificate, &chain)) {
        result = GetLastError();
        if (!result)
            result = (unsigned long)CERT_E_CHAINING;
        goto done;
    }
    result = ServerPolicyError(chain, wideName);
    if (IsRevocationUnknownVerdict(result)) {
        // Wine 8.0's policy refuses an unknown status whatever the flags say, and stops there,
        // before the name: the policy again on the chain built without revocation checking
        // (no fetching; its engine has every certificate at hand by now).
        PCCERT_CHAIN_CONTEXT plain = nullptr;
        if (BuildServerChain(certificate, 0, &plain)) {
            result = ServerPolicyError(plain, wideName);
            CertFreeCertificateChain(plain);
        } else {
            result = GetLastError();
            if (!result)
                result = (unsigned long)CERT_E_CHAINING;
        }
    }
    if (result == 0)
        result = ChainTrustError(chain->TrustStatus.dwErrorStatus);
    if (result == 0)
        RememberTrusted(certificate, serverName);

done:
    if (chain)
        CertFreeCertificateChain(chain);
    CertFreeCertificateContext(certificate);
    return result;
}

// The provider's name of a protocol.
static const char *ProtocolName(DWORD protocol)
{
    if (protocol & SP_PROT_TLS1_3_CLIENT)
        return "TLS 1.3";
    if (protocol & SP_PROT_TLS1_2_CLIENT)
        return "TLS 1.2";
    if (protocol & SP_PROT_TLS1_1_CLIENT)
        return "TLS 1.1";
    if (protocol & SP_PROT_TLS1_CLIENT)
        return "TLS 1.0";
    return "";
}

// The name of an algorithm of the connection information, by its CryptoAPI number.
static const char *AlgorithmName(ALG_ID id)
{
    switch (id) {
    case CALG_AES_128: return "AES-128";
    case CALG_AES_256: return "AES-256";
    case CALG_3DES: return "3DES";
    case CALG_RC4: return "RC4";
    case CALG_SHA1: return "SHA-1";
    case CALG_SHA_256: return "SHA-256";
    case CALG_SHA_384: return "SHA-384";
    case CALG_SHA_512: return "SHA-512";
    case CALG_MD5: return "MD5";
    case CALG_RSA_KEYX: return "RSA";
    case CALG_DH_EPHEM: return "DHE";
    case CALG_ECDH: return "ECDH";
    case CALG_ECDH_EPHEM: return "ECDHE";
    default: return "?";
    }
}

static void CopyName(char *dest, size_t destSize, const char *text)
{
    if (destSize == 0)
        return;
    size_t n = strlen(text);
    if (n >= destSize)
        n = destSize - 1;
    memcpy(dest, text, n);
    dest[n] = '\0';
}

int PlatTlsDescribe(PlatTls tls, PlatTlsInfo *info)
{
    memset(info, 0, sizeof *info);
    TlsSession *session = (TlsSession *)tls;
    if (!session || !session->haveContext)
        return 0;
    int learnt = 0;
    SecPkgContext_ConnectionInfo connection;
    if (QueryContextAttributesA(&session->context, SECPKG_ATTR_CONNECTION_INFO, &connection) ==
        SEC_E_OK) {
        CopyName(info->protocol, sizeof info->protocol, ProtocolName(connection.dwProtocol));
        snprintf(info->cipher, sizeof info->cipher, "%s, %s, %s",
                 AlgorithmName(connection.aiCipher), AlgorithmName(connection.aiHash),
                 AlgorithmName(connection.aiExch));
        learnt = 1;
    }
    // The suite's own name, where the provider gives it.
    SecPkgContext_CipherInfo cipher;
    memset(&cipher, 0, sizeof cipher);
    if (QueryContextAttributesA(&session->context, SECPKG_ATTR_CIPHER_INFO, &cipher) == SEC_E_OK &&
        cipher.szCipherSuite[0] != 0) {
        WideCharToMultiByte(CP_ACP, 0, cipher.szCipherSuite, -1, info->cipher,
                            (int)sizeof info->cipher, nullptr, nullptr);
        info->cipher[sizeof info->cipher - 1] = '\0';
        learnt = 1;
    }
    PCCERT_CONTEXT certificate = nullptr;
    if (QueryContextAttributesA(&session->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT,
                                (void *)&certificate) == SEC_E_OK &&
        certificate) {
        CertNameToStrA(X509_ASN_ENCODING, &certificate->pCertInfo->Subject, CERT_X500_NAME_STR,
                       info->subject, sizeof info->subject);
        CertNameToStrA(X509_ASN_ENCODING, &certificate->pCertInfo->Issuer, CERT_X500_NAME_STR,
                       info->issuer, sizeof info->issuer);
        SYSTEMTIME t;
        if (FileTimeToSystemTime(&certificate->pCertInfo->NotAfter, &t))
            snprintf(info->expires, sizeof info->expires, "%04u-%02u-%02u %02u:%02u:%02u UTC",
                     t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
        CertFreeCertificateContext(certificate);
        learnt = 1;
    }
    return learnt;
}
