// Seam: TLS by the platform's own provider, over the connection's socket. The code above the
// seam moves every byte itself (what to send, what came in, what is left over); these calls
// only turn bytes into handshake tokens and records and back, and judge the server's
// certificate.
#pragma once
#include <cstddef>

#include "plat_types.h"

typedef uintptr_t PlatTls;  // one TLS session (credentials and context); 0 for none

// Results of PlatTlsHandshake and PlatTlsDecrypt.
const int PLAT_TLS_OK = 0;           // handshake finished / one record decrypted
const int PLAT_TLS_CONTINUE = 1;     // handshake goes on: send the output, give more input
const int PLAT_TLS_INCOMPLETE = 2;   // the input does not yet hold a whole message
const int PLAT_TLS_CLOSED = 3;       // the server ended the session (close notify)
const int PLAT_TLS_RENEGOTIATE = 4;  // decrypt: what follows is for the handshake again
const int PLAT_TLS_FAILED = -1;      // *error holds the provider's status

// Certificate verdicts of PlatTlsVerifyServer, by their Windows numbers.
const unsigned long PLAT_CERT_OK = 0;
const unsigned long PLAT_CERT_E_EXPIRED = 0x800B0101;
const unsigned long PLAT_CERT_E_UNTRUSTEDROOT = 0x800B0109;
const unsigned long PLAT_CERT_E_CHAINING = 0x800B010A;
const unsigned long PLAT_CERT_E_REVOKED = 0x800B010C;
const unsigned long PLAT_CERT_E_UNTRUSTEDTESTROOT = 0x800B010D;
const unsigned long PLAT_CERT_E_CN_NO_MATCH = 0x800B010F;
const unsigned long PLAT_CERT_E_WRONG_USAGE = 0x800B0110;
const unsigned long PLAT_TRUST_E_CERT_SIGNATURE = 0x80096004;
const unsigned long PLAT_CERT_E_VALIDITYPERIODNESTING = 0x800B0102;
const unsigned long PLAT_CERT_E_CRITICAL = 0x800B0105;            // an unknown critical extension
const unsigned long PLAT_TRUST_E_FAIL = 0x800B010B;               // any other chain error
const unsigned long PLAT_TRUST_E_EXPLICIT_DISTRUST = 0x800B0111;
const unsigned long PLAT_CERT_E_INVALID_POLICY = 0x800B0113;
const unsigned long PLAT_CERT_E_INVALID_NAME = 0x800B0114;        // name constraints broken
const unsigned long PLAT_TRUST_E_BASIC_CONSTRAINTS = 0x80096019;  // an issuer that is no CA

// Opens the system's root certificates and builds one chain on them on a thread of its own,
// and returns at once, so that the first certificate check of the run (ours, or the HTTP
// client's) finds the chain engine ready instead of waiting for it: under Wine the first
// opening of the root store reads and checks every root of the host, a third of a second or
// more. Only the first call of a run starts it; nothing to wait for or free (the process's
// end ends a warm-up still running).
void PlatTlsWarmUp(void);

// A new session for one connection. Its credentials are the run's: the first call acquires
// them (AcquireCredentialsHandle for a Schannel client: no client certificate, the server's
// certificate left to PlatTlsVerifyServer, manual validation) and every later session shares
// them until the process ends, so that Schannel, which keeps its session cache with the
// credentials, resumes an earlier session with the same server. 0 on failure, *error then
// holds the status (a later call tries to acquire them again). Call from one thread only.
PlatTls PlatTlsOpen(unsigned long *error);

// Deletes the session's context (the run's credentials stay). Harmless for 0.
void PlatTlsClose(PlatTls tls);

// One InitializeSecurityContext step toward serverName (also the name sent to the server).
// input: the bytes received and not yet used (none for the first step). *consumed: how many
// of them this step used; the rest (Schannel's extra buffer) is the start of what follows. The
// token to send, if any, is copied into output (outputSize bytes), its length in *outputLength.
// Returns PLAT_TLS_OK (finished; output may still hold the last token), PLAT_TLS_CONTINUE,
// PLAT_TLS_INCOMPLETE (*consumed 0: receive more) or PLAT_TLS_FAILED.
int PlatTlsHandshake(PlatTls tls, const char *serverName, const char *input, size_t inputLength,
                     size_t *consumed, char *output, size_t outputSize, size_t *outputLength,
                     unsigned long *error);

// QueryContextAttributes(SECPKG_ATTR_STREAM_SIZES) after the handshake: the record header,
// the largest payload of one record, the trailer. 1 on success.
int PlatTlsSizes(PlatTls tls, size_t *header, size_t *maxPayload, size_t *trailer);

// EncryptMessage: one record for payload (at most maxPayload bytes) into output, which must
// hold header + length + trailer bytes. Returns the record's length, 0 on failure.
size_t PlatTlsEncrypt(PlatTls tls, const char *payload, size_t length, char *output,
                      size_t outputSize, unsigned long *error);

// DecryptMessage of the first record in data, in place. *consumed: the bytes of data used
// (data minus Schannel's extra buffer). The plaintext lies in data at *payloadOffset, length
// *payloadLength (0 when the record held none). Returns PLAT_TLS_OK, PLAT_TLS_INCOMPLETE
// (*consumed 0), PLAT_TLS_CLOSED, PLAT_TLS_RENEGOTIATE (the unused bytes go to
// PlatTlsHandshake) or PLAT_TLS_FAILED.
int PlatTlsDecrypt(PlatTls tls, char *data, size_t length, size_t *consumed,
                   size_t *payloadOffset, size_t *payloadLength, unsigned long *error);

// The certificate the server presented in the finished handshake, judged by the platform:
// a chain to a trusted root (CertGetCertificateChain, revocation checked below the root,
// the fetching given 5 seconds in all and waited for 6 at most; a status that cannot be had
// in that time passes, a revoked certificate does not), then the TLS server policy for
// serverName (CertVerifyCertificateChainPolicy, CERT_CHAIN_POLICY_SSL), then every error bit
// of the chain. PLAT_CERT_OK, or the error the chain or the policy gave (one of the
// PLAT_CERT_E_ / PLAT_TRUST_E_ values above, or another). While the chain is fetched, the
// calling thread's window messages are dispatched (its windows stay responsive), all but
// keyboard and mouse input, which waits until the call has returned. The certificate last
// found good in this run, for the same serverName, is good again at once.
unsigned long PlatTlsVerifyServer(PlatTls tls, const char *serverName);

// What the mail log tells of a finished handshake.
struct PlatTlsInfo {
    char protocol[16];  // "TLS 1.2", "TLS 1.3", ...; "" when not known
    char cipher[96];    // the cipher suite's name, or cipher, strength, hash and key exchange
    char subject[256];  // the server certificate's subject and issuer, as X.500 names
    char issuer[256];
    char expires[32];   // its end of validity, "YYYY-MM-DD HH:MM:SS UTC"
};

// QueryContextAttributes (SECPKG_ATTR_CONNECTION_INFO, SECPKG_ATTR_CIPHER_INFO where the
// provider has it, SECPKG_ATTR_REMOTE_CERT_CONTEXT) after the handshake. Fills what it can
// learn into info (the rest stays ""); 0 when it learnt nothing.
int PlatTlsDescribe(PlatTls tls, PlatTlsInfo *info);
