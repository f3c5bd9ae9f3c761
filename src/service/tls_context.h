#pragma once
// The server side of TLS: a context holding the certificate chain and the
// private key, for the listener's TLS port.

#include <memory>
#include <string>

#include <boost/asio/ssl/context.hpp>

namespace quelvar::service {

// TLS 1.2 or later (TLS 1.2 only with ECDHE key exchange and AES-GCM or
// ChaCha20-Poly1305, the server's order first), the certificate chain and
// key from PEM files. Throws
// ListenerError naming the file when one cannot be read or the key does not
// match the certificate.
std::shared_ptr<boost::asio::ssl::context> MakeServerTlsContext(const std::string& certificateFile,
                                                                const std::string& privateKeyFile);

}  // namespace quelvar::service
