#include "Views/Settings/SettingsTab.h"

#include "Views/Settings/SettingsCard.h"

#include "Base/Config.h"
#include "Installer/InstallLocations.h"
#include "Kit/ElidedLabel.h"
#include "Kit/ExternalLink.h"
#include "Kit/Hairline.h"
#include "Kit/Pill.h"
#include "Kit/Segmented.h"
#include "Kit/Switches.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <functional>

using namespace Qt::StringLiterals;

namespace Hub::Views {

namespace {

Kit::Pill* pill(const QString& name, const QString& title, std::optional<QColor> fill = std::nullopt)
{
    Kit::PillStyle style;
    style.fill = fill;
    style.small = true;
    auto* button = new Kit::Pill(title, style);
    button->setObjectName(name);
    return button;
}

QWidget* column()
{
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(Kit::Theme::cardSpacing);
    box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return box;
}

// A part of a card that is drawn anew when what it shows changes: `fill`
// puts the rows into the new part's column. The old rows leave after the
// event that replaced them, since a click on one of their buttons may be
// what started the change.
void renew(QWidget*& part, QWidget* holder, const std::function<void(QVBoxLayout*)>& fill)
{
    if (part) {
        part->hide();
        part->deleteLater();
    }
    part = new QWidget(holder);
    auto* layout = new QVBoxLayout(part);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    fill(layout);
    holder->layout()->addWidget(part);
    // At once, not when the layout gets round to it, so what a click
    // changed is there to see and to reach right after the click.
    part->show();
}

QWidget* holder()
{
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return box;
}

} // namespace

SettingsTab::SettingsTab(HubModel* model, QWidget* parent)
    : TabPanel(model, Tab::settings, nullptr, parent)
{
    auto* columns = new QWidget;
    columns->setObjectName(u"settingsColumns"_s);
    auto* row = new QHBoxLayout(columns);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(32);
    QWidget* left = column();
    left->layout()->addWidget(formatsCard());
    left->layout()->addWidget(installForCard());
    QWidget* right = column();
    right->layout()->addWidget(updatesCard());
    right->layout()->addWidget(problemsCard());
    right->layout()->addWidget(accountCard());
    for (QWidget* side : {left, right}) {
        static_cast<QVBoxLayout*>(side->layout())->addStretch(1);
        row->addWidget(side, 1);
    }
    addSection(columns);
    addSection(about());
    m_columns = {left, right};
    m_about = findChild<QWidget*>(u"settingsAbout"_s);
    syncTabOrder();
}

void SettingsTab::syncTabOrder()
{
    // The left column, then the right one, then the bottom line; parts
    // drawn anew keep their place.
    if (m_columns.empty())
        return; // still being made: the constructor sets it once at the end
    QWidgetList chain;
    for (QWidget* side : m_columns)
        chain += tabStops(side);
    chain += tabStops(m_about);
    chainTabOrder(chain);
}

Kit::RowSwitch* SettingsTab::settingSwitch(const QString& name, const QString& title, const QString& detail,
                                          bool (HubModel::*read)() const, void (HubModel::*write)(bool),
                                          void (HubModel::*changed)())
{
    auto* row = new Kit::RowSwitch(title, new RowText(title, detail));
    row->setObjectName(name);
    row->setChecked((model()->*read)());
    // Only the user's click writes: reading the setting back must not store it again.
    connect(row, &QAbstractButton::clicked, this, [this, write](bool on) { (model()->*write)(on); });
    connect(model(), changed, row, [this, row, read] { row->setChecked((model()->*read)()); });
    return row;
}

QWidget* SettingsTab::formatsCard()
{
    m_formats = new SettingsCard(u"Plug-in formats"_s);
    m_formats->setObjectName(u"formatsCard"_s);
    m_au = settingSwitch(u"installAUSwitch"_s, u"AU"_s, u"For Macs only: no Linux host loads Audio Units"_s,
                         &HubModel::installAU, &HubModel::setInstallAU, &HubModel::installAUChanged);
    m_vst3 = settingSwitch(u"installVST3Switch"_s, u"VST3"_s, u"Ardour, Reaper, Bitwig, Qtractor, Carla, Waveform"_s,
                           &HubModel::installVST3, &HubModel::setInstallVST3, &HubModel::installVST3Changed);
    m_formats->addRow(m_au);
    m_formats->addRow(new CardDivider);
    m_formats->addRow(m_vst3);
    connect(model(), &HubModel::installAUChanged, this, &SettingsTab::syncFormats);
    connect(model(), &HubModel::installVST3Changed, this, &SettingsTab::syncFormats);
    syncFormats();
    return m_formats;
}

void SettingsTab::syncFormats()
{
    const bool au = model()->installAU();
    const bool vst3 = model()->installVST3();
    const bool one = au != vst3;
    // The last format that is on stays on; the other one stays free.
    m_au->setEnabled(!(one && au));
    m_vst3->setEnabled(!(one && vst3));
    m_formats->setNote(one ? u"At least one format stays on."_s
                           : u"The install window starts with these. Linux hosts load VST3."_s);
}

QWidget* SettingsTab::installForCard()
{
    auto* card = m_installFor = new SettingsCard(u"Install for"_s);
    card->setObjectName(u"installForCard"_s);
    m_scope = new Kit::Segmented({{rawValue(InstallScope::user), u"Just me"_s},
                                  {rawValue(InstallScope::allUsers), u"Everyone"_s}});
    m_scope->setObjectName(u"scopeControl"_s);
    m_scope->setAccessibleName(u"Install for"_s);
    connect(m_scope, &Kit::Segmented::valueChanged, this, [this](const QVariant& value) {
        if (const std::optional<InstallScope> scope = installScopeFromRaw(value.toString()))
            model()->setScope(*scope);
    });
    auto* scopeRow = new SettingRow(u"Install for"_s, u"Everyone on this computer asks for your password once."_s,
                                    false, m_scope);
    scopeRow->setObjectName(u"scopeRow"_s);
    card->addRow(scopeRow);
    card->addRow(new CardDivider);

    auto* show = pill(u"showFolder"_s, u"Show"_s);
    show->setAccessibleDescription(u"Opens the folder in Files"_s);
    connect(show, &QAbstractButton::clicked, this, [this] {
        m_installFor->setNote(std::nullopt);
        // Nothing else would tell: the card's note says what did not open.
        model()->openFolder(pluginFolder(), [card = QPointer(m_installFor)](const QString& sentence) {
            if (card)
                card->setNote(sentence);
        });
    });
    m_folder = new SettingRow(u"Plug-ins go to"_s, QString(), true, show);
    m_folder->setObjectName(u"folderRow"_s);
    card->addRow(m_folder);
    connect(model(), &HubModel::scopeChanged, this, &SettingsTab::syncFolder);
    syncFolder();
    return card;
}

// The two formats' folders lie side by side only on the other platform; here
// their common parent is the home folder (or /usr/local/lib), which tells a
// musician nothing. So the row names both folders and Show opens the VST3 one.
QString SettingsTab::pluginFolder() const
{
    return InstallLocations::folder(model()->roots(), PluginFormat::vst3, model()->scope());
}

QString SettingsTab::shownPath(const QString& path) const { return model()->abbreviated(path); }

void SettingsTab::syncFolder()
{
    // Another folder now: what did not open before says nothing of it.
    m_installFor->setNote(std::nullopt);
    {
        const QSignalBlocker quiet(m_scope);
        m_scope->setValue(rawValue(model()->scope()));
    }
    const QString au = InstallLocations::folder(model()->roots(), PluginFormat::au, model()->scope());
    m_folder->text()->setDetail(Kit::joinedList({shownPath(pluginFolder()), shownPath(au)}));
}

QWidget* SettingsTab::updatesCard()
{
    auto* card = new SettingsCard(u"Updates"_s);
    card->setObjectName(u"updatesCard"_s);
    card->addRow(settingSwitch(u"checkAtOpenSwitch"_s, u"Check for updates when Tarnhub opens"_s,
                               u"You can also press Ctrl+R any time."_s, &HubModel::checkAtOpen,
                               &HubModel::setCheckAtOpen, &HubModel::checkAtOpenChanged));
    card->addRow(new CardDivider);
    card->addRow(settingSwitch(u"autoUpdateSwitch"_s, u"Install updates automatically"_s,
                               u"Only updates that need no password, and never while a DAW is open."_s,
                               &HubModel::autoUpdate, &HubModel::setAutoUpdate, &HubModel::autoUpdateChanged));
    return card;
}

QWidget* SettingsTab::problemsCard()
{
    m_problems = new SettingsCard(u"Problem reports"_s);
    m_problems->setObjectName(u"problemsCard"_s);
    m_problems->addRow(settingSwitch(u"sendReportsSwitch"_s, u"Send crash and error reports"_s,
                                     u"Helps fix bugs. No file names, no personal data."_s, &HubModel::sendReports,
                                     &HubModel::setSendReports, &HubModel::sendReportsChanged));
    m_problems->addRow(new CardDivider);
    m_problemsHolder = holder();
    m_problems->addRow(m_problemsHolder);
    for (auto signal : {&HubModel::problemsChanged, &HubModel::sendReportsChanged, &HubModel::offlineChanged,
                        &HubModel::reportNoteChanged})
        connect(model(), signal, this, &SettingsTab::syncProblems);
    connect(model(), &HubModel::sendingReportsChanged, this, [this] {
        if (m_sending && !model()->sendingReports()) {
            m_sending = false;
            syncProblems();
        }
    });
    syncProblems();
    return m_problems;
}

void SettingsTab::send()
{
    m_sending = true;
    model()->sendProblems();
    // Nothing to send, or nothing started: the press is over at once.
    if (!model()->sendingReports())
        m_sending = false;
    syncProblems();
}

void SettingsTab::syncProblems()
{
    m_problems->setNote(model()->reportNote());
    renew(m_problemRows, m_problemsHolder, [this](QVBoxLayout* layout) {
        fillProblems(layout);
        fillUnreadable(layout);
    });
    syncTabOrder();
}

void SettingsTab::fillProblems(QVBoxLayout* layout)
{
    const std::vector<ReportFile>& problems = model()->problems();
    if (problems.empty()) {
        auto* none = new SettingRow(u"Recent problems"_s, u"Nothing went wrong lately."_s, false, nullptr);
        none->setObjectName(u"problemsRow"_s);
        layout->addWidget(none);
        return;
    }
    const qsizetype n = qsizetype(problems.size());
    auto* controls = new QWidget;
    auto* buttons = new QHBoxLayout(controls);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(8);
    if (!model()->sendReports()) {
        auto* sendPill = pill(u"sendProblems"_s, u"Send"_s, Kit::Theme::ink());
        sendPill->setEnabled(!m_sending && !model()->offline());
        connect(sendPill, &QAbstractButton::clicked, this, &SettingsTab::send);
        buttons->addWidget(sendPill);
    }
    auto* clear = pill(u"clearProblems"_s, u"Clear"_s);
    connect(clear, &QAbstractButton::clicked, model(), &HubModel::clearProblems);
    buttons->addWidget(clear);
    const QString title = QString::number(n) + u" recent problem"_s + (n == 1 ? u""_s : u"s"_s) + u" on this computer"_s;
    auto* head = new SettingRow(title, std::nullopt, false, controls);
    head->setObjectName(u"problemsRow"_s);
    layout->addWidget(head);

    auto* list = new QWidget;
    list->setObjectName(u"problemList"_s);
    auto* lines = new QVBoxLayout(list);
    lines->setContentsMargins(Kit::Theme::cardPadding, 0, Kit::Theme::cardPadding, 10);
    lines->setSpacing(0);
    for (qsizetype i = 0; i < std::min<qsizetype>(n, 3); ++i) {
        const Report& report = problems[size_t(i)].report;
        auto* line = new QWidget;
        line->setObjectName(u"problem"_s);
        line->setFixedHeight(26);
        line->setToolTip(Kit::plainToolTip(report.message.value_or(QString())));
        auto* items = new QHBoxLayout(line);
        items->setContentsMargins(0, 0, 0, 0);
        items->setSpacing(8);
        auto* name = new Kit::ElidedLabel(model()->name(report.product), Qt::ElideRight, line);
        name->setObjectName(u"problemName"_s);
        // Its whole width while there is room; shortened only when there is not.
        name->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        name->setFont(Kit::Theme::bold(13));
        Kit::setTextColor(name, Kit::Theme::ink());
        items->addWidget(name);
        QLabel* code = Kit::plainLabel(report.code, line);
        code->setObjectName(u"problemCode"_s);
        Kit::setLabelStyle(code, 10, QFont::Medium, Kit::Theme::dim());
        items->addWidget(code);
        if (report.count && *report.count > 1) {
            QLabel* count = Kit::plainLabel(u"×"_s + QString::number(*report.count), line);
            count->setObjectName(u"problemCount"_s);
            Kit::setLabelStyle(count, 10, QFont::Medium, Kit::Theme::muted());
            items->addWidget(count);
        }
        items->addStretch(1);
        lines->addWidget(line);
    }
    if (n > 3) {
        QLabel* more = Kit::plainLabel(u"and "_s + QString::number(n - 3) + u" more"_s, list);
        more->setObjectName(u"problemsMore"_s);
        Kit::setFootStyle(more, 12);
        more->setContentsMargins(0, 4, 0, 4);
        lines->addWidget(more);
    }
    layout->addWidget(list);
}

// What lies in a report file's place but can't be read stays through Clear
// and Send, so it is said here, under the reports, for as long as it stays.
void SettingsTab::fillUnreadable(QVBoxLayout* layout)
{
    for (const QString& sentence : model()->unreadableProblems()) {
        QLabel* line = Kit::plainLabel(sentence);
        line->setObjectName(u"problemUnreadable"_s);
        line->setWordWrap(true);
        Kit::setFootStyle(line, 12);
        line->setContentsMargins(Kit::Theme::cardPadding, 4, Kit::Theme::cardPadding, 8);
        layout->addWidget(line);
    }
}

QWidget* SettingsTab::accountCard()
{
    m_account = new SettingsCard(u"Account"_s);
    m_account->setObjectName(u"accountCard"_s);
    m_accountHolder = holder();
    m_account->addRow(m_accountHolder);
    for (auto signal : {&HubModel::accountChanged, &HubModel::offlineChanged, &HubModel::screenChanged})
        connect(model(), signal, this, &SettingsTab::syncAccount);
    syncAccount();
    return m_account;
}

void SettingsTab::syncAccount()
{
    renew(m_accountRows, m_accountHolder, [this](QVBoxLayout* layout) { fillAccount(layout); });
    syncTabOrder();
}

void SettingsTab::fillAccount(QVBoxLayout* layout)
{
    std::optional<QString> title;
    std::optional<QString> detail;
    if (const std::optional<AccountInfo>& account = model()->account()) {
        const HubUser& user = account->user;
        title = user.name.isEmpty() ? user.email : user.name;
        if (!user.name.isEmpty())
            detail = user.email;
    } else if (model()->session()) {
        title = u"Signed in"_s;
        if (model()->offline())
            detail = u"Your account details load when Tarnhub is online."_s;
    }
    if (!title) {
        auto* out = new SettingRow(u"Not signed in"_s, std::nullopt, false, nullptr);
        out->setObjectName(u"accountRow"_s);
        layout->addWidget(out);
        return;
    }
    auto* signOut = pill(u"signOut"_s, u"Sign out"_s);
    connect(signOut, &QAbstractButton::clicked, model(), &HubModel::signOut);
    auto* who = new SettingRow(*title, detail, false, signOut);
    who->setObjectName(u"accountRow"_s);
    layout->addWidget(who);
    layout->addWidget(new CardDivider);

    auto* manage = pill(u"manageAccount"_s, u"Manage ↗"_s);
    manage->setToolTip(Kit::plainToolTip(Config::accountPage().toString()));
    connect(manage, &QAbstractButton::clicked, model(), &HubModel::openAccountPage);
    auto* manageRow = new SettingRow(u"Computers and password"_s, u"Managed on "_s + Config::site().host(), false, manage);
    manageRow->setObjectName(u"manageRow"_s);
    layout->addWidget(manageRow);
}

QWidget* SettingsTab::about()
{
    auto* line = new QWidget;
    line->setObjectName(u"settingsAbout"_s);
    auto* stack = new QVBoxLayout(line);
    stack->setContentsMargins(0, 28, 0, 0);
    stack->setSpacing(0);
    stack->addWidget(new Kit::Hairline(line, 0, 16));
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(16);
    // A packaged program says where its updates come from, beside the
    // version they change.
    QString versionLine = u"Tarnhub "_s + Config::hubVersion();
    if (!model()->selfUpdates())
        versionLine += u" \u00B7 "_s + QString::fromUtf8(Config::kUpdatesFromPackages);
    QLabel* version = Kit::plainLabel(versionLine, line);
    version->setObjectName(u"hubVersion"_s);
    Kit::setFootStyle(version, 12.5);
    // One line beside the links: the window is wide enough for it.
    version->setWordWrap(false);
    row->addWidget(version);
    row->addStretch(1);
    const auto open = [model = model()](const QUrl& url) { model->openLink(url); };
    auto* notes = new Kit::ExternalLink(u"Release notes ↗"_s, Config::changelog(u"hub"_s), open, line);
    notes->setObjectName(u"releaseNotesLink"_s);
    row->addWidget(notes);
    auto* support = new Kit::ExternalLink(u"Email support ↗"_s, QUrl(u"mailto:"_s + Config::supportEmail()), open, line);
    support->setObjectName(u"supportLink"_s);
    row->addWidget(support);
    stack->addLayout(row);
    return line;
}

} // namespace Hub::Views
