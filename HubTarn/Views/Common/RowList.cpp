#include "Views/Common/RowList.h"

#include "Model/HubModel.h"

#include <QKeyEvent>
#include <QVBoxLayout>

#include <algorithm>

namespace Hub::Views {

// ---- ListRow ----------------------------------------------------------------

ListRow::ListRow(HubModel* model, const QString& productID, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_productID(productID)
{
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

const Product* ListRow::product() const { return m_model->product(m_productID); }

void ListRow::sync()
{
    setAccessibleName(spokenText());
    update();
}

QString ListRow::spokenText() const
{
    const Product* shown = product();
    return shown ? m_model->spoken(*shown) : QString();
}

void ListRow::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (!event->isAutoRepeat())
            Q_EMIT activated();
        event->accept();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

// ---- RowList ----------------------------------------------------------------

RowList::RowList(HubModel* model, MakeRow make, std::function<QWidget*()> between, QWidget* parent)
    : QWidget(parent)
    , m_make(std::move(make))
    , m_between(std::move(between))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(model, &HubModel::productStateChanged, this, &RowList::productChanged);
    // A new catalog or account can change every product's texts while the
    // identifiers stay: every row reads its product again.
    for (auto changed : {&HubModel::catalogChanged, &HubModel::accountChanged})
        connect(model, changed, this, [this] {
            for (ListRow* row : m_rows)
                row->sync();
        });
}

void RowList::setIDs(const QStringList& ids)
{
    if (ids == this->ids())
        return;
    std::vector<ListRow*> rows;
    rows.reserve(std::size_t(ids.size()));
    for (const QString& id : ids) {
        const auto kept = std::find_if(m_rows.begin(), m_rows.end(), [&](ListRow* row) { return row && row->productID() == id; });
        if (kept != m_rows.end()) {
            rows.push_back(*kept);
            *kept = nullptr;
        } else {
            ListRow* row = m_make(id);
            row->setParent(this);
            row->sync();
            rows.push_back(row);
        }
    }
    for (ListRow* gone : m_rows)
        delete gone;
    m_rows = std::move(rows);

    const std::size_t wanted = m_between && !m_rows.empty() ? m_rows.size() - 1 : 0;
    while (m_separators.size() > wanted) {
        delete m_separators.back();
        m_separators.pop_back();
    }
    while (m_separators.size() < wanted) {
        QWidget* separator = m_between();
        separator->setParent(this);
        m_separators.push_back(separator);
    }

    // Laid out again in the new order; the widgets themselves stay.
    auto* layout = static_cast<QVBoxLayout*>(this->layout());
    while (layout->count() > 0)
        delete layout->takeAt(0);
    // Tab goes through each row and then its own controls (its action
    // button) before the next row.
    QWidget* previous = nullptr;
    const auto chain = [&previous](QWidget* next) {
        if (previous)
            QWidget::setTabOrder(previous, next);
        previous = next;
    };
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (i > 0 && i - 1 < m_separators.size()) {
            layout->addWidget(m_separators[i - 1]);
            m_separators[i - 1]->show();
        }
        layout->addWidget(m_rows[i]);
        m_rows[i]->show();
        chain(m_rows[i]);
        for (QWidget* control : m_rows[i]->findChildren<QWidget*>())
            if (control->focusPolicy() & Qt::TabFocus)
                chain(control);
    }
}

QStringList RowList::ids() const
{
    QStringList ids;
    ids.reserve(qsizetype(m_rows.size()));
    for (const ListRow* row : m_rows)
        ids.append(row->productID());
    return ids;
}

ListRow* RowList::row(const QString& productID) const
{
    const auto found = std::find_if(m_rows.begin(), m_rows.end(), [&](ListRow* row) { return row->productID() == productID; });
    return found == m_rows.end() ? nullptr : *found;
}

void RowList::productChanged(const QString& productID)
{
    if (ListRow* changed = row(productID))
        changed->sync();
}

} // namespace Hub::Views
