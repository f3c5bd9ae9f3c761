#include "host/server_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <climits>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "data/tdm.h"
#include "host/computer_name.h"
#include "host/config_dialog.h"
#include "host/error_dialog.h"
#include "host/host_texts.h"
#include "host/qt_text.h"
#include "host/qt_console.h"
#include "host/server_control.h"
#include "host/settings.h"
#include "tools/backup.h"
#include "tools/integrity_check.h"

namespace quelvar::host {

TFormServer000::TFormServer000(ServerControl& server, QtOperatorConsole& console, std::function<void()> endProgram,
                               QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      server_(server),
      console_(console),
      endProgram_(std::move(endProgram)) {
  setObjectName("TFormServer000");
  setWindowTitle(QtText(server_.Caption()));
  // A start from elsewhere (the panel's restart after a settings change) runs
  // on another thread: the caption is refreshed on this one.
  server_.SetOnStarted([this] {
    QMetaObject::invokeMethod(this, [this] { setWindowTitle(QtText(server_.Caption())); }, Qt::QueuedConnection);
  });
  BuildWidgets();
  connect(&console_, &QtOperatorConsole::modulesCounted, this, &TFormServer000::AddModules);
  connect(&console_, &QtOperatorConsole::entriesLogged, this, &TFormServer000::AppendEntries);
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
    if (state != Qt::ApplicationActive && isMinimized()) {
      MoveToTray();
    } else if (state == Qt::ApplicationActive && !isMinimized()) {
      trayIcon1_->hide();
    }
  });
}

TFormServer000::~TFormServer000() { server_.SetOnStarted(nullptr); }

void TFormServer000::BuildWidgets() {
  setFixedSize(542, 328);
  const QIcon programIcon = style()->standardIcon(QStyle::SP_DriveNetIcon);
  setWindowIcon(programIcon);

  label1_ = new QLabel(QtText(kCounterLabel), this);
  label1_->setObjectName("Label1");

  frQtdAcessos_ = new QSpinBox(this);
  frQtdAcessos_->setObjectName("frQtdAcessos");
  frQtdAcessos_->setRange(INT_MIN, INT_MAX);
  frQtdAcessos_->setValue(0);
  frQtdAcessos_->setReadOnly(true);
  frQtdAcessos_->setButtonSymbols(QAbstractSpinBox::NoButtons);
  frQtdAcessos_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  frQtdAcessos_->setFocusPolicy(Qt::NoFocus);
  frQtdAcessos_->setMinimumWidth(110);
  label1_->setBuddy(frQtdAcessos_);

  botaoConfig_ = new QToolButton(this);
  botaoConfig_->setObjectName("BotaoConfig");
  botaoConfig_->setAutoRaise(true);  // flat
  botaoConfig_->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
  botaoConfig_->setIconSize(QSize(24, 24));
  botaoConfig_->setToolTip(QStringLiteral("Configuração"));
  connect(botaoConfig_, &QToolButton::clicked, this, &TFormServer000::BotaoConfigClick);

  memo1_ = new QPlainTextEdit(this);
  memo1_->setObjectName("Memo1");
  memo1_->setReadOnly(true);
  memo1_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  memo1_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo1_->setMaximumBlockCount(kLogLineLimit);
  memo1_->viewport()->installEventFilter(this);

  statusBar1_ = new QStatusBar(this);
  statusBar1_->setObjectName("StatusBar1");
  statusBar1_->setSizeGripEnabled(false);
  folderPanel_ = new QLabel(statusBar1_);
  folderPanel_->setObjectName("StatusBar1.Panel0");
  folderPanel_->setMinimumWidth(200);
  computerPanel_ = new QLabel(statusBar1_);
  computerPanel_->setObjectName("StatusBar1.Panel1");
  computerPanel_->setMinimumWidth(120);
  statusBar1_->addWidget(folderPanel_, 1);
  statusBar1_->addPermanentWidget(computerPanel_);

  auto* top = new QHBoxLayout;
  top->addWidget(label1_);
  top->addWidget(frQtdAcessos_);
  top->addStretch(1);
  top->addWidget(botaoConfig_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 0);
  layout->setSpacing(6);
  layout->addLayout(top);
  layout->addWidget(memo1_, 1);
  layout->addWidget(statusBar1_);

  popupMenuFerramentas_ = new QMenu(this);
  popupMenuFerramentas_->setObjectName("PopupMenuFerramentas");
  QAction* check = popupMenuFerramentas_->addAction(QStringLiteral("Verifica Integridade"));
  check->setObjectName("VerificaIntegridade");
  connect(check, &QAction::triggered, this, &TFormServer000::VerificaIntegridadeClick);
  popupMenuFerramentas_->addSeparator();
  QAction* backup = popupMenuFerramentas_->addAction(QStringLiteral("Backup"));
  backup->setObjectName("Backup");
  connect(backup, &QAction::triggered, this, &TFormServer000::BackupClick);
  popupMenuFerramentas_->addSeparator();
  QAction* restore = popupMenuFerramentas_->addAction(QStringLiteral("Restore"));
  restore->setObjectName("Restore");  // no action
  for (QWidget* source : {static_cast<QWidget*>(this), static_cast<QWidget*>(memo1_),
                          static_cast<QWidget*>(frQtdAcessos_)}) {
    source->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(source, &QWidget::customContextMenuRequested, this,
            [this, source](const QPoint& position) { ShowMenu(source, position); });
  }

  trayIcon1_ = new QSystemTrayIcon(programIcon, this);
  trayIcon1_->setObjectName("TrayIcon1");
  trayIcon1_->setToolTip(QString::fromUtf8(kTrayHint));
  connect(trayIcon1_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) {
      TrayIcon1Click();
    } else if (reason == QSystemTrayIcon::DoubleClick) {
      TrayIcon1Click();
      raise();
      activateWindow();
    }
  });
}

void TFormServer000::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!shownOnce_) {
    shownOnce_ = true;
    // After the window is on screen, so that messages appear over it.
    QTimer::singleShot(0, this, &TFormServer000::FormShow);
  }
}

void TFormServer000::FormShow() {
  server_.SetDatabasePath(std::string());
  server_.SetPort(0);
  const std::filesystem::path& folder = server_.ProgramFolder();
  folderPanel_->setText(QtText(FolderText(folder)));
  folderPanel_->setToolTip(folderPanel_->text());
  computerPanel_->setText(QStringLiteral("Nome desse computador: ") + QtText(NomeComputador()));

  StartupSettings settings;
  try {
    settings = ReadStartupSettings(folder);
  } catch (const std::exception& failure) {
    // Without its settings the program cannot serve: it says why and ends,
    // rather than stay without a listener (and, minimised, out of sight).
    if (isMinimized() || !isVisible()) showNormal();
    ShowError(QtText(failure.what()));
    server_.Stop();
    if (endProgram_) endProgram_();
    return;
  }
  server_.SetDatabasePath(settings.values.localDb);
  server_.SetPort(settings.values.port);
  const bool databaseFound = DatabaseFileExists(server_.DatabaseFile());
  if (databaseFound && IsServicePort(settings.values.port)) {
    BotaoOKClick();
    return;
  }
  // A first start has just written the defaults: the dialog shows them for
  // the operator to confirm or correct.
  if (settings.createdDefaults) {
    try {
      settings = ReadStartupSettings(folder);
      server_.SetDatabasePath(settings.values.localDb);
      server_.SetPort(settings.values.port);
    } catch (const std::exception&) {
      // The cleared values stay.
    }
  }
  // Until the listener has started, the caption names the configured port.
  if (IsServicePort(server_.Port())) setWindowTitle(QtText(ServerCaption(kServerVersion, server_.Port())));
  // The operator has to act: bring the window up under the message.
  if (isMinimized() || !isVisible()) showNormal();
  QMessageBox message(QMessageBox::NoIcon, QApplication::applicationName(),
                      DisplayedText(QtText(databaseFound ? kPortInvalidMessage : kDatabaseMissingMessage)),
                      QMessageBox::Ok, this);
  message.setObjectName(databaseFound ? "PortInvalidMessage" : "DatabaseMissingMessage");
  message.exec();
  BotaoConfigClick();
}

bool TFormServer000::BotaoOKClick() {
  try {
    server_.Start();
  } catch (const std::exception& failure) {
    // The window stays in sight, for the operator to correct the settings.
    if (isMinimized() || !isVisible()) showNormal();
    ShowError(QtText(failure.what()));
    return false;
  }
  setWindowTitle(QtText(server_.Caption()));
  if (afterFirstStart_) std::exchange(afterFirstStart_, nullptr)();
  return true;
}

void TFormServer000::BotaoConfigClick() {
  TFormServer_Config dialog(server_, [this] { return BotaoOKClick(); }, this);
  dialog.exec();
}

template <typename Action>
std::optional<std::string> TFormServer000::RunMenuAction(Action action) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  std::string answer;
  try {
    // The module console: its entries and its integrity outcome reach the
    // figures and the panel as a request's do.
    TDM dm(server_.ModuleConsole(), server_.SharedDatabasePath(), server_.ProgramFolder());
    action(dm, answer);
  } catch (const std::exception& failure) {
    QApplication::restoreOverrideCursor();
    ShowError(QtText(failure.what()));
    return std::nullopt;
  }
  QApplication::restoreOverrideCursor();
  return answer;
}

void TFormServer000::VerificaIntegridadeClick() {
  RunMenuAction([](TDM& dm, std::string& answer) { tools::ReordenaBanco(dm, answer); });
}

void TFormServer000::BackupClick() {
  const auto answer =
      RunMenuAction([](TDM& dm, std::string& text) { tools::GeraBackup(dm, kMenuBackupFileName, {}, text); });
  if (!answer) return;
  // Where it wrote, as the event's answer says it (the module is gone by now).
  QMessageBox box(QMessageBox::Information, QApplication::applicationName(), DisplayedText(QtText(*answer)),
                  QMessageBox::Ok, this);
  box.setObjectName("BackupAnswer");
  box.exec();
}

void TFormServer000::Memo1DblClick() { memo1_->clear(); }

void TFormServer000::TrayIcon1Click() {
  showNormal();
  trayIcon1_->hide();
}

void TFormServer000::ShowError(const QString& message) { ShowErrorDialog(this, message); }

void TFormServer000::closeEvent(QCloseEvent* event) {
  server_.Stop();
  event->accept();
  if (endProgram_) endProgram_();
}

void TFormServer000::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized() &&
      QGuiApplication::applicationState() != Qt::ApplicationActive) {
    QTimer::singleShot(0, this, &TFormServer000::MoveToTray);
  }
}

bool TFormServer000::eventFilter(QObject* watched, QEvent* event) {
  if (watched == memo1_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    Memo1DblClick();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TFormServer000::AddModules(int count) {
  // A 32-bit count that wraps around, never reset while the program runs.
  const auto next = static_cast<std::uint32_t>(frQtdAcessos_->value()) + static_cast<std::uint32_t>(count);
  frQtdAcessos_->setValue(static_cast<std::int32_t>(next));
}

void TFormServer000::AppendEntries(const QStringList& entries, const QStringList& times) {
  // Each entry under its time, an empty line before the next.
  for (qsizetype i = 0; i < entries.size(); ++i) {
    if (!memo1_->document()->isEmpty()) memo1_->appendPlainText(QString());
    memo1_->appendPlainText(QLatin1Char('[') + times.value(i) + QLatin1Char(']'));
    memo1_->appendPlainText(DisplayedText(entries[i]));
  }
}

void TFormServer000::ShowMenu(QWidget* source, const QPoint& position) {
  popupMenuFerramentas_->popup(source->mapToGlobal(position));
}

void TFormServer000::MoveToTray() {
  // Without a notification area the window stays minimised where it is, so
  // that the operator can always reach it.
  if (!isMinimized() || !QSystemTrayIcon::isSystemTrayAvailable()) return;
  hide();
  trayIcon1_->show();
}

}  // namespace quelvar::host
