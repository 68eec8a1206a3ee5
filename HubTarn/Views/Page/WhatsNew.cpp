#include "Views/Page/WhatsNew.h"

#include "Base/Config.h"
#include "Catalog/CatalogRecords.h"
#include "Kit/Paint.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace Hub::Views {

WhatsNew::WhatsNew(const Product& product, const QString& version, Kit::ExternalLink::Opener open, QWidget* parent)
    : QWidget(parent)
    , m_frame(new QWidget(this))
{
    setObjectName(QStringLiteral("whatsNew"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 20, 0, 0);
    outer->addWidget(m_frame);

    auto* column = new QVBoxLayout(m_frame);
    column->setContentsMargins(16, 14, 16, 14);
    column->setSpacing(6);
    QLabel* title = Kit::plainLabel(QStringLiteral("What's new in ") + version, m_frame);
    title->setObjectName(QStringLiteral("whatsNewTitle"));
    Kit::setLabelStyle(title, 11, QFont::Medium, Kit::Theme::muted());
    column->addWidget(title);
    const QStringList all = lines(product, version);
    for (qsizetype i = 0; i < std::min<qsizetype>(all.size(), kMaxLines); ++i) {
        QLabel* line = Kit::plainLabel(all[i], m_frame);
        line->setObjectName(QStringLiteral("whatsNewLine"));
        Kit::setProseStyle(line, Kit::Theme::prose(14), Kit::Theme::ink());
        column->addWidget(line);
    }
    auto* link = new Kit::ExternalLink(QStringLiteral("All release notes ↗"), Config::changelog(product.id),
                                       std::move(open), m_frame);
    link->setObjectName(QStringLiteral("whatsNewLink"));
    column->addSpacing(2);
    column->addWidget(link, 0, Qt::AlignLeft);
}

QStringList WhatsNew::lines(const Product& product, const QString& version)
{
    for (const ReleaseNote& note : product.history())
        if (note.version == version)
            return note.notes;
    if (product.release && product.release->notes)
        return {*product.release->notes};
    return {};
}

void WhatsNew::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Kit::Theme::line(), Kit::Theme::stroke));
    p.setBrush(Qt::NoBrush);
    const qreal half = Kit::Theme::stroke / 2;
    p.drawPath(Kit::Paint::continuousRect(QRectF(m_frame->geometry()).adjusted(half, half, -half, -half),
                                          Kit::Theme::cardRadius));
}

} // namespace Hub::Views
