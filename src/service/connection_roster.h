#pragma once
// Who is connected now, and who was refused lately, for the operator: the
// client addresses with open connections (since when, how many requests they
// have made since then) and the last kKeptRefusals refusals met at the door
// (the reasons below, a request refused with its status, the operator door's
// own refusals). Bounded: an address is held only while it has open
// connections; the refusals are a ring. Thread-safe; a refusal costs one short
// lock, and only refusals pay it.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quelvar::service {

// The reasons the listener gives.
inline constexpr std::string_view kPerAddressRefusal = "conexões demais deste endereço";
inline constexpr std::string_view kEvictedRefusal = "conexão sem cabeçalho encerrada no limite de conexões";
inline constexpr std::string_view kHeaderDeadlineRefusal = "prazo do cabeçalho esgotado";
inline constexpr std::string_view kTlsHandshakeRefusal = "negociação TLS falhou";
inline constexpr std::string_view kCredentialsRefusal = "credenciais recusadas";
inline constexpr std::string_view kEntranceLoginRefusal = "entrada no painel recusada";

class ConnectionRoster {
 public:
  static constexpr std::size_t kKeptRefusals = 50;

  struct Client {
    std::string address;
    std::time_t since = 0;  // the first of its connections open now
    std::size_t open = 0;
    std::uint64_t requests = 0;
  };
  struct Refusal {
    std::time_t when = 0;
    std::string address;
    std::string reason;
  };

  void Opened(const std::string& address, std::time_t now = std::time(nullptr));
  void Closed(const std::string& address);
  void Requested(const std::string& address);
  void Refused(const std::string& address, std::string reason, std::time_t now = std::time(nullptr));

  // The connected clients, longest connected first.
  std::vector<Client> Clients() const;
  // The kept refusals, newest first.
  std::vector<Refusal> Refusals() const;

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::string, Client> clients_;
  std::deque<Refusal> refusals_;
};

}  // namespace quelvar::service
