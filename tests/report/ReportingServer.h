// A reporting server on loopback for the tests: records the request target of every request it
// gets and answers each path with the status the test chose (200 when none), then closes.
#pragma once

#include <QObject>
#include <QTcpServer>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace gx::test {

class ReportingServer {
  public:
    ReportingServer();

    // "http://127.0.0.1:port", as REPORT_SERVER names a server.
    std::string Base() const;
    // Requests whose path (the target without its query) is `path` get `status`; a `location`
    // is sent as the Location field (a relocation to another path of this server).
    void Answer(const std::string& path, int status, const std::string& location = "");
    // The first `count` requests, whatever their path, get `status`.
    void AnswerFirst(int count, int status);
    const std::vector<std::string>& Targets() const { return targets_; }

  private:
    void Accept();
    std::string Response(const std::string& target) const;

    struct Reply {
        int status = 200;
        std::string location;
    };
    std::map<std::string, Reply> replies_;
    int firstCount_ = 0;
    int firstStatus_ = 200;
    std::vector<std::string> targets_;
    QObject context_;
    QTcpServer server_;
};

// The value of a query key in a request target ("" when absent).
std::string QueryValue(const std::string& target, const std::string& key);

}  // namespace gx::test
