#pragma once
// The error dialog every failed operator action ends in: the failure's
// message (carriage returns shown as line breaks) under the program's title.

#include <QString>

class QWidget;

namespace quelvar::host {

// Shows the dialog modally over `parent` and returns when it is closed.
void ShowErrorDialog(QWidget* parent, const QString& message);

}  // namespace quelvar::host
