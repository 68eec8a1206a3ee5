#pragma once

#include <QString>

#include <ostream>

// Without this gtest shows a QString in a failure message as the bytes of
// the object; with it, as the quoted text. It sits in the global
// namespace, QString's own, so that gtest finds it by argument lookup.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
