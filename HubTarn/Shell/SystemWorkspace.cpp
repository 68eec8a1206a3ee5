#include "Shell/SystemWorkspace.h"

#include "Installer/ApplicationEntries.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace Hub::Shell {

namespace {

bool opensOnTheDesktop(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == "http"_L1 || scheme == "https"_L1 || scheme == "mailto"_L1;
}

// Opens `folder` with xdg-open, and `failed` hears of it when xdg-open
// cannot start or ends in failure. QDesktopServices::openUrl() says yes as
// soon as xdg-open starts, even where it then finds nothing that opens a
// folder (Debian without a file manager), so only its exit status tells.
// Asynchronous, since xdg-open may wait for the file manager it starts.
void openWithOpener(const QString& folder, std::function<void(const QString&)> failed)
{
    // Never parented and never killed: quitting must not close a file
    // manager that xdg-open waits for.
    auto* opener = new QProcess;
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const auto fail = [folder, failed = std::move(failed)] {
        qWarning().noquote() << "workspace: nothing opened the folder" << folder;
        if (failed)
            failed(folder);
    };
    QObject::connect(opener, &QProcess::finished, opener, [opener, fail](int code, QProcess::ExitStatus status) {
        if (status != QProcess::NormalExit || code != 0)
            fail();
        opener->deleteLater();
    });
    QObject::connect(opener, &QProcess::errorOccurred, opener, [opener, fail](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        fail();
        opener->deleteLater();
    });
    opener->start(u"xdg-open"_s, {folder});
}

void openFolderOf(const QString& path, std::function<void(const QString&)> failed)
{
    openWithOpener(QFileInfo(path).absolutePath(), std::move(failed));
}

} // namespace

void SystemWorkspace::openURL(const QUrl& url)
{
    if (!opensOnTheDesktop(url)) {
        qWarning().noquote() << "workspace: not opening" << url.toDisplayString();
        return;
    }
    QDesktopServices::openUrl(url);
}

QString SystemWorkspace::executableOf(const QString& bundlePath)
{
    return ApplicationEntries::executableOf(bundlePath);
}

void SystemWorkspace::openApplication(const QString& bundlePath)
{
    const QString program = executableOf(bundlePath);
    if (program.isEmpty() || !QProcess::startDetached(program, {}, bundlePath))
        qWarning().noquote() << "workspace: cannot start" << bundlePath;
}

void SystemWorkspace::reveal(const QStringList& paths, std::function<void(const QString&)> failed)
{
    if (paths.isEmpty())
        return;
    QStringList uris;
    for (const QString& path : paths)
        uris.append(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolderOf(paths.first(), failed);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.FileManager1"_s, u"/org/freedesktop/FileManager1"_s,
                                                       u"org.freedesktop.FileManager1"_s, u"ShowItems"_s);
    call << uris << QString();
    // Asynchronous: a file manager that is slow to start must not freeze the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), nullptr);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [first = paths.first(), failed](QDBusPendingCallWatcher* finished) {
                         if (QDBusPendingReply<> reply = *finished; reply.isError())
                             openFolderOf(first, failed);
                         finished->deleteLater();
                     });
}

void SystemWorkspace::openFolder(const QString& path, std::function<void(const QString&)> failed)
{
    if (!QFileInfo(path).isDir()) {
        qWarning().noquote() << "workspace: cannot open the folder" << path;
        if (failed)
            failed(path);
        return;
    }
    openWithOpener(path, std::move(failed));
}

// ---- RecordingWorkspace -------------------------------------------------------

RecordingWorkspace::RecordingWorkspace(QString log)
    : m_log(std::move(log))
{
}

void RecordingWorkspace::record(const QString& line) const
{
    QDir().mkpath(QFileInfo(m_log).path());
    QFile file(m_log);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(line.toUtf8() + '\n') < 0)
        qWarning().noquote() << "workspace: cannot record in" << m_log;
}

void RecordingWorkspace::openURL(const QUrl& url)
{
    if (!opensOnTheDesktop(url)) {
        qWarning().noquote() << "workspace: not opening" << url.toDisplayString();
        return;
    }
    record(u"open "_s + url.toString(QUrl::FullyEncoded));
}

void RecordingWorkspace::openApplication(const QString& bundlePath) { record(u"application "_s + bundlePath); }

void RecordingWorkspace::reveal(const QStringList& paths, std::function<void(const QString&)>)
{
    if (!paths.isEmpty())
        record(u"reveal "_s + paths.join(u' '));
}

void RecordingWorkspace::openFolder(const QString& path, std::function<void(const QString&)>)
{
    record(u"folder "_s + path);
}

} // namespace Hub::Shell
