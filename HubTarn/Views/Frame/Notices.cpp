#include "Views/Frame/Notices.h"

#include "Kit/Pill.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include "Catalog/SharedTypes.h"
#include "Installer/InstallLocations.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace Hub::Views {

namespace {

constexpr int kBarWidth = 2;
constexpr int kSpacing = 12;
constexpr int kMinimumGap = 8;
constexpr int kPadding = 4;
constexpr int kBannerBelow = 22;

} // namespace

// ---- NoticeRow --------------------------------------------------------------

NoticeRow::NoticeRow(const QColor& bar, int below, QWidget* parent)
    : QWidget(parent)
    , m_bar(bar)
    , m_column(new QVBoxLayout)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* row = new QHBoxLayout(this);
    // The bar is painted in the room the leading margin leaves.
    row->setContentsMargins(kBarWidth + kSpacing, kPadding, 0, kPadding + below);
    row->setSpacing(0);
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(4);
    row->addLayout(m_column, 1);
}

void NoticeRow::setPill(Kit::Pill* pill)
{
    auto* row = static_cast<QHBoxLayout*>(layout());
    row->addSpacing(kMinimumGap);
    row->addWidget(pill, 0, Qt::AlignVCenter);
}

void NoticeRow::paintEvent(QPaintEvent*)
{
    const QMargins m = layout()->contentsMargins();
    QPainter p(this);
    p.fillRect(QRect(0, m.top(), kBarWidth, height() - m.top() - m.bottom()), m_bar);
}

// ---- Banner -----------------------------------------------------------------

Banner::Banner(const QString& text, QWidget* parent)
    : NoticeRow(Kit::Theme::ink(), kBannerBelow, parent)
    , m_text(Kit::plainLabel(text, this))
{
    setObjectName(QStringLiteral("banner"));
    m_text->setObjectName(QStringLiteral("bannerText"));
    // The window's text colour.
    Kit::setProseStyle(m_text, Kit::Theme::prose(14), palette().color(QPalette::WindowText));
    column()->addWidget(m_text);
}

void Banner::setText(const QString& text) { m_text->setText(text); }

QString Banner::text() const { return m_text->text(); }

// ---- SignInAgainBanner --------------------------------------------------------

SignInAgainBanner::SignInAgainBanner(HubModel* model, QWidget* parent)
    : NoticeRow(Kit::Theme::ink(), kBannerBelow, parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("signInAgainBanner"));
    QLabel* text = Kit::plainLabel(QStringLiteral("Sign in again to check for updates."), this);
    text->setObjectName(QStringLiteral("signInAgainText"));
    Kit::setProseStyle(text, Kit::Theme::prose(14), Kit::Theme::ink());
    column()->addWidget(text);
    auto* signIn = new Kit::Pill(QStringLiteral("Sign in"), Kit::PillStyle::smallInk(), this);
    signIn->setObjectName(QStringLiteral("signInAgainButton"));
    setPill(signIn);
    connect(signIn, &QAbstractButton::clicked, this, [this] {
        m_model->setLoginNote(QStringLiteral("Sign in again so Tarnhub can check for updates."));
        m_model->setScreen(Screen::login);
    });
    connect(model, &HubModel::signInAgainChanged, this, &SignInAgainBanner::sync);
    connect(model, &HubModel::accountChanged, this, &SignInAgainBanner::sync);
    connect(model, &HubModel::screenChanged, this, &SignInAgainBanner::sync);
    sync();
}

bool SignInAgainBanner::shows(const HubModel& model) { return model.signInAgain() && !model.session(); }

void SignInAgainBanner::sync() { setVisible(shows(*m_model)); }

// ---- LegacyNotice -------------------------------------------------------------

LegacyNotice::LegacyNotice(HubModel* model, const QString& productID, bool named, QWidget* parent)
    : NoticeRow(Kit::Theme::warn(), 0, parent)
    , m_model(model)
    , m_productID(productID)
    , m_named(named)
    , m_sentence(Kit::plainLabel(QString(), this))
{
    setObjectName(QStringLiteral("legacyNotice"));
    m_sentence->setObjectName(QStringLiteral("legacySentence"));
    Kit::setProseStyle(m_sentence, Kit::Theme::prose(13.5), Kit::Theme::ink());
    QLabel* note = Kit::plainLabel(QStringLiteral("Removing it asks for your password once. It goes to the Trash."), this);
    note->setObjectName(QStringLiteral("legacyNote"));
    Kit::setProseStyle(note, Kit::Theme::prose(12.5), Kit::Theme::muted());
    column()->addWidget(m_sentence);
    column()->addWidget(note);

    Kit::PillStyle outlined;
    outlined.small = true;
    m_remove = new Kit::Pill(QStringLiteral("Remove the old copy for all users"), outlined, this);
    m_remove->setObjectName(QStringLiteral("legacyRemove"));
    setPill(m_remove);
    connect(m_remove, &QAbstractButton::clicked, this, [this] {
        if (const Product* product = m_model->product(m_productID))
            m_model->requestRemoveLegacy(*product);
    });
    connect(model, &HubModel::productStateChanged, this, [this](const QString& id) {
        if (id == m_productID)
            sync();
    });
    connect(model, &HubModel::statesChanged, this, &LegacyNotice::sync);
    connect(model, &HubModel::catalogChanged, this, &LegacyNotice::sync);
    connect(model, &HubModel::accountChanged, this, &LegacyNotice::sync);
    sync();
}

std::optional<QString> LegacyNotice::sentence(const HubModel& model, const QString& productID, bool named)
{
    const Product* product = model.product(productID);
    if (!product || model.state(*product).job.isWorking())
        return std::nullopt;
    const QList<InstalledFormat> copies = model.legacyCopies(*product);
    if (copies.isEmpty())
        return std::nullopt;
    QStringList formats;
    // The all-users folders the copies lie in, each once, home shortened.
    QStringList folders;
    for (const InstalledFormat& copy : copies) {
        formats.append(label(copy.format) + u' ' + copy.version);
        const QString folder =
            model.abbreviated(InstallLocations::folder(model.roots(), copy.format, InstallScope::allUsers));
        if (!folders.contains(folder))
            folders.append(folder);
    }
    QString where = folders.takeLast();
    if (!folders.isEmpty())
        where = folders.join(QStringLiteral(", ")) + QStringLiteral(" and ") + where;
    return (named ? product->shown() + QStringLiteral(": an") : QStringLiteral("An"))
           + QStringLiteral(" older copy for all users is still in ") + where + QStringLiteral(" (")
           + formats.join(QStringLiteral(", ")) + QStringLiteral("). Your DAW may load it instead.");
}

void LegacyNotice::sync()
{
    const std::optional<QString> text = sentence(*m_model, m_productID, m_named);
    if (text)
        m_sentence->setText(*text);
    // The button goes with the notice: hidden while the job runs.
    setVisible(text.has_value());
}

// ---- OfflineReminder ----------------------------------------------------------

OfflineReminder::OfflineReminder(HubModel* model, const QString& what, QWidget* parent)
    : Banner(QString(), parent)
    , m_model(model)
    , m_what(what)
{
    setObjectName(QStringLiteral("offlineReminder"));
    connect(model, &HubModel::accountChanged, this, &OfflineReminder::sync);
    connect(model, &HubModel::offlineChanged, this, &OfflineReminder::sync);
    connect(model, &HubModel::lastCheckedChanged, this, &OfflineReminder::sync);
    sync();
}

std::optional<QString> OfflineReminder::reminder(const std::optional<AccountInfo>& account, const QDateTime& now,
                                             const QString& what)
{
    constexpr qint64 kDay = 86400;
    constexpr qint64 kLongOffline = 90 * kDay;
    if (!account)
        return std::nullopt;
    const qint64 seconds = account->onlineAt.secsTo(now);
    if (seconds <= kLongOffline)
        return std::nullopt;
    return QStringLiteral("You've been offline for ") + QString::number(seconds / kDay)
           + QStringLiteral(" days. Everything keeps working. Connect when you can so ") + what
           + QStringLiteral(" stay current.");
}

void OfflineReminder::sync()
{
    const std::optional<QString> shown = reminder(m_model->account(), m_model->now(), m_what);
    if (shown)
        setText(*shown);
    setVisible(shown.has_value());
}

} // namespace Hub::Views
