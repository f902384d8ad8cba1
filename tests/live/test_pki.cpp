#include "tests/live/test_pki.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tests/support/files.h"

namespace kelvora::live::testing {

namespace {

constexpr int kSites = 40;
constexpr const char *kKeyOptions = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";

void Run(const std::string &command)
{
    const std::string quiet = command + " >/dev/null 2>&1";
    if (std::system(quiet.c_str()) != 0) {
        std::fprintf(stderr, "test certificates: failed: %s\n", command.c_str());
        std::abort();
    }
}

std::string MakeCa(const std::string &folder, const std::string &name)
{
    const std::string certificate = folder + "/" + name + ".pem";
    Run("openssl req -x509 " + std::string(kKeyOptions) + " -keyout " + folder + "/" + name + ".key -out " +
        certificate + " -days 3650 -subj '/CN=Kelvora test " + name +
        "' -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign");
    return certificate;
}

Certificate MakeServer(const std::string &folder, const std::string &name, const std::string &ca,
                       const std::vector<std::string> &names)
{
    const std::string base = folder + "/" + name;
    std::string alternatives = "subjectAltName=";
    for (std::size_t i = 0; i < names.size(); ++i)
        alternatives += (i > 0 ? ",DNS:" : "DNS:") + names[i];
    {
        std::ofstream extensions(base + ".ext");
        extensions << alternatives << "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n";
    }
    Run("openssl req " + std::string(kKeyOptions) + " -keyout " + base + ".key -out " + base +
        ".csr -subj /CN=" + names.front());
    Run("openssl x509 -req -in " + base + ".csr -CA " + folder + "/" + ca + ".pem -CAkey " + folder + "/" + ca +
        ".key -CAcreateserial -days 3650 -out " + base + ".pem -extfile " + base + ".ext");
    return {base + ".pem", base + ".key"};
}

} // namespace

std::vector<std::string> ServerNames()
{
    // Listed one by one: curl takes no wildcard right below a top-level name.
    std::vector<std::string> names = {"searx.test", "api2.marginalia-search.com", "api.search.brave.com",
                                      "web.archive.org", "rdap.org", "rdap.registry.test",
                                      // the publishers of the open rank lists
                                      "tranco-list.eu", "downloads.majestic.com", "data.commoncrawl.org",
                                      "data.iana.org"};
    for (int i = 1; i <= kSites; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "www.site%02d.test", i);
        names.emplace_back(name);
    }
    for (char c = 'a'; c <= 'e'; ++c)
        names.push_back(std::string("www.") + c + ".test");
    names.emplace_back("xn--bcher-kva.test");   // bücher.test
    return names;
}

const TestPki &SharedPki()
{
    static const TestPki pki = [] {
        const std::string folder = testsupport::TemporaryFolder();
        TestPki made;
        made.caFile = MakeCa(folder, "ca");
        made.server = MakeServer(folder, "server", "ca", ServerNames());
        made.otherCaFile = MakeCa(folder, "other-ca");
        made.otherServer = MakeServer(folder, "other", "other-ca", {"other.test"});
        MakeCa(folder, "nobodys-ca");
        made.untrusted = MakeServer(folder, "untrusted", "nobodys-ca", {"untrusted.test"});
        return made;
    }();
    return pki;
}

} // namespace kelvora::live::testing
