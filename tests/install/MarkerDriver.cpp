// A test driver that only says it was loaded: it writes "loaded" to the
// file HUB_DRIVER_MARKER names and ends the program at once.
#include <QFile>
#include <QtGlobal>

#include <cstdlib>

class QWidget;
namespace Hub {
class HubModel;
}

extern "C" Q_DECL_EXPORT void hubtarnAttachTestDriver(QWidget*, Hub::HubModel*)
{
    QFile marker(QFile::decodeName(qgetenv("HUB_DRIVER_MARKER")));
    if (marker.open(QIODevice::WriteOnly))
        marker.write("loaded");
    marker.close();
    std::_Exit(3);
}
