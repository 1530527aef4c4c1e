#include <gtest/gtest.h>

#include "platform/registry/Registry.h"
#include "platform/registry/TempHive.h"
#include "report/ReportServer.h"
#include "store/GX_ConfigReg.h"

namespace gx {
namespace {

TEST(ReportServerNameTest, TakesHttpAddressesOfAHostAndRefusesTheRest) {
    const struct {
        const char* value;
        const char* server;  // "" = not a server: the built-in one is used
    } cases[] = {
        {"http://reports.example", "http://reports.example"},
        {"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
        {"  HTTP://reports.example/  ", "http://reports.example"},
        {"http://reports.example//", "http://reports.example"},
        {"http://reports.example:65535", "http://reports.example:65535"},
        {"", ""},
        {"reports.example", ""},
        {"https://reports.example", ""},
        {"http://", ""},
        {"http://:8080", ""},
        {"http://reports.example:", ""},
        {"http://reports.example:0", ""},
        {"http://reports.example:65536", ""},
        {"http://reports.example:80a", ""},
        {"http://reports.example/path", ""},
        {"http://user@reports.example", ""},
        {"http://reports example", ""},
        {"http://reports.example?x", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(NormalisedReportServer(c.value), c.server);
    }
}

class ReportServerTest : public testing::TempHiveTest {
  protected:
    static void Store(const std::function<void(Registry&)>& write) {
        Registry registry;
        ASSERT_TRUE(registry.OpenKey(kGardalixKey, true));
        write(registry);
    }
};

TEST_F(ReportServerTest, IsTheBuiltInServerWithoutAValue) {
    EXPECT_EQ(ReportServerBase(), "http://update.brevane.example");
    Store([](Registry& registry) { registry.WriteInteger("PORN_FILTER", 0); });
    EXPECT_EQ(ReportServerBase(), "http://update.brevane.example");
}

TEST_F(ReportServerTest, IsTheServerNamedInTheProgramsKey) {
    Store([](Registry& registry) {
        registry.WriteString("REPORT_SERVER", "http://127.0.0.1:8080/");
    });
    EXPECT_EQ(ReportServerBase(), "http://127.0.0.1:8080");
}

TEST_F(ReportServerTest, IsTheBuiltInServerWhenTheValueNamesNone) {
    const std::function<void(Registry&)> values[] = {
        [](Registry& registry) { registry.WriteString("REPORT_SERVER", "ftp://reports.example"); },
        [](Registry& registry) { registry.WriteString("REPORT_SERVER", ""); },
        [](Registry& registry) { registry.WriteInteger("REPORT_SERVER", 8080); },
    };
    int index = 0;
    for (const auto& write : values) {
        SCOPED_TRACE(index++);
        Store(write);
        EXPECT_EQ(ReportServerBase(), "http://update.brevane.example");
    }
}

}  // namespace
}  // namespace gx
