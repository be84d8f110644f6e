// The built-in tape: a few small programs in each of the encodings whose names the recorder
// intercepts, as a user's first recording would hold.
#include "builtin_tape.hpp"

#include "synth/tape_synth.hpp"

namespace tapewren {

namespace {

std::vector<synth::TapeFile> files() {
  using synth::Encoding;
  std::vector<std::uint8_t> program(120);
  for (std::size_t i = 0; i < program.size(); ++i)
    program[i] = static_cast<std::uint8_t>(0x20 + (i * 7) % 90);
  return {
      {Encoding::kStandard, 1, "HELLO WORLD", program, 0x0801},
      {Encoding::kCountdown9, 1, "TURBO INVADERS", program, 0x0801},
      {Encoding::kCountdown12, 2, "TWELVE TO ONE", program, 0x1001},
      {Encoding::kStandard, 3, "ROMEO & JULIET", program, 0x1001},
  };
}

}  // namespace

std::vector<std::uint8_t> builtin_tape() {
  return synth::synthesize(files());
}

std::vector<std::string> builtin_tape_names() {
  std::vector<std::string> names;
  for (const auto& f : files()) names.push_back(f.name);
  return names;
}

}  // namespace tapewren
