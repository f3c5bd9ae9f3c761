#pragma once
// Texts between the server's UTF-8 strings and the window's widgets.

#include <QString>

#include <string>
#include <string_view>

#include "host/host_texts.h"

namespace quelvar::host {

inline QString QtText(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A text for a widget that breaks lines only at line feeds (carriage returns
// shown as line breaks).
inline QString DisplayedText(const QString& text) { return QtText(WithLineBreaks(text.toStdString())); }

}  // namespace quelvar::host
