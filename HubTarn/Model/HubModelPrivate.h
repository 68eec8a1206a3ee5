#pragma once

// The model's own machinery, for the model's .cpp files alone: a view sees
// HubModel.h, and nothing here.
#include "Model/HubModel.h"
#include "Model/HubModelServices.h"

#include "Base/HubError.h"
#include "Catalog/CatalogLoader.h"
#include "Installer/PluginInstaller.h"
#include "Reports/ReportSpool.h"

#include <QHash>
#include <QMetaObject>
#include <QPointer>
#include <QSettings>
#include <QThreadPool>

#include <exception>
#include <memory>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>
#include <variant>

namespace Hub {

// What the row rules need to know of one product, worked out once per
// query: versions are compared here and nowhere else.
struct HubModel::Facts {
    // The product's entry in `states` (null: none), looked up on the main
    // thread at the first query: facts weighed on the pool leave it unknown.
    const ProductState* state = nullptr;
    bool stateKnown = false;
    bool installed = false;
    bool installable = false;
    Release::Fit fit;
    std::optional<QString> installedVersion;
    std::set<PluginFormat> stale; // installed formats the release brings newer
    bool update = false;
    std::optional<QString> from; // the version an update replaces
    // The texts that depend on nothing else, made once.
    QString shown;
    Caption caption;
    QString spokenAtRest; // the row's label while no job works
    bool unfit() const { return installable && fit.kind != Release::FitKind::fine; }
};

struct HubModel::InstallRequest {
    Product product;
    std::set<PluginFormat> formats;
    InstallScope scope = InstallScope::user;
};

// The account's half of a sign-in: gets a token, and gives up when `stop`
// is requested.
struct HubModel::SignInCall {
    std::function<QString(std::stop_token stop)> run;
};

struct HubModel::Private {
    explicit Private(HubModelServices services)
        : services(std::move(services))
    {
    }

    // Signed in, each artifact's address comes from the service for this
    // session; signed out, the catalog's own address is used.
    PluginInstaller::URLResolver downloadResolver() const;
    // Hands `model` each step an installer reports, on the main thread and
    // at most one waiting at a time; `lastStep` keeps the last step's word.
    static InstallProgress progressFor(HubModel* model, const QString& productID, std::shared_ptr<QString> lastStep);

    // A product's installed copies, into `states` and `installed` both.
    void setInstalled(const QString& productID, const QList<InstalledFormat>& copies)
    {
        if (copies.isEmpty())
            installed.remove(productID);
        else
            installed.insert(productID, copies);
        states[productID].installed = copies;
    }

    // The HubError inside `error`; none for any other exception.
    static std::optional<HubError> hubError(const std::exception_ptr& error);
    static bool isCancelled(const std::exception_ptr& error);
    static bool isUnauthorized(const std::exception_ptr& error);

    HubModelServices services;
    InstallRoots roots;
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<CatalogLoader> loader;
    std::unique_ptr<ReportSpool> spool;
    QThreadPool pool;
    // The report spool's reads and changes, one at a time in order.
    QThreadPool spoolQueue;
    std::stop_source stop;
    QDateTime launched;

    Screen screen = Screen::splash;
    Tab tab = Tab::plugins;
    std::optional<QString> page;
    std::optional<Sheet> sheet;
    bool accountMenu = false;
    std::optional<DAWWarning> dawWarning;
    // The catalog shown; never null. Replaced whole, never changed in
    // place: a refresh compares the next one against it on the pool.
    std::shared_ptr<const std::optional<Catalog>> catalog = std::make_shared<const std::optional<Catalog>>();
    QHash<QString, qsizetype> productIndex; // the catalog's products by identifier
    bool repeatedIDs = false;               // the catalog lists an identifier twice
    std::vector<std::optional<Facts>> facts; // by catalog position
    // What catalogChanged or accountChanged, while emitted, changed: see
    // HubModel::productsChanged().
    std::optional<QStringList> productsChanged;
    Facts uncachedFacts;
    std::optional<CatalogSource> catalogSource;
    std::optional<AccountInfo> account;
    ProductStates states;
    // Each product's installed copies as `states` holds them, those with
    // any: a refresh's scan tells only what differs from it.
    QHash<QString, QList<InstalledFormat>> installed;
    // When a job last rescanned each product, so an older refresh scan
    // never overwrites it.
    quint64 rescans = 0;
    QHash<QString, quint64> rescanned;
    bool loading = false;
    bool offline = false;
    std::optional<QDateTime> lastChecked;
    Job hubJob;
    std::vector<ReportFile> problems;
    QStringList unreadableProblems;
    std::optional<QString> reportNote;
    std::optional<QString> loginNote;
    bool signInAgain = false;
    bool installAU = false; // no Linux host loads an Audio Unit
    bool installVST3 = true;
    InstallScope scope = InstallScope::user;
    bool checkAtOpen = true;
    bool autoUpdate = false;
    bool sendReports = false;
    OAuthProviders providers = {OAuthProvider::google, OAuthProvider::apple};
    bool codeNeeded = false;
    bool signingIn = false;

    std::optional<DeviceSession> session;
    quint64 generation = 0;
    bool started = false;
    bool sessionRead = false;
    bool splashOver = false;
    bool networkOnline = true;
    bool sendingReports = false;
    bool refreshAgain = false;
    // The refresh under way: its parts still out (the catalog, account
    // checks), whether the network answered any and was asked at all, and
    // the session it serves.
    int refreshParts = 0;
    bool refreshAnswered = false;
    bool refreshAttempted = false;
    quint64 refreshGeneration = 0;
    std::optional<QString> waitingLink;
    std::shared_ptr<std::stop_source> signInStop;
    QString restartProgram;
    bool restartPending = false;
    bool restarting = false;
    bool shutDown = false;
};

template<typename T>
struct HubModel::Outcome {
    std::optional<T> value;
    std::exception_ptr error;
};

template<typename Work, typename Done>
void HubModel::submit(Keep keep, Work work, Done done)
{
    submitTo(d->pool, keep, std::move(work), std::move(done));
}

template<typename Work, typename Done>
void HubModel::submitTo(QThreadPool& pool, Keep keep, Work work, Done done)
{
    using Raw = std::invoke_result_t<Work>;
    using T = std::conditional_t<std::is_void_v<Raw>, std::monostate, Raw>;
    const quint64 generation = d->generation;
    QPointer<HubModel> self(this);
    pool.start([self, keep, generation, work = std::move(work), done = std::move(done)]() mutable {
        auto outcome = std::make_shared<Outcome<T>>();
        try {
            if constexpr (std::is_void_v<Raw>) {
                work();
                outcome->value = std::monostate{};
            } else {
                outcome->value = work();
            }
        } catch (...) {
            outcome->error = std::current_exception();
        }
        QMetaObject::invokeMethod(
            self.data(),
            [self, keep, generation, outcome, done = std::move(done)]() mutable {
                if (!self || (keep == Keep::sameSession && self->d->generation != generation))
                    return;
                done(std::move(*outcome));
            },
            Qt::QueuedConnection);
    });
}

template<typename Visit>
void HubModel::forEachShown(Visit visit) const
{
    if (!*d->catalog)
        return;
    for (const Product& product : (*d->catalog)->products)
        if (!product.isInvite())
            visit(product);
    if (d->account)
        for (const QString& id : d->account->products)
            if (const Product* shared = catalogProduct(id); shared && shared->isInvite())
                visit(*shared);
}

template<typename T>
void HubModel::assign(T& member, const T& value, void (HubModel::*changed)())
{
    if (member == value)
        return;
    member = value;
    Q_EMIT (this->*changed)();
}

} // namespace Hub
