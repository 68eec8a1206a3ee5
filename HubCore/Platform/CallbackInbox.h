#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>
#include <thread>

struct sockaddr_un;

namespace Hub {

// Where the running application listens for addresses handed over by a
// second launch of the program: "<runtimeDir>/<bundleID>.sock" when the
// runtime folder ($XDG_RUNTIME_DIR) is usable (an absolute path to a folder
// of this user that no one else can write to), else
// "/tmp/<bundleID>-<uid>/<bundleID>.sock".
QString callbackSocketPath(const QString& bundleID);
QString callbackSocketPath(const QString& bundleID, const QString& runtimeDir, unsigned uid);

// The single-instance hand-off. The desktop launches the program with the
// address of a `<bundle id>://` link (the web sign-in's callback, a deep
// link); the running instance owns a local socket, and the second launch
// sends it the address with `send` and exits.
//
// Only processes of the same user are served, and `send` only talks to a
// listener of its own user: a callback carries sign-in secrets.
class CallbackInbox {
public:
    // Receives each address on the inbox's own thread; must return quickly
    // (the sender waits for the acknowledgement) and must not throw.
    using Handler = std::function<void(const QUrl& url)>;

    // The longest address accepted, in bytes of its encoded form.
    static constexpr qsizetype kMaxURLBytes = 8192;

    enum class Listen {
        listening,
        // Another live instance owns the socket: hand the address to it.
        otherInstance,
        // The socket could not be set up (the reason is logged).
        failed,
    };

    CallbackInbox(QString socketPath, Handler handler);
    // Stops serving and removes the socket file.
    ~CallbackInbox();

    CallbackInbox(const CallbackInbox&) = delete;
    CallbackInbox& operator=(const CallbackInbox&) = delete;

    // Takes the socket and starts serving. A socket file left by an instance
    // that crashed is replaced; a missing socket folder is created private
    // (0700). The socket file itself is 0600.
    Listen listen();

    const QString& socketPath() const { return m_socketPath; }

    enum class Delivery {
        taken,
        // No instance listens there: no socket, or one left by a crash.
        nobodyListens,
        // An instance is there but did not take it: another user's
        // listener, a refused address, or `timeout` passed.
        notTaken,
    };

    // The second launch's side: hands `url` to the instance listening at
    // `socketPath`. Taken once that instance acknowledged it. Never throws.
    static Delivery deliver(const QString& socketPath, const QUrl& url, std::chrono::milliseconds timeout);
    // Whether `deliver` was taken.
    static bool send(const QString& socketPath, const QUrl& url, std::chrono::milliseconds timeout);

private:
    // The steps of listen(); each closes what it opened when it fails, and
    // a step that returns a Listen ends listen() with it.
    bool makePrivateFolder();
    std::optional<Listen> takeLock(const QByteArray& path);
    std::optional<Listen> clearLeftSocket(const QByteArray& path, const sockaddr_un& address);
    bool publishSocket(const QByteArray& path);
    void serve(std::stop_token stop);
    void answer(int connection);
    void closeAll();

    const QString m_socketPath;
    const Handler m_handler;
    int m_lockFd = -1;
    int m_listenFd = -1;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    bool m_bound = false;
    std::jthread m_thread;
};

} // namespace Hub
