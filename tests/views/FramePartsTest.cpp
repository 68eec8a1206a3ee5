// The small views the tabs and pages share: job line, card kit, badges and
// the coming-soon strip, and what they do with text that looks like markup.
#include "FrameTestSupport.h"

#include "Kit/ExternalLink.h"
#include "Kit/Pill.h"
#include "Kit/ProductMark.h"
#include "Kit/ProgressLine.h"
#include "Kit/Theme.h"
#include "Views/Frame/AccountMenu.h"
#include "Kit/CountBadge.h"
#include "Views/Plugins/RefreshButton.h"
#include "Views/Plugins/SoonStrip.h"
#include "Kit/ElidedLabel.h"
#include "Views/Page/JobLine.h"
#include "Views/Settings/SettingsCard.h"
#include "Views/Frame/TopBar.h"

#include <QAccessible>
#include <QHBoxLayout>
#include <QSignalSpy>
#include <QTextDocument>

#include <limits>

using namespace Qt::StringLiterals;

namespace Hub::Test {
namespace {

using Views::JobLine;

TEST(JobLineLook, ShowsEachJobAsItsStepOrItsOutcome)
{
    const QColor accent(0x4a, 0x90, 0xd9);
    struct Row {
        const char* name;
        Job job;
        QString step;      // empty: no step
        bool spinner;
        qreal progress;    // < 0: no progress line
        QString mark;      // empty: no outcome
        QColor markColor;
        QString said;      // what a screen reader hears of the progress line's value or of the mark
    };
    const qreal none = -1;
    const Row rows[] = {
        {"download start", Job::downloading(0), u"Downloading 0%"_s, false, 0, {}, {}, u"0%"_s},
        {"download", Job::downloading(0.426), u"Downloading 42%"_s, false, 0.426, {}, {}, u"42%"_s},
        {"download nearly", Job::downloading(0.999), u"Downloading 99%"_s, false, 0.999, {}, {}, u"99%"_s},
        {"download whole", Job::downloading(1.0), u"Downloading 100%"_s, false, 1.0, {}, {}, u"100%"_s},
        {"download not a number", Job{Job::Kind::downloading, std::numeric_limits<double>::quiet_NaN(), {}},
         u"Downloading"_s, false, 0, {}, {}, u"0%"_s},
        {"download beyond", Job{Job::Kind::downloading, 7.5, {}}, u"Downloading 100%"_s, false, 1.0, {}, {}, u"100%"_s},
        {"verifying", Job::verifying(), u"Checking it was signed by Tarnaudio"_s, false, 1.0, {}, {}, u"100%"_s},
        {"installing", Job::installing(), u"Installing"_s, false, 1.0, {}, {}, u"100%"_s},
        {"registering", Job::registering(), u"Waiting for your system to list the AU"_s, false, 1.0, {}, {}, u"100%"_s},
        {"removing", Job::removing(), u"Moving to the Trash"_s, true, none, {}, {}, {}},
        {"restart", Job::waitingForRestart(), u"Installed. Waiting to restart Tarnhub"_s, true, none, {}, {}, {}},
        {"done", Job::done(u"Installed echo 2.0."_s), {}, false, none, u"✓"_s, accent, u"Done"_s},
        {"warning", Job::warning(u"The AU is not listed yet."_s), {}, false, none, u"!"_s, Kit::Theme::warn(), u"Warning"_s},
        {"failed", Job::failed(u"The download was cut off."_s), {}, false, none, u"✕"_s, Kit::Theme::bad(), u"Failed"_s},
    };
    QWidget host;
    auto* layout = new QVBoxLayout(&host);
    auto* line = new JobLine(&host);
    layout->addWidget(line);
    host.resize(420, 120);
    host.show();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        line->setJob(row.job, accent);
        EXPECT_TRUE(line->isVisible());
        auto* step = child<QLabel>(line, u"jobStepText"_s);
        EXPECT_EQ(step->isVisible() ? step->text() : QString(), row.step);
        EXPECT_EQ(step->font().capitalization(), QFont::AllUppercase);
        EXPECT_EQ(child(line, u"jobSpinner"_s)->isVisible(), row.spinner);
        auto* progress = child<Kit::ProgressLine>(line, u"jobProgress"_s);
        EXPECT_EQ(progress->isVisible(), row.progress >= 0);
        if (row.progress >= 0) {
            EXPECT_DOUBLE_EQ(progress->value(), row.progress);
            EXPECT_EQ(progress->color(), accent);
            EXPECT_LE(progress->width(), 360);
            // 8 under the text, however much room the caller gives the line.
            EXPECT_EQ(progress->geometry().top() - step->geometry().bottom() - 1, 8);
            QAccessibleInterface* a = spoken(progress);
            EXPECT_EQ(a->role(), QAccessible::ProgressBar);
            EXPECT_EQ(a->text(QAccessible::Value), row.said);
        }
        auto* mark = child<QLabel>(line, u"jobMark"_s);
        EXPECT_EQ(mark->isVisible() ? mark->text() : QString(), row.mark);
        if (!row.mark.isEmpty()) {
            EXPECT_EQ(mark->palette().color(QPalette::WindowText), row.markColor);
            EXPECT_EQ(child<QLabel>(line, u"jobMessage"_s)->text(), row.job.message);
            // The word, never the bare symbol.
            EXPECT_EQ(spoken(mark)->text(QAccessible::Name), row.said);
        }
        saveScreenshot(&host, u"jobline-"_s + QString::fromLatin1(row.name).replace(u' ', u'-'));
    }
    // Idle draws nothing and gives the line no room.
    line->setJob(Job::idle(), accent);
    EXPECT_TRUE(line->isHidden());
}

// A screen reader hears the download move in whole percents, not each tick.
TEST(JobLineLook, TheProgressIsHeardEachWholePercent)
{
    JobLine line;
    line.setJob(Job::downloading(0.10), Kit::Theme::ink());
    auto* progress = child<Kit::ProgressLine>(&line, u"jobProgress"_s);
    AccessEvents events;
    line.setJob(Job::downloading(0.104), Kit::Theme::ink());
    EXPECT_EQ(events.count(QAccessible::ValueChanged, progress), 0);
    line.setJob(Job::downloading(0.11), Kit::Theme::ink());
    line.setJob(Job::downloading(0.25), Kit::Theme::ink());
    EXPECT_EQ(events.count(QAccessible::ValueChanged, progress), 2);
    EXPECT_EQ(spoken(progress)->text(QAccessible::Name), u"Downloading"_s);
    EXPECT_EQ(spoken(progress)->text(QAccessible::Value), u"25%"_s);
}

// A job's outcome reaches a screen reader once, as a notification with its
// sentence (the role a screen reader speaks when it shows, in a Qt window too), from the line the user sees; a step or a redraw says nothing.
TEST(JobLineLook, AnOutcomeIsAnnouncedOnceByTheLineShown)
{
    QWidget host;
    auto* layout = new QVBoxLayout(&host);
    auto* line = new JobLine(&host);
    layout->addWidget(line);
    host.show();
    QWidget away; // never shown, as a tab not on screen
    auto* hidden = new JobLine(&away);
    AccessEvents events;
    const QString trashed = u"echo's AU is in the Trash."_s;
    const QString damaged = u"The update of Drift failed: its download is damaged (checksum mismatch)."_s;
    QStringList said;
    for (const Job& job : {Job::removing(), Job::done(trashed), Job::done(trashed), Job::downloading(0.5),
                           Job::failed(damaged), Job::failed(damaged)}) {
        events.clear();
        line->setJob(job, Kit::Theme::ink());
        hidden->setJob(job, Kit::Theme::ink());
        for (const AccessEvents::Event& event : events.events())
            if (event.type == QAccessible::Alert) {
                QAccessibleInterface* alert = spoken(event.object);
                EXPECT_EQ(alert->role(), QAccessible::Notification);
                EXPECT_EQ(event.object->parent(), &host);
                // What the desktop's bridge passes on: the alert showing.
                EXPECT_EQ(events.count(QAccessible::ObjectShow, event.object), 1);
                said.append(alert->text(QAccessible::Name));
            }
    }
    EXPECT_EQ(said, (QStringList{trashed, damaged}));
}

TEST(JobLineLook, ALongFailureWrapsInsteadOfBeingCut)
{
    QWidget host;
    auto* layout = new QVBoxLayout(&host);
    auto* line = new JobLine(&host);
    layout->addWidget(line);
    layout->addStretch(1);
    const QString message = u"The installer could not replace the copy in the system folder because your system "
                            u"refused the password, so nothing was changed and the old version stays in place."_s;
    line->setJob(Job::failed(message), Kit::Theme::ink());
    host.resize(360, 200);
    host.show();
    auto* text = child<QLabel>(line, u"jobMessage"_s);
    EXPECT_GT(text->height(), 2 * text->fontMetrics().height());
    EXPECT_TRUE(text->textInteractionFlags() & Qt::TextSelectableByMouse);
    saveScreenshot(&host, u"jobline-long-failure"_s);
}

TEST(AccountInitials, FirstAndLastWordElseOneWordElseTheAddress)
{
    struct Row {
        QString name;
        QString email;
        QString initials;
    };
    const Row rows[] = {
        {u"Anna Maria Lopez"_s, u"anna@example.com"_s, u"AL"_s},
        {u"  anna   lopez "_s, u"anna@example.com"_s, u"AL"_s},
        {u"cher"_s, u"cher@example.com"_s, u"C"_s},
        {u"   "_s, u"zoe@example.com"_s, u"Z"_s},
        {QString(), QString(), QString()},
        {u"\u00e9lodie durand"_s, u"e@example.com"_s, u"\u00c9D"_s},
        // A letter and its combining accent are one character.
        {u"e\u0301mile zola"_s, u"e@example.com"_s, u"E\u0301Z"_s},
        // Only blanks split words: a tab stays inside the word.
        {u"jean\tluc"_s, u"j@example.com"_s, u"J"_s},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name.toStdString());
        AccountInfo account;
        account.user = HubUser{u"u1"_s, row.email, row.name};
        EXPECT_EQ(Views::AccountButton::initials(account), row.initials);
    }
    EXPECT_EQ(Views::AccountButton::initials(std::nullopt), QString());
}

TEST(CountBadgeLook, ShowsTheCountUpToNineAndSwapsColoursOnInk)
{
    struct Row {
        int count;
        QString text;
    };
    for (const Row& row : {Row{1, u"1"_s}, Row{9, u"9"_s}, Row{10, u"9+"_s}, Row{250, u"9+"_s}})
        EXPECT_EQ(Kit::CountBadge(row.count, false).text(), row.text);

    for (bool onInk : {false, true}) {
        SCOPED_TRACE(onInk ? "on ink" : "plain");
        Kit::CountBadge badge(4, onInk);
        badge.resize(badge.sizeHint());
        EXPECT_EQ(badge.size(), QSize(18, 18));
        const QImage image = renderOver(&badge, Qt::magenta);
        // Left of the digit, inside the capsule.
        EXPECT_EQ(image.pixelColor(4, 9), onInk ? Kit::Theme::bg() : Kit::Theme::ink());
        saveScreenshot(image, onInk ? u"badge-on-ink"_s : u"badge"_s);
    }
}

class SoonStripTest : public FrameFixture {};

TEST_F(SoonStripTest, LinesOnlyBetweenCellsAndAPressOpensThePage)
{
    QStringList soon;
    for (int i = 0; i < 7; ++i) {
        catalog.products.push_back(plugin(u"soon"_s + QString::number(i), u"1.0"_s));
        catalog.products.back().status = u"coming_soon"_s;
        soon.append(catalog.products.back().id);
    }
    Product bare = plugin(u"bare"_s, u"1.0"_s);
    bare.formats.reset();
    catalog.products.push_back(bare);
    open();
    struct Row {
        int products;
        int columns;
        QList<std::pair<bool, bool>> lines; // leading, top per cell
    };
    const Row rows[] = {
        {0, 1, {}},
        {1, 1, {{false, false}}},
        {5, 5, {{false, false}, {true, false}, {true, false}, {true, false}, {true, false}}},
        {7, 5, {{false, false}, {true, false}, {true, false}, {true, false}, {true, false}, {false, true}, {true, true}}},
    };
    auto* strip = new Views::SoonStrip(model.get(), view->tabBody()->content());
    strip->resize(900, 140);
    strip->show();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.products);
        strip->setProducts(soon.mid(0, row.products));
        EXPECT_EQ(strip->columns(), row.columns);
        QList<std::pair<bool, bool>> lines;
        for (Views::SoonCell* cell : strip->cells())
            lines.append({cell->leadingLine(), cell->topLine()});
        EXPECT_EQ(lines, row.lines);
    }
    saveScreenshot(strip, u"soon-strip-seven"_s);

    strip->setProducts({u"bare"_s, u"gone"_s});
    ASSERT_EQ(strip->cells().size(), 1) << "an identifier not shown has no cell";
    Views::SoonCell* cell = strip->cells().front();
    EXPECT_EQ(cell->accessibleName(), u"bare, coming soon, "_s);
    EXPECT_EQ(cell->accessibleDescription(), u"Opens its page"_s);
    EXPECT_EQ(cell->toolTip(), u"The bare tagline"_s);
    QTest::mouseClick(cell, Qt::LeftButton, {}, cell->rect().center());
    EXPECT_EQ(model->page(), u"bare"_s);
}

TEST_F(SoonStripTest, ALongNameEndsInAnEllipsisAndTheFormatsStayMuted)
{
    QStringList soon;
    for (int i = 0; i < 5; ++i) {
        catalog.products.push_back(plugin(u"soon"_s + QString::number(i), u"1.0"_s));
        catalog.products.back().status = u"coming_soon"_s;
        catalog.products.back().formats = QStringList{u"VST3"_s, u"AU"_s, u"App"_s};
        soon.append(catalog.products.back().id);
    }
    catalog.products[catalog.products.size() - 5].displayName = u"Tarn Grand Hall Reverb Extended"_s;
    open();
    auto* strip = new Views::SoonStrip(model.get(), view->tabBody()->content());
    strip->setProducts(soon);
    strip->resize(900, 64);
    strip->show();
    saveScreenshot(strip, u"soon-strip-long-name"_s);

    Views::SoonCell* cell = strip->cells().front();
    auto* name = child<Kit::ElidedLabel>(cell, u"soonName"_s);
    ASSERT_NE(name, nullptr);
    EXPECT_TRUE(name->shownText().endsWith(u"…"_s)) << name->shownText().toStdString();
    EXPECT_TRUE(name->shownText().startsWith(u"Tarn"_s));
    EXPECT_LE(name->geometry().right(), cell->width() - 16);
    EXPECT_TRUE(cell->accessibleName().startsWith(u"Tarn Grand Hall Reverb Extended, coming soon"_s));

    auto* formats = child<QLabel>(cell, u"soonFormats"_s);
    const int lit = brightest(renderOver(formats, Kit::Theme::bg()));
    EXPECT_LE(lit, qGray(Kit::Theme::muted().rgb()) + 2) << "the formats are brighter than muted";
    EXPECT_GT(lit, qGray(Kit::Theme::dim().rgb()));
}

TEST(SettingsCardKit, KeepsItsShapeWhateverTheRowsHold)
{
    QWidget host;
    auto* layout = new QVBoxLayout(&host);
    auto* card = new Views::SettingsCard(u"Echo · 2"_s);
    auto* prose = new Views::SettingRow(u"Install for"_s, u"Plug-ins go where every program on this computer finds "
                                                          u"them, for you alone or for all users of this computer."_s,
                                        false, nullptr);
    auto* path = new Views::SettingRow(u"Downloads"_s, u"~/.local/share/Tarn Audio/Downloads/"
                                                       u"a-folder-with-a-rather-long-name/and-more"_s,
                                       true, nullptr);
    auto* bare = new Views::SettingRow(u"Nothing else"_s, std::nullopt, false, nullptr);
    card->addRow(prose);
    card->addRow(new Views::CardDivider);
    card->addRow(path);
    card->addRow(new Views::CardDivider);
    card->addRow(bare);
    auto* noted = new Views::SettingsCard(u"Reports"_s, u"Only the product, the code and the message are sent."_s);
    noted->addRow(new Views::SettingRow(u"Send reports"_s, std::nullopt, false, nullptr));
    layout->addWidget(card);
    layout->addWidget(noted);
    layout->addStretch(1);
    host.resize(420, 520);
    host.show();
    saveScreenshot(&host, u"settings-card-kit"_s);

    // The title reads with a comma; the note is there only when given.
    EXPECT_EQ(child<QLabel>(card, u"cardTitle"_s)->accessibleName(), u"Echo, 2"_s);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(child<QLabel>(card, u"cardTitle"_s))->role(), QAccessible::Heading);
    EXPECT_FALSE(child<QLabel>(card, u"cardNote"_s)->isVisible());
    EXPECT_TRUE(child<QLabel>(noted, u"cardNote"_s)->isVisible());
    // Rows sit flush, with only the dividers between them.
    EXPECT_EQ(prose->geometry().bottom() + 1 + 1, path->geometry().top());
    // Prose wraps and grows the row; a path stays on one line.
    auto* proseDetail = child<QLabel>(prose, u"rowDetail"_s);
    EXPECT_GT(proseDetail->height(), proseDetail->fontMetrics().height());
    auto* pathDetail = child<Kit::ElidedLabel>(path, u"rowDetail"_s);
    EXPECT_EQ(pathDetail->height(), pathDetail->fontMetrics().height());
    EXPECT_TRUE(pathDetail->shownText().startsWith(u"~/.local/share"_s));
    EXPECT_TRUE(pathDetail->shownText().contains(u"…"_s));
    EXPECT_TRUE(pathDetail->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_EQ(bare->height(), 52);
    EXPECT_EQ(bare->text()->detailLabel(), nullptr);
}

// A row that fills its ground (a hovered cell, a highlighted row) is cut to
// the card's rounded corners instead of squaring them off.
TEST(SettingsCardKit, RowsThatFillTheirGroundStayInsideTheRoundedCorners)
{
    QWidget host;
    auto* layout = new QVBoxLayout(&host);
    auto* card = new Views::SettingsCard(u"Coming soon"_s);
    auto* row = new QWidget;
    row->setFixedHeight(64);
    row->setAutoFillBackground(true);
    QPalette p = row->palette();
    p.setColor(QPalette::Window, Kit::Theme::raised());
    row->setPalette(p);
    card->addRow(row);
    layout->addWidget(card);
    host.resize(300, 140);
    host.show();
    saveScreenshot(&host, u"settings-card-filled-row"_s);

    auto* panel = child(card, u"cardPanel"_s);
    const QImage image = renderOver(card, Qt::magenta);
    const QPoint corner = panel->mapTo(card, QPoint(1, 1));
    const QPoint lastCorner = panel->mapTo(card, QPoint(panel->width() - 2, panel->height() - 2));
    const QPoint middle = panel->mapTo(card, panel->rect().center());
    EXPECT_EQ(image.pixelColor(middle), Kit::Theme::raised());
    for (QPoint at : {corner, lastCorner}) {
        SCOPED_TRACE(at.x());
        EXPECT_NE(image.pixelColor(at), Kit::Theme::raised()) << "the row squares off the corner";
    }
}

// Catalog and account texts are remote data: markup in them is shown as
// the characters it is, never as formatting or a link.
class PlainTextTest : public FrameFixture {};

TEST_F(PlainTextTest, MarkupInDataIsShownLiterally)
{
    const QString markup = u"<b>Bold</b> <a href=\"https://evil.example\">click</a><img src=x>"_s;
    user.name = markup;
    user.email = markup;
    Product product = plugin(u"soon"_s, u"1.0"_s);
    product.displayName = markup;
    product.formats = QStringList{markup};
    product.tagline = markup;
    catalog.products.push_back(product);
    open();
    model->setAccountMenu(true);

    Views::SoonStrip strip(model.get());
    strip.setProducts({product.id});
    JobLine line;
    line.setJob(Job::failed(markup), Kit::Theme::ink());
    Views::SettingsCard card(markup, markup);
    Views::RowText prose(markup, markup, false);
    Views::RowText mono(markup, markup, true);

    struct Row {
        const char* name;
        QLabel* label;
    };
    const Row rows[] = {
        {"account name", find<QLabel>(u"accountName"_s)},
        {"soon name", child<QLabel>(&strip, u"soonName"_s)},
        {"soon formats", child<QLabel>(&strip, u"soonFormats"_s)},
        {"job message", child<QLabel>(&line, u"jobMessage"_s)},
        {"card title", child<QLabel>(&card, u"cardTitle"_s)},
        {"card note", child<QLabel>(&card, u"cardNote"_s)},
        {"row title", prose.titleLabel()},
        {"row detail", prose.detailLabel()},
        {"row mono detail", mono.detailLabel()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NE(row.label, nullptr);
        EXPECT_EQ(row.label->textFormat(), Qt::PlainText);
        EXPECT_FALSE(row.label->openExternalLinks());
        auto* elided = qobject_cast<Kit::ElidedLabel*>(row.label);
        EXPECT_TRUE((elided ? elided->text() : row.label->text()).contains(u"<b>Bold</b>"_s));
    }
    // Help texts guess rich text from the text: data in them is escaped.
    Kit::ElidedLabel narrow(markup);
    narrow.resize(40, narrow.sizeHint().height());
    narrow.show();
    const QString tips[] = {strip.cells().front()->toolTip(), narrow.toolTip(), find(u"accountButton"_s)->toolTip()};
    for (const QString& tip : tips) {
        QTextDocument shown;
        shown.setHtml(tip);
        EXPECT_EQ(shown.toPlainText(), markup);
    }
    saveScreenshot(find(u"accountMenu"_s), u"plain-text-account-menu"_s);
    line.resize(400, 80);
    saveScreenshot(&line, u"plain-text-job-line"_s);
}

// "&" in a name is the character, never a keyboard shortcut: "& Q" makes
// the initials "&Q", which must not let Alt+Q open the account menu.
TEST_F(PlainTextTest, AnAmpersandInDataMakesNoShortcut)
{
    user.name = u"& Q"_s;
    open();
    Product product = plugin(u"echo"_s, u"2.0"_s);
    product.displayName = u"Echo &Delay"_s;
    // In the same window, where a mnemonic of theirs would take the keys.
    auto* strip = new QWidget(view);
    auto* layout = new QHBoxLayout(strip);
    auto* mark = new Kit::ProductMark(product, true, 48, strip);
    auto* pill = new Kit::Pill(u"Save &Now"_s, Kit::PillStyle{Kit::Theme::ink(), Kit::Theme::bg(), true, false}, strip);
    auto* link = new Kit::ExternalLink(u"Terms &Licence"_s, QUrl(u"https://tarnaudio.example/terms"_s), {}, strip);
    for (QWidget* made : {static_cast<QWidget*>(mark), static_cast<QWidget*>(pill), static_cast<QWidget*>(link)})
        layout->addWidget(made);
    strip->move(30, 200);
    strip->adjustSize();
    strip->show();

    struct Row {
        const char* name;
        QAbstractButton* button;
        QString text;
        Qt::Key key;
    };
    const Row rows[] = {
        {"account initials", find<QAbstractButton>(u"accountButton"_s), u"&Q"_s, Qt::Key_Q},
        {"product mark", mark, u"Echo &Delay"_s, Qt::Key_D},
        {"pill", pill, u"Save &Now"_s, Qt::Key_N},
        {"external link", link, u"Terms &Licence"_s, Qt::Key_L},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NE(row.button, nullptr);
        EXPECT_EQ(row.button->text(), row.text);
        QSignalSpy clicked(row.button, &QAbstractButton::clicked);
        QTest::keyClick(window.get(), row.key, Qt::AltModifier);
        // A shortcut presses the button at once and clicks it a moment later.
        const bool pressed = row.button->isDown();
        EXPECT_FALSE(pressed);
        if (pressed)
            clicked.wait(Hub::Test::kPatience);
    }
    // The name read aloud keeps the character too.
    QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(mark);
    ASSERT_NE(spoken, nullptr);
    EXPECT_EQ(spoken->text(QAccessible::Name), u"Echo &Delay"_s);
    saveScreenshot(window.get(), u"ampersand-in-data"_s);
}

} // namespace
} // namespace Hub::Test
