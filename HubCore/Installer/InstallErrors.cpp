#include "Installer/InstallErrors.h"

#include "Base/HubError.h"
#include "Base/Places.h"
#include "Platform/FileMoves.h"

#include <QTextBoundaryFinder>

using namespace Qt::StringLiterals;

namespace Hub {

AUNotListedYet::AUNotListedYet(QStringList bundles, QList<InstalledFormat> installed)
    : bundles(std::move(bundles))
    , installed(std::move(installed))
    , m_what(description().toUtf8())
{
}

QString AUNotListedYet::description() const
{
    return bundles.join(u", "_s)
           + u" installed, but your system hasn't listed it yet. Quit and reopen your DAW; if it's still missing, restart the computer."_s;
}

InstallRecoveryError::InstallRecoveryError(QString message)
    : message(std::move(message))
    , m_what(this->message.toUtf8())
{
}

InstallRecoveryError InstallRecoveryError::after(const QString& firstFailure, const QString& recoverySentence)
{
    if (firstFailure.isEmpty())
        return InstallRecoveryError(recoverySentence);
    return InstallRecoveryError(firstFailure + u' ' + recoverySentence);
}

namespace {

QString diskAt(const QString& path, const QString& home)
{
    return abbreviatingHome(FileMoves::diskOf(path), home);
}

} // namespace

QString errorSentence(const std::exception_ptr& error, const QString& home)
{
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const HubError& e) {
        return e.errorDescription();
    } catch (const InstallRecoveryError& e) {
        return e.message;
    } catch (const AUNotListedYet& e) {
        return e.description();
    } catch (const FileError& e) {
        if (e.isDiskFull())
            return u"The disk at "_s + diskAt(e.path(), home) + u" is full. Free up some space and try again."_s;
        return u"Couldn't change "_s + e.path() + u" ("_s + e.description() + u")."_s;
    } catch (...) {
        return u"The install failed."_s;
    }
}

QString diskFullSentence(const QString& path, const QString& release, const QString& kept, const QString& home)
{
    return u"The disk at "_s + diskAt(path, home) + u" is full, so "_s + release + u" wasn't installed"_s + kept
           + u" Free up some space and try again."_s;
}

QString outputTail(const QString& output)
{
    constexpr qsizetype kCharacters = 300;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, output);
    finder.toEnd();
    qsizetype characters = 0;
    while (characters < kCharacters && finder.toPreviousBoundary() > 0)
        ++characters;
    return characters < kCharacters ? output : output.mid(finder.position());
}

} // namespace Hub
