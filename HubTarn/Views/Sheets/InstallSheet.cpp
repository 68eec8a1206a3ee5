#include "Views/Sheets/InstallSheet.h"

#include "Views/Sheets/SheetKit.h"

#include "Kit/Color.h"
#include "Kit/Pill.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace Hub::Views {

namespace {

const QString kPackageNote = QStringLiteral(
    "Installs with its package for everyone on this computer. Your system asks for your password once. "
    "Close your DAW first so it loads the new version.");

} // namespace

InstallSheet::InstallSheet(HubModel* model, const QString& slug, QWidget* parent)
    : SheetBody(model, slug, QStringLiteral("installSheet"), parent)
    , m_offeredChange([this](const std::vector<PluginFormat>& old, const std::vector<PluginFormat>& now) {
        // The release's formats arrived while the sheet was up: start from
        // the defaults, unless the user has already chosen something.
        if (old.empty() && !now.empty() && m_chosen.empty())
            if (const Product* p = product())
                m_chosen = this->model()->defaultFormats(*p);
    })
    , m_title(new SheetTitle(QString(), QString(), this))
    , m_boxLayout(new QVBoxLayout)
    , m_note(Kit::plainLabel(QString(), this))
    , m_cancel(new Kit::Pill(QStringLiteral("Cancel"), Kit::PillStyle{std::nullopt, Kit::Theme::bg(), true, false}, this))
    , m_install(new Kit::Pill(QStringLiteral("Install"), Kit::PillStyle{}, this))
{
    if (const Product* p = product()) {
        m_chosen = model->defaultFormats(*p);
        m_offeredChange.appear(model->formatsOffered(*p));
        m_install->setPillStyle(Kit::PillStyle{Kit::accentColor(*p), Kit::accentTextColor(*p), true, false});
    }
    m_boxLayout->setContentsMargins(0, 0, 0, 0);
    m_boxLayout->setSpacing(12);
    m_note->setObjectName(QStringLiteral("installNote"));
    Kit::setFootStyle(m_note, 13);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_install->setObjectName(QStringLiteral("installButton"));
    connect(m_cancel, &QAbstractButton::clicked, this, &SheetBody::dismiss);
    connect(m_install, &QAbstractButton::clicked, this, &InstallSheet::install);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 4, 0, 0);
    buttons->setSpacing(8);
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_install);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(m_title);
    layout->addLayout(m_boxLayout);
    layout->addWidget(m_note);
    layout->addLayout(buttons);

    // A refresh can bring or change the release, and the settings tab the
    // scope: the sheet follows at once.
    auto refreshed = [this] {
        if (const Product* p = product())
            m_offeredChange.changed(this->model()->formatsOffered(*p));
        sync();
    };
    connect(model, &HubModel::catalogChanged, this, refreshed);
    connect(model, &HubModel::accountChanged, this, refreshed);
    connect(model, &HubModel::statesChanged, this, &InstallSheet::sync);
    connect(model, &HubModel::scopeChanged, this, &InstallSheet::sync);
    sync();
}

QString InstallSheet::formatDetail(PluginFormat format)
{
    switch (format) {
    case PluginFormat::vst3:
        return QStringLiteral("Ardour, Reaper, Bitwig, Qtractor, Carla, Waveform");
    case PluginFormat::au:
        return QStringLiteral("For Macs only: no Linux host loads Audio Units");
    case PluginFormat::app:
        return QStringLiteral("Standalone, in your applications menu");
    }
    return {};
}

std::vector<PluginFormat> InstallSheet::packageFormats(const Product& product)
{
    std::vector<PluginFormat> found;
    for (PluginFormat format : {PluginFormat::au, PluginFormat::vst3, PluginFormat::app}) {
        const QStringList words = product.formats.value_or(QStringList());
        if (std::any_of(words.begin(), words.end(),
                        [&](const QString& word) { return word.compare(label(format), Qt::CaseInsensitive) == 0; }))
            found.push_back(format);
    }
    return found;
}

std::set<PluginFormat> InstallSheet::toInstall() const
{
    const Product* p = product();
    if (!p)
        return {};
    std::set<PluginFormat> formats;
    for (PluginFormat format : model()->formatsOffered(*p))
        if (m_chosen.contains(format))
            formats.insert(format);
    return formats;
}

QString InstallSheet::note() const
{
    const Product* p = product();
    if (!p)
        return {};
    if (model()->formatsOffered(*p).empty())
        return kPackageNote;
    const std::set<PluginFormat> formats = toInstall();
    const QString daw = formats.contains(PluginFormat::au) || formats.contains(PluginFormat::vst3)
                            ? QStringLiteral(" Close your DAW first so it loads the new version.")
                            : QString();
    if (formats == std::set<PluginFormat>{PluginFormat::app})
        return QStringLiteral("Shows in your applications menu.");
    if (model()->scope() == InstallScope::allUsers)
        return QStringLiteral("Installs for everyone on this computer. Your system asks for your password once.") + daw;
    QString text = QStringLiteral("Installs just for you, no password needed.");
    if (!model()->allUsersCopies(*p).isEmpty())
        text += QStringLiteral(" The older copy for all users stays until you remove it.");
    return text + daw;
}

QAbstractButton* InstallSheet::defaultButton() const { return m_install; }

void InstallSheet::rebuildBoxes(const std::vector<PluginFormat>& shown, bool package)
{
    if (shown == m_shown && package == m_package)
        return;
    for (FormatBox* box : m_boxes)
        delete box;
    m_boxes.clear();
    m_shown = shown;
    m_package = package;
    for (PluginFormat format : shown) {
        std::function<void(bool)> choose;
        if (!package)
            choose = [this, format](bool on) { this->choose(format, on); };
        auto* box = new FormatBox(format, formatDetail(format), std::move(choose), this);
        if (package)
            box->setFixed();
        m_boxLayout->addWidget(box);
        box->show();
        m_boxes.push_back(box);
    }
    // Reading order, buttons last: the tiles are made after the buttons.
    QWidgetList order(m_boxes.begin(), m_boxes.end());
    setReadingOrder(QWidgetList(order) << m_cancel << m_install);
    putInReadingOrder(QWidgetList{m_title} << order << m_note << m_cancel << m_install);
}

void InstallSheet::sync()
{
    const Product* p = product();
    if (!p)
        return;
    const QString processor = model()->cpu() == QStringLiteral("arm64") ? QStringLiteral("Arm")
                                                                        : QStringLiteral("x86-64");
    m_title->setTexts(QStringLiteral("install ") + p->shown(),
                      processor + QStringLiteral(" · ") + (p->release ? p->release->version : QString()));
    const std::vector<PluginFormat> offered = model()->formatsOffered(*p);
    const bool package = offered.empty();
    rebuildBoxes(package ? packageFormats(*p) : offered, package);
    for (FormatBox* box : m_boxes)
        box->setOn(package || m_chosen.contains(box->format()));
    m_note->setText(note());
    m_install->setPillStyle(Kit::PillStyle{Kit::accentColor(*p), Kit::accentTextColor(*p), true, false});
    m_install->setEnabled(package || !toInstall().empty());
}

void InstallSheet::choose(PluginFormat format, bool on)
{
    if (on)
        m_chosen.insert(format);
    else
        m_chosen.erase(format);
    sync();
}

void InstallSheet::install()
{
    const Product* p = product();
    if (!p)
        return;
    if (model()->formatsOffered(*p).empty()) {
        // A package installs as a whole, for everyone.
        model()->requestInstall(*p, {}, InstallScope::allUsers);
    } else {
        const std::set<PluginFormat> formats = toInstall();
        if (formats.empty())
            return;
        model()->requestInstall(*p, formats, model()->scope());
    }
    dismiss();
}

} // namespace Hub::Views
