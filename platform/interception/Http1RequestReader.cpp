#include "platform/interception/Http1RequestReader.h"

namespace gx::interception {

Http1RequestReader::Result Http1RequestReader::Next(std::string_view data) {
    Result result;
    if (!inHead_) {
        while (data.size() - result.used >= 2 && data[result.used] == '\r' &&
               data[result.used + 1] == '\n') {
            result.used += 2;
        }
        data.remove_prefix(result.used);
        if (data.empty() || data == "\r") {
            return result;  // a lone CR may be the start of one more empty line
        }
        inHead_ = true;
        scanFrom_ = 0;
    }
    const size_t end = FindHeadEnd(data, scanFrom_);
    if (end == std::string_view::npos) {
        if (data.size() > maxHeadBytes_) {
            inHead_ = false;
            result.step = Step::Refused;
            result.status = 431;
        } else {
            scanFrom_ = data.size() >= 3 ? data.size() - 3 : 0;
        }
        return result;
    }
    inHead_ = false;
    if (end > maxHeadBytes_) {
        result.step = Step::Refused;
        result.status = 431;
        return result;
    }
    result.used += end;
    result.status = ParseRequestHead(data.substr(0, end), result.head);
    result.step = result.status == 0 ? Step::Head : Step::Refused;
    return result;
}

}  // namespace gx::interception
