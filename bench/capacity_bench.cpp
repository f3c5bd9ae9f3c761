// How many desktop clients one server carries. N simulated clients each
// repeat a shop clerk's mix of calls (finding materials, lots, entries and
// their items, register lists, saving entries with items and new materials),
// thinking a few seconds between calls, every call on a connection of its own
// as the desktop clients make it. N grows step by step; each step measures the
// reply times of the calls begun in its window, and the run stops at the first
// step whose 95th percentile passes the limit (or that sees failures). Then a
// few steps between the last good and the first bad N narrow it down. Prints
// every step and the largest N served; asserts nothing. Loopback only.
//
//   capacity_bench --port P [--start N] [--max N] [--seconds S] [--think-min MS]
//                  [--think-max MS] [--limit-ms MS] [--materials M] [--entries E]
//                  [--suppliers S]
//
// The database must hold materials 1..M with a lot each (descriptions
// "Material 00001" ...), entries 1..E dated in 2024 and suppliers 1..S.

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
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
  int start = 200;
  int max = 5000;
  int seconds = 8;
  int thinkMin = 2000;
  int thinkMax = 5000;
  int limitMs = 250;
  int materials = 5000;
  int entries = 2000;
  int suppliers = 50;
};

// What a clerk does, and how often (weights out of 100).
enum class Ask { FindMaterials, AllMaterials, Lots, MonthOfEntries, EntryItems, Registers, SaveEntry, SaveMaterial };
struct AskWeight {
  Ask ask;
  int weight;
  const char* name;
};
constexpr AskWeight kMix[] = {
    {Ask::FindMaterials, 30, "find materials"},  {Ask::AllMaterials, 5, "all materials"},
    {Ask::Lots, 15, "lots of a material"},       {Ask::MonthOfEntries, 10, "a month of entries"},
    {Ask::EntryItems, 10, "an entry's items"},   {Ask::Registers, 10, "groups or suppliers"},
    {Ask::SaveEntry, 15, "save an entry"},       {Ask::SaveMaterial, 5, "save a material"},
};

// One call: when it began, and how long it took once it has ended.
struct Call {
  Clock::time_point began;
  std::optional<double> ms;
  Ask ask;
  bool failed = false;
  std::string why;  // of a failure
};

class Calls {
 public:
  std::size_t Begin(Ask ask) {
    std::lock_guard lock(mutex_);
    calls_.push_back({Clock::now(), std::nullopt, ask, false, {}});
    return calls_.size() - 1;
  }
  void End(std::size_t index, bool failed, std::string why) {
    std::lock_guard lock(mutex_);
    Call& call = calls_[index];
    call.ms = std::chrono::duration<double, std::milli>(Clock::now() - call.began).count();
    call.failed = failed;
    call.why = std::move(why);
    ++ended_;
    idle_.notify_all();
  }
  // The calls begun in [from, to), after waiting up to `grace` for the last
  // of them to end; a call still running counts with the time it has taken
  // so far (`running` of them).
  std::vector<Call> Window(Clock::time_point from, Clock::time_point to, std::chrono::milliseconds grace,
                           std::size_t& running) {
    std::unique_lock lock(mutex_);
    auto open = [&] {
      return std::any_of(calls_.begin(), calls_.end(),
                         [&](const Call& c) { return !c.ms && c.began >= from && c.began < to; });
    };
    idle_.wait_for(lock, grace, [&] { return !open(); });
    std::vector<Call> out;
    running = 0;
    const auto now = Clock::now();
    for (const Call& call : calls_) {
      if (call.began < from || call.began >= to) continue;
      out.push_back(call);
      if (!call.ms) {
        out.back().ms = std::chrono::duration<double, std::milli>(now - call.began).count();
        ++running;
      }
    }
    return out;
  }
  // Waits until no call is running.
  void WaitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return ended_ == calls_.size(); });
  }

 private:
  std::mutex mutex_;
  std::condition_variable idle_;
  std::vector<Call> calls_;
  std::size_t ended_ = 0;
};

// The clients that may run: client i runs while i < active.
class Crowd {
 public:
  void SetActive(int n) {
    std::lock_guard lock(mutex_);
    active_ = n;
    changed_.notify_all();
  }
  void Stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }
  // Waits `pause`, and then for as long as client `i` is not active; false once stopped.
  bool Pause(int i, std::chrono::milliseconds pause) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, pause, [&] { return stopped_; });
    changed_.wait(lock, [&] { return stopped_ || i < active_; });
    return !stopped_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int active_ = 0;
  bool stopped_ = false;
};

std::string Records(const std::string& rowsText) {
  MemTable table;
  ReadRowsText(rowsText, table);
  return RecordSetText(table);
}

std::string MaterialName(int number) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Material %05d", number);
  return buf;
}

std::string Flag(std::string_view name, bool value) {
  return ArgumentParamText(ReadEventArgument(std::string(name) + ":bool=" + (value ? "true" : "false")),
                           TObjectDirection::odIN);
}

// The loopback address client `client` calls from.
std::string ClientAddress(int client) {
  return "127.1." + std::to_string(1 + client / 250) + "." + std::to_string(1 + client % 250);
}

// One call of `ask`; false with a reason when the answer is not a sound one.
bool Run(const Settings& settings, Ask ask, int client, long serial, std::mt19937& random, std::string& why) {
  Settings s = settings;
  s.server.localAddress = ClientAddress(client);
  auto pick = [&random](int n) { return std::uniform_int_distribution<int>(1, std::max(1, n))(random); };
  const std::string tag = std::to_string(client) + "-" + std::to_string(serial);
  std::string group, event;
  std::vector<ParamField> params;
  bool save = false;
  switch (ask) {
    case Ask::FindMaterials:  // a fragment of a description: "Material 012" finds ten
      group = "DWServerEventsT04_MATE", event = "Consulta";
      params = {{"Filtro", StringParamText("Filtro", MaterialName(pick(s.materials)).substr(0, 12))},
                {"Desativados", Flag("Desativados", false)}};
      break;
    case Ask::AllMaterials:
      group = "DWServerEventsT04_MATE", event = "Consulta";
      params = {{"Filtro", StringParamText("Filtro", "")}, {"Desativados", Flag("Desativados", false)}};
      break;
    case Ask::Lots:
      group = "DWServerEventsT05_LOTE", event = "Consulta";
      params = {{"Filtro", StringParamText("Filtro", MaterialName(pick(s.materials)))},
                {"Desativados", Flag("Desativados", false)}};
      break;
    case Ask::MonthOfEntries: {
      const int month = pick(12);
      char from[16], to[16];
      std::snprintf(from, sizeof from, "01/%02d/2024", month);
      std::snprintf(to, sizeof to, "28/%02d/2024", month);
      group = "DWServerEventsT12_ENTR", event = "Consulta";
      params = {{"Filtro", StringParamText("Filtro", "")},
                {"Data1", StringParamText("Data1", from)},
                {"Data2", StringParamText("Data2", to)}};
      break;
    }
    case Ask::EntryItems:
      group = "DWServerEventsT12_ENTR", event = "ConsultaDetail";
      params = {{"Filtro", StringParamText("Filtro", std::to_string(pick(s.entries)))}};
      break;
    case Ask::Registers:
      group = pick(2) == 1 ? "DWServerEventsT06_GRUP" : "DWServerEventsT08_FORN", event = "Consulta";
      params = {{"Filtro", StringParamText("Filtro", "")}, {"Desativados", Flag("Desativados", false)}};
      break;
    case Ask::SaveEntry: {
      group = "DWServerEventsT12_ENTR", event = "Grava", save = true;
      const std::string header =
          "T12_NumEntrada:int,T12_NumFornec:int,T12_NumPedido:int,T12_Data:date,T12_NF,T12_Obs1,T12_Obs2\n"
          "0," + std::to_string(pick(s.suppliers)) + ",0,15/0" + std::to_string(pick(9)) + "/2024,NF " + tag + ",,\n";
      std::string items = "T05_Lote,T05_NumMaterial:int,T05_Validade:date,T05_Local,T13_Qtd:float,T13_Valor:float\n";
      for (int item = 1; item <= 3; ++item)
        items += "S" + tag + "/" + std::to_string(item) + "," + std::to_string(pick(s.materials)) + ",,Depósito," +
                 std::to_string(pick(20)) + ",2.5\n";
      params = {{"Tabela", StringParamText("Tabela", Records(header))},
                {"TabelaDet", StringParamText("TabelaDet", Records(items))}};
      break;
    }
    case Ask::SaveMaterial:
      group = "DWServerEventsT04_MATE", event = "Grava", save = true;
      params = {{"Tabela",
                 StringParamText("Tabela",
                                 Records("T04_NumMaterial:int,T04_Material,T04_Desativado:bool,T04_EstqMinimo:float,"
                                         "T04_EstqIdeal:float,T04_Peso:float,T04_Unidade,T04_CodBarra,T04_NCM,"
                                         "T04_Obs1,T04_Obs2,T04_NumGrupo:int,T04_UsaLote:bool\n"
                                         "0,Novo " + tag + ",false,1,5,0.5,UN,N" + tag + ",7318.15.00,,,1,true\n"))}};
      break;
  }
  const HttpAnswer http = CallEvent(s.server, group, event, params);
  if (http.status != 200) {
    why = group + "." + event + ": status " + std::to_string(http.status) + " " + http.reason;
    return false;
  }
  if (!save) {  // a list: a non-empty Tabela, without decoding it
    const auto at = http.body.find("\"TABELA\":\"");
    if (at == std::string::npos || http.body.compare(at + 10, 1, "\"") == 0) {
      why = group + "." + event + ": no result set: " + http.body.substr(0, 200);
      return false;
    }
    return true;
  }
  const EventAnswer answer = ReadEventAnswer(http, {"Tabela"});
  for (const OutputValue& o : answer.outputs) {
    if (!EqualsIgnoreCase(o.name, "Resposta")) continue;
    if (!o.text.empty() && o.text.find_first_not_of("0123456789") == std::string::npos) return true;
    why = group + "." + event + ": " + o.text;
    return false;
  }
  why = group + "." + event + ": no answer";
  return false;
}

void RunClient(const Settings& s, int client, Crowd& crowd, Calls& calls) {
  std::mt19937 random(static_cast<unsigned>(client) * 7919u + 17u);
  std::vector<double> weights;
  for (const AskWeight& w : kMix) weights.push_back(w.weight);
  std::discrete_distribution<std::size_t> choose(weights.begin(), weights.end());
  std::uniform_int_distribution<int> think(s.thinkMin, s.thinkMax);
  // A clerk sits down at some moment of the first think time.
  auto pause = std::chrono::milliseconds(std::uniform_int_distribution<int>(0, s.thinkMax)(random));
  for (long serial = 0; crowd.Pause(client, pause); ++serial) {
    const Ask ask = kMix[choose(random)].ask;
    const std::size_t call = calls.Begin(ask);
    std::string why;
    bool ok = false;
    try {
      ok = Run(s, ask, client, serial, random, why);
    } catch (const std::exception& e) {
      why = e.what();
    }
    calls.End(call, !ok, why);
    pause = std::chrono::milliseconds(think(random));
  }
}

struct Step {
  int clients = 0;
  std::size_t calls = 0;
  std::size_t failures = 0;
  double perSecond = 0;
  double p50 = 0, p95 = 0, p99 = 0, max = 0;
  bool served = false;
};

double At(std::vector<double>& ms, double fraction) {
  if (ms.empty()) return 0;
  const auto k = std::min(ms.size() - 1, static_cast<std::size_t>(fraction * static_cast<double>(ms.size())));
  std::nth_element(ms.begin(), ms.begin() + static_cast<std::ptrdiff_t>(k), ms.end());
  return ms[k];
}

Step Measure(const Settings& s, int clients, Crowd& crowd, Calls& calls, std::vector<std::thread>& threads) {
  while (static_cast<int>(threads.size()) < clients)
    threads.emplace_back(RunClient, std::cref(s), static_cast<int>(threads.size()), std::ref(crowd), std::ref(calls));
  crowd.SetActive(clients);
  std::this_thread::sleep_for(std::chrono::milliseconds(s.thinkMax));  // every new client has begun
  const auto from = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(s.seconds));
  const auto to = Clock::now();
  std::size_t running = 0;
  const std::vector<Call> window = calls.Window(from, to, std::chrono::milliseconds(s.limitMs * 4), running);
  Step step;
  step.clients = clients;
  step.calls = window.size();
  std::vector<double> ms;
  std::map<Ask, std::vector<double>> byAsk;
  std::string firstFailure;
  for (const Call& c : window) {
    ms.push_back(*c.ms);
    byAsk[c.ask].push_back(*c.ms);
    if (c.failed) ++step.failures;
    if (c.failed && firstFailure.empty()) firstFailure = c.why;
  }
  step.perSecond = static_cast<double>(window.size()) / std::chrono::duration<double>(to - from).count();
  step.p50 = At(ms, 0.5);
  step.p95 = At(ms, 0.95);
  step.p99 = At(ms, 0.99);
  step.max = ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end());
  step.served = !ms.empty() && step.p95 <= s.limitMs && step.failures == 0;
  std::printf("%6d clients: %5zu calls (%.1f/s), %zu failed, %zu still running; ms p50 %.1f p95 %.1f p99 %.1f "
              "max %.1f  %s\n",
              clients, step.calls, step.perSecond, step.failures, running, step.p50, step.p95, step.p99, step.max,
              step.served ? "served" : "NOT served");
  std::string kinds = "        p95 by call:";
  for (const AskWeight& w : kMix) {
    auto it = byAsk.find(w.ask);
    if (it == byAsk.end()) continue;
    char buf[96];
    std::snprintf(buf, sizeof buf, " %s %.0f;", w.name, At(it->second, 0.95));
    kinds += buf;
  }
  std::printf("%s\n", kinds.c_str());
  if (!firstFailure.empty()) std::printf("        first failure: %s\n", firstFailure.substr(0, 300).c_str());
  std::fflush(stdout);
  return step;
}

bool ReadSettings(int argc, char** argv, Settings& s) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (name == "--port") s.server.port = static_cast<std::uint16_t>(value);
    else if (name == "--start") s.start = value;
    else if (name == "--max") s.max = value;
    else if (name == "--seconds") s.seconds = value;
    else if (name == "--think-min") s.thinkMin = value;
    else if (name == "--think-max") s.thinkMax = value;
    else if (name == "--limit-ms") s.limitMs = value;
    else if (name == "--materials") s.materials = value;
    else if (name == "--entries") s.entries = value;
    else if (name == "--suppliers") s.suppliers = value;
    else return false;
  }
  return argc % 2 == 1 && s.server.port > 0 && s.start > 0 && s.max >= s.start && s.seconds > 0 &&
         s.thinkMin >= 0 && s.thinkMax >= s.thinkMin && s.limitMs > 0;
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  if (!ReadSettings(argc, argv, s)) {
    std::fprintf(stderr,
                 "usage: capacity_bench --port P [--start N] [--max N] [--seconds S] [--think-min MS] "
                 "[--think-max MS] [--limit-ms MS] [--materials M] [--entries E] [--suppliers S]\n");
    return 2;
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  Crowd crowd;
  Calls calls;
  std::vector<std::thread> threads;
  std::printf("think time %d-%d ms, %d s measured per step, limit p95 %d ms\n", s.thinkMin, s.thinkMax, s.seconds,
              s.limitMs);
  int good = 0, bad = 0;
  // Grow by half each step until a step is not served, then halve the gap three times.
  for (int n = s.start; n <= s.max; n = std::max(n + 1, n * 3 / 2)) {
    if (Measure(s, n, crowd, calls, threads).served) {
      good = n;
    } else {
      bad = n;
      break;
    }
  }
  for (int round = 0; round < 3 && bad > 0 && bad - good > std::max(2, good / 20); ++round) {
    // An overloaded step leaves a backlog behind: let every call end first.
    crowd.SetActive(0);
    calls.WaitIdle();
    const int n = (good + bad) / 2;
    if (Measure(s, n, crowd, calls, threads).served) good = n;
    else bad = n;
  }
  crowd.Stop();
  for (std::thread& t : threads) t.join();
  curl_global_cleanup();
  if (bad == 0)
    std::printf("largest number of clients served: at least %d (the most tried)\n", good);
  else
    std::printf("largest number of clients served: %d (p95 above %d ms or failures at %d)\n", good, s.limitMs, bad);
  return 0;
}
