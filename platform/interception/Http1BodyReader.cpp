#include "platform/interception/Http1BodyReader.h"

#include <algorithm>

#include "platform/interception/Http1ResponseReader.h"
#include "platform/text/Hex.h"

namespace gx::interception {
namespace {

constexpr size_t kMaxLine = 64 * 1024;
// More hex digits than this make a size no body could have.
constexpr size_t kMaxSizeDigits = 15;

}  // namespace

void Http1BodyReader::Start(BodyFraming framing) {
    line_.clear();
    trailers_.clear();
    switch (framing.kind) {
        case BodyKind::None:
            state_ = State::Ended;
            break;
        case BodyKind::Length:
            left_ = framing.length;
            state_ = left_ == 0 ? State::Ended : State::Length;
            break;
        case BodyKind::Chunked:
            state_ = State::Size;
            break;
        case BodyKind::UntilClose:
            state_ = State::UntilClose;
            break;
    }
}

bool Http1BodyReader::Feed(const char* data, size_t n, Sink& sink) {
    std::string_view rest(data, n);
    while (!rest.empty()) {
        switch (state_) {
            case State::Length: {
                const size_t take = static_cast<size_t>(std::min<uint64_t>(left_, rest.size()));
                sink.Body(rest.data(), take);
                rest.remove_prefix(take);
                left_ -= take;
                if (left_ == 0) {
                    End(sink);
                }
                break;
            }
            case State::UntilClose:
                sink.Body(rest.data(), rest.size());
                rest = {};
                break;
            case State::Ended:
                return true;
            default:
                if (!TakeChunked(rest, sink)) {
                    return false;
                }
                break;
        }
    }
    return true;
}

// Lines up to LF (CR dropped), chunk data by count.
bool Http1BodyReader::TakeChunked(std::string_view& rest, Sink& sink) {
    if (state_ == State::Data) {
        const size_t take = static_cast<size_t>(std::min<uint64_t>(left_, rest.size()));
        sink.Body(rest.data(), take);
        rest.remove_prefix(take);
        left_ -= take;
        if (left_ == 0) {
            state_ = State::DataEnd;
        }
        return true;
    }
    const size_t lf = rest.find('\n');
    line_.append(rest.substr(0, lf));
    if (line_.size() > kMaxLine) {
        return false;
    }
    if (lf == std::string_view::npos) {
        rest = {};
        return true;
    }
    rest.remove_prefix(lf + 1);
    std::string line = std::move(line_);
    line_.clear();
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    switch (state_) {
        case State::Size: {
            uint64_t size = 0;
            size_t digits = 0;
            while (digits < line.size() && HexValue(line[digits]) >= 0 && digits < kMaxSizeDigits) {
                size = size * 16 + static_cast<uint64_t>(HexValue(line[digits]));
                ++digits;
            }
            if (digits == 0) {
                return false;
            }
            left_ = size;
            state_ = size == 0 ? State::Trailers : State::Data;
            return true;
        }
        case State::DataEnd:
            if (!line.empty()) {
                return false;
            }
            state_ = State::Size;
            return true;
        case State::Trailers:
            if (line.empty()) {
                End(sink, ForHttp2(trailers_));
                return true;
            }
            return ReadFieldBlock(line, trailers_);
        default:
            return false;
    }
}

void Http1BodyReader::End(Sink& sink, Http2Fields trailers) {
    state_ = State::Ended;
    sink.End(std::move(trailers));
}

void Http1BodyReader::Finish(Sink& sink) {
    if (state_ == State::UntilClose) {
        End(sink);
    }
}

}  // namespace gx::interception
