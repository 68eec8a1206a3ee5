// The end-to-end driver: a test-only library that a sandboxed hubtarn loads
// (HUBTARN_TEST_DRIVER) to walk a journey through its real window, inside
// the real program. Widgets are found by object name and clicked or typed
// into with QTest, as a person would; the model is only read, to know when
// what the person waits for has happened. Every step waits for what the
// user would see, never for a fixed time, and saves a picture of the
// window with its open sheet or menu.
//
// HUB_E2E_JOURNEY  which journey: "journey" (the default), "again" (a second
//                  launch over the same home), "checksum", "stall",
//                  "unauthorized" (the local service's fault modes)
// HUB_E2E_SERVICE  the local service's folder (accounts.json, bundles/)
// HUB_E2E_OUT      where the pictures (e2e-*.png) and journey.log go
//
// Each step prints what it did in plain words and appends one line
// "ok|failed<TAB>step<TAB>words" to journey.log; the program then quits
// with status 0, or 1 after the first failed step.
//
// To grow the journey, add a named step to a table in run() below.
#include "Base/Config.h"
#include "Model/HubModel.h"

#include <QAbstractAnimation>
#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QMap>
#include <QPointer>
#include <QScopeGuard>
#include <QScrollArea>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <dlfcn.h>

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

QString quoted(const QString& text) { return u"\u201c"_s + text + u"\u201d"_s; }

// Every file under `root` with its bytes' digest, by relative path: two
// bundles are the same when these are.
QMap<QString, QByteArray> treeDigest(const QString& root)
{
    QMap<QString, QByteArray> files;
    for (QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            files.insert(QDir(root).relativeFilePath(path),
                         QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256));
    }
    return files;
}

// A person's mouse through the X server (its XTest extension), for what
// only the platform does with a real press: a press in a window that is not
// the focus window activates that window, with or without a window manager.
// Loaded at run time, so the driver needs no X library to build.
class XHand {
public:
    XHand()
    {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        m_display = x11 ? x11->display() : nullptr;
        // Never unloaded: the extension leaves a hook in the display that
        // libX11 calls when the window closes it, long after this hand.
        void* const xtst = ::dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!m_display || !xtst)
            throw StepFailed(u"the X server's test extension (libXtst.so.6, Debian libxtst6) is not at hand"_s);
        m_motion = reinterpret_cast<Motion>(::dlsym(xtst, "XTestFakeMotionEvent"));
        m_button = reinterpret_cast<Button>(::dlsym(xtst, "XTestFakeButtonEvent"));
        m_flush = reinterpret_cast<Flush>(::dlsym(RTLD_DEFAULT, "XFlush"));
        if (!m_motion || !m_button || !m_flush)
            throw StepFailed(u"the X server's test extension lacks its functions"_s);
    }
    XHand(const XHand&) = delete;
    XHand& operator=(const XHand&) = delete;

    // One left click at the middle of `target`, as the screen shows it.
    void click(const QWidget* target)
    {
        const QPoint at = target->mapToGlobal(target->rect().center()) * target->devicePixelRatioF();
        m_motion(m_display, -1, at.x(), at.y(), 0);
        m_button(m_display, 1, 1, 0);
        m_button(m_display, 1, 0, 0);
        m_flush(m_display);
    }

private:
    using Motion = int (*)(Display*, int, int, int, unsigned long);
    using Button = int (*)(Display*, unsigned, int, unsigned long);
    using Flush = int (*)(Display*);

    Display* m_display = nullptr;
    Motion m_motion = nullptr;
    Button m_button = nullptr;
    Flush m_flush = nullptr;
};

class Driver : public QObject {
public:
    Driver(QWidget* window, Hub::HubModel* model)
        : m_window(window)
        , m_model(model)
        , m_out(qEnvironmentVariable("HUB_E2E_OUT"))
        , m_service(qEnvironmentVariable("HUB_E2E_SERVICE"))
        , m_journey(qEnvironmentVariableIsEmpty("HUB_E2E_JOURNEY") ? u"journey"_s
                                                                    : qEnvironmentVariable("HUB_E2E_JOURNEY"))
    {
        QDir().mkpath(m_out);
        readAccounts(QDir(m_service).filePath(u"accounts.json"_s));
        // Which products' jobs have been seen working: a job that ends
        // between two looks still counts as started.
        const auto note = [this](const QString& id) {
            if (working(id))
                m_worked.insert(id);
        };
        connect(m_model, &Hub::HubModel::productStateChanged, this, note);
        connect(m_model, &Hub::HubModel::statesChanged, this, [this, note] {
            for (const auto& [id, state] : m_model->states())
                note(id);
        });
    }

    void run()
    {
        using Step = std::pair<QString, std::function<QString()>>;
        std::vector<Step> steps{{u"sign-in screen"_s, [this] { return signInScreen(); }},
                                {u"sign in"_s, [this] { return signInWithCode(); }}};
        const auto add = [&steps](std::vector<Step> more) { steps.insert(steps.end(), more.begin(), more.end()); };
        if (m_journey == "journey"_L1) {
            add({{u"refresh"_s, [this] { return refresh(); }},
                 {u"plug-ins tab"_s, [this] { return pluginsTab(); }},
                 {u"install from a row"_s, [this] { return installFromRow(u"echo"_s); }},
                 {u"install from a page"_s, [this] { return installFromPage(u"moraine"_s, u"au"_s); }},
                 {u"update from a row"_s, [this] { return updateFromRow(u"drift"_s); }},
                 {u"update all"_s, [this] { return updateAll(); }},
                 {u"change a setting"_s, [this] { return switchOnAU(); }},
                 {u"send problem reports"_s, [this] { return sendProblems(); }},
                 {u"uninstall"_s, [this] { return uninstallFromMore(u"echo"_s); }},
                 {u"web page"_s, [this] { return openFromMore(u"echo"_s, 4, u"web page"_s); }},
                 {u"release notes"_s, [this] { return openFromMore(u"echo"_s, 5, u"release notes"_s); }},
                 {u"feedback"_s, [this] { return feedback(u"lumen"_s); }}});
        } else if (m_journey == "again"_L1) {
            add({{u"setting kept"_s, [this] { return settingKept(); }}});
        } else if (m_journey == "checksum"_L1) {
            add({{u"damaged update"_s, [this] {
                      return failedUpdate(u"drift"_s, u"download is damaged (checksum mismatch)"_s, false);
                  }}});
        } else if (m_journey == "stall"_L1) {
            add({{u"stalled update"_s, [this] { return failedUpdate(u"drift"_s, QString(), true); }}});
        } else if (m_journey == "unauthorized"_L1) {
            add({{u"refused account"_s, [this] { return refusedAccount(); }}});
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
        // What a window manager does with a new window, which shows the
        // splash; none runs here.
        m_window->activateWindow();
        waitFor(u"the window to be active"_s, [this] { return QApplication::activeWindow() == m_window; });
        waitFor(u"the sign-in screen"_s, [this] {
            return m_model->screen() == Hub::Screen::login && widget(u"signInButton"_s);
        });
        waitFor(u"the e-mail field to have the caret"_s, [this] {
            QWidget* email = widget(u"email"_s);
            return email && email->hasFocus() && QGuiApplication::focusWindow() == email->window()->windowHandle();
        });
        shoot(u"sign-in"_s);
        return u"The window opened on the sign-in screen, the caret in the e-mail field."_s;
    }

    QString signInWithCode()
    {
        const Account account = accountWithCode();
        // Typed at once, where the caret is.
        typeHere(account.email);
        if (qobject_cast<QLineEdit*>(require(u"email"_s))->text() != account.email)
            throw StepFailed(u"the e-mail field took "_s + quoted(qobject_cast<QLineEdit*>(require(u"email"_s))->text()));
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
        showTab(u"plugins"_s, Hub::Tab::plugins);
        shoot(u"plugins-tab"_s);
        return u"Opened the plug-ins tab."_s;
    }

    // The row's Install, double-clicked, opens the install sheet, which is
    // then walked by keys alone: AU chosen with Space, then turned off again
    // through assistive technology's toggle, and Install pressed with
    // Return. The install follows what the sheet shows: the VST3 alone.
    QString installFromRow(const QString& id)
    {
        showTab(u"plugins"_s, Hub::Tab::plugins);
        const Hub::Product& product = shown(id);
        QWidget* row = require(u"row-"_s + id);
        QWidget* action = require(u"rowAction"_s, row);
        if (qobject_cast<QAbstractButton*>(action)->text() != u"Install"_s)
            throw StepFailed(u"the row of "_s + product.name + u" offers "_s
                             + quoted(qobject_cast<QAbstractButton*>(action)->text()));
        ensureShown(action);
        doubleClickOpeningASheet(action, u"installButton"_s);
        shoot(u"install-sheet"_s);

        press(Qt::Key_Tab);
        press(Qt::Key_Tab);
        auto* au = qobject_cast<QAbstractButton*>(require(u"formatBox-au"_s));
        if (!au->hasFocus() || au->isChecked())
            throw StepFailed(u"two Tabs did not reach the AU tile, off"_s);
        press(Qt::Key_Space);
        if (!au->isChecked())
            throw StepFailed(u"Space did not choose AU"_s);
        QAccessibleInterface* tile = QAccessible::queryAccessibleInterface(au);
        QAccessibleActionInterface* actions = tile ? tile->actionInterface() : nullptr;
        if (!actions || !actions->actionNames().contains(QAccessibleActionInterface::toggleAction()))
            throw StepFailed(u"the AU tile offers assistive technology no toggle"_s);
        actions->doAction(QAccessibleActionInterface::toggleAction());
        if (au->isChecked() || tile->state().checked)
            throw StepFailed(u"assistive technology's toggle left AU on"_s);
        shoot(u"install-sheet-au-toggled-off"_s);
        press(Qt::Key_Tab);
        press(Qt::Key_Tab);
        if (!require(u"installButton"_s)->hasFocus())
            throw StepFailed(u"two more Tabs did not reach Install"_s);
        startJob(id, [this] { press(Qt::Key_Return); });
        const Hub::ProductState state = settle(id);
        if (state.job.kind != Hub::Job::Kind::done || state.installed.isEmpty())
            throw StepFailed(product.name + u" was not installed: "_s + state.job.message);
        const QString version = product.release->version;
        waitFor(u"the row to say it is installed"_s, [row, version] {
            return row->accessibleName().contains(u"installed "_s + version, Qt::CaseInsensitive);
        });
        if (!row->findChild<QWidget*>(u"rowAction"_s)->isHidden())
            throw StepFailed(u"the row still offers an action"_s);
        shoot(u"installed-from-row"_s);
        checkBundles(product, state.installed);
        // On disk too: no Audio Unit anywhere it could have gone.
        for (const Hub::InstalledFormat& copy : state.installed)
            if (copy.format == Hub::PluginFormat::au)
                throw StepFailed(u"the AU turned off was installed at "_s + copy.path);
        const QString component = m_model->roots().userHome + u"/.components/"_s + product.name + u".component"_s;
        if (QFileInfo::exists(component))
            throw StepFailed(u"the AU turned off was installed at "_s + component);
        return u"Installed "_s + product.name + u' ' + version + u" from its row: "_s + where(state.installed)
            + u"; the row says "_s + quoted(row->accessibleName())
            + u". The sheet, opened with a double click, was walked by keys alone, and AU, chosen with Space and"
              u" turned off by assistive technology's toggle, was not installed."_s;
    }

    // The page's Install opens the same sheet, where a new user's choice
    // leaves one offered format out (AU: no Linux host loads it).
    QString installFromPage(const QString& id, const QString& leftOut)
    {
        showTab(u"plugins"_s, Hub::Tab::plugins);
        const Hub::Product& product = shown(id);
        openPage(id);
        click(u"actionInstall"_s);
        waitFor(u"the install sheet"_s, [this] { return widget(u"installButton"_s) != nullptr; });
        auto* box = qobject_cast<QAbstractButton*>(require(u"formatBox-"_s + leftOut));
        if (!box || box->isChecked())
            throw StepFailed(leftOut + u" is not offered or starts ticked"_s);
        shoot(u"install-sheet-one-format"_s);
        startJob(id, [this] { click(u"installButton"_s); });
        const Hub::ProductState state = settle(id);
        if (state.job.kind != Hub::Job::Kind::done || state.installed.isEmpty())
            throw StepFailed(product.name + u" was not installed: "_s + state.job.message);
        for (const Hub::InstalledFormat& copy : state.installed)
            if (Hub::rawValue(copy.format) == leftOut)
                throw StepFailed(u"the format left out was installed too"_s);
        auto* line = qobject_cast<QLabel*>(require(u"jobMessage"_s, require(u"pageJobLine"_s)));
        const QString said = line ? line->text() : QString();
        shoot(u"installed-from-page"_s);
        checkBundles(product, state.installed);
        back();
        return u"Installed "_s + product.name + u' ' + product.release->version + u" from its page without "_s
            + Hub::label(*Hub::pluginFormatFromRaw(leftOut)) + u": "_s + where(state.installed)
            + u", the same bytes as the maker's; the page says "_s + quoted(said) + u'.';
    }

    QString updateFromRow(const QString& id)
    {
        showTab(u"updates"_s, Hub::Tab::updates);
        const Hub::Product& product = shown(id);
        if (!m_model->hasUpdate(product))
            throw StepFailed(product.name + u" has no update to install"_s);
        const QString from = m_model->updateFromVersion(product).value_or(QString());
        QWidget* row = require(u"updateRow-"_s + id);
        shoot(u"updates-tab"_s);
        startJob(id, [this, row] { click(require(u"updatePill"_s, row)); });
        const Hub::ProductState state = settle(id);
        const QString now = m_model->installedVersion(shown(id)).value_or(QString());
        if (state.job.kind != Hub::Job::Kind::done || now != product.release->version)
            throw StepFailed(product.name + u" was not updated: "_s + state.job.message);
        shoot(u"updated-from-row"_s);
        checkBundles(product, state.installed);
        return u"Updated "_s + product.name + u" from "_s + from + u" to "_s + now + u" with its row's Update."_s;
    }

    QString updateAll()
    {
        showTab(u"updates"_s, Hub::Tab::updates);
        QStringList ids;
        QStringList from;
        for (const Hub::Product& product : m_model->updates()) {
            ids << product.id;
            from << product.name + u' ' + m_model->updateFromVersion(product).value_or(QString());
        }
        if (ids.size() < 2)
            throw StepFailed(u"fewer than two updates are left"_s);
        startJobs(ids, [this] { click(u"updateAll"_s); });
        QStringList done;
        for (const QString& id : ids) {
            const Hub::ProductState state = settle(id);
            const Hub::Product& product = shown(id);
            if (state.job.kind != Hub::Job::Kind::done
                || m_model->installedVersion(product) != product.release->version)
                throw StepFailed(product.name + u" was not updated: "_s + state.job.message);
            checkBundles(product, state.installed);
            done << product.name + u' ' + product.release->version;
        }
        waitFor(u"the updates tab to empty"_s, [this] { return m_model->updates().empty(); });
        shoot(u"updated-all"_s);
        return u"Pressed Update all: "_s + from.join(u", "_s) + u" are now "_s + done.join(u", "_s) + u'.';
    }

    QString switchOnAU()
    {
        showTab(u"settings"_s, Hub::Tab::settings);
        if (m_model->installAU())
            throw StepFailed(u"AU is already on"_s);
        QWidget* toggle = require(u"installAUSwitch"_s);
        ensureShown(toggle);
        QTest::mouseClick(toggle, Qt::LeftButton, {}, QPoint(40, toggle->height() / 2));
        if (!m_model->installAU() || !qobject_cast<QAbstractButton*>(toggle)->isChecked())
            throw StepFailed(u"the AU switch did not turn on"_s);
        shoot(u"settings-au-on"_s);
        return u"Turned on installing Audio Units on the settings tab."_s;
    }

    QString settingKept()
    {
        showTab(u"settings"_s, Hub::Tab::settings);
        auto* toggle = qobject_cast<QAbstractButton*>(require(u"installAUSwitch"_s));
        shoot(u"settings-kept"_s);
        if (!m_model->installAU() || !toggle->isChecked())
            throw StepFailed(u"AU is off again after the restart"_s);
        return u"Started Tarnhub again: the settings tab still has Audio Units on."_s;
    }

    QString sendProblems()
    {
        showTab(u"settings"_s, Hub::Tab::settings);
        const std::size_t count = m_model->problems().size();
        if (count == 0)
            throw StepFailed(u"there is no problem report to send"_s);
        QStringList names;
        for (const Hub::ReportFile& file : m_model->problems())
            names << m_model->name(file.report.product) + u" ("_s + file.report.code + u')';
        shoot(u"problems"_s);
        click(u"sendProblems"_s);
        waitFor(u"the reports to be sent"_s,
                [this] { return !m_model->sendingReports() && m_model->problems().empty(); });
        shoot(u"problems-sent"_s);
        return u"Sent "_s + QString::number(count) + u" problem report"_s + (count == 1 ? u""_s : u"s"_s)
            + u" from the settings tab: "_s + names.join(u", "_s) + u'.';
    }

    QString uninstallFromMore(const QString& id)
    {
        showTab(u"plugins"_s, Hub::Tab::plugins);
        const Hub::Product& product = shown(id);
        const QList<Hub::InstalledFormat> copies = m_model->states().at(id).installed;
        openPage(id);
        chooseFromMore(2, u"Uninstall\u2026"_s);
        waitFor(u"the uninstall sheet"_s, [this] { return widget(u"uninstallButton"_s) != nullptr; });
        shoot(u"uninstall-sheet"_s);
        startJob(id, [this] { click(u"uninstallButton"_s); });
        const Hub::ProductState state = settle(id);
        if (!state.installed.isEmpty())
            throw StepFailed(product.name + u" is still installed: "_s + state.job.message);
        QStringList trashed;
        for (const Hub::InstalledFormat& copy : copies) {
            const QString inTrash =
                m_model->roots().userHome + u"/.local/share/Trash/files/"_s + QFileInfo(copy.path).fileName();
            if (QFileInfo::exists(copy.path) || !QFileInfo(inTrash).isDir())
                throw StepFailed(copy.path + u" did not go to the Trash"_s);
            trashed << Hub::label(copy.format) + u" at "_s + m_model->abbreviated(inTrash);
        }
        shoot(u"uninstalled"_s);
        return u"Uninstalled "_s + product.name + u" from its page's More menu: "_s + trashed.join(u", "_s)
            + u" in the Trash."_s;
    }

    // A More menu item that opens an address: the sandbox records it.
    QString openFromMore(const QString& id, int item, const QString& what)
    {
        if (!m_model->page() || *m_model->page() != id)
            openPage(id);
        const QString log = m_model->roots().userHome + u"/.local/state/hubtarn/opened.log"_s;
        const qsizetype before = opened(log).size();
        chooseFromMore(item, QString());
        waitFor(u"the address to be opened"_s, [&] { return opened(log).size() > before; });
        const QString line = opened(log).last();
        if (!line.startsWith(u"open https://"_s))
            throw StepFailed(u"the program opened "_s + quoted(line));
        return u"Opened the "_s + what + u" from the More menu: "_s + line.mid(5) + u'.';
    }

    // The page of a beta the account tests offers feedback.
    QString feedback(const QString& id)
    {
        if (m_model->page())
            back();
        showTab(u"plugins"_s, Hub::Tab::plugins);
        const Hub::Product& product = shown(id);
        openPage(id);
        click(u"actionFeedback"_s);
        waitFor(u"the feedback sheet"_s, [this] { return widget(u"sendButton"_s) != nullptr; });
        // The kind by keys: back from the editor to the chosen kind, then
        // the arrows along the kinds to "love", and Tab back to the editor.
        auto* editor = qobject_cast<QPlainTextEdit*>(require(u"feedbackEditor"_s));
        waitFor(u"the editor to have the caret"_s, [editor] {
            return editor->hasFocus() && QGuiApplication::focusWindow() == editor->window()->windowHandle();
        });
        press(Qt::Key_Backtab);
        press(Qt::Key_Right);
        press(Qt::Key_Right);
        auto* love = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
        if (!love || love->text().compare(u"love"_s, Qt::CaseInsensitive) != 0 || !love->isChecked())
            throw StepFailed(u"Shift+Tab and two Right arrows did not choose \u201clove\u201d"_s);
        press(Qt::Key_Tab);
        if (!editor->hasFocus())
            throw StepFailed(u"Tab did not go from the kinds back to the message"_s);
        const QString message = u"Tried the beta of "_s + product.name + u" end to end; the shimmer tail is lovely."_s;
        typeHere(message);
        if (editor->toPlainText() != message)
            throw StepFailed(u"the message reads "_s + quoted(editor->toPlainText()));
        shoot(u"feedback-sheet"_s);
        click(u"sendButton"_s);
        waitFor(u"the thanks"_s, [this] { return widget(u"thanksTitle"_s) || widget(u"feedbackError"_s); });
        if (auto* error = qobject_cast<QLabel*>(widget(u"feedbackError"_s)))
            throw StepFailed(u"the feedback was refused: "_s + error->text());
        shoot(u"feedback-sent"_s);
        QTest::keyClick(require(u"closeButton"_s), Qt::Key_Return);
        waitFor(u"the sheet to close"_s, [this] { return !m_model->sheet(); });
        // No window manager runs here to hand the keys back from a closed
        // dialog: the window must take them itself.
        waitFor(u"the keys to come back to the window"_s, [this] { return QApplication::activeWindow() == m_window; });
        return u"Sent feedback about "_s + product.name + u" from its page: "_s + quoted(message);
    }

    // An update the service spoils: it must fail with a sentence that says
    // so (containing `expected`, when given), keep the copy in place and
    // write a problem report. A download that `stalls` shows its progress
    // meanwhile; a small one that fails at once may never show it.
    QString failedUpdate(const QString& id, const QString& expected, bool stalls)
    {
        showTab(u"updates"_s, Hub::Tab::updates);
        const Hub::Product& product = shown(id);
        const QString before = m_model->installedVersion(product).value_or(QString());
        const std::size_t problems = m_model->problems().size();
        QWidget* row = require(u"updateRow-"_s + id);
        startJob(id, [this, row] { click(require(u"updatePill"_s, row)); });
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
            throw StepFailed(u"the job says "_s + quoted(state.job.message));
        if (m_model->installedVersion(shown(id)) != before)
            throw StepFailed(u"the copy in place changed"_s);
        waitFor(u"the problem report"_s, [this, problems] { return m_model->problems().size() > problems; });
        shoot(u"failed-update"_s);
        return u"The update of "_s + product.name + u" failed: "_s + quoted(state.job.message) + u' '
            + product.name + u' ' + before + u" stays installed, and a problem report was written."_s;
    }

    QString refusedAccount()
    {
        waitFor(u"the service's refusal"_s, [this] {
            return m_model->signInAgain() && !m_model->session() && !m_model->account();
        });
        click(u"signInAgainButton"_s);
        waitFor(u"the sign-in screen"_s, [this] { return widget(u"signInButton"_s) != nullptr; });
        auto* note = qobject_cast<QLabel*>(widget(u"loginNote"_s));
        if (!note || note->text().isEmpty())
            throw StepFailed(u"the sign-in screen does not say why"_s);
        shoot(u"sign-in-again"_s);
        return u"The service refused the account: signed out on this computer; \u201cSign in\u201d on the notice"
               u" leads back to the sign-in screen, which says "_s
            + quoted(note->text());
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
            throw StepFailed(u"no product "_s + quoted(id) + u" is shown"_s);
        return *product;
    }

    void showTab(const QString& name, Hub::Tab tab)
    {
        if (m_model->page())
            back();
        if (m_model->tab() != tab)
            click(name + u"Tab"_s);
        waitFor(u"the "_s + name + u" tab"_s, [this, tab, name] {
            return m_model->tab() == tab && widget(name + u"Body"_s);
        });
    }

    // A click on the row's name opens its page.
    void openPage(const QString& id)
    {
        QWidget* row = require(u"row-"_s + id);
        ensureShown(row);
        QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(row->width() / 4, row->height() / 2));
        // Shown, and faded in all the way: the tab body under it is gone.
        waitFor(u"the page of "_s + id, [this, id] {
            return m_model->page() == id && widget(u"productPage"_s) && widget(u"actions"_s) && !widget(u"tabBody"_s);
        });
        shoot(u"page-"_s + id);
    }

    void back()
    {
        click(u"backPill"_s);
        waitFor(u"the page to close"_s, [this] { return !m_model->page() && !widget(u"productPage"_s) && widget(u"tabBody"_s); });
    }

    // Opens the page's More menu and clicks the item (More::Item::Does).
    void chooseFromMore(int item, const QString& text)
    {
        click(u"more"_s);
        QMenu* menu = nullptr;
        waitFor(u"the More menu"_s, [this, &menu] {
            menu = qobject_cast<QMenu*>(widget(u"moreMenu"_s));
            return menu != nullptr;
        });
        auto* action = menu->findChild<QAction*>(u"more-"_s + QString::number(item));
        if (!action || !action->isVisible() || !action->isEnabled())
            throw StepFailed(u"the More menu has no item "_s + QString::number(item));
        if (!text.isEmpty() && !action->text().contains(text))
            throw StepFailed(u"the More menu's item reads "_s + quoted(action->text()));
        shoot(u"more-menu"_s);
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        waitFor(u"the More menu to close"_s, [menu] { return !menu->isVisible(); });
    }

    // A key as the window system delivers it: to the focus window, whatever
    // that is, so a sheet that lost the keys does not get them here.
    void press(Qt::Key key)
    {
        QWindow* focus = QGuiApplication::focusWindow();
        if (!focus)
            throw StepFailed(u"no window has the keys"_s);
        QTest::keyClick(focus, key);
    }

    // Text typed as keys to the focus window, wherever the caret is.
    void typeHere(const QString& text)
    {
        for (const QChar c : text) {
            QWindow* focus = QGuiApplication::focusWindow();
            if (!focus)
                throw StepFailed(u"no window has the keys"_s);
            QTest::keyClick(focus, c.toLatin1());
        }
    }

    // Double-clicks `opener` through the X server as a hand does; the sheet
    // it opens (found by `button`, one of its buttons) must have the keys
    // after the second press, which lands on the window under the sheet and
    // makes the platform activate that window.
    void doubleClickOpeningASheet(QWidget* opener, const QString& button)
    {
        XHand hand;
        hand.click(opener);
        QWidget* sheet = nullptr;
        waitFor(u"the sheet to open with the keys"_s, [&] {
            QWidget* found = widget(button);
            sheet = found ? found->window() : nullptr;
            return sheet && QGuiApplication::focusWindow() == sheet->windowHandle();
        });
        if (sheet->frameGeometry().contains(opener->mapToGlobal(opener->rect().center())))
            throw StepFailed(u"the sheet covers what opened it"_s);
        bool under = false;
        const QMetaObject::Connection seen = connect(qGuiApp, &QGuiApplication::focusWindowChanged, this,
                                                     [&](QWindow* now) { under = under || now == m_window->windowHandle(); });
        const auto forget = qScopeGuard([&] { disconnect(seen); });
        hand.click(opener);
        waitFor(u"the second press to reach the window under the sheet"_s, [&] { return under; });
        waitFor(u"the sheet to keep the keys"_s, [&] { return QGuiApplication::focusWindow() == sheet->windowHandle(); });
    }

    // Runs `act` (a click that starts the products' jobs) and notes that
    // none of them has been seen working since.
    void startJobs(const QStringList& ids, const std::function<void()>& act)
    {
        for (const QString& id : ids)
            m_worked.remove(id);
        act();
    }
    void startJob(const QString& id, const std::function<void()>& act) { startJobs({id}, act); }

    // Waits until the product's job, started since startJob, has ended.
    Hub::ProductState settle(const QString& id)
    {
        waitFor(u"the job of "_s + id + u" to end"_s, [this, id] {
            const auto found = m_model->states().find(id);
            return m_worked.contains(id) && found != m_model->states().end() && !working(id);
        });
        return m_model->states().at(id);
    }

    bool working(const QString& id) const
    {
        const auto found = m_model->states().find(id);
        return found != m_model->states().end() && found->second.job.isWorking();
    }

    // Each installed copy holds, file for file, the maker's bundle.
    void checkBundles(const Hub::Product& product, const QList<Hub::InstalledFormat>& copies) const
    {
        for (const Hub::InstalledFormat& copy : copies) {
            const QString maker = m_service + u"/bundles/"_s + product.id + u'/' + copy.version + u'/'
                + Hub::rawValue(copy.format) + u'/' + QFileInfo(copy.path).fileName();
            const QMap<QString, QByteArray> made = treeDigest(maker);
            if (made.isEmpty() || treeDigest(copy.path) != made)
                throw StepFailed(copy.path + u" is not the maker's "_s + maker);
        }
    }

    QString where(const QList<Hub::InstalledFormat>& copies) const
    {
        QStringList places;
        for (const Hub::InstalledFormat& copy : copies)
            places << Hub::label(copy.format) + u" at "_s + m_model->abbreviated(copy.path);
        return places.join(u", "_s);
    }

    static QStringList opened(const QString& log)
    {
        QFile file(log);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    // The visible widget of that name under `root` (any of the program's
    // windows when none), or null.
    QWidget* widget(const QString& name, QWidget* root = nullptr) const
    {
        const QWidgetList roots = root ? QWidgetList{root} : QApplication::topLevelWidgets();
        for (QWidget* top : roots) {
            if (top->objectName() == name && top->isVisible())
                return top;
            for (QWidget* found : top->findChildren<QWidget*>(name))
                if (found->isVisible())
                    return found;
        }
        return nullptr;
    }

    QWidget* require(const QString& name, QWidget* root = nullptr) const
    {
        QWidget* found = widget(name, root);
        if (!found)
            throw StepFailed(u"no visible "_s + quoted(name));
        if (!found->isEnabled())
            throw StepFailed(quoted(name) + u" is disabled"_s);
        return found;
    }

    // Scrolls what holds the widget until it shows, as a person would.
    static void ensureShown(QWidget* target)
    {
        for (QWidget* up = target->parentWidget(); up; up = up->parentWidget())
            if (auto* scroll = qobject_cast<QScrollArea*>(up)) {
                scroll->ensureWidgetVisible(target, 0, 24);
                QCoreApplication::processEvents();
            }
    }

    void type(const QString& name, const QString& text)
    {
        auto* field = qobject_cast<QLineEdit*>(require(name));
        if (!field)
            throw StepFailed(quoted(name) + u" is not a text field"_s);
        field->setFocus();
        field->clear();
        QTest::keyClicks(field, text);
        if (field->text() != text)
            throw StepFailed(quoted(name) + u" took "_s + quoted(field->text()));
    }

    void click(QWidget* target)
    {
        if (!target->isVisible() || !target->isEnabled())
            throw StepFailed(quoted(target->objectName()) + u" can't be clicked"_s);
        ensureShown(target);
        QTest::mouseClick(target, Qt::LeftButton, {}, target->rect().center());
    }
    void click(const QString& name) { click(require(name)); }

    template<typename Predicate>
    void waitFor(const QString& what, Predicate done)
    {
        if (!QTest::qWaitFor(done, std::chrono::milliseconds(kPatience).count()))
            throw StepFailed(u"gave up waiting for "_s + what);
    }

    // The window as the person sees it: with the sheet or menu open over it.
    void shoot(const QString& name)
    {
        // What the model posted (a row gone, a layout to redo) is drawn;
        // what a click started (a switch's knob, a fade) has come to rest,
        // as it has by the time a person looks; endless ones (spinners) run on.
        // A layout redone posts its parent's, one level a round.
        for (int round = 0; round < 8; ++round)
            QCoreApplication::processEvents();
        waitFor(u"the window to settle"_s, [] {
            for (QWidget* top : QApplication::topLevelWidgets())
                for (const QAbstractAnimation* running : top->findChildren<QAbstractAnimation*>())
                    if (running->state() == QAbstractAnimation::Running && running->loopCount() >= 0
                        && running->totalDuration() >= 0)
                        return false;
            return true;
        });
        QPixmap picture = m_window->grab();
        QPainter painter(&picture);
        const QPoint origin = m_window->mapToGlobal(QPoint(0, 0));
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top != m_window && top->isVisible() && top->isWindow())
                painter.drawPixmap(top->mapToGlobal(QPoint(0, 0)) - origin, top->grab());
        painter.end();
        const QString file = QDir(m_out).filePath(u"e2e-"_s + m_journey + u'-' + QString::number(++m_shots).rightJustified(2, u'0')
                                                  + u'-' + QString(name).replace(u' ', u'-') + u".png"_s);
        picture.save(file);
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
    QString m_service;
    QString m_journey;
    std::vector<Account> m_accounts;
    QSet<QString> m_worked;
    int m_shots = 0;
};

} // namespace

extern "C" Q_DECL_EXPORT void hubtarnAttachTestDriver(QWidget* window, Hub::HubModel* model)
{
    // Runs once the event loop does; the driver lives as long as the window.
    auto* driver = new Driver(window, model);
    driver->setParent(window);
    QTimer::singleShot(0, driver, [driver] { driver->run(); });
}
