#pragma once

#include <QList>
#include <QVariant>
#include <QWidget>

class QAbstractButton;
class QButtonGroup;

namespace Hub::Kit {

// A row of segments, one per option, in order; pressing one sets the value
// to that option's value. Drawn like the tab strip: the chosen segment is an
// ink capsule with dark text, the others muted text, inside one 1.5-pt
// outline in Theme::line, 30 high, labels in the upper-case label style.
// Values are compared with QVariant's equality, so any type with operator==
// can be the value.
class Segmented : public QWidget {
    Q_OBJECT

public:
    struct Option {
        QVariant value;
        QString label;
    };

    explicit Segmented(const QList<Option>& options, QWidget* parent = nullptr);

    QVariant value() const { return m_value; }
    // A value that is no option's value selects no segment.
    void setValue(const QVariant& value);

    QAbstractButton* segment(qsizetype index) const;
    qsizetype count() const { return m_options.size(); }

Q_SIGNALS:
    // On every change of value, from a press or from setValue().
    void valueChanged(const QVariant& value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<Option> m_options;
    QVariant m_value;
    QButtonGroup* m_group;
};

} // namespace Hub::Kit
