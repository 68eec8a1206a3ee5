#include "Shell/SplashView.h"

#include "Kit/Logo.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace Hub::Shell {

SplashView::SplashView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(u"splash"_s);
    auto* column = new QVBoxLayout(this);
    column->addStretch(1);
    column->addWidget(new Kit::Logo(72, this), 0, Qt::AlignHCenter);
    column->addSpacing(18);
    QLabel* name = Kit::plainLabel(u"Tarnhub"_s, this);
    Kit::setLabelStyle(name, 12, QFont::DemiBold, Kit::Theme::muted());
    column->addWidget(name, 0, Qt::AlignHCenter);
    column->addStretch(1);
}

void SplashView::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), Kit::Theme::bg());
}

} // namespace Hub::Shell
