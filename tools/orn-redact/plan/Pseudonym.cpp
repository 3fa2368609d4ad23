#include "Pseudonym.h"

#include <fcntl.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "Libraries.h"

namespace qiv::redact {

namespace {

// Beyond this a "key file" is some other file given by mistake (a device
// such as /dev/urandom would otherwise be read for ever).
constexpr std::size_t maxKeyFileSize = 64 * 1024;

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

bool ReadKeyFile(const std::string& path, std::string& key, std::string& warning,
                 std::string& error) {
    const auto cannotRead = [&](int number) {
        error = "cannot read key file " + Quoted(path) + ": " + std::strerror(number);
        return false;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return cannotRead(errno);
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        const int number = errno;
        ::close(fd);
        return cannotRead(number);
    }
    // The key is read into a buffer of its final size, so that no copy of it
    // is left behind in memory freed by a reallocation.
    std::string content(maxKeyFileSize + 1, '\0');
    std::size_t size = 0;
    int failure = 0;
    while (size < content.size()) {
        const ssize_t got = ::read(fd, content.data() + size, content.size() - size);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            failure = got < 0 ? errno : 0;
            break;
        }
        size += static_cast<std::size_t>(got);
    }
    ::close(fd);
    if (failure == 0 && size <= maxKeyFileSize) {
        // One line end is the one that `openssl rand -hex 32 > key` and
        // editors leave; the key is what comes before it.
        if (size >= 2 && content[size - 2] == '\r' && content[size - 1] == '\n') {
            size -= 2;
        } else if (size >= 1 && content[size - 1] == '\n') {
            size -= 1;
        }
        key.assign(content.data(), size);
    }
    OPENSSL_cleanse(content.data(), content.size());
    if (failure != 0) {
        return cannotRead(failure);
    }
    if (size > maxKeyFileSize) {
        error = "key file " + Quoted(path) + " is larger than " + std::to_string(maxKeyFileSize) +
                " bytes";
        return false;
    }
    if (key.empty()) {
        error = "key file " + Quoted(path) + " is empty";
        return false;
    }
    if ((status.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        warning = "key file " + Quoted(path) + " can be read by other users; chmod 600 it";
    }
    return true;
}

}  // namespace

bool ReadKey(const std::optional<std::string>& keyFile, std::string& key, std::string& warning,
             std::string& error) {
    key.clear();
    warning.clear();
    if (keyFile) {
        return ReadKeyFile(*keyFile, key, warning, error);
    }
    const char* variable = std::getenv(keyVariable);
    if (variable == nullptr) {
        error =
            std::string("pseudonym rules need a key: give --key-file FILE or set ") + keyVariable;
        return false;
    }
    if (*variable == '\0') {
        error = std::string(keyVariable) + " is empty";
        return false;
    }
    key = variable;
    return true;
}

// OpenSSL's HMAC-SHA-256 (EVP_MAC). A context set up with the key once is
// copied for each thread that needs one; a copy is taken from a free list and
// put back after each value, and re-initialised without a key, which restarts
// it from the key's inner block without hashing the key again.
struct Pseudonymizer::Impl {
    EVP_MAC* mac = nullptr;
    EVP_MAC_CTX* keyed = nullptr;
    std::mutex mutex;
    std::vector<EVP_MAC_CTX*> spare;

    EVP_MAC_CTX* Take() {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (!spare.empty()) {
                EVP_MAC_CTX* context = spare.back();
                spare.pop_back();
                return context;
            }
        }
        EVP_MAC_CTX* context = EVP_MAC_CTX_dup(keyed);
        if (context == nullptr) {
            throw std::runtime_error("cannot set up HMAC-SHA-256");
        }
        return context;
    }
    void Give(EVP_MAC_CTX* context) {
        const std::lock_guard<std::mutex> lock(mutex);
        spare.push_back(context);
    }
    ~Impl() {
        for (EVP_MAC_CTX* context : spare) {
            EVP_MAC_CTX_free(context);
        }
        EVP_MAC_CTX_free(keyed);
        EVP_MAC_free(mac);
    }
};

Pseudonymizer::Pseudonymizer(std::string_view key, PseudonymSettings settings)
    : impl_(new Impl), settings_(std::move(settings)) {
    settings_.length = std::min(settings_.length, MaxPseudonymLength(settings_.alphabet));
    if (std::string why; !LoadLibrary(Library::Crypto, why)) {
        delete impl_;
        throw std::runtime_error(why);
    }
    char digest[] = "SHA256";
    const OSSL_PARAM parameters[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_end()};
    impl_->mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    impl_->keyed = impl_->mac != nullptr ? EVP_MAC_CTX_new(impl_->mac) : nullptr;
    // Keys longer than SHA-256's block are hashed first, as HMAC defines.
    if (impl_->keyed == nullptr ||
        EVP_MAC_init(impl_->keyed, reinterpret_cast<const unsigned char*>(key.data()), key.size(),
                     parameters) != 1) {
        delete impl_;
        throw std::runtime_error("cannot set up HMAC-SHA-256");
    }
}

Pseudonymizer::~Pseudonymizer() { delete impl_; }

std::array<unsigned char, 32> Pseudonymizer::Mac(std::string_view value) const {
    EVP_MAC_CTX* context = impl_->Take();
    std::array<unsigned char, 32> mac{};
    std::size_t length = 0;
    const bool done = EVP_MAC_init(context, nullptr, 0, nullptr) == 1 &&
                      EVP_MAC_update(context, reinterpret_cast<const unsigned char*>(value.data()),
                                     value.size()) == 1 &&
                      EVP_MAC_final(context, mac.data(), &length, mac.size()) == 1 &&
                      length == mac.size();
    impl_->Give(context);
    if (!done) {
        throw std::runtime_error("HMAC-SHA-256 failed");
    }
    return mac;
}

std::string Pseudonymizer::Token(std::string_view value) const {
    std::string token;
    AppendToken(value, token);
    return token;
}

void Pseudonymizer::AppendToken(std::string_view value, std::string& token) const {
    const std::array<unsigned char, 32> mac = Mac(value);
    token.reserve(token.size() + settings_.prefix.size() + settings_.length);
    token.append(settings_.prefix);
    if (settings_.alphabet == Alphabet::Hex) {
        constexpr char digits[] = "0123456789abcdef";
        for (std::size_t index = 0; index < settings_.length; ++index) {
            const unsigned int byte = mac[index / 2];
            token.push_back(digits[(index % 2 == 0 ? byte >> 4 : byte) & 0xF]);
        }
    } else {
        // RFC 4648 base32, lower case, without padding: character i is bits
        // 5i to 5i+4 of the hash, read from a two-byte window; the bits after
        // the last byte are zero.
        constexpr char digits[] = "abcdefghijklmnopqrstuvwxyz234567";
        for (std::size_t index = 0; index < settings_.length; ++index) {
            const std::size_t bit = index * 5, byte = bit / 8;
            const unsigned int window = (static_cast<unsigned int>(mac[byte]) << 8) |
                                        (byte + 1 < mac.size() ? mac[byte + 1] : 0U);
            token.push_back(digits[(window >> (11 - bit % 8)) & 0x1F]);
        }
    }
}

std::size_t MaxPseudonymLength(Alphabet alphabet) {
    // 256 bits: 64 hex digits, or 52 base32 characters (the last one holding
    // a single bit of the hash).
    return alphabet == Alphabet::Hex ? 64 : 52;
}

}  // namespace qiv::redact
