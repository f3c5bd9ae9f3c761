#pragma once
// The program's visual style: a dark cyan window frame around white fields.

class QApplication;

namespace quelvar::host {

void ApplyVisualStyle(QApplication& application);

}  // namespace quelvar::host
