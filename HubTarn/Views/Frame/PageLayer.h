#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QGraphicsOpacityEffect;
class QVBoxLayout;

namespace Hub {
class HubModel;
}

namespace Hub::Kit {
class Tween;
}

namespace Hub::Views {

// The product page over the tab body, cross-faded in and out. It stays up
// only while the model's page names a product of the catalog.
class PageLayer : public QWidget {
    Q_OBJECT

public:
    PageLayer(HubModel* model, QWidget* parent);

    QWidget* page() const { return m_page; }
    void sync();

    // The open page's product tint, else the theme's background.
    static QColor windowColor(const HubModel& model);

Q_SIGNALS:
    // The page hides the tab body wholly (faded in), or is about to stop
    // doing so: controls under it must not take keys meanwhile.
    void coveringChanged(bool covering);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void setCovering(bool covering);
    void clear();
    // The page of the product with that identifier; the page reads the
    // product from the model by its identifier whenever it draws.
    QWidget* makePage(const QString& productID);

    HubModel* m_model;
    QGraphicsOpacityEffect* m_effect;
    Kit::Tween* m_fade;
    QVBoxLayout* m_layout;
    QWidget* m_page = nullptr;
    QString m_shownID;
    bool m_wanted = false;
    bool m_covering = false;
    // What had the keys when the page opened (a row, mostly): they go back
    // to it when the page closes, rather than to the top of the window.
    QPointer<QWidget> m_cameFrom;
};

} // namespace Hub::Views
