// The system service's control channel from a hostile account: request lines and answers.
#include <cstdlib>
#include <string_view>

#include "fuzz/FuzzTargets.h"
#include "service/ControlProtocol.h"

namespace gx::fuzz {

int FuzzControlRequest(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // Each line as the service cuts them.
    std::string_view rest = bytes;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const service::ParsedRequest parsed = service::ParseRequest(rest.substr(0, end));
        if (parsed.request) {
            // What a request says, written again, is read back the same.
            const std::string again = service::FormatRequest(*parsed.request);
            const service::ParsedRequest reread =
                service::ParseRequest(std::string_view(again).substr(0, again.size() - 1));
            if (!reread.request || service::FormatRequest(*reread.request) != again) {
                std::abort();
            }
        } else if (parsed.problem.empty()) {
            std::abort();  // a refusal always says why
        }
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    // The same bytes as answers, read as a client reads them.
    for (std::string_view answers = bytes; !answers.empty();) {
        const auto answer = service::ReadAnswer(answers);
        if (!answer || answer->second == 0 || answer->second > answers.size()) {
            break;
        }
        answers.remove_prefix(answer->second);
    }
    return 0;
}

}  // namespace gx::fuzz
