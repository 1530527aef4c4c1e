// The control channel's lines, without a socket: what is a request, what is refused and why,
// and the answers as a client reads them, however they arrive.
#include "service/ControlProtocol.h"

#include <gtest/gtest.h>

#include <vector>

namespace gx::service {
namespace {

TEST(ControlProtocol, RequestLinesAndWhatTheyAsk) {
    struct Case {
        const char* description;
        std::string line;
        bool request;           // false: refused
        std::string rewritten;  // FormatRequest of the request, without its LF
    };
    const std::vector<Case> cases = {
        {"state", "GX1 STATE", true, "GX1 STATE"},
        {"history", "GX1 HISTORY", true, "GX1 HISTORY"},
        {"a switch on", "GX1 SET child-protection on", true, "GX1 SET child-protection on"},
        {"a switch off with the code", "GX1 SET protection off CODE 1234", true,
         "GX1 SET protection off CODE 1234"},
        {"another account's", "GX1 FOR 1001 SET child-protection on", true,
         "GX1 FOR 1001 SET child-protection on"},
        {"a new code", "GX1 SET-CODE caf\xC3\xA9", true, "GX1 SET-CODE caf\xC3\xA9"},
        {"the code removed with the old one", "GX1 REMOVE-CODE CODE 1234", true,
         "GX1 REMOVE-CODE CODE 1234"},
        {"a code set in its stored form", "GX1 SET-CODE-HASH pbkdf2-sha256$1$ab$cd", true,
         "GX1 SET-CODE-HASH pbkdf2-sha256$1$ab$cd"},
        {"a code checked", "GX1 CHECK-CODE CODE 1234", true, "GX1 CHECK-CODE CODE 1234"},
        {"another version", "GX2 STATE", false, ""},
        {"no version", "STATE", false, ""},
        {"nothing", "", false, ""},
        {"no command", "GX1", false, ""},
        {"an unknown command", "GX1 SHUTDOWN", false, ""},
        {"an unknown switch", "GX1 SET everything off", false, ""},
        {"neither on nor off", "GX1 SET protection maybe", false, ""},
        {"a word too many", "GX1 STATE now", false, ""},
        {"an account that is no number", "GX1 FOR root STATE", false, ""},
        {"an account past 32 bits", "GX1 FOR 99999999999 STATE", false, ""},
        {"two spaces", "GX1  STATE", false, ""},
        {"a control character", std::string("GX1 STATE\r"), false, ""},
        {"a zero byte", std::string("GX1 STATE\0", 10), false, ""},
        {"too long", "GX1 SET-CODE " + std::string(kMaxRequestBytes, 'x'), false, ""},
        {"CODE without a code", "GX1 SET protection off CODE", false, ""},
        {"CODE and an empty word", "GX1 SET protection off CODE  ", false, ""},
        {"a space at the end", "GX1 STATE ", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        const ParsedRequest parsed = ParseRequest(c.line);
        ASSERT_EQ(parsed.request.has_value(), c.request) << parsed.problem;
        if (parsed.request) {
            EXPECT_EQ(FormatRequest(*parsed.request), c.rewritten + "\n");
        } else {
            EXPECT_FALSE(parsed.problem.empty());
        }
    }
}

TEST(ControlProtocol, AnswersAreReadWholeHoweverTheyArrive) {
    const std::string both = OkAnswer("protection=on\n") +
                             ErrAnswer(Refusal::NeedsCode, "Le code parental est demand\xC3\xA9.");
    for (size_t cut = 0; cut < both.size(); ++cut) {
        SCOPED_TRACE(cut);
        const auto first = ReadAnswer(std::string_view(both).substr(0, cut));
        if (cut < OkAnswer("protection=on\n").size()) {
            EXPECT_FALSE(first);
            continue;
        }
        ASSERT_TRUE(first);
        EXPECT_TRUE(first->first.ok);
        EXPECT_EQ(first->first.payload, "protection=on\n");
        const auto second = ReadAnswer(std::string_view(both).substr(first->second));
        ASSERT_TRUE(second);
        EXPECT_FALSE(second->first.ok);
        EXPECT_EQ(second->first.code, 401);
        EXPECT_EQ(second->first.payload, "Le code parental est demand\xC3\xA9.");
    }
    for (const std::string& bad : {std::string("HELLO 3\nabc"), std::string("OK x\n"),
                                   std::string("ERR 401\n"), std::string(100, 'z')}) {
        SCOPED_TRACE(bad);
        const auto answer = ReadAnswer(bad);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->first.code, -1);
    }
}

}  // namespace
}  // namespace gx::service
