// The sending of the report dialogs: one GET request whose query carries the customer code, the
// address, the explanation and the e-mail address, tried up to five times.
//
// The reply's body is never read: a request that went through is all the dialog needs to know.
// THttpCli::Get raises exactly when the request failed (a status of 400 or more other than 401
// and 407, a name that does not resolve, a connection refused, a time-out), so a Get that
// returns is a success.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace gx {

class THttpCli;

inline constexpr int kReportAttempts = 5;
inline constexpr int kReportPauseMs = 500;

// What the user typed (Windows-1252, not yet encoded) and the installation's code.
struct ReportValues {
    std::uint16_t customerCode = 0;
    std::string url;
    std::string description;  // the explanation's rows joined with "<br>"
    std::string email;
};

// serverBase + path + id + "&u=" + u + "&d=" + d + "&m=" + m, each text value encoded; `path`
// ends with "?id=". All four keys are always there, empty values included.
std::string ReportAddress(std::string_view serverBase, std::string_view path,
                          const ReportValues& values);

// Holds the thread for the pause; events wait meanwhile.
using PauseFunction = std::function<void(int milliseconds)>;
void SleepWithoutEvents(int milliseconds);

struct ReportOutcome {
    bool sent = false;
    int attempts = 0;
};

// Up to five attempts on the client, with a pause of 500 ms before every attempt but the first;
// the first Get that returns ends them. Every exception of an attempt counts as a failed
// attempt and goes no further.
ReportOutcome SendReport(THttpCli& http, const std::string& address, const PauseFunction& pause);

}  // namespace gx
