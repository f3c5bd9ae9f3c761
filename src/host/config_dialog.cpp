#include "host/config_dialog.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QIntValidator>
#include <QToolButton>
#include <QVBoxLayout>

#include <exception>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

#include "host/error_dialog.h"
#include "host/host_texts.h"
#include "host/qt_text.h"
#include "host/server_control.h"
#include "host/settings.h"

namespace quelvar::host {

namespace {

constexpr int kLowestPort = 1;
constexpr int kHighestPort = 65535;  // every port, so no digit typed is ever dropped
constexpr std::string_view kTypedPortMessage = "Porta inválida: informe um número de 1 a 65535.";

}  // namespace

QString FileDialogFilter(std::string_view pairs) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t bar = pairs.find('|', start);
    parts.push_back(pairs.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  QStringList entries;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    QString description = QtText(parts[i]);
    const QString pattern = QtText(parts[i + 1]);
    if (!description.endsWith(QLatin1Char('(') + pattern + QLatin1Char(')'))) {
      description += QStringLiteral(" (") + pattern + QLatin1Char(')');
    }
    entries.push_back(description);
  }
  return entries.join(QStringLiteral(";;"));
}

TFormServer_Config::TFormServer_Config(ServerControl& server, std::function<bool()> restartListener,
                                       QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      server_(server),
      restartListener_(std::move(restartListener)) {
  setObjectName("TFormServer_Config");
  setWindowTitle(QStringLiteral("Configuração do Módulo Servidor"));
  setModal(true);

  auto* fileGroup = new QGroupBox(QStringLiteral(" Nome do Banco de Dados "), this);
  frArquivo_ = new QLineEdit(fileGroup);
  frArquivo_->setObjectName("frArquivo");
  frArquivo_->setMinimumWidth(360);
  auto* browse = new QToolButton(fileGroup);
  browse->setObjectName("BotaoProcurar");
  browse->setText(QStringLiteral("..."));
  connect(browse, &QToolButton::clicked, this, &TFormServer_Config::Browse);
  auto* fileRow = new QHBoxLayout(fileGroup);
  fileRow->addWidget(frArquivo_, 1);
  fileRow->addWidget(browse);

  auto* portGroup = new QGroupBox(QStringLiteral(" Porta de comunicação entre os módulos do Quelvar "), this);
  frPorta_ = new QLineEdit(portGroup);
  frPorta_->setObjectName("frPorta");
  // Holds what the operator types; the configured text is set past it.
  frPorta_->setValidator(new QIntValidator(kLowestPort, kHighestPort, frPorta_));
  frPorta_->setMinimumWidth(80);
  auto* portRow = new QHBoxLayout(portGroup);
  portRow->addWidget(frPorta_);
  portRow->addStretch(1);

  auto* ok = new QPushButton(QStringLiteral("Gravar"), this);
  ok->setObjectName("BotaoOK");
  ok->setToolTip(QStringLiteral("Grava informações no banco de dados."));
  ok->setAutoDefault(false);
  connect(ok, &QPushButton::clicked, this, &TFormServer_Config::BotaoOKClick);
  auto* close = new QPushButton(QStringLiteral("Fechar"), this);
  close->setObjectName("BotaoFechar");
  close->setAutoDefault(false);
  connect(close, &QPushButton::clicked, this, &TFormServer_Config::BotaoFecharClick);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(close);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(fileGroup);
  layout->addWidget(portGroup);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  for (QWidget* field : {static_cast<QWidget*>(frArquivo_), static_cast<QWidget*>(browse),
                         static_cast<QWidget*>(frPorta_), static_cast<QWidget*>(ok), static_cast<QWidget*>(close)}) {
    field->installEventFilter(this);
  }
}

void TFormServer_Config::showEvent(QShowEvent* event) {
  frArquivo_->setText(QtText(server_.DatabasePath()));
  // The configured port as it is; 0 (no usable port) as an empty field.
  shownPort_ = server_.Port() == 0 ? QString() : QString::number(server_.Port());
  frPorta_->setText(shownPort_);
  QDialog::showEvent(event);
  if (parentWidget() != nullptr && parentWidget()->isVisible() && !parentWidget()->isMinimized()) {
    move(parentWidget()->frameGeometry().center() - rect().center());
  }
}

bool TFormServer_Config::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      focusNextChild();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TFormServer_Config::Browse() {
  // Qt's own dialog, so that its texts are ours, wide enough for the names.
  QFileDialog chooser(this, QStringLiteral("Banco de Dados"), QtText(FolderText(server_.ProgramFolder())),
                      FileDialogFilter(kDatabaseFileFilter));
  chooser.setOption(QFileDialog::DontUseNativeDialog);
  chooser.setFileMode(QFileDialog::ExistingFile);
  chooser.setAcceptMode(QFileDialog::AcceptOpen);
  chooser.setLabelText(QFileDialog::LookIn, QStringLiteral("Examinar:"));
  chooser.setLabelText(QFileDialog::FileName, QStringLiteral("Nome do arquivo:"));
  chooser.setLabelText(QFileDialog::FileType, QStringLiteral("Arquivos do tipo:"));
  chooser.setLabelText(QFileDialog::Accept, QStringLiteral("Abrir"));
  chooser.setLabelText(QFileDialog::Reject, QStringLiteral("Cancelar"));
  chooser.resize(760, 460);
  if (chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty()) {
    frArquivo_->setText(chooser.selectedFiles().front());
  }
}

void TFormServer_Config::BotaoOKClick() {
  const std::string path = frArquivo_->text().toStdString();
  // An untouched field keeps the configured port, whatever it is.
  const bool portChanged = frPorta_->text() != shownPort_;
  const int port = portChanged ? PortFromText(frPorta_->text().trimmed().toStdString()) : server_.Port();
  if (portChanged && (port < kLowestPort || port > kHighestPort)) {
    ShowErrorDialog(this, QtText(kTypedPortMessage));
    return;
  }
  if (!IsServicePort(port)) {
    ShowErrorDialog(this, QtText(kPortInvalidMessage));
    return;
  }
  // A database file that is not there would leave the window looking well
  // while every request fails.
  std::filesystem::path file(path);
  if (file.is_relative()) file = server_.ProgramFolder() / file;
  if (!DatabaseFileExists(file.string())) {
    ShowErrorDialog(this, QtText(kDatabaseMissingMessage));
    return;
  }
  const std::string portText = portChanged ? frPorta_->text().trimmed().toStdString() : std::to_string(port);
  try {
    SaveSettings(server_.ProgramFolder(), path, portText);
  } catch (const std::exception& failure) {
    ShowErrorDialog(this, QString::fromUtf8(failure.what()));
    return;
  }
  server_.SetDatabasePath(path);
  server_.SetPort(port);
  if (!restartListener_()) return;
  accept();
}

void TFormServer_Config::BotaoFecharClick() { reject(); }

}  // namespace quelvar::host
