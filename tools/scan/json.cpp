// JSON text for the reports.
#include "json.hpp"

#include <cmath>
#include <cstdio>

namespace tapewren::scan {

namespace {

// The length of the UTF-8 sequence at s[i], or 0 when it is none.
std::size_t utf8_length(const std::string& s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  const std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
  if (n == 0 || c > 0xF4 || i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  return n;
}

}  // namespace

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    char esc[8];
    const std::size_t n = c >= 0x80 ? utf8_length(text, i) : 0;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else if (n > 0) {
      out.append(text, i, n);
      i += n - 1;
    } else {  // a control code, or a byte that is no UTF-8: as Latin-1
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    }
  }
  return out + "\"";
}

JsonObject& JsonObject::number(const char* key, double value, int decimals) {
  if (!std::isfinite(value)) return raw(key, "null");
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return raw(key, text);
}

JsonObject& JsonObject::raw(const char* key, const std::string& json) {
  body_ += body_.empty() ? "{" : ",";
  body_ += json_string(key);
  body_ += ':';
  body_ += json;
  return *this;
}

}  // namespace tapewren::scan
