#include "report/ReportSender.h"

#include <chrono>
#include <thread>

#include "http/HttpProt.h"
#include "http/Streams.h"
#include "report/EncodeURLParam.h"

namespace gx {

namespace {

// The client as every attempt leaves it before its Get: no user, no proxy, no condition.
void PrepareAttempt(THttpCli& http, const std::string& address, Stream& reply) {
    http.URL = address;
    http.Password.clear();
    http.Username.clear();
    http.ReceiveStream = &reply;
    http.ModifiedSince = 0;
    http.Proxy.clear();
    http.ProxyPort = "80";
    http.ProxyUsername.clear();
    http.ProxyPassword.clear();
}

bool Attempt(THttpCli& http, const std::string& address, Stream& reply) {
    PrepareAttempt(http, address, reply);
    try {
        http.Get();
        return true;
    } catch (...) {
        return false;  // a failed attempt; the next one, or the failure message, follows
    }
}

}  // namespace

std::string ReportAddress(std::string_view serverBase, std::string_view path,
                          const ReportValues& values) {
    std::string address(serverBase);
    address += path;
    address += std::to_string(values.customerCode);
    address += "&u=" + EncodeURLParam(values.url);
    address += "&d=" + EncodeURLParam(values.description);
    address += "&m=" + EncodeURLParam(values.email);
    return address;
}

void SleepWithoutEvents(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

ReportOutcome SendReport(THttpCli& http, const std::string& address, const PauseFunction& pause) {
    MemoryStream reply;  // written by every attempt, never read
    ReportOutcome outcome;
    while (outcome.attempts < kReportAttempts && !outcome.sent) {
        if (outcome.attempts > 0) {
            pause(kReportPauseMs);
        }
        ++outcome.attempts;
        outcome.sent = Attempt(http, address, reply);
    }
    http.ReceiveStream = nullptr;  // the reply buffer ends with the sending
    return outcome;
}

}  // namespace gx
