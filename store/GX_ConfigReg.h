// The program's settings and history in the registry hive.
//
// Settings: the key "SOFTWARE\Brevane\Gardalix" with the child-protection switch PORN_FILTER.
// History: one value per recorded block in the subkey "Logs", named "date time|address|reason";
// its data holds the full path of the program whose request was blocked (empty when unknown),
// so that a reader of the names alone sees the entries as they always were.
//
// Every function here opens its key for one operation and closes it again. A key that cannot be
// opened (no hive, no right to write it) is skipped without a message. A value that cannot be
// read or written raises gx::ERegistryException with the French message (Windows-1252) that the
// console shows in its error box. All texts are Windows-1252. Main thread only.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/Registry.h"

namespace gx {

inline constexpr const char* kGardalixKey = "SOFTWARE\\Brevane\\Gardalix";
inline constexpr const char* kLogsKey = "SOFTWARE\\Brevane\\Gardalix\\Logs";
inline constexpr const char* kAdultFilterValue = "PORN_FILTER";
inline constexpr char kCustomerIdValue[] = "CUSTOMER_ID";
inline constexpr char kCustomerCodeValue[] = "CUSTOMER_CODE";

// The installation's identifiers, written by whoever installs the program; the update check
// and the report dialogs send them. CUSTOMER_ID (text): empty when absent. CUSTOMER_CODE
// (number): 0 when absent, and a stored number outside 0..65535 is no code either. Raise when
// the value has another type.
std::string CustomerId();
std::uint16_t CustomerCode();

// How often the block lists are refreshed: LISTS_REFRESH_HOURS (number), 6 when absent or
// negative, 0 = never, at most 504 (three weeks). Raises when the value has another type.
inline constexpr char kListsRefreshHoursValue[] = "LISTS_REFRESH_HOURS";
inline constexpr int kDefaultListsRefreshHours = 6;
int ListsRefreshHours();

// The stored switch: true exactly when PORN_FILTER is 1. A missing PORN_FILTER is created as 0.
// False, writing nothing, when the key cannot be opened. Raises when PORN_FILTER is not a
// 32-bit number, or when creating it fails.
bool ReadPornFilter();

// Stores the switch as 1 or 0. Raises when the write fails.
void WritePornFilter(bool on);

// Records one history entry named date + "|" + url + "|" + reason, with the program's path as its
// data. False when the key cannot be opened (the entry is dropped). Raises when the name is
// refused (longer than 16 383 characters) or the write fails. An entry with the same name as an
// existing one, letter case ignored, replaces it.
bool AddLogEntry(const std::string& date, const std::string& url, const std::string& reason,
                 const std::string& program = "");

// Replaces the list's contents with the names of all history entries, in the order in which
// they were recorded. Empty when the key cannot be opened.
void ReadLogEntries(std::vector<std::string>& entries);

// One history value as stored: its name and the program kept as its data (empty when the data
// is empty or is not a text).
struct LogValue {
    std::string name;
    std::string program;
};
std::vector<LogValue> ReadLogValues();

// The n-th "|"-separated field of the text, counted from 1; empty when there are fewer fields.
std::string ExtractField(std::string_view text, int n);

// One history entry split into the grid's three columns (fields 1, 2 and 3 of its name; an
// address holding "|" pushes its tail into the reason column, as the grid shows it).
struct LogEntry {
    std::string date;
    std::string url;
    std::string reason;
    std::string program;
};
std::vector<LogEntry> ReadLogRecords();

// The user's regional formats, as strftime patterns: the short date and the long time (without
// time zone). From LC_ALL, LC_TIME or LANG; French (dd/mm/yyyy hh:mm:ss) when no regional
// settings are chosen or the chosen ones are not installed.
struct DateTimeFormat {
    std::string shortDate;
    std::string longTime;
};
DateTimeFormat UserDateTimeFormat();

// The date, a blank and the time; only the date in the first second after midnight (00:00:00).
// Windows-1252.
std::string FormatLogDateTime(const std::tm& local, const DateTimeFormat& format);

// The current local date and time in the history's format.
std::string CurrentLogDateTime();

// What the console's history timer does on its tick: records one entry with the current date
// and time and the given block (the engine's LastBlockEvent()). Same result and errors as
// AddLogEntry.
bool WriteBlockEventLog(const std::string& url, const std::string& reason,
                        const std::string& program = "");

}  // namespace gx
