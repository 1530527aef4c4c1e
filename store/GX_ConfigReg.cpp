#include "store/GX_ConfigReg.h"

#include <langinfo.h>
#include <locale.h>
#include <algorithm>
#include <clocale>
#include <cstdlib>

#include "platform/codepage/Cp1252.h"

namespace gx {

std::string CustomerId() {
    Registry registry;
    return registry.OpenKey(kGardalixKey, false) ? registry.ReadString(kCustomerIdValue) : "";
}

std::uint16_t CustomerCode() {
    Registry registry;
    if (!registry.OpenKey(kGardalixKey, false) || !registry.ValueExists(kCustomerCodeValue)) {
        return 0;
    }
    const std::int32_t code = registry.ReadInteger(kCustomerCodeValue);
    return code >= 0 && code <= 0xFFFF ? static_cast<std::uint16_t>(code) : 0;
}

int ListsRefreshHours() {
    constexpr int kMostHours = 504;  // three weeks: the timer counts milliseconds in an int
    Registry registry;
    if (!registry.OpenKey(kGardalixKey, false) || !registry.ValueExists(kListsRefreshHoursValue)) {
        return kDefaultListsRefreshHours;
    }
    const std::int32_t hours = registry.ReadInteger(kListsRefreshHoursValue);
    return hours < 0 ? kDefaultListsRefreshHours : std::min<std::int32_t>(hours, kMostHours);
}

bool ReadPornFilter() {
    Registry registry;
    if (!registry.OpenKey(kGardalixKey, true)) {
        return false;
    }
    if (registry.ValueExists(kAdultFilterValue)) {
        return registry.ReadInteger(kAdultFilterValue) == 1;
    }
    registry.WriteInteger(kAdultFilterValue, 0);
    return false;
}

void WritePornFilter(bool on) {
    Registry registry;
    if (registry.OpenKey(kGardalixKey, true)) {
        registry.WriteInteger(kAdultFilterValue, on ? 1 : 0);
    }
}

bool AddLogEntry(const std::string& date, const std::string& url, const std::string& reason,
                 const std::string& program) {
    Registry registry;
    if (!registry.OpenKey(kLogsKey, true)) {
        return false;
    }
    registry.WriteString(date + "|" + url + "|" + reason, program);
    return true;
}

void ReadLogEntries(std::vector<std::string>& entries) {
    entries.clear();
    Registry registry;
    if (registry.OpenKey(kLogsKey, true)) {
        registry.GetValueNames(entries);
    }
}

std::vector<LogValue> ReadLogValues() {
    std::vector<std::string> names;
    ReadLogEntries(names);
    std::vector<LogValue> values;
    values.reserve(names.size());
    Registry registry;
    const bool opened = registry.OpenKey(kLogsKey, false);
    for (auto& name : names) {
        std::string program;
        try {
            program = opened ? registry.ReadString(name) : "";
        } catch (const ERegistryException&) {
            // A value of another type, written by hand: the entry is still listed.
        }
        values.push_back({std::move(name), std::move(program)});
    }
    return values;
}

std::string ExtractField(std::string_view text, int n) {
    int field = 1;
    size_t start = 0;
    while (field < n) {
        const size_t separator = text.find('|', start);
        if (separator == std::string_view::npos) {
            return "";
        }
        start = separator + 1;
        ++field;
    }
    if (n < 1) {
        return "";
    }
    const size_t end = text.find('|', start);
    return std::string(text.substr(start, end == std::string_view::npos ? end : end - start));
}

std::vector<LogEntry> ReadLogRecords() {
    std::vector<LogEntry> records;
    for (const LogValue& value : ReadLogValues()) {
        records.push_back({ExtractField(value.name, 1), ExtractField(value.name, 2),
                           ExtractField(value.name, 3), value.program});
    }
    return records;
}

namespace {

const DateTimeFormat kFrenchFormat{"%d/%m/%Y", "%H:%M:%S"};

// The locale name that decides the date format, as the C library would pick it.
std::string TimeLocaleName() {
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        if (const char* value = std::getenv(variable); value && *value) {
            return value;
        }
    }
    return "";
}

bool IsPlainCLocale(const std::string& name) {
    return name.empty() || name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

// The pattern without its time-zone conversions (and the blank before them).
std::string WithoutTimeZone(std::string pattern) {
    for (const char* zone : {" %Z", " %z", "%Z", "%z"}) {
        for (size_t at; (at = pattern.find(zone)) != std::string::npos;) {
            pattern.erase(at, std::string_view(zone).size());
        }
    }
    return pattern;
}

class TimeLocale {
  public:
    TimeLocale() {
        const std::string name = TimeLocaleName();
        if (!IsPlainCLocale(name)) {
            locale_ = newlocale(LC_TIME_MASK, name.c_str(), static_cast<locale_t>(0));
        }
    }
    ~TimeLocale() {
        if (locale_) {
            freelocale(locale_);
        }
    }
    locale_t Get() const { return locale_; }

  private:
    locale_t locale_ = static_cast<locale_t>(0);
};

// strftime in the user's time locale (the C locale without one), as Windows-1252.
std::string Format(const char* pattern, const std::tm& local) {
    TimeLocale userLocale;
    locale_t plain = static_cast<locale_t>(0);
    locale_t used = userLocale.Get();
    if (!used) {
        plain = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
        used = plain;
    }
    char text[256];
    const size_t length = strftime_l(text, sizeof text, pattern, &local, used);
    if (plain) {
        freelocale(plain);
    }
    const std::string utf8(text, length);
    const auto cp1252 = Utf8ToCp1252(utf8);
    return cp1252 ? *cp1252 : Cp1252(utf8);
}

}  // namespace

DateTimeFormat UserDateTimeFormat() {
    TimeLocale userLocale;
    if (!userLocale.Get()) {
        return kFrenchFormat;
    }
    return {nl_langinfo_l(D_FMT, userLocale.Get()),
            WithoutTimeZone(nl_langinfo_l(T_FMT, userLocale.Get()))};
}

std::string FormatLogDateTime(const std::tm& local, const DateTimeFormat& format) {
    const std::string date = Format(format.shortDate.c_str(), local);
    if (local.tm_hour == 0 && local.tm_min == 0 && local.tm_sec == 0) {
        return date;
    }
    return date + " " + Format(format.longTime.c_str(), local);
}

std::string CurrentLogDateTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return FormatLogDateTime(local, UserDateTimeFormat());
}

bool WriteBlockEventLog(const std::string& url, const std::string& reason,
                        const std::string& program) {
    // A blocked address can be far longer than a value name may be (an adult pattern matches
    // addresses of any length): it is cut, ending in "...", so that the block is still recorded.
    const std::string date = CurrentLogDateTime();
    constexpr std::string_view kCut = "...";
    const size_t room = kMaxValueNameLength - date.size() - reason.size() - 2;  // two "|"
    if (url.size() <= room) {
        return AddLogEntry(date, url, reason, program);
    }
    return AddLogEntry(date, url.substr(0, room - kCut.size()) + std::string(kCut), reason,
                       program);
}

}  // namespace gx
