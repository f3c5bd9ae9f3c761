#include "host/error_dialog.h"

#include <QApplication>
#include <QMessageBox>

#include "host/qt_text.h"

namespace quelvar::host {

void ShowErrorDialog(QWidget* parent, const QString& message) {
  QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), DisplayedText(message), QMessageBox::Ok,
                  parent);
  box.setObjectName("ErrorMessage");
  box.exec();
}

}  // namespace quelvar::host
