#pragma once
// Texts the server shows the operator, whether in its window or, without one,
// on the terminal.

#include <string>
#include <string_view>

namespace quelvar::host {

// Shown when the configured database file does not exist ("\r" are line
// breaks; the text ends in two blanks).
inline constexpr std::string_view kDatabaseMissingMessage =
    "Banco de dados não localizado na pasta.\r\rInforme corretamente na tela a seguir  ";

// Shown when `Porta` in Config1.ini is absent, not a number, or outside
// 1-65535 ("\r" are line breaks, as in the message above).
inline constexpr std::string_view kPortInvalidMessage =
    "Porta de comunicação não informada ou inválida no Config1.ini (use um número de 1 a 65535).\r\r"
    "Informe corretamente na tela a seguir  ";

// The request counter's label.
inline constexpr std::string_view kCounterLabel = "Qtd. de acessos ao banco de dados";

// A text with carriage returns shown where only line feeds break lines:
// "\r\n" and a lone "\r" each become "\n".
inline std::string WithLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out.push_back('\n');
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace quelvar::host
