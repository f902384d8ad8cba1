#pragma once

#include <openssl/x509.h>

#include <string>
#include <vector>

// The certificates of a --ca-file, trusted beside the system's roots by the
// gateway's fetcher and by the list downloads alike.
namespace kelvora::directory::live {

// Every PEM certificate in path; the caller frees each with X509_free.
// Throws std::runtime_error when the file cannot be read or holds none.
std::vector<X509 *> LoadCaCertificates(const std::string &path);

} // namespace kelvora::directory::live
