// The parental code on real offscreen widgets: setting it (twice, 4 to 12 characters), the
// actions it guards refused on a wrong code and done on the right one, five wrong codes that
// lock the dialog, and changing or removing the code.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <deque>

#include "ConsoleTestSupport.h"
#include "console/ParentalCodeDialog.h"
#include "store/ParentalCode.h"

namespace gx::test {
namespace {

const QString kCode = QStringLiteral("2718");

// Answers each code dialog that opens: the ask dialog takes the next code of the list (and is
// cancelled once the list is used up), the dialog for a new code takes the same code twice.
// Message boxes get `answer`. Records what the ask dialog said after each try.
class CodeAnswers {
  public:
    explicit CodeAnswers(std::vector<QString> codes,
                         QMessageBox::StandardButton answer = QMessageBox::Ok)
        : codes_(codes.begin(), codes.end()),
          answerer_(answer, [this](QWidget* dialog) { Answer(dialog); }) {}

    std::vector<QString> messages;  // the ask dialog's message after each try
    bool lockedSeen = false;        // the ask dialog was seen with its field disabled
    int askDialogs = 0;
    std::vector<SeenBox>& Seen() { return answerer_.seen; }
    std::string newCode;  // what the dialog for a new code is given; "" = cancel it

  private:
    void Answer(QWidget* dialog) {
        if (dialog->objectName() == QLatin1String("DefineParentalCodeDlg")) {
            auto* define = static_cast<QDialog*>(dialog);
            if (newCode.empty()) {
                define->reject();
                return;
            }
            dialog->findChild<QLineEdit*>(QStringLiteral("EditNewCode"))
                ->setText(QString::fromStdString(newCode));
            dialog->findChild<QLineEdit*>(QStringLiteral("EditConfirmCode"))
                ->setText(QString::fromStdString(newCode));
            define->accept();
            return;
        }
        auto* ask = static_cast<QDialog*>(dialog);
        if (current_ != dialog) {
            current_ = dialog;
            ++askDialogs;
        }
        auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("EditCode"));
        auto* message = dialog->findChild<QLabel*>(QStringLiteral("LabelMessage"));
        if (!field->isEnabled()) {
            lockedSeen = true;
        }
        if (codes_.empty()) {
            ask->reject();
            current_ = nullptr;
            return;
        }
        field->setText(codes_.front());
        codes_.pop_front();
        ask->accept();  // what "&OK" does, also while it is disabled
        if (ask->isVisible()) {
            messages.push_back(message->text());
        } else {
            current_ = nullptr;
        }
    }

    std::deque<QString> codes_;
    QWidget* current_ = nullptr;
    ModalAnswerer answerer_;
};

class ConsoleParentalCodeTest : public ConsoleTest {
  protected:
    // A console whose timed start has run, with the code set.
    std::unique_ptr<TFormGardalix> GuardedConsole() {
        services.parentalCode = HashParentalCode(kCode.toStdString());
        auto console = CreatedConsole();
        EXPECT_TRUE(SpinUntil([&] { return console->ProtectionActive(); }));
        return console;
    }

    static int Boxes(CodeAnswers& answers) {
        int boxes = 0;
        for (const SeenBox& box : answers.Seen()) {
            boxes += box.className == QLatin1String("QMessageBox");
        }
        return boxes;
    }
};

TEST_F(ConsoleParentalCodeTest, ANewCodeMustHave4To12CharactersAndBeEnteredTwiceTheSame) {
    DefineParentalCodeDialog dialog(nullptr);
    auto* first = dialog.findChild<QLineEdit*>(QStringLiteral("EditNewCode"));
    auto* second = dialog.findChild<QLineEdit*>(QStringLiteral("EditConfirmCode"));
    auto* message = dialog.findChild<QLabel*>(QStringLiteral("LabelMessage"));
    EXPECT_EQ(first->echoMode(), QLineEdit::Password);
    const struct {
        const char* first;
        const char* second;
        const char* message;  // "" = accepted
    } cases[] = {
        {"123", "123", "Le code doit compter de 4 à 12 caractères."},
        {"1234567890123", "1234567890123", "Le code doit compter de 4 à 12 caractères."},
        {"", "", "Le code doit compter de 4 à 12 caractères."},
        {"1234", "1243", "Les deux codes saisis ne sont pas identiques."},
        {"été€", "été€", ""},
        {"123456789012", "123456789012", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        dialog.setResult(QDialog::Rejected);
        message->clear();
        first->setText(QString::fromUtf8(c.first));
        second->setText(QString::fromUtf8(c.second));
        dialog.accept();
        EXPECT_EQ(message->text(), QString::fromUtf8(c.message));
        EXPECT_EQ(dialog.result() == QDialog::Accepted, c.message[0] == '\0');
    }
}

TEST_F(ConsoleParentalCodeTest, SettingACodeStoresItsHashAndNeedsNoCodeWhenNoneIsSet) {
    auto console = CreatedConsole();
    auto* define = Child<QPushButton>(*console, "buttonDefinirCode");
    EXPECT_EQ(define->text(), QString::fromUtf8("Définir le &code..."));
    EXPECT_FALSE(Child<QPushButton>(*console, "buttonSupprimerCode")->isEnabled());
    CodeAnswers answers({});
    answers.newCode = "4711";

    define->click();

    EXPECT_EQ(answers.askDialogs, 0) << "no code yet: nothing to ask";
    ASSERT_FALSE(services.parentalCode.empty());
    EXPECT_EQ(services.parentalCode.find("4711"), std::string::npos);
    EXPECT_TRUE(ParentalCodeMatches("4711", services.parentalCode));
    EXPECT_EQ(define->text(), QString::fromUtf8("&Changer le code..."));
    EXPECT_TRUE(Child<QPushButton>(*console, "buttonSupprimerCode")->isEnabled());
    ASSERT_EQ(Boxes(answers), 1);
    EXPECT_EQ(answers.Seen().back().text, QString::fromUtf8("Le code parental est défini."));
}

// Each guarded action, refused on a wrong code (nothing changes), then done on the right one.
TEST_F(ConsoleParentalCodeTest, AWrongCodeRefusesEachGuardedActionAndTheRightCodeDoesIt) {
    struct Action {
        const char* what;
        std::function<void(TFormGardalix&)> prepare;
        std::function<void(TFormGardalix&)> run;
        std::function<bool(TFormGardalix&)> done;
    };
    const Action actions[] = {
        {"switch off by the button", [](TFormGardalix&) {},
         [](TFormGardalix& c) { Child<QPushButton>(c, "buttonActiveDesactive")->click(); },
         [](TFormGardalix& c) { return !c.ProtectionActive(); }},
        {"switch off from the tray", [](TFormGardalix&) {},
         [](TFormGardalix& c) { TrayItem(c, "Dsactiverlefirewall1")->trigger(); },
         [](TFormGardalix& c) { return !c.ProtectionActive(); }},
        {"stop and close", [](TFormGardalix&) {},
         [](TFormGardalix& c) { TrayItem(c, "Tray_Close")->trigger(); },
         [this](TFormGardalix&) { return !endStatuses.empty(); }},
        {"apply with child protection unticked",
         [](TFormGardalix& c) { Child<QCheckBox>(c, "checkBlockPorn")->setChecked(false); },
         [](TFormGardalix& c) { Child<QPushButton>(c, "buttonAppliquerConfiguration")->click(); },
         [](TFormGardalix&) { return !PornFilterOn; }},
        {"default", [](TFormGardalix&) {},
         [](TFormGardalix& c) { Child<QPushButton>(c, "buttonConfigurationDefaut")->click(); },
         [](TFormGardalix&) { return !PornFilterOn; }},
    };
    for (const Action& action : actions) {
        SCOPED_TRACE(action.what);
        services.pornFilterStored = true;
        endStatuses.clear();
        auto console = GuardedConsole();
        ASSERT_TRUE(PornFilterOn);
        const size_t writesBefore = services.writes.size();
        const int stopsBefore = services.Count("StopDriver");
        {
            CodeAnswers answers({QStringLiteral("0000")});
            action.prepare(*console);
            action.run(*console);
            EXPECT_EQ(answers.messages, std::vector<QString>{QString::fromUtf8("Code incorrect.")});
            EXPECT_EQ(Boxes(answers), 0) << "nothing goes further than the code";
        }
        EXPECT_FALSE(action.done(*console));
        EXPECT_TRUE(console->ProtectionActive());
        EXPECT_TRUE(PornFilterOn);
        EXPECT_TRUE(Child<QCheckBox>(*console, "checkBlockPorn")->isChecked());
        EXPECT_EQ(services.writes.size(), writesBefore);
        EXPECT_EQ(services.Count("StopDriver"), stopsBefore);

        CodeAnswers answers({kCode}, QMessageBox::Yes);
        action.prepare(*console);
        action.run(*console);
        EXPECT_EQ(answers.askDialogs, 1);
        EXPECT_TRUE(answers.messages.empty());
        EXPECT_TRUE(action.done(*console));
    }
}

TEST_F(ConsoleParentalCodeTest, SwitchingOnAndTickingChildProtectionNeedNoCode) {
    services.pornFilterStored = false;
    auto console = GuardedConsole();
    CodeAnswers answers({kCode});
    Child<QPushButton>(*console, "buttonActiveDesactive")->click();  // off: asks
    ASSERT_FALSE(console->ProtectionActive());
    Child<QPushButton>(*console, "buttonActiveDesactive")->click();  // on: does not
    EXPECT_TRUE(console->ProtectionActive());
    Child<QCheckBox>(*console, "checkBlockPorn")->setChecked(true);
    Child<QPushButton>(*console, "buttonAppliquerConfiguration")->click();
    EXPECT_TRUE(PornFilterOn);
    EXPECT_EQ(answers.askDialogs, 1);
}

TEST_F(ConsoleParentalCodeTest, FiveWrongCodesInARowLockTheDialogEvenForTheRightCode) {
    auto console = GuardedConsole();
    {
        CodeAnswers answers({"1111", "2222", "3333", "4444", "5555", kCode});
        Child<QPushButton>(*console, "buttonActiveDesactive")->click();
        ASSERT_EQ(answers.messages.size(), 6u);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(answers.messages[i], QString::fromUtf8("Code incorrect.")) << i;
        }
        EXPECT_TRUE(answers.messages[4].startsWith(
            QString::fromUtf8("Trop de codes incorrects : réessayez dans ")))
            << answers.messages[4].toStdString();
        EXPECT_TRUE(answers.messages[5].startsWith(QString::fromUtf8("Trop de codes incorrects")));
        EXPECT_TRUE(answers.lockedSeen);
    }
    EXPECT_TRUE(console->ProtectionActive()) << "the right code is not taken while locked";

    // Opened again: still locked, the right code is still refused.
    {
        CodeAnswers answers({kCode});
        Child<QPushButton>(*console, "buttonActiveDesactive")->click();
        EXPECT_TRUE(answers.lockedSeen);
        ASSERT_EQ(answers.messages.size(), 1u);
        EXPECT_TRUE(answers.messages[0].endsWith(QStringLiteral(" s.")));
    }
    EXPECT_TRUE(console->ProtectionActive());
}

TEST_F(ConsoleParentalCodeTest, ChangingOrRemovingTheCodeAsksForTheCurrentOne) {
    auto console = GuardedConsole();
    const std::string original = services.parentalCode;
    {
        CodeAnswers answers({QStringLiteral("9999")});
        answers.newCode = "1357";
        Child<QPushButton>(*console, "buttonDefinirCode")->click();
        Child<QPushButton>(*console, "buttonSupprimerCode")->click();
    }
    EXPECT_EQ(services.parentalCode, original);

    {
        CodeAnswers answers({kCode});
        answers.newCode = "1357";
        Child<QPushButton>(*console, "buttonDefinirCode")->click();
    }
    EXPECT_TRUE(ParentalCodeMatches("1357", services.parentalCode));
    {
        CodeAnswers answers({QStringLiteral("1357")});
        Child<QPushButton>(*console, "buttonSupprimerCode")->click();
        EXPECT_EQ(answers.Seen().back().text, QString::fromUtf8("Le code parental est supprimé."));
    }
    EXPECT_EQ(services.parentalCode, "");
    EXPECT_FALSE(Child<QPushButton>(*console, "buttonSupprimerCode")->isEnabled());

    // No code any more: switching off asks nothing.
    CodeAnswers answers({});
    Child<QPushButton>(*console, "buttonActiveDesactive")->click();
    EXPECT_FALSE(console->ProtectionActive());
    EXPECT_EQ(answers.askDialogs, 0);
}

TEST_F(ConsoleParentalCodeTest, WithoutADisplayAGuardedActionIsRefused) {
    auto console = GuardedConsole();
    TellOnStderrInsteadOfBoxes(true);
    Child<QPushButton>(*console, "buttonActiveDesactive")->click();
    TellOnStderrInsteadOfBoxes(false);
    EXPECT_TRUE(console->ProtectionActive());
}

}  // namespace
}  // namespace gx::test
