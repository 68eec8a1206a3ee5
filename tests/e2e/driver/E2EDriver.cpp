// The end-to-end driver: a test-only library that a sandboxed hubtarn loads
// (HUBTARN_TEST_DRIVER) to walk a journey through its real window, inside
// the real program. Widgets are found by object name and clicked with
// QTest; every step waits for what the user would see (the model's state,
// a widget), never for a fixed time, and saves a picture of the window.
//
// HUB_E2E_JOURNEY  which journey: "journey" (the default), "checksum",
//                  "stall", "unauthorized" (the local service's fault modes)
// HUB_E2E_SERVICE  the local service's folder (accounts.json)
// HUB_E2E_OUT      where the pictures (e2e-*.png) and journey.log go
//
// Each step prints what it did in plain words and writes one line
// "ok|failed<TAB>step<TAB>words" to journey.log; the program then quits
// with status 0, or 1 after the first failed step.
//
// To grow the journey, add a named step to a table in journeys() below.
#include "Model/HubModel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Generous: a loaded two-core machine is slow, not failing.
constexpr std::chrono::seconds kPatience{90};

struct StepFailed : std::runtime_error {
    explicit StepFailed(const QString& why)
        : std::runtime_error(why.toStdString())
    {
    }
};

struct Account {
    QString email;
    QString password;
    QString name;
    QString code;
};

class Driver {
public:
    Driver(QWidget* window, Hub::HubModel* model)
        : m_window(window)
        , m_model(model)
        , m_out(qEnvironmentVariable("HUB_E2E_OUT"))
        , m_journey(qEnvironmentVariableIsEmpty("HUB_E2E_JOURNEY") ? u"journey"_s
                                                                    : qEnvironmentVariable("HUB_E2E_JOURNEY"))
    {
        QDir().mkpath(m_out);
        QFile::remove(QDir(m_out).filePath(u"journey.log"_s));
        readAccounts(QDir(qEnvironmentVariable("HUB_E2E_SERVICE")).filePath(u"accounts.json"_s));
    }

    void run()
    {
        using Step = std::pair<QString, std::function<QString()>>;
        std::vector<Step> steps;
        const auto signIn = [this] { return signInWithCode(); };
        if (m_journey == "journey"_L1) {
            steps = {{u"sign-in screen"_s, [this] { return signInScreen(); }},
                     {u"sign in"_s, signIn},
                     {u"refresh"_s, [this] { return refresh(); }},
                     {u"plug-ins tab"_s, [this] { return pluginsTab(); }},
                     {u"install"_s, [this] { return install(u"echo"_s); }},
                     {u"update"_s, [this] { return update(u"drift"_s); }},
                     {u"uninstall"_s, [this] { return uninstall(u"echo"_s); }},
                     {u"feedback"_s, [this] { return feedback(u"drift"_s); }}};
        } else if (m_journey == "checksum"_L1) {
            steps = {{u"sign-in screen"_s, [this] { return signInScreen(); }},
                     {u"sign in"_s, signIn},
                     {u"damaged update"_s, [this] {
                          return failedUpdate(u"drift"_s, u"download is damaged (checksum mismatch)"_s, false);
                      }}};
        } else if (m_journey == "stall"_L1) {
            steps = {{u"sign-in screen"_s, [this] { return signInScreen(); }},
                     {u"sign in"_s, signIn},
                     {u"stalled update"_s, [this] { return failedUpdate(u"drift"_s, QString(), true); }}};
        } else if (m_journey == "unauthorized"_L1) {
            steps = {{u"sign-in screen"_s, [this] { return signInScreen(); }},
                     {u"sign in"_s, signIn},
                     {u"refused account"_s, [this] { return refusedAccount(); }}};
        } else {
            finish(u"journey"_s, false, u"no journey named "_s + m_journey);
            return;
        }
        for (const auto& [name, step] : steps) {
            QString words;
            try {
                words = step();
            } catch (const std::exception& error) {
                shoot(name + u"-failed"_s);
                finish(name, false, QString::fromStdString(error.what()));
                return;
            }
            finish(name, true, words);
        }
        shoot(u"quit"_s);
        // The program's own command, through the window's shortcut, which
        // only the active window takes.
        m_window->activateWindow();
        try {
            waitFor(u"the window to be active"_s, [this] { return QApplication::activeWindow() == m_window; });
        } catch (const std::exception& error) {
            finish(u"quit"_s, false, QString::fromStdString(error.what()));
            return;
        }
        finish(u"quit"_s, true, u"Quit Tarnhub with Ctrl+Q."_s);
        QTest::keyClick(m_window, Qt::Key_Q, Qt::ControlModifier);
    }

private:
    // ---- Steps ----------------------------------------------------------------

    QString signInScreen()
    {
        waitFor(u"the sign-in screen"_s, [this] {
            return m_model->screen() == Hub::Screen::login && widget(u"signInButton"_s);
        });
        shoot(u"sign-in"_s);
        return u"The window opened on the sign-in screen."_s;
    }

    QString signInWithCode()
    {
        const Account account = accountWithCode();
        type(u"email"_s, account.email);
        type(u"password"_s, account.password);
        click(u"signInButton"_s);
        waitFor(u"the code step"_s, [this] { return m_model->codeNeeded() && !m_model->signingIn() && widget(u"code"_s); });
        shoot(u"code"_s);
        type(u"code"_s, account.code);
        click(u"verifyButton"_s);
        waitFor(u"the main window"_s, [this] { return m_model->screen() == Hub::Screen::main; });
        // The account check that follows a sign-in: answered, or refused.
        waitFor(u"the account check"_s, [this] { return m_model->account() || m_model->signInAgain(); });
        shoot(u"main"_s);
        if (!m_model->account())
            return u"Signed in with "_s + account.email + u" and the code "_s + account.code
                + u"; the service then refused the account."_s;
        const Hub::HubUser user = m_model->account()->user;
        if (user.email != account.email)
            throw StepFailed(u"signed in as "_s + user.email + u", not "_s + account.email);
        return u"Signed in as "_s + user.email + u" ("_s + user.name + u") with the password and the code "_s
            + account.code + u'.';
    }

    QString refresh()
    {
        waitFor(u"the first check to end"_s, [this] { return !m_model->loading(); });
        const std::optional<QDateTime> before = m_model->lastChecked();
        click(u"refreshButton"_s);
        waitFor(u"the check for updates"_s, [this, before] {
            return !m_model->loading() && m_model->lastChecked() && m_model->lastChecked() != before;
        });
        if (m_model->catalogSource() != Hub::CatalogSource::live)
            throw StepFailed(u"the catalog in use is not the live one"_s);
        QStringList updates;
        for (const Hub::Product& product : m_model->updates())
            updates << product.name + u' ' + m_model->updateFromVersion(product).value_or(u"?"_s) + u" to "_s
                           + product.release->version;
        if (!m_model->product(u"moraine"_s))
            throw StepFailed(u"the product the account shares is not shown"_s);
        return u"Checked for updates: "_s + QString::number(m_model->catalog()->products.size())
            + u" products from the local service; updates: "_s + (updates.isEmpty() ? u"none"_s : updates.join(u", "_s))
            + u'.';
    }

    QString pluginsTab()
    {
        click(u"pluginsTab"_s);
        waitFor(u"the plug-ins tab"_s, [this] { return m_model->tab() == Hub::Tab::plugins; });
        shoot(u"plugins-tab"_s);
        return u"Opened the plug-ins tab."_s;
    }

    // The plug-ins tab's rows and the product page will start installs,
    // updates and removals; until they exist these steps call the model's
    // operations the rows will call.
    QString install(const QString& id)
    {
        const Hub::Product& product = shown(id);
        m_model->requestInstall(product, {Hub::PluginFormat::vst3}, Hub::InstallScope::user);
        const Hub::ProductState state = settle(id);
        if (state.job.kind != Hub::Job::Kind::done || state.installed.isEmpty())
            throw StepFailed(product.name + u" was not installed: "_s + state.job.message);
        const Hub::InstalledFormat& copy = state.installed.first();
        if (!QFileInfo(copy.path).isDir())
            throw StepFailed(copy.path + u" is not on disk"_s);
        shoot(u"installed"_s);
        return u"Installed "_s + product.name + u' ' + copy.version + u", VST3 at "_s + m_model->abbreviated(copy.path)
            + u'.';
    }

    QString update(const QString& id)
    {
        const Hub::Product& product = shown(id);
        if (!m_model->hasUpdate(product))
            throw StepFailed(product.name + u" has no update to install"_s);
        const QString from = m_model->updateFromVersion(product).value_or(QString());
        m_model->requestInstall(product, m_model->updateFormats(product), Hub::InstallScope::user);
        const Hub::ProductState state = settle(id);
        const QString now = m_model->installedVersion(shown(id)).value_or(QString());
        if (state.job.kind != Hub::Job::Kind::done || now != product.release->version)
            throw StepFailed(product.name + u" was not updated: "_s + state.job.message);
        shoot(u"updated"_s);
        return u"Updated "_s + product.name + u" from "_s + from + u" to "_s + now + u'.';
    }

    QString uninstall(const QString& id)
    {
        const Hub::Product& product = shown(id);
        const QString path = m_model->states().at(id).installed.first().path;
        Hub::UninstallOptions options;
        options.formats = {Hub::PluginFormat::vst3};
        options.scopes = {Hub::InstallScope::user};
        m_model->requestUninstall(product, options, false);
        const Hub::ProductState state = settle(id);
        if (!state.installed.isEmpty() || QFileInfo::exists(path))
            throw StepFailed(product.name + u" is still installed: "_s + state.job.message);
        const QString trashed = m_model->roots().userHome + u"/.local/share/Trash/files/"_s + QFileInfo(path).fileName();
        if (!QFileInfo(trashed).isDir())
            throw StepFailed(u"nothing at "_s + trashed);
        shoot(u"uninstalled"_s);
        return u"Removed "_s + product.name + u": its VST3 is in the Trash at "_s + m_model->abbreviated(trashed)
            + u'.';
    }

    QString feedback(const QString& id)
    {
        const Hub::Product& product = shown(id);
        const QString message = u"Tried "_s + product.name + u" end to end; the update went in without a sound."_s;
        bool answered = false;
        std::optional<Hub::HubError> failure;
        m_model->sendFeedback(product, Hub::FeedbackKind::love, message, [&](std::optional<Hub::HubError> error) {
            answered = true;
            failure = std::move(error);
        });
        waitFor(u"the service to take the feedback"_s, [&answered] { return answered; });
        if (failure)
            throw StepFailed(u"the feedback was refused: "_s + failure->errorDescription());
        return u"Sent feedback about "_s + product.name + u": \u201c"_s + message + u"\u201d"_s;
    }

    // An update the service spoils: it must fail with a sentence that says
    // so (containing `expected`, when given), keep the copy in place and
    // write a problem report. A download that `stalls` shows its progress
    // meanwhile; a small one that fails at once may never show it.
    QString failedUpdate(const QString& id, const QString& expected, bool stalls)
    {
        const Hub::Product& product = shown(id);
        const QString before = m_model->installedVersion(product).value_or(QString());
        const std::size_t problems = m_model->problems().size();
        m_model->requestInstall(product, m_model->updateFormats(product), Hub::InstallScope::user);
        if (stalls) {
            waitFor(u"the download to stall partway"_s, [this, id] {
                const auto found = m_model->states().find(id);
                return found != m_model->states().end() && found->second.job.kind == Hub::Job::Kind::downloading
                    && found->second.job.fraction > 0.0;
            });
            shoot(u"stalled"_s);
        }
        const Hub::ProductState state = settle(id);
        if (state.job.kind != Hub::Job::Kind::failed)
            throw StepFailed(u"the spoilt update did not fail"_s);
        if (state.job.message.isEmpty() || !state.job.message.contains(expected))
            throw StepFailed(u"the job says \u201c"_s + state.job.message + u"\u201d"_s);
        if (m_model->installedVersion(shown(id)) != before)
            throw StepFailed(u"the copy in place changed"_s);
        waitFor(u"the problem report"_s, [this, problems] { return m_model->problems().size() > problems; });
        shoot(u"failed-update"_s);
        return u"The update of "_s + product.name + u" failed: \u201c"_s + state.job.message + u"\u201d "_s
            + product.name + u' ' + before + u" stays installed, and a problem report was written."_s;
    }

    QString refusedAccount()
    {
        waitFor(u"the service's refusal"_s, [this] {
            return m_model->signInAgain() && !m_model->session() && !m_model->account();
        });
        // The sign-in-again notice of the plug-ins tab will carry this; until
        // it exists the step does what its button does.
        m_model->setLoginNote(u"Sign in again so Tarnhub can check for updates."_s);
        m_model->setScreen(Hub::Screen::login);
        waitFor(u"the sign-in screen"_s, [this] { return widget(u"signInButton"_s) != nullptr; });
        auto* note = qobject_cast<QLabel*>(widget(u"loginNote"_s));
        if (!note || note->text() != u"Sign in again so Tarnhub can check for updates."_s)
            throw StepFailed(u"the sign-in screen does not say why"_s);
        shoot(u"sign-in-again"_s);
        return u"The service refused the account: signed out on this computer and back on the sign-in screen."_s;
    }

    // ---- Helpers ----------------------------------------------------------------

    void readAccounts(const QString& file)
    {
        QFile accounts(file);
        if (!accounts.open(QIODevice::ReadOnly))
            return;
        for (const QJsonValue& value : QJsonDocument::fromJson(accounts.readAll()).array()) {
            const QJsonObject o = value.toObject();
            m_accounts.push_back({o.value("email"_L1).toString(), o.value("password"_L1).toString(),
                                  o.value("name"_L1).toString(), o.value("code"_L1).toString()});
        }
    }

    Account accountWithCode() const
    {
        for (const Account& account : m_accounts)
            if (!account.code.isEmpty())
                return account;
        throw StepFailed(u"the local service lists no account that asks for a code"_s);
    }

    const Hub::Product& shown(const QString& id) const
    {
        const Hub::Product* product = m_model->product(id);
        if (!product)
            throw StepFailed(u"no product \u201c"_s + id + u"\u201d is shown"_s);
        return *product;
    }

    // Waits until the product's job has started and ended.
    Hub::ProductState settle(const QString& id)
    {
        waitFor(u"the job of "_s + id + u" to end"_s, [this, id] {
            const auto found = m_model->states().find(id);
            if (found == m_model->states().end())
                return false;
            const Hub::Job::Kind kind = found->second.job.kind;
            return kind == Hub::Job::Kind::done || kind == Hub::Job::Kind::failed || kind == Hub::Job::Kind::warning;
        });
        return m_model->states().at(id);
    }

    // The visible widget of that name, or null.
    QWidget* widget(const QString& name) const
    {
        for (QWidget* found : m_window->findChildren<QWidget*>(name))
            if (found->isVisible())
                return found;
        return nullptr;
    }

    QWidget* require(const QString& name) const
    {
        QWidget* found = widget(name);
        if (!found)
            throw StepFailed(u"no visible \u201c"_s + name + u"\u201d"_s);
        if (!found->isEnabled())
            throw StepFailed(u"\u201c"_s + name + u"\u201d is disabled"_s);
        return found;
    }

    void type(const QString& name, const QString& text)
    {
        auto* field = qobject_cast<QLineEdit*>(require(name));
        if (!field)
            throw StepFailed(u"\u201c"_s + name + u"\u201d is not a text field"_s);
        field->setFocus();
        field->clear();
        QTest::keyClicks(field, text);
        if (field->text() != text)
            throw StepFailed(u"\u201c"_s + name + u"\u201d took \u201c"_s + field->text() + u"\u201d"_s);
    }

    void click(const QString& name)
    {
        QWidget* target = require(name);
        QTest::mouseClick(target, Qt::LeftButton, {}, target->rect().center());
    }

    template<typename Predicate>
    void waitFor(const QString& what, Predicate done)
    {
        if (!QTest::qWaitFor(done, std::chrono::milliseconds(kPatience).count()))
            throw StepFailed(u"gave up waiting for "_s + what);
    }

    void shoot(const QString& name)
    {
        const QString file = QDir(m_out).filePath(u"e2e-"_s + m_journey + u'-' + QString::number(++m_shots).rightJustified(2, u'0')
                                                  + u'-' + QString(name).replace(u' ', u'-') + u".png"_s);
        m_window->grab().save(file);
    }

    void finish(const QString& step, bool ok, const QString& words)
    {
        const QByteArray line = (ok ? u"ok"_s : u"failed"_s).toUtf8() + '\t' + step.toUtf8() + '\t' + words.toUtf8() + '\n';
        QFile log(QDir(m_out).filePath(u"journey.log"_s));
        if (log.open(QIODevice::WriteOnly | QIODevice::Append))
            log.write(line);
        const QByteArray shown = ok ? words.toUtf8() : "Failed at \"" + step.toUtf8() + "\": " + words.toUtf8();
        std::fprintf(stdout, "%s\n", shown.constData());
        std::fflush(stdout);
        if (!ok)
            QCoreApplication::exit(1);
    }

    QPointer<QWidget> m_window;
    Hub::HubModel* m_model;
    QString m_out;
    QString m_journey;
    std::vector<Account> m_accounts;
    int m_shots = 0;
};

} // namespace

extern "C" Q_DECL_EXPORT void hubtarnAttachTestDriver(QWidget* window, Hub::HubModel* model)
{
    // Runs once the event loop does; the driver lives as long as the window.
    auto driver = std::make_shared<Driver>(window, model);
    QObject::connect(window, &QObject::destroyed, window, [driver] {});
    QTimer::singleShot(0, window, [driver] { driver->run(); });
}
