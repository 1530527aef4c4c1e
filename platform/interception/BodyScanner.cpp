#include "platform/interception/BodyScanner.h"

#include <algorithm>

#include "platform/text/Hex.h"

namespace gx::interception {
namespace {

constexpr int kMaxSizeDigits = 15;
constexpr size_t kMaxExtension = 4096;
constexpr size_t kMaxTrailers = 64 * 1024;

}  // namespace

void BodyScanner::Start(BodyFraming framing) {
    remaining_ = 0;
    sizeDigits_ = 0;
    pieceLength_ = 0;
    switch (framing.kind) {
        case BodyKind::None:
            state_ = State::Done;
            break;
        case BodyKind::Length:
            remaining_ = framing.length;
            state_ = remaining_ > 0 ? State::Length : State::Done;
            break;
        case BodyKind::Chunked:
            state_ = State::Size;
            break;
        case BodyKind::UntilClose:
            state_ = State::UntilClose;
            break;
    }
}

void BodyScanner::SkipLength(uint64_t n) {
    if (state_ != State::Length) {
        return;
    }
    remaining_ -= std::min(remaining_, n);
    if (remaining_ == 0) {
        state_ = State::Done;
    }
}

size_t BodyScanner::Consume(const char* data, size_t n) {
    size_t used = 0;
    while (used < n && state_ != State::Done && state_ != State::Failed) {
        if (state_ == State::UntilClose) {
            return n;
        }
        if (state_ == State::Length || state_ == State::Data) {
            size_t take = static_cast<size_t>(std::min<uint64_t>(remaining_, n - used));
            used += take;
            remaining_ -= take;
            if (remaining_ == 0) {
                state_ = state_ == State::Length ? State::Done : State::DataCr;
            }
            continue;
        }
        if (!Step(data[used])) {
            state_ = State::Failed;
            return used;
        }
        ++used;
    }
    return used;
}

bool BodyScanner::Step(char c) {
    switch (state_) {
        case State::Size: {
            int digit = HexValue(c);
            if (digit >= 0) {
                if (++sizeDigits_ > kMaxSizeDigits) {
                    return false;
                }
                remaining_ = remaining_ * 16 + static_cast<uint64_t>(digit);
                return true;
            }
            if (sizeDigits_ == 0) {
                return false;
            }
            if (c == '\r') {
                state_ = State::SizeLf;
                return true;
            }
            if (c == ';' || c == ' ' || c == '\t') {
                state_ = State::Extension;
                pieceLength_ = 0;
                return true;
            }
            return false;
        }
        case State::Extension:
            if (c == '\r') {
                state_ = State::SizeLf;
                return true;
            }
            return c != '\n' && c != '\0' && ++pieceLength_ <= kMaxExtension;
        case State::SizeLf:
            if (c != '\n') {
                return false;
            }
            sizeDigits_ = 0;
            if (remaining_ == 0) {
                state_ = State::TrailerStart;
                pieceLength_ = 0;
            } else {
                state_ = State::Data;
            }
            return true;
        case State::DataCr:
            state_ = State::DataLf;
            return c == '\r';
        case State::DataLf:
            state_ = State::Size;
            remaining_ = 0;
            return c == '\n';
        case State::TrailerStart:
            if (c == '\r') {
                state_ = State::FinalLf;
                return true;
            }
            state_ = State::Trailer;
            return c != '\n' && ++pieceLength_ <= kMaxTrailers;
        case State::Trailer:
            if (c == '\r') {
                state_ = State::TrailerLf;
                return true;
            }
            return c != '\n' && c != '\0' && ++pieceLength_ <= kMaxTrailers;
        case State::TrailerLf:
            state_ = State::TrailerStart;
            return c == '\n';
        case State::FinalLf:
            state_ = State::Done;
            return c == '\n';
        default:
            return false;
    }
}

}  // namespace gx::interception
