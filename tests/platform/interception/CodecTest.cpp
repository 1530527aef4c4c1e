// The client side's codecs on bytes alone, without a socket: how HTTP/1.x request heads are cut
// from what a client sends, and bodies taken out of their framing, however the bytes are split.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/interception/Http1BodyReader.h"
#include "platform/interception/Http1RequestReader.h"

namespace gx::interception {
namespace {

constexpr size_t kMaxHead = 256;

// Feeds the bytes in pieces of `piece` bytes, as reads would hand them over, and collects what
// the reader makes of them: "GET /a" for each head, "refused 431" for a refusal.
std::vector<std::string> ReadAll(const std::string& bytes, size_t piece) {
    Http1RequestReader reader(kMaxHead);
    std::vector<std::string> seen;
    std::string waiting;
    for (size_t at = 0; at < bytes.size(); at += piece) {
        waiting += bytes.substr(at, piece);
        while (true) {
            Http1RequestReader::Result result = reader.Next(waiting);
            waiting.erase(0, result.used);
            if (result.step == Http1RequestReader::Step::Head) {
                seen.push_back(result.head.method + " " + result.head.target);
                continue;
            }
            if (result.step == Http1RequestReader::Step::Refused) {
                seen.push_back("refused " + std::to_string(result.status));
                return seen;
            }
            break;
        }
    }
    return seen;
}

TEST(Http1RequestReader, CutsHeadsWhateverTheReadsLookLike) {
    const std::string a = "GET /a HTTP/1.1\r\nHost: x\r\n\r\n";
    const std::string b = "HEAD /b HTTP/1.1\r\nHost: x\r\n\r\n";
    struct Case {
        const char* description;
        std::string bytes;
        std::vector<std::string> heads;
    };
    const std::vector<Case> cases = {
        {"two pipelined heads", a + b, {"GET /a", "HEAD /b"}},
        {"empty lines before and between", "\r\n\r\n" + a + "\r\n" + b, {"GET /a", "HEAD /b"}},
        {"a head with its lines ending in a bare LF",
         "GET /a HTTP/1.1\nHost: x\n\n",
         {"refused 400"}},
        {"a head past the bound",
         "GET /" + std::string(kMaxHead, 'a') + " HTTP/1.1\r\n",
         {"refused 431"}},
        {"a whole head past the bound",
         "GET /a HTTP/1.1\r\nX: " + std::string(kMaxHead, 'b') + "\r\nHost: x\r\n\r\n",
         {"refused 431"}},
        {"a good head, then a bad one",
         a + "GET  /c HTTP/1.1\r\nHost: x\r\n\r\n",
         {"GET /a", "refused 400"}},
        {"an unfinished head", "GET /a HTTP/1.1\r\nHost: x\r\n", {}},
    };
    for (const Case& c : cases) {
        // The invariant: how the bytes are split into reads never changes what is read.
        for (size_t piece : {size_t{1}, size_t{2}, size_t{7}, size_t{4096}}) {
            SCOPED_TRACE(std::string(c.description) + ", reads of " + std::to_string(piece));
            EXPECT_EQ(ReadAll(c.bytes, piece), c.heads);
        }
    }
}

TEST(Http1RequestReader, SaysWhileAHeadIsUnderWaySoItCanBeTimed) {
    Http1RequestReader reader(kMaxHead);
    EXPECT_FALSE(reader.InHead());
    EXPECT_EQ(reader.Next("\r\n").used, 2u);  // skipped lines start no head
    EXPECT_FALSE(reader.InHead());
    EXPECT_EQ(reader.Next("GET / HT").step, Http1RequestReader::Step::NeedMore);
    EXPECT_TRUE(reader.InHead());
    Http1RequestReader::Result result = reader.Next("GET / HTTP/1.1\r\nHost: x\r\n\r\nGET");
    EXPECT_EQ(result.step, Http1RequestReader::Step::Head);
    EXPECT_EQ(result.used, 27u);
    EXPECT_FALSE(reader.InHead());
}

// What a body reader gave: the body, then "|end" and the trailers as name=value, or "|refused".
class BodySeen : public Http1BodyReader::Sink {
  public:
    void Body(const char* data, size_t n) override { text.append(data, n); }
    void End(Http2Fields trailers) override {
        text += "|end";
        for (const auto& [name, value] : trailers) {
            text += " " + name + "=" + value;
        }
    }
    std::string text;
};

std::string ReadBody(BodyFraming framing, const std::string& bytes, size_t piece, bool finish) {
    Http1BodyReader reader;
    BodySeen seen;
    reader.Start(framing);
    for (size_t at = 0; at < bytes.size(); at += piece) {
        const std::string part = bytes.substr(at, piece);
        if (!reader.Feed(part.data(), part.size(), seen)) {
            return seen.text + "|refused";
        }
    }
    if (finish) {
        reader.Finish(seen);
    }
    return seen.text;
}

TEST(Http1BodyReader, TakesBodiesOutOfTheirFramingWhateverTheReadsLookLike) {
    struct Case {
        const char* description;
        BodyFraming framing;
        std::string bytes;
        bool finish;  // the sender ends the message after the bytes
        std::string expected;
    };
    const BodyFraming chunked{BodyKind::Chunked, 0};
    const std::vector<Case> cases = {
        {"a length: what follows is not the body's",
         {BodyKind::Length, 5},
         "helloGET /",
         false,
         "hello|end"},
        {"a length not reached yet", {BodyKind::Length, 8}, "hello", false, "hello"},
        {"chunks, extensions dropped", chunked, "5;a=1\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", false,
         "hello world|end"},
        {"trailer fields kept, names lowered", chunked,
         "3\r\nabc\r\n0\r\nGrpc-Status: 0\r\nConnection: x\r\n\r\n", false,
         "abc|end grpc-status=0"},
        {"bare LF line ends", chunked, "3\nabc\n0\n\n", false, "abc|end"},
        {"a size that is no number", chunked, "zz\r\nabc\r\n", false, "|refused"},
        {"chunk data longer than its size", chunked, "3\r\nabcd\r\n", false, "abc|refused"},
        {"a trailer line without a colon", chunked, "0\r\nnot a field\r\n\r\n", false, "|refused"},
        {"until the connection ends",
         {BodyKind::UntilClose, 0},
         "all of it",
         true,
         "all of it|end"},
        {"no body: nothing told", {BodyKind::None, 0}, "", true, ""},
        {"a length of 0: nothing told", {BodyKind::Length, 0}, "", true, ""},
    };
    for (const Case& c : cases) {
        for (size_t piece : {size_t{1}, size_t{4}, c.bytes.size() + 1}) {
            SCOPED_TRACE(std::string(c.description) + ", pieces of " + std::to_string(piece));
            EXPECT_EQ(ReadBody(c.framing, c.bytes, piece, c.finish), c.expected);
        }
    }
}

}  // namespace
}  // namespace gx::interception
