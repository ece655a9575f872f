// credtool.exe: writes, reads and deletes the generic credential that holds the mail login's
// password, for the end-to-end tests of secure mail submission.
//
//   credtool.exe write TARGET USER BLOBHEX
//       CredWriteA of a generic credential (CRED_TYPE_GENERIC, CRED_PERSIST_LOCAL_MACHINE)
//       named TARGET for USER whose blob is exactly the bytes of BLOBHEX (a password as
//       UTF-16LE, as the system's own credential manager stores it; may be empty).
//   credtool.exe read TARGET
//       Prints one JSON line {"user":"...","hex":"<blob bytes>"}.
//   credtool.exe delete TARGET
// Exit code 0 on success, 2 when there is no such credential or the system refused (a message
// on stderr), 126 on bad usage.
#include <windows.h>
#include <wincred.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tool_json.h"

static bool DecodeHex(const char *hex, std::vector<BYTE> &out)
{
    size_t n = strlen(hex);
    if (n % 2 != 0)
        return false;
    for (size_t i = 0; i < n; i += 2) {
        int high = ToolHexDigit(hex[i]), low = ToolHexDigit(hex[i + 1]);
        if (high < 0 || low < 0)
            return false;
        out.push_back((BYTE)(high * 16 + low));
    }
    return true;
}

static int Fail(const char *what, const char *target)
{
    fprintf(stderr, "credtool: %s \"%s\" (error %lu)\n", what, target,
            (unsigned long)GetLastError());
    return 2;
}

static int Write(const char *target, const char *user, const char *hex)
{
    std::vector<BYTE> blob;
    if (!DecodeHex(hex, blob)) {
        fprintf(stderr, "credtool: the blob is not hex: %s\n", hex);
        return 126;
    }
    CREDENTIALA credential;
    memset(&credential, 0, sizeof credential);
    credential.Type = CRED_TYPE_GENERIC;
    credential.TargetName = (LPSTR)target;
    credential.UserName = (LPSTR)user;
    credential.CredentialBlobSize = (DWORD)blob.size();
    credential.CredentialBlob = blob.empty() ? nullptr : blob.data();
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    if (!CredWriteA(&credential, 0))
        return Fail("cannot write", target);
    return 0;
}

static int Read(const char *target)
{
    PCREDENTIALA credential = nullptr;
    if (!CredReadA(target, CRED_TYPE_GENERIC, 0, &credential))
        return Fail("cannot read", target);
    std::string hex;
    for (DWORD i = 0; i < credential->CredentialBlobSize; i++) {
        char pair[3];
        snprintf(pair, sizeof pair, "%02x", credential->CredentialBlob[i]);
        hex += pair;
    }
    std::string line;
    ToolJsonOpen(line);
    ToolJsonAddText(line, "user", ToolAnsiToUtf8(credential->UserName));
    ToolJsonAddText(line, "hex", hex);
    ToolJsonClose(line);
    CredFree(credential);
    puts(line.c_str());
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 5 && strcmp(argv[1], "write") == 0)
        return Write(argv[2], argv[3], argv[4]);
    if (argc == 3 && strcmp(argv[1], "read") == 0)
        return Read(argv[2]);
    if (argc == 3 && strcmp(argv[1], "delete") == 0)
        return CredDeleteA(argv[2], CRED_TYPE_GENERIC, 0) ? 0 : Fail("cannot delete", argv[2]);
    fprintf(stderr, "usage: credtool write TARGET USER BLOBHEX | read TARGET | delete TARGET\n");
    return 126;
}
