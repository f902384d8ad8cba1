#include "directory/live/extra_ca.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <stdexcept>

namespace kelvora::directory::live {

std::vector<X509 *> LoadCaCertificates(const std::string &path)
{
    std::vector<X509 *> certificates;
    BIO *file = BIO_new_file(path.c_str(), "r");
    if (file == nullptr) {
        ERR_clear_error();
        throw std::runtime_error("cannot read the CA file " + path);
    }
    while (X509 *certificate = PEM_read_bio_X509(file, nullptr, nullptr, nullptr))
        certificates.push_back(certificate);
    ERR_clear_error();   // the read that found no further certificate
    BIO_free(file);
    if (certificates.empty())
        throw std::runtime_error("no PEM certificate in the CA file " + path);
    return certificates;
}

} // namespace kelvora::directory::live
