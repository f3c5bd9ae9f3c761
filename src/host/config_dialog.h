#pragma once
// `TFormServer_Config`, the configuration dialog: the database file
// (`frArquivo`, with a browse button whose file chooser speaks Portuguese)
// and the port (`frPorta`: what the operator types is held to 1-65535, and
// no digit of a port is ever dropped). The port field shows the configured
// port as it is (an unusable port 0 shows an empty field), and confirming the
// dialog keeps that port unless the operator changed the field.
// Created for one showing and destroyed when it closes; modal, centred on its
// parent, no buttons in the title bar.
//
// `BotaoOK` refuses a database file that does not exist (the start-up's
// message; the dialog stays open), else writes both values into Config1.ini, sets them as `vLocalDB` and
// `vPorta`, restarts the listener through the `restartListener` action given
// at construction, and closes. A failure to write the file shows the error
// and changes nothing; a failed restart (already shown to the operator by
// the action) keeps the dialog open so that the port can be corrected.
// `BotaoFechar` and Esc close without saving. Enter moves the focus to the
// next field, as Tab does.

#include <QDialog>

#include <functional>
#include <string>
#include <string_view>

class QLineEdit;

namespace quelvar::host {

class ServerControl;

// The browse dialog's filter: pairs of description and pattern.
inline constexpr std::string_view kDatabaseFileFilter = "Banco de Dados|*.db3|Todos os Arquivos (*.*)|*.*";

// A "description|pattern|description|pattern" filter in the form the file
// dialog takes: "description (pattern)" entries separated by ";;"; a
// description that already ends in "(pattern)" is kept as it is.
QString FileDialogFilter(std::string_view pairs);

class TFormServer_Config final : public QDialog {
  Q_OBJECT

 public:
  TFormServer_Config(ServerControl& server, std::function<bool()> restartListener, QWidget* parent = nullptr);

 public slots:
  void BotaoOKClick();
  void BotaoFecharClick();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Browse();

  ServerControl& server_;
  std::function<bool()> restartListener_;
  QLineEdit* frArquivo_ = nullptr;
  QLineEdit* frPorta_ = nullptr;
  QString shownPort_;  // the text the port field opened with
};

}  // namespace quelvar::host
