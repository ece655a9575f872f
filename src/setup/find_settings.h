// Finding a domain's mail settings from an e-mail address: a table of well-known consumer
// domains first, then the domain's MX records, then its submission SRV records (RFC 6186 and
// RFC 8314); the first that answers decides. No I/O here: the caller asks the questions this
// hands out and hands back the answers.
#pragma once
#include <cstddef>

#include "../base/host_settings.h"
#include "../mail/settings/mail_settings.h"
#include "../platform/plat_dns.h"

// The ways out the Email Setup window offers.
enum SetupWay {
    kWayMicrosoft = 0,  // Microsoft 365 or Outlook.com, through Graph
    kWayGoogle = 1,     // Google, through the Gmail API
    kWayServer = 2,     // another mail server over SMTP
};

// Where an answer came from.
enum FoundSource {
    kFoundNothing = 0,
    kFoundDomainTable,   // a well-known consumer domain
    kFoundMx,            // the MX records name Microsoft 365 or Google
    kFoundSubmissions,   // _submissions._tcp: TLS from the first byte
    kFoundSubmission,    // _submission._tcp: STARTTLS
};

// The DNS questions, in the order they are asked.
enum FindStep { kFindMx = 0, kFindSubmissions = 1, kFindSubmission = 2, kFindDone = 3 };

const int kFindNotAsked = -1;  // in results: the question was never asked

struct FindProgress {
    char domain[kSettingSize];  // lower case, without a final dot; "" for an address without one
    bool lookable;              // a name DNS can be asked about
    FindStep step;
    int results[kFindDone];     // each question's PlatDnsResult, or kFindNotAsked
    char mxHost[256];           // the most preferred MX host, for the line that says what was tried

    FoundSource source;
    SetupWay way;
    char server[256];           // kWayServer: the host, without a final dot
    unsigned short port;
    MailSecurity security;
};

// The domain of an address (after its last "@", blanks trimmed, lower case, one final dot
// dropped). False when there is no "@" or nothing after it.
bool GetAddressDomain(const char *address, char *domain, size_t domainSize);

// Starts over for address. A domain of the table is answered at once; so is an address without
// a domain or with one that cannot be looked up (source kFoundNothing then).
void StartFindSettings(FindProgress *p, const char *address);

// The next question: the name to look up and its type. False once the answer is in (or every
// question has been asked).
bool NextFindQuestion(const FindProgress *p, char *name, size_t nameSize, unsigned short *type);

// The answer to the question NextFindQuestion gave: a PlatDnsResult and the records.
void TakeFindAnswer(FindProgress *p, int result, const PlatDnsRecord *records, int count);

// The window's line for the outcome: what was found and how, or what was tried. timedOut: the
// lookups were given up before they ended (seconds says after how long).
void FormatFindLine(const FindProgress *p, bool timedOut, unsigned seconds, char *text,
                    size_t textSize);
