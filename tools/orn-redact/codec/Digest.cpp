#include "Digest.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace qiv::redact {

struct Sha256::Impl {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    std::string hex;  // set once the digest has been taken
    ~Impl() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
    if (impl_->context == nullptr ||
        EVP_DigestInit_ex(impl_->context, EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("cannot set up SHA-256");
    }
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
    if (!impl_->hex.empty()) {
        throw std::logic_error("Sha256::Update after HexDigest");
    }
    if (EVP_DigestUpdate(impl_->context, data, size) != 1) {
        throw std::runtime_error("SHA-256 failed");
    }
    bytes_ += size;
}

std::string Sha256::HexDigest() {
    if (impl_->hex.empty()) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(impl_->context, digest, &length) != 1 || length != 32) {
            throw std::runtime_error("SHA-256 failed");
        }
        constexpr char digits[] = "0123456789abcdef";
        impl_->hex.reserve(2 * length);
        for (unsigned int index = 0; index < length; ++index) {
            impl_->hex.push_back(digits[digest[index] >> 4]);
            impl_->hex.push_back(digits[digest[index] & 0xF]);
        }
    }
    return impl_->hex;
}

}  // namespace qiv::redact
