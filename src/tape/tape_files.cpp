// From blocks to files: each ROM block merged with its repeat the way the machine repairs it
// (a byte that failed in the first copy is taken from the second), headers matched with their
// data, and a verdict for every file.
#include <algorithm>
#include <cctype>
#include <optional>

#include "tape/assembler.hpp"

namespace tapewren::tape {

namespace {

constexpr std::size_t kHeaderPayload = 192;

bool checksum_ok(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return false;
  std::uint8_t x = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i) x ^= bytes[i];
  return x == bytes.back();
}

// A block as its copies make it: payload and checksum byte, and how it was come by.
struct Merged {
  Loader loader = Loader::kRom;
  int id = -1;
  std::vector<std::uint8_t> bytes;
  BlockReport report;
  bool recovered = true, complete = false, sum_ok = false;
  std::uint64_t offset = 0;
  double seconds = 0;
  std::vector<std::uint8_t> payload() const {
    return {bytes.begin(), bytes.end() - (bytes.empty() ? 0 : 1)};
  }
  int type() const { return bytes.empty() ? -1 : bytes[0]; }
};

CopyReport report_of(const Block& b, bool has_checksum) {
  return {true, b.bad_bytes,
          b.bad_bytes == 0 && b.complete && (!has_checksum || checksum_ok(b.bytes)), b.complete};
}

Merged merge(const Block* first, const Block* repeat) {
  const Block& base = first ? *first : *repeat;
  Merged m;
  m.loader = base.loader;
  m.id = base.id;
  m.offset = base.offset;
  m.seconds = base.seconds;
  // Turbo headers carry no checksum; everything else ends with one.
  const bool has_checksum = base.loader == Loader::kRom || base.id == 0;
  const auto size_of = [](const Block* b) { return b ? b->bytes.size() : 0; };
  std::size_t n = std::max(size_of(first), size_of(repeat));
  if (first && first->complete)
    n = first->bytes.size();
  else if (repeat && repeat->complete)
    n = repeat->bytes.size();
  for (std::size_t i = 0; i < n; ++i) {
    const bool in_first = first && i < first->bytes.size() && !first->bad[i];
    const bool in_repeat = repeat && i < repeat->bytes.size() && !repeat->bad[i];
    m.bytes.push_back(in_first ? first->bytes[i] : in_repeat ? repeat->bytes[i] : 0);
    m.report.taken_from_repeat += !in_first && in_repeat;
    m.recovered &= in_first || in_repeat;
  }
  if (first) m.report.copy[0] = report_of(*first, has_checksum);
  if (repeat) m.report.copy[1] = report_of(*repeat, has_checksum);
  m.complete = (first && first->complete) || (repeat && repeat->complete);
  m.sum_ok = m.recovered && m.complete && (!has_checksum || checksum_ok(m.bytes));
  return m;
}

// Worst first: a block cut off, one that does not verify, one that needed its repeat.
Verdict judge(const std::vector<const Merged*>& blocks) {
  Verdict v = Verdict::kOk;
  for (const Merged* m : blocks) {
    if (!m->complete) return Verdict::kIncomplete;
    if (!m->sum_ok) v = Verdict::kBad;
    const bool repaired =
        m->report.taken_from_repeat > 0 || (m->loader == Loader::kRom && !m->report.copy[0].found);
    if (repaired && v == Verdict::kOk) v = Verdict::kRepaired;
  }
  return v;
}

}  // namespace

class Assembler::Files {
 public:
  explicit Files(FileListener& listener) : listener_(listener) {}

  void add(const Merged& m) {
    if (m.loader == Loader::kTurbo) return add_turbo(m);
    const bool header_like = m.bytes.size() == kHeaderPayload + 1 && m.type() >= 1 && m.type() <= 5;
    if (program_ && program_->loader != Loader::kRom) close_program(nullptr);
    if (program_) {
      const std::size_t expected = static_cast<std::uint16_t>(program_->end - program_->start);
      if (!header_like || m.payload().size() == expected) return close_program(&m);
      close_program(nullptr);
    }
    if (data_file_ && header_like && m.type() == 2) {
      const auto p = m.payload();
      data_file_->data.insert(data_file_->data.end(), p.begin() + 1, p.end());
      ++data_file_->body_blocks;
      body_.push_back(m);
      return;
    }
    close_data_file();
    if (header_like && (m.type() == 1 || m.type() == 3)) {
      program_ = from_header(m, Kind::kProgram);
      header_ = m;
    } else if (header_like && m.type() == 4) {
      data_file_ = from_header(m, Kind::kDataFile);
      header_ = m;
      body_.clear();
    } else if (!(header_like && m.type() == 5)) {  // the end-of-tape mark is no file
      without_header(m);
    }
  }

  void finish() {
    close_program(nullptr);
    close_data_file();
  }

  void named(const Block& b) {
    TapeFile f;
    f.loader = b.loader;
    f.kind = Kind::kNamed;
    f.verdict = Verdict::kNamed;
    std::copy_n(b.bytes.begin(), 16, f.name.begin());
    f.offset = b.offset;
    f.seconds = b.seconds;
    listener_.on_file(f);
  }

 private:
  static TapeFile from_header(const Merged& m, Kind kind) {
    const auto& b = m.bytes;
    TapeFile f;
    f.loader = m.loader;
    f.kind = kind;
    const std::size_t at = m.loader == Loader::kRom ? 1 : 0;  // ROM headers start with the type
    f.type = m.loader == Loader::kRom ? b[0] : m.id;
    f.start = static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
    f.end = static_cast<std::uint16_t>(b[at + 2] | b[at + 3] << 8);
    std::copy_n(b.begin() + static_cast<long>(at + (m.loader == Loader::kRom ? 4 : 5)), 16,
                f.name.begin());
    f.header = m.report;
    f.offset = m.offset;
    f.seconds = m.seconds;
    return f;
  }

  void close_program(const Merged* data) {
    if (!program_) return;
    TapeFile f = std::move(*program_);
    program_.reset();
    if (!data) {
      f.kind = Kind::kHeaderOnly;
      f.verdict = Verdict::kIncomplete;
    } else {
      f.data = data->payload();
      f.body = data->report;
      f.body_blocks = 1;
      f.verdict = judge({&header_, data});
      const bool size_ok = f.data.size() == static_cast<std::uint16_t>(f.end - f.start);
      if (!size_ok && f.verdict != Verdict::kIncomplete) f.verdict = Verdict::kBad;
    }
    listener_.on_file(f);
  }

  void close_data_file() {
    if (!data_file_) return;
    std::vector<const Merged*> blocks = {&header_};
    for (const Merged& m : body_) {
      blocks.push_back(&m);
      for (int c = 0; c < 2; ++c) {
        data_file_->body.copy[c].found |= m.report.copy[c].found;
        data_file_->body.copy[c].bad_bytes += m.report.copy[c].bad_bytes;
      }
      data_file_->body.taken_from_repeat += m.report.taken_from_repeat;
    }
    data_file_->verdict = judge(blocks);
    listener_.on_file(*data_file_);
    data_file_.reset();
  }

  void without_header(const Merged& m) {
    TapeFile f;
    f.loader = m.loader;
    f.kind = Kind::kDataWithoutHeader;
    f.data = m.payload();
    f.body = m.report;
    f.body_blocks = 1;
    f.verdict = Verdict::kIncomplete;
    f.offset = m.offset;
    f.seconds = m.seconds;
    listener_.on_file(f);
  }

  void add_turbo(const Merged& m) {
    close_data_file();
    if (m.id != 0) {  // a header
      close_program(nullptr);
      if (m.bytes.size() < 21) return without_header(m);
      program_ = from_header(m, Kind::kProgram);
      header_ = m;
    } else if (program_ && program_->loader == Loader::kTurbo) {
      close_program(&m);
    } else {
      close_program(nullptr);
      without_header(m);
    }
  }

  FileListener& listener_;
  std::optional<TapeFile> program_, data_file_;
  Merged header_;
  std::vector<Merged> body_;
};

Assembler::Assembler(FileListener& listener) : files_(std::make_unique<Files>(listener)) {}
Assembler::~Assembler() = default;

void Assembler::take(Block&& b) {
  if (held_ && b.loader == Loader::kRom && b.copy == 2) {  // the repeat of the block held back
    files_->add(merge(&*held_, &b));
    held_.reset();
    return;
  }
  if (held_) files_->add(merge(&*held_, nullptr));
  held_.reset();
  if (b.loader == Loader::kRom && b.copy == 1) {
    held_ = std::move(b);  // until it is clear whether its repeat follows
  } else if (b.loader == Loader::kRom) {
    files_->add(merge(nullptr, &b));
  } else if (b.loader == Loader::kTurbo) {
    files_->add(merge(&b, nullptr));
  } else {
    files_->finish();
    files_->named(b);
  }
}

void Assembler::finish() {
  if (held_) files_->add(merge(&*held_, nullptr));
  held_.reset();
  files_->finish();
}

void Fingerprint::add(const TapeFile& file) {
  for (std::uint8_t byte : file.data) {
    crc_ ^= byte;
    for (int k = 0; k < 8; ++k) crc_ = (crc_ >> 1) ^ (0xEDB88320u & (0u - (crc_ & 1)));
  }
}

std::string readable_name(const std::array<std::uint8_t, 16>& name) {
  std::string out;
  for (std::uint8_t c : name) {
    if ((c >= 0x20 && c <= 0x5B) || c == 0x5D)
      out += static_cast<char>(c);
    else if (c >= 0xC1 && c <= 0xDA)
      out += static_cast<char>(c - 0xC1 + 'a');  // shifted letters
    else if (c == 0xA0)
      out += ' ';
    else
      out += c == 0x5C ? '#' : c == 0x5E ? '^' : c == 0x5F ? '<' : '?';  // pound, arrows
  }
  return out.erase(out.find_last_not_of(' ') + 1);
}

std::string safe_file_name(const std::array<std::uint8_t, 16>& name) {
  std::string s = readable_name(name);
  for (char& c : s)
    if (std::string("<>:\"/\\|?*").find(c) != std::string::npos) c = '_';
  s.erase(s.find_last_not_of(". ") + 1);  // Windows drops trailing dots and spaces
  if (s.empty()) s = "UNNAMED";
  std::string base = s.substr(0, s.find('.'));
  std::transform(base.begin(), base.end(), base.begin(),
                 [](char c) { return static_cast<char>(std::toupper(c)); });
  base.erase(base.find_last_not_of(' ') + 1);
  static const char* const kReserved[] = {"CON", "PRN", "AUX", "NUL"};
  bool reserved =
      std::find(std::begin(kReserved), std::end(kReserved), base) != std::end(kReserved);
  reserved |= base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) &&
              base[3] >= '0' && base[3] <= '9';
  // A leading '-' reads as an option to every command line tool, a leading '.' hides it.
  reserved |= s[0] == '-' || s[0] == '.';
  return reserved ? "_" + s : s;
}

const char* verdict_text(Verdict verdict) {
  switch (verdict) {
    case Verdict::kOk:
      return "ok";
    case Verdict::kRepaired:
      return "repaired";
    case Verdict::kBad:
      return "bad";
    case Verdict::kIncomplete:
      return "incomplete";
    case Verdict::kNamed:
      return "named only";
  }
  return "";
}

}  // namespace tapewren::tape
