// The rules the views draw from, on a small catalog, through the model's
// public surface: one row per case.
#include "ModelTestSupport.h"

#include "Installer/InstallLocations.h"

using namespace Qt::StringLiterals;
using namespace Hub;
using namespace Hub::Test;

namespace {

class ModelRulesTest : public ModelFixture {
protected:
    void SetUp() override
    {
        ModelFixture::SetUp();
        Catalog catalog;
        Product echo = plugin(u"echo"_s, u"2.0"_s);
        echo.releases = std::vector<ReleaseNote>{{u"2.0"_s, u"2030-01-01"_s, {u"Faster tails"_s, u"Fewer clicks"_s}}};
        Product delay = plugin(u"delay"_s, u"2.0"_s);
        Product reverb = plugin(u"reverb"_s, u"1.0"_s);
        reverb.status = u"free"_s;
        reverb.displayName = u"Reverb Pro"_s;
        Product arm = plugin(u"arm"_s, u"1.0"_s);
        for (Artifact& artifact : *arm.release->artifacts)
            artifact.archs = QStringList{u"arm64"_s};
        Product newos = plugin(u"newos"_s, u"1.0"_s);
        newos.release->minMacOS = u"15.0"_s;
        Product soon = plugin(u"soon"_s, u"1.0"_s);
        soon.status = u"coming_soon"_s;
        soon.release.reset();
        Product site = plugin(u"site"_s, u"1.0"_s);
        site.release.reset();
        site.pageURL = u"https://tarnaudio.example/site"_s;
        Product feedOnly = plugin(u"feedonly"_s, u"3.0"_s);
        feedOnly.feed = Feed{u"https://tarnaudio.example/feed"_s, u"json"_s, {}, true, {}, {}};
        feedOnly.pageURL = u"https://tarnaudio.example/feedonly"_s;
        Product notes = plugin(u"notes"_s, u"1.1"_s);
        notes.release->notes = u"Only the release note"_s;
        Product secret = plugin(u"secret"_s, u"1.0"_s);
        secret.status = u"invite"_s;
        Product hidden = plugin(u"hidden"_s, u"1.0"_s);
        hidden.status = u"invite"_s;
        Product pkg = plugin(u"pkg"_s, u"5.0"_s);
        pkg.kind = u"app"_s;
        pkg.formats = QStringList{u"App"_s};
        pkg.release->artifacts.reset();
        pkg.release->pkgURL = u"https://tarnaudio.example/pkg.pkg"_s;
        pkg.release->sha256 = QString(64, u'b');
        pkg.release->archs = QStringList{u"x86_64"_s};
        pkg.release->notes = QString(); // an empty note is no note: the row keeps its tagline
        catalog.products = {echo, delay, reverb, arm, newos, soon, site, feedOnly, notes, secret, hidden, pkg};
        catalog.hub = Release{};
        catalog.hub->version = u"999.0"_s;

        installer->copies[u"echo"_s] = {copy(PluginFormat::vst3, u"1.0"_s), copy(PluginFormat::au, u"2.0"_s)};
        installer->copies[u"delay"_s] = {copy(PluginFormat::vst3, u"2.0"_s)};
        installer->copies[u"notes"_s] = {copy(PluginFormat::au, u"1.0"_s)};
        installer->copies[u"soon"_s] = {copy(PluginFormat::vst3, u"0.9"_s)};
        installer->copies[u"pkg"_s] = {copy(PluginFormat::app, u"4.0"_s)};
        service->reply = AccountReply{{u"reverb"_s, u"secret"_s}, {u"secret"_s, u"not-in-catalog"_s}};
        signInStored();
        build(catalog);
        startToFirstScreen();
        ASSERT_TRUE(model->account().has_value());
    }

    // The model's own record, as the views hold it.
    const Product& product(const QString& id) const
    {
        static const Product none;
        const Product* found = model->catalog()->product(id);
        EXPECT_NE(found, nullptr) << id.toStdString();
        return found ? *found : none;
    }
};

QString actionName(const std::optional<RowAction>& action)
{
    if (!action)
        return u"none"_s;
    static const char* const kNames[] = {"update", "install", "get"};
    return QString::fromLatin1(kNames[int(*action)]);
}

QString formatsText(const std::set<PluginFormat>& formats)
{
    QStringList words;
    for (PluginFormat format : formats)
        words.append(rawValue(format));
    return words.join(u',');
}

TEST_F(ModelRulesTest, EachRowReadsAsItsProductStandsOnThisComputer)
{
    struct Row {
        QString id;
        QString action;
        Caption caption;
        QString status;
        QString spoken;
        RowContext context;
        bool update;
    };
    const Caption none{};
    const std::vector<Row> rows = {
        {u"echo"_s, u"update"_s, {std::nullopt, u"1.0 → 2.0"_s, true}, u"update 2.0 available"_s,
         u"echo, update available, 1.0 to 2.0"_s, {u"Faster tails"_s, RowContextKind::updateNote, u"Faster tails"_s}, true},
        {u"delay"_s, u"none"_s, {std::nullopt, u"installed 2.0"_s, false}, u"installed 2.0"_s,
         u"delay, installed 2.0"_s, {u"The delay tagline"_s, RowContextKind::plain, std::nullopt}, false},
        {u"reverb"_s, u"install"_s, {u"free"_s, u"VST3 · AU"_s, false}, u"free · beta"_s,
         u"Reverb Pro, free, VST3, AU"_s, {u"The reverb tagline"_s, RowContextKind::plain, std::nullopt}, false},
        {u"arm"_s, u"none"_s, {std::nullopt, u"needs an Arm computer"_s, false}, u"needs an Arm computer"_s,
         u"arm, needs an Arm computer"_s, {u"needs an Arm computer"_s, RowContextKind::warning, u"needs an Arm computer"_s}, false},
        {u"newos"_s, u"none"_s, {std::nullopt, u"not for this system"_s, false}, u"not for this system"_s,
         u"newos, not for this system"_s, {u"not for this system"_s, RowContextKind::warning, u"not for this system"_s}, false},
        {u"soon"_s, u"none"_s, {std::nullopt, u"installed 0.9"_s, false}, u"installed 0.9 · not released yet"_s,
         u"soon, installed 0.9"_s, {u"The soon tagline"_s, RowContextKind::plain, std::nullopt}, false},
        {u"site"_s, u"get"_s, {std::nullopt, u"VST3 · AU"_s, false}, u"available now"_s, u"site, VST3, AU"_s,
         {u"The site tagline"_s, RowContextKind::plain, std::nullopt}, false},
        {u"feedonly"_s, u"get"_s, {std::nullopt, u"VST3 · AU"_s, false}, u"available now"_s,
         u"feedonly, VST3, AU"_s, {u"The feedonly tagline"_s, RowContextKind::plain, std::nullopt}, false},
        {u"notes"_s, u"update"_s, {std::nullopt, u"1.0 → 1.1"_s, true}, u"update 1.1 available"_s,
         u"notes, update available, 1.0 to 1.1"_s,
         {u"Only the release note"_s, RowContextKind::updateNote, u"Only the release note"_s}, true},
        {u"secret"_s, u"install"_s, {std::nullopt, u"VST3 · AU"_s, false}, u"invited · beta"_s,
         u"secret, VST3, AU"_s, {u"The secret tagline"_s, RowContextKind::plain, std::nullopt}, false},
        {u"hidden"_s, u"none"_s, {std::nullopt, u"VST3 · AU"_s, false}, u"available now"_s,
         u"hidden, VST3, AU"_s, {u"The hidden tagline"_s, RowContextKind::plain, std::nullopt}, false},
        {u"pkg"_s, u"update"_s, {std::nullopt, u"4.0 → 5.0"_s, true}, u"update 5.0 available"_s,
         u"pkg, update available, 4.0 to 5.0"_s, {u"The pkg tagline"_s, RowContextKind::plain, std::nullopt}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.id.toStdString());
        const Product& p = product(row.id);
        EXPECT_EQ(actionName(model->rowAction(p)), row.action);
        EXPECT_EQ(model->caption(p), row.caption);
        EXPECT_EQ(model->statusWord(p), row.status);
        EXPECT_EQ(model->spoken(p), row.spoken);
        EXPECT_EQ(model->rowContext(p), row.context);
        EXPECT_EQ(model->hasUpdate(p), row.update);
    }
    EXPECT_EQ(model->installLabel(product(u"echo"_s)), u"Install"_s);
}

TEST_F(ModelRulesTest, PublicProductsThenSharedOnesAndSectionsPutUpdatesFirst)
{
    QStringList shown;
    for (const Product& p : model->products())
        shown.append(p.id);
    // "hidden" is invite-only and not shared; "not-in-catalog" is shared but unknown.
    EXPECT_EQ(shown, (QStringList{u"echo"_s, u"delay"_s, u"reverb"_s, u"arm"_s, u"newos"_s, u"soon"_s, u"site"_s,
                                  u"feedonly"_s, u"notes"_s, u"pkg"_s, u"secret"_s}));
    EXPECT_EQ(model->product(u"hidden"_s), nullptr);
    EXPECT_EQ(model->product(std::nullopt), nullptr);
    ASSERT_NE(model->product(u"secret"_s), nullptr);
    EXPECT_EQ(model->product(u"secret"_s)->id, u"secret"_s);
    EXPECT_EQ(model->name(u"hub"_s), u"Tarnhub"_s);
    EXPECT_EQ(model->name(u"reverb"_s), u"Reverb Pro"_s);
    EXPECT_EQ(model->name(u"hidden"_s), u"hidden"_s);

    QStringList updates;
    for (const Product& p : model->updates())
        updates.append(p.id);
    EXPECT_EQ(updates, (QStringList{u"echo"_s, u"notes"_s, u"pkg"_s}));
    EXPECT_EQ(model->updateFormatsAvailable(product(u"echo"_s)), std::set<PluginFormat>{PluginFormat::vst3});
    EXPECT_EQ(model->updateFromVersion(product(u"delay"_s)), std::nullopt);

    const PluginSections sections = model->pluginSections();
    EXPECT_EQ(sections.onMac, (QStringList{u"echo"_s, u"notes"_s, u"pkg"_s, u"delay"_s, u"soon"_s}));
    EXPECT_EQ(sections.add, (QStringList{u"reverb"_s, u"arm"_s, u"newos"_s, u"site"_s, u"feedonly"_s, u"secret"_s}));
    EXPECT_TRUE(sections.soon.isEmpty());
    ASSERT_TRUE(model->hubUpdate().has_value());
    EXPECT_EQ(model->hubUpdate()->version, u"999.0"_s);
}

TEST_F(ModelRulesTest, FormatsFollowTheReleaseTheSettingsAndWhatIsInstalled)
{
    struct Row {
        const char* name;
        QString id;
        bool au;
        bool vst3;
        QString offered;
        QString defaults;
        QString update;
    };
    const std::vector<Row> rows = {
        {"both on", u"reverb"_s, true, true, u"vst3,au"_s, u"vst3,au"_s, u"vst3,au"_s},
        {"AU only", u"reverb"_s, true, false, u"vst3,au"_s, u"au"_s, u"au"_s},
        {"VST3 only", u"reverb"_s, false, true, u"vst3,au"_s, u"vst3"_s, u"vst3"_s},
        {"update takes the stale formats", u"echo"_s, true, true, u"vst3,au"_s, u"vst3,au"_s, u"vst3"_s},
        {"current: the installed formats", u"delay"_s, true, false, u"vst3,au"_s, u"au"_s, u"vst3"_s},
        {"not for this processor", u"arm"_s, true, true, u""_s, u""_s, u""_s},
        {"a package offers none", u"pkg"_s, true, true, u""_s, u""_s, u""_s},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        model->setInstallAU(row.au);
        model->setInstallVST3(row.vst3);
        const Product& p = product(row.id);
        const std::vector<PluginFormat> offered = model->formatsOffered(p);
        EXPECT_EQ(formatsText({offered.begin(), offered.end()}), row.offered);
        EXPECT_EQ(formatsText(model->defaultFormats(p)), row.defaults);
        EXPECT_EQ(formatsText(model->updateFormats(p)), row.update);
    }
}

TEST_F(ModelRulesTest, PlacesCopiesAndOldCopiesForAllUsers)
{
    const InstallRoots roots = model->roots();
    const QString home = roots.userHome;
    struct Row {
        const char* name;
        InstalledFormat copy;
        QString place;
    };
    const std::vector<Row> rows = {
        {"user VST3", copy(PluginFormat::vst3, u"1"_s), u"just for you"_s},
        {"all-users AU", copy(PluginFormat::au, u"1"_s, InstallScope::allUsers), u"for all users"_s},
        {"an application", copy(PluginFormat::app, u"1"_s), abbreviatingHome(roots.applications, home)},
        {"elsewhere in the home", {PluginFormat::vst3, home + u"/Music/X.vst3"_s, u"1"_s}, u"~/Music"_s},
        {"a sibling of the home", {PluginFormat::vst3, home + u"x/Music/X.vst3"_s, u"1"_s}, home + u"x/Music"_s},
        {"a user folder's sibling",
         {PluginFormat::vst3, InstallLocations::folder(roots, PluginFormat::vst3, InstallScope::user) + u"2/X.vst3"_s, u"1"_s},
         abbreviatingHome(InstallLocations::folder(roots, PluginFormat::vst3, InstallScope::user) + u"2"_s, home)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(model->placeName(row.copy), row.place);
    }

    struct Tilde {
        QString path;
        QString home;
        QString shown;
    };
    const std::vector<Tilde> tildes = {
        {u"/home/ann/Music"_s, u"/home/ann"_s, u"~/Music"_s},
        {u"/home/ann"_s, u"/home/ann"_s, u"~"_s},
        {u"/home/anna/Music"_s, u"/home/ann"_s, u"/home/anna/Music"_s},
        {u"/home/ann/Music"_s, u"/home/ann/"_s, u"~/Music"_s},
        {u"/etc/x"_s, u"/"_s, u"/etc/x"_s},
    };
    for (const Tilde& row : tildes)
        EXPECT_EQ(abbreviatingHome(row.path, row.home), row.shown) << row.path.toStdString();
}

TEST_F(ModelRulesTest, LegacyCopiesAreAllUsersCopiesBesideTheUsersOwn)
{
    installer->copies[u"delay"_s] = {copy(PluginFormat::vst3, u"2.0"_s),
                                     copy(PluginFormat::vst3, u"1.0"_s, InstallScope::allUsers),
                                     copy(PluginFormat::au, u"1.0"_s, InstallScope::allUsers),
                                     copy(PluginFormat::app, u"1.0"_s)};
    model->refresh(false);
    ASSERT_TRUE(eventually([this] { return stateOf(u"delay"_s).installed.size() == 4; }));
    const Product& delay = product(u"delay"_s);
    // The application folder is the same for both scopes, so an application
    // is an all-users copy but never an old one.
    EXPECT_EQ(model->allUsersCopies(delay),
              (QList<InstalledFormat>{copy(PluginFormat::vst3, u"1.0"_s, InstallScope::allUsers),
                                      copy(PluginFormat::au, u"1.0"_s, InstallScope::allUsers),
                                      copy(PluginFormat::app, u"1.0"_s)}));
    EXPECT_EQ(model->legacyCopies(delay),
              QList<InstalledFormat>{copy(PluginFormat::vst3, u"1.0"_s, InstallScope::allUsers)});
    EXPECT_EQ(model->appPath(delay), copy(PluginFormat::app, u"1.0"_s).path);
    EXPECT_TRUE(model->legacyCopies(product(u"echo"_s)).isEmpty());
}

TEST(ModelValues, JobWordsClampTheFractionOnce)
{
    struct Row {
        Job job;
        QString word;
        bool working;
    };
    const std::vector<Row> rows = {
        {Job::downloading(0.429), u"downloading 42%"_s, true},
        {Job::downloading(1.0), u"downloading 100%"_s, true},
        {Job::downloading(1.7), u"downloading 100%"_s, true},
        {Job::downloading(-0.2), u"downloading 0%"_s, true},
        {Job::downloading(std::nan("")), u"downloading 0%"_s, true},
        {Job::downloading(INFINITY), u"downloading 0%"_s, true},
        {Job::verifying(), u"checking"_s, true},
        {Job::installing(), u"installing"_s, true},
        {Job::registering(), u"registering"_s, true},
        {Job::removing(), u"removing"_s, true},
        {Job::waitingForRestart(), u"waiting to restart"_s, true},
        {Job::idle(), u""_s, false},
        {Job::done(u"Done."_s), u""_s, false},
        {Job::warning(u"Careful."_s), u""_s, false},
        {Job::failed(u"Broken."_s), u""_s, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.job.shortText(), row.word);
        EXPECT_EQ(row.job.isWorking(), row.working) << row.word.toStdString();
    }
    EXPECT_EQ(HubModel::fitText(Release::Fit::needsIntel()), u"needs an x86-64 computer"_s);
    EXPECT_EQ(HubModel::fitText(Release::Fit::fine()), u""_s);
}

TEST(ModelValues, HoldingKeepsEarlierPlacesDropsTheGoneAndAppendsNewcomers)
{
    struct Row {
        const char* name;
        PluginSections fresh;
        std::optional<PluginSections> earlier;
        PluginSections held;
    };
    const std::vector<Row> rows = {
        {"no earlier", {{u"a"_s}, {u"b"_s}, {}}, std::nullopt, {{u"a"_s}, {u"b"_s}, {}}},
        {"installed row stays in add",
         {{u"a"_s, u"b"_s}, {u"c"_s}, {}},
         PluginSections{{u"a"_s}, {u"b"_s, u"c"_s}, {}},
         {{u"a"_s}, {u"b"_s, u"c"_s}, {}}},
        {"gone rows drop, newcomers append",
         {{u"a"_s}, {u"d"_s, u"e"_s}, {}},
         PluginSections{{u"a"_s, u"x"_s}, {u"d"_s}, {}},
         {{u"a"_s}, {u"d"_s, u"e"_s}, {}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.fresh.holding(row.earlier), row.held);
    }
}

TEST_F(ModelRulesTest, OpenFolderOpensTheNearestFolderThatExists)
{
    const QString home = m_home.path();
    ASSERT_TRUE(QDir(home).mkpath(u"usr/local"_s));
    const struct {
        QString path;
        QString opened;
    } table[] = {
        {home + u"/usr/local/lib/vst3"_s, home + u"/usr/local"_s},
        {home + u"/usr/local/"_s, home + u"/usr/local"_s},
        {home, home},
        {u"/nowhere-at-all/deeper"_s, u"/nowhere-at-all"_s},
    };
    for (const auto& row : table) {
        model->openFolder(row.path);
        EXPECT_EQ(workspace->opened.value(workspace->opened.size() - 1), u"folder "_s + row.opened)
            << row.path.toStdString();
    }
}

} // namespace
