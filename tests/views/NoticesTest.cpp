#include "FrameTestSupport.h"

#include "Kit/Pill.h"
#include "Views/Common/NotesList.h"
#include "Views/Frame/HubUpdateBar.h"
#include "Views/Frame/Notices.h"
#include "Views/Page/JobLine.h"

#include <QApplication>
#include <QLabel>

namespace Hub::Test {
namespace {

using Views::HubUpdateBar;
using Views::LegacyNotice;
using Views::OfflineReminder;
using Views::SignInAgainBanner;

class NoticesTest : public FrameFixture {};

TEST_F(NoticesTest, SignInAgainShowsOnlyWithoutASessionAndLeadsToTheSignInScreen)
{
    startModel();
    SignInAgainBanner kept(model.get());
    EXPECT_TRUE(kept.isHidden()) << "a session still held needs no new sign-in";

    // The service refuses the session at the next check: the user stays on
    // the main window and is asked to sign in again.
    service->accountError = HubError::api(u"unauthorized"_qs, u"Sign in again."_qs);
    model->refresh(false);
    ASSERT_TRUE(eventually([this] { return model->signInAgain(); }));
    SignInAgainBanner banner(model.get());
    EXPECT_FALSE(banner.isHidden());
    EXPECT_FALSE(kept.isHidden()) << "a banner already shown follows the model";
    EXPECT_EQ(child<QLabel>(&banner, u"signInAgainText"_qs)->text(), u"Sign in again to check for updates."_qs);
    picture(&banner, u"notice-sign-in-again"_qs);

    clickCentre(child(&banner, u"signInAgainButton"_qs));
    EXPECT_EQ(model->screen(), Screen::login);
    EXPECT_EQ(model->loginNote(), u"Sign in again so Tarnhub can check for updates."_qs);
}

TEST_F(NoticesTest, OfflineReminderCountsWholeDaysAfterNinetyDays)
{
    startModel();
    ASSERT_TRUE(model->account().has_value());
    const QDateTime online = model->account()->onlineAt;
    ASSERT_EQ(online, clock->current) << "the last contact is the model's clock";
    const QString tail = u" days. Everything keeps working. Connect when you can so updates stay current."_qs;
    const struct {
        qint64 seconds;
        std::optional<QString> text;
    } table[] = {
        {7'776'000, std::nullopt},
        {7'776'001, u"You've been offline for 90"_qs + tail},
        {7'862'399, u"You've been offline for 90"_qs + tail},
        {7'862'400, u"You've been offline for 91"_qs + tail},
        {-50, std::nullopt},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.seconds);
        EXPECT_EQ(OfflineReminder::reminder(model->account(), online.addSecs(row.seconds), u"updates"_qs), row.text);
    }
    EXPECT_EQ(OfflineReminder::reminder(std::nullopt, online.addSecs(8'000'000), u"updates"_qs), std::nullopt)
        << "without an account there is nothing to remind of";

    // The widget measures against the model's clock.
    clock->current = online.addSecs(7'862'399);
    OfflineReminder reminder(model.get(), u"updates"_qs);
    EXPECT_FALSE(reminder.isHidden());
    EXPECT_EQ(reminder.text(), u"You've been offline for 90"_qs + tail);
    picture(&reminder, u"notice-offline-reminder"_qs);
    clock->current = online.addSecs(7'776'000);
    OfflineReminder early(model.get(), u"updates"_qs);
    EXPECT_TRUE(early.isHidden());
}

// The older copy for all users lies in the all-users folders of the install
// roots, which the sentence names (here under the isolated home, so "~").
TEST_F(NoticesTest, LegacyNoticeNamesTheRealFoldersAndRemovesTheOldCopy)
{
    Product verb = plugin(u"verb"_qs, u"2.0"_qs);
    verb.displayName = u"Verb & <b>Co</b>"_qs;
    catalog.products.push_back(verb);
    catalog.products.push_back(plugin(u"plate"_qs, u"2.0"_qs));
    installer->copies[u"verb"_qs] = {copy(PluginFormat::vst3, u"2.0"_qs), copy(PluginFormat::au, u"2.0"_qs),
                                     copy(PluginFormat::vst3, u"1.2"_qs, InstallScope::allUsers),
                                     copy(PluginFormat::au, u"1.1"_qs, InstallScope::allUsers)};
    installer->copies[u"plate"_qs] = {copy(PluginFormat::au, u"2.0"_qs),
                                      copy(PluginFormat::au, u"1.0"_qs, InstallScope::allUsers)};
    installer->copies[u"reverb"_qs] = {copy(PluginFormat::vst3, u"1.0"_qs, InstallScope::allUsers)};
    startModel();

    const struct {
        QString id;
        bool named;
        std::optional<QString> sentence;
    } table[] = {
        {u"verb"_qs, true,
         u"Verb & <b>Co</b>: an older copy for all users is still in ~/usr/local/lib/vst3 and "
         "~/usr/local/lib/components (VST3 1.2, AU 1.1). Your DAW may load it instead."_qs},
        {u"plate"_qs, true,
         u"plate: an older copy for all users is still in ~/usr/local/lib/components (AU 1.0). Your DAW may load it "
         "instead."_qs},
        {u"plate"_qs, false,
         u"An older copy for all users is still in ~/usr/local/lib/components (AU 1.0). Your DAW may load it "
         "instead."_qs},
        // A copy for all users alone is the only copy, not an older one.
        {u"reverb"_qs, true, std::nullopt},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(QString(row.id + (row.named ? u" named"_qs : u""_qs)).toStdString());
        LegacyNotice notice(model.get(), row.id, row.named);
        EXPECT_EQ(notice.isHidden(), !row.sentence);
        if (!row.sentence)
            continue;
        auto* sentence = child<QLabel>(&notice, u"legacySentence"_qs);
        EXPECT_EQ(sentence->text(), *row.sentence);
        EXPECT_EQ(sentence->textFormat(), Qt::PlainText);
        EXPECT_FALSE(sentence->text().contains(u"/Library/Audio"_qs));
        picture(&notice, u"notice-legacy-"_qs + row.id + (row.named ? u"-named"_qs : u""_qs), 760);
    }

    // The press removes the old copies for all users, settings kept. The
    // notice is gone while that runs; a failed removal leaves the copies and
    // the notice returns; a removal that works ends it.
    LegacyNotice notice(model.get(), u"plate"_qs, false);
    ASSERT_FALSE(notice.isHidden());
    installer->failure = std::make_exception_ptr(HubError::message(u"The folder is locked."_qs));
    clickCentre(child(&notice, u"legacyRemove"_qs));
    EXPECT_TRUE(notice.isHidden());
    ASSERT_TRUE(eventually([this] { return stateOf(u"plate"_qs).job.kind == Job::Kind::failed; }));
    EXPECT_TRUE(log->calls().contains(u"uninstall plate au allUsers kept"_qs));
    EXPECT_FALSE(notice.isHidden());
    installer->failure = nullptr;
    clickCentre(child(&notice, u"legacyRemove"_qs));
    ASSERT_TRUE(eventually([this] { return model->legacyCopies(*model->product(u"plate"_qs)).isEmpty(); }));
    EXPECT_TRUE(notice.isHidden());
}

TEST_F(NoticesTest, UpdateBarFollowsTheReleaseTheNetworkAndTheSelfUpdate)
{
    catalog.hubReleases = std::vector<ReleaseNote>{
        {u"999.0"_qs, u"2030-01-01"_qs, {u"Faster <b>scans</b> & fewer clicks"_qs}},
        {u"998.0"_qs, std::nullopt, {u"Two"_qs}},
        {u"997.0"_qs, std::nullopt, {u"Three"_qs}},
        {u"996.0"_qs, std::nullopt, {u"Four"_qs}},
        {u"995.0"_qs, std::nullopt, {u"Five"_qs}},
    };
    open();
    auto* bar = new HubUpdateBar(model.get());
    auto* title = child<QLabel>(bar, u"hubUpdateTitle"_qs);
    auto* button = child<Kit::Pill>(bar, u"hubUpdateButton"_qs);
    auto* whatsNew = child(bar, u"hubWhatsNew"_qs);
    EXPECT_FALSE(bar->isHidden());
    EXPECT_EQ(title->text(), u"Tarnhub 999.0 is out"_qs);
    EXPECT_EQ(title->font().capitalization(), QFont::AllUppercase);
    EXPECT_FALSE(whatsNew->isHidden());

    const struct {
        bool online;
        QString title;
        bool enabled;
    } table[] = {
        {false, u"Needs internet"_qs, false},
        {true, u"Update and restart"_qs, true},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.online);
        network->set(row.online);
        ASSERT_TRUE(eventually([&] { return model->offline() != row.online; }));
        EXPECT_EQ(button->text(), row.title);
        EXPECT_EQ(button->isEnabled(), row.enabled);
        picture(bar, row.online ? u"hub-update-bar"_qs : u"hub-update-bar-offline"_qs, 760);
    }

    // The popover shows the three newest notes and the link to all of them.
    bar->setParent(window.get());
    bar->show();
    clickCentre(whatsNew);
    ASSERT_NE(bar->notes(), nullptr);
    QStringList shown;
    for (const QWidget* note : bar->notes()->findChildren<QWidget*>())
        if (note->objectName().startsWith(u"note-"_qs))
            shown.append(note->objectName());
    EXPECT_EQ(shown, (QStringList{u"note-999.0"_qs, u"note-998.0"_qs, u"note-997.0"_qs}));
    EXPECT_NE(bar->notes()->findChild<QWidget*>(u"notesLink"_qs), nullptr);
    saveScreenshot(bar->notes(), u"hub-update-notes"_qs);
    bar->notes()->close();
    ASSERT_TRUE(eventually([&] { return bar->notes() == nullptr; }));

    // While the update runs the button waits; a failure shows in the job
    // line and gives the button back.
    packages->failure = HubError::message(u"The package is damaged."_qs);
    button->click();
    EXPECT_TRUE(model->hubJob().isWorking());
    EXPECT_FALSE(button->isEnabled());
    EXPECT_FALSE(child(bar, u"hubUpdateJob"_qs)->isHidden());
    ASSERT_TRUE(eventually([this] { return model->hubJob().kind == Job::Kind::failed; }));
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(child<QLabel>(bar, u"jobMessage"_qs)->text(), model->hubJob().message);
    picture(bar, u"hub-update-bar-failed"_qs, 760);
    delete bar;

    // Without notes there is no "What's new"; without a newer release, no bar.
    catalog.hubReleases = std::vector<ReleaseNote>{};
    model->shutdown();
    window.reset();
    model.reset();
    startModel();
    HubUpdateBar noNotes(model.get());
    EXPECT_FALSE(noNotes.isHidden());
    EXPECT_TRUE(child(&noNotes, u"hubWhatsNew"_qs)->isHidden());
}

TEST_F(NoticesTest, UpdateBarTakesNoRoomWithoutANewerRelease)
{
    catalog.hub.reset();
    startModel();
    ASSERT_FALSE(model->hubUpdate().has_value());
    HubUpdateBar bar(model.get());
    EXPECT_TRUE(bar.isHidden());
}

} // namespace
} // namespace Hub::Test
