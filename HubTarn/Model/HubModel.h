#pragma once

#include "Catalog/CatalogRecords.h"
#include "Model/ModelTypes.h"
#include "Reports/ReportFile.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

class QThreadPool;
class QUrl;
class QVariant;

namespace Hub {

class HubError;
class ReportSpool;
struct SpoolContents;

// What the model is built over: Model/HubModelServices.h, for whoever
// builds a model.
struct HubModelServices;

// The one view model: the state every view draws and the operations the
// views call. Lives on the main thread; long work runs on the model's own
// thread pool and its results come back to the main thread.
class HubModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(Hub::Screen screen READ screen WRITE setScreen NOTIFY screenChanged)
    Q_PROPERTY(Hub::Tab tab READ tab WRITE setTab NOTIFY tabChanged)
    Q_PROPERTY(std::optional<QString> page READ page WRITE setPage NOTIFY pageChanged)
    Q_PROPERTY(std::optional<Hub::Sheet> sheet READ sheet WRITE setSheet NOTIFY sheetChanged)
    Q_PROPERTY(bool accountMenu READ accountMenu WRITE setAccountMenu NOTIFY accountMenuChanged)
    Q_PROPERTY(std::optional<Hub::DAWWarning> dawWarning READ dawWarning NOTIFY dawWarningChanged)
    Q_PROPERTY(std::optional<Hub::Catalog> catalog READ catalog NOTIFY catalogChanged)
    Q_PROPERTY(std::optional<Hub::AccountInfo> account READ account NOTIFY accountChanged)
    Q_PROPERTY(Hub::ProductStates states READ states NOTIFY statesChanged)
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
    Q_PROPERTY(bool offline READ offline NOTIFY offlineChanged)
    Q_PROPERTY(std::optional<QDateTime> lastChecked READ lastChecked NOTIFY lastCheckedChanged)
    Q_PROPERTY(Hub::Job hubJob READ hubJob NOTIFY hubJobChanged)
    Q_PROPERTY(std::vector<Hub::ReportFile> problems READ problems NOTIFY problemsChanged)
    Q_PROPERTY(std::optional<QString> reportNote READ reportNote NOTIFY reportNoteChanged)
    Q_PROPERTY(std::optional<QString> loginNote READ loginNote WRITE setLoginNote NOTIFY loginNoteChanged)
    Q_PROPERTY(bool signInAgain READ signInAgain NOTIFY signInAgainChanged)
    Q_PROPERTY(bool installAU READ installAU WRITE setInstallAU NOTIFY installAUChanged)
    Q_PROPERTY(bool installVST3 READ installVST3 WRITE setInstallVST3 NOTIFY installVST3Changed)
    Q_PROPERTY(Hub::InstallScope scope READ scope WRITE setScope NOTIFY scopeChanged)
    Q_PROPERTY(bool checkAtOpen READ checkAtOpen WRITE setCheckAtOpen NOTIFY checkAtOpenChanged)
    Q_PROPERTY(bool autoUpdate READ autoUpdate WRITE setAutoUpdate NOTIFY autoUpdateChanged)
    Q_PROPERTY(bool sendReports READ sendReports WRITE setSendReports NOTIFY sendReportsChanged)
    Q_PROPERTY(Hub::HubModel::OAuthProviders signInProviders READ signInProviders NOTIFY signInProvidersChanged)
    Q_PROPERTY(bool codeNeeded READ codeNeeded NOTIFY codeNeededChanged)
    Q_PROPERTY(bool signingIn READ signingIn NOTIFY signingInChanged)

public:
    using OAuthProviders = std::vector<OAuthProvider>;

    // Reads the settings, fixes the install roots, opens the report spool,
    // takes the catalog from the local copies and scans what is installed.
    explicit HubModel(HubModelServices services, QObject* parent = nullptr);
    ~HubModel() override;

    // ---- Published state ----------------------------------------------------

    Screen screen() const;
    // Becoming main replays a deep link that waited for it.
    void setScreen(Screen screen);
    Tab tab() const;
    void setTab(Tab tab);
    const std::optional<QString>& page() const;
    void setPage(const std::optional<QString>& page);
    const std::optional<Sheet>& sheet() const;
    void setSheet(const std::optional<Sheet>& sheet);
    bool accountMenu() const;
    void setAccountMenu(bool open);
    const std::optional<DAWWarning>& dawWarning() const;
    // The views only clear it.
    void clearDAWWarning();
    const std::optional<Catalog>& catalog() const;
    // While catalogChanged or accountChanged is emitted: the products whose
    // rows show something else now (they came, went or changed), the other
    // rows staying as they are; empty when no row changes (the account's
    // last contact alone did). None when any row may have (another user),
    // and outside those signals.
    const std::optional<QStringList>& productsChanged() const;
    std::optional<CatalogSource> catalogSource() const;
    const std::optional<AccountInfo>& account() const;
    const ProductStates& states() const;
    bool loading() const;
    bool offline() const;
    const std::optional<QDateTime>& lastChecked() const;
    const Job& hubJob() const;
    const std::vector<ReportFile>& problems() const;
    // One sentence for each thing in a report file's place that can't be
    // read (a named pipe, a link, a folder), which the spool leaves as it
    // is: Clear and Send too. Changes with problemsChanged.
    const QStringList& unreadableProblems() const;
    const std::optional<QString>& reportNote() const;
    // True while spooled reports are being sent, by hand or automatically.
    bool sendingReports() const;
    const std::optional<QString>& loginNote() const;
    void setLoginNote(const std::optional<QString>& note);
    bool signInAgain() const;

    bool installAU() const;
    void setInstallAU(bool on);
    bool installVST3() const;
    void setInstallVST3(bool on);
    InstallScope scope() const;
    void setScope(InstallScope scope);
    bool checkAtOpen() const;
    void setCheckAtOpen(bool on);
    bool autoUpdate() const;
    void setAutoUpdate(bool on);
    bool sendReports() const;
    // Switching it on sends the spooled reports at once.
    void setSendReports(bool on);

    // The sign-in screen: providers to offer, whether a code is asked for,
    // whether a sign-in runs.
    const OAuthProviders& signInProviders() const;
    bool codeNeeded() const;
    bool signingIn() const;
    // False when this build cannot sign anyone in (it has no sign-in key).
    bool signInAvailable() const;
    // False when the system's packages update the program: then no update
    // of its own is offered, downloaded or installed.
    bool selfUpdates() const;

    // ---- Fixed values -------------------------------------------------------

    const std::optional<DeviceSession>& session() const;
    const InstallRoots& roots() const;
    const QString& cpu() const;
    const QString& macOSVersion() const;

    // The install roots of an isolated home folder.
    static InstallRoots isolatedRoots(const QString& home);

    // ---- Derived values -----------------------------------------------------

    // The shown products, in catalog order then the shared ones, and those
    // of them with an update: references into the catalog, valid until
    // catalogChanged or accountChanged. Lists of rows keep identifiers.
    using ProductList = std::vector<std::reference_wrapper<const Product>>;
    ProductList products() const;
    ProductList updates() const;
    std::optional<Release> hubUpdate() const;
    // The shown product with that identifier; null for none or an identifier
    // that is not shown. Valid until the catalog or the account changes.
    const Product* product(const std::optional<QString>& id) const;
    ProductState state(const Product& product) const;
    bool isShown(const Product& product) const;
    bool isSoon(const Product& product) const;
    bool isBeta(const Product& product) const;
    bool hasUpdate(const Product& product) const;
    std::set<PluginFormat> updateFormatsAvailable(const Product& product) const;
    std::optional<QString> updateFromVersion(const Product& product) const;
    std::optional<QString> appPath(const Product& product) const;
    // The highest version among the copies of `formats` (of every copy
    // when empty); none without such a copy.
    std::optional<QString> installedVersion(const Product& product, const std::set<PluginFormat>& formats = {}) const;
    QList<InstalledFormat> allUsersCopies(const Product& product) const;
    QList<InstalledFormat> legacyCopies(const Product& product) const;
    QString placeName(const InstalledFormat& copy) const;
    // `path` with this model's home folder as "~".
    QString abbreviated(const QString& path) const;
    std::vector<PluginFormat> formatsOffered(const Product& product) const;
    std::set<PluginFormat> defaultFormats(const Product& product) const;
    std::set<PluginFormat> updateFormats(const Product& product) const;
    static QString fitText(const Release::Fit& fit);
    static QString installLabel(const Product& product);
    QString statusWord(const Product& product) const;
    std::optional<RowAction> rowAction(const Product& product) const;
    RowContext rowContext(const Product& product) const;
    // What the current release brings, in one line: the first note of its
    // version in the history, else the release's own note; none without.
    static std::optional<QString> updateNote(const Product& product);
    Caption caption(const Product& product) const;
    QString spoken(const Product& product) const;
    QString name(const QString& productID) const;
    PluginSections pluginSections() const;
    // True while any product's job or the application's own update works:
    // quitting then needs the user's confirmation, unless restarting.
    bool busy() const;
    bool restarting() const;

    // ---- Operations ---------------------------------------------------------

    // Runs once: network watch, old downloads, the stored session, the
    // splash, the first refresh and the periodic ones.
    void start();
    void refresh(bool catalog);
    void requestInstall(const Product& product, const std::set<PluginFormat>& formats, InstallScope scope);
    void requestUninstall(const Product& product, const UninstallOptions& options, bool legacy);
    void requestUpdateAll();
    void requestRemoveLegacy(const Product& product);
    void updateHub();
    void signOut();
    void openAccountPage();
    void sendProblems();
    void clearProblems();
    // `done` gets nothing on success, else the error, on the main thread.
    void sendFeedback(const Product& product, FeedbackKind kind, const QString& message,
                      std::function<void(std::optional<HubError>)> done);
    void reveal(const Product& product);
    // Opens `path` in the file manager, or its nearest folder that exists
    // when it does not exist yet (a plug-in folder before the first install).
    // When nothing opens it, `failed` gets the sentence that says so.
    void openFolder(const QString& path, std::function<void(const QString& sentence)> failed = {});
    // Opens an address from the catalog or the views: only https and http,
    // and mailto to the support address; anything else is refused silently.
    void openLink(const QUrl& url);
    // Opens the product's installed application, when there is one.
    void openApp(const Product& product);
    // A "hubtarn:" link; the shell forwards every link here.
    void open(const QUrl& url);

    // Sign-in, for the sign-in screen.
    void loadSignInProviders();
    void signIn(const QString& email, const QString& password);
    void signIn(OAuthProvider provider);
    void submitCode(const QString& code);
    void cancelSignIn();

    // Calls `resume` on `context`'s thread after `seconds` of the model's
    // clock (a negative number counts as 0): the views' timing, so tests
    // move a fake clock instead of waiting.
    void pause(double seconds, QObject* context, std::function<void()> resume);
    // The model's clock now: what the views measure ages against.
    QDateTime now() const;

    // Cancels running work and waits for it a few seconds at most.
    void shutdown();

    static constexpr double kSplashSeconds = 0.8;
    static constexpr double kRefreshInterval = 21600.0;
    static constexpr int kShutdownWaitMs = 3000;

    // Which signal makes which derived value stale, so a view recomputes
    // only what changed:
    // - productStateChanged(id): that product's state(), rowAction(),
    //   rowContext(), caption(), spoken(), statusWord() and job. A download
    //   tick emits nothing else, so only that product's row redraws.
    // - statesChanged: a job started, changed its step or ended, or a
    //   product's installed copies changed: pluginSections(), updates(),
    //   updateFormats*(), installedVersion(), appPath(), the copies, busy()
    //   and the update count. Always after the productStateChanged of each
    //   product concerned.
    // - catalogChanged, accountChanged: everything derived from products,
    //   including products(), product() pointers and isShown(); rows look
    //   their product up again by identifier, and only the rows of
    //   productsChanged() read it again. A refresh that brings an equal
    //   catalog emits nothing; its copies' changes come as below.
    // - offlineChanged, loadingChanged: the enabled rules of actions that
    //   need the network and of the check button.
    // - hubJobChanged, catalogChanged: hubUpdate() and the application's
    //   own update bar.
Q_SIGNALS:
    void screenChanged();
    void tabChanged();
    void pageChanged();
    void sheetChanged();
    void accountMenuChanged();
    void dawWarningChanged();
    void catalogChanged();
    void accountChanged();
    // The set of jobs (one started, changed its step or ended) or the
    // installed copies changed; not emitted for a download's progress.
    void statesChanged();
    // One product's state changed (its job, its progress or its installed
    // copies).
    void productStateChanged(const QString& productID);
    void loadingChanged();
    void offlineChanged();
    void lastCheckedChanged();
    void hubJobChanged();
    void problemsChanged();
    void reportNoteChanged();
    void sendingReportsChanged();
    void loginNoteChanged();
    void signInAgainChanged();
    void installAUChanged();
    void installVST3Changed();
    void scopeChanged();
    void checkAtOpenChanged();
    void autoUpdateChanged();
    void sendReportsChanged();
    void signInProvidersChanged();
    void codeNeededChanged();
    void signingInChanged();
    // The application's own update is installed: start `program` and quit
    // without asking.
    void restartRequested(const QString& program);

private:
    // The model's state and machinery: Model/HubModelPrivate.h.
    struct Private;
    std::unique_ptr<Private> d;

    // What "Show in Files" and the settings' "Show" say when nothing opened `folder`.
    QString folderNotOpened(const QString& folder) const;

    // ---- The one way long work runs ----------------------------------------

    // Whether a result still matters after the signed-in session changed.
    enum class Keep { always, sameSession };

    template<typename T>
    struct Outcome;

    // Runs `work` on the model's pool and hands its outcome to `done` on the
    // main thread; with Keep::sameSession the outcome is dropped when the
    // session changed meanwhile.
    template<typename Work, typename Done>
    void submit(Keep keep, Work work, Done done);
    // The same, on `pool`.
    template<typename Work, typename Done>
    void submitTo(QThreadPool& pool, Keep keep, Work work, Done done);

    struct RefreshResult;

    // What the row rules need to know of one product, worked out once per
    // query.
    struct Facts;
    // Cached for the catalog's own products until their copies or the
    // catalog change, so a redraw of 2,000 rows stays within a frame.
    const Facts& facts(const Product& product) const;
    // Fills a fresh `facts`: the versions first, then the texts from them.
    void computeFacts(const Product& product, Facts& facts) const;
    // The same from the product's installed copies and the machine alone,
    // so a refresh works out a new catalog's facts on the pool.
    static void computeFacts(const Product& product, const QList<InstalledFormat>& installed, const QString& cpu,
                             const QString& osVersion, Facts& facts);
    static void weighVersions(const Product& product, const QList<InstalledFormat>& installed, const QString& cpu,
                              const QString& osVersion, Facts& facts);
    static void addTexts(const Product& product, Facts& facts);
    static Caption captionOf(const Product& product, const Facts& facts);
    static std::vector<PluginFormat> formatsOffered(const Product& product, const QString& cpu);
    void forgetFacts(const QString& productID);

    struct InstallRequest;
    struct SignInCall;

    // Settings.
    void loadSettings();
    void store(const QString& key, const QVariant& value);

    // Start-up and refresh.
    void sessionLoaded(const DeviceLoad& load);
    void showFirstScreen();
    void scheduleRefresh();
    void applyRefresh(RefreshResult result, quint64 rescansBefore);
    // Ends one part of the refresh under way (the catalog's, an account
    // check) with whether the network answered it and whether it was
    // asked at all; the last part ends the refresh.
    void refreshPartDone(bool answered, bool attempted);
    // Checks the account of the session as part of the refresh under way.
    void checkAccount();
    void setCatalog(Catalog catalog);
    static std::optional<QStringList> productsChangedBy(const std::optional<AccountInfo>& before,
                                                        const std::optional<AccountInfo>& now);
    // The catalog's product with that identifier, shown or not; null when none.
    const Product* catalogProduct(const QString& id) const;
    // Calls `visit` with each shown product, in the order of products().
    template<typename Visit>
    void forEachShown(Visit visit) const;
    void rescan(const Product& product, const QList<InstalledFormat>& installed);
    // "hub.install", or "hub.install.<step>" after the installer reported a step.
    static QString installCode(const QString& lastStep);
    // Reads the spool and publishes what it holds, after `change` when one
    // is given: on the spool's own queue, one call at a time in the order
    // asked, so a later list never lacks what an earlier call wrote.
    void reloadProblems();
    void changeSpool(std::function<void(const ReportSpool&)> change);
    void publishProblems(SpoolContents contents);

    // Jobs.
    void setJob(const QString& productID, const Job& job);
    bool isWorking(const QString& productID) const;
    bool warnAboutDAWs(const QString& message, const QString& confirm, std::function<void()> run);
    bool refusesInstall(const InstallRequest& request);
    void startInstall(const InstallRequest& request, std::function<void()> finished = {});
    void startUninstall(const Product& product, const UninstallOptions& options);
    void runUpdates(std::vector<InstallRequest> queue);
    InstallRequest updateRequest(const Product& product) const;

    // Session.
    void signOutHere(bool signInAgain);
    void signedIn(const DeviceSession& session);
    void runSignIn(std::optional<OAuthProvider> provider, SignInCall signIn);
    void record(const QString& product, const QString& code, const QString& message);

    // Self-update: restarts once no product's job works.
    void maybeRestart();

    // Deep links.
    // Opens the waiting link's page; a product not shown yet is dropped
    // only at the last chance.
    void replayLink(bool lastChance);

    template<typename T>
    void assign(T& member, const T& value, void (HubModel::*changed)());
};

} // namespace Hub
