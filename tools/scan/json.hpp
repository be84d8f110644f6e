// JSON text for the reports: one object per line, built field by field.
#pragma once

#include <cstdint>
#include <string>

namespace tapewren::scan {

// A JSON string: quoted, escaped; bytes that are no UTF-8 taken as Latin-1.
std::string json_string(const std::string& text);

class JsonObject {
 public:
  JsonObject& text(const char* key, const std::string& value) {
    return raw(key, json_string(value));
  }
  JsonObject& integer(const char* key, long long value) { return raw(key, std::to_string(value)); }
  // An integer, or null when below 0 (not known, not there).
  JsonObject& integer_or_null(const char* key, long long value) {
    return raw(key, value < 0 ? "null" : std::to_string(value));
  }
  JsonObject& number(const char* key, double value, int decimals = 6);
  JsonObject& boolean(const char* key, bool value) { return raw(key, value ? "true" : "false"); }
  // The files counted, and by verdict: ok, repaired, bad, incomplete, named only, unverified.
  JsonObject& verdict_counts(int files, const int (&verdicts)[6]) {
    return integer("files", files)
        .integer("ok", verdicts[0])
        .integer("repaired", verdicts[1])
        .integer("bad", verdicts[2])
        .integer("incomplete", verdicts[3])
        .integer("named_only", verdicts[4])
        .integer("unverified", verdicts[5]);
  }
  // A value already in JSON (an object, an array, null).
  JsonObject& raw(const char* key, const std::string& json);
  std::string str() const { return body_.empty() ? "{}" : body_ + "}"; }

 private:
  std::string body_;
};

}  // namespace tapewren::scan
