// The loader listing (--loaders) and the choice of loaders for a run, from the registered
// loaders' own descriptors.
#include "loaders.hpp"

#include <algorithm>
#include <array>
#include <cctype>

#include "tape/tape.hpp"

namespace tapewren::scan {

namespace {

std::string machines_text(unsigned machines) {
  std::string out;
  for (int m = 0; m < 3; ++m)
    if (tape::runs_on(machines, m))
      out += (out.empty() ? "" : ", ") + std::string(tape::machine_text(m));
  return out;
}

// What stands behind its files' verdicts.
std::string checks_text(const tape::LoaderInfo& l) {
  if (l.checksum) {
    const std::string sum = *l.check ? l.check : l.sum_adds ? "sum" : "XOR";
    return l.copies ? sum + ", every block twice" : sum;
  }
  return l.boot_code ? "boot code, structure" : "structure only";
}

std::string checked_text(const tape::LoaderInfo& l) {
  std::string out;
  if (l.peers & tape::kTapClean) out += std::string("TAPClean ") + tape::kTapCleanCommit;
  if (l.peers & tape::kWavPrg)
    out += (out.empty() ? "" : ", ") + std::string("WAV-PRG ") + tape::kWavPrgCommit;
  if (*l.recordings) out += (out.empty() ? "" : "; ") + std::string(l.recordings);
  return out.empty() ? "-" : out;
}

std::string folded(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The loaders named in a list separated by commas; false with `error` set for a name that is
// none of them.
bool named(const std::string& list, std::vector<std::string>& out, std::string& error) {
  std::size_t at = 0;
  while (at <= list.size()) {
    const std::size_t comma = std::min(list.find(',', at), list.size());
    std::string name = list.substr(at, comma - at);
    while (!name.empty() && name.front() == ' ') name.erase(name.begin());
    while (!name.empty() && name.back() == ' ') name.pop_back();
    at = comma + 1;
    if (name.empty()) continue;
    const auto loaders = tape::registered_loaders();
    const auto it = std::find_if(loaders.begin(), loaders.end(), [&](const tape::LoaderInfo* l) {
      return folded(l->name) == folded(name);
    });
    if (it == loaders.end()) {
      error = "no loader is called \"" + name + "\" (--loaders lists them)";
      return false;
    }
    out.emplace_back((*it)->name);
  }
  return true;
}

}  // namespace

std::string loaders_listing() {
  std::vector<std::array<std::string, 6>> rows = {
      {"loader", "machines", "encoding", "checks", "checked against", "what it is"}};
  for (const tape::LoaderInfo* l : tape::registered_loaders())
    rows.push_back({l->name, machines_text(l->machines), l->encoding, checks_text(*l),
                    checked_text(*l), l->description});
  std::array<std::size_t, 6> width{};
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
  std::string out;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c + 1 < row.size(); ++c)
      line += row[c] + std::string(width[c] - row[c].size() + 2, ' ');
    out += line + row.back() + "\n";
  }
  return out;
}

std::vector<std::string> choose_loaders(const std::string& only, const std::string& without,
                                        std::string& error) {
  std::vector<std::string> chosen, left_out;
  if (!named(only, chosen, error) || !named(without, left_out, error)) return {};
  if (chosen.empty() && left_out.empty()) return {};
  if (chosen.empty())
    for (const tape::LoaderInfo* l : tape::registered_loaders()) chosen.emplace_back(l->name);
  std::erase_if(chosen, [&](const std::string& name) {
    return std::find(left_out.begin(), left_out.end(), name) != left_out.end();
  });
  if (chosen.empty()) error = "--only and --without leave no loader to run";
  return chosen;
}

}  // namespace tapewren::scan
