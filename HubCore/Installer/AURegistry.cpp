#include "Installer/AURegistry.h"

#include "Platform/PropertyList.h"

#include <QDir>
#include <QVariantList>

using namespace Qt::StringLiterals;

namespace Hub {

bool AURegistry::refreshAndWaitGone(const AUDescriptor&, double) { return true; }

std::optional<AUDescriptor> auDescriptorOfComponent(const QString& componentPath)
{
    const QVariantMap info = PropertyList::readDictionary(QDir(componentPath).filePath(u"Contents/Info.plist"_s));
    const QVariant components = info.value(u"AudioComponents"_s);
    if (components.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    const QVariantList list = components.toList();
    if (list.isEmpty() || list.front().typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap first = list.front().toMap();
    auto type = PropertyList::text(first, u"type"_s);
    auto subtype = PropertyList::text(first, u"subtype"_s);
    auto manufacturer = PropertyList::text(first, u"manufacturer"_s);
    if (!type || !subtype || !manufacturer)
        return std::nullopt;
    return AUDescriptor{*type, *subtype, *manufacturer};
}

} // namespace Hub
