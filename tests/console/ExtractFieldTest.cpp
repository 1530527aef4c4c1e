#include <gtest/gtest.h>

#include "console/GX_History.h"

namespace gx {
namespace {

TEST(ExtractFieldTest, FieldsOfHistoryNames) {
    struct Case {
        const char* text;
        int n;
        const char* field;
    };
    const Case cases[] = {
        {"07/02/2024 14:05:09|bad.example/page|Site malveillant", 1, "07/02/2024 14:05:09"},
        {"07/02/2024 14:05:09|bad.example/page|Site malveillant", 2, "bad.example/page"},
        {"07/02/2024 14:05:09|bad.example/page|Site malveillant", 3, "Site malveillant"},
        {"07/02/2024 14:05:09|bad.example/page|Site malveillant", 4, ""},
        {"no separator at all", 1, "no separator at all"},
        {"no separator at all", 2, ""},
        {"no separator at all", 3, ""},
        {"d|a|b|Site adulte", 3, "b"},  // an address holding "|" pushes the reason out
        {"a||c", 2, ""},
        {"a||c", 3, "c"},
        {"a|b|", 3, ""},
        {"", 1, ""},
        {"", 2, ""},
        {"|x", 1, ""},
        {"a|b", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " #" + std::to_string(c.n));
        EXPECT_EQ(ExtractField(c.text, c.n), c.field);
    }
}

}  // namespace
}  // namespace gx
