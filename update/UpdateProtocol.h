// The texts of the update exchange, free of any window or socket so that each rule can be
// checked on its own.
//
// The exchange: a connect request "connect.php?id=..&w=..&l=&v=..." that the server must answer
// with a first line "OK", then the description file, whose lines read "KEY=value;". A value is
// the text between a line's first and second separator, where ';' and '=' both separate; the
// first line that holds the key anywhere is the one read. Texts are Windows-1252 bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gx {

inline constexpr char kRunningBuild[] = "1.5.0";
inline constexpr char kConnectPath[] = "/update2024/gardalix/connect.php?id=";
inline constexpr char kDescriptionPath[] = "/update2024/gardalix/fr/gardalix2024id.txt";

inline constexpr char kFilesLocationKey[] = "FILES_LOCATION=";
inline constexpr char kSoftwareFileKey[] = "SOFTWARE_FILE=";
inline constexpr char kSoftwareBuildVersionKey[] = "SOFTWARE_BUILD_VERSION=";
inline constexpr char kSoftwareUpdateDateKey[] = "SOFTWARE_UPDATE_DATE=";
inline constexpr char kSoftwareSizeKey[] = "SOFTWARE_SIZE=";
inline constexpr char kSoftwareSha256Key[] = "SOFTWARE_SHA256=";

// Lines end at CR LF, at a CR alone or at an LF alone; a last line without an end counts; an
// empty text has no lines.
std::vector<std::string> SplitLines(std::string_view text);

// The n-th field (from 1) of a text whose fields are ended by ';' or '='; empty when fewer than
// n fields are ended (a last field that no separator ends is never returned).
std::string ExtractUpdateField(std::string_view text, int n);

// Field 2 of the first line holding the key anywhere (case-sensitive); empty when none does.
std::string GetUpdateValue(const std::vector<std::string>& lines, std::string_view key);
// Whether any line holds the key.
bool HasUpdateKey(const std::vector<std::string>& lines, std::string_view key);

// A decimal signed 32-bit number, with an optional sign; 0 for any other text (empty included).
std::int32_t ParseSoftwareSize(std::string_view text);

// A query value made safe: letters, digits, '.', '-', '_' and '~' stay as they are; every other
// byte (blank, controls, '&', '#', '%', '+', '=', bytes above 127, ...) becomes %XX.
std::string EncodeQueryValue(std::string_view value);

// The facts that the connect request reports about the installation.
struct ConnectValues {
    std::string id;         // customer identifier
    std::string w;          // system version, "major.minor"
    std::string h;          // serial number of the system volume, empty when unknown
    std::uint16_t idc = 0;  // customer code
};

// The connect address on the update server (all seven keys) or on the fallback server, which
// gets only id, w, l and v. `base` is "http://host[:port]".
std::string ConnectUrl(std::string_view base, const ConnectValues& values, bool fallback);

// What the connect reply says: nullopt when the first line is exactly "OK", otherwise the
// refusal text to show (the first line, or the no-connection text for an empty reply).
std::optional<std::string> ConnectRefusal(std::string_view reply);

// The download's progress in percent, rounded to the nearest whole number (halves to even);
// nullopt when no size was announced (0 or negative).
std::optional<int> ProgressPercent(std::int64_t received, std::int64_t expected);

}  // namespace gx
