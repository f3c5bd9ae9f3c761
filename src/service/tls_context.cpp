#include "service/tls_context.h"

#include <openssl/ssl.h>

#include "service/listener.h"

namespace quelvar::service {

std::shared_ptr<boost::asio::ssl::context> MakeServerTlsContext(const std::string& certificateFile,
                                                                const std::string& privateKeyFile) {
  namespace ssl = boost::asio::ssl;
  auto context = std::make_shared<ssl::context>(ssl::context::tls_server);
  context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                       ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
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
