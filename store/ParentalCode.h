// The parental code: a code of 4 to 12 characters that a parent sets so that switching the
// protection off, stopping the program or switching child protection off asks for it first.
//
// Only a salted hash of the code is kept, in the value PARENTAL_CODE (a text) of the program's
// key, so that the code cannot be read back from the registry:
//
//     pbkdf2-sha256$<iterations>$<salt, 32 hex digits>$<derived key, 64 hex digits>
//
// PBKDF2 with HMAC-SHA256 from OpenSSL, a fresh 16-byte random salt for every code set. The
// iteration count is part of the text, so that a later version can raise it and still check
// codes set before. Registry errors as in GX_ConfigReg.h. Main thread only.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace gx {

inline constexpr const char* kParentalCodeValue = "PARENTAL_CODE";
inline constexpr size_t kParentalCodeMinLength = 4;   // characters
inline constexpr size_t kParentalCodeMaxLength = 12;  // characters
inline constexpr unsigned kParentalCodeIterations = 300000;

// The stored text for a code (UTF-8). Raises std::runtime_error when OpenSSL cannot supply random
// bytes or derive the key.
std::string HashParentalCode(std::string_view code);

// True when the code gives the stored hash; false for any other code and for a stored text that
// is not a hash of this form (nothing matches it).
bool ParentalCodeMatches(std::string_view code, std::string_view stored);

// The characters of a UTF-8 code (code points); npos when it is not valid UTF-8.
size_t ParentalCodeLength(std::string_view code);

// The stored hash; empty when no code is set or the key cannot be opened. Raises when
// PARENTAL_CODE is not a text.
std::string ReadParentalCodeHash();
// Stores the hash; raises when the key cannot be opened or the write fails (a parent must not
// believe a code set that is not).
void WriteParentalCodeHash(const std::string& hash);
// Removes the code; nothing happens when none is set. Raises when it cannot be removed.
void RemoveParentalCode();

}  // namespace gx
