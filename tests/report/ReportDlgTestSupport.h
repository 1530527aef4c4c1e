// Shared by the report dialog tests: each twin by its name, and a window opened on a server.
#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "report/GX_DemanderAnalyseSiteDlg.h"
#include "report/GX_SignalerSiteMalveillantDlg.h"
#include "tests/console/ConsoleTestSupport.h"

namespace gx::test {

struct Twin {
    const char* name;
    std::function<std::unique_ptr<ReportDialog>()> make;
};

inline std::vector<Twin> Twins() {
    return {
        {"report", [] { return std::make_unique<TSignalerSiteMalveillantDlg>(); }},
        {"analysis", [] { return std::make_unique<TDemanderAnalyseSiteDlg>(); }},
    };
}

template <typename T>
T* Child(QWidget& window, const char* name) {
    T* child = window.findChild<T*>(QLatin1String(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

// A dialog of a test's own: it sends to `base` with customer code 4242 and records its pauses
// instead of sleeping.
class ReportDlgTest : public ::testing::Test {
  protected:
    void SetUp() override { App(); }

    std::unique_ptr<ReportDialog> Shown(const Twin& twin, const std::string& base) {
        std::unique_ptr<ReportDialog> dialog = twin.make();
        dialog->ServerBase = [base] { return base; };
        dialog->CustomerCode = [] { return std::uint16_t{4242}; };
        dialog->Pause = [this](int ms) { pauses.push_back(ms); };
        dialog->show();
        return dialog;
    }

    static void Press(ReportDialog& dialog, const char* button) {
        Child<QPushButton>(dialog, button)->click();
    }

    std::vector<int> pauses;
};

}  // namespace gx::test
