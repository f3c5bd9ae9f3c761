#include "host/error_dialog.h"

#include <QApplication>
#include <QMessageBox>

#include "host/host_texts.h"

namespace quelvar::host {

void ShowErrorDialog(QWidget* parent, const QString& message) {
  QMessageBox box(QMessageBox::Critical, QApplication::applicationName(),
                  QString::fromStdString(WithLineBreaks(message.toStdString())), QMessageBox::Ok, parent);
  box.setObjectName("ErrorMessage");
  box.exec();
}

}  // namespace quelvar::host
