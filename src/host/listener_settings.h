#pragma once
// The listener's keys of Config1.ini (section INDICE), beside the database
// path and the port: who may connect, where, over TLS or not, and the limits
// that hold against hostile clients. Every key is optional; an absent, empty
// or unreadable value keeps the default of service::ListenerOptions.
//
//   Usuario, Senha            the Basic credentials every request must carry
//   Endereco                  the local IP address to listen on (default: all)
//   PortaTLS                  a second port speaking HTTP over TLS (default: none)
//   CertificadoTLS, ChaveTLS  its PEM certificate chain and private key; a
//                             relative path is taken from the program folder
//   MemoriaCorposMiB          request bodies held in memory at once, MiB (1024)
//   ConexoesMaximas           connections served at once (4096)
//   ConexoesPorEndereco       connections from one client address at once (256)
//   FalhasLogin               failed logins a minute from one address before
//                             each further refusal waits (20)
//   PrazoCabecalhoMs          request line and headers must arrive within this
//                             time of the connection, ms (60000)
//   OciosoMs                  silence that ends a connection, ms (120000)
//   CarenciaCorpoMs           time before the minimum body rate applies, ms (60000)
//   TaxaMinimaCorpo           minimum average body rate, bytes/s (1024; 0: none)

#include <filesystem>
#include <string_view>

#include "host/settings.h"
#include "service/listener_options.h"

namespace quelvar::host {

inline constexpr std::string_view kUserKey = "Usuario";
inline constexpr std::string_view kPasswordKey = "Senha";
inline constexpr std::string_view kAddressKey = "Endereco";
inline constexpr std::string_view kTlsPortKey = "PortaTLS";
inline constexpr std::string_view kTlsCertificateKey = "CertificadoTLS";
inline constexpr std::string_view kTlsKeyKey = "ChaveTLS";
inline constexpr std::string_view kBodyMemoryKey = "MemoriaCorposMiB";
inline constexpr std::string_view kMaxConnectionsKey = "ConexoesMaximas";
inline constexpr std::string_view kPerAddressKey = "ConexoesPorEndereco";
inline constexpr std::string_view kLoginFailuresKey = "FalhasLogin";
inline constexpr std::string_view kHeaderDeadlineKey = "PrazoCabecalhoMs";
inline constexpr std::string_view kIdleKey = "OciosoMs";
inline constexpr std::string_view kBodyGraceKey = "CarenciaCorpoMs";
inline constexpr std::string_view kBodyRateKey = "TaxaMinimaCorpo";

// The listener's options from the keys of `ini`.
service::ListenerOptions ListenerOptionsFrom(const IniFile& ini, const std::filesystem::path& programFolder);

// The same from Config1.ini in the program folder; the defaults when the file
// does not exist. Throws std::runtime_error when it exists but cannot be read.
service::ListenerOptions LoadListenerOptions(const std::filesystem::path& programFolder);

}  // namespace quelvar::host
