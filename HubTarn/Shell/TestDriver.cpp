#include "Shell/TestDriver.h"

#include "Base/Config.h"

#include <QLibrary>
#include <QWidget>

#include <cstdio>

namespace Hub::Shell {

bool attachTestDriver(const std::optional<Sandbox>& sandbox, QWidget* window, HubModel* model)
{
    const std::optional<QString> driver = Config::testSwitch("HUBTARN_TEST_DRIVER");
    if (!sandbox || !driver)
        return true;
    // Kept loaded for the rest of the run (a QLibrary never unloads on its
    // own): the driver's objects live in it.
    static QLibrary library;
    library.setFileName(*driver);
    library.setLoadHints(QLibrary::ResolveAllSymbolsHint);
    using Attach = void (*)(QWidget*, HubModel*);
    const auto attach = reinterpret_cast<Attach>(library.resolve("hubtarnAttachTestDriver"));
    if (!attach) {
        std::fprintf(stderr, "hubtarn: the test driver can't be loaded: %s\n", qPrintable(library.errorString()));
        return false;
    }
    attach(window, model);
    return true;
}

} // namespace Hub::Shell
