#include "Model/ModelTypes.h"

#include <QDir>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace Hub {

QString rawValue(Tab tab)
{
    switch (tab) {
    case Tab::plugins:
        return u"plugins"_s;
    case Tab::updates:
        return u"updates"_s;
    case Tab::settings:
        return u"settings"_s;
    }
    return {};
}

std::optional<Tab> tabFromRaw(QStringView text)
{
    for (Tab tab : kAllTabs)
        if (rawValue(tab) == text)
            return tab;
    return std::nullopt;
}

QString Sheet::id() const
{
    static const char* const kNames[] = {"install", "feedback", "uninstall"};
    return QLatin1StringView(kNames[int(kind)]) + u'-' + slug;
}

Job Job::downloading(double fraction)
{
    const double clamped = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    return {Kind::downloading, clamped, {}};
}

Job Job::from(const InstallStep& step)
{
    switch (step.kind) {
    case InstallStep::Kind::downloading:
        return downloading(step.fraction);
    case InstallStep::Kind::verifying:
        return verifying();
    case InstallStep::Kind::installing:
        return installing();
    case InstallStep::Kind::registering:
    case InstallStep::Kind::done: // the outcome comes with the result
        return registering();
    }
    return idle();
}

bool Job::isWorking() const
{
    switch (kind) {
    case Kind::downloading:
    case Kind::verifying:
    case Kind::installing:
    case Kind::registering:
    case Kind::removing:
    case Kind::waitingForRestart:
        return true;
    case Kind::idle:
    case Kind::done:
    case Kind::warning:
    case Kind::failed:
        return false;
    }
    return false;
}

int Job::percent() const
{
    return kind == Kind::downloading ? int(fraction * 100.0) : 0;
}

QString Job::shortText() const
{
    switch (kind) {
    case Kind::downloading:
        return u"downloading "_s + QString::number(percent()) + u'%';
    case Kind::verifying:
        return u"checking"_s;
    case Kind::installing:
        return u"installing"_s;
    case Kind::registering:
        return u"registering"_s;
    case Kind::removing:
        return u"removing"_s;
    case Kind::waitingForRestart:
        return u"waiting to restart"_s;
    case Kind::idle:
    case Kind::done:
    case Kind::warning:
    case Kind::failed:
        return {};
    }
    return {};
}

PluginSections PluginSections::holding(const std::optional<PluginSections>& earlier) const
{
    if (!earlier)
        return *this;
    const auto inAny = [](const PluginSections& sections, const QString& id) {
        return sections.onMac.contains(id) || sections.add.contains(id) || sections.soon.contains(id);
    };
    const auto hold = [&](const QStringList& old, const QStringList& fresh) {
        QStringList result;
        for (const QString& id : old)
            if (inAny(*this, id))
                result.append(id);
        for (const QString& id : fresh)
            if (!inAny(*earlier, id))
                result.append(id);
        return result;
    };
    return {hold(earlier->onMac, onMac), hold(earlier->add, add), hold(earlier->soon, soon)};
}

} // namespace Hub
