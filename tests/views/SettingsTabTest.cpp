#include "TabTestSupport.h"

#include "Kit/ElidedLabel.h"
#include "Kit/Pill.h"
#include "Kit/Segmented.h"
#include "Kit/Switches.h"
#include "Kit/TextStyle.h"
#include "Reports/ReportSpool.h"
#include "Views/Settings/SettingsCard.h"
#include "Views/Settings/SettingsTab.h"

#include "Base/Config.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QSettings>

#include <functional>

#include <sys/stat.h>

namespace Hub::Test {
namespace {

using Views::SettingsTab;

class SettingsTabTest : public TabFixture {
protected:
    void click(const QString& name) { clickCentre(shown(name)); }

    QSettings stored() const
    {
        return QSettings(m_home.filePath(u".config/"_qs + Config::bundleID() + u".conf"_qs), QSettings::IniFormat);
    }

    QString note(const QString& card) const
    {
        auto* label = child<QLabel>(child(ground.get(), card), u"cardNote"_qs);
        return label->isVisibleTo(ground.get()) ? label->text() : u"(none)"_qs;
    }

    // Spools `times` occurrences of a problem with `code` of `product`.
    void spool(const QString& product, const QString& code, int times = 1)
    {
        const ReportSpool reports(m_home.path());
        for (int i = 0; i < times; ++i) {
            Report report;
            report.product = product;
            report.code = code;
            report.message = u"It went <b>wrong</b> & stayed so"_qs;
            ASSERT_TRUE(reports.record(report).recorded());
        }
    }
};

TEST_F(SettingsTabTest, EachSwitchStoresItsSettingAndARestartKeepsIt)
{
    startModel();
    show<SettingsTab>();
    const struct {
        QString name;
        QString key;
        bool (HubModel::*read)() const;
        bool before;
        QString detail; // the line under the title: the switch's description
    } table[] = {
        // No Linux host loads an Audio Unit: a new user starts without them.
        {u"installAUSwitch"_qs, u"InstallAU"_qs, &HubModel::installAU, false,
         u"For Macs only: no Linux host loads Audio Units"_qs},
        {u"checkAtOpenSwitch"_qs, u"CheckAtOpen"_qs, &HubModel::checkAtOpen, true,
         u"You can also press Ctrl+R any time."_qs},
        {u"autoUpdateSwitch"_qs, u"AutoUpdate"_qs, &HubModel::autoUpdate, false,
         u"Only updates that need no password, and never while a DAW is open."_qs},
        {u"sendReportsSwitch"_qs, u"SendReports"_qs, &HubModel::sendReports, false,
         u"Helps fix bugs. No file names, no personal data."_qs},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name.toStdString());
        auto* toggle = child<Kit::RowSwitch>(ground.get(), row.name);
        EXPECT_EQ(toggle->isChecked(), row.before);
        EXPECT_EQ(spoken(toggle)->text(QAccessible::Description), row.detail);
        EXPECT_EQ(spoken(toggle)->childCount(), 0) << "the detail is read twice";
        // A click on the row's text flips it as well as one on the knob.
        QTest::mouseClick(toggle, Qt::LeftButton, {}, QPoint(40, toggle->height() / 2));
        EXPECT_EQ((model.get()->*row.read)(), !row.before);
        EXPECT_EQ(toggle->isChecked(), !row.before);
        EXPECT_EQ(stored().value(row.key).toBool(), !row.before);
    }
    picture(u"settings-switched"_qs);

    ASSERT_NO_FATAL_FAILURE(restart());
    show<SettingsTab>();
    for (const auto& row : table) {
        SCOPED_TRACE(row.name.toStdString());
        EXPECT_EQ((model.get()->*row.read)(), !row.before);
        EXPECT_EQ(child<Kit::RowSwitch>(ground.get(), row.name)->isChecked(), !row.before);
    }
}

TEST_F(SettingsTabTest, TheLastFormatOnCannotBeSwitchedOff)
{
    startModel();
    show<SettingsTab>();
    const QString both = u"The install window starts with these. Linux hosts load VST3."_qs;
    const QString one = u"At least one format stays on."_qs;
    auto* au = child<Kit::RowSwitch>(ground.get(), u"installAUSwitch"_qs);
    auto* vst3 = child<Kit::RowSwitch>(ground.get(), u"installVST3Switch"_qs);
    EXPECT_EQ(spoken(vst3)->text(QAccessible::Description), u"Ardour, Reaper, Bitwig, Qtractor, Carla, Waveform"_qs);
    // A new user has VST3 alone, and it stays on.
    EXPECT_FALSE(au->isChecked());
    EXPECT_TRUE(au->isEnabled());
    EXPECT_FALSE(vst3->isEnabled());
    EXPECT_EQ(note(u"formatsCard"_qs), one);
    picture(u"settings-one-format"_qs);
    // The disabled one ignores the click.
    clickCentre(vst3);
    EXPECT_TRUE(model->installVST3());

    click(u"installAUSwitch"_qs);
    EXPECT_TRUE(au->isEnabled() && vst3->isEnabled());
    EXPECT_EQ(note(u"formatsCard"_qs), both);
    // With VST3 off, AU is the one that stays.
    click(u"installVST3Switch"_qs);
    EXPECT_FALSE(au->isEnabled());
    EXPECT_TRUE(vst3->isEnabled());
    EXPECT_EQ(note(u"formatsCard"_qs), one);
}

TEST_F(SettingsTabTest, ScopeChoosesTheFolderShownAndShowOpensItsNearestFolder)
{
    const QString home = m_home.path();
    ASSERT_TRUE(QDir(home).mkpath(u"usr/local"_qs));
    startModel();
    auto* tab = show<SettingsTab>();
    auto* scope = child<Kit::Segmented>(ground.get(), u"scopeControl"_qs);
    // Named by its setting's title, one group of choices.
    EXPECT_EQ(spoken(scope)->text(QAccessible::Name), u"Install for"_qs);
    EXPECT_EQ(spoken(scope)->role(), QAccessible::Grouping);
    auto* folder = child<Views::SettingRow>(ground.get(), u"folderRow"_qs);
    const auto shown = [&] { return static_cast<Kit::ElidedLabel*>(folder->text()->detailLabel())->text(); };

    const struct {
        int segment;
        InstallScope scope;
        QString shown;
        QString opened; // the nearest folder that exists
    } table[] = {
        {1, InstallScope::allUsers, u"~/usr/local/lib/vst3 and ~/usr/local/lib/components"_qs, home + u"/usr/local"_qs},
        {0, InstallScope::user, u"~/.vst3 and ~/.components"_qs, home},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(rawValue(row.scope).toStdString());
        clickCentre(scope->segment(row.segment));
        EXPECT_EQ(model->scope(), row.scope);
        EXPECT_EQ(stored().value(u"InstallScope"_qs).toString(), rawValue(row.scope));
        EXPECT_EQ(shown(), row.shown);
        click(u"showFolder"_qs);
        EXPECT_EQ(workspace->opened.value(workspace->opened.size() - 1), u"folder "_qs + row.opened);
        picture(u"settings-scope-"_qs + rawValue(row.scope));
    }

    // A change made elsewhere (the install sheet) shows here too, and lasts.
    model->setScope(InstallScope::allUsers);
    EXPECT_EQ(scope->value().toString(), u"allUsers"_qs);
    EXPECT_EQ(shown(), u"~/usr/local/lib/vst3 and ~/usr/local/lib/components"_qs);
    ASSERT_NO_FATAL_FAILURE(restart());
    tab = show<SettingsTab>();
    EXPECT_EQ(child<Kit::Segmented>(ground.get(), u"scopeControl"_qs)->value().toString(), u"allUsers"_qs);

    // Only the home folder itself, or a path inside it, is shortened.
    const struct {
        QString path;
        QString shown;
    } paths[] = {
        {home, u"~"_qs},
        {home + u"/usr/local/lib"_qs, u"~/usr/local/lib"_qs},
        {home + u"-other/lib"_qs, home + u"-other/lib"_qs},
        {home + u"x"_qs, home + u"x"_qs},
        {u"/usr/local/lib"_qs, u"/usr/local/lib"_qs},
    };
    for (const auto& row : paths)
        EXPECT_EQ(tab->shownPath(row.path), row.shown) << row.path.toStdString();
}

// "Install for" by keyboard, as a desktop radio group: the arrows move to
// the other choice and make it; Tab leaves the group and comes back to the
// choice made, whichever segment had the focus before.
TEST_F(SettingsTabTest, InstallForIsChosenWithTheArrowsAndTabComesBackToTheChoice)
{
    startModel();
    show<SettingsTab>();
    ground->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(ground.get(), kPatience));
    auto* scope = child<Kit::Segmented>(ground.get(), u"scopeControl"_qs);
    QAbstractButton* justMe = scope->segment(0);
    QAbstractButton* everyone = scope->segment(1);
    justMe->setFocus(Qt::TabFocusReason);
    const auto key = [](Qt::Key k, Qt::KeyboardModifiers m = {}) { QTest::keyClick(QApplication::focusWidget(), k, m); };
    const struct {
        Qt::Key key;
        QAbstractButton* focused;
        InstallScope scope;
    } table[] = {
        {Qt::Key_Right, everyone, InstallScope::allUsers}, {Qt::Key_Right, everyone, InstallScope::allUsers},
        {Qt::Key_Up, justMe, InstallScope::user},          {Qt::Key_Down, everyone, InstallScope::allUsers},
        {Qt::Key_Left, justMe, InstallScope::user},        {Qt::Key_Right, everyone, InstallScope::allUsers},
    };
    for (const auto& row : table) {
        key(row.key);
        EXPECT_EQ(QApplication::focusWidget(), row.focused);
        EXPECT_EQ(model->scope(), row.scope);
    }
    picture(u"settings-scope-keys"_qs);
    key(Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget(), justMe) << "Tab stayed in the group";
    EXPECT_NE(QApplication::focusWidget(), everyone);
    key(Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), everyone) << "Shift+Tab did not come back to the choice";
    key(Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_NE(QApplication::focusWidget(), justMe) << "Shift+Tab stopped at the segment not chosen";
}

// "Show" where nothing opens folders says so under its card, naming the
// folder, as "Show in Files" does on a product's page; a press that opens
// it, or another folder chosen, takes the sentence away.
TEST_F(SettingsTabTest, ShowWithNoFileManagerSaysWhichFolderDidNotOpen)
{
    ASSERT_TRUE(QDir(m_home.path()).mkpath(u".vst3"_qs));
    startModel();
    show<SettingsTab>();
    const QString sentence = u"Couldn't open the folder ~/.vst3: no file manager answered."_qs;
    const struct {
        const char* name;
        bool noFileManager;
        std::function<void()> act;
        QString note;
    } steps[] = {
        {"Show, nothing opens it", true, [&] { click(u"showFolder"_qs); }, sentence},
        {"Show, a file manager opens it", false, [&] { click(u"showFolder"_qs); }, u"(none)"_qs},
        {"Show again, nothing opens it", true, [&] { click(u"showFolder"_qs); }, sentence},
        {"another folder", true, [&] { model->setScope(InstallScope::allUsers); }, u"(none)"_qs},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        workspace->noFileManager = step.noFileManager;
        step.act();
        EXPECT_EQ(note(u"installForCard"_qs), step.note);
        if (step.note == sentence)
            picture(u"settings-show-failed"_qs);
    }
}

TEST_F(SettingsTabTest, ProblemReportsListSendAndClearWithTheirNote)
{
    spool(u"echo"_qs, u"hub.install"_qs, 4);
    spool(u"hub"_qs, u"hub.account"_qs);
    spool(u"reverb"_qs, u"hub.uninstall"_qs);
    spool(u"notes"_qs, u"hub.install.verifying"_qs);
    spool(u"gone"_qs, u"hub.feed"_qs);
    startModel();
    show<SettingsTab>();
    QWidget* card = child(ground.get(), u"problemsCard"_qs);
    const auto title = [&] { return shown<Views::SettingRow>(u"problemsRow"_qs)->text()->titleLabel()->text(); };

    EXPECT_EQ(title(), u"5 recent problems on this computer"_qs);
    EXPECT_EQ(texts(card, u"problemName"_qs).size(), 3);
    EXPECT_EQ(texts(card, u"problemsMore"_qs), QStringList{u"and 2 more"_qs});
    QStringList names = texts(card, u"problemName"_qs);
    QStringList known;
    for (const QString& id : {u"echo"_qs, u"hub"_qs, u"reverb"_qs, u"notes"_qs, u"gone"_qs})
        known.append(model->name(id));
    EXPECT_TRUE(known.contains(u"Tarnhub"_qs) && known.contains(u"gone"_qs));
    for (const QString& name : names)
        EXPECT_TRUE(known.contains(name)) << name.toStdString();
    for (const QLabel* label : card->findChildren<QLabel*>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    picture(u"settings-problems-five"_qs);

    // Offline, "Send" waits for the network; "Clear" does not.
    network->set(false);
    ASSERT_TRUE(eventually([&] { return model->offline(); }));
    EXPECT_FALSE(shown(u"sendProblems"_qs)->isEnabled());
    EXPECT_TRUE(shown(u"clearProblems"_qs)->isEnabled());
    network->set(true);
    ASSERT_TRUE(eventually([&] { return !model->offline() && !model->loading(); }));

    // A send that fails says why and keeps the reports.
    reportError = HubError::message(u"The server did not answer."_qs);
    click(u"sendProblems"_qs);
    ASSERT_TRUE(eventually([&] { return model->reportNote().has_value(); }));
    EXPECT_EQ(note(u"problemsCard"_qs), u"Couldn't send the reports now: The server did not answer."_qs);
    EXPECT_EQ(title(), u"5 recent problems on this computer"_qs);

    // While a send runs its button waits; the clear stays free.
    reportError.reset();
    reportGate = std::make_shared<Gate>();
    click(u"sendProblems"_qs);
    ASSERT_TRUE(eventually([&] { return reportGate->reached() > 0; }));
    EXPECT_FALSE(shown(u"sendProblems"_qs)->isEnabled());
    EXPECT_TRUE(shown(u"clearProblems"_qs)->isEnabled());
    reportGate->open();
    ASSERT_TRUE(eventually([&] { return !model->sendingReports(); }));
    EXPECT_EQ(note(u"problemsCard"_qs), u"Sent 5 reports. Thank you."_qs);
    EXPECT_EQ(title(), u"Recent problems"_qs);
    EXPECT_EQ(shown<Views::SettingRow>(u"problemsRow"_qs)->text()->detailLabel()->text(),
              u"Nothing went wrong lately."_qs);
    EXPECT_EQ(shown(u"sendProblems"_qs, false), nullptr);
    picture(u"settings-problems-sent"_qs);

    // One new problem, then Clear: the list and the note go.
    spool(u"echo"_qs, u"hub.install"_qs);
    model->refresh(false);
    ASSERT_TRUE(eventually([&] { return title() == u"1 recent problem on this computer"_qs; }));
    EXPECT_EQ(texts(card, u"problemCount"_qs), QStringList());
    click(u"clearProblems"_qs);
    EXPECT_EQ(title(), u"Recent problems"_qs);
    EXPECT_EQ(note(u"problemsCard"_qs), u"(none)"_qs);
    EXPECT_TRUE(model->problems().empty());
}

// What lies in a report file's place but can't be read is left by the
// spool, Clear and Send alike; the card says so for as long as it stays,
// with the home as "~", and never waits on a pipe.
TEST_F(SettingsTabTest, WhatCannotBeReadAsAReportIsShownAndOutlastsClearAndSend)
{
    spool(u"echo"_qs, u"hub.install"_qs);
    const QString folder = ReportSpool(m_home.path()).root() + u"/echo"_qs;
    const QString pipe = folder + u"/hub.pipe.json"_qs;
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(folder + u"/hub.install.json"_qs, folder + u"/hub.link.json"_qs));
    ASSERT_TRUE(QDir().mkpath(folder + u"/hub.folder.json"_qs));
    startModel();
    show<SettingsTab>();
    QWidget* card = child(ground.get(), u"problemsCard"_qs);
    const QString shown = u"~"_qs + folder.mid(m_home.path().size());
    const QStringList expected = {
        u"The report file "_qs + shown + u"/hub.folder.json can't be read (it is a folder); it was left as it is."_qs,
        u"The report file "_qs + shown + u"/hub.link.json can't be read (it is a link); it was left as it is."_qs,
        u"The report file "_qs + shown + u"/hub.pipe.json can't be read (it is a named pipe); it was left as it is."_qs,
    };
    ASSERT_TRUE(eventually([&] { return texts(card, u"problemUnreadable"_qs) == expected; }))
        << texts(card, u"problemUnreadable"_qs).join(u'\n').toStdString();
    EXPECT_EQ(texts(card, u"problemName"_qs).size(), 1);
    picture(u"settings-problems-unreadable"_qs);

    // Send takes the report and leaves the rest, which the card still names.
    ASSERT_TRUE(eventually([&] { return !model->loading(); }));
    click(u"sendProblems"_qs);
    ASSERT_TRUE(eventually([&] { return !model->sendingReports() && model->reportNote().has_value(); }));
    EXPECT_EQ(note(u"problemsCard"_qs), u"Sent 1 report. Thank you."_qs);
    EXPECT_EQ(texts(card, u"problemName"_qs), QStringList());
    EXPECT_EQ(texts(card, u"problemUnreadable"_qs), expected);

    // So does Clear.
    spool(u"echo"_qs, u"hub.install"_qs);
    model->refresh(false);
    ASSERT_TRUE(eventually([&] { return texts(card, u"problemName"_qs).size() == 1; }));
    click(u"clearProblems"_qs);
    ASSERT_TRUE(eventually([&] { return !QFileInfo::exists(folder + u"/hub.install.json"_qs); }));
    EXPECT_EQ(texts(card, u"problemName"_qs), QStringList());
    EXPECT_EQ(texts(card, u"problemUnreadable"_qs), expected);
    struct stat info = {};
    ASSERT_EQ(::lstat(QFile::encodeName(pipe).constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_TRUE(QFileInfo(folder + u"/hub.folder.json"_qs).isDir());
    EXPECT_TRUE(QFileInfo(folder + u"/hub.link.json"_qs).isSymLink());
}

TEST_F(SettingsTabTest, CountsShowAboveOneAndOptingInLeavesOnlyClear)
{
    spool(u"echo"_qs, u"hub.install"_qs, 4);
    spool(u"reverb"_qs, u"hub.uninstall"_qs);
    startModel();
    show<SettingsTab>();
    QWidget* card = child(ground.get(), u"problemsCard"_qs);
    EXPECT_EQ(texts(card, u"problemCount"_qs), QStringList{u"×4"_qs});
    EXPECT_EQ(texts(card, u"problemsMore"_qs), QStringList());
    for (QWidget* line : card->findChildren<QWidget*>(u"problem"_qs))
        EXPECT_EQ(line->toolTip(), Kit::plainToolTip(u"It went <b>wrong</b> & stayed so"_qs));

    // Opting in sends at once; with a gate the list stays while it runs.
    reportGate = std::make_shared<Gate>();
    click(u"sendReportsSwitch"_qs);
    ASSERT_TRUE(eventually([&] { return reportGate->reached() > 0; }));
    EXPECT_EQ(shown(u"sendProblems"_qs, false), nullptr);
    EXPECT_NE(shown(u"clearProblems"_qs, false), nullptr);
    picture(u"settings-problems-opted-in"_qs);

    // Rows drawn anew keep their place in the Tab order: down the right
    // column, then the bottom line.
    ground->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(ground.get(), kPatience));
    shown(u"sendReportsSwitch"_qs)->setFocus(Qt::TabFocusReason);
    for (const QString& next : {u"clearProblems"_qs, u"signOut"_qs, u"manageAccount"_qs, u"releaseNotesLink"_qs}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), shown(next)) << next.toStdString();
    }
    reportGate->open();
    ASSERT_TRUE(eventually([&] { return model->problems().empty(); }));
}

TEST_F(SettingsTabTest, AccountCardAndBottomLine)
{
    startModel();
    show<SettingsTab>();
    ASSERT_TRUE(eventually([&] { return model->account().has_value(); }));
    EXPECT_EQ(texts(ground.get(), u"hubVersion"_qs), QStringList{u"Tarnhub "_qs + Config::hubVersion()});
    auto* manage = child<Views::SettingRow>(ground.get(), u"manageRow"_qs);
    EXPECT_EQ(manage->text()->detailLabel()->text(), u"Managed on "_qs + Config::site().host());
    click(u"supportLink"_qs);
    EXPECT_EQ(workspace->opened.value(workspace->opened.size() - 1), u"mailto:"_qs + Config::supportEmail());
    picture(u"settings-tab"_qs);

    click(u"signOut"_qs);
    ASSERT_TRUE(eventually([&] { return model->screen() == Screen::login; }));
    EXPECT_EQ(shown<Views::SettingRow>(u"accountRow"_qs)->text()->titleLabel()->text(),
              u"Not signed in"_qs);
    EXPECT_EQ(shown(u"manageRow"_qs, false), nullptr);
}

} // namespace
} // namespace Hub::Test
