// The recording fake of the crypto and HTTPS seams and of the whole-file write and replace.
#include "fake_oauth.h"

#include <cstdio>
#include <cstring>

#include "fake.h"
#include "platform/plat_crypto.h"
#include "platform/plat_files.h"
#include "platform/plat_http.h"

FakeOAuthState gFakeOAuth;

static void ResetOAuth() { gFakeOAuth = FakeOAuthState(); }
static FakeResetHook gOAuthReset(ResetOAuth);

static const std::string kBlobMark = "DPAPI:";

std::string FakeProtect(const std::string &plain)
{
    std::string blob = kBlobMark;
    for (char c : plain)
        blob += (char)(c ^ 0x5A);
    return blob;
}

std::string FakeUnprotect(const std::string &bytes)
{
    if (bytes.compare(0, kBlobMark.size(), kBlobMark) != 0)
        return std::string();
    std::string plain;
    for (size_t i = kBlobMark.size(); i < bytes.size(); i++)
        plain += (char)(bytes[i] ^ 0x5A);
    return plain;
}

// ---- random bytes and DPAPI -----------------------------------------------------------

int PlatRandomBytes(unsigned char *dest, size_t count)
{
    FakeRecord("RandomBytes(" + std::to_string(count) + ")");
    if (gFakeOAuth.randomFails)
        return 0;
    for (size_t i = 0; i < count; i++, gFakeOAuth.randomTaken++) {
        size_t n = gFakeOAuth.randomTaken;
        dest[i] = n < gFakeOAuth.random.size() ? (unsigned char)gFakeOAuth.random[n]
                                               : (unsigned char)(n - gFakeOAuth.random.size() + 1);
    }
    return 1;
}

static int Hand(const std::string &bytes, unsigned char *dest, size_t destSize,
                size_t *destLength)
{
    if (bytes.size() > destSize)
        return 0;
    memcpy(dest, bytes.data(), bytes.size());
    *destLength = bytes.size();
    return 1;
}

int PlatProtectData(const void *data, size_t count, unsigned char *dest, size_t destSize,
                    size_t *destLength)
{
    FakeRecord("ProtectData(" + std::to_string(count) + ")");
    *destLength = 0;
    if (gFakeOAuth.protectFails)
        return 0;
    return Hand(FakeProtect(std::string((const char *)data, count)), dest, destSize, destLength);
}

int PlatUnprotectData(const void *data, size_t count, unsigned char *dest, size_t destSize,
                      size_t *destLength)
{
    FakeRecord("UnprotectData(" + std::to_string(count) + ")");
    *destLength = 0;
    std::string bytes((const char *)data, count);
    if (gFakeOAuth.unprotectFails || bytes.compare(0, kBlobMark.size(), kBlobMark) != 0)
        return 0;
    return Hand(FakeUnprotect(bytes), dest, destSize, destLength);
}

// ---- HTTPS ------------------------------------------------------------------------------

int PlatHttpsPost(const char *url, const char *body, size_t bodyLength, char *response,
                  size_t responseSize, size_t *responseLength, int *status,
                  unsigned long *error)
{
    FakeRecord(std::string("HttpsPost(") + url + ")");
    gFakeOAuth.posts.push_back({url, std::string(body, bodyLength)});
    *responseLength = 0;
    *status = 0;
    *error = 0;
    FakeHttpReply reply;
    reply.answered = false;
    if (!gFakeOAuth.replies.empty()) {
        reply = gFakeOAuth.replies.front();
        gFakeOAuth.replies.pop_front();
    }
    if (!reply.answered) {
        *error = reply.error;
        return 0;
    }
    if (reply.body.size() > responseSize) {
        *error = PLAT_HTTP_BODY_TOO_LARGE;
        return 0;
    }
    memcpy(response, reply.body.data(), reply.body.size());
    *responseLength = reply.body.size();
    *status = reply.status;
    return 1;
}

PlatHttps PlatStartHttpsRequest(const PlatHttpsRequest *request, PlatHttpsAnswer *answer)
{
    FakeRecord(std::string("HttpsRequest(") + request->method + " " + request->url + ")");
    FakeHttpsRecord record;
    record.method = request->method;
    record.url = request->url;
    record.headers = request->headers;
    std::vector<char> piece(gFakeOAuth.pieceSize);
    while (request->bodyLength > 0) {
        size_t n = request->produce(request->producerContext, piece.data(), piece.size());
        if (n == 0)
            break;
        record.body.append(piece.data(), n);
    }
    gFakeOAuth.requests.push_back(record);
    FakeHttpsReply reply;
    reply.connected = false;
    if (!gFakeOAuth.httpsReplies.empty()) {
        reply = gFakeOAuth.httpsReplies.front();
        gFakeOAuth.httpsReplies.pop_front();
    }
    answer->connected = reply.status != 0 || reply.connected;
    answer->bytesSent = answer->connected ? record.body.size() : 0;
    answer->status = reply.status;
    answer->error = reply.status != 0 ? 0 : reply.error;
    snprintf(answer->retryAfter, sizeof answer->retryAfter, "%s", reply.retryAfter.c_str());
    answer->bodyCut = reply.body.size() > answer->bodySize;
    answer->bodyLength = answer->bodyCut ? answer->bodySize : reply.body.size();
    if (answer->bodyLength)
        memcpy(answer->body, reply.body.data(), answer->bodyLength);
    return gFakeOAuth.requests.size();
}

void PlatCancelHttpsRequest(PlatHttps https)
{
    FakeRecord("CancelHttpsRequest");
    if (https)
        gFakeOAuth.requests[https - 1].cancelled = true;
}

void PlatEndHttpsRequest(PlatHttps https)
{
    FakeRecord("EndHttpsRequest");
    if (https)
        gFakeOAuth.requests[https - 1].ended = true;
}

// ---- whole-file write and replace ---------------------------------------------------------

static std::map<std::string, std::string>::iterator FindFakeFile(const std::string &path)
{
    for (auto it = gFake.files.begin(); it != gFake.files.end(); ++it)
        if (FakeLower(it->first) == FakeLower(path))
            return it;
    return gFake.files.end();
}

int PlatWriteFileFlushed(const char *path, const void *data, size_t count)
{
    FakeRecord("WriteFileFlushed(" + std::string(path) + "," + std::to_string(count) + ")");
    std::string file = path;
    size_t slash = file.rfind('\\');
    // Like CreateFile, the write needs an existing folder.
    if (gFakeOAuth.failingWrites.count(FakeLower(file)) || slash == std::string::npos ||
        !gFake.directories.count(FakeLower(file.substr(0, slash))))
        return 0;
    auto it = FindFakeFile(file);
    if (it != gFake.files.end())
        gFake.files.erase(it);
    gFake.files[file] = std::string((const char *)data, count);
    return 1;
}

int PlatReplaceFile(const char *source, const char *dest)
{
    FakeRecord("ReplaceFile(" + std::string(source) + "," + std::string(dest) + ")");
    auto from = FindFakeFile(source);
    if (gFakeOAuth.replaceFails || from == gFake.files.end())
        return 0;
    std::string bytes = from->second;
    gFake.files.erase(from);
    auto to = FindFakeFile(dest);
    if (to != gFake.files.end())
        gFake.files.erase(to);
    gFake.files[dest] = bytes;
    return 1;
}
