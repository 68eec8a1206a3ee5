// The kit's shared rules for the keyboard, the screen reader and other
// locales: dialog keys, focus rings, joined lists, copying a shortened
// text, and what each painted control tells assistive technology.
#include "ViewTestSupport.h"

#include "Kit/ConfirmDialog.h"
#include "Kit/Control.h"
#include "Kit/ElidedLabel.h"
#include "Kit/ExternalLink.h"
#include "Kit/HoverButton.h"
#include "Kit/Logo.h"
#include "Kit/Pill.h"
#include "Kit/ProductMark.h"
#include "Kit/ProgressLine.h"
#include "Kit/Segmented.h"
#include "Kit/Switches.h"
#include "Kit/Tag.h"
#include "Kit/TextInput.h"
#include "Kit/TextStyle.h"
#include "Kit/WrapLabel.h"

#include "QStringPrinter.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QVBoxLayout>

#include <clocale>
#include <memory>

namespace Hub::Kit {
namespace {

using Hub::Test::spoken;

// A row in the way of the menu rows and coming-soon cells.
class Cell : public HoverButton {
public:
    using HoverButton::HoverButton;

protected:
    void paintEvent(QPaintEvent*) override {}
};

// A question is activated by the window system after it opens.
bool waitActive(QWidget* dialog)
{
    return QTest::qWaitFor([dialog] { return QApplication::activeWindow() == dialog; }, Hub::Test::kPatience);
}

// Return and Space press the focused button, Return with none focused the
// confirm button, Escape cancels; the question opens with nothing focused.
TEST(ConfirmKeys, returnAndSpacePressTheFocusedButtonElseReturnConfirms)
{
    struct Row {
        const char* name;
        QList<Qt::Key> keys;
        int actions;
        int cancels;
    };
    const Row rows[] = {
        {"Return, nothing focused", {Qt::Key_Return}, 1, 0},
        {"Enter, nothing focused", {Qt::Key_Enter}, 1, 0},
        {"Tab to Cancel, Return", {Qt::Key_Tab, Qt::Key_Return}, 0, 1},
        {"Tab to Cancel, Space", {Qt::Key_Tab, Qt::Key_Space}, 0, 1},
        {"Tab twice to confirm, Return", {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Return}, 1, 0},
        {"Tab twice to confirm, Space", {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Space}, 1, 0},
        {"Escape", {Qt::Key_Escape}, 0, 1},
        {"Tab twice, Escape", {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Escape}, 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto window = Hub::Test::activeWindow(new QLabel(QStringLiteral("window")));
        int actions = 0, cancels = 0;
        QPointer<ConfirmDialog> dialog =
            confirmCompat(window.get(), QStringLiteral("An install is still running"), QStringLiteral("Quit Anyway"),
                          QStringLiteral("Quitting now stops it before it finishes."), [&] { ++actions; },
                          [&] { ++cancels; });
        ASSERT_TRUE(waitActive(dialog));
        EXPECT_EQ(QApplication::focusWidget(), dialog.data()) << "a button had the focus from the start";
        for (Qt::Key key : row.keys) {
            ASSERT_FALSE(dialog.isNull()) << "answered before the last key";
            QTest::keyClick(QApplication::focusWidget(), key);
            if (key == Qt::Key_Tab && row.keys.size() == 3 && std::string(row.name).find("Escape") != std::string::npos)
                Hub::Test::saveScreenshot(dialog, QStringLiteral("kit-confirm-dialog-tabbed"));
        }
        EXPECT_EQ(actions, row.actions);
        EXPECT_EQ(cancels, row.cancels);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// A screen reader meets the question's title and message before its
// buttons, and Tab reaches "Cancel" first.
TEST(ConfirmKeys, titleAndMessageComeFirst)
{
    auto window = Hub::Test::activeWindow(new QLabel(QStringLiteral("window")));
    QPointer<ConfirmDialog> dialog = confirmCompat(window.get(), QStringLiteral("Logic Pro and Live are open"),
                                                   QStringLiteral("Continue anyway"), QStringLiteral("Close it first."),
                                                   [] {}, [] {});
    ASSERT_TRUE(waitActive(dialog));
    EXPECT_EQ(QApplication::focusWidget(), dialog.data());
    QAccessibleInterface* a = spoken(dialog);
    EXPECT_EQ(a->role(), QAccessible::Dialog);
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("Logic Pro and Live are open"));
    EXPECT_EQ(a->text(QAccessible::Description), QStringLiteral("Close it first."));
    QStringList order;
    for (int i = 0; i < a->childCount(); ++i)
        order.append(a->child(i)->text(QAccessible::Name));
    EXPECT_EQ(order, (QStringList{QStringLiteral("Logic Pro and Live are open"), QStringLiteral("Close it first."),
                                  QStringLiteral("Cancel"), QStringLiteral("Continue anyway")}));
    QTest::keyClick(dialog, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), dialog->cancelButton());
    EXPECT_TRUE(keyboardFocus(dialog->cancelButton()));
    dialog->reject();
}

// Return, Enter and Space each press the focused kit control once, a held
// Return no more than once; Return with a modifier is not a press.
TEST(KitKeys, returnAndSpacePressEveryKitControl)
{
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    auto* pill = new Pill(QStringLiteral("Install"));
    auto* cell = new Cell;
    cell->setAccessibleName(QStringLiteral("Echo, coming soon"));
    auto* sw = new RowSwitch(QStringLiteral("Send problem reports"));
    auto* segmented = new Segmented({{1, QStringLiteral("Just me")}, {2, QStringLiteral("All users")}});
    auto* link = new ExternalLink(QStringLiteral("All release notes \u2197"), QUrl(QStringLiteral("https://tarnaudio.example")),
                                  [](const QUrl&) {});
    QList<QAbstractButton*> controls{pill, cell, sw, segmented->segment(1), link};
    for (QWidget* w : std::initializer_list<QWidget*>{pill, cell, sw, segmented, link})
        layout->addWidget(w);
    auto window = Hub::Test::activeWindow(content, 400);
    const struct {
        const char* name;
        QList<QPair<Qt::Key, Qt::KeyboardModifiers>> keys;
        int presses;
    } rows[] = {
        {"Return", {{Qt::Key_Return, Qt::NoModifier}}, 1},
        {"Enter", {{Qt::Key_Enter, Qt::KeypadModifier}}, 1},
        {"Space", {{Qt::Key_Space, Qt::NoModifier}}, 1},
        {"Ctrl+Return", {{Qt::Key_Return, Qt::ControlModifier}}, 0},
        {"Alt+Return", {{Qt::Key_Return, Qt::AltModifier}}, 0},
    };
    for (QAbstractButton* control : controls) {
        SCOPED_TRACE(control->accessibleName().toStdString());
        int presses = 0;
        QObject::connect(control, &QAbstractButton::clicked, control, [&presses] { ++presses; });
        for (const auto& row : rows) {
            SCOPED_TRACE(row.name);
            presses = 0;
            control->setChecked(false);
            control->setFocus(Qt::TabFocusReason);
            ASSERT_TRUE(control->hasFocus());
            for (const auto& [key, modifiers] : row.keys)
                QTest::keyClick(control, key, modifiers);
            EXPECT_EQ(presses, row.presses);
        }
        // A held Return: the first press only.
        presses = 0;
        QTest::keyPress(control, Qt::Key_Return);
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
        QCoreApplication::sendEvent(control, &repeat);
        QTest::keyRelease(control, Qt::Key_Return);
        EXPECT_EQ(presses, 1);
        QObject::disconnect(control, &QAbstractButton::clicked, control, nullptr);
    }
    EXPECT_EQ(segmented->value(), QVariant(2)) << "Return chose no segment";
}

// The ring shows after Tab, and a mouse press takes it away from the
// control that keeps the focus.
TEST(FocusRings, showAfterTabAndGoWithAClick)
{
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    auto* first = new Pill(QStringLiteral("Install"), PillStyle{Theme::ink(), Theme::bg(), true, false});
    auto* second = new Pill(QStringLiteral("Cancel"), PillStyle{std::nullopt, Theme::bg(), true, false});
    layout->addWidget(first);
    layout->addWidget(second);
    auto window = Hub::Test::activeWindow(content);
    // The window's activation gave the first one the focus, but no ring.
    ASSERT_TRUE(first->hasFocus());
    EXPECT_FALSE(keyboardFocus(first));
    const QImage plain = second->grab().toImage();
    QTest::keyClick(window.get(), Qt::Key_Tab);
    ASSERT_TRUE(second->hasFocus());
    EXPECT_TRUE(keyboardFocus(second));
    EXPECT_NE(second->grab().toImage(), plain) << "no ring after Tab";

    QTest::mouseClick(first, Qt::LeftButton, {}, first->rect().center());
    EXPECT_TRUE(second->hasFocus()) << "a click on a kit button moves no focus";
    EXPECT_FALSE(keyboardFocus(second));
    EXPECT_FALSE(keyboardFocus(first));
    EXPECT_EQ(second->grab().toImage(), plain) << "the ring stayed after a click";

    QTest::keyClick(window.get(), Qt::Key_Tab);
    EXPECT_TRUE(first->hasFocus());
    EXPECT_TRUE(keyboardFocus(first));
}

// Lists of names read the same under the C locale of CI and Debian and
// under en_US.
TEST(JoinedList, readsTheSameInEveryLocale)
{
    struct Row {
        QStringList names;
        QString joined;
    };
    const Row rows[] = {
        {{}, QString()},
        {{QStringLiteral("Live")}, QStringLiteral("Live")},
        {{QStringLiteral("Logic Pro"), QStringLiteral("Live")}, QStringLiteral("Logic Pro and Live")},
        {{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}, QStringLiteral("A, B, and C")},
        {{QStringLiteral("Logic Pro"), QStringLiteral("Live"), QStringLiteral("Bitwig Studio"), QStringLiteral("Reaper")},
         QStringLiteral("Logic Pro, Live, Bitwig Studio, and Reaper")},
    };
    const QLocale kept;
    for (const char* locale : {"C.UTF-8", "en_US.UTF-8"}) {
        SCOPED_TRACE(locale);
        std::setlocale(LC_ALL, locale);
        QLocale::setDefault(QLocale(QString::fromLatin1(locale).section(u'.', 0, 0)));
        for (const Row& row : rows)
            EXPECT_EQ(joinedList(row.names), row.joined);
    }
    std::setlocale(LC_ALL, "C.UTF-8");
    QLocale::setDefault(kept);
}

// Selecting a path shortened in the middle and copying it copies the path.
TEST(ElidedCopy, copyingAShortenedTextCopiesTheWholeText)
{
    const QString path = QStringLiteral("/home/anna/Music/Plug-ins/Tarnaudio/Very Long Folder Name/Presets/Factory");
    auto* label = new ElidedLabel(path, Qt::ElideMiddle);
    setSelectable(label);
    auto window = Hub::Test::activeWindow(label, 220);
    ASSERT_TRUE(label->shownText().contains(QChar(0x2026)));
    const int y = label->height() / 2;
    QTest::mousePress(label, Qt::LeftButton, {}, QPoint(1, y));
    QTest::mouseMove(label, QPoint(label->width() - 1, y));
    QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(label->width() - 1, y));
    ASSERT_TRUE(label->hasSelectedText());
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(label, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), path);
    Hub::Test::saveScreenshot(window.get(), QStringLiteral("kit-elided-selected"));
}

// A name without spaces wraps inside the word instead of being clipped.
TEST(WrapLabelLook, aLongWordWrapsInsideTheWord)
{
    const QString name = QStringLiteral("Maximiliansebastianwolfgangamadeushernandez-Castellanos");
    auto* label = new WrapLabel(name);
    setProseStyle(label, Theme::bold(14), Theme::ink());
    EXPECT_EQ(label->text(), name);
    const int lineHeight = label->fontMetrics().height();
    ASSERT_GE(label->heightForWidth(200), 3 * lineHeight) << "the word was not broken";
    label->resize(200, label->heightForWidth(200));
    const QImage image = Hub::Test::renderOver(label, Theme::bg());
    // Ink on the last line: the end of the name is drawn, not clipped away.
    const QImage lastLine = image.copy(0, image.height() - lineHeight, image.width(), lineHeight);
    EXPECT_GT(Hub::Test::brightest(lastLine), qGray(Theme::bg().rgb()) + 100);
    Hub::Test::saveScreenshot(image, QStringLiteral("kit-wrap-label"));
    delete label;
}

// What each painted control says to a screen reader.
TEST(KitAccessibility, eachControlSpeaksInItsRole)
{
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    auto* detail = new QWidget;
    auto* detailLayout = new QVBoxLayout(detail);
    detailLayout->addWidget(plainLabel(QStringLiteral("Send problem reports")));
    detailLayout->addWidget(plainLabel(QStringLiteral("Nothing personal is sent.")));
    auto* sw = new RowSwitch(QStringLiteral("Send problem reports"), detail);
    auto* segmented = new Segmented({{1, QStringLiteral("Just me")}, {2, QStringLiteral("All users")}});
    segmented->setAccessibleName(QStringLiteral("Install for"));
    segmented->setValue(2);
    auto* line = new ProgressLine;
    line->setValue(0.42);
    auto* cell = new Cell;
    cell->setAccessibleName(QStringLiteral("Echo, coming soon"));
    plainLabel(QStringLiteral("Echo"), cell);
    auto* tag = new Tag(QStringLiteral("free"));
    auto* logo = new Logo(40);
    Product product;
    product.id = QStringLiteral("echo");
    product.name = QStringLiteral("Echo");
    auto* mark = new ProductMark(product, true, 40);
    auto* field = new TextInput(TextInput::Kind::Email, QStringLiteral("E-mail"));
    for (QWidget* w : std::initializer_list<QWidget*>{sw, segmented, line, cell, tag, logo, mark, field})
        layout->addWidget(w);
    auto window = Hub::Test::activeWindow(content, 400);

    QAccessibleInterface* a = spoken(sw);
    EXPECT_EQ(a->role(), QAccessible::CheckBox);
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("Send problem reports"));
    EXPECT_EQ(a->text(QAccessible::Description), QStringLiteral("Nothing personal is sent."));
    EXPECT_EQ(a->childCount(), 0) << "the switch's texts are read twice";

    a = spoken(segmented);
    EXPECT_EQ(a->role(), QAccessible::Grouping);
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("Install for"));
    ASSERT_EQ(a->childCount(), 2);
    EXPECT_EQ(a->child(0)->role(), QAccessible::RadioButton);
    EXPECT_FALSE(a->child(0)->state().checked);
    EXPECT_TRUE(a->child(1)->state().checked);
    EXPECT_EQ(a->child(1)->text(QAccessible::Name), QStringLiteral("All users"));

    a = spoken(line);
    EXPECT_EQ(a->role(), QAccessible::ProgressBar);
    ASSERT_NE(a->valueInterface(), nullptr);
    EXPECT_EQ(a->valueInterface()->currentValue().toInt(), 42);
    EXPECT_EQ(a->valueInterface()->maximumValue().toInt(), 100);

    a = spoken(cell);
    EXPECT_EQ(a->role(), QAccessible::Button);
    EXPECT_EQ(a->childCount(), 0);

    a = spoken(tag);
    EXPECT_EQ(a->role(), QAccessible::StaticText);
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("free"));

    EXPECT_TRUE(spoken(logo)->state().invisible) << "the decorative logo is read";

    a = spoken(mark);
    EXPECT_EQ(a->role(), QAccessible::Graphic);
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("echo"));
    EXPECT_EQ(mark->focusPolicy(), Qt::NoFocus);

    a = spoken(field);
    EXPECT_EQ(a->role(), QAccessible::EditableText);
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("E-mail"));
    EXPECT_EQ(a->text(QAccessible::Description), QString()) << "the placeholder is read twice";
    Hub::Test::saveScreenshot(window.get(), QStringLiteral("kit-accessible-controls"));
}

} // namespace
} // namespace Hub::Kit
