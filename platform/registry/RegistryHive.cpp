#include "platform/registry/RegistryHive.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "platform/codepage/CaseFold.h"
#include "platform/codepage/Cp1252.h"
#include "platform/program/LocalTime.h"

namespace gx {
namespace {

// How long a call waits for another process that holds the hive's write lock.
constexpr int kBusyTimeoutMs = 10000;
// How long to keep asking for WAL when the switch is refused without an error.
constexpr int kWalSwitchPatienceMs = 1000;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS reg_keys(
    id INTEGER PRIMARY KEY,
    path TEXT NOT NULL,
    folded TEXT NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS reg_values(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    key_id INTEGER NOT NULL REFERENCES reg_keys(id),
    name TEXT NOT NULL,
    folded TEXT NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    UNIQUE(key_id, folded));
)sql";

// Statements that any sound hive can prepare; a file that cannot is not one of ours.
constexpr const char* kSchemaProbe[] = {
    "SELECT id, path, folded FROM reg_keys LIMIT 0",
    "SELECT id, key_id, name, folded, type, data FROM reg_values LIMIT 0",
};

// A prepared statement, finalized when it goes out of scope.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return stmt_ != nullptr; }
    void Bind(int index, int64_t number) { sqlite3_bind_int64(stmt_, index, number); }
    void BindText(int index, const std::string& utf8) {
        sqlite3_bind_text(stmt_, index, utf8.data(), static_cast<int>(utf8.size()),
                          SQLITE_TRANSIENT);
    }
    void BindBlob(int index, const std::string& bytes) {
        sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()),
                          SQLITE_TRANSIENT);
    }
    int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    int64_t Int(int column) { return sqlite3_column_int64(stmt_, column); }
    std::string Bytes(int column) {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
        return data ? std::string(data, sqlite3_column_bytes(stmt_, column)) : std::string();
    }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Names end at their first zero byte, as they do for the system's C-string calls.
std::string_view AsName(std::string_view name) {
    return name.substr(0, name.find('\0'));
}

std::string ToStored(std::string_view cp1252) {
    return Cp1252ToUtf8(cp1252);
}
std::string FoldedStored(std::string_view cp1252) {
    return Cp1252ToUtf8(FoldText(cp1252));
}
std::string FromStored(const std::string& utf8) {
    auto text = Utf8ToCp1252(utf8);
    return text ? *text : Cp1252(utf8);
}

// The components of a key path; nullopt when the path is malformed. One leading and one
// trailing separator are allowed and ignored.
std::optional<std::vector<std::string>> SplitKeyPath(std::string_view path) {
    if (!path.empty() && path.front() == '\\') {
        path.remove_prefix(1);
    }
    if (!path.empty() && path.back() == '\\') {
        path.remove_suffix(1);
    }
    std::vector<std::string> parts;
    if (path.empty()) {
        return parts;
    }
    size_t start = 0;
    while (true) {
        const size_t end = path.find('\\', start);
        const auto part = path.substr(start, end == std::string_view::npos ? end : end - start);
        if (part.empty() || part.size() > kMaxKeyNameLength) {
            return std::nullopt;
        }
        parts.emplace_back(part);
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

std::string JoinKeyPath(const std::vector<std::string>& parts, size_t count) {
    std::string path;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) {
            path += '\\';
        }
        path += parts[i];
    }
    return path;
}

enum class OpenOutcome { Opened, Damaged, Unavailable };

bool IsDamage(int code) {
    code &= 0xFF;
    return code == SQLITE_CORRUPT || code == SQLITE_NOTADB || code == SQLITE_FORMAT;
}

OpenOutcome Classify(sqlite3* db) {
    return IsDamage(sqlite3_errcode(db)) ? OpenOutcome::Damaged : OpenOutcome::Unavailable;
}

// The single text result of a pragma; nullopt on error (the database's error code tells which).
std::optional<std::string> PragmaResult(sqlite3* db, const char* sql) {
    Statement pragma(db, sql);
    if (!pragma.Ok()) {
        return std::nullopt;
    }
    const int rc = pragma.Step();
    if (rc == SQLITE_ROW) {
        return pragma.Bytes(0);
    }
    return rc == SQLITE_DONE ? std::optional<std::string>("") : std::nullopt;
}

// Switching a fresh file to WAL needs a moment alone with it; another process opening the hive
// at the same instant makes the switch fail at once, either with "busy" or by leaving the old
// mode in place, so try again for a while. A file system that cannot do WAL at all keeps the
// rollback journal, which is as safe, only slower with several processes.
bool EnableWal(sqlite3* db) {
    const auto start = std::chrono::steady_clock::now();
    while (true) {
        const auto mode = PragmaResult(db, "PRAGMA journal_mode=WAL");
        if (mode && *mode == "wal") {
            return true;
        }
        const auto waited = std::chrono::steady_clock::now() - start;
        if (mode) {
            if (waited > std::chrono::milliseconds(kWalSwitchPatienceMs)) {
                return true;
            }
        } else {
            const int code = sqlite3_errcode(db) & 0xFF;
            const bool busy = code == SQLITE_BUSY || code == SQLITE_LOCKED;
            if (!busy || waited > std::chrono::milliseconds(kBusyTimeoutMs)) {
                return false;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool Run(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Opens the file and makes sure that it is a sound hive with the tables in place.
OpenOutcome TryOpen(const std::string& path, sqlite3** out) {
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return OpenOutcome::Unavailable;
    }
    if (sqlite3_db_readonly(db, "main") == 1) {  // a hive that may not be written is no use
        sqlite3_close(db);
        return OpenOutcome::Unavailable;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    auto fail = [&]() {
        const OpenOutcome outcome = Classify(db);
        sqlite3_close(db);
        return outcome;
    };
    if (!EnableWal(db) || !Run(db, "PRAGMA synchronous=FULL")) {
        return fail();
    }
    const auto check = PragmaResult(db, "PRAGMA quick_check");
    if (!check) {
        return fail();
    }
    if (*check != "ok") {
        sqlite3_close(db);
        return OpenOutcome::Damaged;
    }
    if (!Run(db, "BEGIN IMMEDIATE")) {
        return fail();
    }
    if (!Run(db, kSchema) || !Run(db, "COMMIT")) {
        const OpenOutcome outcome = Classify(db);
        Run(db, "ROLLBACK");
        sqlite3_close(db);
        // Tables of the same name but another shape refuse the probe below just as well.
        return outcome;
    }
    for (const char* probe : kSchemaProbe) {
        if (!Statement(db, probe).Ok()) {
            const int code = sqlite3_errcode(db) & 0xFF;
            sqlite3_close(db);
            return code == SQLITE_ERROR || IsDamage(code) ? OpenOutcome::Damaged
                                                          : OpenOutcome::Unavailable;
        }
    }
    *out = db;
    return OpenOutcome::Opened;
}

// Moves a damaged hive and its journal files out of the way, under one new name. False when the
// file cannot be moved (then no fresh hive can take its place).
bool SetAside(const std::string& path, const struct stat& seen) {
    struct stat now {};
    if (stat(path.c_str(), &now) != 0 || now.st_dev != seen.st_dev || now.st_ino != seen.st_ino) {
        return true;  // another process has already replaced it
    }
    const std::string aside =
        path + ".damaged-" + LocalTimeText(std::time(nullptr), "%Y%m%d-%H%M%S");
    if (std::rename(path.c_str(), aside.c_str()) != 0) {
        std::fprintf(stderr,
                     "gardalix: le registre %s est endommagé et ne peut être mis de côté ; "
                     "les réglages et l'historique ne seront pas enregistrés.\n",
                     path.c_str());
        return false;
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        std::rename((path + suffix).c_str(), (aside + suffix).c_str());
    }
    std::fprintf(stderr,
                 "gardalix: le registre %s est endommagé ; il est mis de côté sous %s et un "
                 "registre neuf est créé.\n",
                 path.c_str(), aside.c_str());
    return true;
}

}  // namespace

RegValue RegValue::FromDWord(uint32_t number) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
    }
    return {RegDataType::DWord, bytes};
}

RegValue RegValue::FromString(std::string cp1252Text) {
    return {RegDataType::String, std::move(cp1252Text)};
}

std::unique_ptr<RegistryHive> RegistryHive::Open(const std::string& path) {
    if (path.empty()) {
        return nullptr;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        struct stat seen {};
        const bool existed = stat(path.c_str(), &seen) == 0;
        sqlite3* db = nullptr;
        switch (TryOpen(path, &db)) {
            case OpenOutcome::Opened:
                return std::unique_ptr<RegistryHive>(new RegistryHive(db, path));
            case OpenOutcome::Unavailable:
                return nullptr;
            case OpenOutcome::Damaged:
                if (!existed || !SetAside(path, seen)) {
                    return nullptr;
                }
                break;
        }
    }
    return nullptr;
}

RegistryHive::RegistryHive(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}

RegistryHive::~RegistryHive() {
    sqlite3_close(db_);
}

bool RegistryHive::Execute(const char* sql) {
    return Run(db_, sql);
}

bool RegistryHive::InWriteTransaction(const std::function<bool()>& work) {
    if (!Execute("BEGIN IMMEDIATE")) {
        return false;
    }
    if (work() && Execute("COMMIT")) {
        return true;
    }
    Execute("ROLLBACK");
    return false;
}

std::optional<RegKeyId> RegistryHive::OpenKey(std::string_view keyPath, bool create) {
    const auto parts = SplitKeyPath(AsName(keyPath));
    if (!parts) {
        return std::nullopt;
    }
    const std::string path = JoinKeyPath(*parts, parts->size());
    std::lock_guard lock(mutex_);
    auto find = [&]() -> std::optional<RegKeyId> {
        Statement select(db_, "SELECT id FROM reg_keys WHERE folded = ?");
        select.BindText(1, FoldedStored(path));
        if (select.Step() == SQLITE_ROW) {
            return select.Int(0);
        }
        return std::nullopt;
    };
    if (auto key = find(); key || !create) {
        return key;
    }
    std::optional<RegKeyId> key;
    InWriteTransaction([&]() {
        for (size_t count = 0; count <= parts->size(); ++count) {
            const std::string prefix = JoinKeyPath(*parts, count);
            Statement insert(db_,
                             "INSERT INTO reg_keys(path, folded) VALUES(?, ?) "
                             "ON CONFLICT(folded) DO NOTHING");
            insert.BindText(1, ToStored(prefix));
            insert.BindText(2, FoldedStored(prefix));
            if (insert.Step() != SQLITE_DONE) {
                return false;
            }
        }
        key = find();
        return key.has_value();
    });
    return key;
}

std::optional<RegValue> RegistryHive::GetValue(RegKeyId key, std::string_view fullName) {
    const std::string_view name = AsName(fullName);
    std::lock_guard lock(mutex_);
    Statement select(db_, "SELECT type, data FROM reg_values WHERE key_id = ? AND folded = ?");
    select.Bind(1, key);
    select.BindText(2, FoldedStored(name));
    if (select.Step() != SQLITE_ROW) {
        return std::nullopt;
    }
    RegValue value{static_cast<RegDataType>(select.Int(0)), select.Bytes(1)};
    if (value.type == RegDataType::String) {
        value.data = FromStored(value.data);
    }
    return value;
}

bool RegistryHive::SetValue(RegKeyId key, std::string_view fullName, const RegValue& value) {
    const std::string_view name = AsName(fullName);
    if (name.size() > kMaxValueNameLength) {
        return false;
    }
    std::lock_guard lock(mutex_);
    if (failNextWrite_.exchange(false)) {
        return false;
    }
    return InWriteTransaction([&]() {
        Statement upsert(db_,
                         "INSERT INTO reg_values(key_id, name, folded, type, data) "
                         "VALUES(?, ?, ?, ?, ?) ON CONFLICT(key_id, folded) "
                         "DO UPDATE SET type = excluded.type, data = excluded.data");
        upsert.Bind(1, key);
        upsert.BindText(2, ToStored(name));
        upsert.BindText(3, FoldedStored(name));
        upsert.Bind(4, static_cast<int64_t>(value.type));
        if (value.type == RegDataType::String) {
            upsert.BindText(5, ToStored(value.data));
        } else {
            upsert.BindBlob(5, value.data);
        }
        return upsert.Step() == SQLITE_DONE;
    });
}

bool RegistryHive::DeleteValue(RegKeyId key, std::string_view fullName) {
    const std::string_view name = AsName(fullName);
    std::lock_guard lock(mutex_);
    if (failNextWrite_.exchange(false)) {
        return false;
    }
    return InWriteTransaction([&]() {
        Statement remove(db_, "DELETE FROM reg_values WHERE key_id = ? AND folded = ?");
        remove.Bind(1, key);
        remove.BindText(2, FoldedStored(name));
        return remove.Step() == SQLITE_DONE && sqlite3_changes(db_) == 1;
    });
}

std::vector<std::string> RegistryHive::ValueNames(RegKeyId key) {
    std::lock_guard lock(mutex_);
    Statement select(db_, "SELECT name FROM reg_values WHERE key_id = ? ORDER BY id");
    select.Bind(1, key);
    std::vector<std::string> names;
    while (select.Step() == SQLITE_ROW) {
        names.push_back(FromStored(select.Bytes(0)));
    }
    return names;
}

}  // namespace gx
