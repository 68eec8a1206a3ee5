#include "Views/Frame/TopBar.h"

#include "Views/Common/Accessibility.h"
#include "Kit/CountBadge.h"

#include "Kit/Control.h"
#include "Kit/Paint.h"
#include "Kit/Tag.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Kit/WindowDragArea.h"
#include "Model/HubModel.h"

#include <QAccessible>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace Hub::Views {

namespace {

QFont wordmarkFont() { return Kit::Theme::bold(22, -1.1); }

QFont initialsFont() { return Kit::Theme::mono(11, QFont::Bold); }

// The tab leaves room after its title for the Updates count.
constexpr Kit::CapsuleItemStyle kTabStyle{13, 3};

QFont tabFont() { return Kit::Paint::capsuleItemFont(); }

// The least room between the wordmark and the tab strip.
constexpr int kTabsGap = 12;

QString capitalised(const QString& raw) { return raw.left(1).toUpper() + raw.mid(1); }

} // namespace

// ---- Wordmark ---------------------------------------------------------------

Wordmark::Wordmark(HubModel* model, QWidget* parent)
    : QAbstractButton(parent)
{
    Kit::setupButton(this);
    setObjectName(QStringLiteral("wordmark"));
    setText(QStringLiteral("Tarnhub"));
    setAccessibleName(QStringLiteral("Tarnhub"));
    setToolTip(QStringLiteral("Plugins"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, model, [model] {
        model->setTab(Tab::plugins);
        model->setPage(std::nullopt);
    });
}

QSize Wordmark::sizeHint() const
{
    const QFontMetricsF metrics(wordmarkFont());
    return QSize(int(std::ceil(metrics.horizontalAdvance(text()))) + 2, int(std::ceil(metrics.height())));
}

void Wordmark::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setOpacity(Kit::stateOpacity(this));
    p.setFont(wordmarkFont());
    p.setPen(Kit::Theme::ink());
    p.drawText(QRectF(rect()), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
    if (Kit::keyboardFocus(this))
        Kit::Paint::focusRing(p, Kit::Paint::continuousRect(QRectF(rect()), 5), Kit::Theme::ink());
}

bool Wordmark::hitButton(const QPoint& pos) const { return rect().contains(pos); }

// ---- AccountButton ----------------------------------------------------------

AccountButton::AccountButton(HubModel* model, QWidget* parent)
    : QAbstractButton(parent)
    , m_model(model)
{
    Kit::setupButton(this);
    setObjectName(QStringLiteral("accountButton"));
    setAccessibleName(QStringLiteral("Account"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, model, [model] { model->setAccountMenu(!model->accountMenu()); });
    connect(model, &HubModel::accountChanged, this, &AccountButton::refresh);
    connect(model, &HubModel::accountMenuChanged, this, [this] {
        update();
        if (QAccessible::isActive()) {
            QAccessible::State changed;
            changed.expanded = true;
            QAccessibleStateChangeEvent event(this, changed);
            QAccessible::updateAccessibility(&event);
        }
    });
    installViewAccessibility();
    refresh();
}

QString AccountButton::initials(const std::optional<AccountInfo>& account)
{
    if (!account)
        return {};
    // Blanks only: other white space is part of a word as the service gave it.
    const QStringList words = account->user.name.split(u' ', Qt::SkipEmptyParts);
    QString letters;
    if (words.size() >= 2)
        letters = Kit::firstCharacter(words.front()) + Kit::firstCharacter(words.back());
    else if (words.size() == 1)
        letters = Kit::firstCharacter(words.front());
    else
        letters = Kit::firstCharacter(account->user.email);
    return letters.toUpper();
}

QString AccountButton::shownText() const
{
    const QString letters = initials(m_model->account());
    return letters.isEmpty() ? QStringLiteral("·") : letters;
}

bool AccountButton::open() const { return m_model->accountMenu(); }

void AccountButton::refresh()
{
    const std::optional<AccountInfo>& account = m_model->account();
    setToolTip(account ? Kit::plainToolTip(account->user.email) : QStringLiteral("Account"));
    Kit::setLiteralText(this, shownText());
    update();
}

QSize AccountButton::sizeHint() const { return QSize(30, 30); }

void AccountButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(Kit::stateOpacity(this));
    const QRectF r(rect());
    const qreal half = Kit::Theme::stroke / 2;
    const QRectF circle = r.adjusted(half, half, -half, -half);
    if (open()) {
        p.setPen(Qt::NoPen);
        p.setBrush(Kit::Theme::ink());
        p.drawEllipse(r);
    }
    p.setPen(QPen(Kit::Theme::strong(), Kit::Theme::stroke));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(circle);
    p.setFont(initialsFont());
    p.setPen(open() ? Kit::Theme::bg() : Kit::Theme::ink());
    p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, shownText());
    if (Kit::keyboardFocus(this))
        Kit::Paint::focusRing(p, Kit::Paint::capsule(r.adjusted(4, 4, -4, -4)), open() ? Kit::Theme::bg() : Kit::Theme::ink());
}

bool AccountButton::hitButton(const QPoint& pos) const
{
    return Kit::Paint::capsule(QRectF(rect())).contains(QPointF(pos) + QPointF(0.5, 0.5));
}

// ---- TabButton --------------------------------------------------------------

TabButton::TabButton(Tab tab, QWidget* parent)
    : QAbstractButton(parent)
    , m_tab(tab)
{
    installViewAccessibility();
    Kit::setupButton(this);
    setObjectName(rawValue(tab) + QStringLiteral("Tab"));
    setText(rawValue(tab));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFixedHeight(30);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(13, 0, 13, 0);
    layout->setSpacing(6);
    // The title is painted; the layout keeps its room and, since a box
    // layout puts no spacing next to a spacer, the gap to the badge.
    m_titleWidth = int(std::ceil(QFontMetricsF(tabFont()).horizontalAdvance(text().toUpper())));
    m_titleSpace = new QSpacerItem(m_titleWidth, 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
    layout->addSpacerItem(m_titleSpace);
    if (tab == Tab::updates) {
        m_badge = new Kit::CountBadge(0, false, this);
        m_badge->setObjectName(QStringLiteral("updatesBadge"));
        layout->addWidget(m_badge, 0, Qt::AlignVCenter);
        m_badge->hide();
    }
    set(false, 0);
}

void TabButton::set(bool selected, int count)
{
    const bool changed = selected != m_selected;
    m_selected = selected;
    const bool counted = m_badge && count >= 1;
    if (m_badge) {
        m_badge->set(count, selected);
        m_badge->setVisible(counted);
        m_titleSpace->changeSize(m_titleWidth + (counted ? layout()->spacing() : 0), 0, QSizePolicy::Fixed,
                                 QSizePolicy::Minimum);
        layout()->invalidate();
    }
    Kit::setSpokenName(this, counted ? QStringLiteral("Updates, %1 available").arg(count) : capitalised(rawValue(m_tab)));
    if (changed)
        notifySelection(this, selected);
    update();
}

void TabButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(Kit::stateOpacity(this));
    Kit::Paint::capsuleItem(p, QRectF(rect()), text(), m_selected, Kit::Theme::muted(), Kit::keyboardFocus(this),
                            kTabStyle);
}

bool TabButton::hitButton(const QPoint& pos) const
{
    return Kit::Paint::capsule(QRectF(rect())).contains(QPointF(pos) + QPointF(0.5, 0.5));
}

// ---- Tabs -------------------------------------------------------------------

Tabs::Tabs(HubModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
{
    installViewAccessibility();
    setObjectName(QStringLiteral("tabs"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    for (Tab tab : kAllTabs) {
        auto* button = new TabButton(tab, this);
        connect(button, &QAbstractButton::clicked, model, [model, tab] {
            model->setTab(tab);
            model->setPage(std::nullopt);
        });
        layout->addWidget(button, 0, Qt::AlignVCenter);
        m_buttons.append(button);
    }
    // Everything the selection and the update count are worked out from;
    // a download's progress is not among them.
    for (auto signal : {&HubModel::tabChanged, &HubModel::pageChanged, &HubModel::catalogChanged,
                        &HubModel::statesChanged})
        connect(model, signal, this, &Tabs::refresh);
    // The account's last contact alone, renewed by every refresh, changes
    // no count.
    connect(model, &HubModel::accountChanged, this, [this] {
        const std::optional<QStringList>& changed = m_model->productsChanged();
        if (!changed || !changed->isEmpty())
            refresh();
    });
    refresh();
}

TabButton* Tabs::button(Tab tab) const
{
    for (TabButton* button : m_buttons)
        if (button->tab() == tab)
            return button;
    return nullptr;
}

int Tabs::updateCount() const { return int(m_model->updates().size()) + (m_model->hubUpdate() ? 1 : 0); }

void Tabs::refresh()
{
    const int count = updateCount();
    const bool pageOpen = m_model->page().has_value();
    for (TabButton* button : m_buttons)
        button->set(!pageOpen && m_model->tab() == button->tab(), count);
    adjustSize();
    Q_EMIT changed();
}

// ---- TopBar -----------------------------------------------------------------

TopBar::TopBar(HubModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_drag(new Kit::WindowDragArea(this))
    , m_offline(new Kit::Tag(QStringLiteral("offline"), Kit::TagStyle{Kit::Theme::muted(), false}, this))
    , m_tabs(new Tabs(model, this))
    , m_wordmark(new Wordmark(model, this))
    , m_account(new AccountButton(model, this))
{
    setObjectName(QStringLiteral("topBar"));
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_drag->setObjectName(QStringLiteral("windowDragArea"));
    m_offline->setObjectName(QStringLiteral("offlineTag"));

    auto* row = new QHBoxLayout(this);
    // The desktop draws the window's buttons in its own title bar, so no
    // room is kept for them before the wordmark.
    row->setContentsMargins(14, 0, 14, 0);
    row->setSpacing(8);
    row->addWidget(m_wordmark, 0, Qt::AlignVCenter);
    row->addSpacerItem(new QSpacerItem(12, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    row->addWidget(m_offline, 0, Qt::AlignVCenter);
    row->addWidget(m_account, 0, Qt::AlignVCenter);

    // Reading order, whatever order the widgets were made in.
    QWidget* previous = m_wordmark;
    for (Tab tab : kAllTabs) {
        setTabOrder(previous, m_tabs->button(tab));
        previous = m_tabs->button(tab);
    }
    setTabOrder(previous, m_account);

    m_offline->setVisible(model->offline());
    connect(model, &HubModel::offlineChanged, this, [this] { m_offline->setVisible(m_model->offline()); });
    connect(m_tabs, &Tabs::changed, this, &TopBar::placeTabs);
    m_drag->lower();
}

void TopBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_drag->setGeometry(rect());
    placeTabs();
}

void TopBar::placeTabs()
{
    // Centred in the bar itself, not in the room between its side items,
    // so the strip stays put when the "offline" tag comes and goes. In a
    // window narrower than its minimum (tiling window managers ignore it)
    // the strip moves aside rather than cover the wordmark.
    const QSize size = m_tabs->sizeHint();
    const int clear = m_wordmark->geometry().right() + 1 + kTabsGap;
    const int x = std::max((width() - size.width()) / 2, clear);
    m_tabs->setGeometry(QRect(QPoint(x, (height() - size.height()) / 2), size));
    m_tabs->raise();
    // Narrower still, the account button and the tag stay on top and whole.
    m_offline->raise();
    m_account->raise();
}

void TopBar::paintEvent(QPaintEvent*)
{
    // The background is the window's colour, painted by the main view.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRectF(0, height() - Kit::Theme::stroke, width(), Kit::Theme::stroke), Kit::Theme::line());
}

} // namespace Hub::Views
