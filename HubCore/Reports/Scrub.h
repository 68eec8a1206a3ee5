#pragma once

#include <QString>

// The redaction applied to every report message that is spooled or uploaded,
// so that no user name, volume name or e-mail address leaves the machine.
namespace Hub::Scrub {

// Hides home folders (macOS "/Users/<name>", Linux "/home/<name>", Windows
// "C:\Users\<name>") as "~", mounted volume names ("/Volumes/<name>",
// "/media/<user>/<name>", "/run/media/<user>/<name>") and e-mail addresses,
// all matched without regard to case; then keeps the first `max`
// user-perceived characters.
QString text(const QString& text, qsizetype max);

} // namespace Hub::Scrub
