// TEMPORARY stand-ins for seam calls whose fake is being written elsewhere; removed at merge.
#include <cstring>
#include <string>

#include "fake/fake.h"
#include "fake/fake_tls.h"
#include "platform/plat_files.h"
#include "platform/plat_locale.h"
#include "platform/plat_security.h"
#include "platform/plat_time.h"

void PlatGetLocalTime(PlatLocalTime *out) { *out = {2026, 12, 8, 14, 5, 9, 2, 60}; }
unsigned PlatAnsiCodePage(void) { return 1252; }

static std::string gClaimPath;
PlatClaimResult PlatClaimFile(const char *path, PlatClaim *claim)
{
    FakeRecord("ClaimFile(" + std::string(path) + ")");
    if (!FakeFileExists(path) || gFake.lockedFiles.count(path))
        return PLAT_CLAIM_CANNOT_OPEN;
    gClaimPath = path;
    *claim = 1;
    return PLAT_CLAIM_OK;
}
long long PlatClaimedFileSize(PlatClaim) { return (long long)gFake.files[gClaimPath].size(); }
long long PlatReadClaimedFile(PlatClaim, char *buf, long long max)
{
    const std::string &s = gFake.files[gClaimPath];
    size_t n = s.size() < (size_t)max ? s.size() : (size_t)max;
    memcpy(buf, s.data(), n);
    return (long long)n;
}
int PlatDeleteClaimedFile(PlatClaim) { return PlatDeleteFile(gClaimPath.c_str()); }
void PlatReleaseClaim(PlatClaim) {}
int PlatCanonicalFolderPath(const char *path, char *dest, size_t destSize)
{
    std::string s = path;
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 32);
    snprintf(dest, destSize, "%s", s.c_str());
    return 1;
}
PlatMutex PlatCreateGlobalMutex(const char *name) { return PlatCreateMutex(name); }
