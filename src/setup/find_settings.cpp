// Finding a domain's mail settings: the consumer-domain table, then what the MX and SRV
// records say, in that order; the first answer stands.
#include "find_settings.h"

#include <cstring>

#include "../base/text.h"
#include "setup_texts.h"

struct DomainRow {
    const char *domain;
    SetupWay way;
    const char *server;  // kWayServer only
    unsigned short port;
    MailSecurity security;
};

static const DomainRow kDomainTable[] = {
    {"gmail.com", kWayGoogle, "", 0, kSecurityNone},
    {"googlemail.com", kWayGoogle, "", 0, kSecurityNone},
    {"outlook.com", kWayMicrosoft, "", 0, kSecurityNone},
    {"hotmail.com", kWayMicrosoft, "", 0, kSecurityNone},
    {"hotmail.co.uk", kWayMicrosoft, "", 0, kSecurityNone},
    {"live.com", kWayMicrosoft, "", 0, kSecurityNone},
    {"msn.com", kWayMicrosoft, "", 0, kSecurityNone},
    {"yahoo.com", kWayServer, "smtp.mail.yahoo.com", 465, kSecurityTls},
    {"icloud.com", kWayServer, "smtp.mail.me.com", 587, kSecurityStartTls},
    {"me.com", kWayServer, "smtp.mail.me.com", 587, kSecurityStartTls},
    {"aol.com", kWayServer, "smtp.aol.com", 465, kSecurityTls},
};

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool GetAddressDomain(const char *address, char *domain, size_t domainSize)
{
    const char *at = strrchr(address, '@');
    if (!at)
        return false;
    const char *start = at + 1;
    while (IsBlank(*start))
        start++;
    size_t n = strlen(start);
    while (n > 0 && IsBlank(start[n - 1]))
        n--;
    if (n > 0 && start[n - 1] == '.')
        n--;
    if (n == 0 || !CopyTextN(domain, domainSize, start, n))
        return false;
    LowerAscii(domain);
    return true;
}

// Letters, digits and hyphens in labels of 1 to 63 characters, 253 at most: a name the
// resolver can be asked about as it stands (an international name would need its ACE form).
static bool IsLookableName(const char *name)
{
    size_t length = strlen(name), label = 0;
    if (length == 0 || length > 253)
        return false;
    for (const char *p = name; *p; p++) {
        char c = *p;
        if (c == '.') {
            if (label == 0)
                return false;
            label = 0;
            continue;
        }
        bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
        if (!ok || ++label > 63)
            return false;
    }
    return label > 0;
}

void StartFindSettings(FindProgress *p, const char *address)
{
    memset(p, 0, sizeof *p);
    for (int &r : p->results)
        r = kFindNotAsked;
    p->step = kFindDone;
    p->source = kFoundNothing;
    p->way = kWayServer;
    if (!GetAddressDomain(address, p->domain, sizeof p->domain))
        return;
    for (const DomainRow &row : kDomainTable) {
        if (strcmp(row.domain, p->domain) != 0)
            continue;
        p->source = kFoundDomainTable;
        p->way = row.way;
        CopyText(p->server, sizeof p->server, row.server);
        p->port = row.port;
        p->security = row.security;
        p->lookable = true;
        return;
    }
    p->lookable = IsLookableName(p->domain);
    if (p->lookable)
        p->step = kFindMx;
}

bool NextFindQuestion(const FindProgress *p, char *name, size_t nameSize, unsigned short *type)
{
    switch (p->step) {
    case kFindMx:
        *type = PLAT_DNS_TYPE_MX;
        return CopyText(name, nameSize, p->domain);
    case kFindSubmissions:
        *type = PLAT_DNS_TYPE_SRV;
        return FormatText(name, nameSize, "_submissions._tcp.%s", p->domain);
    case kFindSubmission:
        *type = PLAT_DNS_TYPE_SRV;
        return FormatText(name, nameSize, "_submission._tcp.%s", p->domain);
    default:
        return false;
    }
}

// host without its final dot, lower case, into dest. False when it does not fit.
static bool CopyHost(char *dest, size_t destSize, const char *host)
{
    size_t n = strlen(host);
    if (n > 0 && host[n - 1] == '.')
        n--;
    if (!CopyTextN(dest, destSize, host, n))
        return false;
    LowerAscii(dest);
    return true;
}

// True when host is suffix or ends in "." suffix: a whole label, so that notgoogle.com is not
// Google's.
static bool EndsInDomain(const char *host, const char *suffix)
{
    size_t h = strlen(host), s = strlen(suffix);
    if (h == s)
        return strcmp(host, suffix) == 0;
    return h > s && host[h - s - 1] == '.' && strcmp(host + h - s, suffix) == 0;
}

// The most preferred exchanges decide: a backup MX at a provider does not make the domain
// theirs.
static void DecideFromMx(FindProgress *p, const PlatDnsRecord *records, int count)
{
    int best = -1;
    for (int i = 0; i < count; i++)
        if (best < 0 || records[i].priority < records[best].priority)
            best = i;
    if (best < 0)
        return;
    CopyHost(p->mxHost, sizeof p->mxHost, records[best].host);
    for (int i = 0; i < count; i++) {
        if (records[i].priority != records[best].priority)
            continue;
        char host[256];
        if (!CopyHost(host, sizeof host, records[i].host))
            continue;
        SetupWay way;
        if (EndsInDomain(host, "mail.protection.outlook.com") &&
            strcmp(host, "mail.protection.outlook.com") != 0)
            way = kWayMicrosoft;
        else if (EndsInDomain(host, "google.com") || EndsInDomain(host, "googlemail.com"))
            way = kWayGoogle;
        else
            continue;
        CopyText(p->mxHost, sizeof p->mxHost, host);
        p->source = kFoundMx;
        p->way = way;
        return;
    }
}

// RFC 2782: the lowest priority, and among those the highest weight (a fixed choice where
// the RFC would draw one by weight: the window shows one server). A target "." says the
// service is not offered.
static void DecideFromSrv(FindProgress *p, const PlatDnsRecord *records, int count,
                          FoundSource source, MailSecurity security)
{
    int best = -1;
    for (int i = 0; i < count; i++) {
        const PlatDnsRecord &r = records[i];
        if (r.port == 0 || r.host[0] == '\0' || strcmp(r.host, ".") == 0)
            continue;
        if (best < 0 || r.priority < records[best].priority ||
            (r.priority == records[best].priority && r.weight > records[best].weight))
            best = i;
    }
    if (best < 0 || !CopyHost(p->server, sizeof p->server, records[best].host))
        return;
    p->source = source;
    p->way = kWayServer;
    p->port = records[best].port;
    p->security = security;
}

void TakeFindAnswer(FindProgress *p, int result, const PlatDnsRecord *records, int count)
{
    if (p->step >= kFindDone)
        return;
    p->results[p->step] = result;
    if (result == PLAT_DNS_FOUND) {
        if (p->step == kFindMx)
            DecideFromMx(p, records, count);
        else if (p->step == kFindSubmissions)
            DecideFromSrv(p, records, count, kFoundSubmissions, kSecurityTls);
        else
            DecideFromSrv(p, records, count, kFoundSubmission, kSecurityStartTls);
    }
    p->step = p->source != kFoundNothing ? kFindDone : (FindStep)(p->step + 1);
}

void FormatFindLine(const FindProgress *p, bool timedOut, unsigned seconds, char *text,
                    size_t textSize)
{
    char how[400];
    switch (p->source) {
    case kFoundDomainTable:
        CopyText(how, sizeof how, kTextHowTable);
        break;
    case kFoundMx:
        FormatText(how, sizeof how, p->way == kWayMicrosoft ? kTextHowMicrosoft : kTextHowGoogle,
                   p->mxHost);
        break;
    case kFoundSubmissions:
    case kFoundSubmission:
        FormatText(how, sizeof how,
                   p->source == kFoundSubmissions ? kTextHowSubmissions : kTextHowSubmission,
                   p->server, (unsigned)p->port);
        break;
    default:
        if (!p->lookable) {
            FormatText(text, textSize, kTextNotLookable, p->domain);
            return;
        }
        if (timedOut) {
            FormatText(text, textSize, kTextNothingTimedOut, p->domain, seconds);
            return;
        }
        char mx[320];
        if (p->results[kFindMx] == PLAT_DNS_FOUND)
            FormatText(mx, sizeof mx, kTextMxNeither, p->mxHost);
        else
            CopyText(mx, sizeof mx,
                     p->results[kFindMx] == PLAT_DNS_NO_RECORDS ? kTextMxNone : kTextMxFailed);
        bool srvFailed = p->results[kFindSubmissions] == PLAT_DNS_FAILED ||
                         p->results[kFindSubmission] == PLAT_DNS_FAILED ||
                         p->results[kFindSubmission] == kFindNotAsked;
        FormatText(text, textSize, kTextNothingFound, p->domain, mx,
                   srvFailed ? kTextSrvFailed : kTextSrvNone);
        return;
    }
    FormatText(text, textSize, kTextFound, p->domain, how);
}
