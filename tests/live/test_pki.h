#pragma once

#include <string>
#include <vector>

// Certificates for fake HTTPS upstreams, made at test time with the openssl
// command (EC keys, so it takes a fraction of a second) in a temporary
// folder removed when the test program ends.
namespace kelvora::live::testing {

struct Certificate {
    std::string certificate;   // PEM file
    std::string key;           // PEM file
};

struct TestPki {
    std::string caFile;          // the test CA, passed as --ca-file
    Certificate server;          // signed by it for kServerNames
    std::string otherCaFile;     // a second CA, standing for the system roots
    Certificate otherServer;     // signed by the second CA for "other.test"
    Certificate untrusted;       // signed by a CA nobody trusts, for "untrusted.test"
};

// The names the server certificate holds: every engine's host (searx.test
// for SearXNG), the archive's, rdap.org and rdap.registry.test, the rank
// lists' publishers (tranco-list.eu, downloads.majestic.com,
// data.commoncrawl.org), www.site01.test to www.site40.test, www.a.test to
// www.e.test, and the international name xn--bcher-kva.test.
std::vector<std::string> ServerNames();

// Made once per test program; aborts the test program when openssl fails.
const TestPki &SharedPki();

} // namespace kelvora::live::testing
