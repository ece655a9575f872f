// The recording fake of the seams the mail sign-in adds: the random generator and DPAPI, the
// HTTPS request, and the whole-file write and replacing move (on gFake.files). Tests script
// the generator's bytes and the token endpoint's answers, and read back every request.
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

struct FakeOAuthState {
    // --- scripted by the test ---
    std::string random;         // the generator's bytes, in order; then 0x01, 0x02, ...
    bool randomFails = false;
    bool protectFails = false;
    bool unprotectFails = false;
    std::deque<FakeHttpReply> replies;  // one per request; none left: not reached (12029)
    std::set<std::string> failingWrites;  // paths (lower case) whose write fails
    bool replaceFails = false;

    // --- recorded ---
    size_t randomTaken = 0;
    std::vector<FakeHttpPost> posts;
};

extern FakeOAuthState gFakeOAuth;

// The fake's protection: "DPAPI:" and every byte XOR 0x5A, so that a test can make a store
// file or look into one, and no token stands in it in clear.
std::string FakeProtect(const std::string &plain);
// The plain bytes, or "" when bytes are not a fake blob.
std::string FakeUnprotect(const std::string &bytes);
