#pragma once

#include "Base/Config.h"
#include "Catalog/SharedTypes.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <exception>

namespace Hub {

// The warning of an install whose Audio Units the system did not list in
// time. The install stands: everything in `installed` is in place.
class AUNotListedYet : public std::exception {
public:
    AUNotListedYet(QStringList bundles, QList<InstalledFormat> installed);

    QStringList bundles;
    QList<InstalledFormat> installed;

    // "<names joined with ", "> installed, but your system hasn't listed it yet. ..."
    QString description() const;
    const char* what() const noexcept override { return m_what.constData(); }

    friend bool operator==(const AUNotListedYet& a, const AUNotListedYet& b)
    {
        return a.bundles == b.bundles && a.installed == b.installed;
    }

private:
    QByteArray m_what;
};

// Automatic recovery could not finish. The message says where the copies
// that are left lie; the app model shows it as it is, and tells this error
// apart from others by its type.
class InstallRecoveryError : public std::exception {
public:
    explicit InstallRecoveryError(QString message);

    // The recovery sentence after the failure that made recovery necessary,
    // so the user learns both what went wrong and where the copies are:
    // "<first failure> <recovery sentence>". An empty first failure leaves
    // the recovery sentence alone.
    static InstallRecoveryError after(const QString& firstFailure, const QString& recoverySentence);

    QString message;

    QString description() const { return message; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    QByteArray m_what;
};

// The sentence to show for an error the installer lets through: a HubError's
// description, the message of the two errors above, a file error as
// "Couldn't change <path> (<reason>)." (one for want of room as "The disk at
// <mount point> is full. ..."), anything else "The install failed.". A
// mount point in `home` is shown from "~", as the window shows every path.
QString errorSentence(const std::exception_ptr& error, const QString& home = Config::homeFolder());

// What an install that ran out of room says: "The disk at <mount point of
// path> is full, so <release> wasn't installed<kept> Free up some space and
// try again.", where `kept` says what is still there (" and nothing was
// changed." or "; <what> is still installed as it was."), and a mount point
// in `home` is shown from "~".
QString diskFullSentence(const QString& path, const QString& release, const QString& kept,
                         const QString& home = Config::homeFolder());

// The end of a tool's output that a failure sentence quotes: its last 300
// user-perceived characters, never splitting one (an emoji, a letter with
// its accent), or the whole output when it is shorter.
QString outputTail(const QString& output);

} // namespace Hub
