// Win32 side of the DNS seam: DnsQuery_A of dnsapi.dll, through the system's resolver and its
// cache; the answer's MX or SRV records copied out and the list freed.
#include <windows.h>
#include <windns.h>

#include <cstring>

#include "../plat_dns.h"

int PlatDnsQuery(const char *name, unsigned short type, PlatDnsRecord *records, int maxRecords,
                 int *count, int *total, long *error)
{
    *count = *total = 0;
    *error = 0;
    PDNS_RECORDA list = nullptr;
    DNS_STATUS status = DnsQuery_A(name, type, DNS_QUERY_STANDARD, nullptr,
                                   (PDNS_RECORD *)&list, nullptr);
    if (status != 0) {
        if (list)
            DnsRecordListFree((PDNS_RECORD)list, DnsFreeRecordList);
        *error = (long)status;
        return status == DNS_ERROR_RCODE_NAME_ERROR || status == DNS_INFO_NO_RECORDS
                   ? PLAT_DNS_NO_RECORDS
                   : PLAT_DNS_FAILED;
    }
    for (PDNS_RECORDA r = list; r; r = r->pNext) {
        if (r->wType != type || r->Flags.S.Section != DnsSectionAnswer)
            continue;
        const char *host = type == PLAT_DNS_TYPE_MX ? r->Data.MX.pNameExchange
                                                    : r->Data.SRV.pNameTarget;
        size_t length = host ? strlen(host) : 0;
        (*total)++;
        // A name longer than DNS allows cannot be a real answer.
        if (*count >= maxRecords || length >= sizeof records[0].host)
            continue;
        PlatDnsRecord *out = &records[(*count)++];
        memcpy(out->host, host ? host : "", length);
        out->host[length] = '\0';
        if (type == PLAT_DNS_TYPE_MX) {
            out->priority = r->Data.MX.wPreference;
            out->weight = out->port = 0;
        } else {
            out->priority = r->Data.SRV.wPriority;
            out->weight = r->Data.SRV.wWeight;
            out->port = r->Data.SRV.wPort;
        }
    }
    if (list)
        DnsRecordListFree((PDNS_RECORD)list, DnsFreeRecordList);
    return *count > 0 ? PLAT_DNS_FOUND : PLAT_DNS_NO_RECORDS;
}
