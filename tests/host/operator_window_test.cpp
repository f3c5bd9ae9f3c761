// The operator window, its configuration dialog and the Qt console, driven
// offscreen: the window runs a real listener on a database made from the
// shipped schema in a temporary program folder.

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "event_client.h"
#include "host/backup_schedule.h"
#include "host/computer_name.h"
#include "host/config_dialog.h"
#include "host/database_bootstrap.h"
#include "host/qt_console.h"
#include "host/server_control.h"
#include "host/server_window.h"
#include "host/settings.h"
#include "host/window_program.h"
#include "raw_http.h"

namespace quelvar::host {
namespace {

using quelvar::test::CallEvent;
using quelvar::test::OutParam;
using quelvar::test::StringParam;

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Owns the pending answers below, so that a test ending before its modal
// window opened leaves none behind for the next test.
QObject& PendingAnswers() {
  static QObject owner;
  return owner;
}

// Answers the next modal window that opens (other than `except`) with
// `answer`, from the event loop that window runs.
void WhenModalOpens(std::function<void(QWidget*)> answer, QWidget* except = nullptr) {
  auto* poll = new QTimer(&PendingAnswers());
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, [poll, answer = std::move(answer), except] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == except || !modal->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    answer(modal);
  });
  poll->start();
}

// Answers the next message box that opens (other than `except`) with OK,
// keeping its text in `text`.
void WhenMessageOpens(QString& text, QWidget* except = nullptr) {
  WhenModalOpens(
      [&text](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box != nullptr);
        text = box->text();
        box->accept();
      },
      except);
}

// A "Sobre" request's status line, or "" when the port does not answer.
std::string SobreStatus(std::uint16_t port) {
  const std::string request = "GET /DWServerEventsFerramentas/Sobre HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                              test::GoodAuthorizationLine() + "\r\n";
  try {
    const auto result = test::Exchange(port, request, std::chrono::seconds(10));
    return result.bytes.substr(0, result.bytes.find("\r\n"));
  } catch (const std::exception&) {
    return {};
  }
}

// A loopback port in 1-9000 that nothing listens on now.
int FreeLowPort() {
  for (int port = 8100 + static_cast<int>(::getpid() % 700); port < 9000; ++port) {
    const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(static_cast<std::uint16_t>(port));
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    if (free) return port;
  }
  return 0;
}

// Holds a loopback port taken for the life of the object.
// A port the system chose (above 9000 on a usual system), free a moment ago.
int FreeHighPort() {
  const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin6_port);
  }
  ::close(fd);
  return port;
}

class TakenPort {
 public:
  TakenPort() : fd_(::socket(AF_INET6, SOCK_STREAM, 0)) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    port_ = FreeLowPort();
    address.sin6_port = htons(static_cast<std::uint16_t>(port_));
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd_, 1) != 0) port_ = 0;
  }
  ~TakenPort() { ::close(fd_); }
  int port() const { return port_; }

 private:
  int fd_;
  int port_ = 0;
};

}  // namespace

class OperatorWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> folder_;
  std::unique_ptr<QtOperatorConsole> console_;
  std::unique_ptr<ServerControl> server_;
  std::unique_ptr<TFormServer000> window_;
  bool programEnded_ = false;

  std::filesystem::path Folder() const { return folder_->path().toStdString(); }
  std::filesystem::path Database() const { return Folder() / "QuelvarDB.db3"; }
  std::filesystem::path ConfigFile() const { return Folder() / "Config1.ini"; }

  // A program folder with a database and a Config1.ini naming it on `port`.
  void PrepareFolder(int port) {
    CreateDatabaseFromSchema(Database());
    SaveSettings(Folder(), Database().string(), std::to_string(port));
  }

  // Creates and shows the window; its first display runs the start-up.
  void ShowWindow() {
    console_ = std::make_unique<QtOperatorConsole>();
    server_ = std::make_unique<ServerControl>(*console_, Folder());
    window_ = std::make_unique<TFormServer000>(*server_, *console_, [this] { programEnded_ = true; });
    window_->showMinimized();
  }

  // Shows the window on a prepared folder and waits until it listens.
  // Port 0 stands for a free port below 9000.
  void StartListening(int port = 0) {
    PrepareFolder(port == 0 ? FreeLowPort() : port);
    ShowWindow();
    QTRY_VERIFY_WITH_TIMEOUT(server_->Listening(), 10000);
  }

  QSpinBox* Counter() const { return window_->findChild<QSpinBox*>("frQtdAcessos"); }
  QPlainTextEdit* Log() const { return window_->findChild<QPlainTextEdit*>("Memo1"); }

  // The entries of the window's log, each without the time line above it;
  // "<bad>" for an entry that does not start with its time.
  QStringList Entries() const {
    static const QRegularExpression kTime(QStringLiteral(R"(^\[\d{2}/\d{2}/\d{4} \d{2}:\d{2}:\d{2}\]\n)"));
    QStringList entries;
    const QString text = Log()->toPlainText();
    if (text.isEmpty()) return entries;
    for (const QString& block : text.split(QStringLiteral("\n\n"))) {
      const auto match = kTime.match(block);
      entries.push_back(match.hasMatch() ? block.mid(match.capturedLength()) : QStringLiteral("<bad>"));
    }
    return entries;
  }

 private slots:
  void init() {
    folder_ = std::make_unique<QTemporaryDir>();
    QVERIFY(folder_->isValid());
    programEnded_ = false;
  }

  void cleanup() {
    qDeleteAll(PendingAnswers().findChildren<QTimer*>(Qt::FindDirectChildrenOnly));
    window_.reset();
    server_.reset();
    console_.reset();
    folder_.reset();
  }

  void windowShowsItsPartsAndStartsTheListener() {
    StartListening();
    QCOMPARE(window_->size(), QSize(542, 328));
    QVERIFY(!(window_->windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(window_->windowTitle(), QString::fromStdString("Servidor do Banco de Dados do Quelvar 1.5 - Porta " +
                                                            std::to_string(server_->BoundPort())));
    QCOMPARE(window_->findChild<QLabel*>("Label1")->text(), QStringLiteral("Qtd. de acessos ao banco de dados"));
    QCOMPARE(window_->findChild<QToolButton*>("BotaoConfig")->toolTip(), QStringLiteral("Configuração"));
    QVERIFY(Log()->isReadOnly());
    QVERIFY(Log()->font().fixedPitch() || QFontInfo(Log()->font()).fixedPitch());
    QCOMPARE(window_->findChild<QLabel*>("StatusBar1.Panel0")->text(), QString::fromStdString(FolderText(Folder())));
    QCOMPARE(window_->findChild<QLabel*>("StatusBar1.Panel1")->text(),
             QStringLiteral("Nome desse computador: ") + QString::fromStdString(NomeComputador()));
    QCOMPARE(SobreStatus(server_->BoundPort()), std::string("HTTP/1.1 200 OK"));
    QTRY_COMPARE(Counter()->value(), 1);
  }

  // The schedule starts once the window has set the database path: its
  // catch-up run at start writes a copy of the configured database.
  void scheduledBackupsStartOnTheConfiguredDatabase() {
    PrepareFolder(FreeLowPort());
    std::ofstream(ConfigFile(), std::ios::app) << "BackupAutomaticoIntervalo=3600\n";
    console_ = std::make_unique<QtOperatorConsole>();
    server_ = std::make_unique<ServerControl>(*console_, Folder());
    window_ = std::make_unique<TFormServer000>(*server_, *console_, [this] { programEnded_ = true; });
    BackupScheduler backups(*server_);
    StartBackupsWithTheListener(*window_, backups, *console_, Folder());
    // Time for a schedule started too early to run before the window is up.
    QTest::qWait(500);
    window_->showMinimized();
    QTRY_VERIFY_WITH_TIMEOUT(Log()->toPlainText().contains(QStringLiteral("gravado ")), 20000);
    QVERIFY2(!Log()->toPlainText().contains(QStringLiteral("-->")), qPrintable(Log()->toPlainText()));
    QCOMPARE(AutomaticBackups(Folder() / "Backup").size(), std::size_t{1});
    backups.Stop();
  }

  // Settings that cannot be read at start: the reason in a message box, then
  // the program ends (never a process without window or listener).
  void unreadableSettingsAtStartShowTheReasonAndEndTheProgram() {
    std::filesystem::create_directory(ConfigFile());  // not a file that can be read
    QString error;
    WhenMessageOpens(error);
    ShowWindow();
    QTRY_VERIFY_WITH_TIMEOUT(programEnded_, 10000);
    QVERIFY2(error.contains(QStringLiteral("Config1.ini")), qPrintable(error));
    QVERIFY(!server_->Listening());
  }

  // What a second copy, or a start that fails before the window, shows.
  void startupMessagesAreShownInABox() {
    QString text;
    WhenMessageOpens(text);
    ShowStartupMessageBox(kAlreadyRunningMessage, false);
    QCOMPARE(text, QStringLiteral("O Servidor do Quelvar já está aberto neste computador.\n\nProcure-o na área de "
                                  "notificação ou na barra de tarefas."));
    WhenMessageOpens(text);
    ShowStartupMessageBox(std::string(kStartupFailureMessage) + "the data folder /x does not exist", true);
    QCOMPARE(text, QStringLiteral("O Servidor do Quelvar não pôde iniciar:\nthe data folder /x does not exist"));
  }

  void counterIsExactAfterManyConcurrentRequests() {
    StartListening();
    const std::uint16_t port = server_->BoundPort();
    constexpr int kThreads = 16;
    constexpr int kEach = 25;
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    // The window's thread waits here without serving events: requests must
    // not depend on it.
    for (int t = 0; t < kThreads; ++t) {
      clients.emplace_back([&] {
        for (int i = 0; i < kEach; ++i) {
          if (SobreStatus(port) == "HTTP/1.1 200 OK") ++answered;
        }
      });
    }
    for (auto& client : clients) client.join();
    QCOMPARE(answered.load(), kThreads * kEach);
    QTRY_COMPARE(Counter()->value(), kThreads * kEach);
    QTest::qWait(50);
    QCOMPARE(Counter()->value(), kThreads * kEach);
  }

  void counterWrapsAsA32BitCount() {
    StartListening();
    QTRY_COMPARE(Counter()->value(), 0);
    Counter()->setValue(2147483647);
    console_->countModule();
    QTRY_COMPARE(Counter()->value(), -2147483647 - 1);
  }

  void logKeepsEntriesWholeAndInOrder() {
    StartListening();
    constexpr int kThreads = 8;
    constexpr int kEach = 100;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
      writers.emplace_back([this, t] {
        for (int i = 0; i < kEach; ++i) {
          console_->log("W" + std::to_string(t) + " --> \r" + std::to_string(i));
        }
      });
    }
    for (auto& writer : writers) writer.join();
    // Each entry: its time, its two lines, and an empty line before the next.
    QTRY_COMPARE(Log()->document()->blockCount(), kThreads * kEach * 4 - 1);
    const QStringList entries = Entries();
    QCOMPARE(entries.size(), kThreads * kEach);
    std::vector<int> next(kThreads, 0);
    for (const QString& entry : entries) {
      // Each entry is its two lines, together, and each writer's entries come in order.
      const QStringList lines = entry.split(QLatin1Char('\n'));
      QCOMPARE(lines.size(), 2);
      QVERIFY2(lines[0].startsWith(QLatin1Char('W')) && lines[0].endsWith(QStringLiteral(" --> ")),
               qPrintable(entry));
      const int writer = lines[0].mid(1, lines[0].indexOf(QLatin1Char(' ')) - 1).toInt();
      QCOMPARE(lines[1], QString::number(next[writer]++));
    }
    for (int count : next) QCOMPARE(count, kEach);
  }

  void failingRequestLogsOneEntrySucceedingOneNone() {
    StartListening();
    const std::uint16_t port = server_->BoundPort();
    QCOMPARE(SobreStatus(port), std::string("HTTP/1.1 200 OK"));
    const auto reply = CallEvent(port, "DWServerEventsFerramentas", "QueryDinamica",
                                 {{"SQL", StringParam("SQL", "Select * From Nada")}, {"Tabela", OutParam("Tabela")}});
    QCOMPARE(reply.status, 200);
    QTRY_COMPARE(Counter()->value(), 2);
    QTRY_COMPARE(Entries(), QStringList{QStringLiteral("QueryDinamica --> \n[SQLite] no such table: Nada")});
  }

  void doubleClickClearsTheLog() {
    StartListening();
    QWidget* viewport = Log()->viewport();
    QTest::mouseDClick(viewport, Qt::LeftButton);  // on an empty log
    QCOMPARE(Log()->toPlainText(), QString());
    console_->log("um");
    console_->log("dois");
    QTRY_COMPARE(Entries(), (QStringList{QStringLiteral("um"), QStringLiteral("dois")}));
    QTest::mouseDClick(viewport, Qt::LeftButton);
    QCOMPARE(Log()->toPlainText(), QString());
    console_->log("tres");
    QTRY_COMPARE(Entries(), QStringList{QStringLiteral("tres")});
    QVERIFY(Log()->toPlainText().startsWith(QLatin1Char('[')));  // on the first line again
  }

  void dialogClosedWithoutSavingChangesNothing_data() {
    QTest::addColumn<bool>("withEscape");
    QTest::newRow("Esc") << true;
    QTest::newRow("BotaoFechar") << false;
  }

  void dialogClosedWithoutSavingChangesNothing() {
    QFETCH(bool, withEscape);
    StartListening();
    const std::string configBefore = ReadFile(ConfigFile());
    const std::uint16_t port = server_->BoundPort();
    const QString caption = window_->windowTitle();
    bool answered = false;
    WhenModalOpens([&](QWidget* modal) {
      auto* dialog = qobject_cast<TFormServer_Config*>(modal);
      QVERIFY(dialog != nullptr);
      QCOMPARE(dialog->windowTitle(), QStringLiteral("Configuração do Módulo Servidor"));
      QCOMPARE(dialog->findChild<QLineEdit*>("frArquivo")->text(), QString::fromStdString(Database().string()));
      dialog->findChild<QLineEdit*>("frArquivo")->setText(QStringLiteral("/nao/existe.db3"));
      dialog->findChild<QLineEdit*>("frPorta")->setText(QStringLiteral("1234"));
      if (withEscape) {
        QTest::keyClick(dialog->findChild<QLineEdit*>("frArquivo"), Qt::Key_Escape);
      } else {
        dialog->findChild<QPushButton*>("BotaoFechar")->click();
      }
      answered = true;
    });
    window_->findChild<QToolButton*>("BotaoConfig")->click();
    QVERIFY(answered);
    QVERIFY(window_->findChild<TFormServer_Config*>() == nullptr);  // destroyed when closed
    QCOMPARE(ReadFile(ConfigFile()), configBefore);
    QVERIFY(server_->Listening());
    QCOMPARE(server_->BoundPort(), port);
    QCOMPARE(server_->DatabasePath(), Database().string());
    QCOMPARE(window_->windowTitle(), caption);
  }

  void dialogOkSavesAndRestartsOnTheNewPort() {
    StartListening();
    const std::uint16_t oldPort = server_->BoundPort();
    const int newPort = FreeLowPort();
    QVERIFY(newPort != 0);
    WhenModalOpens([&](QWidget* modal) {
      auto* dialog = qobject_cast<TFormServer_Config*>(modal);
      QVERIFY(dialog != nullptr);
      QCOMPARE(dialog->findChild<QLineEdit*>("frPorta")->text(), QString::number(oldPort));
      dialog->findChild<QLineEdit*>("frPorta")->setText(QString::number(newPort));
      dialog->findChild<QPushButton*>("BotaoOK")->click();
    });
    window_->findChild<QToolButton*>("BotaoConfig")->click();
    QCOMPARE(window_->windowTitle(),
             QString::fromStdString("Servidor do Banco de Dados do Quelvar 1.5 - Porta " + std::to_string(newPort)));
    const auto ini = IniFile::Load(ConfigFile());
    QCOMPARE(ini.Get(kConfigSection, kPortKey).value_or(""), std::to_string(newPort));
    QCOMPARE(ini.Get(kConfigSection, kDatabaseKey).value_or(""), Database().string());
    QCOMPARE(static_cast<int>(server_->BoundPort()), newPort);
    QCOMPARE(SobreStatus(static_cast<std::uint16_t>(newPort)), std::string("HTTP/1.1 200 OK"));
    QCOMPARE(SobreStatus(oldPort), std::string());
  }

  // The panel restarts the listener from a thread of its own after a
  // settings change: the caption follows the port it now listens on.
  void restartFromAnotherThreadRefreshesTheCaption() {
    StartListening();
    const int newPort = FreeLowPort();
    QVERIFY(newPort != 0 && newPort != server_->BoundPort());
    std::atomic<bool> started{false};
    std::thread restarter([&] {
      server_->SetPort(newPort);
      server_->Start();
      started = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(started.load(), 10000);
    restarter.join();
    QCOMPARE(static_cast<int>(server_->BoundPort()), newPort);
    QTRY_COMPARE_WITH_TIMEOUT(window_->windowTitle(), QString::fromStdString("Servidor do Banco de Dados do Quelvar 1.5 - Porta " +
                                                                             std::to_string(newPort)), 10000);
  }

  void portTheFieldCannotTakeIsShownAndKeptUnlessChanged() {
    const int high = FreeHighPort();  // above the field's 9000
    QVERIFY(high > 9000);
    StartListening(high);
    QString shown;
    WhenModalOpens([&](QWidget* modal) {
      auto* dialog = qobject_cast<TFormServer_Config*>(modal);
      QVERIFY(dialog != nullptr);
      shown = dialog->findChild<QLineEdit*>("frPorta")->text();
      dialog->findChild<QLineEdit*>("frArquivo")->setText(QString::fromStdString(Database().string()));
      dialog->findChild<QPushButton*>("BotaoOK")->click();  // the port field untouched
    });
    window_->findChild<QToolButton*>("BotaoConfig")->click();
    QCOMPARE(shown, QString::number(high));
    QCOMPARE(IniFile::Load(ConfigFile()).Get(kConfigSection, kPortKey).value_or(""), std::to_string(high));
    QVERIFY(server_->Listening());
    QCOMPARE(static_cast<int>(server_->BoundPort()), high);
  }

  void typedPortIsHeldToTheFieldsLimits() {
    StartListening();
    const std::string configBefore = ReadFile(ConfigFile());
    const std::uint16_t port = server_->BoundPort();
    QString afterTyping;
    QString error;
    bool dialogStayedOpen = false;
    WhenModalOpens([&](QWidget* modal) {
      auto* field = modal->findChild<QLineEdit*>("frPorta");
      field->clear();
      QTest::keyClicks(field, QStringLiteral("912345"));
      afterTyping = field->text();
      WhenMessageOpens(error, modal);
      modal->findChild<QPushButton*>("BotaoOK")->click();
      dialogStayedOpen = modal->isVisible();
      qobject_cast<QDialog*>(modal)->reject();
    });
    window_->findChild<QToolButton*>("BotaoConfig")->click();
    QCOMPARE(afterTyping, QStringLiteral("91234"));  // five digits at most
    QCOMPARE(error, QStringLiteral("Porta inválida: informe um número de 1 a 65535."));
    QVERIFY(dialogStayedOpen);
    QCOMPARE(ReadFile(ConfigFile()), configBefore);
    QCOMPARE(server_->BoundPort(), port);
  }

  // A five-digit port typed into the field is saved and used whole.
  void typedFiveDigitPortIsSavedWhole() {
    StartListening();
    const int high = FreeHighPort();
    QVERIFY(high >= 10000);
    QString afterTyping;
    WhenModalOpens([&](QWidget* modal) {
      auto* field = modal->findChild<QLineEdit*>("frPorta");
      field->clear();
      QTest::keyClicks(field, QString::number(high));
      afterTyping = field->text();
      modal->findChild<QPushButton*>("BotaoOK")->click();
    });
    window_->findChild<QToolButton*>("BotaoConfig")->click();
    QCOMPARE(afterTyping, QString::number(high));
    QCOMPARE(IniFile::Load(ConfigFile()).Get(kConfigSection, kPortKey).value_or(""), std::to_string(high));
    QCOMPARE(static_cast<int>(server_->BoundPort()), high);
  }

  // A database file that does not exist is refused with the start-up's
  // message; the dialog stays open and nothing changes.
  void dialogRefusesADatabaseThatDoesNotExist() {
    StartListening();
    const std::string configBefore = ReadFile(ConfigFile());
    QString error;
    bool dialogStayedOpen = false;
    WhenModalOpens([&](QWidget* modal) {
      modal->findChild<QLineEdit*>("frArquivo")->setText(QString::fromStdString((Folder() / "Falta.db3").string()));
      WhenMessageOpens(error, modal);
      modal->findChild<QPushButton*>("BotaoOK")->click();
      dialogStayedOpen = modal->isVisible();
      qobject_cast<QDialog*>(modal)->reject();
    });
    window_->findChild<QToolButton*>("BotaoConfig")->click();
    QCOMPARE(error, QStringLiteral("Banco de dados não localizado na pasta.\n\nInforme corretamente na tela a seguir  "));
    QVERIFY(dialogStayedOpen);
    QCOMPARE(ReadFile(ConfigFile()), configBefore);
    QCOMPARE(server_->DatabasePath(), Database().string());
    QVERIFY(server_->Listening());
  }

  // Before the listener has started, the caption shows the configured port.
  void captionShowsTheConfiguredPortBeforeTheListenerStarts() {
    SaveSettings(Folder(), (Folder() / "Falta.db3").string(), "4321");
    QString caption;
    WhenModalOpens([&](QWidget* box) {
      caption = window_->windowTitle();
      WhenModalOpens([](QWidget* modal) { modal->findChild<QPushButton*>("BotaoFechar")->click(); }, box);
      qobject_cast<QMessageBox*>(box)->accept();
    });
    ShowWindow();
    QTRY_VERIFY_WITH_TIMEOUT(!caption.isEmpty(), 10000);
    QCOMPARE(caption, QStringLiteral("Servidor do Banco de Dados do Quelvar 1.5 - Porta 4321"));
    QVERIFY(!server_->Listening());
  }

  // The browse dialog speaks Portuguese.
  void databaseFileChooserSpeaksPortuguese() {
    StartListening();
    QStringList labels;
    WhenModalOpens([&](QWidget* modal) {
      WhenModalOpens(
          [&](QWidget* chooser) {
            auto* files = qobject_cast<QFileDialog*>(chooser);
            QVERIFY(files != nullptr);
            for (auto label : {QFileDialog::LookIn, QFileDialog::FileName, QFileDialog::FileType,
                               QFileDialog::Accept, QFileDialog::Reject}) {
              labels.push_back(files->labelText(label));
            }
            files->reject();
          },
          modal);
      modal->findChild<QToolButton*>("BotaoProcurar")->click();
      qobject_cast<QDialog*>(modal)->reject();
    });
    window_->findChild<QToolButton*>("BotaoConfig")->click();
    QCOMPARE(labels, (QStringList{QStringLiteral("Examinar:"), QStringLiteral("Nome do arquivo:"),
                                  QStringLiteral("Arquivos do tipo:"), QStringLiteral("Abrir"),
                                  QStringLiteral("Cancelar")}));
  }

  void unusablePortAtStartShowsTheMessageThenTheDialog() {
    CreateDatabaseFromSchema(Database());
    SaveSettings(Folder(), Database().string(), "abc");
    const int port = FreeLowPort();
    QString message;
    QString shownPort = QStringLiteral("not shown");
    WhenModalOpens([&](QWidget* box) {
      message = qobject_cast<QMessageBox*>(box)->text();
      WhenModalOpens(
          [&](QWidget* modal) {
            auto* dialog = qobject_cast<TFormServer_Config*>(modal);
            QVERIFY(dialog != nullptr);
            shownPort = dialog->findChild<QLineEdit*>("frPorta")->text();
            dialog->findChild<QLineEdit*>("frPorta")->setText(QString::number(port));
            dialog->findChild<QPushButton*>("BotaoOK")->click();
          },
          box);
      qobject_cast<QMessageBox*>(box)->accept();
    });
    ShowWindow();
    QTRY_COMPARE_WITH_TIMEOUT(shownPort != QStringLiteral("not shown"), true, 10000);
    QCOMPARE(message, QStringLiteral("Porta de comunicação não informada ou inválida no Config1.ini (use um número de 1 "
                                     "a 65535).\n\nInforme corretamente na tela a seguir  "));
    QCOMPARE(shownPort, QString());
    QVERIFY(server_->Listening());
    QCOMPARE(static_cast<int>(server_->BoundPort()), port);
  }

  void failedRestartShowsTheErrorAndLeavesTheListenerStopped() {
    StartListening();
    const QString caption = window_->windowTitle();
    TakenPort taken;
    QVERIFY(taken.port() != 0);
    QString error;
    bool dialogStayedOpen = false;
    WhenModalOpens([&](QWidget* modal) {
      auto* dialog = qobject_cast<TFormServer_Config*>(modal);
      QVERIFY(dialog != nullptr);
      dialog->findChild<QLineEdit*>("frPorta")->setText(QString::number(taken.port()));
      WhenMessageOpens(error, dialog);
      dialog->findChild<QPushButton*>("BotaoOK")->click();
      dialogStayedOpen = dialog->isVisible();
      dialog->reject();
    });
    window_->findChild<QToolButton*>("BotaoConfig")->click();
    QCOMPARE(error, QStringLiteral("Address already in use"));
    QVERIFY(dialogStayedOpen);
    QVERIFY(!server_->Listening());
    QCOMPARE(window_->windowTitle(), caption);
    // The settings were written before the restart was tried.
    QCOMPARE(IniFile::Load(ConfigFile()).Get(kConfigSection, kPortKey).value_or(""), std::to_string(taken.port()));
  }

  void unwritableSettingsShowTheErrorAndChangeNothing() {
    StartListening();
    const std::uint16_t port = server_->BoundPort();
    std::filesystem::remove(ConfigFile());
    std::filesystem::create_directory(ConfigFile());  // cannot be written as a file
    const std::filesystem::path other = Folder() / "Outro.db3";
    CreateDatabaseFromSchema(other);
    QString error;
    WhenModalOpens([&](QWidget* modal) {
      auto* dialog = qobject_cast<TFormServer_Config*>(modal);
      QVERIFY(dialog != nullptr);
      dialog->findChild<QLineEdit*>("frArquivo")->setText(QString::fromStdString(other.string()));
      dialog->findChild<QLineEdit*>("frPorta")->setText(QStringLiteral("1234"));
      WhenMessageOpens(error, dialog);
      dialog->findChild<QPushButton*>("BotaoOK")->click();
      dialog->reject();
    });
    window_->findChild<QToolButton*>("BotaoConfig")->click();
    QVERIFY2(error.contains(QStringLiteral("Config1.ini")), qPrintable(error));
    QCOMPARE(server_->DatabasePath(), Database().string());
    QCOMPARE(server_->Port(), static_cast<int>(port));
    QVERIFY(server_->Listening());
    QCOMPARE(server_->BoundPort(), port);
  }

  void enterMovesTheFocusToTheNextField() {
    StartListening();
    QString focusedAfterEnter;
    QString focusedAfterSecondEnter;
    WhenModalOpens([&](QWidget* modal) {
      auto* file = modal->findChild<QLineEdit*>("frArquivo");
      file->setFocus();
      QTest::keyClick(file, Qt::Key_Return);
      focusedAfterEnter = QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
      QWidget* focused = QApplication::focusWidget();
      while (focused != nullptr && focused->objectName().isEmpty()) focused = focused->parentWidget();
      focusedAfterSecondEnter = focused ? focused->objectName() : QString();
      QVERIFY(modal->isVisible());  // Enter does not confirm the dialog
      qobject_cast<QDialog*>(modal)->reject();
    });
    window_->findChild<QToolButton*>("BotaoConfig")->click();
    QCOMPARE(focusedAfterEnter, QStringLiteral("BotaoProcurar"));
    QCOMPARE(focusedAfterSecondEnter, QStringLiteral("frPorta"));
  }

  void firstStartWithoutDatabaseShowsTheMessageThenTheDialog_data() {
    QTest::addColumn<bool>("confirm");
    QTest::newRow("dialog confirmed") << true;
    QTest::newRow("dialog closed") << false;
  }

  void firstStartWithoutDatabaseShowsTheMessageThenTheDialog() {
    QFETCH(bool, confirm);
    CreateDatabaseFromSchema(Database());  // present, but Config1.ini does not exist yet
    const int port = FreeLowPort();
    QString message;
    bool configWrittenBeforeMessage = false;
    QString dialogPath = QStringLiteral("not shown");
    QString dialogPort;
    WhenModalOpens([&](QWidget* box) {
      message = qobject_cast<QMessageBox*>(box)->text();
      configWrittenBeforeMessage = std::filesystem::exists(ConfigFile());
      WhenModalOpens(
          [&](QWidget* modal) {
            auto* dialog = qobject_cast<TFormServer_Config*>(modal);
            QVERIFY(dialog != nullptr);
            dialogPath = dialog->findChild<QLineEdit*>("frArquivo")->text();
            dialogPort = dialog->findChild<QLineEdit*>("frPorta")->text();
            if (confirm) {
              dialog->findChild<QLineEdit*>("frArquivo")->setText(QString::fromStdString(Database().string()));
              dialog->findChild<QLineEdit*>("frPorta")->setText(QString::number(port));
              dialog->findChild<QPushButton*>("BotaoOK")->click();
            } else {
              dialog->findChild<QPushButton*>("BotaoFechar")->click();
            }
          },
          box);
      qobject_cast<QMessageBox*>(box)->accept();
    });
    ShowWindow();
    QTRY_COMPARE_WITH_TIMEOUT(dialogPath != QStringLiteral("not shown"), true, 10000);
    QCOMPARE(message, QStringLiteral("Banco de dados não localizado na pasta.\n\nInforme corretamente na tela a seguir  "));
    QVERIFY(configWrittenBeforeMessage);
    // The values just written to Config1.ini, for the operator to confirm or correct.
    QCOMPARE(dialogPath, QString::fromStdString(FolderText(Folder()) + "QuelvarDB.db3"));
    QCOMPARE(dialogPort, QStringLiteral("7780"));
    if (confirm) {
      QVERIFY(server_->Listening());
      QCOMPARE(static_cast<int>(server_->BoundPort()), port);
      QCOMPARE(window_->windowTitle(),
               QString::fromStdString("Servidor do Banco de Dados do Quelvar 1.5 - Porta " + std::to_string(port)));
    } else {
      QVERIFY(!server_->Listening());
      QCOMPARE(window_->windowTitle(), QStringLiteral("Servidor do Banco de Dados do Quelvar 1.5 - Porta 7780"));
      // The defaults written at this start.
      const auto ini = IniFile::Load(ConfigFile());
      QCOMPARE(ini.Get(kConfigSection, kDatabaseKey).value_or(""), FolderText(Folder()) + "QuelvarDB.db3");
      QCOMPARE(ini.Get(kConfigSection, kPortKey).value_or(""), std::string("7780"));
    }
  }

  void menuBackupWritesTheFileAndCountsOneModule() {
    StartListening();
    QTRY_COMPARE(Counter()->value(), 0);
    QString answer;
    WhenMessageOpens(answer);
    window_->findChild<QAction*>("Backup")->trigger();
    // Where it wrote, as the event's answer says it.
    QVERIFY2(answer.startsWith(QStringLiteral("Backup gerado com sucesso.\n\nO nome do backup gerado foi AvulsoBackup.bkp\n"
                                              "No servidor, na pasta ") +
                               QString::fromStdString((Folder() / "Backup").string())),
             qPrintable(answer));
    const auto backup = Folder() / "Backup" / "AvulsoBackup.bkp";
    QVERIFY(std::filesystem::exists(backup));
    QCOMPARE(ReadFile(backup).substr(0, 16), std::string("SQLite format 3\0", 16));
    QTRY_COMPARE(Counter()->value(), 1);
    QCOMPARE(Log()->toPlainText(), QString());
  }

  void menuIntegrityCheckCountsOneModuleAndRestoreDoesNothing() {
    StartListening();
    QVERIFY(!server_->Metrics().LastIntegrity());
    window_->findChild<QAction*>("VerificaIntegridade")->trigger();
    QTRY_COMPARE(Counter()->value(), 1);
    // The outcome is kept where the panel's state page and /metrics read it.
    const auto integrity = server_->Metrics().LastIntegrity();
    QVERIFY(integrity.has_value());
    QVERIFY(integrity->ok);
    window_->findChild<QAction*>("Restore")->trigger();
    QTest::qWait(50);
    QCOMPARE(Counter()->value(), 1);
    QVERIFY(!std::filesystem::exists(Folder() / "Backup"));
    const QList<QAction*> items = window_->findChild<QMenu*>("PopupMenuFerramentas")->actions();
    QStringList captions;
    for (QAction* item : items) captions << (item->isSeparator() ? QStringLiteral("-") : item->text());
    QCOMPARE(captions, (QStringList{"Verifica Integridade", "-", "Backup", "-", "Restore"}));
  }

  void menuActionFailureShowsTheErrorAndTheWindowGoesOn() {
    StartListening();
    std::filesystem::remove(Database());
    server_->SetDatabasePath((Folder() / "sem-pasta" / "x.db3").string());
    QString error;
    WhenMessageOpens(error);
    window_->findChild<QAction*>("Backup")->trigger();
    QVERIFY(!error.isEmpty());
    QTRY_COMPARE(Counter()->value(), 1);
    QVERIFY(server_->Listening());
  }

  void trayIconBringsTheWindowBack() {
    StartListening();
    auto* tray = window_->findChild<QSystemTrayIcon*>("TrayIcon1");
    QVERIFY(tray != nullptr);
    QCOMPARE(tray->toolTip(), QStringLiteral("Servidor do Quelvar"));
    QVERIFY(window_->isMinimized());  // created minimised
    window_->TrayIcon1Click();
    QVERIFY(!window_->isMinimized());
    QVERIFY(window_->isVisible());
    QVERIFY(!tray->isVisible());
  }

  void closingTheWindowStopsTheListenerAndEndsTheProgram() {
    StartListening();
    const std::uint16_t port = server_->BoundPort();
    window_->close();
    QVERIFY(programEnded_);
    QVERIFY(!server_->Listening());
    QCOMPARE(SobreStatus(port), std::string());
  }

  void fileDialogFilterTakesTheDatabaseFiles() {
    QCOMPARE(FileDialogFilter(kDatabaseFileFilter), QStringLiteral("Banco de Dados (*.db3);;Todos os Arquivos (*.*)"));
    QCOMPARE(FileDialogFilter("Textos|*.txt;*.log"), QStringLiteral("Textos (*.txt;*.log)"));
  }
};

}  // namespace quelvar::host

QTEST_MAIN(quelvar::host::OperatorWindowTest)
#include "operator_window_test.moc"
