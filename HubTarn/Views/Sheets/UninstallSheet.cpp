#include "Views/Sheets/UninstallSheet.h"

#include "Views/Sheets/SheetKit.h"

#include "Installer/PluginInstaller.h"
#include "Kit/Pill.h"
#include "Kit/Switches.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <unistd.h>

namespace Hub::Views {

namespace {

bool mayWrite(const QString& path) { return ::access(QFile::encodeName(path).constData(), W_OK) == 0; }

} // namespace

UninstallSheet::UninstallSheet(HubModel* model, const QString& slug, QWidget* parent)
    : SheetBody(model, slug, QStringLiteral("uninstallSheet"), parent)
    , m_title(new SheetTitle(QString(), QString(), this))
    , m_tiles(new QVBoxLayout)
    , m_settingsCaption(Kit::plainLabel(QString()))
    , m_footer(Kit::plainLabel(QString(), this))
    , m_cancel(new Kit::Pill(QStringLiteral("Cancel"), Kit::PillStyle{std::nullopt, Kit::Theme::bg(), true, false}, this))
    , m_uninstall(new Kit::Pill(QStringLiteral("Uninstall"), Kit::PillStyle{std::nullopt, Kit::Theme::bg(), true, false}, this))
{
    if (const Product* p = product())
        for (const InstalledFormat& copy : model->state(*p).installed)
            m_chosen.insert(copy.format);

    m_tiles->setContentsMargins(0, 0, 0, 0);
    m_tiles->setSpacing(12);

    auto* settingsLabel = new QWidget;
    auto* settingsText = new QVBoxLayout(settingsLabel);
    settingsText->setContentsMargins(0, 0, 0, 0);
    settingsText->setSpacing(2);
    QLabel* settingsTitle = Kit::plainLabel(QStringLiteral("Also remove settings and presets"));
    Kit::setProseStyle(settingsTitle, Kit::Theme::prose(14), Kit::Theme::ink());
    m_settingsCaption->setObjectName(QStringLiteral("settingsCaption"));
    Kit::setFootStyle(m_settingsCaption, 12.5);
    settingsText->addWidget(settingsTitle);
    settingsText->addWidget(m_settingsCaption);
    m_settings = new Kit::InkSwitch(QStringLiteral("Also remove settings and presets"), settingsLabel, this);
    m_settings->setObjectName(QStringLiteral("removeSettings"));
    m_settings->setChecked(true);

    m_footer->setObjectName(QStringLiteral("uninstallFooter"));
    Kit::setFootStyle(m_footer, 13);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_uninstall->setObjectName(QStringLiteral("uninstallButton"));
    connect(m_cancel, &QAbstractButton::clicked, this, &SheetBody::dismiss);
    connect(m_uninstall, &QAbstractButton::clicked, this, &UninstallSheet::uninstall);

    auto* switches = new QVBoxLayout;
    switches->setContentsMargins(0, 4, 0, 0);
    switches->setSpacing(10);
    switches->addWidget(m_settings);
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 4, 0, 0);
    buttons->setSpacing(8);
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_uninstall);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(m_title);
    layout->addLayout(m_tiles);
    layout->addLayout(switches);
    layout->addWidget(m_footer);
    layout->addLayout(buttons);

    // Rescans while the sheet is up move the tiles, texts and password
    // sentence with them; the choice stays as the user left it.
    connect(model, &HubModel::statesChanged, this, &UninstallSheet::sync);
    connect(model, &HubModel::catalogChanged, this, &UninstallSheet::sync);
    connect(model, &HubModel::accountChanged, this, &UninstallSheet::sync);
    sync();
}

QString UninstallSheet::where(PluginFormat format) const
{
    const Product* p = product();
    if (!p)
        return {};
    QStringList entries;
    for (const InstalledFormat& copy : model()->state(*p).installed) {
        if (copy.format != format)
            continue;
        QString place = model()->placeName(copy);
        if (place.startsWith(u'/') || place.startsWith(u'~'))
            place = QStringLiteral("in ") + place;
        entries.append(copy.version + u' ' + place);
    }
    return entries.join(QStringLiteral(" · "));
}

bool UninstallSheet::needsPassword(const QList<InstalledFormat>& installed, const std::set<PluginFormat>& chosen)
{
    for (const InstalledFormat& copy : installed) {
        if (!chosen.contains(copy.format))
            continue;
        if (!mayWrite(QFileInfo(copy.path).path()) || !mayWrite(copy.path))
            return true;
    }
    return false;
}

QString UninstallSheet::footer(bool needsPassword)
{
    QString text = QStringLiteral("Everything goes to the Trash.");
    if (needsPassword)
        text += QStringLiteral(" Your system asks for your password once for the copies installed for all users.");
    return text;
}

QString UninstallSheet::footer() const
{
    const Product* p = product();
    return footer(p && needsPassword(model()->state(*p).installed, m_chosen));
}

std::optional<QString> UninstallSheet::settingsFolder() const
{
    const Product* p = product();
    if (!p)
        return std::nullopt;
    const std::optional<SettingsFolderRecord> record = SettingsFolderRecord::of(*p);
    if (!record)
        return std::nullopt;
    return PluginInstaller::settingsFolder(*record, model()->roots());
}

void UninstallSheet::sync()
{
    const Product* p = product();
    if (!p)
        return;
    const ProductState state = model()->state(*p);
    m_title->setTexts(QStringLiteral("uninstall ") + p->shown(),
                      QStringLiteral("Installed ") + model()->installedVersion(*p).value_or(QString()));

    std::set<PluginFormat> installed;
    for (const InstalledFormat& copy : state.installed)
        installed.insert(copy.format);
    for (auto it = m_boxes.begin(); it != m_boxes.end();) {
        if (installed.contains(it->first)) {
            ++it;
            continue;
        }
        delete it->second;
        it = m_boxes.erase(it);
    }
    // One tile per installed format, in the formats' own order.
    int index = 0;
    QWidgetList order;
    for (PluginFormat format : kAllPluginFormats) {
        if (!installed.contains(format))
            continue;
        FormatBox*& box = m_boxes[format];
        if (!box) {
            box = new FormatBox(format, QString(), [this, format](bool on) { choose(format, on); }, this);
            m_tiles->insertWidget(index, box);
            box->show();
        }
        box->setDetail(where(format));
        box->setOn(m_chosen.contains(format));
        order.append(box);
        ++index;
    }
    // Reading order, buttons last: a tile made by a rescan would otherwise
    // come after them.
    setReadingOrder(QWidgetList(order) << m_settings << m_cancel << m_uninstall);
    putInReadingOrder(QWidgetList{m_title} << order << m_settings << m_footer << m_cancel << m_uninstall);

    const std::optional<QString> folder = settingsFolder();
    m_settings->setVisible(folder.has_value());
    if (folder)
        m_settingsCaption->setText(model()->abbreviated(*folder) + QStringLiteral(" goes to the Trash."));
    m_footer->setText(footer());
    m_uninstall->setEnabled(!m_chosen.empty());
}

void UninstallSheet::choose(PluginFormat format, bool on)
{
    if (on)
        m_chosen.insert(format);
    else
        m_chosen.erase(format);
    sync();
}

void UninstallSheet::uninstall()
{
    const Product* p = product();
    if (!p || m_chosen.empty())
        return;
    UninstallOptions options;
    options.formats = m_chosen;
    // Only a folder the installer would really move; the catalog's word
    // alone is not enough.
    options.removeSettings = m_settings->isChecked() && settingsFolder().has_value();
    options.scopes = {InstallScope::user, InstallScope::allUsers};
    model()->requestUninstall(*p, options, false);
    dismiss();
}

} // namespace Hub::Views
