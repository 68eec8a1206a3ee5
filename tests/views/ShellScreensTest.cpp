// The root screen switch, the splash and the sign-in screen, driven by
// object name against a model over the model tests' fakes.
#include "ShellTestSupport.h"
#include "ViewTestSupport.h"

#include "Kit/Pill.h"
#include "Kit/TextInput.h"
#include "Shell/RootView.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QTest>

#include <algorithm>
#include <atomic>

using namespace Qt::StringLiterals;

namespace Hub::Test {
namespace {

// The fake identity, with the providers the service offers under the
// test's control.
struct OfferingIdentity : FakeIdentity {
    using FakeIdentity::FakeIdentity;

    std::optional<std::vector<OAuthProvider>> socialProviders(std::stop_token) const override
    {
        ++asked;
        return offered;
    }

    std::optional<std::vector<OAuthProvider>> offered =
        std::vector<OAuthProvider>{OAuthProvider::google, OAuthProvider::apple};
    mutable std::atomic<int> asked = 0;
};

class ShellScreens : public ShellFixture {
protected:
    void SetUp() override
    {
        ModelFixture::SetUp();
        offering = std::make_shared<OfferingIdentity>(log);
        identity = offering;
        Product echo = plugin(u"echo"_s, u"2.0"_s);
        m_catalog.products = {echo};
    }

    void TearDown() override
    {
        m_root.reset();
        ModelFixture::TearDown();
    }

    // The model and its root view, on screen at the window's size.
    void buildRoot()
    {
        build(m_catalog);
        m_root = std::make_unique<Shell::RootView>(model.get(), [this](QWidget* parent) {
            ++mainsMade;
            auto* main = new QWidget(parent);
            main->setObjectName(u"mainPlaceholder"_s);
            return main;
        });
        m_root->resize(1040, 720);
        m_root->show();
    }

    // Starts the model and lets the splash end on the sign-in screen, with
    // the offered providers loaded.
    void toSignIn()
    {
        buildRoot();
        startToFirstScreen();
        ASSERT_EQ(model->screen(), Screen::login);
        ASSERT_TRUE(eventually([this] { return offering->asked == 1; }));
    }

    QString shown() const { return m_root->current()->objectName(); }

    template<class T = QWidget>
    T* find(const QString& name) const
    {
        return child<T>(m_root.get(), name);
    }

    bool visible(const QString& name) const { return find(name)->isVisibleTo(m_root.get()); }

    void type(const QString& field, const QString& text)
    {
        auto* input = find<Kit::TextInput>(field);
        input->setFocus();
        QTest::keyClicks(input, text);
    }

    void click(const QString& button) { QTest::mouseClick(find<Kit::Pill>(button), Qt::LeftButton); }

    QString note() const
    {
        auto* label = find<QLabel>(u"loginNote"_s);
        return label->isVisibleTo(m_root.get()) ? label->text() : QString();
    }

    Catalog m_catalog;
    std::shared_ptr<OfferingIdentity> offering;
    std::unique_ptr<Shell::RootView> m_root;
    int mainsMade = 0;
};

// The splash stays until the model lets go, whatever the stored session
// says; then the screen the session calls for, the main screen made once.
TEST_F(ShellScreens, TheSplashHoldsUntilTheModelEndsItThenTheRootFollowsTheScreen)
{
    signInStored();
    buildRoot();
    EXPECT_EQ(shown(), u"splash"_s);
    saveScreenshot(m_root.get(), u"shell-splash"_s);

    model->start();
    ASSERT_TRUE(eventually([this] { return model->session().has_value(); }));
    QCoreApplication::processEvents();
    clock->advance(HubModel::kSplashSeconds - 0.05);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(), u"splash"_s) << "the session is read, but the splash has not had its time";
    EXPECT_EQ(mainsMade, 0);

    clock->advance(0.05);
    ASSERT_TRUE(eventually([this] { return shown() == u"mainPlaceholder"_s; }));

    // Back and forth: the same main screen, made once.
    model->setScreen(Screen::login);
    EXPECT_EQ(shown(), u"signIn"_s);
    model->setScreen(Screen::main);
    EXPECT_EQ(shown(), u"mainPlaceholder"_s);
    EXPECT_EQ(mainsMade, 1);
}

// Without a stored session the splash ends on the sign-in screen; a
// password sign-in from there registers the device and opens the main one.
TEST_F(ShellScreens, APasswordSignInRegistersTheDeviceAndOpensTheMainScreen)
{
    toSignIn();
    EXPECT_EQ(shown(), u"signIn"_s);
    EXPECT_EQ(mainsMade, 0);
    EXPECT_FALSE(visible(u"busy"_s));
    EXPECT_EQ(note(), QString());
    saveScreenshot(m_root.get(), u"shell-sign-in"_s);

    type(u"email"_s, u"ada@example.com"_s);
    type(u"password"_s, u"correct horse"_s);
    click(u"signInButton"_s);
    ASSERT_TRUE(eventually([this] { return shown() == u"mainPlaceholder"_s; }));
    const QStringList calls = log->calls();
    EXPECT_TRUE(calls.contains(u"signIn ada@example.com"_s)) << calls.join(u"; "_s).toStdString();
    EXPECT_TRUE(calls.contains(u"register jwt-password machine-1 studio"_s)) << calls.join(u"; "_s).toStdString();

    // Sent back to sign in, the e-mail stays but no password waits there.
    model->signOut();
    ASSERT_TRUE(eventually([this] { return shown() == u"signIn"_s; }));
    EXPECT_EQ(find<Kit::TextInput>(u"email"_s)->text(), u"ada@example.com"_s);
    EXPECT_EQ(find<Kit::TextInput>(u"password"_s)->text(), QString());
}

// A build without a sign-in key says so before anyone types, as a plain
// sentence rather than a failure, and offers nothing that could not work.
TEST_F(ShellScreens, ABuildWithoutSignInSaysSoBeforeAnyoneTypes)
{
    signInAvailable = false;
    toSignIn();
    ASSERT_TRUE(visible(u"signInUnavailable"_s));
    EXPECT_EQ(find<QLabel>(u"signInUnavailable"_s)->text(), u"Sign-in isn't set up yet in this version of Tarnhub."_s);
    EXPECT_EQ(note(), QString()) << "nothing has failed";
    for (const QString& control : {u"email"_s, u"password"_s, u"signInButton"_s, u"googleButton"_s, u"appleButton"_s})
        EXPECT_FALSE(find(control)->isEnabled()) << control.toStdString();
    EXPECT_FALSE(find<Kit::TextInput>(u"email"_s)->hasError());
    saveScreenshot(m_root.get(), u"shell-sign-in-unavailable"_s);

    // A build with a key shows no such sentence.
    renew();
    m_root.reset();
    signInAvailable = true;
    toSignIn();
    EXPECT_FALSE(visible(u"signInUnavailable"_s));
    EXPECT_TRUE(find(u"signInButton"_s)->isEnabled());
}

TEST_F(ShellScreens, ACodeStepShowsItsSentenceTakesTheCodeAndHasAWayBack)
{
    const QString asked = u"Enter the code we sent to a…@example.com."_s;
    // Longer than the instruction: it takes a second line.
    const QString wrong = u"That code isn't right. Check the newest e-mail we sent you and type its six digits again."_s;
    identity->errors = {HubError::api(u"needs_code"_s, asked), HubError::api(u"code_invalid"_s, wrong),
                        HubError::api(u"needs_code"_s, asked)};
    toSignIn();
    type(u"email"_s, u"ada@example.com"_s);
    type(u"password"_s, u"pw"_s);
    QTest::keyClick(find(u"password"_s), Qt::Key_Return);

    ASSERT_TRUE(eventually([this] { return visible(u"code"_s); }));
    EXPECT_FALSE(visible(u"email"_s));
    EXPECT_EQ(note(), asked);
    EXPECT_TRUE(find(u"code"_s)->hasFocus());
    EXPECT_FALSE(find<Kit::TextInput>(u"code"_s)->hasError()) << "an instruction is not a failure";
    const auto noteColour = [this] { return find(u"loginNote"_s)->palette().color(QPalette::WindowText); };
    EXPECT_EQ(noteColour(), Kit::Theme::muted()) << "an instruction is not a warning";
    const auto fieldAt = [this] { return find(u"code"_s)->mapTo(m_root.get(), QPoint(0, 0)); };
    const QPoint asking = fieldAt();
    saveScreenshot(m_root.get(), u"shell-sign-in-code"_s);
    {
        // The caret stands alone in the middle of the empty field, not
        // inside its placeholder, which shows again once the focus goes.
        auto* field = find<Kit::TextInput>(u"code"_s);
        const auto besideTheCaret = [field] {
            const QImage shot = field->grab().toImage();
            const int middle = field->width() / 2;
            const int line = field->fontMetrics().height();
            const int top = (field->height() - line) / 2;
            return std::max(brightest(shot.copy(middle - 60, top, 56, line)),
                            brightest(shot.copy(middle + 4, top, 56, line)));
        };
        ASSERT_TRUE(field->hasFocus());
        const int typing = besideTheCaret();
        field->clearFocus();
        EXPECT_GT(besideTheCaret(), typing + 40) << "the placeholder shows around the caret";
        field->setFocus(Qt::OtherFocusReason);
    }

    // A wrong code keeps the step and says why, in the warning colour,
    // where the instruction was: nothing below it moves.
    type(u"code"_s, u"111111"_s);
    click(u"verifyButton"_s);
    ASSERT_TRUE(eventually([this] { return !model->signingIn() && !note().isEmpty(); }));
    EXPECT_TRUE(visible(u"code"_s));
    EXPECT_EQ(note(), wrong);
    EXPECT_TRUE(find<Kit::TextInput>(u"code"_s)->hasError());
    EXPECT_EQ(noteColour(), Kit::Theme::warn());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    EXPECT_EQ(fieldAt(), asking) << "the column moves";
    saveScreenshot(m_root.get(), u"shell-sign-in-code-wrong"_s);

    // Back leads to the e-mail form, without the code step's sentence.
    click(u"backButton"_s);
    EXPECT_TRUE(visible(u"email"_s));
    EXPECT_FALSE(visible(u"code"_s));
    EXPECT_EQ(note(), QString());

    // Signing in again asks again; a fresh field takes the right code.
    click(u"signInButton"_s);
    ASSERT_TRUE(eventually([this] { return visible(u"code"_s) && !model->signingIn(); }));
    EXPECT_EQ(find<Kit::TextInput>(u"code"_s)->text(), QString());
    type(u"code"_s, u"123 456"_s);
    QTest::keyClick(find(u"code"_s), Qt::Key_Return);
    ASSERT_TRUE(eventually([this] { return shown() == u"mainPlaceholder"_s; }));
    const QStringList calls = log->calls();
    EXPECT_TRUE(calls.contains(u"verify 111111"_s)) << calls.join(u"; "_s).toStdString();
    EXPECT_TRUE(calls.contains(u"verify 123 456"_s)) << calls.join(u"; "_s).toStdString();
    EXPECT_TRUE(calls.contains(u"register jwt-code machine-1 studio"_s)) << calls.join(u"; "_s).toStdString();
}

// Which browser sign-ins the screen offers: the service's list, less a
// provider that answered "provider_off".
TEST_F(ShellScreens, OnlyTheProvidersTheModelOffersHaveAButton)
{
    struct Row {
        const char* name;
        std::optional<std::vector<OAuthProvider>> offered;
        std::optional<OAuthProvider> pressed; // answers "provider_off"
        bool google;
        bool apple;
    };
    const Row rows[] = {
        {"both offered", std::vector{OAuthProvider::google, OAuthProvider::apple}, std::nullopt, true, true},
        {"the list cannot be known", std::nullopt, std::nullopt, true, true},
        {"apple only", std::vector{OAuthProvider::apple}, std::nullopt, false, true},
        {"none", std::vector<OAuthProvider>{}, std::nullopt, false, false},
        {"google switched off", std::vector{OAuthProvider::google, OAuthProvider::apple}, OAuthProvider::google, false,
         true},
        {"apple switched off", std::vector{OAuthProvider::google, OAuthProvider::apple}, OAuthProvider::apple, true,
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        renew();
        offering = std::make_shared<OfferingIdentity>(log);
        identity = offering;
        offering->offered = row.offered;
        toSignIn();
        if (row.pressed) {
            identity->errors = {HubError::api(u"provider_off"_s, u"That sign-in is switched off."_s)};
            click(*row.pressed == OAuthProvider::google ? u"googleButton"_s : u"appleButton"_s);
            ASSERT_TRUE(eventually([this] { return !model->signingIn() && !note().isEmpty(); }));
            EXPECT_EQ(note(), u"That sign-in is switched off."_s);
        }
        // The offered list arrives from a worker; wait for the buttons to agree.
        EXPECT_TRUE(eventually([&] {
            return visible(u"googleButton"_s) == row.google && visible(u"appleButton"_s) == row.apple;
        })) << "google " << visible(u"googleButton"_s) << ", apple " << visible(u"appleButton"_s);
        EXPECT_EQ(shown(), u"signIn"_s);
    }
    saveScreenshot(m_root.get(), u"shell-sign-in-provider-off"_s);
}

// A failure's sentence is shown as it came, even when it looks like markup.
TEST_F(ShellScreens, AFailureSentenceIsShownAsPlainText)
{
    const QString sentence = u"<b>Wrong</b> password. Try again, or reset it on <a href=\"https://evil.example\">"
                             u"tarnaudio.example</a>."_s;
    identity->errors = {HubError::api(u"wrong_password"_s, sentence)};
    toSignIn();
    type(u"email"_s, u"ada@example.com"_s);
    type(u"password"_s, u"nope"_s);
    click(u"signInButton"_s);
    ASSERT_TRUE(eventually([this] { return !model->signingIn() && !note().isEmpty(); }));

    auto* label = find<QLabel>(u"loginNote"_s);
    EXPECT_EQ(label->text(), sentence);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_FALSE(label->openExternalLinks());
    EXPECT_TRUE(find<Kit::TextInput>(u"password"_s)->hasError());
    EXPECT_EQ(find<Kit::TextInput>(u"email"_s)->text(), u"ada@example.com"_s) << "the typed address is kept";
    saveScreenshot(m_root.get(), u"shell-sign-in-failure"_s);
}

// The splash gives way to the sign-in screen with the caret in the e-mail
// field: what is typed at once is not lost.
TEST_F(ShellScreens, TheEMailFieldHasTheCaretAsSoonAsTheSignInScreenShows)
{
    buildRoot();
    m_root->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_root.get(), kPatience));
    EXPECT_EQ(shown(), u"splash"_s);
    startToFirstScreen();
    ASSERT_EQ(shown(), u"signIn"_s);
    EXPECT_EQ(QApplication::focusWidget(), find(u"email"_s));
    // Keys as the window system delivers them: to the focus window.
    for (const char c : "ada@example.com"_ba)
        QTest::keyClick(QGuiApplication::focusWindow(), c);
    EXPECT_EQ(find<Kit::TextInput>(u"email"_s)->text(), u"ada@example.com"_s);
    saveScreenshot(m_root.get(), u"shell-sign-in-first-field"_s);
}

// By keyboard alone, in reading order; a failure takes the focus to the
// first outlined field, which a screen reader then reads with the failure.
TEST_F(ShellScreens, TheSignInScreenWorksByKeyboardAndAnnouncesAFailure)
{
    const QString sentence = u"Wrong password. Try again."_s;
    identity->errors = {HubError::api(u"wrong_password"_s, sentence)};
    toSignIn();
    m_root->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_root.get(), kPatience));
    auto* email = find<Kit::TextInput>(u"email"_s);
    email->setFocus(Qt::OtherFocusReason);
    QStringList order{email->objectName()};
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.append(QApplication::focusWidget()->objectName());
    }
    EXPECT_EQ(order, (QStringList{u"email"_s, u"password"_s, u"signInButton"_s, u"googleButton"_s, u"appleButton"_s}));
    QAccessibleInterface* field = spoken(email);
    EXPECT_EQ(field->text(QAccessible::Name), u"E-mail"_s);
    EXPECT_EQ(field->text(QAccessible::Description), QString()) << "the placeholder is read twice";

    AccessEvents events;
    email->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(email, u"ada@example.com"_s);
    QTest::keyClick(email, Qt::Key_Return);
    ASSERT_EQ(QApplication::focusWidget(), find(u"password"_s));
    QTest::keyClicks(QApplication::focusWidget(), u"nope"_s);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_TRUE(eventually([this] { return !model->signingIn() && !note().isEmpty(); }));
    EXPECT_EQ(QApplication::focusWidget(), email) << "the failure left the focus where it was";
    EXPECT_TRUE(email->hasError());
    EXPECT_EQ(field->text(QAccessible::Description), sentence);
    EXPECT_EQ(spoken(find(u"password"_s))->text(QAccessible::Description), sentence);
    EXPECT_GE(events.count(QAccessible::Focus, email), 1) << "no focus event for a screen reader to follow";
    saveScreenshot(m_root.get(), u"shell-sign-in-failure-focused"_s);
}

// While a sign-in runs nothing else can start; only the browser's has a
// Cancel, which gives the screen back at once.
TEST_F(ShellScreens, ASignInIsBusyWhileItRunsAndOnlyTheBrowsersCanBeCancelled)
{
    for (const bool browser : {true, false}) {
        SCOPED_TRACE(browser ? "browser" : "password");
        renew();
        offering = std::make_shared<OfferingIdentity>(log);
        identity = offering;
        identity->gate = std::make_shared<Gate>();
        toSignIn();
        type(u"email"_s, u"ada@example.com"_s);
        type(u"password"_s, u"pw"_s);
        click(browser ? u"googleButton"_s : u"signInButton"_s);
        ASSERT_TRUE(eventually([this] { return identity->gate->reached() == 1; }));
        QCoreApplication::processEvents();

        EXPECT_TRUE(visible(u"busy"_s));
        EXPECT_EQ(visible(u"cancelButton"_s), browser);
        for (const QString& control :
             {u"email"_s, u"password"_s, u"signInButton"_s, u"googleButton"_s, u"appleButton"_s})
            EXPECT_FALSE(find(control)->isEnabled()) << control.toStdString();
        if (browser) {
            saveScreenshot(m_root.get(), u"shell-sign-in-browser"_s);
            click(u"cancelButton"_s);
            EXPECT_FALSE(model->signingIn());
            EXPECT_FALSE(visible(u"busy"_s));
            EXPECT_TRUE(find(u"signInButton"_s)->isEnabled());
        }
        identity->gate->open();
        if (!browser) {
            ASSERT_TRUE(eventually([this] { return shown() == u"mainPlaceholder"_s; }));
        }
    }
}

} // namespace
} // namespace Hub::Test
