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
    if (!m_session && !m_account) {
        assign(m_signInAgain, signInAgain, &HubModel::signInAgainChanged);
        return;
    }
    m_session.reset();
    ++m_generation;
    assign(m_account, std::optional<AccountInfo>(), &HubModel::accountChanged);
    assign(m_signInAgain, signInAgain, &HubModel::signInAgainChanged);
    if (signInAgain)
        submit(Keep::always, [devices = m_services.devices] { devices->clear(); }, [](Outcome<std::monostate>) {});
}

void HubModel::signOut()
{
    setAccountMenu(false);
    const std::optional<DeviceSession> session = m_session;
    signOutHere(false);
    setScreen(Screen::login);
    // The stored session goes first: a crash or a quit during the service's
    // call (up to seconds) must not leave the user signed in at next launch.
    submit(Keep::always,
           [devices = m_services.devices, service = m_services.service, identity = m_services.identity, session,
            stop = m_stop.get_token()] {
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
    auto stop = m_stop.get_token();
    submit(Keep::always, [identity = m_services.identity, stop] { return identity->socialProviders(stop); },
           [this](Outcome<std::optional<std::vector<OAuthProvider>>> outcome) {
               if (!outcome.value || !*outcome.value)
                   return;
               OAuthProviders offered;
               for (OAuthProvider provider : **outcome.value)
                   if (std::find(m_providers.begin(), m_providers.end(), provider) != m_providers.end())
                       offered.push_back(provider);
               assign(m_providers, offered, &HubModel::signInProvidersChanged);
           });
}

void HubModel::signIn(const QString& email, const QString& password)
{
    runSignIn({}, [identity = m_services.identity, email, password](std::stop_token stop) {
        return identity->signIn(email, password, stop);
    });
}

void HubModel::signIn(OAuthProvider provider)
{
    runSignIn(provider, [identity = m_services.identity, provider](std::stop_token stop) {
        return identity->signIn(provider, stop);
    });
}

void HubModel::submitCode(const QString& code)
{
    runSignIn({}, [codes = m_services.codes, code](std::stop_token stop) { return codes->verify(code, stop); });
}

void HubModel::cancelSignIn()
{
    if (m_signInStop)
        m_signInStop->request_stop();
    m_signInStop.reset();
    assign(m_signingIn, false, &HubModel::signingInChanged);
    assign(m_codeNeeded, false, &HubModel::codeNeededChanged);
}

void HubModel::runSignIn(std::optional<OAuthProvider> provider, std::function<QString(std::stop_token)> signIn)
{
    if (m_signingIn || m_shutDown)
        return;
    assign(m_signingIn, true, &HubModel::signingInChanged);
    setLoginNote(std::nullopt);
    auto stop = std::make_shared<std::stop_source>();
    m_signInStop = stop;
    // Quitting stops the sign-in too.
    auto quitting = std::make_shared<std::stop_callback<std::function<void()>>>(
        m_stop.get_token(), std::function<void()>([stop] { stop->request_stop(); }));
    submit(
        Keep::always,
        [signIn, stop, quitting, service = m_services.service, devices = m_services.devices,
         machineID = m_services.machineID, computerName = m_services.computerName] {
            const QString token = signIn(stop->get_token());
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
            if (stop->stop_requested() || m_signInStop != stop)
                return; // cancelled: the screen has moved on
            m_signInStop.reset();
            assign(m_signingIn, false, &HubModel::signingInChanged);
            if (outcome.value) {
                if (!outcome.value->saved)
                    record(u"hub"_s, u"hub.keychain.save"_s,
                           u"The sign-in couldn't be saved, so you'll sign in again next time."_s);
                signedIn(outcome.value->session);
                return;
            }
            const std::optional<HubError> error = hubError(outcome.error);
            if (!error) {
                setLoginNote(errorSentence(outcome.error));
                return;
            }
            if (error->kind() == HubError::Kind::cancelled)
                return;
            if (error->code() == "needs_code"_L1)
                assign(m_codeNeeded, true, &HubModel::codeNeededChanged);
            if (error->code() == "provider_off"_L1 && provider) {
                OAuthProviders offered = m_providers;
                std::erase(offered, *provider);
                assign(m_providers, offered, &HubModel::signInProvidersChanged);
            }
            setLoginNote(error->errorDescription());
        });
}

void HubModel::signedIn(const DeviceSession& session)
{
    m_session = session;
    ++m_generation;
    assign(m_signInAgain, false, &HubModel::signInAgainChanged);
    assign(m_codeNeeded, false, &HubModel::codeNeededChanged);
    setLoginNote(std::nullopt);
    // A refresh that began before the sign-in drops its account result, so
    // one more runs right after it. It starts before the main screen shows,
    // so a waiting link to a product the account shares waits for it.
    if (m_loading)
        m_refreshAgain = true;
    else
        refresh(true);
    setScreen(Screen::main);
}

// ---- The application's own update -------------------------------------------------

void HubModel::updateHub()
{
    const std::optional<Release> release = hubUpdate();
    if (!release || m_hubJob.isWorking() || m_shutDown)
        return;
    assign(m_hubJob, Job::downloading(0.0), &HubModel::hubJobChanged);
    auto lastStep = std::make_shared<QString>();
    submit(
        Keep::always,
        [packages = m_services.packages, release = *release, progress = progressFor(QString(), lastStep),
         stop = m_stop.get_token()] { return packages->install(u"Tarnhub"_s, release, true, progress, stop); },
        [this, lastStep](Outcome<QString> outcome) {
            if (isCancelled(outcome.error)) {
                assign(m_hubJob, Job::idle(), &HubModel::hubJobChanged);
                return;
            }
            if (!outcome.value) {
                const QString sentence = errorSentence(outcome.error);
                record(u"hub"_s, installCode(*lastStep), sentence);
                assign(m_hubJob, Job::failed(sentence), &HubModel::hubJobChanged);
                return;
            }
            m_restartProgram = QDir(*outcome.value).filePath(u"Contents/MacOS/hubtarn"_s);
            m_restartPending = true;
            maybeRestart();
        });
}

void HubModel::maybeRestart()
{
    if (!m_restartPending || m_restarting)
        return;
    const bool jobsRunning = std::any_of(m_states.begin(), m_states.end(),
                                         [](const auto& entry) { return entry.second.job.isWorking(); });
    if (jobsRunning) {
        assign(m_hubJob, Job::waitingForRestart(), &HubModel::hubJobChanged);
        return;
    }
    m_restarting = true;
    Q_EMIT restartRequested(m_restartProgram);
}

} // namespace Hub
