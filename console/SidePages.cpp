#include "console/SidePages.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace gx {

namespace {
constexpr QSize kTabSize(95, 80);
constexpr QSize kGlyphSize(64, 48);
}  // namespace

SidePageControl::SidePageControl(QWidget* parent)
    : QWidget(parent),
      tabs_(new QVBoxLayout),
      group_(new QButtonGroup(this)),
      pages_(new QStackedWidget(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    tabs_->setContentsMargins(0, 0, 0, 0);
    tabs_->setSpacing(2);
    tabs_->addStretch(1);
    row->addLayout(tabs_);
    row->addWidget(pages_, 1);
    pages_->setObjectName(QStringLiteral("xpPages"));
    group_->setExclusive(true);
    connect(group_, &QButtonGroup::idClicked, this, &SidePageControl::SetCurrentIndex);
    connect(pages_, &QStackedWidget::currentChanged, this, &SidePageControl::CurrentChanged);
}

QString SidePageControl::TabCaptionText(const QString& caption) {
    QString text = caption;
    return text.replace(QLatin1String("||"), QLatin1String("\n"));
}

int SidePageControl::AddPage(QWidget* page, const QString& caption, const QPixmap& glyph) {
    const int index = pages_->addWidget(page);
    auto* tab = new QToolButton(this);
    tab->setObjectName(page->objectName() + QStringLiteral("Tab"));
    tab->setText(TabCaptionText(caption));
    tab->setIcon(QIcon(glyph));
    tab->setIconSize(kGlyphSize);
    tab->setFixedSize(kTabSize);
    tab->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tab->setCheckable(true);
    tab->setAutoRaise(true);
    tab->setFocusPolicy(Qt::TabFocus);
    tab->setChecked(index == pages_->currentIndex());
    group_->addButton(tab, index);
    tabs_->insertWidget(index, tab);
    return index;
}

int SidePageControl::CurrentIndex() const {
    return pages_->currentIndex();
}

void SidePageControl::SetCurrentIndex(int index) {
    if (index < 0 || index >= pages_->count()) {
        return;
    }
    if (QAbstractButton* tab = group_->button(index)) {
        tab->setChecked(true);
    }
    pages_->setCurrentIndex(index);
}

QWidget* SidePageControl::Page(int index) const {
    return pages_->widget(index);
}

QToolButton* SidePageControl::TabButton(int index) const {
    return qobject_cast<QToolButton*>(group_->button(index));
}

int SidePageControl::Count() const {
    return pages_->count();
}

}  // namespace gx
