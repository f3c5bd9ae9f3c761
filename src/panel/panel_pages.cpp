// The answers of the panel's pages: what each page shows, as JSON, and the
// operator log's event stream.
#include <cstdlib>

#include "panel/json_writer.h"
#include "panel/panel_door.h"
#include "panel/panel_texts.h"
#include "panel/request_parts.h"
#include "service/service_monitor.h"

namespace quelvar::panel {
namespace {

// How long the event stream waits for a new entry before it ends its answer
// (the browser then asks again at once: the stream stays live).
constexpr std::chrono::milliseconds kStreamWait{10'000};
// Entries sent when a stream starts.
constexpr std::size_t kFirstEntries = 300;

void WriteEntry(JsonWriter& json, const LogEntry& entry) {
  json.BeginObject()
      .Key("n").Integer(static_cast<std::int64_t>(entry.number))
      .Key("quando").Integer(entry.when)
      .Key("nivel").String(entry.level)
      .Key("texto").String(entry.text)
      .EndObject();
}

std::uint64_t NumberOf(const std::optional<std::string>& text) {
  return text ? std::strtoull(text->c_str(), nullptr, 10) : 0;
}

}  // namespace

std::string PanelDoor::StateJson() const {
  JsonWriter json;
  json.BeginObject();
  json.Key("versao").String(sources_.version ? sources_.version() : std::string());
  json.Key("inicio").Integer(started_);
  json.Key("agora").Integer(std::time(nullptr));
  json.Key("rotuloContador").String(kCounterLabel);
  json.Key("contador").Integer(static_cast<std::int32_t>(static_cast<std::uint32_t>(log_.Modules())));
  json.Key("conexoes").Integer(
      static_cast<std::int64_t>(sources_.openConnections ? sources_.openConnections() : 0));
  const std::string database = sources_.databasePath ? *sources_.databasePath->get() : std::string();
  json.Key("banco").String(database);
  const std::uint64_t total = service::DatabaseBytes(database);
  const std::uint64_t wal = service::DatabaseBytes(database + "-wal");
  json.Key("bytesBanco").Integer(static_cast<std::int64_t>(total - std::min(total, wal)));
  json.Key("bytesLog").Integer(static_cast<std::int64_t>(wal));
  if (const auto integrity = sources_.lastIntegrity ? sources_.lastIntegrity() : std::nullopt) {
    json.Key("integridade").BeginObject().Key("ok").Bool(integrity->ok).Key("quando").Integer(integrity->when).EndObject();
  } else {
    json.Key("integridade").Null();
  }
  // Every file of the folder counts here, whatever made it.
  if (const auto age = service::NewestFileAgeSeconds(tools_.BackupFolder(), service::BackupKind::Manual, {})) {
    json.Key("idadeBackup").Number(*age);
  } else {
    json.Key("idadeBackup").Null();
  }
  json.Key("replicas").BeginArray();
  if (sources_.replicas) {
    for (const ReplicaLine& replica : sources_.replicas()) {
      json.BeginObject().Key("nome").String(replica.name).Key("estado").String(replica.state).EndObject();
    }
  }
  json.EndArray();
  json.Key("semReplica").String(kNoReplica);
  json.Key("minutos").BeginArray();
  for (const MinuteFigures& minute : timeline_.LastHour()) {
    json.BeginObject()
        .Key("t").Integer(minute.minute * 60)
        .Key("pedidos").Integer(static_cast<std::int64_t>(minute.requests))
        .Key("mediaMs").Number(minute.averageMs)
        .Key("maiorMs").Number(minute.longestMs)
        .EndObject();
  }
  json.EndArray();
  json.EndObject();
  return json.Text();
}

std::string PanelDoor::BackupsJson() const {
  JsonWriter json;
  json.BeginObject().Key("pasta").String(tools_.BackupFolder().string()).Key("arquivos").BeginArray();
  for (const BackupFile& file : tools_.Backups()) {
    json.BeginObject()
        .Key("nome").String(file.name)
        .Key("bytes").Integer(static_cast<std::int64_t>(file.bytes))
        .Key("quando").Integer(file.modified)
        .EndObject();
  }
  json.EndArray().Key("agenda").BeginArray();
  if (sources_.readSettings) {
    for (const SettingField& setting : sources_.readSettings()) {
      if (setting.key.rfind("BackupAutomatico", 0) != 0) continue;
      json.BeginObject().Key("chave").String(setting.key).Key("valor").String(setting.value).EndObject();
    }
  }
  json.EndArray().EndObject();
  return json.Text();
}

std::string PanelDoor::LogJson(std::uint64_t after) const {
  JsonWriter json;
  json.BeginArray();
  for (const LogEntry& entry : log_.After(after)) WriteEntry(json, entry);
  json.EndArray();
  return json.Text();
}

std::string PanelDoor::LogStream(const service::HttpRequest& request) {
  // The browser resumes after the last entry it received.
  std::uint64_t after = NumberOf(SingleHeader(request, "Last-Event-ID"));
  if (after == 0) {
    const auto query = FormFields(request.query);
    const auto found = query.find("depois");
    if (found != query.end()) after = NumberOf(found->second);
  }
  std::vector<LogEntry> entries = log_.After(after);
  if (entries.empty() && log_.WaitAfter(after, kStreamWait)) entries = log_.After(after);
  if (entries.size() > kFirstEntries) entries.erase(entries.begin(), entries.end() - kFirstEntries);
  std::string body = "retry: 500\n\n";
  for (const LogEntry& entry : entries) {
    JsonWriter json;
    WriteEntry(json, entry);
    body += "id: " + std::to_string(entry.number) + "\nevent: entrada\ndata: " + json.Text() + "\n\n";
  }
  return body;
}

namespace {

// What the page names as restarted by a change ("" when nothing is).
std::string_view RestartedPart(Restarts restarts) {
  switch (restarts) {
    case Restarts::Listener: return kRestartsListener;
    case Restarts::Replication: return kRestartsReplication;
    case Restarts::Nothing: break;
  }
  return {};
}

}  // namespace

std::string PanelDoor::SettingsJson() const {
  JsonWriter json;
  json.BeginArray();
  if (sources_.readSettings) {
    for (const SettingField& setting : sources_.readSettings()) {
      json.BeginObject()
          .Key("chave").String(setting.key)
          .Key("valor").String(setting.value)
          .Key("reinicia").String(RestartedPart(setting.restarts))
          .EndObject();
    }
  }
  json.EndArray();
  return json.Text();
}

std::string PanelDoor::ConnectionsJson() const {
  JsonWriter json;
  json.BeginObject();
  json.Key("abertas").Integer(static_cast<std::int64_t>(sources_.openConnections ? sources_.openConnections() : 0));
  json.Key("clientes");
  if (sources_.roster != nullptr) {
    json.BeginArray();
    for (const auto& client : sources_.roster->Clients()) {
      json.BeginObject()
          .Key("endereco").String(client.address)
          .Key("desde").Integer(client.since)
          .Key("pedidos").Integer(static_cast<std::int64_t>(client.requests))
          .EndObject();
    }
    json.EndArray();
  } else {
    json.Null();
  }
  json.Key("recusas");
  if (sources_.roster != nullptr) {
    json.BeginArray();
    for (const auto& refusal : sources_.roster->Refusals()) {
      json.BeginObject()
          .Key("quando").Integer(refusal.when)
          .Key("endereco").String(refusal.address)
          .Key("motivo").String(refusal.reason)
          .EndObject();
    }
    json.EndArray();
  } else {
    json.Null();
  }
  json.EndObject();
  return json.Text();
}

}  // namespace quelvar::panel
