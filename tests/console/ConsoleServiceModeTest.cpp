// The console as its account's window onto the system service, on real offscreen widgets and
// the service's real control channel: it starts no proxy of its own, shows the service's state
// and history for its account, passes the parental code its dialog asked on to the service,
// which decides; and a console that goes away leaves the protection as it was.
#include <sys/stat.h>
#include <unistd.h>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>

#include "ConsoleTestSupport.h"
#include "console/ServiceLink.h"
#include "console/SidePages.h"
#include "service/ControlSocket.h"
#include "store/ParentalCode.h"
#include "support/TempFolder.h"

namespace gx::test {
namespace {

const std::string kCode = "2718";

class ConsoleServiceModeTest : public ConsoleTest {
  protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        ::chmod(folder_.Path().c_str(), 0755);
        std::string error;
        ASSERT_TRUE(socket_.Start(Path(), &error)) << error;
    }
    void TearDown() override {
        socket_.Stop();
        WithdrawAccountPolicies();
    }
    std::string Path() const { return folder_.File("control"); }
    uint32_t Me() const { return static_cast<uint32_t>(::geteuid()); }

    std::unique_ptr<TFormGardalix> ServiceConsole() {
        auto console =
            std::make_unique<TFormGardalix>(ServiceModeServices(services.Table(), Path()));
        console->EndProgram = [this](int status) { endStatuses.push_back(status); };
        EXPECT_TRUE(console->FormCreate());
        return console;
    }
    // Answers the code dialog with each code in turn; message boxes with OK.
    std::unique_ptr<ModalAnswerer> TypeCodes(std::vector<std::string> codes) {
        auto left = std::make_shared<std::vector<std::string>>(std::move(codes));
        return std::make_unique<ModalAnswerer>(QMessageBox::Ok, [left](QWidget* dialog) {
            auto* ask = static_cast<QDialog*>(dialog);
            if (left->empty()) {
                ask->reject();
                return;
            }
            dialog->findChild<QLineEdit*>(QStringLiteral("EditCode"))
                ->setText(QString::fromStdString(left->front()));
            left->erase(left->begin());
            ask->accept();
        });
    }

    gx::testing::TempFolder folder_;
    service::AccountStore store_{folder_.Path() / "state"};
    // Nobody is an administrator here, so that the parental code is what decides.
    service::ControlService service_{store_, [](const service::Caller&) { return false; }};
    service::ControlSocket socket_{service_};
};

TEST_F(ConsoleServiceModeTest, TheSwitchIsTheServicesAndItsCodeIsPassedOn) {
    std::string error;
    ASSERT_TRUE(store_.Write(Me(), {{true, true}, HashParentalCode(kCode)}, &error));
    service_.PublishPolicies();
    auto console = ServiceConsole();
    auto* box = Child<QCheckBox>(*console, "checkBlockPorn");
    EXPECT_TRUE(box->isChecked()) << "the service's child protection, shown";
    EXPECT_TRUE(SpinUntil([&] { return console->ProtectionActive(); }));
    {
        std::lock_guard guard(services.lock);
        EXPECT_EQ(std::count(services.calls.begin(), services.calls.end(), "StartDriver"), 0)
            << "no proxy of the console's own";
    }

    // A wrong code, then the right one: the service switches child protection off.
    auto answers = TypeCodes({"0000", kCode});
    box->setChecked(false);
    Child<QPushButton>(*console, "buttonAppliquerConfiguration")->click();
    EXPECT_FALSE(store_.Read(Me()).policy.childProtection);
    EXPECT_FALSE(PolicyOfAccount(Me()).childProtection);

    // Back on needs no code; off again without typing it is refused by the service itself.
    box->setChecked(true);
    Child<QPushButton>(*console, "buttonAppliquerConfiguration")->click();
    EXPECT_TRUE(store_.Read(Me()).policy.childProtection);
    auto cancel = TypeCodes({});
    box->setChecked(false);
    Child<QPushButton>(*console, "buttonAppliquerConfiguration")->click();
    EXPECT_TRUE(store_.Read(Me()).policy.childProtection) << "the dialog was cancelled";
}

TEST_F(ConsoleServiceModeTest, TheHistoryTabShowsTheAccountsHistoryFromTheService) {
    service_.Record({"bad.example/a", "Site malveillant", "/usr/bin/caf\xE9", 5, Me()});
    service_.Record({"other.example/", "Site malveillant", "", 6, Me() + 1});
    auto console = ServiceConsole();
    console->CoolTray2DblClick();
    auto* grid = Child<QTableWidget>(*console, "TabHistoriqueAlertes");
    console->Pages()->TabButton(2)->click();
    ASSERT_NE(grid->item(0, 1), nullptr);
    EXPECT_EQ(grid->item(0, 1)->text(), "bad.example/a");
    EXPECT_EQ(grid->item(0, 2)->text(), "Site malveillant");
    EXPECT_EQ(grid->item(1, 1) ? grid->item(1, 1)->text() : QString(), QString())
        << "another account's entry is not shown";
}

// The console ends (a child closed it or killed it): nothing of the protection changes.
TEST_F(ConsoleServiceModeTest, AConsoleThatEndsLeavesTheProtectionOn) {
    std::string error;
    ASSERT_TRUE(store_.Write(Me(), {{true, true}, HashParentalCode(kCode)}, &error));
    service_.PublishPolicies();
    {
        auto console = ServiceConsole();
        EXPECT_TRUE(SpinUntil([&] { return console->ProtectionActive(); }));
    }
    EXPECT_EQ(store_.Read(Me()).policy, (AccountPolicy{true, true}));
    EXPECT_TRUE(PolicyOfAccount(Me()).childProtection);
    std::lock_guard guard(services.lock);
    EXPECT_EQ(std::count(services.calls.begin(), services.calls.end(), "StopDriver"), 0);
}

}  // namespace
}  // namespace gx::test
