#pragma once

#include "Shell/ServiceProfile.h"

#include <optional>

class QWidget;

namespace Hub {
class HubModel;
}

namespace Hub::Shell {

// The end-to-end tests drive the real window from inside the process: a
// sandboxed run asked to (HUBTARN_TEST_DRIVER names a shared library) loads
// that library and hands it the window and the model through its
// `hubtarnAttachTestDriver(QWidget*, Hub::HubModel*)`. Nothing happens
// outside the sandbox, without the variable or in an installed copy. False, after saying why on
// standard error, when a driver was asked for and could not be attached.
bool attachTestDriver(const std::optional<Sandbox>& sandbox, QWidget* window, HubModel* model);

} // namespace Hub::Shell
