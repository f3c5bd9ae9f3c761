// Saves per second of new materials ("Grava" of DWServerEventsT04_MATE) from
// concurrent clients, each call on a connection of its own as the desktop
// clients make it. Prints figures; asserts nothing. Loopback only.
//
//   material_saves_bench --port P [--clients N] [--seconds S] [--group G]
//
// Every material has a description and a barcode of its own, in group G
// (default 1, which must exist). The last line gives the answered keys so
// that a caller can compare them with the database.

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/event_answer.h"
#include "client/event_argument.h"
#include "client/event_request.h"
#include "client/table_file.h"
#include "data/mem_table.h"
#include "formats/text_codec.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace quelvar;
using namespace quelvar::client;

struct Settings {
  ServerAddress server;
  int clients = 8;
  int seconds = 10;
  int group = 1;
};

struct Outcome {
  long keys = 0;
  long failures = 0;             // answers that were not a key
  long transport = 0;            // calls without an answer
  std::vector<double> latencies; // milliseconds of every answered call
  std::string firstFailure;
};

// The record set of one new material, as the client's rows files make it.
std::string MaterialRecords(const std::string& tag, int group) {
  const std::string rows =
      "T04_NumMaterial:int,T04_Material,T04_Desativado:bool,T04_EstqMinimo:float,T04_EstqIdeal:float,"
      "T04_Peso:float,T04_Unidade,T04_CodBarra,T04_NCM,T04_Obs1,T04_Obs2,T04_NumGrupo:int,T04_UsaLote:bool\n"
      "0,Material " + tag + ",false,1,5,0.5,UN,B" + tag + ",7318.15.00,,," + std::to_string(group) + ",true\n";
  MemTable table;
  ReadRowsText(rows, table);
  return RecordSetText(table);
}

void RunClient(const Settings& settings, int client, Clock::time_point end, Outcome& outcome) {
  for (long i = 0; Clock::now() < end; ++i) {
    const std::string tag = std::to_string(client) + "-" + std::to_string(i);
    const std::vector<ParamField> params = {{"Tabela", StringParamText("Tabela", MaterialRecords(tag, settings.group))}};
    const auto began = Clock::now();
    try {
      const EventAnswer answer =
          ReadEventAnswer(CallEvent(settings.server, "DWServerEventsT04_MATE", "Grava", params), {"Tabela"});
      outcome.latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - began).count());
      std::string key;
      for (const OutputValue& o : answer.outputs)
        if (EqualsIgnoreCase(o.name, "Resposta")) key = o.text;
      if (!answer.failed && !key.empty() && key.find_first_not_of("0123456789") == std::string::npos) {
        ++outcome.keys;
      } else {
        ++outcome.failures;
        if (outcome.firstFailure.empty()) outcome.firstFailure = answer.failed ? answer.failureReason : key;
      }
    } catch (const std::exception& e) {
      ++outcome.transport;
      if (outcome.firstFailure.empty()) outcome.firstFailure = e.what();
    }
  }
}

double Percentile(std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const auto at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(at, sorted.size() - 1)];
}

bool ReadSettings(int argc, char** argv, Settings& s) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (name == "--port") s.server.port = static_cast<std::uint16_t>(value);
    else if (name == "--clients") s.clients = value;
    else if (name == "--seconds") s.seconds = value;
    else if (name == "--group") s.group = value;
    else return false;
  }
  return argc % 2 == 1 && s.clients > 0 && s.seconds > 0 && s.server.port > 0;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (!ReadSettings(argc, argv, settings)) {
    std::fprintf(stderr, "usage: material_saves_bench --port P [--clients N] [--seconds S] [--group G]\n");
    return 2;
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  std::vector<Outcome> outcomes(static_cast<std::size_t>(settings.clients));
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(settings.seconds);
  for (int c = 0; c < settings.clients; ++c)
    threads.emplace_back(RunClient, std::cref(settings), c, end, std::ref(outcomes[static_cast<std::size_t>(c)]));
  for (std::thread& t : threads) t.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  curl_global_cleanup();

  Outcome all;
  for (Outcome& o : outcomes) {
    all.keys += o.keys;
    all.failures += o.failures;
    all.transport += o.transport;
    all.latencies.insert(all.latencies.end(), o.latencies.begin(), o.latencies.end());
    if (all.firstFailure.empty()) all.firstFailure = o.firstFailure;
  }
  std::sort(all.latencies.begin(), all.latencies.end());
  std::printf("clients %d, %.1f s: %ld saves answered a key, %ld other answers, %ld without an answer\n",
              settings.clients, elapsed, all.keys, all.failures, all.transport);
  std::printf("saves/s %.1f; latency ms: median %.1f, p95 %.1f, p99 %.1f, max %.1f\n",
              static_cast<double>(all.keys) / elapsed, Percentile(all.latencies, 0.5),
              Percentile(all.latencies, 0.95), Percentile(all.latencies, 0.99),
              all.latencies.empty() ? 0.0 : all.latencies.back());
  if (!all.firstFailure.empty()) std::printf("first other answer: %s\n", all.firstFailure.c_str());
  std::printf("keys %ld\n", all.keys);
  return 0;
}
