// Blocks in, files out: each ROM block held back until its repeat has had its chance, then
// merged with it, and matched with its header or data.
#pragma once

#include <memory>
#include <optional>

#include "tape/tape.hpp"

namespace tapewren::tape {

class Assembler {
 public:
  explicit Assembler(FileListener& listener);
  ~Assembler();
  void take(Block&& block);
  void finish();

 private:
  class Files;
  std::unique_ptr<Files> files_;
  std::optional<Block> held_;
};

}  // namespace tapewren::tape
