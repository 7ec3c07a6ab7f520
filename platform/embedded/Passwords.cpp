// Password checks of the embedded directory against userPassword values.
#include "platform/embedded/Passwords.h"

#include <crypt.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <memory>
#include <string_view>

#include "platform/directory/Names.h"
#include "platform/embedded/Ldif.h"

namespace ovdir {
namespace {

bool SameBytes(std::string_view a, std::string_view b)
{
    if (a.size() != b.size() || a.empty()) return false;
    return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

// digest(password + salt); false when OpenSSL fails.
bool Digest(const EVP_MD* md, const std::string& password, std::string_view salt, std::string& out)
{
    unsigned char buffer[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), md, nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), password.data(), password.size()) != 1 ||
        EVP_DigestUpdate(context.get(), salt.data(), salt.size()) != 1 ||
        EVP_DigestFinal_ex(context.get(), buffer, &length) != 1)
        return false;
    out.assign(reinterpret_cast<const char*>(buffer), length);
    OPENSSL_cleanse(buffer, sizeof buffer);
    return true;
}

bool DigestMatches(const EVP_MD* md, bool salted, std::string_view encoded,
                   const std::string& password)
{
    std::string decoded;
    if (!DecodeBase64(encoded, decoded)) return false;
    const std::size_t size = static_cast<std::size_t>(EVP_MD_get_size(md));
    if (decoded.size() < size || (!salted && decoded.size() != size)) return false;
    std::string computed;
    if (!Digest(md, password, std::string_view(decoded).substr(size), computed)) return false;
    const bool match = SameBytes(computed, std::string_view(decoded).substr(0, size));
    OPENSSL_cleanse(computed.data(), computed.size());
    return match;
}

bool CryptMatches(const std::string& hash, const std::string& password)
{
    if (hash.empty()) return false;
    auto data = std::make_unique<crypt_data>();
    const char* computed = crypt_r(password.c_str(), hash.c_str(), data.get());
    // Failure gives null or a text starting with "*"; neither equals a hash.
    const bool match = computed != nullptr && computed[0] != '*' && SameBytes(computed, hash);
    OPENSSL_cleanse(data.get(), sizeof(crypt_data));
    return match;
}

}  // namespace

bool PasswordMatches(std::string_view stored, const std::string& password)
{
    if (password.empty() || stored.empty()) return false;
    if (stored.front() != '{') return SameBytes(stored, password);
    const std::size_t close = stored.find('}');
    if (close == std::string_view::npos) return SameBytes(stored, password);
    const std::string scheme = FoldCase(stored.substr(1, close - 1));
    const std::string_view rest = stored.substr(close + 1);
    if (scheme == "ssha") return DigestMatches(EVP_sha1(), true, rest, password);
    if (scheme == "sha") return DigestMatches(EVP_sha1(), false, rest, password);
    if (scheme == "ssha256") return DigestMatches(EVP_sha256(), true, rest, password);
    if (scheme == "sha256") return DigestMatches(EVP_sha256(), false, rest, password);
    if (scheme == "ssha512") return DigestMatches(EVP_sha512(), true, rest, password);
    if (scheme == "sha512") return DigestMatches(EVP_sha512(), false, rest, password);
    if (scheme == "crypt") return CryptMatches(std::string(rest), password);
    if (scheme == "cleartext") return SameBytes(rest, password);
    return false;
}

}  // namespace ovdir
