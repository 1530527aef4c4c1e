#include "platform/tls/ClientHello.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace gx::tls {
namespace {

constexpr unsigned char kHandshakeRecord = 0x16;
constexpr unsigned char kClientHelloMessage = 0x01;
constexpr uint16_t kServerNameExtension = 0;
constexpr uint16_t kAlpnExtension = 16;

// A cursor over bytes that refuses to read past its end.
class Reader {
  public:
    Reader(const unsigned char* data, size_t size) : data_(data), size_(size) {}
    bool Skip(size_t n) {
        if (n > size_ - at_) {
            return false;
        }
        at_ += n;
        return true;
    }
    bool Byte(unsigned& value) {
        if (at_ >= size_) {
            return false;
        }
        value = data_[at_++];
        return true;
    }
    bool Number(size_t bytes, size_t& value) {
        value = 0;
        for (size_t i = 0; i < bytes; ++i) {
            unsigned byte = 0;
            if (!Byte(byte)) {
                return false;
            }
            value = (value << 8) | byte;
        }
        return true;
    }
    // The next `n` bytes as a reader of their own.
    bool Sub(size_t n, Reader& out) {
        if (n > size_ - at_) {
            return false;
        }
        out = Reader(data_ + at_, n);
        at_ += n;
        return true;
    }
    bool Empty() const { return at_ == size_; }
    // Up to n bytes from here, as text (never past the end).
    std::string Text(size_t n) const {
        return std::string(reinterpret_cast<const char*>(data_ + at_), std::min(n, size_ - at_));
    }

  private:
    const unsigned char* data_;
    size_t size_;
    size_t at_ = 0;
};

bool ReadServerName(Reader extension, std::string& name) {
    size_t listLength = 0;
    Reader list(nullptr, 0);
    if (!extension.Number(2, listLength) || !extension.Sub(listLength, list)) {
        return false;
    }
    while (!list.Empty()) {
        unsigned type = 0;
        size_t length = 0;
        if (!list.Byte(type) || !list.Number(2, length)) {
            return false;
        }
        Reader value(nullptr, 0);
        if (!list.Sub(length, value)) {
            return false;
        }
        if (type == 0 && name.empty()) {
            name = value.Text(length);
        }
    }
    return true;
}

bool ReadAlpn(Reader extension, std::vector<std::string>& protocols) {
    size_t listLength = 0;
    Reader list(nullptr, 0);
    if (!extension.Number(2, listLength) || !extension.Sub(listLength, list)) {
        return false;
    }
    while (!list.Empty()) {
        unsigned length = 0;
        Reader name(nullptr, 0);
        if (!list.Byte(length) || !list.Sub(length, name)) {
            return false;
        }
        protocols.push_back(name.Text(length));
    }
    return true;
}

bool ReadExtensions(Reader& hello, ClientHello& out) {
    if (hello.Empty()) {
        return true;  // a hello without extensions
    }
    size_t total = 0;
    Reader extensions(nullptr, 0);
    if (!hello.Number(2, total) || !hello.Sub(total, extensions)) {
        return false;
    }
    while (!extensions.Empty()) {
        size_t type = 0;
        size_t length = 0;
        Reader body(nullptr, 0);
        if (!extensions.Number(2, type) || !extensions.Number(2, length) ||
            !extensions.Sub(length, body)) {
            return false;
        }
        if (type == kServerNameExtension && !ReadServerName(body, out.serverName)) {
            return false;
        }
        if (type == kAlpnExtension && !ReadAlpn(body, out.alpn)) {
            return false;
        }
    }
    return true;
}

}  // namespace

ClientHello ReadClientHello(const unsigned char* data, size_t size) {
    ClientHello out;
    // Record header: type, version (3.x), length.
    if (size >= 1 && data[0] != kHandshakeRecord) {
        out.verdict = ClientHello::Verdict::NotTls;
        return out;
    }
    if (size >= 2 && data[1] != 0x03) {
        out.verdict = ClientHello::Verdict::NotTls;
        return out;
    }
    if (size < 5) {
        return out;
    }
    size_t recordLength = (size_t{data[3]} << 8) | data[4];
    if (recordLength == 0 || recordLength > kMaxHelloRecord - 5) {
        out.verdict = ClientHello::Verdict::NotTls;
        return out;
    }
    if (size < 5 + recordLength) {
        return out;
    }
    out.recordSize = 5 + recordLength;
    Reader record(data + 5, recordLength);
    unsigned messageType = 0;
    size_t messageLength = 0;
    if (!record.Byte(messageType) || messageType != kClientHelloMessage ||
        !record.Number(3, messageLength)) {
        out.verdict = ClientHello::Verdict::NotTls;
        return out;
    }
    out.verdict = ClientHello::Verdict::Hello;
    // A hello longer than its first record: what is in the record is read, the rest is not.
    Reader hello(nullptr, 0);
    if (!record.Sub(std::min(messageLength, recordLength - 4), hello)) {
        return out;
    }
    size_t sessionLength = 0;
    size_t suitesLength = 0;
    size_t compressionLength = 0;
    bool fixedPart = hello.Skip(2 + 32) && hello.Number(1, sessionLength) &&
                     hello.Skip(sessionLength) && hello.Number(2, suitesLength) &&
                     hello.Skip(suitesLength) && hello.Number(1, compressionLength) &&
                     hello.Skip(compressionLength);
    if (fixedPart && !ReadExtensions(hello, out)) {
        out.serverName.clear();
        out.alpn.clear();
    }
    return out;
}

bool IsHostName(const std::string& name) {
    std::string_view text(name);
    if (!text.empty() && text.back() == '.') {
        text.remove_suffix(1);
    }
    if (text.empty() || text.size() > 253) {
        return false;
    }
    size_t labelLength = 0;
    bool allDigitsOrDots = true;
    for (size_t i = 0; i <= text.size(); ++i) {
        char c = i < text.size() ? text[i] : '.';
        if (c == '.') {
            if (labelLength == 0 || labelLength > 63 || text[i - 1] == '-') {
                return false;
            }
            labelLength = 0;
            continue;
        }
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        bool digit = c >= '0' && c <= '9';
        if (!letter && !digit && c != '-') {
            return false;
        }
        if (labelLength == 0 && c == '-') {
            return false;
        }
        allDigitsOrDots = allDigitsOrDots && digit;
        ++labelLength;
    }
    return !allDigitsOrDots;  // "1.2.3.4" is an address, not a name
}

}  // namespace gx::tls
