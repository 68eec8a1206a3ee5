#pragma once

#include <QAbstractButton>
#include <QUrl>

#include <functional>

namespace Hub::Kit {

// A text button that opens a web or mail address. The kit does not open
// anything itself: the owner passes the opener (the shell routes it through
// its guarded workspace). The help text is the address in full.
class ExternalLink : public QAbstractButton {
    Q_OBJECT

public:
    using Opener = std::function<void(const QUrl&)>;

    ExternalLink(const QString& title, const QUrl& url, Opener opener, QWidget* parent = nullptr);

    QUrl url() const { return m_url; }
    void setUrl(const QUrl& url);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QUrl m_url;
    Opener m_opener;
};

} // namespace Hub::Kit
