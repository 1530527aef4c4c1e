// The registry hive: the one machine-wide store of keys and named values in which the program
// keeps its configuration and its history, kept in an SQLite file.
//
// Keys are paths such as "SOFTWARE\Brevane\Gardalix\Logs" (components separated by '\').
// Key and value names compare without regard to letter case (Windows-1252 folding); a name
// keeps the spelling it was created with. Values are listed in the order of their creation;
// rewriting a value keeps its place. All names and texts cross this interface as Windows-1252
// bytes (a name ends at its first zero byte) and are stored as UTF-8, so the file stays readable
// with ordinary SQLite tools.
//
// Several processes may use the same hive at once. Every write is one transaction that is on
// disk when the call returns. Every method is safe to call from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace gx {

enum class RegDataType : int {
    None = 0,
    String = 1,  // REG_SZ
    Binary = 3,  // REG_BINARY
    DWord = 4,   // REG_DWORD, 4 bytes little-endian
};

// One value's data as stored: text in Windows-1252 for String, the raw bytes otherwise.
struct RegValue {
    RegDataType type = RegDataType::None;
    std::string data;

    // The size the registry reports for the data: the text and its terminating zero for String.
    size_t DataSize() const { return type == RegDataType::String ? data.size() + 1 : data.size(); }

    static RegValue FromDWord(uint32_t number);
    static RegValue FromString(std::string cp1252Text);
};

// The longest value name the registry accepts, in characters.
inline constexpr size_t kMaxValueNameLength = 16383;
// The longest name of one key in a path, in characters.
inline constexpr size_t kMaxKeyNameLength = 255;

using RegKeyId = int64_t;

class RegistryHive {
  public:
    // Opens the hive file, creating it when it does not exist. A file that is not a sound hive
    // is reported on stderr, renamed aside and replaced by a fresh hive. Null when no hive can
    // be opened or created at that place.
    static std::unique_ptr<RegistryHive> Open(const std::string& path);

    ~RegistryHive();
    RegistryHive(const RegistryHive&) = delete;
    RegistryHive& operator=(const RegistryHive&) = delete;

    const std::string& Path() const { return path_; }

    // The key at the given path; with create, the key and any missing parents are created.
    // nullopt when the key does not exist (without create), the path is malformed or the hive
    // cannot be written.
    std::optional<RegKeyId> OpenKey(std::string_view keyPath, bool create);

    std::optional<RegValue> GetValue(RegKeyId key, std::string_view name);
    // Creates or replaces the value; false when the name is refused or the write fails.
    bool SetValue(RegKeyId key, std::string_view name, const RegValue& value);
    // False when the value does not exist or the write fails.
    bool DeleteValue(RegKeyId key, std::string_view name);
    // Value names in the order in which the values were created.
    std::vector<std::string> ValueNames(RegKeyId key);

    // Test knob: the next write of a value fails as if the disk had refused it.
    void FailNextWrite() { failNextWrite_ = true; }

  private:
    RegistryHive(sqlite3* db, std::string path);

    bool Execute(const char* sql);
    bool InWriteTransaction(const std::function<bool()>& work);

    sqlite3* db_;
    std::string path_;
    std::mutex mutex_;
    std::atomic<bool> failNextWrite_{false};
};

}  // namespace gx
