// Signing in and out, and the application's own update.
#include "Model/HubModel.h"
#include "Model/HubModelPrivate.h"

#include "Base/Config.h"
#include "Installer/InstallErrors.h"

#include <QDir>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

struct SignInResult {
    DeviceSession session;
    bool saved = false;
};

} // namespace

// ---- Signing out ------------------------------------------------------------------

void HubModel::signOutHere(bool signInAgain)
{
    if (!d->session && !d->account) {
        assign(d->signInAgain, signInAgain, &HubModel::signInAgainChanged);
        return;
    }
    d->session.reset();
    ++d->generation;
    assign(d->account, std::optional<AccountInfo>(), &HubModel::accountChanged);
    assign(d->signInAgain, signInAgain, &HubModel::signInAgainChanged);
    if (signInAgain)
        submit(Keep::always, [devices = d->services.devices] { devices->clear(); }, [](Outcome<std::monostate>) {});
}

void HubModel::signOut()
{
    setAccountMenu(false);
    const std::optional<DeviceSession> session = d->session;
    signOutHere(false);
    setScreen(Screen::login);
    // The stored session goes first: a crash or a quit during the service's
    // call (up to seconds) must not leave the user signed in at next launch.
    submit(Keep::always,
           [devices = d->services.devices, service = d->services.service, identity = d->services.identity, session,
            stop = d->stop.get_token()] {
               devices->clear();
               if (session)
                   service->signOut(*session);
               identity->signOut(stop);
           },
           [](Outcome<std::monostate>) {});
}

// ---- Signing in -------------------------------------------------------------------

void HubModel::loadSignInProviders()
{
    auto stop = d->stop.get_token();
    submit(Keep::always, [identity = d->services.identity, stop] { return identity->socialProviders(stop); },
           [this](Outcome<std::optional<std::vector<OAuthProvider>>> outcome) {
               if (!outcome.value || !*outcome.value)
                   return;
               OAuthProviders offered;
               for (OAuthProvider provider : **outcome.value)
                   if (std::find(d->providers.begin(), d->providers.end(), provider) != d->providers.end())
                       offered.push_back(provider);
               assign(d->providers, offered, &HubModel::signInProvidersChanged);
           });
}

void HubModel::signIn(const QString& email, const QString& password)
{
    runSignIn({}, {[identity = d->services.identity, email, password](std::stop_token stop) {
        return identity->signIn(email, password, stop);
    }});
}

void HubModel::signIn(OAuthProvider provider)
{
    runSignIn(provider, {[identity = d->services.identity, provider](std::stop_token stop) {
        return identity->signIn(provider, stop);
    }});
}

void HubModel::submitCode(const QString& code)
{
    runSignIn({}, {[codes = d->services.codes, code](std::stop_token stop) { return codes->verify(code, stop); }});
}

void HubModel::cancelSignIn()
{
    if (d->signInStop)
        d->signInStop->request_stop();
    d->signInStop.reset();
    assign(d->signingIn, false, &HubModel::signingInChanged);
    assign(d->codeNeeded, false, &HubModel::codeNeededChanged);
}

void HubModel::runSignIn(std::optional<OAuthProvider> provider, SignInCall signIn)
{
    if (d->signingIn || d->shutDown)
        return;
    assign(d->signingIn, true, &HubModel::signingInChanged);
    setLoginNote(std::nullopt);
    auto stop = std::make_shared<std::stop_source>();
    d->signInStop = stop;
    // Quitting stops the sign-in too.
    auto quitting = std::make_shared<std::stop_callback<std::function<void()>>>(
        d->stop.get_token(), std::function<void()>([stop] { stop->request_stop(); }));
    submit(
        Keep::always,
        [signIn, stop, quitting, service = d->services.service, devices = d->services.devices,
         machineID = d->services.machineID, computerName = d->services.computerName] {
            const QString token = signIn.run(stop->get_token());
            if (stop->stop_requested())
                throw HubError::cancelled();
            SignInResult result;
            result.session = service->registerDevice(token, machineID, computerName);
            // Cancelled meanwhile: nothing may be stored that the screen never shows.
            if (stop->stop_requested())
                throw HubError::cancelled();
            result.saved = devices->save(result.session);
            return result;
        },
        [this, stop, provider](Outcome<SignInResult> outcome) {
            if (stop->stop_requested() || d->signInStop != stop)
                return; // cancelled: the screen has moved on
            d->signInStop.reset();
            assign(d->signingIn, false, &HubModel::signingInChanged);
            if (outcome.value) {
                if (!outcome.value->saved)
                    record(u"hub"_s, u"hub.keychain.save"_s,
                           u"The sign-in couldn't be saved, so you'll sign in again next time."_s);
                signedIn(outcome.value->session);
                return;
            }
            const std::optional<HubError> error = Private::hubError(outcome.error);
            if (!error) {
                setLoginNote(errorSentence(outcome.error));
                return;
            }
            if (error->kind() == HubError::Kind::cancelled)
                return;
            if (error->code() == "needs_code"_L1)
                assign(d->codeNeeded, true, &HubModel::codeNeededChanged);
            if (error->code() == "provider_off"_L1 && provider) {
                OAuthProviders offered = d->providers;
                std::erase(offered, *provider);
                assign(d->providers, offered, &HubModel::signInProvidersChanged);
            }
            setLoginNote(error->errorDescription());
        });
}

void HubModel::signedIn(const DeviceSession& session)
{
    d->session = session;
    ++d->generation;
    assign(d->signInAgain, false, &HubModel::signInAgainChanged);
    assign(d->codeNeeded, false, &HubModel::codeNeededChanged);
    setLoginNote(std::nullopt);
    // A refresh under way checks the new session's account as one more of
    // its parts (its catalog and feeds do not depend on who signed in); it
    // drops the result of an account check begun before. Either starts
    // before the main screen shows, so a waiting link to a product the
    // account shares waits for it.
    if (d->loading)
        checkAccount();
    else
        refresh(true);
    setScreen(Screen::main);
}

void HubModel::checkAccount()
{
    ++d->refreshParts;
    d->refreshGeneration = d->generation;
    const quint64 generation = d->generation;
    submit(
        Keep::always,
        [service = d->services.service, session = *d->session, machineID = d->services.machineID] {
            return service->account(session, machineID);
        },
        [this, generation](Outcome<AccountReply> outcome) {
            const std::optional<HubError> error = outcome.value ? std::nullopt : Private::hubError(outcome.error);
            const bool answered =
                outcome.value || (error && !error->isOffline() && error->kind() != HubError::Kind::cancelled);
            if (generation == d->generation && d->session) {
                if (outcome.value) {
                    std::optional<AccountInfo> info(AccountInfo{d->session->user, outcome.value->betas,
                                                                outcome.value->products, d->services.clock->now()});
                    if (info != d->account) {
                        // The views re-read only the products whose access changed.
                        d->productsChanged = productsChangedBy(d->account, info);
                        d->account = std::move(info);
                        Q_EMIT accountChanged();
                        d->productsChanged.reset();
                    }
                } else if (error && error->isUnauthorized()) {
                    signOutHere(true);
                } else if (answered) {
                    record(u"hub"_s, u"hub.account"_s, error->errorDescription());
                }
            }
            refreshPartDone(answered, outcome.value || error);
        });
}

// ---- The application's own update -------------------------------------------------

void HubModel::updateHub()
{
    const std::optional<Release> release = hubUpdate();
    if (!release || d->hubJob.isWorking() || d->shutDown)
        return;
    assign(d->hubJob, Job::downloading(0.0), &HubModel::hubJobChanged);
    auto lastStep = std::make_shared<QString>();
    submit(
        Keep::always,
        [packages = d->services.packages, release = *release, progress = Private::progressFor(this, QString(), lastStep),
         stop = d->stop.get_token()] { return packages->install(u"Tarnhub"_s, release, true, progress, stop); },
        [this, lastStep](Outcome<QString> outcome) {
            if (Private::isCancelled(outcome.error)) {
                assign(d->hubJob, Job::idle(), &HubModel::hubJobChanged);
                return;
            }
            if (!outcome.value) {
                const QString sentence = errorSentence(outcome.error);
                record(u"hub"_s, installCode(*lastStep), sentence);
                assign(d->hubJob, Job::failed(sentence), &HubModel::hubJobChanged);
                return;
            }
            d->restartProgram = QDir(*outcome.value).filePath(u"Contents/MacOS/hubtarn"_s);
            d->restartPending = true;
            maybeRestart();
        });
}

void HubModel::maybeRestart()
{
    if (!d->restartPending || d->restarting)
        return;
    const bool jobsRunning = std::any_of(d->states.begin(), d->states.end(),
                                         [](const auto& entry) { return entry.second.job.isWorking(); });
    if (jobsRunning) {
        assign(d->hubJob, Job::waitingForRestart(), &HubModel::hubJobChanged);
        return;
    }
    d->restarting = true;
    Q_EMIT restartRequested(d->restartProgram);
}

} // namespace Hub
