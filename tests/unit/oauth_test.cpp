// The mail sign-in against the recording fake: hashing and encodings (RFC 7636's PKCE
// example, a known XOAUTH2 encoding), the provider settings and requests, the redirect
// request and the pages, the token response and its id_token, the token record, its store
// and the store's lock, the sign-in window's decisions, the two jobs, and the access token
// before a batch (renewed when due, or forced).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/dispatcher.h"
#include "base/text.h"
#include "fake/fake.h"
#include "fake/fake_net.h"
#include "fake/fake_oauth.h"
#include "fake/fake_shelllink.h"
#include "fake/fake_time.h"
#include "fake/fake_tls.h"
#include "oauth/access_token.h"
#include "oauth/oauth_encoding.h"
#include "oauth/oauth_texts.h"
#include "oauth/provider.h"
#include "oauth/redirect.h"
#include "oauth/signin.h"
#include "oauth/signin_flow.h"
#include "oauth/token_record.h"
#include "oauth/token_response.h"
#include "oauth/token_store.h"
#include "platform/plat_net.h"

namespace {

const std::string kAppData = "C:\\Users\\alice\\AppData\\Roaming";
const std::string kStore = kAppData + "\\Tillwick Orvenda\\mail-signin.dat";
const std::string kUser = "alice@example.com";
const long long kNow = 1796601600;  // the fake clock

std::string Hex(const unsigned char *bytes, size_t count)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < count; i++) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

// The decoded value of one parameter of a query or form body, "" when absent.
std::string Param(const std::string &text, const std::string &name)
{
    size_t start = text.find('?') == std::string::npos ? 0 : text.find('?') + 1;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        std::string field = text.substr(start, end == std::string::npos ? end : end - start);
        if (field.compare(0, name.size() + 1, name + "=") == 0) {
            std::string value = field.substr(name.size() + 1);
            char decoded[kFormBodySize];
            PercentDecode(value.data(), value.size(), true, decoded, sizeof decoded);
            return decoded;
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return "";
}

void Configure(const std::string &provider = "microsoft", bool withUser = true)
{
    FakeSetSetting("Email Setup", "OAuthProvider", provider);
    FakeSetSetting("Email Setup", "OAuthClientId", "client-1");
    if (withUser)
        FakeSetSetting("Email Setup", "SMTPUser", kUser);
    gFakeShellLink.folders[0x1A] = kAppData;
}

OAuthSettings Settings()
{
    OAuthSettings settings;
    EXPECT_EQ(ReadOAuthSettings(&settings), kOAuthSettingsOk);
    return settings;
}

std::string TokenJson(const std::string &access, const std::string &refresh,
                      const std::string &expires = "3600")
{
    std::string json = "{\"token_type\":\"Bearer\",\"access_token\":\"" + access + "\"";
    if (!refresh.empty())
        json += ",\"refresh_token\":\"" + refresh + "\"";
    return json + ",\"expires_in\":" + expires + "}";
}

std::string RecordText(const std::string &client, const std::string &user, long long expires,
                       const std::string &access, const std::string &refresh)
{
    return "Tillwick Orvenda mail sign-in 1\nprovider=microsoft\nclient_id=" + client +
           "\ntoken_url=https://login.microsoftonline.com/organizations/oauth2/v2.0/token\n"
           "user=" + user + "\nexpires_at=" + std::to_string(expires) + "\naccess_token=" +
           access + "\nrefresh_token=" + refresh + "\n";
}

std::string Redirect(const std::string &query, const std::string &path = "/")
{
    return "GET " + path + (query.empty() ? "" : "?" + query) +
           " HTTP/1.1\r\nHost: 127.0.0.1:50123\r\nAccept: text/html\r\n\r\n";
}

class OAuth : public ::testing::Test {
protected:
    void SetUp() override { FakeReset(); }
};

// ---- hashing and encodings ----------------------------------------------------------------

TEST(OAuthEncoding, Sha256Base64AndPercentEncoding)
{
    struct Sha {
        std::string in, hex;
    } hashes[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(1000, 'a'),
         "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
    };
    for (const Sha &row : hashes) {
        unsigned char digest[kSha256Size];
        Sha256(row.in.data(), row.in.size(), digest);
        EXPECT_EQ(Hex(digest, sizeof digest), row.hex) << row.in.size();
    }

    struct B64 {
        std::string in;
        bool url;
        std::string out;
    } codes[] = {
        {"", false, ""},          {"f", false, "Zg=="},      {"fo", false, "Zm8="},
        {"foo", false, "Zm9v"},   {"f", true, "Zg"},         {"fo", true, "Zm8"},
        {"\xfb\xff\xbf", false, "+/+/"}, {"\xfb\xff\xbf", true, "-_-_"},
    };
    for (const B64 &row : codes) {
        char out[16];
        EXPECT_EQ(Base64Encode((const unsigned char *)row.in.data(), row.in.size(), row.url, out,
                               sizeof out),
                  row.out.size());
        EXPECT_EQ(std::string(out), row.out);
    }
    char small[5];
    EXPECT_EQ(Base64Encode((const unsigned char *)"foob", 4, false, small, sizeof small), 0u);

    // Decoding: each encoding above back, padding optional; "!" for a refusal.
    std::vector<B64> decodings(std::begin(codes), std::end(codes));
    decodings.insert(decodings.end(), {
        {"f", true, "Zg=="}, {"fo", false, "Zm8"}, {"foobar", true, "Zm9vYmFy"},
        {"!", true, "Z"}, {"!", true, "Zg="}, {"!", true, "Z==="}, {"!", true, "===="},
        {"!", true, "Zm=v"}, {"!", true, "Zh"}, {"!", true, "Zm9"},  // bits left over
        {"!", true, "+/+/"}, {"!", false, "-_-_"}, {"!", true, "Zm 9v"},
        {"!", true, "Zm9vYmFyYmE"},  // one byte more than fits
    });
    for (const B64 &row : decodings) {
        unsigned char out[7];
        size_t n = Base64Decode(row.out.data(), row.out.size(), row.url, out, sizeof out);
        EXPECT_EQ(n == (size_t)-1 ? "!" : std::string((const char *)out, n), row.in) << row.out;
    }

    char encoded[32] = "";
    EXPECT_TRUE(AppendPercentEncoded(encoded, sizeof encoded, "a b/+~\xC3\xA9"));
    EXPECT_STREQ(encoded, "a%20b%2F%2B~%C3%A9");
    char cut[7] = "";
    EXPECT_FALSE(AppendPercentEncoded(cut, sizeof cut, "ab cd"));
    EXPECT_STREQ(cut, "ab%20c");  // cut at a whole escape

    struct Decode {
        std::string in;
        bool plus;
        std::string out;  // "!" for a refusal
    } decodes[] = {
        {"a+b%2b%2F", true, "a b+/"}, {"a+b", false, "a+b"}, {"%e9%C3", true, "\xE9\xC3"},
        {"%", true, "!"},             {"%4", true, "!"},     {"%zz", true, "!"},
        {"%00", true, "!"},           {"12345678", true, "!"},  // one more than fits
    };
    for (const Decode &row : decodes) {
        char out[8];
        size_t n = PercentDecode(row.in.data(), row.in.size(), row.plus, out, sizeof out);
        EXPECT_EQ(n == (size_t)-1 ? "!" : std::string(out, n), row.out) << row.in;
    }
}

TEST(OAuthEncoding, PkceMatchesRfc7636AppendixB)
{
    const unsigned char random[kPkceRandomBytes] = {
        116, 24, 223, 180, 151, 153, 224, 37, 79, 250, 96, 125, 216, 173, 187, 186,
        22, 212, 37, 77, 105, 214, 191, 240, 91, 88, 5, 88, 83, 132, 141, 121};
    PkcePair pkce;
    MakePkcePair(random, &pkce);
    EXPECT_STREQ(pkce.verifier, "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk");
    EXPECT_STREQ(pkce.challenge, "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
}

TEST(OAuthEncoding, Xoauth2ResponseHasTheKnownEncoding)
{
    const char kExpected[] =
        "dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRxbVRjMk52YjNSbGNr"
        "QmhkSFJoZG1semRHRXVZMjl0Q2cBAQ==";
    const char *token = "ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg";
    char out[200];
    EXPECT_EQ(MakeXoauth2Response("someuser@example.com", token, out, sizeof out),
              sizeof kExpected - 1);
    EXPECT_STREQ(out, kExpected);
    // Exactly the encoding's length plus its terminator fits; one byte less does not.
    EXPECT_EQ(MakeXoauth2Response("someuser@example.com", token, out, sizeof kExpected),
              sizeof kExpected - 1);
    EXPECT_EQ(MakeXoauth2Response("someuser@example.com", token, out, sizeof kExpected - 1), 0u);
    EXPECT_STREQ(out, "");
}

// ---- provider settings and requests ----------------------------------------------------------

TEST_F(OAuth, ProviderSettingsTable)
{
    const std::string ms = "https://login.microsoftonline.com/";
    struct Row {
        const char *name;
        std::vector<std::pair<std::string, std::string>> keys;
        OAuthSettingsResult result;
        std::string authorize, token, scope, box;
        std::string refresh = "";  // checked when set
    } rows[] = {
        {"microsoft defaults", {{"OAuthProvider", "Microsoft"}, {"OAuthClientId", "c"}},
         kOAuthSettingsOk, ms + "organizations/oauth2/v2.0/authorize",
         ms + "organizations/oauth2/v2.0/token",
         "openid email https://outlook.office.com/SMTP.Send offline_access", ""},
        {"microsoft tenant", {{"OAuthProvider", "microsoft"}, {"OAuthClientId", "c"},
                              {"OAuthTenant", "contoso.onmicrosoft.com"}},
         kOAuthSettingsOk, ms + "contoso.onmicrosoft.com/oauth2/v2.0/authorize",
         ms + "contoso.onmicrosoft.com/oauth2/v2.0/token",
         "openid email https://outlook.office.com/SMTP.Send offline_access", ""},
        {"google defaults", {{"OAuthProvider", "GOOGLE"}, {"OAuthClientId", "c"}},
         kOAuthSettingsOk, "https://accounts.google.com/o/oauth2/v2/auth",
         "https://oauth2.googleapis.com/token", "openid email https://mail.google.com/", ""},
        {"overrides", {{"OAuthProvider", "google"}, {"OAuthClientId", "c"},
                       {"OAuthTokenURL", "https://localhost:8443/t"}, {"OAuthScope", "s"}},
         kOAuthSettingsOk, "https://accounts.google.com/o/oauth2/v2/auth",
         "https://localhost:8443/t", "s", ""},
        {"custom", {{"OAuthProvider", "custom"}, {"OAuthClientId", "c"},
                    {"OAuthAuthorizeURL", "https://id.test/a?x=1"},
                    {"OAuthTokenURL", "https://id.test/t"}, {"OAuthScope", "mail"}},
         kOAuthSettingsOk, "https://id.test/a?x=1", "https://id.test/t", "mail", ""},
        {"no provider", {{"OAuthClientId", "c"}}, kOAuthSettingsNoProvider, "", "", "",
         kTextNoProvider},
        {"unknown provider", {{"OAuthProvider", "Yahoo"}, {"OAuthClientId", "c"}},
         kOAuthSettingsUnknownProvider, "", "", "",
         "OAuthProvider \"Yahoo\" is not understood.\n\nPlease set OAuthProvider in Email Setup "
         "to microsoft, google or custom."},
        {"no client id", {{"OAuthProvider", "google"}}, kOAuthSettingsNoClientId, "", "", "",
         kTextNoClientId},
        {"custom without scope", {{"OAuthProvider", "custom"}, {"OAuthClientId", "c"},
                                  {"OAuthAuthorizeURL", "https://id.test/a"},
                                  {"OAuthTokenURL", "https://id.test/t"}},
         kOAuthSettingsCustomIncomplete, "", "", "", kTextCustomIncomplete},
        {"tenant with a slash", {{"OAuthProvider", "microsoft"}, {"OAuthClientId", "c"},
                                 {"OAuthTenant", "a/b"}},
         kOAuthSettingsBadTenant, "", "", "",
         "OAuthTenant \"a/b\" is not a tenant name or ID.\n\nPlease set OAuthTenant in Email "
         "Setup to your tenant's domain or ID, or remove it."},
        {"plain http token endpoint", {{"OAuthProvider", "google"}, {"OAuthClientId", "c"},
                                       {"OAuthTokenURL", "http://id.test/t"}},
         kOAuthSettingsBadTokenUrl, "", "", "",
         "OAuthTokenURL \"http://id.test/t\" is not an https:// address.\n\nPlease correct "
         "OAuthTokenURL in Email Setup."},
        {"fragment", {{"OAuthProvider", "google"}, {"OAuthClientId", "c"},
                      {"OAuthAuthorizeURL", "https://id.test/a#x"}},
         kOAuthSettingsBadAuthorizeUrl, "", "", "", ""},
        {"blank inside", {{"OAuthProvider", "google"}, {"OAuthClientId", "c"},
                          {"OAuthAuthorizeURL", "https://id.test/a b"}},
         kOAuthSettingsBadAuthorizeUrl, "", "", "", ""},
        {"no host", {{"OAuthProvider", "google"}, {"OAuthClientId", "c"},
                     {"OAuthTokenURL", "https:///t"}},
         kOAuthSettingsBadTokenUrl, "", "", "", ""},
        // The way out decides the resource: Graph's or the Gmail API's scope.
        {"graph", {{"MailAPI", "Graph"}, {"OAuthProvider", "microsoft"}, {"OAuthClientId", "c"}},
         kOAuthSettingsOk, ms + "organizations/oauth2/v2.0/authorize",
         ms + "organizations/oauth2/v2.0/token",
         "https://graph.microsoft.com/Mail.Send offline_access openid email", "",
         "https://graph.microsoft.com/Mail.Send offline_access"},
        {"gmail", {{"MailAPI", "gmail"}, {"OAuthProvider", "google"}, {"OAuthClientId", "c"}},
         kOAuthSettingsOk, "https://accounts.google.com/o/oauth2/v2/auth",
         "https://oauth2.googleapis.com/token",
         "https://www.googleapis.com/auth/gmail.send openid email", "",
         "https://www.googleapis.com/auth/gmail.send"},
        {"an explicit scope wins", {{"MailAPI", "gmail"}, {"OAuthProvider", "google"},
                                    {"OAuthClientId", "c"}, {"OAuthScope", "s"}},
         kOAuthSettingsOk, "https://accounts.google.com/o/oauth2/v2/auth",
         "https://oauth2.googleapis.com/token", "s", "", "s"},
        {"unknown way, named before the rest", {{"MailAPI", "ews"}}, kOAuthSettingsUnknownApi,
         "", "", "",
         "MailAPI \"ews\" is not understood.\n\nPlease set MailAPI in Email Setup to graph or "
         "gmail, or remove it to send through the SMTP server."},
        {"graph with google", {{"MailAPI", "graph"}, {"OAuthProvider", "google"},
                               {"OAuthClientId", "c"}},
         kOAuthSettingsApiProvider, "", "", "",
         "MailAPI graph needs OAuthProvider microsoft (or custom).\n\nPlease correct "
         "OAuthProvider or MailAPI in Email Setup."},
        {"gmail with microsoft", {{"MailAPI", "gmail"}, {"OAuthProvider", "microsoft"},
                                  {"OAuthClientId", "c"}},
         kOAuthSettingsApiProvider, "", "", "", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        FakeReset();
        for (const auto &key : row.keys)
            FakeSetSetting("Email Setup", key.first, key.second);
        OAuthSettings settings;
        ASSERT_EQ(ReadOAuthSettings(&settings), row.result);
        if (row.result == kOAuthSettingsOk) {
            EXPECT_EQ(std::string(settings.authorizeUrl), row.authorize);
            EXPECT_EQ(std::string(settings.tokenUrl), row.token);
            EXPECT_EQ(std::string(settings.scope), row.scope);
            if (!row.refresh.empty()) {
                EXPECT_EQ(std::string(settings.refreshScope), row.refresh);
            }
        }
        if (!row.box.empty()) {
            char text[600];
            FormatOAuthSettingsFailure(row.result, &settings, text, sizeof text);
            EXPECT_EQ(std::string(text), row.box);
        }
    }
}

TEST_F(OAuth, RequestsCarryEveryParameterEncoded)
{
    Configure("microsoft");
    FakeSetSetting("Email Setup", "OAuthClientSecret", "s&cret");
    OAuthSettings settings = Settings();
    char uri[kRedirectUriSize];
    MakeRedirectUri(50123, uri, sizeof uri);
    EXPECT_STREQ(uri, "http://127.0.0.1:50123/");
    char url[kAuthorizeUrlSize];
    ASSERT_TRUE(MakeAuthorizeUrl(&settings, uri, "st-1", "ch_1", "a+b@example.com", url,
                                 sizeof url));
    EXPECT_STREQ(url,
                 "https://login.microsoftonline.com/organizations/oauth2/v2.0/authorize?"
                 "client_id=client-1&response_type=code&redirect_uri=http%3A%2F%2F127.0.0.1%"
                 "3A50123%2F&scope=openid%20email%20https%3A%2F%2Foutlook.office.com%2FSMTP."
                 "Send%20offline_access&state=st-1&code_challenge=ch_1&code_challenge_method=S256&login_hint=a%"
                 "2Bb%40example.com");
    EXPECT_FALSE(MakeAuthorizeUrl(&settings, uri, "st-1", "ch_1", "x", url, 100));

    char body[kFormBodySize];
    ASSERT_TRUE(MakeCodeExchangeBody(&settings, "c/1", uri, "v-1", body, sizeof body));
    EXPECT_STREQ(body, "grant_type=authorization_code&code=c%2F1&redirect_uri=http%3A%2F%2F127.0."
                       "0.1%3A50123%2F&client_id=client-1&code_verifier=v-1&client_secret=s%"
                       "26cret");
    // A renewal asks for the mail scope alone: sign-ins stored before "openid email" were
    // asked for were never granted them.
    ASSERT_TRUE(MakeRefreshBody(&settings, "r.1", body, sizeof body));
    EXPECT_STREQ(body, "grant_type=refresh_token&refresh_token=r.1&client_id=client-1&scope=https"
                       "%3A%2F%2Foutlook.office.com%2FSMTP.Send%20offline_access&client_secret=s%"
                       "26cret");

    // Google's sign-in asks for offline access and consent; an address with a query of its
    // own gets the parameters after '&'.
    FakeReset();
    Configure("custom");
    FakeSetSetting("Email Setup", "OAuthAuthorizeURL", "https://id.test/a?tenant=x");
    FakeSetSetting("Email Setup", "OAuthTokenURL", "https://id.test/t");
    FakeSetSetting("Email Setup", "OAuthScope", "mail");
    settings = Settings();
    ASSERT_TRUE(MakeAuthorizeUrl(&settings, uri, "s", "c", "u", url, sizeof url));
    EXPECT_EQ(std::string(url).find("https://id.test/a?tenant=x&client_id=client-1&"), 0u);
    EXPECT_EQ(std::string(url).find("access_type"), std::string::npos);
    ASSERT_TRUE(MakeRefreshBody(&settings, "r", body, sizeof body));
    EXPECT_EQ(std::string(body).find("client_secret"), std::string::npos);
    EXPECT_EQ(Param(body, "scope"), "mail");  // an OAuthScope is asked for whole
    FakeSetSetting("Email Setup", "OAuthProvider", "google");
    settings = Settings();
    ASSERT_TRUE(MakeAuthorizeUrl(&settings, uri, "s", "c", "u", url, sizeof url));
    EXPECT_NE(std::string(url).find("&login_hint=u&access_type=offline&prompt=consent"),
              std::string::npos);
}

// ---- the redirect request and the pages -------------------------------------------------------

TEST(OAuthRedirect, RequestTable)
{
    const std::string longCode(9000, 'a');
    struct Row {
        const char *name;
        std::string bytes;
        RedirectResult result;
        std::string code, error, description;
    } rows[] = {
        {"code", Redirect("code=abc&state=st8"), kRedirectCode, "abc", "", ""},
        {"decoded, other parameters ignored",
         Redirect("state=st%38&session_state=x&code=a%2Fb%2bc+d&iss=https%3A%2F%2Fx"),
         kRedirectCode, "a/b+c d", "", ""},
        {"HTTP/1.0", "GET /?code=c&state=st8 HTTP/1.0\r\n\r\n", kRedirectCode, "c", "", ""},
        {"access denied",
         Redirect("error=access_denied&error_description=The+user+declined.&state=st8"),
         kRedirectProviderError, "", "access_denied", "The user declined."},
        {"error without a code", Redirect("error=server_error&state=st8"),
         kRedirectProviderError, "", "server_error", ""},
        {"wrong state", Redirect("code=abc&state=st9"), kRedirectWrongState, "", "", ""},
        {"no state", Redirect("code=abc"), kRedirectWrongState, "", "", ""},
        {"error with a wrong state", Redirect("error=access_denied&state=x"),
         kRedirectWrongState, "", "", ""},
        {"no code", Redirect("state=st8"), kRedirectNoCode, "", "", ""},
        {"empty code", Redirect("code=&state=st8"), kRedirectNoCode, "", "", ""},
        {"favicon", Redirect("", "/favicon.ico"), kRedirectOtherPath, "", "", ""},
        {"another path with our query", Redirect("code=a&state=st8", "/cb"), kRedirectOtherPath,
         "", "", ""},
        {"headers not ended", "GET /?code=abc&state=st8 HTTP/1.1\r\nHost: x\r\n",
         kRedirectNeedMore, "", "", ""},
        {"request line not ended", "GET /?co", kRedirectNeedMore, "", "", ""},
        {"not a GET", "POST /?code=a&state=st8 HTTP/1.1\r\n\r\n", kRedirectMalformed, "", "", ""},
        {"refused as soon as the first line ends", "HELLO\r\n", kRedirectMalformed, "", "", ""},
        {"absolute form", "GET http://x/?code=a&state=st8 HTTP/1.1\r\n\r\n", kRedirectMalformed,
         "", "", ""},
        {"HTTP/2", "GET /?code=a&state=st8 HTTP/2\r\n\r\n", kRedirectMalformed, "", "", ""},
        {"header without a colon", "GET /?code=a&state=st8 HTTP/1.1\r\nHost\r\n\r\n",
         kRedirectMalformed, "", "", ""},
        {"control character in a header", "GET / HTTP/1.1\r\nA: \x01\r\n\r\n",
         kRedirectMalformed, "", "", ""},
        {"broken escape", Redirect("code=%zz&state=st8"), kRedirectMalformed, "", "", ""},
        {"NUL", Redirect("code=a%00b&state=st8"), kRedirectMalformed, "", "", ""},
        {"line break in the code", Redirect("code=a%0Ab&state=st8"), kRedirectMalformed, "", "",
         ""},
        {"code twice", Redirect("code=a&code=b&state=st8"), kRedirectMalformed, "", "", ""},
        {"too long a request line", "GET /?code=" + longCode, kRedirectTooLong, "", "", ""},
        {"headers that never end", "GET / HTTP/1.1\r\n" + std::string(9000, 'x'),
         kRedirectTooLong, "", "", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        static RedirectRequest request;
        EXPECT_EQ(ReadRedirectRequest(row.bytes.data(), row.bytes.size(), "st8", &request),
                  row.result);
        EXPECT_EQ(std::string(request.code), row.code);
        EXPECT_EQ(std::string(request.error), row.error);
        EXPECT_EQ(std::string(request.errorDescription), row.description);
    }
}

TEST(OAuthRedirect, RepliesAreWholeResponsesWithTheReasonEscaped)
{
    char reply[4096];
    size_t n = MakeRedirectReply(kRedirectPageFailed, "<script>&\"'", reply, sizeof reply);
    std::string text(reply, n);
    ASSERT_EQ(text.find("HTTP/1.1 400 Bad Request\r\nContent-Type: text/html; charset=utf-8\r\n"),
              0u);
    size_t body = text.find("\r\n\r\n") + 4;
    EXPECT_NE(text.find("Content-Length: " + std::to_string(n - body) + "\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("<p>&lt;script&gt;&amp;&quot;&#39;</p>"), std::string::npos);
    EXPECT_EQ(text.find("<script>"), std::string::npos);

    n = MakeRedirectReply(kRedirectPageSignedIn, nullptr, reply, sizeof reply);
    EXPECT_EQ(std::string(reply, n).find("HTTP/1.1 200 OK\r\n"), 0u);
    EXPECT_NE(std::string(reply, n).find(kPageSignedIn), std::string::npos);
    n = MakeRedirectReply(kRedirectPageNotFound, nullptr, reply, sizeof reply);
    EXPECT_EQ(std::string(reply, n).find("HTTP/1.1 404 Not Found\r\n"), 0u);

    // A reason of any length is cut to fit the page; a buffer too small gives nothing.
    std::string huge(5000, '<');
    n = MakeRedirectReply(kRedirectPageFailed, huge.c_str(), reply, sizeof reply);
    text.assign(reply, n);
    EXPECT_NE(text.find("&lt;</p><p>Please close this tab"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 14), "</body></html>");
    EXPECT_EQ(MakeRedirectReply(kRedirectPageSignedIn, nullptr, reply, 100), 0u);
}

// ---- the token response ----------------------------------------------------------------

TEST(OAuthTokenResponse, ReaderTable)
{
    const std::string bigToken(kTokenSize - 1, 'x');
    std::string deep = "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"x\":";
    std::string deepTooFar = deep;
    for (int i = 0; i < 31; i++)
        deep += "[";
    deep += std::string(31, ']') + "}";
    for (int i = 0; i < 32; i++)
        deepTooFar += "[";
    deepTooFar += std::string(32, ']') + "}";
    struct Row {
        const char *name;
        std::string json;
        TokenResponseResult result;
        std::string access, refresh;
        long long expires;
        std::string error, description;
    } rows[] = {
        {"Microsoft",
         "{\"token_type\":\"Bearer\",\"scope\":\"https://outlook.office.com/SMTP.Send\","
         "\"expires_in\":3599,\"ext_expires_in\":3599,\"access_token\":\"eyJ0.a-b_c\","
         "\"refresh_token\":\"0.AR8A\"}",
         kTokenResponseOk, "eyJ0.a-b_c", "0.AR8A", 3599, "", ""},
        {"no refresh token, expiry as a string, white space",
         " \r\n{ \"access_token\" : \"ya29.a0\" , \"expires_in\" : \"3600\",\n"
         "\"token_type\":\"bearer\" }\t",
         kTokenResponseOk, "ya29.a0", "", 3600, "", ""},
        {"nulls count as absent; unknown members of any kind",
         "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"refresh_token\":null,"
         "\"expires_in\":null,\"x\":{\"a\":[1,-2.5e+3,true,false,null,{\"b\":\"\\u00e9\"}]},"
         "\"y\":[]}",
         kTokenResponseOk, "t", "", -1, "", ""},
        {"escapes in a token", "{\"access_token\":\"a\\/b\\u0041 c\",\"token_type\":\"Bearer\"}",
         kTokenResponseOk, "a/bA c", "", -1, "", ""},
        {"nesting as deep as allowed", deep, kTokenResponseOk, "t", "", -1, "", ""},
        {"the largest token", TokenJson(bigToken, bigToken), kTokenResponseOk, bigToken,
         bigToken, 3600, "", ""},
        {"invalid_grant",
         "{\"error\":\"invalid_grant\",\"error_description\":\"AADSTS70000: revoked.\\r\\n"
         "Trace: caf\\u00e9 \\ud83d\\ude00\",\"error_codes\":[70000],\"trace_id\":\"x\"}",
         kTokenResponseError, "", "", -1, "invalid_grant",
         "AADSTS70000: revoked.\r\nTrace: caf\xC3\xA9 \xF0\x9F\x98\x80"},
        {"an error voids a token beside it",
         "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"error\":\"invalid_client\"}",
         kTokenResponseError, "", "", -1, "invalid_client", ""},
        {"raw UTF-8 in a description", "{\"error\":\"x\",\"error_description\":\"\xC3\xA9\"}",
         kTokenResponseError, "", "", -1, "x", "\xC3\xA9"},
    };
    const char *malformed[] = {
        "", "[]", "{", "null", "{}", "{\"token_type\":\"Bearer\"}",
        "{\"access_token\":\"t\"}",                                      // no type
        "{\"access_token\":\"t\",\"token_type\":\"mac\"}",
        "{\"access_token\":\"t\",\"token_type\":\"Bearer\"} x",          // trailing text
        "{\"access_token\":\"t\",\"token_type\":\"Bearer\",}",           // trailing comma
        "{\"access_token\":\"t\",\"access_token\":\"u\",\"token_type\":\"Bearer\"}",
        "{\"access_token\":\"t\",\"acc\\u0065ss_token\":\"u\",\"token_type\":\"Bearer\"}",
        "{\"a\":1,\"a\":2,\"access_token\":\"t\",\"token_type\":\"Bearer\"}",
        "{'access_token':'t','token_type':'Bearer'}",
        "{\"access_token\":\"t\tu\",\"token_type\":\"Bearer\"}",         // raw control
        "{\"access_token\":\"\\u00e9\",\"token_type\":\"Bearer\"}",       // not VSCHAR
        "{\"access_token\":\"\",\"token_type\":\"Bearer\"}",
        "{\"access_token\":5,\"token_type\":\"Bearer\"}",
        "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"x\":\"\\ud800\"}",
        "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"x\":\"\\udc00\\ud800\"}",
        "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"x\":\"\\u0000\"}",
        "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"x\":\"\\x\"}",
        "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"x\":\"\xFF\"}",
        "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"x\":\"\xC0\xAF\"}",  // overlong
        "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"x\":\"\xED\xA0\x80\"}",
        "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"x\":01}",
        "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"x\":1.}",
        "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"x\":tru}",
        "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"x\":[1 2]}",
        "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"expires_in\":3.5}",
        "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"expires_in\":-1}",
        "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"expires_in\":1e3}",
        "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"expires_in\":\"36a0\"}",
        "{\"access_token\":\"t\",\"token_type\":\"Bearer\",\"expires_in\":1234567890123}",
        "{\"error\":\"\"}",
        "{\"error\":7}",
        "\xEF\xBB\xBF{\"access_token\":\"t\",\"token_type\":\"Bearer\"}",  // byte-order mark
    };
    static TokenResponse out;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ReadTokenResponse(row.json.data(), row.json.size(), &out), row.result);
        EXPECT_EQ(std::string(out.accessToken), row.access);
        EXPECT_EQ(std::string(out.refreshToken), row.refresh);
        EXPECT_EQ(out.expiresIn, row.expires);
        EXPECT_EQ(std::string(out.error), row.error);
        EXPECT_EQ(std::string(out.errorDescription), row.description);
    }
    std::vector<std::string> refused(std::begin(malformed), std::end(malformed));
    refused.push_back(deepTooFar);
    refused.push_back(TokenJson(bigToken + "x", "r"));  // one more than a token may hold
    for (const std::string &json : refused) {
        SCOPED_TRACE(json.substr(0, 120));
        EXPECT_EQ(ReadTokenResponse(json.data(), json.size(), &out), kTokenResponseMalformed);
        EXPECT_STREQ(out.accessToken, "");
        EXPECT_STREQ(out.refreshToken, "");
        EXPECT_STREQ(out.error, "");
    }
}

// An id_token with payload as its claims: base64url, without padding unless padded.
std::string IdToken(const std::string &payload, bool padded = false)
{
    std::string encoded(payload.size() * 4 / 3 + 4, '\0');
    encoded.resize(Base64Encode((const unsigned char *)payload.data(), payload.size(), true,
                                &encoded[0], encoded.size()));
    while (padded && encoded.size() % 4)
        encoded += '=';
    return "eyJhbGciOiJSUzI1NiIsInR5cCI6IkpXVCJ9." + encoded + ".c2ln";
}

TEST(OAuthTokenResponse, IdTokenNamesTheAccountOrNothing)
{
    const std::string microsoft =
        "{\"aud\":\"00000000-0000\",\"iss\":\"https://login.microsoftonline.com/t/v2.0\","
        "\"iat\":1796601600,\"exp\":1796605200,\"email\":\"Alice@Example.com\","
        "\"name\":\"Alice\",\"preferred_username\":\"alice@example.com\",\"tid\":\"t\","
        "\"roles\":[\"a\",{\"b\":null}]}";
    std::string twoParts = IdToken("{\"email\":\"a@x\"}");
    struct Row {
        const char *name;
        std::string idToken;  // the JSON value of the member
        std::string signedInAs;
    } rows[] = {
        {"Microsoft: email first", "\"" + IdToken(microsoft) + "\"", "Alice@Example.com"},
        {"padded", "\"" + IdToken(microsoft, true) + "\"", "Alice@Example.com"},
        {"Google, escaped",
         "\"" + IdToken("{\"email\":\"b\\u00f6b@gmail.com\",\"email_verified\":true}") + "\"",
         "b\xC3\xB6" "b@gmail.com"},
        {"no email: the user name",
         "\"" + IdToken("{\"preferred_username\":\"carol@example.com\",\"email\":null}") + "\"",
         "carol@example.com"},
        {"an email that is no string",
         "\"" + IdToken("{\"email\":7,\"preferred_username\":\"c@x\"}") + "\"", "c@x"},
        {"neither claim", "\"" + IdToken("{\"sub\":\"x\"}") + "\"", ""},
        {"a control character", "\"" + IdToken("{\"email\":\"a\\nb\"}") + "\"", ""},
        {"a claim too long", "\"" + IdToken("{\"email\":\"" + std::string(256, 'a') + "\"}") + "\"",
         ""},
        {"a claim twice", "\"" + IdToken("{\"email\":\"a@x\",\"email\":\"b@x\"}") + "\"", ""},
        {"payload not JSON", "\"" + IdToken("{\"email\":\"a@x\"") + "\"", ""},
        {"payload not base64url", "\"h.eyJ*.s\"", ""},
        {"two parts", "\"" + twoParts.erase(twoParts.rfind('.')) + "\"", ""},
        {"five parts (encrypted)", "\"" + IdToken("{\"email\":\"a@x\"}") + ".x.y\"", ""},
        {"not a string", "{\"email\":\"a@x\"}", ""},
        {"too long for the reader",
         "\"" + IdToken("{\"email\":\"a@x\",\"x\":\"" + std::string(kTokenSize, 'x') + "\"}") +
             "\"",
         ""},
    };
    static TokenResponse out;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::string json = TokenJson("a", "r");
        json.insert(json.size() - 1, ",\"id_token\":" + row.idToken);
        ASSERT_EQ(ReadTokenResponse(json.data(), json.size(), &out), kTokenResponseOk);
        EXPECT_EQ(std::string(out.signedInAs), row.signedInAs);
        EXPECT_STREQ(out.accessToken, "a");
    }
    // An error answer names no one, whatever its id_token says.
    std::string error = "{\"error\":\"x\",\"id_token\":\"" + IdToken(microsoft) + "\"}";
    EXPECT_EQ(ReadTokenResponse(error.data(), error.size(), &out), kTokenResponseError);
    EXPECT_STREQ(out.signedInAs, "");
}

// ---- the token record and its store -----------------------------------------------------------

TEST_F(OAuth, TokenRecordIsReadBackExactlyAndStrictly)
{
    const std::string good = RecordText("client-1", kUser, kNow + 3600, "acc.1", "ref.1");
    static TokenRecord record;
    ASSERT_TRUE(ReadTokenRecord(good.data(), good.size(), &record));
    EXPECT_EQ(record.expiresAt, kNow + 3600);
    EXPECT_STREQ(record.refreshToken, "ref.1");
    static char written[kTokenRecordTextSize];
    EXPECT_EQ(std::string(written, WriteTokenRecord(&record, written, sizeof written)), good);

    auto replaced = [&](const std::string &from, const std::string &to) {
        std::string text = good;
        return text.replace(text.find(from), from.size(), to);
    };
    const std::string refusals[] = {
        good.substr(1), good + "x", good.substr(0, good.size() - 1),
        replaced("provider=microsoft", "provider=yahoo"),
        replaced("expires_at=", "expires_at=0"),
        replaced("expires_at=", "expires_at=-"),
        replaced("user=alice", "user=\talice"),
        replaced("user=alice@example.com", "user="),
        replaced("refresh_token=ref.1", "refresh_token="),
        replaced("access_token=acc.1", "access_token=acc\xC3\xA9"),
        replaced("client_id=client-1\ntoken_url", "token_url"),
        replaced("provider=microsoft\nclient_id=client-1", "client_id=client-1\nprovider=microsoft"),
    };
    for (const std::string &text : refusals) {
        EXPECT_FALSE(ReadTokenRecord(text.data(), text.size(), &record)) << text;
        EXPECT_STREQ(record.accessToken, "");
    }
    // A field the form cannot carry is not written.
    ASSERT_TRUE(ReadTokenRecord(good.data(), good.size(), &record));
    EXPECT_EQ(record.way, kWaySmtp);
    record.user[0] = '\n';
    EXPECT_EQ(WriteTokenRecord(&record, written, sizeof written), 0u);

    // An API's sign-in names its way in the second form; the first form has no way line.
    const std::string graph = replaced("sign-in 1\nprovider=microsoft\n",
                                       "sign-in 2\nprovider=microsoft\nway=graph\n");
    ASSERT_TRUE(ReadTokenRecord(graph.data(), graph.size(), &record));
    EXPECT_EQ(record.way, kWayGraph);
    EXPECT_EQ(std::string(written, WriteTokenRecord(&record, written, sizeof written)), graph);
    auto graphReplaced = [&](const std::string &from, const std::string &to) {
        std::string text = graph;
        return text.replace(text.find(from), from.size(), to);
    };
    for (const std::string &text :
         {graphReplaced("way=graph", "way=smtp"), graphReplaced("way=graph\n", ""),
          graphReplaced("way=graph", "way=graph "), graphReplaced("sign-in 2", "sign-in 1"),
          replaced("sign-in 1", "sign-in 2")})
        EXPECT_FALSE(ReadTokenRecord(text.data(), text.size(), &record)) << text;
}

TEST_F(OAuth, RecordBelongsToItsSettingsAndIsRenewedFiveMinutesEarly)
{
    Configure("microsoft");
    OAuthSettings settings = Settings();
    const std::string text = RecordText("client-1", kUser, kNow + 300, "a", "r");
    static TokenRecord record;
    ASSERT_TRUE(ReadTokenRecord(text.data(), text.size(), &record));
    struct Row {
        const char *name;
        std::function<void()> change;
        bool belongs;
    } rows[] = {
        {"same", [] {}, true},
        {"user in other case", [] { FakeSetSetting("Email Setup", "SMTPUser", "ALICE@example.com"); }, true},
        {"other user", [] { FakeSetSetting("Email Setup", "SMTPUser", "bob@example.com"); }, false},
        {"other client", [] { FakeSetSetting("Email Setup", "OAuthClientId", "client-2"); }, false},
        {"other tenant", [] { FakeSetSetting("Email Setup", "OAuthTenant", "contoso.com"); }, false},
        {"other provider", [] { FakeSetSetting("Email Setup", "OAuthProvider", "google"); }, false},
    };
    for (const Row &row : rows) {
        FakeReset();
        Configure("microsoft");
        row.change();
        settings = Settings();
        EXPECT_EQ(RecordBelongsTo(&record, &settings, FakeGetSetting("Email Setup", "SMTPUser").c_str()),
                  row.belongs)
            << row.name;
    }
    struct Clock {
        long long now;
        bool refresh;
    } clocks[] = {{kNow - 1, false}, {kNow, false}, {kNow + 1, true}, {kNow + 400, true}};
    for (const Clock &c : clocks)
        EXPECT_EQ(AccessTokenNeedsRefresh(&record, c.now), c.refresh) << c.now - kNow;
}

TEST_F(OAuth, StoreIsProtectedWrittenWholeThenMovedIntoPlace)
{
    Configure("microsoft");
    static TokenRecord record, loaded;
    const std::string text = RecordText("client-1", kUser, kNow + 3600, "acc.1", "ref.1");
    ASSERT_TRUE(ReadTokenRecord(text.data(), text.size(), &record));
    EXPECT_EQ(LoadTokenRecord(&loaded), kStoreAbsent);

    gFake.calls.clear();
    ASSERT_EQ(SaveTokenRecord(&record), kStoreOk);
    const std::string folder = kAppData + "\\Tillwick Orvenda";
    const std::vector<std::string> calls = {
        "GetSpecialFolder(0,26)", "GetSpecialFolder(0,26)", "GetSpecialFolder(0,26)",
        "ProtectData(" + std::to_string(text.size()) + ")",
        "CreateDirectory(" + folder + ")",
        "WriteFileFlushed(" + folder + "\\mail-signin.new," + std::to_string(text.size() + 6) + ")",
        "ReplaceFile(" + folder + "\\mail-signin.new," + kStore + ")",
    };
    EXPECT_EQ(gFake.calls, calls);
    ASSERT_TRUE(FakeFileExists(kStore));
    EXPECT_FALSE(FakeFileExists(folder + "\\mail-signin.new"));
    EXPECT_EQ(gFake.files[kStore], FakeProtect(text));
    EXPECT_EQ(gFake.files[kStore].find("acc.1"), std::string::npos);
    ASSERT_EQ(LoadTokenRecord(&loaded), kStoreOk);
    EXPECT_STREQ(loaded.accessToken, "acc.1");

    // A save that fails keeps the old record and leaves no new file behind.
    CopyText(record.accessToken, sizeof record.accessToken, "acc.2");
    gFakeOAuth.failingWrites.insert(FakeLower(folder + "\\mail-signin.new"));
    EXPECT_EQ(SaveTokenRecord(&record), kStoreFailed);
    gFakeOAuth.failingWrites.clear();
    gFakeOAuth.replaceFails = true;
    EXPECT_EQ(SaveTokenRecord(&record), kStoreFailed);
    EXPECT_FALSE(FakeFileExists(folder + "\\mail-signin.new"));
    ASSERT_EQ(LoadTokenRecord(&loaded), kStoreOk);
    EXPECT_STREQ(loaded.accessToken, "acc.1");

    // Unreadable: another user's blob, a blob of something else, an oversized file.
    gFakeOAuth.unprotectFails = true;
    EXPECT_EQ(LoadTokenRecord(&loaded), kStoreUnreadable);
    gFakeOAuth.unprotectFails = false;
    gFake.files[kStore] = FakeProtect("Tillwick Orvenda mail sign-in 1\n");
    EXPECT_EQ(LoadTokenRecord(&loaded), kStoreUnreadable);
    gFake.files[kStore] = FakeProtect(text) + std::string(kTokenRecordTextSize + 4096, 'x');
    EXPECT_EQ(LoadTokenRecord(&loaded), kStoreUnreadable);
    EXPECT_STREQ(loaded.accessToken, "");
}

// ---- the sign-in window's decisions ------------------------------------------------------------

TEST(OAuthSignInFlow, EventTable)
{
    struct Event {
        char kind;  // a: accepted, r: received, e: ended, t: timer, c: Cancel
        PlatSocket socket;
        std::string bytes;
    };
    const std::string code = Redirect("code=abc&state=st8");
    struct Row {
        const char *name;
        std::vector<Event> events;
        int outcome;
        std::string replies;  // "socket:status" of every reply, in order
        std::string closes;   // every socket closed without a reply, in order
    } rows[] = {
        {"one redirect", {{'a', 1, ""}, {'r', 1, code}}, kSignInGotCode, "1:200", ""},
        {"in pieces", {{'a', 1, ""}, {'r', 1, code.substr(0, 20)}, {'r', 1, code.substr(20)}},
         kSignInGotCode, "1:200", ""},
        {"favicon first, spare connection closed at the end",
         {{'a', 1, ""}, {'a', 2, ""}, {'a', 3, ""}, {'r', 2, Redirect("", "/favicon.ico")},
          {'r', 3, code}},
         kSignInGotCode, "2:404 3:200", "1"},
        {"denied", {{'a', 1, ""}, {'r', 1, Redirect("error=access_denied&state=st8")}},
         kSignInDenied, "1:400", ""},
        {"wrong state", {{'a', 1, ""}, {'r', 1, Redirect("code=abc&state=x")}},
         kSignInWrongState, "1:400", ""},
        {"malformed", {{'a', 1, ""}, {'r', 1, "BREW / HTCPCP/1.0\r\n"}}, kSignInMalformed,
         "1:400", ""},
        {"too long", {{'a', 1, ""}, {'r', 1, std::string(5000, 'G')}, {'r', 1, std::string(5000, 'G')}},
         kSignInTooLong, "1:400", ""},
        {"a connection that ends is closed; the wait goes on",
         {{'a', 1, ""}, {'r', 1, "GET /?co"}, {'e', 1, ""}, {'a', 2, ""}, {'t', 0, ""}},
         kSignInTimedOut, "", "1 2"},
        {"Cancel closes what is open", {{'a', 1, ""}, {'c', 0, ""}, {'a', 2, ""}, {'r', 1, code}},
         kSignInCancelled, "", "1 2"},
        {"the ninth connection pushes out the first",
         {{'a', 1, ""}, {'a', 2, ""}, {'a', 3, ""}, {'a', 4, ""}, {'a', 5, ""}, {'a', 6, ""},
          {'a', 7, ""}, {'a', 8, ""}, {'a', 9, ""}, {'r', 1, code}, {'r', 9, code}},
         kSignInGotCode, "9:200", "1 2 3 4 5 6 7 8"},
    };
    static SignInFlow flow;
    static SignInActions actions;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        StartSignInFlow(&flow, "st8");
        std::string replies, closes;
        bool ended = false;
        for (const Event &e : row.events) {
            switch (e.kind) {
            case 'a':
                SignInAccepted(&flow, e.socket, &actions);
                break;
            case 'r':
                SignInReceived(&flow, e.socket, e.bytes.data(), e.bytes.size(), &actions);
                break;
            case 'e':
                SignInConnectionEnded(&flow, e.socket, &actions);
                break;
            case 't':
                SignInTimedOut(&flow, &actions);
                break;
            default:
                SignInCancelled(&flow, &actions);
                break;
            }
            EXPECT_TRUE(actions.watch == PLAT_INVALID_SOCKET ||
                        (e.kind == 'a' && actions.watch == e.socket && !ended));
            if (actions.replyTo != PLAT_INVALID_SOCKET)
                replies += (replies.empty() ? "" : " ") + std::to_string(actions.replyTo) + ":" +
                           std::string(actions.reply + 9, 3);
            for (int i = 0; i < actions.closeCount; i++)
                closes += (closes.empty() ? "" : " ") + std::to_string(actions.close[i]);
            EXPECT_FALSE(ended && actions.end) << "ended twice";
            ended = ended || actions.end;
        }
        EXPECT_TRUE(ended);
        EXPECT_EQ(flow.outcome, row.outcome);
        EXPECT_EQ(replies, row.replies);
        EXPECT_EQ(closes, row.closes);
        EXPECT_EQ(std::string(flow.redirect.code), row.outcome == kSignInGotCode ? "abc" : "");
    }
}

// ---- the jobs ------------------------------------------------------------------------------------

// The store's lock taken and given back.
const std::vector<std::string> kLockCalls = {"createGlobal(Tillwick Orvenda mail sign-in)", "wait",
                                             "release", "close"};

// "/emailsignin" with the browser scripted (it is handed the state of the sign-in address).
int SignIn(const std::function<void(const std::string &state)> &browser)
{
    gFakeDialog.cancelCommand = kSignInCancel;
    gFakeDialog.scripts.push_back([browser] {
        std::string url = gFake.shellExecutes.empty() ? "" : gFake.shellExecutes.back().file;
        browser(Param(url, "state"));
    });
    return RunCommandLine("/emailsignin");
}

TEST_F(OAuth, SignInExchangesTheCodeAndStoresTheTokens)
{
    Configure("microsoft");
    gFakeOAuth.replies.push_back({true, 200, TokenJson("acc.1", "ref.1", "3599"), 0});
    PlatSocket spare = 0, favicon = 0, redirect = 0;
    int rc = SignIn([&](const std::string &state) {
        spare = FakeBrowserConnects();
        favicon = FakeBrowserConnects();
        redirect = FakeBrowserConnects();
        FakeBrowserSends(favicon, Redirect("", "/favicon.ico"));
        FakeBrowserSends(redirect, Redirect("code=c%2F1&state=" + state));
    });
    EXPECT_EQ(rc, 0);

    EXPECT_EQ(gFakeDialog.templateId, kSignInTemplate);
    EXPECT_EQ(gFakeDialog.statusTexts, std::vector<std::string>{kTextWaitingForBrowser});
    EXPECT_EQ(gFakeDialog.timerPeriod, 300000u);
    EXPECT_EQ(gFakeNet.versionAsked, 0x0101);
    EXPECT_EQ(gFakeNet.cleanups, 1);
    ASSERT_EQ(gFake.shellExecutes.size(), 1u);
    const FakeShellExecute &open = gFake.shellExecutes[0];
    EXPECT_EQ(open.verb, "open");
    EXPECT_TRUE(open.paramsNull && open.dirNull);
    EXPECT_EQ(open.file.find("https://login.microsoftonline.com/organizations/oauth2/v2.0/"
                             "authorize?client_id=client-1&"),
              0u);
    EXPECT_EQ(Param(open.file, "redirect_uri"), "http://127.0.0.1:50123/");
    EXPECT_EQ(Param(open.file, "login_hint"), kUser);
    EXPECT_EQ(Param(open.file, "state").size(), 43u);

    // The exchange proves the verifier behind the challenge the browser was sent.
    ASSERT_EQ(gFakeOAuth.posts.size(), 1u);
    const std::string body = gFakeOAuth.posts[0].body;
    EXPECT_EQ(gFakeOAuth.posts[0].url,
              "https://login.microsoftonline.com/organizations/oauth2/v2.0/token");
    EXPECT_EQ(Param(body, "grant_type"), "authorization_code");
    EXPECT_EQ(Param(body, "code"), "c/1");
    EXPECT_EQ(Param(body, "redirect_uri"), "http://127.0.0.1:50123/");
    std::string verifier = Param(body, "code_verifier");
    unsigned char digest[kSha256Size];
    Sha256(verifier.data(), verifier.size(), digest);
    char challenge[kPkceTextSize];
    Base64Encode(digest, sizeof digest, true, challenge, sizeof challenge);
    EXPECT_EQ(Param(open.file, "code_challenge"), challenge);
    EXPECT_NE(verifier, Param(open.file, "state"));

    EXPECT_EQ(gFakeNet.connectionSent[favicon].find("HTTP/1.1 404 "), 0u);
    EXPECT_EQ(gFakeNet.connectionSent[redirect].find("HTTP/1.1 200 "), 0u);
    EXPECT_EQ(gFakeNet.connectionSent[spare], "");
    for (PlatSocket s : {spare, favicon, redirect, gFakeNet.listener})
        EXPECT_EQ(std::count(gFakeNet.closedSockets.begin(), gFakeNet.closedSockets.end(), s), 1)
            << s;

    EXPECT_EQ(FakeUnprotect(gFake.files[kStore]),
              RecordText("client-1", kUser, kNow + 3599, "acc.1", "ref.1"));
    // Saved under the store's lock, which a renewal holds too.
    EXPECT_EQ(gFakeTls.mutexCalls, kLockCalls);
    auto at = [](const std::string &call) {
        return std::find(gFake.calls.begin(), gFake.calls.end(), call) - gFake.calls.begin();
    };
    EXPECT_LT(at("WaitMutex"), at("ReplaceFile(" + kAppData + "\\Tillwick Orvenda\\mail-signin.new," + kStore + ")"));
    EXPECT_LT(at("ReplaceFile(" + kAppData + "\\Tillwick Orvenda\\mail-signin.new," + kStore + ")"), at("ReleaseMutex"));
    ASSERT_EQ(gFake.messageBoxes.size(), 1u);
    // No mail server is set up here: the sign-in stays, unchecked.
    EXPECT_EQ(gFake.messageBoxes[0].text, "You are signed in as alice@example.com.\n\nThe login "
                                          "could not be checked with the mail server:\n\nPlease "
                                          "setup your SMTP Server in Tillwick Orvenda.");
    EXPECT_EQ(gFake.messageBoxes[0].caption, "Sign In");
    EXPECT_EQ(gFake.messageBoxes[0].style, PLAT_MB_ICONINFORMATION);
}

TEST_F(OAuth, SignInFailuresStoreNothing)
{
    const std::string again = "\n\nNothing was stored. Please run \"Tillwick.exe /emailsignin\" again.";
    auto redirectWith = [](const std::string &query) {
        return [query](const std::string &state) {
            FakeBrowserSends(FakeBrowserConnects(), Redirect(query + "&state=" + state));
        };
    };
    auto code = redirectWith("code=abc");
    auto nothing = [](const std::string &) {};
    struct Row {
        const char *name;
        std::function<void()> setup;
        std::function<void(const std::string &)> browser;
        std::string box;
        size_t posts;
    } rows[] = {
        {"Cancel", [] {}, nothing, kTextSignInCancelled, 0},
        {"5 minutes", [] {}, [](const std::string &) { FakeDeliver(PLAT_WM_TIMER, kSignInTimer, 0); },
         kTextSignInTimedOut, 0},
        {"denied", [] {}, redirectWith("error=access_denied&error_description=The+user+said+no."),
         "The sign-in was not completed: The user said no. (access_denied)" + again, 0},
        {"wrong state",
         [] {},
         [](const std::string &) { FakeBrowserSends(FakeBrowserConnects(), Redirect("code=abc&state=x")); },
         kTextSignInWrongState, 0},
        {"code refused",
         [] { gFakeOAuth.replies.push_back({true, 400, "{\"error\":\"invalid_grant\",\"error_description\":\"Code expired.\"}", 0}); },
         code,
         "The sign-in code was refused: Code expired. (invalid_grant)\n\nNothing was stored. "
         "Please check OAuthClientId and OAuthClientSecret in Email Setup, then run "
         "\"Tillwick.exe /emailsignin\" again.",
         1},
        {"token endpoint unreachable", [] {}, code,
         "The sign-in could not be completed: login.microsoftonline.com could not be reached (the "
         "connection was refused, error 12029).\n\nNothing was stored. Please check the network "
         "connection, then run \"Tillwick.exe /emailsignin\" again.",
         1},
        {"no refresh token", [] { gFakeOAuth.replies.push_back({true, 200, TokenJson("a", ""), 0}); },
         code, kTextNoRefreshToken, 1},
        {"store not writable",
         [] {
             gFakeOAuth.replies.push_back({true, 200, TokenJson("a", "r"), 0});
             gFakeOAuth.replaceFails = true;
         },
         code,
         "The sign-in could not be saved in " + kStore + ".\n\nPlease check that this folder can "
         "be written, then run \"Tillwick.exe /emailsignin\" again.",
         1},
        {"no browser", [] { gFake.shellExecuteResult = 2; }, nothing,
         "Your web browser could not be opened (error 2).\n\nPlease check that a default web "
         "browser is set, then run \"Tillwick.exe /emailsignin\" again. Nothing was stored.",
         0},
        {"no listener", [] { gFakeNet.listenFails = true; }, nothing,
         "The sign-in could not be started (no local port for the browser's answer, error "
         "10048).\n\nNothing was stored.",
         0},
        {"no user", [] { FakeSetSetting("Email Setup", "SMTPUser", ""); }, nothing, kTextNoUser, 0},
        {"no client id", [] { FakeSetSetting("Email Setup", "OAuthClientId", ""); }, nothing,
         kTextNoClientId, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        FakeReset();
        Configure("microsoft");
        row.setup();
        EXPECT_EQ(SignIn(row.browser), 1);
        ASSERT_EQ(gFake.messageBoxes.size(), 1u);
        EXPECT_EQ(gFake.messageBoxes[0].text, row.box);
        EXPECT_EQ(gFake.messageBoxes[0].caption, "Error");
        EXPECT_EQ(gFakeOAuth.posts.size(), row.posts);
        EXPECT_FALSE(FakeFileExists(kStore));
        EXPECT_EQ(gFakeNet.startups, gFakeNet.cleanups);
        for (auto &sent : gFakeNet.connectionSent)
            EXPECT_EQ(sent.second.find("HTTP/1.1 "), 0u);
    }
}

TEST_F(OAuth, SignOutDeletesTheStore)
{
    struct Row {
        const char *name;
        bool stored, locked;
        std::string box;
    } rows[] = {
        {"stored", true, false, kTextSignedOut},
        {"nothing stored", false, false, kTextNothingToSignOut},
        {"in use", true, true,
         "The stored sign-in " + kStore + " could not be removed.\n\nPlease delete this file "
         "yourself."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        FakeReset();
        Configure();
        if (row.stored)
            gFake.files[kStore] = FakeProtect("x");
        gFake.lockedFiles[kStore] = row.locked;
        EXPECT_EQ(RunCommandLine("/emailsignout"), 0);
        EXPECT_EQ(FakeFileExists(kStore), row.locked);
        ASSERT_EQ(gFake.messageBoxes.size(), 1u);
        EXPECT_EQ(gFake.messageBoxes[0].text, row.box);
        EXPECT_EQ(gFake.messageBoxes[0].caption, "Sign Out");
        EXPECT_EQ(gFakeTls.mutexCalls, kLockCalls);
    }
}

TEST_F(OAuth, SignInStoreLockIsGivenBackAndNeverBlocksAlone)
{
    PlatMutex lock = LockSignInStore();
    EXPECT_EQ(lock, (PlatMutex)0x3300);
    UnlockSignInStore(lock);
    EXPECT_EQ(gFakeTls.mutexCalls, kLockCalls);
    // A wait that fails gives no lock (nothing to release); no mutex at all the same.
    FakeReset();
    gFakeTls.mutexWaitFails = true;
    lock = LockSignInStore();
    UnlockSignInStore(lock);
    EXPECT_EQ(lock, 0u);
    EXPECT_EQ(gFakeTls.mutexCalls,
              (std::vector<std::string>{"createGlobal(Tillwick Orvenda mail sign-in)", "wait", "close"}));
    FakeReset();
    gFakeTls.mutexHandle = 0;
    UnlockSignInStore(LockSignInStore());
    EXPECT_EQ(gFakeTls.mutexCalls,
              std::vector<std::string>{"createGlobal(Tillwick Orvenda mail sign-in)"});
}

// ---- the access token before a batch -------------------------------------------------------------

TEST_F(OAuth, AccessTokenIsRenewedAndStoredBeforeItIsHandedOut)
{
    const std::string renewal = "The sign-in of alice@example.com could not be renewed: ";
    struct Row {
        const char *name;
        std::string record;  // "" for none
        std::vector<FakeHttpReply> replies;
        AccessTokenStatus status;
        std::string token;
        std::string stored;  // the record afterwards
        std::string box;
    } rows[] = {
        {"not signed in", "", {}, kAccessTokenNotSignedIn, "", "",
         "Tillwick Orvenda is not signed in to send e-mail as alice@example.com.\n\nPlease run "
         "\"Tillwick.exe /emailsignin\" as this Windows user and sign in. No e-mail was sent."},
        {"signed in for another client", RecordText("client-2", kUser, kNow + 3600, "a1", "r1"),
         {}, kAccessTokenNotSignedIn, "", RecordText("client-2", kUser, kNow + 3600, "a1", "r1"), ""},
        {"five minutes left: no network", RecordText("client-1", kUser, kNow + 300, "a1", "r1"),
         {}, kAccessTokenReady, "a1", RecordText("client-1", kUser, kNow + 300, "a1", "r1"), ""},
        {"less: renewed, rotated refresh token stored",
         RecordText("client-1", kUser, kNow + 299, "a1", "r1"),
         {{true, 200, TokenJson("a2", "r2", "3600"), 0}}, kAccessTokenReady, "a2",
         RecordText("client-1", kUser, kNow + 3600, "a2", "r2"), ""},
        {"renewed, old refresh token kept", RecordText("client-1", kUser, kNow - 10, "a1", "r1"),
         {{true, 200, TokenJson("a2", "", "\"60\""), 0}}, kAccessTokenReady, "a2",
         RecordText("client-1", kUser, kNow + 60, "a2", "r1"), ""},
        {"a lifetime above a day counts as a day", RecordText("client-1", kUser, kNow, "a1", "r1"),
         {{true, 200, TokenJson("a2", "r2", "999999999999"), 0}}, kAccessTokenReady, "a2",
         RecordText("client-1", kUser, kNow + 86400, "a2", "r2"), ""},
        {"expired or revoked", RecordText("client-1", kUser, kNow, "a1", "r1"),
         {{true, 400, "{\"error\":\"invalid_grant\",\"error_description\":\"AADSTS700082: expired.\"}", 0}},
         kAccessTokenRefused, "", RecordText("client-1", kUser, kNow, "a1", "r1"),
         "The sign-in of alice@example.com has expired or was revoked: AADSTS700082: expired. "
         "(invalid_grant)\n\nPlease run \"Tillwick.exe /emailsignin\" again. No e-mail was sent."},
        {"client refused", RecordText("client-1", kUser, kNow, "a1", "r1"),
         {{true, 401, "{\"error\":\"invalid_client\"}", 0}}, kAccessTokenRefused, "",
         RecordText("client-1", kUser, kNow, "a1", "r1"),
         renewal + "invalid_client\n\nPlease check OAuthClientId, OAuthClientSecret and "
         "OAuthScope in Email Setup, then run \"Tillwick.exe /emailsignin\" again. No e-mail "
         "was sent."},
        {"no answer", RecordText("client-1", kUser, kNow, "a1", "r1"), {{false, 0, "", 12002}},
         kAccessTokenUnreachable, "", RecordText("client-1", kUser, kNow, "a1", "r1"),
         renewal + "login.microsoftonline.com could not be reached (no answer within 30 "
         "seconds, error 12002).\n\nPlease check the network connection and try again later. "
         "No e-mail was sent."},
        {"server error", RecordText("client-1", kUser, kNow, "a1", "r1"),
         {{true, 503, "{\"error\":\"temporarily_unavailable\"}", 0}}, kAccessTokenUnreachable, "",
         RecordText("client-1", kUser, kNow, "a1", "r1"),
         renewal + "login.microsoftonline.com answered with HTTP status 503.\n\nPlease check "
         "the network connection and try again later. No e-mail was sent."},
        {"not a token response", RecordText("client-1", kUser, kNow, "a1", "r1"),
         {{true, 200, "<html>", 0}}, kAccessTokenUnreachable, "",
         RecordText("client-1", kUser, kNow, "a1", "r1"),
         renewal + "the answer of login.microsoftonline.com could not be read (HTTP status "
         "200).\n\nPlease check the network connection and try again later. No e-mail was sent."},
    };
    static AccessToken token;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        FakeReset();
        Configure("microsoft");
        if (!row.record.empty())
            gFake.files[kStore] = FakeProtect(row.record);
        gFakeOAuth.replies.assign(row.replies.begin(), row.replies.end());
        OAuthSettings settings = Settings();
        AccessTokenStatus status = GetAccessToken(&settings, kUser.c_str(), &token);
        EXPECT_EQ(status, row.status);
        EXPECT_EQ(std::string(token.token), row.token);
        EXPECT_EQ(gFakeOAuth.posts.size(), row.replies.size());
        if (!gFakeOAuth.posts.empty()) {
            const std::string &body = gFakeOAuth.posts[0].body;
            EXPECT_EQ(Param(body, "grant_type"), "refresh_token");
            EXPECT_EQ(Param(body, "refresh_token"), "r1");
            EXPECT_EQ(Param(body, "scope"), "https://outlook.office.com/SMTP.Send offline_access");
        }
        EXPECT_EQ(FakeUnprotect(gFake.files[kStore]), row.stored);
        if (!row.box.empty()) {
            char text[2000];
            FormatAccessTokenFailure(status, &token, &settings, kUser.c_str(), text, sizeof text);
            EXPECT_EQ(std::string(text), row.box);
        }
    }

    // A renewal that cannot be stored hands out nothing: the old record stays.
    FakeReset();
    Configure("microsoft");
    gFake.files[kStore] = FakeProtect(RecordText("client-1", kUser, kNow, "a1", "r1"));
    gFakeOAuth.replies.push_back({true, 200, TokenJson("a2", "r2"), 0});
    gFakeOAuth.replaceFails = true;
    OAuthSettings settings = Settings();
    EXPECT_EQ(GetAccessToken(&settings, kUser.c_str(), &token), kAccessTokenNotSaved);
    EXPECT_STREQ(token.token, "");
    EXPECT_EQ(FakeUnprotect(gFake.files[kStore]), RecordText("client-1", kUser, kNow, "a1", "r1"));
}

TEST_F(OAuth, ASignInIsUsedOnlyForTheWayItWasMadeFor)
{
    static AccessToken token;
    const std::string smtp = RecordText("client-1", kUser, kNow, "a1", "r1");
    // An SMTP sign-in (every store written before the APIs) is not posted to Graph.
    Configure("microsoft");
    FakeSetSetting("Email Setup", "MailAPI", "graph");
    gFake.files[kStore] = FakeProtect(smtp);
    OAuthSettings settings = Settings();
    EXPECT_EQ(GetAccessToken(&settings, kUser.c_str(), &token), kAccessTokenOtherWay);
    EXPECT_TRUE(gFakeOAuth.posts.empty());
    char text[1000];
    FormatAccessTokenFailure(kAccessTokenOtherWay, &token, &settings, kUser.c_str(), text,
                             sizeof text);
    EXPECT_EQ(std::string(text),
              "The stored sign-in of alice@example.com was made for sending through the SMTP "
              "server, not through Microsoft Graph.\n\nPlease run \"Tillwick.exe /emailsignin\" "
              "again. No e-mail was sent.");

    // A Graph sign-in is renewed with Graph's scope and stays one, and SMTP does not take it.
    std::string graph = smtp;
    graph.replace(0, graph.find("client_id"),
                  "Tillwick Orvenda mail sign-in 2\nprovider=microsoft\nway=graph\n");
    gFake.files[kStore] = FakeProtect(graph);
    gFakeOAuth.replies.push_back({true, 200, TokenJson("a2", "r2"), 0});
    EXPECT_EQ(GetAccessToken(&settings, kUser.c_str(), &token), kAccessTokenReady);
    ASSERT_EQ(gFakeOAuth.posts.size(), 1u);
    EXPECT_EQ(Param(gFakeOAuth.posts[0].body, "scope"),
              "https://graph.microsoft.com/Mail.Send offline_access");
    static TokenRecord record;
    std::string stored = FakeUnprotect(gFake.files[kStore]);
    ASSERT_TRUE(ReadTokenRecord(stored.data(), stored.size(), &record));
    EXPECT_EQ(record.way, kWayGraph);
    FakeSetSetting("Email Setup", "MailAPI", "");
    settings = Settings();
    EXPECT_EQ(GetAccessToken(&settings, kUser.c_str(), &token), kAccessTokenOtherWay);
}

TEST_F(OAuth, ForcedRenewalIgnoresTheTimeLeft)
{
    const std::string fresh = RecordText("client-1", kUser, kNow + 3000, "a1", "r1");
    struct Row {
        const char *name;
        std::string record;
        std::vector<FakeHttpReply> replies;
        AccessTokenStatus status;
        std::string token, stored;
    } rows[] = {
        {"50 minutes left: renewed and stored", fresh,
         {{true, 200, TokenJson("a2", "r2", "3600"), 0}}, kAccessTokenReady, "a2",
         RecordText("client-1", kUser, kNow + 3600, "a2", "r2")},
        {"refused: the store stays", fresh,
         {{true, 400, "{\"error\":\"invalid_grant\"}", 0}}, kAccessTokenRefused, "", fresh},
        {"nothing stored", "", {}, kAccessTokenNotSignedIn, "", ""},
    };
    static AccessToken token;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        FakeReset();
        Configure("microsoft");
        if (!row.record.empty())
            gFake.files[kStore] = FakeProtect(row.record);
        gFakeOAuth.replies.assign(row.replies.begin(), row.replies.end());
        OAuthSettings settings = Settings();
        EXPECT_EQ(RenewAccessToken(&settings, kUser.c_str(), &token), row.status);
        EXPECT_EQ(std::string(token.token), row.token);
        EXPECT_EQ(token.renewed, row.status == kAccessTokenReady);
        ASSERT_EQ(gFakeOAuth.posts.size(), row.replies.size());
        if (!row.replies.empty()) {
            EXPECT_EQ(Param(gFakeOAuth.posts[0].body, "refresh_token"), "r1");
        }
        EXPECT_EQ(FakeUnprotect(gFake.files[kStore]), row.stored);
    }
}

}  // namespace
