// The recording fake of the TLS and security seams. Its "TLS" is a readable stand-in: the
// client's handshake opens with "<CH>", the server answers with "<SH>" (as many as
// handshakeRounds asks for; the client answers each but the last with "<CK>" and the last with
// "<CF>"), and every record is "R", four hex digits of length, the text and a "." trailer.
// "C" from the server is its close notify, "N" a request for another handshake step.
#pragma once
#include <string>
#include <vector>

#include "platform/plat_types.h"

struct FakeTlsState {
    // --- scripted by the test ---
    bool openFails = false;
    unsigned long openError = 0x8009030E;  // SEC_E_NO_CREDENTIALS
    int handshakeRounds = 1;               // "<SH>" messages the server must send
    unsigned long verdict = 0;             // what PlatTlsVerifyServer says
    size_t maxPayload = 16384;
    bool encryptFails = false;
    // The credential store: found or not, and the blob.
    bool credentialExists = false;
    std::string credentialBlob;
    // The batch mutex: 0 when it cannot be made.
    uintptr_t mutexHandle = 0x3300;
    bool mutexWaitFails = false;

    // --- recorded ---
    int opens = 0, closes = 0, verifies = 0, warmUps = 0;
    std::vector<std::string> handshakeNames;  // the server name of every handshake step
    std::string verifiedName;
    std::string credentialTarget;
    std::vector<std::string> mutexCalls;      // "create(name)", "createGlobal(name)", "wait",
                                              // "release", "close"
};

extern FakeTlsState gFakeTls;

// A record carrying text, as the server would send it.
std::string FakeTlsRecord(const std::string &text);
// The texts of the records in raw bytes the client sent, joined; handshake messages skipped.
std::string FakeTlsOpen(const std::string &raw);
// A password as the credential store keeps it: UTF-16LE of UTF-8 text.
std::string FakeUtf16(const std::string &utf8);
