// The recording fake of the seams the Email Setup window adds: the DNS resolver, the stored
// credential's write, the removal of a settings key, and the form controls.
#pragma once
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/plat_dns.h"

struct FakeDnsAnswer {
    int result;  // a PlatDnsResult
    std::vector<PlatDnsRecord> records;
};

struct FakeSetupState {
    // --- scripted by the test ---
    // Answers by name and type; a question not scripted gets PLAT_DNS_NO_RECORDS.
    std::map<std::pair<std::string, unsigned short>, FakeDnsAnswer> dns;
    bool credentialWriteFails = false;
    // The controls of the open window by id: their texts, check marks, combo selections.
    std::map<int, std::string> texts;
    std::map<int, std::vector<unsigned short>> unicodeTexts;
    std::map<int, int> checked;
    std::map<int, int> selection;

    // --- recorded ---
    std::vector<std::string> questions;       // "name/type", in order
    std::vector<std::string> credentialWrites;  // "target|user|blob bytes"
    std::map<int, bool> enabled;
    std::map<int, std::vector<std::string>> comboItems;
    int detached = 0;
};

extern FakeSetupState gFakeSetup;
