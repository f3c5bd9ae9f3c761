#include "service/tls_context.h"

#include <openssl/ssl.h>

#include "service/listener_error.h"

namespace quelvar::service {

namespace {

constexpr const char* kTls12Suites =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

}  // namespace

std::shared_ptr<boost::asio::ssl::context> MakeServerTlsContext(const std::string& certificateFile,
                                                                const std::string& privateKeyFile) {
  namespace ssl = boost::asio::ssl;
  auto context = std::make_shared<ssl::context>(ssl::context::tls_server);
  context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                       ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
  // TLS 1.2 only with forward-secret key exchange and authenticated
  // encryption (no static-RSA key exchange, no CBC); TLS 1.3 with its own suites.
  ::SSL_CTX_set_options(context->native_handle(), SSL_OP_CIPHER_SERVER_PREFERENCE);
  if (::SSL_CTX_set_cipher_list(context->native_handle(), kTls12Suites) != 1) {
    throw ListenerError("TLS: the cipher suites cannot be set");
  }
  boost::system::error_code ec;
  context->use_certificate_chain_file(certificateFile, ec);
  if (ec) throw ListenerError("TLS certificate " + certificateFile + ": " + ec.message());
  context->use_private_key_file(privateKeyFile, ssl::context::pem, ec);
  if (ec) throw ListenerError("TLS private key " + privateKeyFile + ": " + ec.message());
  if (::SSL_CTX_check_private_key(context->native_handle()) != 1) {
    throw ListenerError("TLS private key " + privateKeyFile + " does not match the certificate " + certificateFile);
  }
  return context;
}

}  // namespace quelvar::service
