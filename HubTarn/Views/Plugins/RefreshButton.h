#pragma once

#include <QAbstractButton>

namespace Hub {
class HubModel;
}

namespace Hub::Kit {
class Tween;
}

namespace Hub::Views {

// The round "check for updates" button. It spins for exactly as long as
// the refresh its own press started, and is disabled while offline.
class RefreshButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit RefreshButton(HubModel* model, QWidget* parent = nullptr);

    bool refreshing() const { return m_refreshing; }
    // The arrow's turn in degrees, for the paint and for tests.
    qreal angle() const;
    // The arrow moves: spinning, or on its way back to rest.
    bool turning() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    void press();
    void setRefreshing(bool on);

    HubModel* m_model;
    bool m_refreshing = false;
    Kit::Tween* m_turn;
};

} // namespace Hub::Views
