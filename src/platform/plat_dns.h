// Seam: the system's DNS resolver (DnsQuery of dnsapi.dll), for the MX and SRV records that
// say where a domain's mail goes. Only the answers are handed up, never a resolver handle.
#pragma once

const unsigned short PLAT_DNS_TYPE_MX = 15;
const unsigned short PLAT_DNS_TYPE_SRV = 33;

// One record of the answer: an MX exchange, or an SRV target with its port.
struct PlatDnsRecord {
    char host[256];           // as the resolver gives it, terminated; "." is an SRV "none"
    unsigned short priority;  // MX preference, SRV priority (lower is preferred)
    unsigned short weight;    // SRV only
    unsigned short port;      // SRV only
};

enum PlatDnsResult {
    PLAT_DNS_FOUND = 0,       // records of the type asked for: *count of them stored
    PLAT_DNS_NO_RECORDS = 1,  // the name does not exist, or has none of that type
    PLAT_DNS_FAILED = 2,      // no answer (no server, a time-out, a server failure)
};

// DnsQuery_A(name, type, standard options): the records of that type in the answer (records
// of other types, such as a CNAME on the way, are skipped), in the order given, at most
// maxRecords of them stored in records (owned by the caller; the rest are counted in *total
// and dropped, as is a host longer than DNS allows). *error is the system's error number (0 for
// PLAT_DNS_FOUND). Blocks for as long as the resolver takes (seconds when no server
// answers): callers run it off the window's thread.
int PlatDnsQuery(const char *name, unsigned short type, PlatDnsRecord *records, int maxRecords,
                 int *count, int *total, long *error);
