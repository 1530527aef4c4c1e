// The About box: the program's picture, the product site link, the version and "&OK".
#pragma once

#include <QDialog>
#include <functional>

namespace gx {

class TAboutBox : public QDialog {
    Q_OBJECT
  public:
    // `onHelp` answers a help request (F1) with the box's help context.
    TAboutBox(QWidget* owner, std::function<void(int context)> onHelp);

    static constexpr int kHelpContext = 7;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    std::function<void(int)> onHelp_;
};

// The product page that the About link opens.
std::string ProductPageAddress();

}  // namespace gx
