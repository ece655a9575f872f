// certtool.exe: trusts a test certificate authority in the Wine prefix for the end-to-end
// tests of secure mail submission.
//
//   certtool.exe add-root FILE
//       Adds the certificate in FILE (PEM, the first certificate of the file, or DER) to the
//       current user's "ROOT" system store, replacing an equal one already there. Prints one
//       JSON line {"subject":"...","sha1":"<hex>"}.
// Exit code 0 on success, 2 when the file or the store refused (a message on stderr), 126 on
// bad usage.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tool_json.h"

static bool ReadWholeFile(const char *path, std::vector<BYTE> &data)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (1 << 24);
    if (ok) {
        data.resize((size_t)size.QuadPart);
        DWORD read = 0;
        ok = ReadFile(file, data.data(), (DWORD)data.size(), &read, nullptr) &&
             read == data.size();
    }
    CloseHandle(file);
    return ok;
}

// PEM is decoded to DER; anything without a PEM header is taken to be DER already.
static bool ToDer(const std::vector<BYTE> &file, std::vector<BYTE> &der)
{
    std::string text(file.begin(), file.end());
    size_t begin = text.find("-----BEGIN CERTIFICATE-----");
    if (begin == std::string::npos) {
        der = file;
        return true;
    }
    size_t end = text.find("-----END CERTIFICATE-----", begin);
    if (end == std::string::npos)
        return false;
    end += strlen("-----END CERTIFICATE-----");
    std::string pem = text.substr(begin, end - begin);
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), (DWORD)pem.size(), CRYPT_STRING_BASE64HEADER, nullptr,
                              &size, nullptr, nullptr) ||
        size == 0)
        return false;
    der.resize(size);
    if (!CryptStringToBinaryA(pem.c_str(), (DWORD)pem.size(), CRYPT_STRING_BASE64HEADER,
                              der.data(), &size, nullptr, nullptr))
        return false;
    der.resize(size);
    return true;
}

static int Fail(const char *what)
{
    fprintf(stderr, "certtool: %s (error 0x%08lx)\n", what, (unsigned long)GetLastError());
    return 2;
}

static int AddRoot(const char *path)
{
    std::vector<BYTE> file, der;
    if (!ReadWholeFile(path, file))
        return Fail("cannot read the certificate file");
    if (!ToDer(file, der))
        return Fail("cannot decode the PEM certificate");

    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
    if (!store)
        return Fail("cannot open the current user's ROOT store");
    PCCERT_CONTEXT added = nullptr;
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                          der.data(), (DWORD)der.size(),
                                          CERT_STORE_ADD_REPLACE_EXISTING, &added)) {
        int result = Fail("the ROOT store refused the certificate");
        CertCloseStore(store, 0);
        return result;
    }

    char subject[512] = "";
    CertNameToStrA(X509_ASN_ENCODING, &added->pCertInfo->Subject, CERT_X500_NAME_STR, subject,
                   sizeof subject);
    BYTE hash[20];
    DWORD hashSize = sizeof hash;
    std::string sha1;
    if (CertGetCertificateContextProperty(added, CERT_SHA1_HASH_PROP_ID, hash, &hashSize)) {
        for (DWORD i = 0; i < hashSize; i++) {
            char pair[3];
            snprintf(pair, sizeof pair, "%02x", hash[i]);
            sha1 += pair;
        }
    }
    CertFreeCertificateContext(added);
    CertCloseStore(store, 0);

    std::string line;
    ToolJsonOpen(line);
    ToolJsonAddText(line, "subject", ToolAnsiToUtf8(subject));
    ToolJsonAddText(line, "sha1", sha1);
    ToolJsonClose(line);
    puts(line.c_str());
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "add-root") == 0)
        return AddRoot(argv[2]);
    fprintf(stderr, "usage: certtool add-root FILE\n");
    return 126;
}
