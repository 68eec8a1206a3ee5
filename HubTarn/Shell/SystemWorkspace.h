#pragma once

#include "Model/Seams.h"

#include <QString>
#include <QStringList>

namespace Hub::Shell {

// The desktop's side of the model's workspace: web and mail addresses go
// to the user's default handlers, applications start as their own
// processes, and files are shown in the file manager.
class SystemWorkspace : public Workspace {
public:
    // Only http, https and mailto reach the desktop; the model checks what
    // it opens, and this keeps a file or custom-scheme address from ever
    // starting a program.
    void openURL(const QUrl& url) override;
    // Starts the bundle's executable detached, in the bundle's folder.
    void openApplication(const QString& bundlePath) override;
    // Asks the file manager over D-Bus to select the files; when no file
    // manager answers, opens the first file's folder instead, and when
    // nothing opens that either, says so through `failed`.
    void reveal(const QStringList& paths, std::function<void(const QString& folder)> failed) override;
    // The desktop's handler for a local folder, through xdg-open; when it
    // cannot start or ends in failure, says so through `failed`.
    void openFolder(const QString& path, std::function<void(const QString& folder)> failed) override;

    // The executable inside a bundle: Contents/MacOS/<CFBundleExecutable>,
    // or the bundle's own name without ".app" when the list names none.
    // Empty when the name would leave Contents/MacOS.
    static QString executableOf(const QString& bundlePath);
};

// The workspace of a sandboxed run that a test driver walks: nothing
// leaves the sandbox (no browser, no file manager); each request is one
// line appended to `log` ("open <address>", "application <path>",
// "reveal <path>...", "folder <path>") for the driver to check. The same
// rule as the desktop's decides which addresses would be opened.
class RecordingWorkspace : public Workspace {
public:
    explicit RecordingWorkspace(QString log);

    void openURL(const QUrl& url) override;
    void openApplication(const QString& bundlePath) override;
    void reveal(const QStringList& paths, std::function<void(const QString& folder)> failed) override;
    void openFolder(const QString& path, std::function<void(const QString& folder)> failed) override;

private:
    void record(const QString& line) const;

    QString m_log;
};

} // namespace Hub::Shell
