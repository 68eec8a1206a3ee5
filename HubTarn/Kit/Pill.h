#pragma once

#include "Styles.h"

#include <QAbstractButton>

namespace Hub::Kit {

// The capsule button. The title is kept as given (it is also the accessible
// name) and drawn in upper case; only the capsule takes clicks.
class Pill : public QAbstractButton {
    Q_OBJECT

public:
    explicit Pill(const QString& title, const PillStyle& style = {}, QWidget* parent = nullptr);

    const PillStyle& pillStyle() const { return m_style; }
    void setPillStyle(const PillStyle& style);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // The label's baseline from the top, at the pill's height now.
    qreal firstBaseline() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    PillStyle m_style;
};

} // namespace Hub::Kit
