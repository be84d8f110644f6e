// The capture loop against a scripted port, an in-memory dump file and a scripted keyboard.
#include "capture/capture_loop.hpp"

#include <gtest/gtest.h>

#include "fakes.hpp"

namespace tapewren::testing {
namespace {

const Bytes kAck = bytes("OK\r\n");
const Bytes kEndOk = bytes("OK!\r\n> ");
const Bytes kEndKo = bytes("KO!\r\n> ");

class CaptureLoopTest : public ::testing::Test {
 protected:
  // Scripts reads; past the script every read fails, which ends the loop.
  void reads(std::initializer_list<Bytes> chunks) {
    for (const auto& c : chunks) port.script.push_back({c, true});
  }
  int run() {
    CaptureIo io{port, file, keyboard, interrupts, console, observer};
    return run_capture_loop(io, "PORT", "out.dmp", state);
  }

  FakePort port;
  FakeFile file;
  FakeKeyboard keyboard;
  FakeInterrupts interrupts;
  FakeConsole console;
  RecordingObserver observer;
  CaptureState state;
};

TEST_F(CaptureLoopTest, WholeRecordingIsStoredCountedAndFedInOrder) {
  const Bytes a = data(64), b = data(64, 0x80), c = data(30, 0x40);
  reads({kAck, a, {}, b, c, kEndOk});
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(file.content, a + b + c);
  EXPECT_EQ(state.byte_total, 158);
  ASSERT_EQ(observer.fed.size(), 3u);
  EXPECT_EQ(observer.fed[0], a);
  EXPECT_EQ(observer.fed[2], c);
  EXPECT_EQ(console.out_text,
            "Reading from PORT\nIssue SAVE on the host... OK\n"
            "Stop the recording chain with spacebar\nFinished!\n");
  EXPECT_EQ(console.err_text, "");
  EXPECT_TRUE(console.flushed_after("Issue SAVE on the host... "));
  EXPECT_TRUE(console.flushed_after("spacebar\n"));
  EXPECT_TRUE(console.flushed_after("Finished!\n"));
  EXPECT_EQ(port.reads, 6);  // nothing is read after the terminator
  EXPECT_EQ(keyboard.polls, 6);
  EXPECT_EQ(keyboard.enters, 1);
  EXPECT_EQ(keyboard.leaves, 1);
}

TEST_F(CaptureLoopTest, NothingIsStoredBeforeTheAcknowledgementEndsAChunk) {
  // Data before the acknowledgement, and the acknowledgement followed by data in one chunk.
  reads({data(10), kAck + data(6), data(8), kAck, data(4), kEndOk});
  run();
  EXPECT_EQ(file.content, data(4));
  EXPECT_EQ(state.byte_total, 4);
  EXPECT_EQ(state.recording, 1);
}

TEST_F(CaptureLoopTest, AChunkEndingLikeTheAcknowledgementWhileRecordingIsNotStored) {
  reads({kAck, data(20), data(12) + kAck, data(6), kEndOk});
  run();
  EXPECT_EQ(file.content, data(20) + data(6));
  EXPECT_EQ(state.byte_total, 26);
  // The message comes again for the second one.
  const std::string msg = "Stop the recording chain with spacebar\n";
  const auto first = console.out_text.find(msg);
  EXPECT_NE(console.out_text.find(msg, first + 1), std::string::npos);
}

TEST_F(CaptureLoopTest, EndInOneChunkStoresTheBytesInFrontButDoesNotFeedThem) {
  reads({kAck, data(64), data(57, 0x60) + kEndOk});
  run();
  EXPECT_EQ(file.content, data(64) + data(57, 0x60));
  EXPECT_EQ(state.byte_total, 121);
  EXPECT_EQ(observer.fed.size(), 1u);
}

TEST_F(CaptureLoopTest, TerminatorAloneWritesNothing) {
  reads({kAck, data(10), kEndOk});
  run();
  EXPECT_EQ(file.write_calls, 1);
  EXPECT_EQ(state.byte_total, 10);
}

TEST_F(CaptureLoopTest, EndBeforeAnyAcknowledgementStillStoresTheBytesInFront) {
  reads({data(9) + kEndOk});
  run();
  EXPECT_EQ(file.content, data(9));
  EXPECT_EQ(state.byte_total, 9);
  EXPECT_EQ(state.recording, 0);
}

TEST_F(CaptureLoopTest, FailedTrailingWriteIsReportedWithItsSize) {
  reads({kAck, data(57) + kEndOk});
  file.fail_write_number = 1;
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(console.err_text, "Error flushing trailing data (57 bytes) to file out.dmp\n");
  EXPECT_EQ(state.byte_total, 57);  // counted before the write, as every store is
}

TEST_F(CaptureLoopTest, FailureReplyInOneChunkStoresNothingOfIt) {
  reads({kAck, data(8), data(20) + kEndKo});
  run();
  EXPECT_EQ(file.content, data(8));
  EXPECT_EQ(state.byte_total, 8);
  EXPECT_EQ(console.err_text, "Recording error!\n");
  EXPECT_EQ(port.reads, 3);
}

TEST_F(CaptureLoopTest, SplitEndIsCutFromTheFileAndFromTheTotal) {
  const Bytes full = data(60) + bytes("OK!\r");
  reads({kAck, data(64, 0x30), full, bytes("\n> ")});
  run();
  EXPECT_EQ(file.content, data(64, 0x30) + data(60));
  EXPECT_EQ(state.byte_total, 124);  // equals the file's length
  EXPECT_EQ(file.seeks, std::vector<std::int32_t>{124});
  EXPECT_EQ(file.set_end_calls, 1);
  EXPECT_TRUE(console.flushed_after("Finished!!\n"));
  EXPECT_EQ(observer.fed.size(), 2u);  // the full chunk was stored and fed whole
  EXPECT_EQ(port.reads, 4);
}

TEST_F(CaptureLoopTest, SplitEndAtEveryPositionLeavesTheDataBytes) {
  const std::string end = "OK!\r\n> ";
  for (std::size_t split = 1; split < end.size(); ++split) {
    SCOPED_TRACE(split);
    FakePort p;
    FakeFile f;
    FakeKeyboard k;
    CaptureState s;
    RecordingObserver o;
    p.script = {
        {kAck}, {data(64 - split) + bytes(end.substr(0, split))}, {bytes(end.substr(split))}};
    CaptureIo io{p, f, k, interrupts, console, o};
    run_capture_loop(io, "PORT", "out.dmp", s);
    EXPECT_EQ(f.content, data(64 - split));
    EXPECT_EQ(s.byte_total, static_cast<std::int32_t>(64 - split));
  }
}

TEST_F(CaptureLoopTest, SplitFailureReplyLeavesItsFirstPartInTheFile) {
  reads({kAck, data(60) + bytes("KO!\r"), bytes("\n> ")});
  run();
  EXPECT_EQ(file.content, data(60) + bytes("KO!\r"));
  EXPECT_EQ(console.out_text.substr(console.out_text.size() - 18), "Recording error!!\n");
  EXPECT_EQ(console.err_text, "");
  EXPECT_EQ(port.reads, 3);
}

TEST_F(CaptureLoopTest, SplitEndWhileWaitingCannotCutAndSaysSo) {
  reads({data(60) + bytes("OK!\r"), bytes("\n> ")});
  run();
  EXPECT_EQ(console.err_text, "Last file operation failed!\n");
  EXPECT_TRUE(file.content.empty());
  EXPECT_EQ(file.set_end_calls, 0);
  EXPECT_FALSE(console.flushed_at.empty());
  EXPECT_EQ(console.flushed_at.back(), console.out_text.size());
}

TEST_F(CaptureLoopTest, FailedCutKeepsTheTotalAndSaysSo) {
  reads({kAck, data(60) + bytes("OK!\r"), bytes("\n> ")});
  file.set_end_ok = false;
  run();
  EXPECT_EQ(console.err_text, "Last file operation failed!\n");
  EXPECT_EQ(state.byte_total, 64);
}

TEST_F(CaptureLoopTest, SplitAfterAChunkShorterThanFullIsJustData) {
  // The short chunk is compared with the last full chunk, not with the one before it.
  reads({kAck, data(64), data(20) + bytes("OK!\r"), bytes("\n> ")});
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(file.content, data(64) + data(20) + bytes("OK!\r") + bytes("\n> "));
  EXPECT_EQ(console.err_text, "Error reading from PORT\n");  // the loop went on reading
}

TEST_F(CaptureLoopTest, ShortChunkBeforeAnyFullChunkIsNotTakenForASplitEnd) {
  reads({kAck, bytes("\r\n> ")});
  run();
  EXPECT_EQ(file.content, bytes("\r\n> "));
}

TEST_F(CaptureLoopTest, SpacebarSendsOneStopRequestPerPressAndKeepsTheChunk) {
  reads({kAck, data(64), data(64, 0x50), data(64, 0x90), kEndOk});
  keyboard.keys = {-1, ' ', 'x', ' ', -1};
  run();
  ASSERT_EQ(port.writes.size(), 2u);
  EXPECT_EQ(port.writes[0], bytes(" "));
  EXPECT_EQ(port.writes[1], bytes(" "));
  EXPECT_EQ(file.content, data(64) + data(64, 0x50) + data(64, 0x90));
  EXPECT_EQ(observer.fed.size(), 3u);
  EXPECT_EQ(state.byte_total, 192);
  EXPECT_TRUE(console.flushed_after("Request to stop recording sent\n"));
}

TEST_F(CaptureLoopTest, TerminatorInTheSpacebarPassEndsTheLoop) {
  reads({kAck, data(10), kEndOk, data(10)});
  keyboard.keys = {-1, -1, ' '};
  run();
  EXPECT_EQ(port.reads, 3);
  EXPECT_NE(console.out_text.find("Request to stop recording sent\nFinished!\n"),
            std::string::npos);
}

TEST_F(CaptureLoopTest, SpacebarBeforeTheAcknowledgementIsSentAllTheSame) {
  reads({{}, kAck, kEndOk});
  keyboard.keys = {' '};
  run();
  EXPECT_EQ(port.writes, std::vector<Bytes>{bytes(" ")});
}

TEST_F(CaptureLoopTest, ReadFailureKeepsWhatWasStored) {
  reads({kAck, data(64), data(31)});
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(file.content, data(64) + data(31));
  EXPECT_EQ(state.byte_total, 95);
  EXPECT_EQ(console.err_text, "Error reading from PORT\n");
}

TEST_F(CaptureLoopTest, FailedOrShortStoreEndsTheLoopWithTheChunkCounted) {
  for (const bool short_write : {false, true}) {
    SCOPED_TRACE(short_write);
    FakePort p;
    FakeFile f;
    FakeConsole c;
    CaptureState s;
    p.script = {{kAck}, {data(64)}, {data(40)}, {data(64)}, {kEndOk}};
    (short_write ? f.short_write_number : f.fail_write_number) = 2;
    CaptureIo io{p, f, keyboard, interrupts, c, observer};
    run_capture_loop(io, "PORT", "out.dmp", s);
    EXPECT_EQ(c.err_text, "Error writing data to file out.dmp\n");
    EXPECT_EQ(s.byte_total, 104);
    EXPECT_EQ(f.write_calls, 2);
    EXPECT_EQ(p.reads, 3);
  }
  EXPECT_EQ(observer.fed.size(), 2u);  // only the chunks whose write succeeded
}

TEST_F(CaptureLoopTest, OddChunksAreStoredAndFedWhole) {
  reads({kAck, data(63), data(1), kEndOk});
  run();
  EXPECT_EQ(file.content, data(63) + data(1));
  ASSERT_EQ(observer.fed.size(), 2u);
  EXPECT_EQ(observer.fed[0].size(), 63u);
  EXPECT_EQ(observer.fed[1].size(), 1u);
}

TEST_F(CaptureLoopTest, SignalEndsTheLoopAfterThePassWithItsChunkStored) {
  reads({kAck, data(64), data(64, 0x70), kEndOk});
  interrupts.signal_on_check = 3;
  EXPECT_EQ(run(), 2);
  EXPECT_TRUE(interrupts.armed);
  EXPECT_EQ(file.content, data(64) + data(64, 0x70));
  EXPECT_EQ(console.err_text, "Recording interrupted by SIGINT\n");
  EXPECT_EQ(keyboard.leaves, 1);
}

TEST(PollKey, KeepsPrintableCodesAndDropsTheRest) {
  FakeKeyboard k;
  k.keys = {-1, ' ', 'a', 127, 13, 0, 31, 128, 0xE0, 255, 0x148};
  const int expected[] = {0, 32, 97, 127, 0, 0, 0, 0, 0, 0, 72};
  for (int e : expected) EXPECT_EQ(poll_key(k), e);
  EXPECT_TRUE(k.keys.empty());  // one key per call
}

}  // namespace
}  // namespace tapewren::testing
