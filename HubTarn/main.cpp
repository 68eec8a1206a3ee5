#include "StatusReport.h"

#include "Catalog/CatalogLoader.h"
#include "Catalog/Config.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // The application's name is its bundle identifier: the core recognises
    // the application by it, and user settings are stored under it.
    QCoreApplication::setApplicationName(Hub::Config::bundleID());
    QCoreApplication::setApplicationVersion(Hub::Config::hubVersion());

    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (!arguments.isEmpty() && arguments != QStringList{u"--status"_s}) {
        std::fprintf(stderr, "usage: hubtarn [--status]\n");
        return 2;
    }

    const QByteArray report = Hub::statusReport(Hub::CatalogLoader()).toUtf8();
    std::fwrite(report.constData(), 1, static_cast<size_t>(report.size()), stdout);
    return 0;
}
