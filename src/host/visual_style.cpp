#include "host/visual_style.h"

#include <QApplication>
#include <QColor>
#include <QPalette>
#include <QStyleFactory>

namespace quelvar::host {

void ApplyVisualStyle(QApplication& application) {
  if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"))) application.setStyle(style);
  const QColor darkCyan(0, 96, 100);
  const QColor cyan(0, 139, 139);
  QPalette palette;
  palette.setColor(QPalette::Window, darkCyan);
  palette.setColor(QPalette::WindowText, Qt::white);
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::AlternateBase, QColor(224, 242, 242));
  palette.setColor(QPalette::Text, Qt::black);
  palette.setColor(QPalette::Button, cyan);
  palette.setColor(QPalette::ButtonText, Qt::white);
  palette.setColor(QPalette::Highlight, QColor(0, 170, 170));
  palette.setColor(QPalette::HighlightedText, Qt::white);
  palette.setColor(QPalette::ToolTipBase, QColor(255, 255, 225));
  palette.setColor(QPalette::ToolTipText, Qt::black);
  palette.setColor(QPalette::Disabled, QPalette::Text, Qt::darkGray);
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, Qt::lightGray);
  application.setPalette(palette);
}

}  // namespace quelvar::host
