// The look that the four update dialogs share: a window without title bar or frame buttons, a
// white client area with a thin black outline, a blue banner with a white title, link labels,
// and the places where the windows appear.
#pragma once

#include <QDialog>
#include <QFont>
#include <QLabel>
#include <QPoint>
#include <QRect>
#include <QSize>

class QFrame;

namespace gx {

inline constexpr QRgb kBannerColour = 0x42C0FB;
inline constexpr QRgb kLinkColour = 0x007CC2;
inline constexpr QRgb kLinkHoverColour = 0x0075EA;

// The dialogs' fonts at a pixel size: "Futura Md BT" where installed, otherwise the nearest
// clean sans-serif; Arial and "Segoe UI" likewise with their usual stand-ins.
QFont FuturaFont(int pixelSize);
QFont ArialFont(int pixelSize);
QFont SegoeFont(int pixelSize);

// Line ends of the messages (CR LF, CR alone, LF alone) as a label shows them.
QString ShownText(const QString& message);

// Where the question and the update-applied dialogs sit: the bottom right corner of the
// screen, just above the task bar (the rule of current systems: 40 pixels above the bottom).
QPoint BottomRightPlace(const QSize& window, const QRect& screen);
QPoint CentredPlace(const QSize& window, const QRect& screen);
// The primary screen's whole area (an empty rectangle when there is none).
QRect PrimaryScreenArea();

// A frameless dialog of a fixed client size, white, outlined in black (its `Shape1`).
class UpdateDialog : public QDialog {
    Q_OBJECT
  public:
    UpdateDialog(const char* objectName, const QString& caption, QSize clientSize,
                 bool filledFrame);

  protected:
    // A filled rectangle, for the banner (`Shape2`).
    QFrame* AddBanner(const QRect& place);
    // A label with its font and colour, placed at its top left corner (sized to its text when
    // `size` is empty); `wrapped` labels keep their box and cut what does not fit.
    QLabel* AddLabel(const char* name, const QString& text, QPoint topLeft, const QFont& font,
                     QRgb colour, QSize size = {}, bool wrapped = false);
};

// A label drawn as a hyperlink: underlined, #007CC2; under the mouse #0075EA with the hand
// cursor. A click emits Clicked and does nothing else.
class UrlLabel : public QLabel {
    Q_OBJECT
  public:
    UrlLabel(const QString& text, const QFont& font, QWidget* parent);

  signals:
    void Clicked();

  protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void SetColour(QRgb colour);
};

}  // namespace gx
