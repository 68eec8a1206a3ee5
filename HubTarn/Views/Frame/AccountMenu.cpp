#include "Views/Frame/AccountMenu.h"

#include "Views/Common/Accessibility.h"

#include "Kit/ElidedLabel.h"
#include "Kit/Hairline.h"

#include "Base/Config.h"
#include "Kit/Control.h"
#include "Kit/Paint.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Kit/WrapLabel.h"
#include "Model/HubModel.h"

#include <QFontMetricsF>
#include <QGraphicsDropShadowEffect>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace Hub::Views {

namespace {

QFont rowFont() { return Kit::Theme::prose(14); }


} // namespace

// ---- MenuRow ----------------------------------------------------------------

MenuRow::MenuRow(const QString& title, std::function<void()> action, QWidget* parent)
    : Kit::HoverButton(parent)
{
    Kit::setLiteralText(this, title);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, [action = std::move(action)] {
        if (action)
            action();
    });
}

QSize MenuRow::sizeHint() const
{
    const QFontMetricsF metrics(rowFont());
    return QSize(int(std::ceil(metrics.horizontalAdvance(text()))) + 20, std::max(34, int(std::ceil(metrics.height()))));
}

QSize MenuRow::minimumSizeHint() const { return QSize(20, 34); }

void MenuRow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(Kit::stateOpacity(this));
    const QRectF r(rect());
    if (hovered())
        p.fillPath(Kit::Paint::continuousRect(r, Kit::Theme::rowRadius), Kit::Theme::panel());
    p.setFont(rowFont());
    p.setPen(Kit::Theme::ink());
    const QRectF textRect = r.adjusted(10, 0, -10, 0);
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               QFontMetricsF(rowFont()).elidedText(text(), Qt::ElideRight, textRect.width()));
    if (Kit::keyboardFocus(this))
        Kit::Paint::focusRing(p, Kit::Paint::continuousRect(r.adjusted(1, 1, -1, -1), Kit::Theme::rowRadius),
                              Kit::Theme::ink());
}

// ---- AccountMenu ------------------------------------------------------------

QString AccountMenu::accountRowTitle()
{
    return QStringLiteral("Account on ") + Config::accountPage().host() + QStringLiteral(" ↗");
}

AccountMenu::AccountMenu(HubModel* model, QWidget* parent)
    : QWidget(parent)
{
    installViewAccessibility();
    setObjectName(QStringLiteral("accountMenu"));
    setFixedWidth(kWidth);

    auto* header = new QVBoxLayout;
    header->setContentsMargins(10, 8, 10, 10);
    header->setSpacing(3);
    if (const std::optional<AccountInfo>& account = model->account()) {
        if (!account->user.name.isEmpty()) {
            // Wraps inside a word too: a long name without spaces is never
            // clipped mid-letter at the panel's edge.
            auto* name = new Kit::WrapLabel(account->user.name, this);
            name->setObjectName(QStringLiteral("accountName"));
            Kit::setProseStyle(name, Kit::Theme::bold(14), Kit::Theme::ink());
            header->addWidget(name);
        }
        auto* email = new Kit::ElidedLabel(account->user.email, Qt::ElideMiddle, this);
        email->setObjectName(QStringLiteral("accountEmail"));
        email->setFont(Kit::Theme::prose(13.5));
        Kit::setTextColor(email, Kit::Theme::muted());
        header->addWidget(email);
    } else {
        QLabel* signedIn = Kit::plainLabel(QStringLiteral("Signed in"), this);
        signedIn->setObjectName(QStringLiteral("accountName"));
        Kit::setProseStyle(signedIn, Kit::Theme::bold(14), Kit::Theme::ink());
        header->addWidget(signedIn);
    }

    auto* divider = new Kit::Hairline(this, 0, 2);

    auto* accountRow = new MenuRow(accountRowTitle(), [model] { model->openAccountPage(); }, this);
    accountRow->setObjectName(QStringLiteral("accountPageRow"));
    // The arrow is a picture of "opens elsewhere", not a word to read out.
    accountRow->setAccessibleName(Kit::spokenTitle(accountRowTitle()));
    QPointer<HubModel> guarded(model);
    auto* signOutRow = new MenuRow(QStringLiteral("Sign out"), [guarded] {
        // Queued, so the row's own click finishes before the sign-out takes
        // the window to the sign-in screen and this menu away with it.
        QTimer::singleShot(0, guarded.data(), [guarded] {
            if (guarded)
                guarded->signOut();
        });
    }, this);
    signOutRow->setObjectName(QStringLiteral("signOutRow"));
    m_rows = {accountRow, signOutRow};

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(4);
    layout->addLayout(header);
    layout->addWidget(divider);
    layout->addWidget(accountRow);
    layout->addWidget(signOutRow);

    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor(0, 0, 0, 128));
    shadow->setBlurRadius(30);
    shadow->setOffset(0, 16);
    setGraphicsEffect(shadow);
}

bool AccountMenu::focusNextPrevChild(bool next)
{
    const qsizetype count = m_rows.size();
    const qsizetype at = m_rows.indexOf(static_cast<MenuRow*>(focusWidget()));
    const qsizetype to = at < 0 ? (next ? 0 : count - 1) : (at + (next ? 1 : count - 1)) % count;
    m_rows[to]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

void AccountMenu::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Down || event->key() == Qt::Key_Up) {
        focusNextPrevChild(event->key() == Qt::Key_Down);
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* row = qobject_cast<MenuRow*>(focusWidget()); row && m_rows.contains(row)) {
            row->click();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

void AccountMenu::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal half = Kit::Theme::stroke / 2;
    const QPainterPath shape =
        Kit::Paint::continuousRect(QRectF(rect()).adjusted(half, half, -half, -half), Kit::Theme::cardRadius);
    p.fillPath(shape, Kit::Theme::raised());
    p.setPen(QPen(Kit::Theme::line(), Kit::Theme::stroke));
    p.drawPath(shape);
}

} // namespace Hub::Views
