// The Linux programs as a user runs them: the recorder's table of runs on pseudo-terminals, the
// chain from the simulated device to a TAP file, and the tools' answers to their inputs.
#include "scenarios.hpp"
#include "tape_synth.hpp"

namespace tapewren::e2e {
namespace {

struct LinuxTarget : Target {
  std::vector<std::string> command(const std::vector<std::string>& args) override {
    std::vector<std::string> argv{program("record")};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  std::string port_name(Port port, const DeviceEnd& device, const TempDir& dir) override {
    if (port == Port::kMissing) return dir.path("missing");
    return port == Port::kNotATerminal ? "/dev/null" : device.port();
  }
  Bytes handshake(DeviceEnd& device, Child& recorder, bool acknowledge) override {
    if (acknowledge) return e2e::handshake(device, recorder, "Tapewren ready\r\n");
    device.wait_configured();
    device.send("> ");
    return device.receive(8);
  }
};

class Recorder : public ::testing::TestWithParam<Scenario> {};
TEST_P(Recorder, Run) {
  LinuxTarget target;
  run_scenario(GetParam(), target);
}
INSTANTIATE_TEST_SUITE_P(Linux, Recorder, ::testing::ValuesIn(scenarios()),
                         [](const auto& info) { return std::string(info.param.name); });

std::string tape(const std::string& name) {
  return std::string(TAPEWREN_TAPES_DIR) + "/testtape-" + name + ".tap";
}

struct Outcome {
  int code;
  std::string out, err;
};
Outcome run(const TempDir& dir, const std::string& name, std::vector<std::string> args) {
  args.insert(args.begin(), program(name));
  Child child(args, dir);
  const int code = child.wait_exit();
  return {code, child.out(), child.err()};
}

// A real tape played by the simulator, its name shown live, converted back byte for byte.
TEST(Chain, SimulatorRecorderConverterGiveBackTheTape) {
  TempDir dir;
  Child sim({program("sim"), "--fast", "--play", tape("c64-pal-normal")}, dir);
  const std::string port = sim_port(sim), dump = dir.path("side.dmp");
  Child recorder({program("record"), port, dump}, dir);
  EXPECT_EQ(recorder.wait_exit(), 0);
  EXPECT_EQ(sim.wait_exit(), 0);
  EXPECT_NE(recorder.out().find("Filename intercepted: ROMEO & JULIET\n"), std::string::npos);
  EXPECT_EQ(run(dir, "convert", {dump, dir.path("side.tap")}).code, 0);
  EXPECT_TRUE(read_bytes(dir.path("side.tap")) == read_bytes(tape("c64-pal-normal")));
}

TEST(Scan, NamesWithWhereTheirHeadersEnd) {
  TempDir dir;
  const auto dump = [&](const std::string& file, std::vector<std::string> names) {
    std::vector<synth::TapeFile> files;
    for (std::size_t i = 0; i < names.size(); ++i)
      files.push_back({i % 2 ? synth::Encoding::kCountdown9 : synth::Encoding::kStandard,
                       1,
                       names[i],
                       {1, 2, 3, 4},
                       0x0801});
    write_file(dir.path(file), synth::synthesize(files));
    return dir.path(file);
  };
  const std::string a = dump("a.dmp", {"ALPHA", "BETA"}), b = dump("b.dmp", {"GAMMA"});
  const Outcome both = run(dir, "scan", {a, dir.path("missing"), b});
  EXPECT_EQ(both.code, 1);
  const auto alpha = both.out.find(a + ": Filename intercepted: ALPHA (header ends at byte ");
  EXPECT_LT(alpha, both.out.find(a + ": Filename intercepted: BETA"));
  EXPECT_LT(both.out.find("BETA"), both.out.find(b + ": Filename intercepted: GAMMA"));
  EXPECT_EQ(both.err,
            "tapewren-scan: cannot read " + dir.path("missing") + ": No such file or directory\n");
  // The dump cut where the line says still holds the header; one byte less does not.
  const Outcome one = run(dir, "scan", {b});
  const std::string lead = "Filename intercepted: GAMMA (header ends at byte ";
  ASSERT_EQ(one.out.rfind(lead, 0), 0u) << one.out;
  const long end = std::stol(one.out.substr(lead.size()));
  const Bytes content = read_bytes(b);
  write_file(dir.path("cut"), Bytes(content.begin(), content.begin() + end));
  write_file(dir.path("short"), Bytes(content.begin(), content.begin() + end - 1));
  EXPECT_EQ(run(dir, "scan", {dir.path("cut")}).out, one.out);
  EXPECT_EQ(run(dir, "scan", {dir.path("short")}).out, "");
  EXPECT_EQ(run(dir, "scan", {}).code, 2);
  EXPECT_EQ(run(dir, "scan", {"--bogus"}).code, 2);
}

TEST(Convert, TheOptionsMakeTheTapHeader) {
  TempDir dir;
  write_file(dir.path("in.dmp"), {0x00, 0x03, 0x10, 0x04});
  ASSERT_EQ(
      run(dir, "convert", {"-m", "1", "-v", "1", dir.path("in.dmp"), dir.path("vic.tap")}).code, 0);
  const Bytes vic = read_bytes(dir.path("vic.tap"));
  EXPECT_EQ(std::string(vic.begin(), vic.begin() + 12), "C64-TAPE-RAW");
  EXPECT_EQ((Bytes(vic.begin() + 12, vic.end())), (Bytes{1, 1, 1, 0, 2, 0, 0, 0, 48, 65}));
  ASSERT_EQ(run(dir, "convert", {"-b", "-m", "2", dir.path("in.dmp"), dir.path("c16.tap")}).code,
            0);
  EXPECT_EQ(read_file(dir.path("c16.tap")).substr(0, 13), std::string("C16-TAPE-RAW\x02"));
  ASSERT_EQ(run(dir, "convert", {dir.path("vic.tap"), dir.path("again.dmp")}).code, 0);
  EXPECT_EQ(read_bytes(dir.path("again.dmp")), read_bytes(dir.path("in.dmp")));
}

TEST(Convert, RefusedInputLeavesNoOutputAndNothingIsOverwritten) {
  TempDir dir;
  Bytes cut = bytes("C64-TAPE-RAW"), v7 = read_bytes(tape("c64-pal-turbo"));
  cut.insert(cut.end(), {1, 0, 0, 0, 4, 0, 0, 0, 10, 20, 0, 1});  // ends in a long pulse
  v7[12] = 7;
  write_file(dir.path("odd.dmp"), {1, 2, 3});
  write_file(dir.path("cut.tap"), cut);
  write_file(dir.path("v7.tap"), v7);
  write_file(dir.path("taken"), bytes("keep me"));
  const std::string out = dir.path("out");
  // clang-format off
  const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
      {{dir.path("odd.dmp"), out}, 1, "odd length"},
      {{dir.path("cut.tap"), out}, 1, "the TAP data ends inside a long pulse"},  // found late
      {{dir.path("v7.tap"), out}, 1, "unknown TAP version 7"},
      {{dir.path("missing"), out}, 1, "cannot read"},
      {{tape("c64-pal-turbo"), dir.path("taken")}, 1, "cannot create"},
      {{"-m", "3", "a", out}, 2, "Usage: tapewren-convert"}};
  // clang-format on
  for (const auto& [args, code, message] : cases) {
    const Outcome r = run(dir, "convert", args);
    EXPECT_EQ(r.code, code) << message;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(out)) << message;
  }
  EXPECT_EQ(read_file(dir.path("taken")), "keep me");
}

}  // namespace
}  // namespace tapewren::e2e
