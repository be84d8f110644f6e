// The Windows programs under Wine, on the same table of runs as the Linux ones: COM5 is a
// link in the Wine prefix to the pseudo-terminal that the test drives as the device. Run by
// scripts/test-windows.sh, which prepares the prefix.
#include <algorithm>

#include "../e2e/scenarios.hpp"

namespace tapewren::e2e {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string windows_path(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

std::string exe(const std::string& name) {
  return env("TAPEWREN_WINDOWS_BUILD") + "/tapewren-" + name + ".exe";
}

class WineTarget : public Target {
 public:
  ~WineTarget() override {
    if (slave_ >= 0) close(slave_);
    unlink(link_.c_str());
  }
  std::vector<std::string> command(const std::vector<std::string>& args) override {
    std::vector<std::string> argv{"/usr/bin/timeout", "--foreground", "120", "wine", exe("record")};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  std::string port_name(Port port, const DeviceEnd& device, const TempDir&) override {
    if (port == Port::kMissing) return "COM7";
    // The slave stays open here, raw, so that the line exists before Wine opens it.
    slave_ = open(device.port().c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    tcgetattr(slave_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave_, TCSANOW, &tio);
    link_ = env("WINEPREFIX") + "/dosdevices/com5";
    unlink(link_.c_str());
    EXPECT_EQ(symlink(device.port().c_str(), link_.c_str()), 0);
    return "COM5";
  }
  std::string file_name(const std::string& path) override { return windows_path(path); }
  // Prompts until the record command comes back: nothing tells when Wine opens the port.
  Bytes handshake(DeviceEnd& device, Child& recorder, bool acknowledge) override {
    Bytes command;
    for (int tries = 0; tries < 200 && command.empty(); ++tries) {
      device.send("> ");
      command = device.receive(1, 300ms);
    }
    const Bytes rest = device.receive(7);
    command.insert(command.end(), rest.begin(), rest.end());
    if (acknowledge) {
      device.send("OK\r\n");
      EXPECT_TRUE(recorder.wait_for_out("Stop the recording chain with spacebar"));
    }
    return command;
  }
  // Wine writes text-mode output with Windows line ends.
  std::string text(const std::string& raw) override {
    std::string s = raw;
    s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
    return s;
  }

 private:
  int slave_ = -1;
  std::string link_;
};

class WineRecorder : public ::testing::TestWithParam<Scenario> {};

TEST_P(WineRecorder, Run) {
  if (env("WINEPREFIX").empty() || access(exe("record").c_str(), R_OK) != 0)
    GTEST_FAIL() << "needs WINEPREFIX and TAPEWREN_WINDOWS_BUILD (scripts/test-windows.sh)";
  WineTarget target;
  run_scenario(GetParam(), target);
}

std::vector<Scenario> under_wine() {
  std::vector<Scenario> rows;
  for (const Scenario& row : scenarios())
    if (!row.not_under_wine) rows.push_back(row);
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Wine, WineRecorder, ::testing::ValuesIn(under_wine()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WineConvert, RoundTripAndNeverOverwrites) {
  TempDir dir;
  const std::string tap = std::string(TAPEWREN_TAPES_DIR) + "/testtape-c64-pal-turbo.tap";
  auto run = [&](const std::string& in, const std::string& out) {
    Child child(
        {"/usr/bin/timeout", "120", "wine", exe("convert"), windows_path(in), windows_path(out)},
        dir);
    return child.wait_exit();
  };
  EXPECT_EQ(run(tap, dir.path("t.dmp")), 0);
  EXPECT_EQ(run(dir.path("t.dmp"), dir.path("t.tap")), 0);
  EXPECT_TRUE(read_bytes(dir.path("t.tap")) == read_bytes(tap));
  write_file(dir.path("taken"), bytes("keep"));
  EXPECT_EQ(run(tap, dir.path("taken")), 1);
  EXPECT_EQ(read_file(dir.path("taken")), "keep");
}

}  // namespace
}  // namespace tapewren::e2e
