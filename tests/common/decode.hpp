// A recording decoded as the tools decode it, every file kept: for the tests of the decoder
// and of what is built on its files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "io/byte_stream.hpp"
#include "recording/recording.hpp"
#include "tape/tape.hpp"

namespace tapewren::testing {

struct Decoded {
  std::vector<tape::TapeFile> files;
  tape::Summary summary;
};

inline Decoded decode(const std::vector<std::uint8_t>& recording,
                      tape::DecoderSettings settings = {}) {
  struct Files : tape::FileListener, std::vector<tape::TapeFile> {
    void on_file(const tape::TapeFile& file) override { push_back(file); }
  } files;
  io::MemorySource source(recording);
  recording::Reader reader(source);
  EXPECT_TRUE(reader.open());
  settings.half_waves |= reader.half_waves();
  tape::Decoder decoder(settings, files);
  auto pulses = std::make_unique<recording::Pulses>();
  while (reader.next(*pulses)) decoder.feed(*pulses);
  decoder.finish();
  // A pause inside a block (a chain that waits for its next block) is counted once.
  const tape::Summary summary = decoder.summary();
  EXPECT_LE(summary.block_seconds + summary.pause_seconds, summary.seconds + 1e-6)
      << "time counted as blocks and as pauses";
  return {files, summary};
}

}  // namespace tapewren::testing
