#pragma once

#include "Views/Common/RowList.h"

#include "Model/ModelTypes.h"

#include <QColor>
#include <QPointer>
#include <QRect>
#include <QStringList>

#include <functional>
#include <optional>

class QPainter;

namespace Hub::Kit {
class Pill;
class ProgressLine;
class Spinner;
class Tween;
} // namespace Hub::Kit

namespace Hub::Views {

class JobLine;

// Where a product row puts its parts, left to right: the tile and its
// badge, the name over its caption, the context column, the action column
// and the chevron.
struct ProductRowStyle {
    int leading = 16;
    int minHeight = 64;
    qreal tile = 48;
    int tileGap = 14;
    int textWidth = 260;
    int textSpacing = 4;
    int contextLeading = 16;
    int contextLines = 2;
    int actionLeading = 16;
    int actionMinWidth = 112;
    int chevronWidth = 44;
    qreal chevronSize = 11;
    qreal badge = 16;
    // The badge sits this far beyond the tile's top-trailing corner.
    qreal badgeShift = 4;
    // The badge's arrow is heavier than text of its size.
    qreal badgeWeight = 1.4;
    qreal nameSize = 17;
    qreal nameTracking = -0.68;
    qreal contextSize = 13;
    qreal captionSize = 11;
    qreal tagSize = 10.5;
    QMarginsF tagPadding{5, 1, 5, 1};
    qreal tagRadius = 5;
    qreal captionSpacing = 5;
};

// In place of the action while a job runs: a line of the download's
// progress, a full line for the other steps, a small spinner while
// removing. 112 by 34; silent for screen readers, the row says the job.
class TileProgress : public QWidget {
    Q_OBJECT

public:
    explicit TileProgress(QWidget* parent = nullptr);

    void setJob(const Job& job, const QColor& color);
    QSize sizeHint() const override;

    // The line's value; none while the spinner shows.
    std::optional<qreal> value() const;

private:
    Kit::ProgressLine* m_line;
    Kit::Spinner* m_spinner;
};

// What a row's action button says and does not say.
struct RowActionTexts {
    QString title;
    QString spoken;
    QString help;
    friend bool operator==(const RowActionTexts&, const RowActionTexts&) = default;
};

// One product in a card of the plug-ins tab: its tile (with the update
// badge), its name over its caption or its job's word, what there is to
// know (tagline, update note, the last job's outcome), the main action or
// the job's progress, and a chevron. A click anywhere but the action opens
// the product's page; so do Return and Space.
class ProductRow : public ListRow {
    Q_OBJECT

public:
    // `acted` runs just before an update or an install starts from the row.
    ProductRow(HubModel* model, const QString& productID, std::function<void()> acted, QWidget* parent = nullptr);

    void sync() override;

    static RowActionTexts actionTexts(const HubModel& model, const Product& product, RowAction action);

    // The action button (hidden while there is none); the progress and the
    // outcome line, each null until first needed.
    Kit::Pill* actionButton() const { return m_action; }
    TileProgress* progress() const { return m_progress; }
    JobLine* jobLine() const { return m_jobLine; }
    bool hovered() const { return m_hover; }
    // What the context column says now (also its help text).
    QString contextText() const;
    // What the text column says under the name: the job's word or the caption.
    QString captionText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    QString spokenText() const override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void open();
    void press();
    void place();
    QRect contextRect() const;
    QRect actionRect() const;
    bool badge(const Product& product, const Job& job) const;
    const QStringList& contextLines(const QString& text, int width);
    void paintText(QPainter& p, const Product& product, const Job& job);
    void paintCaption(QPainter& p, const QPointF& at, const Caption& caption);
    void paintBadge(QPainter& p, const QPointF& topTrailing);

    std::function<void()> m_acted;
    ProductRowStyle m_style;
    Kit::Tween* m_hoverTween;
    bool m_hover = false;
    bool m_pressed = false;
    std::optional<RowAction> m_shownAction;
    Kit::Pill* m_action = nullptr;
    TileProgress* m_progress = nullptr;
    JobLine* m_jobLine = nullptr;
    // What the row last drew, to redraw only what a change touches.
    struct Look {
        QString name;
        bool filled = false;
        bool badge = false;
        QString word;
        bool strong = false;
        QString context;
        bool jobLine = false;
        QColor accent;
        friend bool operator==(const Look&, const Look&) = default;
    } m_look;
    struct Lines {
        QString text;
        int width = -1;
        QStringList lines;
    } m_lines;
};

} // namespace Hub::Views
