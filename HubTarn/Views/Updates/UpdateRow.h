#pragma once

#include "Views/Common/RowList.h"

class QLabel;

namespace Hub::Kit {
class ElidedLabel;
class Pill;
class ProductMark;
} // namespace Hub::Kit

namespace Hub::Views {

class JobLine;

// Prose cut to at most `lines` lines, the last one ending in an ellipsis
// when the text goes on; the accessible name and the help text keep it whole.
class ClampedText : public QWidget {
    Q_OBJECT

public:
    ClampedText(int lines, QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    // The lines drawn at `width`, each as shown.
    QStringList shownLines(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int m_lines;
    QString m_text;
};

// One waiting update: the product's mark, name, versions and what the new
// release brings, its Update pill and, while something happens to the
// product, its job line.
class UpdateRow : public ListRow {
    Q_OBJECT

public:
    UpdateRow(HubModel* model, const QString& productID, QWidget* parent = nullptr);

    void sync() override;

    Kit::Pill* updatePill() const { return m_update; }

protected:
    // The row takes Tab's focus, so it shows the ring a keyboard user
    // follows; a click leaves none.
    void paintEvent(QPaintEvent* event) override;

private:
    // The constructor's steps, in order.
    void makeMark();
    void styleTexts();
    void makeUpdatePill();
    void layOut();

    Kit::ProductMark* m_mark = nullptr;
    Kit::ElidedLabel* m_name;
    QLabel* m_versions;
    ClampedText* m_note;
    Kit::Pill* m_update = nullptr;
    JobLine* m_job;
};

} // namespace Hub::Views
