#pragma once
// TDM, the service module: one instance per request (and one per operator menu
// action). Creating it counts once on the operator's request counter; it
// carries what the event handlers need from the server around them: the
// operator log, the configured database file, the program folder, and the
// client's greeting and address; and the database connection, statement and
// record sets of the business procedures.
//
// The module is created by the dispatch right before the event runs and freed
// before the reply is written, so nothing a handler leaves in it outlives the
// request.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "data/database.h"
#include "data/mem_table.h"
#include "data/query.h"
#include "formats/text_codec.h"
#include "data/database_path.h"
#include "data/operator_console.h"

namespace quelvar {

// The client as the listener saw it.
struct TClientInfo {
  std::string ip = "0.0.0.0";
  std::string ipVersion = "ipv4";  // "ipv4" or "ipv6"
  std::uint16_t port = 0;
  std::string userAgent = "Undefined";
};

class TDM {
 public:
  // Counts one module on `console` (the request counter).
  TDM(OperatorConsole& console, std::shared_ptr<const DatabasePath> databasePath,
      std::filesystem::path programFolder);
  ~TDM();

  TDM(const TDM&) = delete;
  TDM& operator=(const TDM&) = delete;

  // Appends one entry to the operator log (carriage returns kept).
  void Log(std::string entry) const;
  OperatorConsole& Console() const { return console_; }

  // The configured database file in force now (`vLocalDB`); read each time a
  // connection opens, so a configuration change reaches the next connection.
  std::string DatabaseFile() const;

  // The folder of the running executable.
  const std::filesystem::path& ProgramFolder() const { return programFolder_; }

  // The client's greeting (reserved request name "dwwelcomemessage") and
  // address; no handler of this server reads them.
  std::string WelcomeMessage;
  TClientInfo ClientInfo;

 private:
  OperatorConsole& console_;
  std::shared_ptr<const DatabasePath> databasePath_;
  std::filesystem::path programFolder_;

 public:
  // The module's own connection, taken from the server's pool on first use
  // with the path in force at that moment and given back with the module; its one reusable statement; and
  // the two record sets procedures fill and walk.
  Database Database1{[this] { return DatabaseFile(); }, databasePath_ ? &databasePath_->Connections() : nullptr};
  Query Query1{Database1};
  MemTable MemTable1;
  MemTable MemTable2;
  // The text encoding the query dispatch hands to the result-set writer.
  TEncodeSelect Encoding = TEncodeSelect::esASCII;
};

}  // namespace quelvar
