#include "ViewTestSupport.h"

#include "Kit/ConfirmDialog.h"
#include "Kit/Control.h"
#include "Kit/EscapeKey.h"
#include "Kit/ExternalLink.h"
#include "Kit/InkKnob.h"
#include "Kit/OnChangeWithOld.h"
#include "Kit/Pill.h"
#include "Kit/Segmented.h"
#include "Kit/Switches.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Kit/WindowDragArea.h"

#include "QStringPrinter.h"

#include <QAccessible>
#include <QApplication>
#include <QHelpEvent>
#include <QToolTip>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <functional>
#include <memory>

namespace Hub::Kit {
namespace {

using Hub::Test::activeWindow;

TEST(PillLook, drawsAtTheOpacityOfItsState)
{
    struct Row {
        const char* name;
        bool enabled;
        bool down;
        qreal opacity;
    };
    const Row rows[] = {
        {"normal", true, false, 1.0},
        {"pressed", true, true, 0.7},
        {"disabled", false, false, 0.35},
        {"disabled-pressed", false, true, 0.35},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Pill pill(QStringLiteral("Update all"), PillStyle{QColor(Qt::white), Theme::bg(), true, false});
        pill.resize(pill.sizeHint());
        pill.setEnabled(row.enabled);
        pill.setDown(row.down);
        const QImage image = Hub::Test::renderOver(&pill, Qt::black);
        // Inside the capsule, left of the label: pure fill over black.
        const QColor fill = image.pixelColor(8, pill.height() / 2);
        EXPECT_NEAR(fill.red(), 255 * row.opacity, 3);
        EXPECT_NEAR(fill.green(), 255 * row.opacity, 3);
        Hub::Test::saveScreenshot(image, QStringLiteral("kit-pill-") + QLatin1String(row.name));
    }
}

TEST(PillLook, unfilledIsClearInsideAndKeepsItsHeights)
{
    Pill outlined(QStringLiteral("Cancel"), PillStyle{std::nullopt, Theme::bg(), false, false});
    outlined.resize(outlined.sizeHint());
    EXPECT_EQ(outlined.height(), 46);
    const QImage image = Hub::Test::renderOver(&outlined, QColor(40, 50, 60));
    EXPECT_EQ(image.pixelColor(10, outlined.height() / 2), QColor(40, 50, 60));
    EXPECT_GT(image.pixelColor(outlined.width() / 2, 0).red(), 100) << "no outline at the top edge";

    Pill small(QStringLiteral("Cancel"), PillStyle{std::nullopt, Theme::bg(), true, false});
    EXPECT_EQ(small.sizeHint().height(), 34);
    EXPECT_GT(outlined.sizeHint().width(), small.sizeHint().width());
}

TEST(PillInput, onlyTheCapsuleClicksAndSpaceClicksOnce)
{
    auto* pill = new Pill(QStringLiteral("Install"), PillStyle{Theme::ink(), Theme::bg(), true, false});
    auto window = activeWindow(pill);
    QSignalSpy clicks(pill, &QAbstractButton::clicked);
    const int w = pill->width(), h = pill->height();
    for (QPoint corner : {QPoint(1, 1), QPoint(w - 2, 1), QPoint(1, h - 2), QPoint(w - 2, h - 2)})
        QTest::mouseClick(pill, Qt::LeftButton, {}, corner);
    EXPECT_EQ(clicks.count(), 0) << "a click outside the rounded ends pressed the pill";

    QTest::mouseClick(pill, Qt::LeftButton, {}, QPoint(h / 2, h / 2));
    QTest::mouseClick(pill, Qt::LeftButton, {}, QPoint(w / 2, h / 2));
    EXPECT_EQ(clicks.count(), 2);

    // Reached the way a keyboard user reaches it, so the picture shows the
    // ring that user sees; the clicks above left none.
    pill->clearFocus();
    QTest::keyClick(window.get(), Qt::Key_Tab);
    ASSERT_TRUE(pill->hasFocus());
    ASSERT_TRUE(keyboardFocus(pill));
    QTest::keyClick(pill, Qt::Key_Space);
    EXPECT_EQ(clicks.count(), 3);
    Hub::Test::saveScreenshot(window.get(), QStringLiteral("kit-pill-focused"));

    pill->setEnabled(false);
    QTest::mouseClick(pill, Qt::LeftButton, {}, QPoint(w / 2, h / 2));
    EXPECT_EQ(clicks.count(), 3) << "a disabled pill clicked";
}

TEST(Switches, flipOnClickAndSpaceAndSpeakTheirState)
{
    struct Row {
        const char* name;
        std::function<SwitchButton*()> make;
        // Where a click lands: on the label, away from the knob.
        qreal labelX;
    };
    const Row rows[] = {
        {"row", [] { return new RowSwitch(QStringLiteral("Install updates automatically")); }, 0.1},
        {"ink", [] { return new InkSwitch(QStringLiteral("Also remove settings and presets")); }, 0.8},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SwitchButton* sw = row.make();
        auto window = activeWindow(sw);
        window->resize(420, window->height());
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(sw);
        ASSERT_NE(spoken, nullptr);
        EXPECT_EQ(spoken->role(), QAccessible::CheckBox);
        EXPECT_EQ(spoken->text(QAccessible::Name), sw->text());
        EXPECT_FALSE(spoken->state().checked);

        const QPoint onLabel(int(sw->width() * row.labelX), sw->height() / 2);
        QTest::mouseClick(sw, Qt::LeftButton, {}, onLabel);
        EXPECT_TRUE(sw->isChecked());
        EXPECT_TRUE(sw->knob()->isOn());
        EXPECT_TRUE(spoken->state().checked);
        Hub::Test::saveScreenshot(window.get(), QStringLiteral("kit-switch-%1-on").arg(QLatin1String(row.name)));

        sw->setFocus(Qt::TabFocusReason);
        QTest::keyClick(sw, Qt::Key_Space);
        EXPECT_FALSE(sw->isChecked());
        EXPECT_FALSE(sw->knob()->isOn());
        EXPECT_FALSE(spoken->state().checked);

        auto* actions = spoken->actionInterface();
        ASSERT_NE(actions, nullptr);
        actions->doAction(QAccessibleActionInterface::toggleAction());
        EXPECT_TRUE(sw->isChecked()) << "assistive technology could not toggle it";

        sw->setEnabled(false);
        QTest::mouseClick(sw, Qt::LeftButton, {}, onLabel);
        EXPECT_TRUE(sw->isChecked()) << "a disabled switch flipped";
        Hub::Test::saveScreenshot(window.get(), QStringLiteral("kit-switch-%1-disabled").arg(QLatin1String(row.name)));
    }
}

// A switch is a button; the title and detail inside it must still draw in
// the colours their text styles gave them, and dim with the switch.
TEST(Switches, labelsDrawInTheirOwnColoursAndDimWhenDisabled)
{
    struct Row {
        const char* name;
        std::function<SwitchButton*(QWidget* label)> make;
    };
    const Row rows[] = {
        {"row", [](QWidget* label) { return new RowSwitch(QStringLiteral("AU"), label); }},
        {"ink", [](QWidget* label) { return new InkSwitch(QStringLiteral("AU"), label); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto* label = new QWidget;
        auto* layout = new QVBoxLayout(label);
        QLabel* title = plainLabel(QStringLiteral("AU"));
        setProseStyle(title, Theme::prose(14), Theme::ink());
        QLabel* detail = plainLabel(QStringLiteral("Ardour, Reaper, Bitwig, Qtractor"));
        setFootStyle(detail, 12.5);
        layout->addWidget(title);
        layout->addWidget(detail);
        SwitchButton* sw = row.make(label);
        auto window = activeWindow(sw);
        window->resize(420, window->height());

        const int titleLit = Hub::Test::brightest(Hub::Test::renderOver(title, Theme::panel()));
        const int detailLit = Hub::Test::brightest(Hub::Test::renderOver(detail, Theme::panel()));
        EXPECT_GT(titleLit, qGray(Theme::muted().rgb()) + 20) << "the title is not ink";
        EXPECT_LE(detailLit, qGray(Theme::muted().rgb()) + 2) << "the detail is brighter than muted";
        EXPECT_GT(detailLit, qGray(Theme::dim().rgb())) << "the detail is dimmed while enabled";

        sw->setEnabled(false);
        EXPECT_LT(Hub::Test::brightest(Hub::Test::renderOver(title, Theme::panel())), titleLit / 2);
        EXPECT_LT(Hub::Test::brightest(Hub::Test::renderOver(detail, Theme::panel())), detailLit / 2);
    }
}

TEST(OnChangeWithOldValues, passTheValueLastSeenOrTheNewOneBeforeAnything)
{
    using Calls = QList<std::pair<QStringList, QStringList>>;
    struct Row {
        const char* name;
        std::optional<QStringList> appeared;
        QList<QStringList> changes;
        Calls calls;
    };
    const QStringList none, au{QStringLiteral("AU")}, both{QStringLiteral("AU"), QStringLiteral("VST3")};
    const Row rows[] = {
        {"seen at appearance", none, {au, both}, {{none, au}, {au, both}}},
        {"nothing seen yet", std::nullopt, {au, both}, {{au, au}, {au, both}}},
        {"same value again", au, {au}, {{au, au}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Calls calls;
        OnChangeWithOld<QStringList> watch([&](const QStringList& old, const QStringList& now) { calls.append({old, now}); });
        if (row.appeared)
            watch.appear(*row.appeared);
        for (const QStringList& value : row.changes)
            watch.changed(value);
        EXPECT_EQ(calls, row.calls);
    }
}

TEST(RowSwitchLayout, keepsItsPaddingAndMinimumHeight)
{
    RowSwitch sw(QStringLiteral("AU"));
    sw.resize(400, sw.sizeHint().height());
    EXPECT_GE(sw.sizeHint().height(), 52);
    sw.show();
    // The knob sits at the trailing end, 16 in from the edge.
    EXPECT_EQ(sw.knob()->geometry().right(), 400 - 16 - 1);
}

enum class Scope { user, allUsers, unknown };

TEST(SegmentedValue, followsPressesAndValuesOfAnyEqualType)
{
    auto* segmented = new Segmented({{QVariant::fromValue(Scope::user), QStringLiteral("Just me")},
                                     {QVariant::fromValue(Scope::allUsers), QStringLiteral("Everyone")}});
    auto window = activeWindow(segmented);
    QSignalSpy changes(segmented, &Segmented::valueChanged);
    auto checked = [&] { return std::pair(segmented->segment(0)->isChecked(), segmented->segment(1)->isChecked()); };

    segmented->setValue(QVariant::fromValue(Scope::user));
    EXPECT_EQ(checked(), std::pair(true, false));
    EXPECT_EQ(changes.count(), 1);

    QAbstractButton* everyone = segmented->segment(1);
    QTest::mouseClick(everyone, Qt::LeftButton);
    EXPECT_EQ(segmented->value().value<Scope>(), Scope::allUsers);
    EXPECT_EQ(checked(), std::pair(false, true));
    ASSERT_EQ(changes.count(), 2);
    EXPECT_EQ(changes.last().first().value<Scope>(), Scope::allUsers);
    Hub::Test::saveScreenshot(window.get(), QStringLiteral("kit-segmented-everyone"));

    // Pressing the chosen segment keeps it chosen and changes nothing.
    QTest::mouseClick(everyone, Qt::LeftButton);
    EXPECT_EQ(checked(), std::pair(false, true));
    EXPECT_EQ(changes.count(), 2);

    segmented->setValue(QVariant::fromValue(Scope::unknown));
    EXPECT_EQ(checked(), std::pair(false, false));
}

TEST(EscapeKeyAction, runsOncePerPressAndNotWhenOff)
{
    auto* content = new QLabel(QStringLiteral("page"));
    auto window = activeWindow(content);
    int runs = 0;
    EscapeKey escape(window.get(), [&runs] { ++runs; });

    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(runs, 1);
    QTest::keyClick(content, Qt::Key_Escape);
    EXPECT_EQ(runs, 2);

    escape.setEnabled(false);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(runs, 2);
}

TEST(ExternalLinkOpen, handsTheExactAddressToTheOpener)
{
    const char* const addresses[] = {
        "https://tarnaudio.example/changelog#hub",
        "mailto:support@tarnaudio.example",
        "https://tarnaudio.example/account?next=%2Fmacs&name=J%C3%BCrgen%20K",
    };
    for (const char* address : addresses) {
        SCOPED_TRACE(address);
        const QUrl url(QString::fromLatin1(address));
        QList<QUrl> opened;
        auto* link = new ExternalLink(QStringLiteral("Release notes ↗"), url, [&opened](const QUrl& u) { opened.append(u); });
        auto window = activeWindow(link);
        EXPECT_EQ(link->toolTip(), url.toString());

        QTest::mouseClick(link, Qt::LeftButton);
        ASSERT_EQ(opened.size(), 1);
        EXPECT_EQ(opened.first().toString(QUrl::FullyEncoded), QString::fromLatin1(address));

        // Muted, under the pointer too: a plain button has no hover look.
        QTest::mouseMove(link, link->rect().center());
        ASSERT_TRUE(link->underMouse());
        EXPECT_LE(Hub::Test::brightest(Hub::Test::renderOver(link, Theme::bg())), qGray(Theme::muted().rgb()) + 2);

        link->setFocus(Qt::TabFocusReason);
        QTest::keyClick(link, Qt::Key_Space);
        EXPECT_EQ(opened.size(), 2);
        Hub::Test::saveScreenshot(window.get(), QStringLiteral("kit-external-link"));
    }
}

TEST(ConfirmQuestion, runsExactlyOneOfItsActionsOnce)
{
    enum class How { confirmButton, returnKey, cancelButton, escapeKey, closeWindow };
    struct Row {
        How how;
        int actions;
        int cancels;
    };
    const Row rows[] = {
        {How::confirmButton, 1, 0}, {How::returnKey, 1, 0}, {How::cancelButton, 0, 1},
        {How::escapeKey, 0, 1},     {How::closeWindow, 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.how));
        auto* content = new QLabel(QStringLiteral("window"));
        auto window = activeWindow(content);
        int actions = 0, cancels = 0;
        const QString title = QStringLiteral("<b>Logic Pro</b> and Live are open");
        QPointer<ConfirmDialog> dialog = confirmCompat(window.get(), title, QStringLiteral("Continue anyway"),
                                                       QStringLiteral("Close it first."), [&] { ++actions; }, [&] { ++cancels; });
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.data(), Hub::Test::kPatience));
        EXPECT_TRUE(dialog->windowModality() == Qt::WindowModal);
        auto* heading = Hub::Test::child<QLabel>(dialog, QStringLiteral("confirmTitle"));
        EXPECT_EQ(heading->text(), title);
        EXPECT_EQ(heading->textFormat(), Qt::PlainText);
        EXPECT_EQ(dialog->confirmButton()->text(), QStringLiteral("Continue anyway"));
        EXPECT_EQ(dialog->cancelButton()->text(), QStringLiteral("Cancel"));
        if (row.how == How::confirmButton)
            Hub::Test::saveScreenshot(dialog, QStringLiteral("kit-confirm-dialog"));

        switch (row.how) {
        case How::confirmButton: QTest::mouseClick(dialog->confirmButton(), Qt::LeftButton); break;
        case How::returnKey: QTest::keyClick(dialog, Qt::Key_Return); break;
        case How::cancelButton: QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton); break;
        case How::escapeKey: QTest::keyClick(dialog, Qt::Key_Escape); break;
        case How::closeWindow: dialog->close(); break;
        }
        // A second answer after the first must not run anything again.
        if (dialog)
            dialog->done(QDialog::Accepted);
        EXPECT_EQ(actions, row.actions);
        EXPECT_EQ(cancels, row.cancels);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(dialog.isNull()) << "the answered dialog stayed";
    }
}

// The window keeps the desktop's title bar: what a double click does is the
// window manager's, so the strip under it leaves the window as it is.
TEST(WindowDragAreaClicks, doubleClickLeavesTheWindowToTheWindowManager)
{
    auto* area = new WindowDragArea;
    area->setMinimumSize(200, 52);
    auto window = activeWindow(area);
    ASSERT_FALSE(window->isMaximized());
    QTest::mouseDClick(area, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_FALSE(window->isMaximized());
    EXPECT_FALSE(window->isMinimized());
}

} // namespace

// A help text shows dark on the dark window, as the theme says, even after
// the desktop's theme handed Qt a light tooltip palette of its own (Qt
// applies it to every tooltip when the desktop's theme changes).
TEST(KitControls, TooltipsFollowTheThemeAfterTheDesktopChangesItsOwn)
{
    QPalette desktop;
    desktop.setColor(QPalette::ToolTipBase, Qt::white);
    desktop.setColor(QPalette::ToolTipText, Qt::black);
    desktop.setColor(QPalette::WindowText, Qt::black);
    const QPalette before = QToolTip::palette();
    QToolTip::setPalette(desktop);
    QWidget window;
    auto* pill = new Hub::Kit::Pill(QStringLiteral("Update all"), {}, &window);
    pill->setToolTip(QStringLiteral("Needs internet"));
    window.resize(200, 80);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, Hub::Test::kPatience));
    QHelpEvent help(QEvent::ToolTip, QPoint(4, 4), pill->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(pill, &help);
    QWidget* tip = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        for (QWidget* shown : QApplication::topLevelWidgets())
            if (shown->inherits("QTipLabel") && shown->isVisible())
                tip = shown;
        return tip != nullptr;
    }, Hub::Test::kPatience));
    const QImage drawn = tip->grab().toImage();
    Hub::Test::saveScreenshot(drawn, QStringLiteral("kit-tooltip"));
    EXPECT_EQ(drawn.pixelColor(3, drawn.height() / 2), Hub::Kit::Theme::raised());
    EXPECT_EQ(tip->palette().color(QPalette::ToolTipText), Hub::Kit::Theme::ink());
    QToolTip::hideText();
    QToolTip::setPalette(before);
}

} // namespace Hub::Kit
