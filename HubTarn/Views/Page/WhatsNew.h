#pragma once

#include "Kit/ExternalLink.h"

#include <QStringList>
#include <QWidget>

namespace Hub {
struct Product;
}

namespace Hub::Views {

// The product page's framed block with what one version brought (its
// first three note lines) and a link to the maker's change log. It keeps
// nothing of the product beyond those lines.
class WhatsNew : public QWidget {
    Q_OBJECT

public:
    static constexpr int kMaxLines = 3;

    // `open` opens the change log (the page passes the model's guarded one).
    WhatsNew(const Product& product, const QString& version, Kit::ExternalLink::Opener open,
             QWidget* parent = nullptr);

    // The version's note lines from the history; else the current release's
    // notes as one line; else none. All of them: the view shows the first
    // kMaxLines.
    static QStringList lines(const Product& product, const QString& version);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* m_frame;
};

} // namespace Hub::Views
