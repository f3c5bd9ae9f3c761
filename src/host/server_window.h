#pragma once
// `TFormServer000`, the operator window: the request counter, the operator
// log, the configuration button, the status bar with the program folder and
// the computer's name, the tools menu (integrity check, backup) and the
// notification-area icon that stands for the window while it is minimised.
//
// The window drives the server's start-up (FormShow, once, when it is first
// shown): read Config1.ini (writing the defaults when missing), then start
// the listener when the database file exists, or else tell the operator and
// open the configuration dialog. Closing the window stops the listener and
// ends the program (through the `endProgram` action given at construction).
//
// Child widgets carry their component names as object names (`Label1`,
// `frQtdAcessos`, `BotaoConfig`, `Memo1`, `StatusBar1`, the menu actions
// `VerificaIntegridade`, `Backup`, `Restore`).

#include <QWidget>

#include <functional>
#include <optional>
#include <string>

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QSpinBox;
class QStatusBar;
class QSystemTrayIcon;
class QToolButton;

namespace quelvar::host {

class QtOperatorConsole;
class ServerControl;

// The notification-area icon's hint.
inline constexpr char kTrayHint[] = "Servidor do Quelvar";
// The file name of a backup made from the window's menu.
inline constexpr char kMenuBackupFileName[] = "AvulsoBackup.bkp";
// Longest log kept, in lines; the oldest lines go first beyond it.
inline constexpr int kLogLineLimit = 200000;

class TFormServer000 final : public QWidget {
  Q_OBJECT

 public:
  TFormServer000(ServerControl& server, QtOperatorConsole& console, std::function<void()> endProgram,
                 QWidget* parent = nullptr);
  ~TFormServer000() override;

  // Stops and starts the listener on `vPorta` and updates the caption. On a
  // failure shows the error, leaves the listener stopped and the caption as
  // it was, and answers false.
  bool BotaoOKClick();

  // The error dialog every failure of an operator action ends in.
  void ShowError(const QString& message);

  // Runs `action` once, right after the listener has first started (the
  // database path is set by then).
  void SetAfterFirstStart(std::function<void()> action) { afterFirstStart_ = std::move(action); }

 public slots:
  void FormShow();
  void BotaoConfigClick();
  void VerificaIntegridadeClick();
  void BackupClick();
  void Memo1DblClick();
  void TrayIcon1Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildWidgets();
  void AddModules(int count);
  void AppendEntries(const QStringList& entries, const QStringList& times);
  void ShowMenu(QWidget* source, const QPoint& position);
  void MoveToTray();
  // Runs a menu action on a module of its own; its answer, or nothing after
  // a failure (shown to the operator).
  template <typename Action>
  std::optional<std::string> RunMenuAction(Action action);

  ServerControl& server_;
  QtOperatorConsole& console_;
  std::function<void()> endProgram_;
  bool shownOnce_ = false;
  std::function<void()> afterFirstStart_;

  QLabel* label1_ = nullptr;
  QSpinBox* frQtdAcessos_ = nullptr;
  QToolButton* botaoConfig_ = nullptr;
  QPlainTextEdit* memo1_ = nullptr;
  QStatusBar* statusBar1_ = nullptr;
  QLabel* folderPanel_ = nullptr;
  QLabel* computerPanel_ = nullptr;
  QMenu* popupMenuFerramentas_ = nullptr;
  QSystemTrayIcon* trayIcon1_ = nullptr;
};

}  // namespace quelvar::host
