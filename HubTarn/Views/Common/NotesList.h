#pragma once

#include "Kit/ExternalLink.h"

#include "Catalog/CatalogRecords.h"

#include <QWidget>

#include <optional>
#include <vector>

namespace Hub::Views {

// A release history, newest as given: each version with its date, a "new"
// tag when it is newer than the installed version, and all its note lines;
// then a link to the full notes. The product page and the application's
// own update bar show it.
class NotesList : public QWidget {
    Q_OBJECT

public:
    NotesList(const std::vector<ReleaseNote>& history, const std::optional<QString>& installed, const QUrl& link,
              Kit::ExternalLink::Opener open, QWidget* parent = nullptr);

    // Strictly newer than the installed version; never without one.
    static bool isNew(const QString& version, const std::optional<QString>& installed);
};

} // namespace Hub::Views
