#include "FrameTestSupport.h"

#include "Kit/ExternalLink.h"
#include "Kit/Hairline.h"
#include "Kit/Theme.h"
#include "Views/Common/NotesList.h"
#include "Views/Page/Specs.h"
#include "Views/Page/WhatsNew.h"

#include "Base/Config.h"

#include <QLabel>
#include <QVBoxLayout>
#include <QUrl>

namespace Hub::Test {
namespace {

using Views::Specs;

QStringList texts(QWidget* root, const QString& name)
{
    QStringList found;
    for (const QLabel* label : root->findChildren<QLabel*>(name))
        found.append(label->text());
    return found;
}

class PageNotesTest : public FrameFixture {};

TEST_F(PageNotesTest, SpecsNameFormatsSystemAndWhereForEachKindOfProduct)
{
    Product bare = plugin(u"bare"_qs, u"1.0"_qs);
    bare.formats.reset();
    bare.release.reset();
    Product twice = plugin(u"twice"_qs, u"2.0"_qs);
    twice.name = u"Twice & <b>Co</b>"_qs;
    twice.release->minMacOS = u"13.0"_qs;
    catalog.products.push_back(bare);
    catalog.products.push_back(twice);
    const QString home = m_home.path();
    // The same format in two places, and an application outside the home folder.
    installer->copies[u"twice"_qs] = {
        {PluginFormat::app, u"/opt/Tarn/Twice"_qs, u"2.0"_qs},
        {PluginFormat::vst3, home + u"/.vst3/Twice.vst3"_qs, u"2.0"_qs},
        {PluginFormat::vst3, u"/usr/local/lib/vst3/Twice.vst3"_qs, u"2.0"_qs},
    };
    startModel();

    const struct {
        QString id;
        std::vector<Specs::Row> rows;
    } table[] = {
        {u"bare"_qs, {}},
        {u"reverb"_qs,
         {{u"Formats"_qs, u"VST3 · AU"_qs, {}}, {u"System"_qs, model->product(u"reverb"_qs)->release->systemText(), {}}}},
        {u"twice"_qs,
         {{u"Formats"_qs, u"VST3 · AU"_qs, u"  · installed: VST3, App"_qs},
          {u"System"_qs, u"an x86-64 or Arm computer"_qs, {}},
          {u"Where"_qs, {}, u"/opt/Tarn/Twice\n~/.vst3/Twice.vst3\n/usr/local/lib/vst3/Twice.vst3"_qs}}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.id.toStdString());
        auto* specs = new Specs(model.get(), row.id);
        EXPECT_EQ(specs->rows(), row.rows);
        // One hairline over the table, one under each row.
        EXPECT_EQ(specs->findChildren<Kit::Hairline*>().size(), qsizetype(row.rows.size() + 1));
        QStringList labels;
        for (const Specs::Row& r : row.rows)
            labels.append(r.label);
        EXPECT_EQ(texts(specs, u"specsLabel"_qs), labels);
        picture(specs, u"page-specs-"_qs + row.id);
        delete specs;
    }

    // A copy removed while the table shows: the table follows.
    auto* specs = new Specs(model.get(), u"twice"_qs);
    installer->copies.erase(u"twice"_qs);
    model->refresh(false);
    ASSERT_TRUE(eventually([&] { return specs->rows().size() == 2; }));
    EXPECT_EQ(texts(specs, u"specsMuted"_qs), QStringList());
    delete specs;
}

TEST_F(PageNotesTest, WhatsNewShowsThreeLinesOfItsVersionOrTheReleaseNote)
{
    Product product = plugin(u"echo"_qs, u"2.0"_qs);
    product.release->notes = u"Faster <i>start</i> & less noise"_qs;
    product.releases = std::vector<ReleaseNote>{
        {u"2.0"_qs, u"2026-11-02"_qs, {u"One"_qs, u"Two"_qs, u"Three"_qs, u"Four"_qs, u"Five"_qs}},
    };
    QUrl opened;
    const auto open = [&](const QUrl& url) { opened = url; };
    const struct {
        QString name;
        Product product;
        QString version;
        QStringList shown;
    } table[] = {
        {u"five-lines"_qs, product, u"2.0"_qs, {u"One"_qs, u"Two"_qs, u"Three"_qs}},
        {u"release-note"_qs, product, u"1.9"_qs, {u"Faster <i>start</i> & less noise"_qs}},
        {u"nothing"_qs, plugin(u"echo"_qs, u"1.0"_qs), u"1.0"_qs, {}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name.toStdString());
        auto* block = new Views::WhatsNew(row.product, row.version, open);
        EXPECT_EQ(texts(block, u"whatsNewTitle"_qs), QStringList{u"What's new in "_qs + row.version});
        EXPECT_EQ(texts(block, u"whatsNewLine"_qs), row.shown);
        for (const QLabel* line : block->findChildren<QLabel*>(u"whatsNewLine"_qs))
            EXPECT_EQ(line->textFormat(), Qt::PlainText);
        auto* link = child<Kit::ExternalLink>(block, u"whatsNewLink"_qs);
        EXPECT_EQ(link->text(), u"All release notes ↗"_qs);
        picture(block, u"page-whats-new-"_qs + row.name);
        link->click();
        EXPECT_EQ(opened, Config::changelog(u"echo"_qs));
        delete block;
    }
}

TEST_F(PageNotesTest, NotesListTagsOnlyStrictlyNewerVersions)
{
    const std::vector<ReleaseNote> history{
        {u"1.3.0"_qs, u"2026-10-01"_qs, {u"Sidechain input"_qs, u"Fixes a click at <b>bypass</b> & more"_qs}},
        {u"1.2.0"_qs, std::nullopt, {u"First public release"_qs}},
        {u"1.10.0"_qs, u"2026-12-01"_qs, {}},
    };
    const QUrl link(u"https://tarnaudio.example/changelog#hub"_qs);
    for (const std::optional<QString>& installed : {std::optional<QString>(u"1.2.0"_qs), std::optional<QString>()}) {
        SCOPED_TRACE(installed.value_or(u"none"_qs).toStdString());
        QUrl opened;
        auto* list = new Views::NotesList(history, installed, link, [&](const QUrl& url) { opened = url; });
        QStringList tagged;
        for (const ReleaseNote& note : history) {
            auto* block = child(list, u"note-"_qs + note.version);
            if (block->findChild<QWidget*>(u"noteNew"_qs))
                tagged.append(note.version);
            EXPECT_EQ(texts(block, u"noteDate"_qs), note.date ? QStringList{*note.date} : QStringList());
            EXPECT_EQ(texts(block, u"noteLine"_qs), note.notes);
        }
        EXPECT_EQ(tagged, installed ? (QStringList{u"1.3.0"_qs, u"1.10.0"_qs}) : QStringList());
        child<Kit::ExternalLink>(list, u"notesLink"_qs)->click();
        EXPECT_EQ(opened, link);
        picture(list, installed ? u"notes-list-installed"_qs : u"notes-list-nothing-installed"_qs, 420);
        delete list;
    }
}

} // namespace
} // namespace Hub::Test
