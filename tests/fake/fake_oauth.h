// The recording fake of the seams the mail sign-in adds: the random generator and DPAPI, the
// HTTPS requests (the blocking one and the one on a worker), and the whole-file write and
// replacing move (on gFake.files). Tests script the generator's bytes and the endpoints'
// answers, and read back every request.
#pragma once
#include <deque>
#include <set>
#include <string>
#include <vector>

struct FakeHttpReply {
    bool answered = true;       // false: no answer, error says why
    int status = 200;
    std::string body;
    unsigned long error = 12029;
};

struct FakeHttpPost {
    std::string url, body;
};

// The request on a worker: its answer as scripted, and the request as recorded.
struct FakeHttpsReply {
    int status = 0;             // 0: no answer, error says why
    std::string body, retryAfter;
    unsigned long error = 12029;
    bool connected = true;      // with no answer: whether the request's head had gone out
};

struct FakeHttpsRecord {
    std::string method, url, headers, body;
    bool cancelled = false, ended = false;
};

struct FakeOAuthState {
    // --- scripted by the test ---
    std::string random;         // the generator's bytes, in order; then 0x01, 0x02, ...
    bool randomFails = false;
    bool protectFails = false;
    bool unprotectFails = false;
    std::deque<FakeHttpReply> replies;  // one per request; none left: not reached (12029)
    std::deque<FakeHttpsReply> httpsReplies;  // one per request on a worker; none left:
                                              // not reached (12029)
    size_t pieceSize = 256 * 1024;      // the request on a worker pulls its body this way
    std::set<std::string> failingWrites;  // paths (lower case) whose write fails
    bool replaceFails = false;

    // --- recorded ---
    size_t randomTaken = 0;
    std::vector<FakeHttpPost> posts;
    std::vector<FakeHttpsRecord> requests;  // the requests on a worker
};

// The request on a worker runs at once inside PlatStartHttpsRequest (the body pulled whole
// from the producer, the answer filled from replies) and posts no message: a test hands the
// window its progress and done messages itself.

extern FakeOAuthState gFakeOAuth;

// The fake's protection: "DPAPI:" and every byte XOR 0x5A, so that a test can make a store
// file or look into one, and no token stands in it in clear.
std::string FakeProtect(const std::string &plain);
// The plain bytes, or "" when bytes are not a fake blob.
std::string FakeUnprotect(const std::string &bytes);
