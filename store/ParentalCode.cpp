#include "store/ParentalCode.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <charconv>
#include <stdexcept>
#include <vector>

#include "platform/registry/Registry.h"
#include "platform/text/Hex.h"
#include "store/GX_ConfigReg.h"

namespace gx {
namespace {

constexpr std::string_view kScheme = "pbkdf2-sha256";
constexpr size_t kSaltBytes = 16;
constexpr size_t kKeyBytes = 32;
// Bounds a stored count may take: a hand-edited count of billions must not hang the console.
constexpr unsigned kMinIterations = 1000;
constexpr unsigned kMaxIterations = 10000000;

bool Derive(std::string_view code, const std::vector<unsigned char>& salt, unsigned iterations,
            std::vector<unsigned char>& key) {
    key.assign(kKeyBytes, 0);
    return PKCS5_PBKDF2_HMAC(code.data(), static_cast<int>(code.size()), salt.data(),
                             static_cast<int>(salt.size()), static_cast<int>(iterations),
                             EVP_sha256(), static_cast<int>(key.size()), key.data()) == 1;
}

// The four "$"-separated parts of a stored text; false when there are not exactly four.
bool Split(std::string_view stored, std::string_view (&parts)[4]) {
    for (int i = 0; i < 3; ++i) {
        const size_t dollar = stored.find('$');
        if (dollar == std::string_view::npos)
            return false;
        parts[i] = stored.substr(0, dollar);
        stored.remove_prefix(dollar + 1);
    }
    parts[3] = stored;
    return parts[3].find('$') == std::string_view::npos;
}

}  // namespace

std::string HashParentalCode(std::string_view code) {
    std::vector<unsigned char> salt(kSaltBytes);
    if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1)
        throw std::runtime_error("Le générateur aléatoire du système ne répond pas");
    std::vector<unsigned char> key;
    if (!Derive(code, salt, kParentalCodeIterations, key))
        throw std::runtime_error("Le calcul du code parental a échoué");
    return std::string(kScheme) + "$" + std::to_string(kParentalCodeIterations) + "$" +
           LowerHex(salt) + "$" + LowerHex(key);
}

bool ParentalCodeMatches(std::string_view code, std::string_view stored) {
    std::string_view parts[4];
    if (!Split(stored, parts) || parts[0] != kScheme)
        return false;
    unsigned iterations = 0;
    auto [end, error] =
        std::from_chars(parts[1].data(), parts[1].data() + parts[1].size(), iterations);
    if (error != std::errc() || end != parts[1].data() + parts[1].size() ||
        iterations < kMinIterations || iterations > kMaxIterations)
        return false;
    std::vector<unsigned char> salt;
    std::vector<unsigned char> expected;
    if (!ParseHex(parts[2], kSaltBytes, salt) || !ParseHex(parts[3], kKeyBytes, expected))
        return false;
    std::vector<unsigned char> key;
    if (!Derive(code, salt, iterations, key))
        return false;
    return CRYPTO_memcmp(key.data(), expected.data(), kKeyBytes) == 0;
}

size_t ParentalCodeLength(std::string_view code) {
    size_t characters = 0;
    for (size_t i = 0; i < code.size();) {
        const auto lead = static_cast<unsigned char>(code[i]);
        const size_t length = lead < 0x80           ? 1
                              : (lead >> 5) == 0x6  ? 2
                              : (lead >> 4) == 0xE  ? 3
                              : (lead >> 3) == 0x1E ? 4
                                                    : 0;
        if (length == 0 || i + length > code.size())
            return std::string_view::npos;
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(code[i + k]) >> 6) != 0x2)
                return std::string_view::npos;
        }
        i += length;
        ++characters;
    }
    return characters;
}

std::string ReadParentalCodeHash() {
    Registry registry;
    if (!registry.OpenKey(kGardalixKey, true))
        return "";
    return registry.ReadString(kParentalCodeValue);
}

void WriteParentalCodeHash(const std::string& hash) {
    Registry registry;
    if (!registry.OpenKey(kGardalixKey, true))
        throw ERegistryException(SetDataFailedMessage(kParentalCodeValue));
    registry.WriteString(kParentalCodeValue, hash);
}

void RemoveParentalCode() {
    Registry registry;
    if (!registry.OpenKey(kGardalixKey, true))
        return;
    // A code that stays while the parent is told it is gone would be worse than an error.
    if (!registry.DeleteValue(kParentalCodeValue) && registry.ValueExists(kParentalCodeValue))
        throw ERegistryException(SetDataFailedMessage(kParentalCodeValue));
}

}  // namespace gx
