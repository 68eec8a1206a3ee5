#include "Account/SystemWebAuthenticator.h"
#include "Base/Config.h"
#include "Base/Process.h"
#include "Platform/CallbackInbox.h"
#include "Platform/SchemeHandler.h"

#include "AsOtherUser.h"
#include "QStringPrinter.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QDirIterator>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <atomic>
#include <random>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <mutex>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Hub::Test::readFile;
using Hub::Test::writeFile;

namespace Hub {
namespace {

constexpr auto kWait = 5s;
constexpr double kProcessTimeout = 20.0;
const QString kClient = QString::fromUtf8(WEBSIGNIN_CLIENT);
const QUrl kSignInPage(u"https://accounts.example.com/o/oauth2/auth?client_id=abc"_s);

QUrl callback(const QString& nonce)
{
    return QUrl(u"com.tarnaudio.tarnhub://callback?rotating_token_nonce="_s + nonce);
}

// What the running instance received, in order.
class Received {
public:
    CallbackInbox::Handler handler()
    {
        return [this](const QUrl& url) {
            const std::lock_guard guard(m_lock);
            m_urls.append(url);
        };
    }
    QList<QUrl> urls() const
    {
        const std::lock_guard guard(m_lock);
        return m_urls;
    }

private:
    mutable std::mutex m_lock;
    QList<QUrl> m_urls;
};

class WebSignInHandOff : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString socketPath() const { return m_dir.filePath(u"com.tarnaudio.tarnhub.sock"_s); }
    QString folder() const { return m_dir.path(); }

    static Shell::Result runClient(const QStringList& arguments)
    {
        return Shell::run(kClient, arguments, kProcessTimeout);
    }

    static bool isSocket(const QString& path)
    {
        struct stat st {};
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISSOCK(st.st_mode);
    }

    // A bound socket closed without removing its file, as a crash leaves it.
    void leaveStaleSocket() const
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(socketPath());
        std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
        EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
        ::close(fd);
    }

    QTemporaryDir m_dir;
};

// The entries that appear in a folder, as the kernel reports them: a test
// waits for a name instead of polling, and sees how it came to be.
class FolderWatch {
public:
    explicit FolderWatch(const QString& folder)
        : m_fd(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK))
    {
        EXPECT_GE(m_fd, 0);
        EXPECT_GE(::inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), IN_CREATE | IN_MOVED_TO), 0);
    }
    ~FolderWatch() { ::close(m_fd); }

    // The kinds of events (IN_CREATE, IN_MOVED_TO) seen for `name`, in
    // order; waits up to `timeout` for the first when there is none yet.
    std::vector<std::uint32_t> eventsFor(const std::string& name, std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            alignas(inotify_event) char buffer[4096];
            ssize_t got = 0;
            while ((got = ::read(m_fd, buffer, sizeof buffer)) > 0) {
                for (char* at = buffer; at < buffer + got;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(at);
                    if (event->len > 0 && name == event->name)
                        m_seen.push_back(event->mask & (IN_CREATE | IN_MOVED_TO));
                    at += sizeof(inotify_event) + event->len;
                }
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (!m_seen.empty() || left.count() <= 0)
                return m_seen;
            pollfd entry{m_fd, POLLIN, 0};
            ::poll(&entry, 1, static_cast<int>(left.count()));
        }
    }

private:
    int m_fd;
    std::vector<std::uint32_t> m_seen;
};

// --- The hand-off from a second launch ----------------------------------------

TEST_F(WebSignInHandOff, SecondProcessHandsTheCallbackToTheWaitingSignIn)
{
    std::promise<void> opened;
    SystemWebAuthenticator web([&](const QUrl&) {
        opened.set_value();
        return true;
    });
    CallbackInbox inbox(socketPath(), [&](const QUrl& url) { web.deliverCallback(url); });
    ASSERT_EQ(inbox.listen(), CallbackInbox::Listen::listening);

    auto signIn = std::async(std::launch::async, [&] {
        std::stop_source never;
        return web.authenticate(kSignInPage, Config::bundleID(), never.get_token());
    });
    ASSERT_EQ(opened.get_future().wait_for(kWait), std::future_status::ready);

    const Shell::Result secondLaunch = runClient({u"send"_s, socketPath(), callback(u"n1"_s).toString()});
    EXPECT_EQ(secondLaunch.status, 0) << secondLaunch.output.toStdString();

    if (signIn.wait_for(kWait) != std::future_status::ready) {
        web.cancel();
        FAIL() << "the handed-over callback did not reach the waiting sign-in";
    }
    EXPECT_EQ(signIn.get(), callback(u"n1"_s));
}

// The socket's name appears only once it listens (renamed into place, never
// created there by bind()), so a second launch that sees the name and
// connects at once is never refused.
TEST_F(WebSignInHandOff, TheSocketNameAppearsOnlyOnceItListens)
{
    FolderWatch watch(folder());
    Received received;
    CallbackInbox inbox(socketPath(), received.handler());
    ASSERT_EQ(inbox.listen(), CallbackInbox::Listen::listening);
    EXPECT_EQ(watch.eventsFor(QFileInfo(socketPath()).fileName().toStdString(), 0ms),
              std::vector<std::uint32_t>{IN_MOVED_TO});
    EXPECT_EQ(QDir(folder()).entryList(QDir::System | QDir::Files | QDir::Hidden),
              (QStringList{u"com.tarnaudio.tarnhub.sock"_s, u"com.tarnaudio.tarnhub.sock.lock"_s}));
}

TEST_F(WebSignInHandOff, SocketIsPrivateAndRemovedWithTheInbox)
{
    {
        Received received;
        CallbackInbox inbox(socketPath(), received.handler());
        ASSERT_EQ(inbox.listen(), CallbackInbox::Listen::listening);
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(socketPath()).constData(), &st), 0);
        EXPECT_TRUE(S_ISSOCK(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    EXPECT_FALSE(QFileInfo::exists(socketPath()));
}

TEST_F(WebSignInHandOff, MissingSocketFolderIsCreatedPrivate)
{
    const QString nested = m_dir.filePath(u"inbox/com.tarnaudio.tarnhub.sock"_s);
    Received received;
    CallbackInbox inbox(nested, received.handler());
    ASSERT_EQ(inbox.listen(), CallbackInbox::Listen::listening);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(m_dir.filePath(u"inbox"_s)).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(CallbackInbox::send(nested, callback(u"n1"_s), kWait));
}

// --- Which instance owns the socket --------------------------------------------

TEST_F(WebSignInHandOff, StaleSocketFromACrashedInstanceIsReplaced)
{
    leaveStaleSocket();
    ASSERT_TRUE(isSocket(socketPath()));
    // A second launch starts its own window instead of waiting on the dead one.
    EXPECT_EQ(CallbackInbox::deliver(socketPath(), callback(u"early"_s), kWait),
              CallbackInbox::Delivery::nobodyListens);

    Received received;
    CallbackInbox inbox(socketPath(), received.handler());
    ASSERT_EQ(inbox.listen(), CallbackInbox::Listen::listening);
    EXPECT_TRUE(CallbackInbox::send(socketPath(), callback(u"n1"_s), kWait));
    EXPECT_EQ(received.urls(), QList<QUrl>{callback(u"n1"_s)});
}

TEST_F(WebSignInHandOff, SecondInstanceLeavesTheRunningOneServing)
{
    Received first;
    CallbackInbox running(socketPath(), first.handler());
    ASSERT_EQ(running.listen(), CallbackInbox::Listen::listening);
    {
        Received second;
        CallbackInbox another(socketPath(), second.handler());
        EXPECT_EQ(another.listen(), CallbackInbox::Listen::otherInstance);
    }
    EXPECT_TRUE(isSocket(socketPath()));
    EXPECT_TRUE(CallbackInbox::send(socketPath(), callback(u"n1"_s), kWait));
    EXPECT_EQ(first.urls(), QList<QUrl>{callback(u"n1"_s)});
}

TEST_F(WebSignInHandOff, InstancesStartingTogetherElectOneOwner)
{
    constexpr int kRounds = 50;
    constexpr int kInstances = 4;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::unique_ptr<Received>> received;
        std::vector<std::unique_ptr<CallbackInbox>> inboxes;
        for (int i = 0; i < kInstances; ++i) {
            received.push_back(std::make_unique<Received>());
            inboxes.push_back(std::make_unique<CallbackInbox>(socketPath(), received.back()->handler()));
        }
        if (round % 2 == 0)
            leaveStaleSocket();
        std::atomic<int> owners = 0;
        std::atomic<int> deferring = 0;
        {
            std::vector<std::jthread> starting;
            for (int i = 0; i < kInstances; ++i) {
                starting.emplace_back([&, i] {
                    const CallbackInbox::Listen outcome = inboxes[i]->listen();
                    owners += outcome == CallbackInbox::Listen::listening;
                    deferring += outcome == CallbackInbox::Listen::otherInstance;
                });
            }
        }
        ASSERT_EQ(owners, 1) << "round " << round;
        // The others must learn there is an instance to hand their link to.
        ASSERT_EQ(deferring, kInstances - 1) << "round " << round;
        const QUrl url = callback(QString::number(round));
        ASSERT_TRUE(CallbackInbox::send(socketPath(), url, kWait)) << "round " << round;
        int got = 0;
        for (const auto& r : received)
            got += r->urls().count(url);
        ASSERT_EQ(got, 1);
    }
}

TEST_F(WebSignInHandOff, NothingListeningMeansNotDelivered)
{
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CallbackInbox::deliver(socketPath(), callback(u"n1"_s), kWait),
              CallbackInbox::Delivery::nobodyListens);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kWait);
}

// --- What the inbox refuses -----------------------------------------------------

TEST_F(WebSignInHandOff, ConnectionFromAnotherUserIsRefused)
{
    if (::geteuid() != 0 || !QFileInfo::exists(Hub::Test::kSetpriv))
        GTEST_SKIP() << "needs root and setpriv to run a client as another user";

    Received received;
    CallbackInbox inbox(socketPath(), received.handler());
    ASSERT_EQ(inbox.listen(), CallbackInbox::Listen::listening);
    // Let the other user reach the socket at all, so that the inbox itself
    // is what refuses them.
    ASSERT_EQ(::chmod(QFile::encodeName(folder()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(socketPath()).constData(), 0666), 0);

    const Shell::Result mine = runClient({u"raw"_s, socketPath(), callback(u"mine"_s).toString()});
    ASSERT_EQ(mine.status, 0) << mine.output.toStdString();

    const Shell::Result theirs = Shell::run(Hub::Test::kSetpriv,
        Hub::Test::asNobody({Hub::Test::reachableProgram(kClient), u"raw"_s, socketPath(), callback(u"theirs"_s).toString()}), kProcessTimeout);
    EXPECT_EQ(theirs.status, 3) << "expected the connection closed unanswered; output: "
                                << theirs.output.toStdString();
    EXPECT_EQ(received.urls(), QList<QUrl>{callback(u"mine"_s)});
}

TEST_F(WebSignInHandOff, CallbackIsNeverSentToAnotherUsersListener)
{
    if (::geteuid() != 0 || !QFileInfo::exists(Hub::Test::kSetpriv))
        GTEST_SKIP() << "needs root and setpriv to run a listener as another user";

    ASSERT_EQ(::chmod(QFile::encodeName(folder()).constData(), 0777), 0);
    // The listener renames its socket into place once it listens, so the
    // name appearing is the moment it can take a connection.
    FolderWatch watch(folder());
    auto listener = std::async(std::launch::async, [&] {
        return Shell::run(Hub::Test::kSetpriv, Hub::Test::asNobody({Hub::Test::reachableProgram(kClient), u"listen"_s, socketPath(), u"-"_s}),
                          kProcessTimeout);
    });
    ASSERT_FALSE(watch.eventsFor(QFileInfo(socketPath()).fileName().toStdString(), 120s).empty());
    ASSERT_TRUE(isSocket(socketPath()));

    // Not nobody: a second launch must not start a window of its own either.
    EXPECT_EQ(CallbackInbox::deliver(socketPath(), callback(u"secret"_s), kWait), CallbackInbox::Delivery::notTaken);
    const Shell::Result result = listener.get();
    EXPECT_EQ(result.status, 0) << "the listener saw no connection; output: " << result.output.toStdString();
    EXPECT_FALSE(result.output.contains(u"secret"_s)) << result.output.toStdString();
}

TEST_F(WebSignInHandOff, OversizedAndMalformedAddressesAreNotDelivered)
{
    Received received;
    CallbackInbox inbox(socketPath(), received.handler());
    ASSERT_EQ(inbox.listen(), CallbackInbox::Listen::listening);

    const QString prefix = u"com.tarnaudio.tarnhub://callback?pad="_s;
    const QUrl longest(prefix + QString(CallbackInbox::kMaxURLBytes - prefix.size(), u'a'));
    const QUrl tooLong(prefix + QString(CallbackInbox::kMaxURLBytes - prefix.size() + 1, u'a'));
    ASSERT_EQ(longest.toEncoded().size(), CallbackInbox::kMaxURLBytes);
    EXPECT_TRUE(CallbackInbox::send(socketPath(), longest, kWait));
    EXPECT_EQ(CallbackInbox::deliver(socketPath(), tooLong, kWait), CallbackInbox::Delivery::notTaken);

    // Lines a sender could write by hand, past the client's own checks.
    const QString overLimit = prefix + QString(CallbackInbox::kMaxURLBytes, u'b');
    for (const QString& line : {u"not a url"_s, u"no-scheme-here"_s, overLimit}) {
        const Shell::Result result = runClient({u"raw"_s, socketPath(), line});
        EXPECT_NE(result.status, 0) << line.left(40).toStdString();
    }
    EXPECT_EQ(received.urls(), QList<QUrl>{longest});
}

// --- Where the socket lives ------------------------------------------------------

TEST_F(WebSignInHandOff, SocketPathPrefersAPrivateRuntimeFolder)
{
    const unsigned me = ::geteuid();
    EXPECT_EQ(callbackSocketPath(u"com.tarnaudio.tarnhub"_s, folder(), me),
        folder() + u"/com.tarnaudio.tarnhub.sock"_s);

    const QString fallback = u"/tmp/com.tarnaudio.tarnhub-"_s + QString::number(me) + u"/com.tarnaudio.tarnhub.sock"_s;
    EXPECT_EQ(callbackSocketPath(u"com.tarnaudio.tarnhub"_s, QString(), me), fallback);
    EXPECT_EQ(callbackSocketPath(u"com.tarnaudio.tarnhub"_s, u"relative/run"_s, me), fallback);
    // Someone else's folder, or one others can write to, is not ours to trust.
    EXPECT_EQ(callbackSocketPath(u"com.tarnaudio.tarnhub"_s, folder(), me + 1),
        u"/tmp/com.tarnaudio.tarnhub-"_s + QString::number(me + 1) + u"/com.tarnaudio.tarnhub.sock"_s);
    ASSERT_EQ(::chmod(QFile::encodeName(folder()).constData(), 0777), 0);
    EXPECT_EQ(callbackSocketPath(u"com.tarnaudio.tarnhub"_s, folder(), me), fallback);
}

// --- The desktop's scheme handler entry -----------------------------------------

TEST(WebSignInSchemeHandler, NamesTheProgramAsHandlerOfTheBundleScheme)
{
    EXPECT_EQ(SchemeHandler::desktopEntry(u"com.tarnaudio.tarnhub"_s, u"/opt/tarnhub/bin/hubtarn"_s),
        QByteArray("[Desktop Entry]\n"
                   "Type=Application\n"
                   "Name=Tarnhub\n"
                   "Exec=/opt/tarnhub/bin/hubtarn %u\n"
                   "Terminal=false\n"
                   "NoDisplay=true\n"
                   "MimeType=x-scheme-handler/com.tarnaudio.tarnhub;\n"));
}

TEST(WebSignInSchemeHandler, QuotesAndEscapesTheProgramPath)
{
    struct Case {
        QString executable;
        QByteArray exec;
    };
    const Case cases[] = {
        {u"/opt/Tarn Hub/hubtarn"_s, "Exec=\"/opt/Tarn Hub/hubtarn\" %u\n"},
        {u"/opt/100%/hubtarn"_s, "Exec=/opt/100%%/hubtarn %u\n"},
        {u"/opt/a$b\"c`d/hubtarn"_s, "Exec=\"/opt/a\\\\$b\\\\\"c\\\\`d/hubtarn\" %u\n"},
        {u"/opt/back\\slash/hubtarn"_s, "Exec=\"/opt/back\\\\\\\\slash/hubtarn\" %u\n"},
    };
    for (const Case& c : cases) {
        const QByteArray entry = SchemeHandler::desktopEntry(u"com.tarnaudio.tarnhub"_s, c.executable);
        EXPECT_TRUE(entry.contains(c.exec)) << c.executable.toStdString() << "\n" << entry.toStdString();
    }
    EXPECT_TRUE(SchemeHandler::desktopEntry(u"com.tarnaudio.tarnhub"_s, u"bin/hubtarn"_s).isEmpty());
    EXPECT_TRUE(SchemeHandler::desktopEntry(u"com.tarnaudio.tarnhub"_s, u"/opt/x\nExec=/bin/evil"_s).isEmpty());
}

TEST(WebSignInSchemeHandler, InstallWritesTheEntryUnderHomeAndRegistersIt)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QStringList registered;
    const bool written = SchemeHandler::installSchemeHandler(home.path(), u"/opt/tarnhub/bin/hubtarn"_s,
        [&](const QString& file, const QString& mimeType) { registered << file << mimeType; });
    ASSERT_TRUE(written);

    // Under a name of its own, so it never hides an installed entry.
    const QString fileName = Config::bundleID() + u".build-tree.desktop"_s;
    QFile file(home.filePath(u".local/share/applications/"_s + fileName));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), SchemeHandler::desktopEntry(Config::bundleID(), u"/opt/tarnhub/bin/hubtarn"_s));
    EXPECT_EQ(registered, (QStringList{fileName, u"x-scheme-handler/"_s + Config::bundleID()}));
}

// Who gets the sign-in's return link: a build tree only takes it when nobody
// has it or whoever had it is gone; an installed program takes it back from
// a build tree, and nothing takes it from an installed program.
TEST(WebSignInSchemeHandler, ABuildTreeNeverTakesTheLinkFromAProgramThatExists)
{
    enum class Registered { nobody, installed, goneBuildTree, otherBuildTree, missingEntry };
    struct Row {
        const char* name;
        bool runInstalled; // the running program is the installed one
        Registered registered;
        QString claimed;   // the desktop file registered, empty for none
    };
    const QString bundleID = Config::bundleID();
    const QString installedEntry = bundleID + u".url-handler.desktop"_s;
    const QString buildEntry = bundleID + u".build-tree.desktop"_s;
    const Row rows[] = {
        {"nobody has it", false, Registered::nobody, buildEntry},
        {"the installed program has it", false, Registered::installed, QString()},
        {"a removed build tree has it", false, Registered::goneBuildTree, buildEntry},
        {"another build tree has it", false, Registered::otherBuildTree, QString()},
        {"its entry is gone", false, Registered::missingEntry, buildEntry},
        {"installed, a build tree has it", true, Registered::otherBuildTree, installedEntry},
        {"installed, it has it", true, Registered::installed, QString()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const auto program = [&](const QString& relative) {
            writeFile(dir.filePath(relative), "#!/bin/sh\n", true);
            return dir.filePath(relative);
        };
        const QString installed = program(u"opt/Tarnhub.app/Contents/MacOS/hubtarn"_s);
        const QString building = program(u"clone/build/HubTarn/Shell/hubtarn"_s);
        const QString other = program(u"other/build/HubTarn/Shell/hubtarn"_s);
        const QString home = dir.filePath(u"home"_s);
        const QString system = dir.filePath(u"usr/share"_s);
        writeFile(system + u"/applications/"_s + installedEntry, SchemeHandler::desktopEntry(bundleID, installed));
        const QString userEntry = home + u"/.local/share/applications/"_s + buildEntry;
        QString registered;
        switch (row.registered) {
        case Registered::nobody:
            break;
        case Registered::installed:
            registered = installedEntry;
            break;
        case Registered::goneBuildTree:
            writeFile(userEntry, SchemeHandler::desktopEntry(bundleID, dir.filePath(u"gone/hubtarn"_s)));
            registered = buildEntry;
            break;
        case Registered::otherBuildTree:
            writeFile(userEntry, SchemeHandler::desktopEntry(bundleID, other));
            registered = buildEntry;
            break;
        case Registered::missingEntry:
            registered = bundleID + u".removed.desktop"_s;
            break;
        }
        const QByteArray before = QFileInfo::exists(userEntry) ? readFile(userEntry) : QByteArray();

        QStringList claimed;
        SchemeHandler::Desktop desktop{home, {system}, [&](const QString& mimeType) {
                                           EXPECT_EQ(mimeType, u"x-scheme-handler/"_s + bundleID);
                                           return registered;
                                       },
                                       [&](const QString& file, const QString&) { claimed << file; }};
        const QString running = row.runInstalled ? installed : building;
        EXPECT_EQ(SchemeHandler::claimLinks(running, desktop), !row.claimed.isEmpty());
        EXPECT_EQ(claimed, row.claimed.isEmpty() ? QStringList() : QStringList{row.claimed});
        if (row.claimed == buildEntry) {
            EXPECT_EQ(readFile(userEntry), SchemeHandler::desktopEntry(bundleID, building));
        } else {
            EXPECT_EQ(QFileInfo::exists(userEntry) ? readFile(userEntry) : QByteArray(), before)
                << "nothing of the user's entries changed";
        }
    }
}

QByteArray runnableEntry(const QByteArray& program)
{
    return "[Desktop Entry]\nType=Application\nName=Some Program\nName[de]=Ein Programm\nExec=" + program + " %u\n";
}

// Where the desktop keeps a link's handler, read as the desktop reads it:
// the association files in rank order, then the entries' caches.
TEST(WebSignInSchemeHandler, ReadsTheHandlerWhereTheDesktopKeepsIt)
{
    const QString mime = u"x-scheme-handler/"_s + Config::bundleID();
    struct File {
        const char* path; // under the scratch folder
        QByteArray text;
    };
    struct Row {
        const char* name;
        std::vector<File> files;
        QString handler;
    };
    const QByteArray type = mime.toUtf8();
    const auto defaults = [&](const QByteArray& ids) -> QByteArray { return "[Default Applications]\n" + type + '=' + ids + '\n'; };
    const Row rows[] = {
        {"nothing names it", {}, QString()},
        {"the user's list before the system's",
         {{"config/mimeapps.list", defaults("ours.desktop")}, {"etc/xdg/mimeapps.list", defaults("theirs.desktop")}},
         u"ours.desktop"_s},
        {"the current desktop's list before the plain one",
         {{"config/mimeapps.list", defaults("theirs.desktop")}, {"config/tarn-mimeapps.list", defaults("ours.desktop")}},
         u"ours.desktop"_s},
        {"configuration before the data folders' older lists",
         {{"data/applications/mimeapps.list", defaults("theirs.desktop")},
          {"usr/share/applications/mimeapps.list", defaults("theirs.desktop")},
          {"etc/xdg/mimeapps.list", defaults("ours.desktop")}},
         u"ours.desktop"_s},
        {"a default that is not installed gives way, in its list and to the next",
         {{"config/mimeapps.list", defaults("gone.desktop")},
          {"etc/xdg/mimeapps.list", defaults("gone.desktop;ours.desktop")}},
         u"ours.desktop"_s},
        {"other types, groups and comments are not read",
         {{"config/mimeapps.list", "# " + type + "=theirs.desktop\n[Added Associations]\n" + type
                                     + "x=theirs.desktop\n[Default Applications]\ntext/plain=theirs.desktop\n "
                                     + type + " = ours.desktop;\n"}},
         u"ours.desktop"_s},
        {"a blank after a name belongs to the name",
         {{"config/mimeapps.list", defaults("ours.desktop ;theirs.desktop")}}, u"theirs.desktop"_s},
        {"a file with a line that is no key is not read at all",
         {{"config/mimeapps.list", defaults("ours.desktop") + "stray words\n"},
          {"etc/xdg/mimeapps.list", defaults("theirs.desktop")}},
         u"theirs.desktop"_s},
        {"a key given twice: the later one",
         {{"config/mimeapps.list", defaults("ours.desktop") + type + "=theirs.desktop\n"}}, u"theirs.desktop"_s},
        {"a desktop's own list only names defaults",
         {{"config/tarn-mimeapps.list", "[Added Associations]\n" + type + "=ours.desktop;\n"},
          {"config/mimeapps.list", "[Removed Associations]\n" + type + "=ours.desktop;\n"},
          {"usr/share/applications/mimeinfo.cache", "[MIME Cache]\n" + type + "=theirs.desktop;\n"}},
         u"theirs.desktop"_s},
        {"a system list adds no entry that the user's folder holds",
         {{"usr/share/applications/mimeapps.list", "[Added Associations]\n" + type + "=ours.desktop;\n"}},
         QString()},
        {"the user's cache before a system list's addition",
         {{"data/applications/mimeinfo.cache", "[MIME Cache]\n" + type + "=ours.desktop;\n"},
          {"usr/share/applications/mimeapps.list", "[Added Associations]\n" + type + "=theirs.desktop;\n"}},
         u"ours.desktop"_s},
        {"an entry whose program is gone gives way",
         {{"config/mimeapps.list", defaults("gone-program.desktop;theirs.desktop")}}, u"theirs.desktop"_s},
        {"without a default, the entries that declare it",
         {{"usr/share/applications/mimeinfo.cache", "[MIME Cache]\n" + type + "=theirs.desktop;\n"}},
         u"theirs.desktop"_s},
        {"an added association before the caches",
         {{"config/mimeapps.list", "[Added Associations]\n" + type + "=ours.desktop;\n"},
          {"usr/share/applications/mimeinfo.cache", "[MIME Cache]\n" + type + "=theirs.desktop;\n"}},
         u"ours.desktop"_s},
        {"a removed association is passed over",
         {{"config/mimeapps.list", "[Removed Associations]\n" + type + "=theirs.desktop;\n"},
          {"usr/share/applications/mimeinfo.cache", "[MIME Cache]\n" + type + "=theirs.desktop;\n"}},
         QString()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        writeFile(dir.filePath(u"data/applications/ours.desktop"_s), runnableEntry("/bin/true"));
        writeFile(dir.filePath(u"usr/share/applications/theirs.desktop"_s), runnableEntry("/bin/true"));
        writeFile(dir.filePath(u"usr/share/applications/gone-program.desktop"_s), runnableEntry("/gone/program"));
        for (const File& file : row.files)
            writeFile(dir.filePath(QString::fromUtf8(file.path)), file.text);
        const SchemeHandler::MimeAppsFolders folders{dir.filePath(u"config"_s),
                                                     {dir.filePath(u"etc/xdg"_s)},
                                                     dir.filePath(u"data"_s),
                                                     {dir.filePath(u"usr/local/share"_s), dir.filePath(u"usr/share"_s)},
                                                     {u"tarn"_s}};
        EXPECT_EQ(SchemeHandler::defaultHandler(mime, folders), row.handler);
    }
}

// The same answer as GLib's own reader (gio, which the desktop's openers
// use) over many sets of association files drawn at random, with a fixed
// seed so that a difference found is found again.
TEST(WebSignInSchemeHandler, AgreesWithGLibOverRandomAssociationFiles)
{
    const QString gio = QStandardPaths::findExecutable(u"gio"_s);
    if (gio.isEmpty())
        GTEST_SKIP() << "gio (Debian's libglib2.0-bin) is not installed, so there is no reader to agree with";
    const QByteArray type = "x-scheme-handler/tarn-differential";
    const char* const ids[] = {"a.desktop", "b.desktop", "c.desktop", "d.desktop", "gone.desktop"};
    const char* const entryFolders[] = {"data/applications", "usr/local/share/applications",
                                        "usr/share/applications"};
    const char* const listFolders[] = {"config", "etc/xdg", "data/applications", "usr/local/share/applications",
                                       "usr/share/applications"};
    const char* const listNames[] = {"mimeapps.list", "tarn-mimeapps.list", "mimeinfo.cache", "defaults.list"};
    const char* const groups[] = {"[Default Applications]", "[Added Associations]", "[Removed Associations]",
                                  "[MIME Cache]"};
    std::mt19937 random(20261208);
    const auto pick = [&random](std::size_t count) { return std::size_t(random() % count); };
    int differences = 0;
    for (int round = 0; round < 150 && differences < 3; ++round) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        for (const char* id : ids)
            for (const char* folder : entryFolders)
                if (pick(3) == 0)
                    writeFile(dir.filePath(QString::fromUtf8(folder) + u'/' + QString::fromUtf8(id)),
                              runnableEntry(QByteArray(id) == "gone.desktop" ? "/gone/program" : "/bin/true"));
        for (const char* folder : listFolders)
            for (const char* name : listNames) {
                if (pick(3) != 0)
                    continue;
                QByteArray text;
                for (std::size_t g = 0, n = 1 + pick(3); g < n; ++g) {
                    text += QByteArray(groups[pick(4)]) + '\n' + type + '=';
                    for (std::size_t i = 0, m = pick(4); i < m; ++i)
                        text += QByteArray(ids[pick(5)]) + ';';
                    text += '\n';
                }
                writeFile(dir.filePath(QString::fromUtf8(folder) + u'/' + QString::fromUtf8(name)), text);
            }
        const SchemeHandler::MimeAppsFolders folders{dir.filePath(u"config"_s),
                                                     {dir.filePath(u"etc/xdg"_s)},
                                                     dir.filePath(u"data"_s),
                                                     {dir.filePath(u"usr/local/share"_s), dir.filePath(u"usr/share"_s)},
                                                     {u"tarn"_s}};
        QProcess reader;
        QProcessEnvironment environment;
        environment.insert(u"PATH"_s, u"/usr/bin:/bin"_s);
        environment.insert(u"LC_ALL"_s, u"C"_s);
        environment.insert(u"HOME"_s, dir.path());
        environment.insert(u"XDG_CONFIG_HOME"_s, folders.configHome);
        environment.insert(u"XDG_CONFIG_DIRS"_s, folders.configDirs.join(u':'));
        environment.insert(u"XDG_DATA_HOME"_s, folders.dataHome);
        environment.insert(u"XDG_DATA_DIRS"_s, folders.dataDirs.join(u':'));
        environment.insert(u"XDG_CURRENT_DESKTOP"_s, u"Tarn"_s);
        reader.setProcessEnvironment(environment);
        reader.setProcessChannelMode(QProcess::SeparateChannels);
        reader.start(gio, {u"mime"_s, QString::fromUtf8(type)});
        ASSERT_TRUE(reader.waitForFinished(120'000));
        QString glib;
        for (const QByteArray& line : reader.readAllStandardOutput().split('\n'))
            if (line.startsWith("Default application for "))
                glib = QString::fromUtf8(line.mid(line.lastIndexOf(": ") + 2)).trimmed();
        const QString ours = SchemeHandler::defaultHandler(QString::fromUtf8(type), folders);
        if (ours != glib) {
            ++differences;
            QString files;
            QDirIterator each(dir.path(), QDir::Files, QDirIterator::Subdirectories);
            while (each.hasNext()) {
                const QString path = each.next();
                if (!path.endsWith(u".desktop"_s) || path.endsWith(u"gone.desktop"_s))
                    files += QDir(dir.path()).relativeFilePath(path) + u":\n"_s + QString::fromUtf8(readFile(path));
            }
            ADD_FAILURE() << "round " << round << ": GLib " << glib.toStdString() << ", ours " << ours.toStdString()
                          << "\n" << files.toStdString();
        }
    }
}

// Sets environment variables for one scope and puts the old values back.
class ScopedEnvironment {
public:
    void set(const char* name, const QString& value)
    {
        m_saved.emplace_back(name, qgetenv(name), qEnvironmentVariableIsSet(name));
        qputenv(name, QFile::encodeName(value));
    }
    ~ScopedEnvironment()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (std::get<2>(*it))
                qputenv(std::get<0>(*it), std::get<1>(*it));
            else
                qunsetenv(std::get<0>(*it));
        }
    }

private:
    std::vector<std::tuple<const char*, QByteArray, bool>> m_saved;
};

// At every start the link's registration is read; xdg-mime (and the
// processes it runs) only runs when the registration must change.
TEST(WebSignInSchemeHandler, NoToolRunsWhenTheLinkIsAlreadyOurs)
{
    const QString bundleID = Config::bundleID();
    const QString mime = u"x-scheme-handler/"_s + bundleID;
    const QString installedEntry = bundleID + u".url-handler.desktop"_s;
    const QString buildEntry = bundleID + u".build-tree.desktop"_s;
    enum class Holder { nobody, thisBuildTree, installedByDefault, installedByCache };
    struct Row {
        const char* name;
        bool runInstalled;
        Holder holder;
        QStringList toolRuns;
    };
    const Row rows[] = {
        {"this build tree has it", false, Holder::thisBuildTree, {}},
        {"the installed program has it", true, Holder::installedByDefault, {}},
        {"the installed program declares it", true, Holder::installedByCache, {}},
        {"a build tree finds it not yet taken", false, Holder::nobody, {u"default "_s + buildEntry + u' ' + mime}},
        {"the installed program takes it back", true, Holder::thisBuildTree,
         {u"default "_s + installedEntry + u' ' + mime}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString home = dir.filePath(u"home"_s);
        const QString system = dir.filePath(u"usr/share"_s);
        const QString runs = dir.filePath(u"xdg-mime.runs"_s);
        // Every run of the tool is written down; it answers nothing.
        writeFile(dir.filePath(u"bin/xdg-mime"_s), "#!/bin/sh\necho \"$*\" >> '" + runs.toUtf8() + "'\n", true);
        const QString installed = dir.filePath(u"opt/Tarnhub.app/Contents/MacOS/hubtarn"_s);
        const QString building = dir.filePath(u"clone/build/HubTarn/Shell/hubtarn"_s);
        writeFile(installed, "#!/bin/sh\n", true);
        writeFile(building, "#!/bin/sh\n", true);
        writeFile(system + u"/applications/"_s + installedEntry, SchemeHandler::desktopEntry(bundleID, installed));
        writeFile(home + u"/.local/share/applications/"_s + buildEntry, SchemeHandler::desktopEntry(bundleID, building));
        const QByteArray line = mime.toUtf8() + '=';
        switch (row.holder) {
        case Holder::nobody:
            break;
        case Holder::thisBuildTree:
            writeFile(home + u"/.config/mimeapps.list"_s, "[Default Applications]\n" + line + buildEntry.toUtf8() + '\n');
            break;
        case Holder::installedByDefault:
            writeFile(home + u"/.config/mimeapps.list"_s,
                      "[Default Applications]\n" + line + installedEntry.toUtf8() + '\n');
            break;
        case Holder::installedByCache:
            writeFile(system + u"/applications/mimeinfo.cache"_s,
                      "[MIME Cache]\n" + line + installedEntry.toUtf8() + ";\n");
            break;
        }

        ScopedEnvironment environment;
        environment.set("PATH", dir.filePath(u"bin"_s) + u':' + qEnvironmentVariable("PATH"));
        environment.set("XDG_DATA_DIRS", system);
        environment.set("XDG_CONFIG_DIRS", dir.filePath(u"etc/xdg"_s));
        environment.set("XDG_CURRENT_DESKTOP", u"Tarn"_s);
        SchemeHandler::claimLinks(row.runInstalled ? installed : building, SchemeHandler::systemDesktop(home));
        const QByteArray ran = QFileInfo::exists(runs) ? readFile(runs) : QByteArray();
        EXPECT_EQ(QString::fromUtf8(ran).split(u'\n', Qt::SkipEmptyParts), row.toolRuns);
    }
}

TEST(WebSignInSchemeHandler, UnnameableProgramWritesNothing)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    bool registered = false;
    EXPECT_FALSE(SchemeHandler::installSchemeHandler(home.path(), u"hubtarn"_s,
        [&](const QString&, const QString&) { registered = true; }));
    EXPECT_FALSE(registered);
    EXPECT_FALSE(QFileInfo::exists(home.filePath(u".local/share/applications"_s)));
}

} // namespace
} // namespace Hub
