#pragma once

#include "Catalog/SharedTypes.h"

#include <QAbstractButton>
#include <QWidget>
#include <QWidgetList>

#include <functional>

class QLabel;

namespace Hub::Views {

// The title block at the top of every sheet: the title in the bold face at
// 28 on one line (it shrinks to 60 % before it is cut, never wraps), the
// detail under it in the muted label style.
class SheetTitle : public QWidget {
    Q_OBJECT

public:
    SheetTitle(const QString& title, const QString& detail, QWidget* parent = nullptr);

    void setTexts(const QString& title, const QString& detail);
    QString title() const;
    QString detail() const;
    // The size the title is drawn at in the width it has now.
    qreal titleSize() const;

private:
    class Title;
    Title* m_title;
    QLabel* m_detail;
};

// Assistive technology reads a sheet's parts in the order of their parent's
// children, which is the order they were made in: `parts` (children of one
// parent) are put in this order at its end, so the tree reads as the sheet
// does (heading, text, tiles, then buttons) whatever was made first.
void putInReadingOrder(const QWidgetList& parts);

// A sheet's closing message laid out on `panel`: the title in the bold face
// at 28, the text under it in the foot style, and `close` at the right
// below. The labels are named `name` + "Title" and `name` + "Text".
void layOutMessage(QWidget* panel, const QString& name, const QString& title, const QString& text, QWidget* close);

// One plug-in format's tile, chosen or not. The sheet that owns it holds
// the chosen set: `choose` hears every change of the tile's state, however
// it came (a click anywhere in the rounded outline, Return and Space, or
// assistive technology's toggle), and the sheet passes `on` back in. On, a
// solid ink tile with dark text; off, an outlined tile with light text.
// Assistive technology reads one check box named by the format, the detail
// as its description.
class FormatBox : public QAbstractButton {
    Q_OBJECT

public:
    FormatBox(PluginFormat format, const QString& detail, std::function<void(bool on)> choose,
              QWidget* parent = nullptr);

    PluginFormat format() const { return m_format; }
    bool isOn() const { return isChecked(); }
    void setOn(bool on);
    QString detail() const;
    void setDetail(const QString& detail);
    // A tile that shows a fixed choice: no clicks, no keyboard focus, no
    // action offered to assistive technology; it stays as set.
    void setFixed();
    bool isFixed() const { return m_fixed; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
    // A fixed tile never flips.
    void nextCheckState() override;

private:
    void restyle();
    void changed(bool on);

    PluginFormat m_format;
    std::function<void(bool)> m_choose;
    bool m_fixed = false;
    // setOn() is the owner's word, not a choice to report back.
    bool m_applying = false;
    QLabel* m_name;
    QLabel* m_detail;
};

} // namespace Hub::Views
