// The recorder's cost, measured side by side in one run and printed as one table:
// throughput and CPU per MB against `dd bs=64` on the same kind of pseudo-terminal, idle CPU
// and wake-ups on a silent line, peak memory and heap allocations, the latency from a space
// key to the stop request on the line, and the name interception's throughput.
#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "../tests/e2e/harness.hpp"
#include "synth/tape_synth.hpp"

namespace {

using namespace tapewren::e2e;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A stage that cannot give its figure within its deadline ends the run with this message.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};
void require(bool ok, const std::string& what) {
  if (!ok) throw Failure(what);
}

struct Settings {
  int mib = 64;
  int idle_seconds = 30;
  int presses = 20;
};

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

void sleep_for(std::chrono::milliseconds ms) {
  timespec ts{static_cast<time_t>(ms.count() / 1000),
              static_cast<long>(ms.count() % 1000) * 1000000};
  nanosleep(&ts, nullptr);
}

double cpu_seconds(const Child& child) {
  const rusage& u = child.usage();
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds and voluntary context switches (wake-ups) of a running process.
struct Usage {
  double cpu = 0;
  long wakes = 0;
};
Usage usage_of(pid_t pid) {
  Usage u;
  // Time on the CPU in nanoseconds: far finer than the 10 ms ticks of /proc/PID/stat.
  std::ifstream sched("/proc/" + std::to_string(pid) + "/schedstat");
  double ns = 0;
  sched >> ns;
  u.cpu = ns / 1e9;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) u.wakes = std::stol(line.substr(24));
  return u;
}

struct Flood {
  double mb_per_s = 0;
  double cpu_per_mb = 0;
  long max_rss_kib = 0;
  long allocations = -1;
};

// The recorder takes `mib` MiB sent as fast as the pty allows.
Flood flood_recorder(int mib, const TempDir& dir, const std::string& tag) {
  DeviceEnd device;
  const std::string out = dir.path("flood-" + tag + ".dmp");
  const std::string log = dir.path("alloc-" + tag);
  Options options;
  options.stdin_mode = Stdin::kPipe;  // a key poll that really asks, as on a terminal
  // The allocation counter goes into the recorder alone: set around its start only.
  setenv("LD_PRELOAD", TAPEWREN_ALLOC_COUNT_PATH, 1);
  setenv("TAPEWREN_ALLOC_LOG", log.c_str(), 1);
  Child recorder({program("record"), device.port(), out}, dir, options);
  unsetenv("LD_PRELOAD");
  unsetenv("TAPEWREN_ALLOC_LOG");
  Flood f;
  require(!handshake(device, recorder).empty(), "flood: the recorder did not start recording");
  const Bytes block = recording(1 << 20, 3);
  const auto start = Clock::now();
  for (int i = 0; i < mib; ++i) device.send(block);
  const std::size_t total = static_cast<std::size_t>(mib) << 20;
  require(file_reaches(out, total, 600s), "flood: the recording was not stored within 600 s");
  const double wall = seconds_since(start);
  device.send("OK!\r\n> ");
  require(recorder.wait_exit() == 0, "flood: the recorder did not end within 20 s");
  f.mb_per_s = static_cast<double>(total) / 1e6 / wall;
  f.cpu_per_mb = cpu_seconds(recorder) / (static_cast<double>(total) / 1e6);
  f.max_rss_kib = recorder.usage().ru_maxrss;
  std::ifstream in(log);
  in >> f.allocations;
  return f;
}

// The floor: dd with 64-byte blocks reads the same bytes from the same kind of pty.
Flood flood_dd(int mib, const TempDir& dir) {
  DeviceEnd device;
  const int slave = open(device.port().c_str(), O_RDWR | O_NOCTTY);
  termios tio{};
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);
  const std::size_t total = static_cast<std::size_t>(mib) << 20;
  const std::string out = dir.path("flood-dd.dmp");
  Child dd({"/bin/dd", "if=" + device.port(), "of=" + out, "bs=64",
            "count=" + std::to_string(total / 64), "iflag=fullblock", "status=none"},
           dir);
  sleep_for(200ms);  // dd has opened the line
  const Bytes block = recording(1 << 20, 3);
  const auto start = Clock::now();
  for (int i = 0; i < mib; ++i) device.send(block);
  require(dd.wait_exit(600s) == 0, "dd: did not copy the line within 600 s");
  Flood f;
  f.mb_per_s = static_cast<double>(total) / 1e6 / seconds_since(start);
  f.cpu_per_mb = cpu_seconds(dd) / (static_cast<double>(total) / 1e6);
  close(slave);
  return f;
}

struct Idle {
  double prompt_cpu_percent = 0, prompt_wakes_per_s = 0;
  double recording_cpu_percent = 0, recording_wakes_per_s = 0;
};

Idle idle(int seconds, const TempDir& dir) {
  DeviceEnd device;
  Options options;
  options.stdin_mode = Stdin::kPipe;
  Child recorder({program("record"), device.port(), dir.path("idle.dmp")}, dir, options);
  Idle r;
  require(device.wait_configured(), "idle: the recorder did not open the port");
  sleep_for(500ms);
  Usage a = usage_of(recorder.pid());
  sleep_for(std::chrono::seconds(seconds));
  Usage b = usage_of(recorder.pid());
  r.prompt_cpu_percent = 100 * (b.cpu - a.cpu) / seconds;
  r.prompt_wakes_per_s = static_cast<double>(b.wakes - a.wakes) / seconds;
  require(!handshake(device, recorder).empty(), "idle: the recorder did not start recording");
  sleep_for(500ms);
  a = usage_of(recorder.pid());
  sleep_for(std::chrono::seconds(seconds));
  b = usage_of(recorder.pid());
  r.recording_cpu_percent = 100 * (b.cpu - a.cpu) / seconds;
  r.recording_wakes_per_s = static_cast<double>(b.wakes - a.wakes) / seconds;
  device.send("OK!\r\n> ");
  require(recorder.wait_exit() == 0, "idle: the recorder did not end within 20 s");
  return r;
}

struct Latency {
  double median_ms = 0, max_ms = 0;
};

Latency summarise(std::vector<double> ms) {
  Latency l;
  if (ms.empty()) return l;
  std::sort(ms.begin(), ms.end());
  l.median_ms = ms[ms.size() / 2];
  l.max_ms = ms.back();
  return l;
}

// Space keys into the recorder's standard input; the time until the space byte reaches the
// device. While data flow, the device sends at the serial line's pace (11,520 bytes/s).
std::pair<Latency, Latency> stop_latency(int presses, const TempDir& dir) {
  DeviceEnd device;
  Options options;
  options.stdin_mode = Stdin::kPipe;
  Child recorder({program("record"), device.port(), dir.path("latency.dmp")}, dir, options);
  std::pair<Latency, Latency> result;
  require(!handshake(device, recorder).empty(), "latency: the recorder did not start recording");
  std::uint32_t seed = 7;
  auto pause_ms = [&] {
    seed = seed * 1664525u + 1013904223u;
    return 200 + static_cast<int>((seed >> 8) % 300);
  };
  for (int flowing = 1; flowing >= 0; --flowing) {
    std::vector<double> samples;
    const Bytes chunk = recording(64, 11);
    auto next_data = Clock::now();
    for (int i = 0; i < presses; ++i) {
      const auto press_at = Clock::now() + std::chrono::milliseconds(pause_ms());
      bool pressed = false;
      Clock::time_point pressed_at;
      for (;;) {
        const auto now = Clock::now();
        // A read lasts at most 564 ms on a silent line: ten times that is a fault.
        require(!pressed || now - pressed_at < 6s,
                "latency: no stop request reached the device within 6 s of a space key");
        if (flowing && now >= next_data) {
          device.send(chunk);
          next_data += std::chrono::microseconds(5556);  // 64 bytes at 11,520 bytes/s
        }
        if (!pressed && now >= press_at) {
          recorder.type(" ");
          pressed = true;
          pressed_at = Clock::now();
        }
        if (pressed) {
          const Bytes got = device.receive(1, 0ms);
          if (!got.empty() && got[0] == ' ') {
            samples.push_back(seconds_since(pressed_at) * 1000);
            break;
          }
        }
        sleep_for(1ms);
      }
    }
    (flowing ? result.first : result.second) = summarise(samples);
    sleep_for(700ms);  // the line goes quiet before the silent round
  }
  device.send("OK!\r\n> ");
  require(recorder.wait_exit() == 0, "latency: the recorder did not end within 20 s");
  return result;
}

// A 45-minute side as sound (44.1 kHz, 16 bits) against copying a file of the WAV's size, the
// disk's own pace, side by side: seconds for each.
std::pair<double, double> wav_against_cp(const TempDir& dir) {
  std::vector<std::uint8_t> side;  // a synthetic tape over and over, until it lasts 45 minutes
  {
    using tapewren::synth::Encoding;
    const std::vector<std::uint8_t> data(2000, 0x5A);
    const auto dump = tapewren::synth::synthesize({{Encoding::kStandard, 1, "SIDE STD", data},
                                                   {Encoding::kCountdown9, 1, "SIDE TURBO", data}});
    double half_cycles = 0;
    for (std::size_t i = 0; i + 1 < dump.size(); i += 2) half_cycles += dump[i] | dump[i + 1] << 8;
    const double once_s = half_cycles / (2 * 985248.0);
    for (double s = 0; s < 45 * 60; s += once_s) side.insert(side.end(), dump.begin(), dump.end());
  }
  write_file(dir.path("side.dmp"), side);
  const auto timed = [&](std::vector<std::string> argv) {
    const auto start = Clock::now();
    Child child(argv, dir);
    require(child.wait_exit(600s) == 0, argv[0] + ": failed or did not end within 600 s");
    return seconds_since(start);
  };
  const double wav = timed({TAPEWREN_CONVERT_PATH, dir.path("side.dmp"), dir.path("side.wav")});
  const double cp = timed({"/bin/cp", dir.path("side.wav"), dir.path("copy.wav")});
  return {wav, cp};
}

// The reports on the 45-minute side, best of five runs each, in seconds: --files, --files
// --json, --files --map; and a folder of 200 recordings scanned one and two at a time.
struct Reports {
  double files = 0, json = 0, map = 0, jobs1 = 0, jobs2 = 0, wav_in = 0, cat = 0, merge = 0;
  long wav_in_kib = 0, merge_kib = 0;
};
long peak_rss_kib(const std::vector<std::string>& argv);
Reports reports(const TempDir& dir) {
  const std::string scan = TAPEWREN_SCAN_PATH, side = dir.path("side.dmp");
  const auto best = [&](const std::function<std::vector<std::string>(int)>& argv) {
    double least = 1e9;
    for (int i = 0; i < 5; ++i) {
      const auto start = Clock::now();
      Child child(argv(i), dir);
      const int code = child.wait_exit(600s);
      require(code == 0 || code == 3, scan + ": failed or did not end within 600 s");
      least = std::min(least, seconds_since(start));
    }
    return least;
  };
  Reports r;
  // The side's sound (written by the WAV stage) read back into a TAP file, against cat.
  r.wav_in = best([&](int i) {
    return std::vector<std::string>{TAPEWREN_CONVERT_PATH, dir.path("side.wav"),
                                    dir.path("back" + std::to_string(i) + ".tap")};
  });
  r.cat = best([&](int) {
    return std::vector<std::string>{"/bin/sh", "-c",
                                    "cat '" + dir.path("side.wav") + "' >/dev/null"};
  });
  r.wav_in_kib =
      peak_rss_kib({TAPEWREN_CONVERT_PATH, dir.path("side.wav"), dir.path("m_back.tap")});
  // Their output to /dev/null, as a script would keep it in a file: not through a pipe here.
  const auto quiet = [&](const std::string& args) {
    return std::vector<std::string>{"/bin/sh", "-c",
                                    scan + " " + args + " '" + side + "' >/dev/null"};
  };
  r.files = best([&](int) { return quiet("--files"); });
  r.json = best([&](int) { return quiet("--files --json"); });
  r.map = best([&](int i) {
    return quiet("--files --map '" + dir.path("map" + std::to_string(i) + ".svg") + "'");
  });
  // Three recordings of the side merged: every file of all three held at once.
  r.merge = best([&](int) { return quiet("--merge '" + side + "' '" + side + "'"); });
  r.merge_kib = peak_rss_kib({scan, "--merge", side, side, side});
  using tapewren::synth::Encoding;
  const auto one = tapewren::synth::synthesize(
      {{Encoding::kStandard, 1, "BOX STD", std::vector<std::uint8_t>(3000, 0x33)},
       {Encoding::kNovaload, 1, "BOX NOVA", std::vector<std::uint8_t>(8000, 0x44), 0x2000}});
  require(mkdir(dir.path("box").c_str(), 0755) == 0, "cannot make the folder of recordings");
  for (int i = 0; i < 200; ++i)
    write_file(dir.path("box/" + std::to_string(1000 + i) + ".dmp"), one);
  r.jobs1 = best([&](int) {
    return std::vector<std::string>{scan, "--files", "-j", "1", dir.path("box")};
  });
  r.jobs2 = best([&](int) {
    return std::vector<std::string>{scan, "--files", "-j", "2", dir.path("box")};
  });
  return r;
}

// Peak resident memory of a program from its own start, in KiB: read as it is about to exit
// (a traced exit stops it with its memory still mapped), so that nothing of this process,
// whose memory a forked child starts with, counts. -1 when it could not be measured.
long vm_hwm_kib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}
long peak_rss_kib(const std::vector<std::string>& argv) {
  const pid_t pid = fork();
  require(pid >= 0, "peak memory: cannot fork");
  if (pid == 0) {
    ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    raise(SIGSTOP);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  long peak = -1;
  int status = 0;
  const auto until = Clock::now() + 600s;
  bool options_set = false;
  for (;;) {
    const pid_t got = waitpid(pid, &status, WNOHANG);
    if (got == 0) {
      if (Clock::now() > until) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        throw Failure("peak memory: " + argv[0] + " did not end within 600 s");
      }
      sleep_for(1ms);
      continue;
    }
    if (got < 0 || WIFEXITED(status) || WIFSIGNALED(status)) break;
    int pass = WSTOPSIG(status);
    if (!options_set) {  // the child's own SIGSTOP, before the program starts
      ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL);
      options_set = true;
      pass = 0;
    } else if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
      peak = vm_hwm_kib(pid);
      pass = 0;
    } else if (pass == SIGTRAP) {
      pass = 0;  // the stop after exec
    }
    ptrace(PTRACE_CONT, pid, nullptr, pass);
  }
  require(WIFEXITED(status) && WEXITSTATUS(status) == 0, "peak memory: " + argv[0] + " failed");
  return peak;
}

// The tools' peak memory on the 45-minute side, in KiB: to WAV, to TAP, TAP to dump, --files.
std::vector<long> tools_memory(const TempDir& dir) {
  const std::string conv = TAPEWREN_CONVERT_PATH, side = dir.path("side.dmp");
  return {peak_rss_kib({conv, side, dir.path("m.wav")}),
          peak_rss_kib({conv, side, dir.path("m.tap")}),
          peak_rss_kib({conv, dir.path("m.tap"), dir.path("m.dmp")}),
          peak_rss_kib({TAPEWREN_SCAN_PATH, "--files", side})};
}

// Runs the feed benchmark and takes its words per second.
std::vector<std::pair<std::string, double>> feed_figures() {
  std::vector<std::pair<std::string, double>> out;
  const std::string cmd = "timeout 900 " + std::string(TAPEWREN_FEED_BENCH_PATH) +
                          " --benchmark_format=json --benchmark_repetitions=3 "
                          "--benchmark_report_aggregates_only=true 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  std::string json;
  char buf[4096];
  while (std::size_t n = fread(buf, 1, sizeof buf, p)) json.append(buf, n);
  pclose(p);
  for (const char* name :
       {"BM_FeedLargeBlocks_median", "BM_FeedRecorderChunks_median", "BM_SumWords_median",
        "BM_DecodeRealTapes_median", "BM_DecodeRealTapesFromTap_median",
        "BM_DecodeRealTapesRomOnly_median"}) {
    const auto at = json.find(std::string("\"name\": \"") + name + "\"");
    const auto ips = json.find("\"items_per_second\": ", at);
    if (at == std::string::npos || ips == std::string::npos) continue;
    out.emplace_back(name, std::stod(json.substr(ips + 20)));
  }
  return out;
}

void run(const Settings& s) {
  TempDir dir;
  std::fprintf(stderr, "flooding %d MiB through the recorder and through dd...\n", s.mib);
  const Flood rec = flood_recorder(s.mib, dir, "big");
  const Flood small = flood_recorder(1, dir, "small");
  const Flood dd = flood_dd(s.mib, dir);
  std::fprintf(stderr, "idle for 2 x %d s...\n", s.idle_seconds);
  const Idle quiet = idle(s.idle_seconds, dir);
  std::fprintf(stderr, "%d space presses while data flow, %d on a silent line...\n", s.presses,
               s.presses);
  const auto latency = stop_latency(s.presses, dir);
  const auto feed = feed_figures();
  std::fprintf(stderr, "a 45-minute side as WAV, and cp of the same size...\n");
  const auto [wav_s, cp_s] = wav_against_cp(dir);
  std::fprintf(stderr, "the reports on that side, and a folder of 200 recordings...\n");
  const Reports rep = reports(dir);
  std::fprintf(stderr, "the tools' peak memory on that side...\n");
  const auto memory = tools_memory(dir);

  std::printf("| Measure | tapewren-record | floor | ratio | aim |\n|---|---|---|---|---|\n");
  std::printf("| throughput, %d MiB through a pty (MB/s) | %.1f | %.1f (dd bs=64) | %.2f | |\n",
              s.mib, rec.mb_per_s, dd.mb_per_s, rec.mb_per_s / dd.mb_per_s);
  std::printf("| CPU per MB (ms) | %.2f | %.2f (dd bs=64) | %.2f | <= 1.3 x dd |\n",
              rec.cpu_per_mb * 1000, dd.cpu_per_mb * 1000, rec.cpu_per_mb / dd.cpu_per_mb);
  std::printf("| idle CPU, waiting for the prompt | %.4f %% (%.1f wake-ups/s) | | | < 0.1 %% |\n",
              quiet.prompt_cpu_percent, quiet.prompt_wakes_per_s);
  std::printf("| idle CPU, recording a silent line | %.4f %% (%.1f wake-ups/s) | | | < 0.1 %% |\n",
              quiet.recording_cpu_percent, quiet.recording_wakes_per_s);
  std::printf("| peak RSS, %d MiB recording (KiB) | %ld | %ld (1 MiB recording) | | < 4096 |\n",
              s.mib, rec.max_rss_kib, small.max_rss_kib);
  std::printf("| heap allocations, whole run | %ld (%d MiB) | %ld (1 MiB) | | none in the loop |\n",
              rec.allocations, s.mib, small.allocations);
  std::printf("| stop latency while data flow (ms) | median %.1f, max %.1f | | | |\n",
              latency.first.median_ms, latency.first.max_ms);
  std::printf("| stop latency on a silent line (ms) | median %.1f, max %.1f | | | bound ~564 |\n",
              latency.second.median_ms, latency.second.max_ms);
  double plain = 0;
  for (const auto& [name, v] : feed)
    if (name == "BM_SumWords_median") plain = v;
  double names = 0, rom_only = 0, first_wave = 0;
  for (const auto& [name, v] : feed) {
    if (name == "BM_FeedLargeBlocks_median") names = v;
    if (name == "BM_DecodeRealTapesRomOnly_median") rom_only = v;
    if (name == "BM_DecodeRealTapesFirstWave_median") first_wave = v;
  }
  for (const auto& [name, v] : feed) {
    if (name == "BM_DecodeRealTapes_median") {
      std::printf(
          "| tape decoder, --files over the test tapes x 100, every loader, dump (M pulses/s) | "
          "%.0f | %.0f (ROM loaders only) | %.2f | >= 100 |\n",
          v / 1e6, rom_only / 1e6, rom_only > 0 ? v / rom_only : 0);
      std::printf(
          "| the same, every loader against the first wave's 27 alone (M pulses/s) | %.0f | %.0f "
          "(first wave) | %.2f | about 1 |\n",
          v / 1e6, first_wave / 1e6, first_wave > 0 ? v / first_wave : 0);
      continue;
    }
    if (name == "BM_DecodeRealTapesFromTap_median") {
      std::printf(
          "| tape decoder, --files over the test tapes x 100, every loader, TAP file (M "
          "pulses/s) | %.0f | %.0f (name feed, M words/s) | %.2f | >= 100 |\n",
          v / 1e6, names / 1e6, names > 0 ? v / names : 0);
      continue;
    }
    if (name == "BM_SumWords_median" || name == "BM_DecodeRealTapesRomOnly_median") continue;
    std::printf("| %s (M words/s) | %.0f | %.0f (sum of words) | %.2f | >= 250 |\n",
                name == "BM_FeedLargeBlocks_median" ? "name feed, 1 MiB blocks"
                                                    : "name feed, 64-byte chunks",
                v / 1e6, plain / 1e6, plain > 0 ? v / plain : 0);
  }
  std::printf(
      "| a 45-minute side as WAV, 44.1 kHz 16-bit (s) | %.2f | %.2f (cp of the WAV) | %.2f | <= 2 "
      "x cp |\n",
      wav_s, cp_s, cp_s > 0 ? wav_s / cp_s : 0);
  std::printf(
      "| peak RSS of the tools on that side (KiB) | to WAV %ld, to TAP %ld, TAP to dump %ld, "
      "scan --files %ld | | | < 4096 |\n",
      memory[0], memory[1], memory[2], memory[3]);
  std::printf(
      "| that side's WAV read into a TAP file (s) | %.3f | %.3f (cat of the WAV) | %.2f | <= 2 x "
      "cat |\n",
      rep.wav_in, rep.cat, rep.cat > 0 ? rep.wav_in / rep.cat : 0);
  std::printf("| peak RSS, that WAV to TAP (KiB) | %ld | | | < 4096 |\n", rep.wav_in_kib);
  std::printf(
      "| scan --files --json of that side (s) | %.3f | %.3f (--files) | %.2f | <= 1.05 x |\n",
      rep.json, rep.files, rep.files > 0 ? rep.json / rep.files : 0);
  std::printf("| scan --files --map of that side (s) | %.3f | %.3f (--files) | %.2f | < 1 s |\n",
              rep.map, rep.files, rep.files > 0 ? rep.map / rep.files : 0);
  std::printf(
      "| scan --files of 200 recordings, --jobs 2 (s) | %.2f | %.2f (--jobs 1) | %.2f x as fast | "
      ">= 1.6 x |\n",
      rep.jobs2, rep.jobs1, rep.jobs2 > 0 ? rep.jobs1 / rep.jobs2 : 0);
  std::printf(
      "| scan --merge of three recordings of that side (s) | %.3f | %.3f (3 x --files) | %.2f | "
      "<= 1.1 x |\n",
      rep.merge, 3 * rep.files, rep.files > 0 ? rep.merge / (3 * rep.files) : 0);
  std::printf("| peak RSS, that merge (KiB) | %ld | | | < 16384 |\n", rep.merge_kib);
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const int v = std::atoi(argv[i + 1]);
    if (a == "--mib") s.mib = v;
    if (a == "--idle-seconds") s.idle_seconds = v;
    if (a == "--presses") s.presses = v;
  }
  try {
    run(s);
  } catch (const Failure& failure) {
    std::fprintf(stderr, "record_bench: %s\n", failure.what());
    return 1;
  }
  return 0;
}
