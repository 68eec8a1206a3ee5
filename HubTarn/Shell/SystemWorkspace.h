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
    // manager answers, opens the first file's folder instead.
    void reveal(const QStringList& paths) override;
    // The file manager's default handler for a local folder.
    void openFolder(const QString& path) override;

    // The executable inside a bundle: Contents/MacOS/<CFBundleExecutable>,
    // or the bundle's own name without ".app" when the list names none.
    // Empty when the name would leave Contents/MacOS.
    static QString executableOf(const QString& bundlePath);
};

} // namespace Hub::Shell
