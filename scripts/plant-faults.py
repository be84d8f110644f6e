#!/usr/bin/env python3
"""Plants one small fault at a time in a copy of the sources and runs the tests against it.

Usage: scripts/plant-faults.py [--only ID,...] OUTPUT.tsv
Works in build-faults/src (a copy of the committed tree) so that the work tree is untouched.
Each fault is a literal replacement; one whose text is gone from the code is reported as
"n/a". The fast tests (unit_tests, posix_tests) run first; the end-to-end tests only when they
catch nothing. Not part of CI: it takes a while.
"""
import os
import subprocess
import sys

FAULTS = [
    # capture loop
    ("any-key-stops", "src/capture/capture_loop.cpp",
     "if (poll_key(io_.keyboard) == kSpaceKey) {", "if (poll_key(io_.keyboard) != 0) {"),
    ("ack-not-recording", "src/capture/capture_loop.cpp",
     "state_.recording = 1;", "state_.recording = 0;"),
    ("end-keeps-a-byte-more", "src/capture/capture_loop.cpp",
     "const std::uint32_t data = n - end_len;", "const std::uint32_t data = n - end_len + 1;"),
    ("ko-message-on-stdout", "src/capture/capture_loop.cpp",
     'con.err("Recording error!\\n");', 'con.out("Recording error!\\n");'),
    ("split-check-one-longer", "src/capture/capture_loop.cpp",
     "} else if (n < end_len) {", "} else if (n <= end_len) {"),
    ("stores-before-ack", "src/capture/capture_loop.cpp",
     "if (!state_.recording) return Pass::kNext;", ""),
    ("chunk-not-counted", "src/capture/capture_loop.cpp",
     "state_.byte_total += static_cast<std::int32_t>(n);", ""),
    ("chunk-not-fed", "src/capture/capture_loop.cpp",
     "io_.observer.on_stored(buffer_, n);", ""),
    ("split-cut-kept-in-total", "src/capture/capture_loop.cpp",
     "state_.byte_total -= static_cast<std::int32_t>(stored_part);", ""),
    ("split-cuts-a-byte-more", "src/capture/capture_loop.cpp",
     "const std::uint32_t stored_part = end_len - n;",
     "const std::uint32_t stored_part = end_len - n + 1;"),
    ("signal-ignored", "src/capture/capture_loop.cpp",
     "if (const int signal = io_.interrupts.pending()) {",
     "if (const int signal = 0 * io_.interrupts.pending()) {"),
    ("key-31-kept", "src/capture/capture_loop.cpp",
     "return code > 31 ?", "return code >= 31 ?"),
    ("no-stop-request", "src/capture/capture_loop.cpp", "send_stop_request(io_.port);", ""),
    ("tail-from-any-chunk", "src/capture/capture_loop.cpp",
     "if (n == kChunkSize) {\n      std::memcpy(state_.tail, buffer_, kChunkSize);",
     "if (n >= end_len) {\n      std::memcpy(state_.tail + kChunkSize - n, buffer_, n);"),
    ("split-ko-on-stderr", "src/capture/capture_loop.cpp",
     'con.out("Recording error!!\\n");', 'con.err("Recording error!!\\n");'),
    # link protocol
    ("reply-without-last-byte", "src/link/protocol.cpp",
     "std::memcmp(run + n - len, reply_table[reply], len) == 0",
     "std::memcmp(run + n - len, reply_table[reply], len - 1) == 0"),
    ("prompt-anywhere", "src/link/protocol.cpp",
     "if (ends_with_reply(buffer, r.count, REPLY_PROMPT)) return true;",
     "if (r.count > 1 && std::memchr(buffer, '>', r.count - 1)) return true;"),
    ("command-ends-with-lf", "src/link/protocol.cpp", '"u %d %d %d\\r"', '"u %d %d %d\\n"'),
    ("file-error-on-stdout", "src/link/protocol.cpp",
     'if (!file) console.err(', 'if (!file) console.out('),
    # command line and run sequence
    ("machine-3-allowed", "src/app/command_line.cpp",
     "settings.machine_type > 2", "settings.machine_type > 3"),
    ("video-code-is-2", "src/app/command_line.cpp", "return -3;", "return -2;"),
    ("last-value-not-checked", "src/app/command_line.cpp",
     "if (cursor + 1 >= argc) {", "if (cursor + 2 >= argc) {"),
    ("b-ignored", "src/app/command_line.cpp",
     "settings.both_edges = 1;", "settings.both_edges = 0;"),
    ("extra-positionals-ok", "src/app/command_line.cpp",
     "if (remaining != 2) {", "if (remaining < 2) {"),
    ("plus-sign-not-read", "src/app/command_line.cpp",
     "if (*p == '+' || *p == '-')", "if (*p == '-')"),
    ("file-closed-first", "src/app/recorder.cpp",
     "port->close();\n    file->close();", "file->close();\n    port->close();"),
    ("signal-exit-code-0", "src/app/recorder.cpp",
     "return signal ? 128 + signal : 0;", "return 0;"),
    # POSIX back end
    ("hangup-drops-buffered", "src/platform/posix/serial_port.cpp",
     "if (failed_) return {got > 0, got};", "if (failed_) return {false, 0};"),
    ("hangup-drops-same-read", "src/platform/posix/serial_port.cpp",
     "if (failed_ && got == 0) return {false, 0};", "if (failed_) return {false, 0};"),
    ("wrong-speed", "src/platform/posix/serial_port.cpp",
     "cfsetispeed(&tio, B115200);", "cfsetispeed(&tio, B57600);"),
    ("seven-bits", "src/platform/posix/serial_port.cpp", "CS8 | CREAD", "CS7 | CREAD"),
    ("no-exclusive-open", "src/platform/posix/serial_port.cpp",
     "if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {",
     "if (!isatty(fd)) {"),
    ("partial-write-not-retried", "src/platform/posix/fd_io.cpp",
     "done += static_cast<std::size_t>(k);\n      continue;",
     "done += static_cast<std::size_t>(k);\n      break;"),
    ("dump-overwrites", "src/platform/posix/dump_file.cpp", "O_CREAT | O_EXCL", "O_CREAT | O_TRUNC"),
    ("dump-mode-fixed", "src/platform/posix/dump_file.cpp", ", 0666);", ", 0644);"),
    ("cut-not-truncated", "src/platform/posix/dump_file.cpp",
     "return here >= 0 && ftruncate(fd_, here) == 0;", "return here >= 0;"),
    ("echo-kept", "src/platform/posix/keyboard.cpp", "~static_cast<tcflag_t>(ICANON | ECHO)",
     "~static_cast<tcflag_t>(ICANON)"),
    ("terminal-left-raw", "src/platform/posix/keyboard.cpp",
     "tcsetattr(STDIN_FILENO, TCSANOW, &saved_);", ""),
    ("background-takes-terminal", "src/platform/posix/keyboard.cpp",
     "if (foreground >= 0 && foreground != getpgrp()) return;", ""),
    ("foreign-terminal-left-alone", "src/platform/posix/keyboard.cpp",
     "if (foreground >= 0 && foreground != getpgrp()) return;", "if (foreground != getpgrp()) return;"),
    ("closed-streams-kept-closed", "src/platform/posix/host.cpp",
     "if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open(\"/dev/null\", O_RDWR) != fd) return;", ""),
    ("sigpipe-kills", "src/platform/posix/host.cpp", "signal(SIGPIPE, SIG_IGN);", ""),
    ("hup-quit-not-caught", "src/platform/posix/signals.cpp",
     "{SIGINT, SIGTERM, SIGHUP, SIGQUIT}", "{SIGINT, SIGTERM}"),
    ("restarting-handlers", "src/platform/posix/signals.cpp",
     "action.sa_flags = 0;", "action.sa_flags = SA_RESTART;"),
    # name interception
    ("medium-to-152", "src/names/std_header.hpp", "kMediumMax = 151", "kMediumMax = 152"),
    ("lead-in-4999", "src/names/std_header.hpp", "kLeadInPulses = 5000", "kLeadInPulses = 4999"),
    ("zero-pair-first", "src/names/std_header.hpp",
     "if (is_medium(s.first_pulse) && is_short(s.second_pulse)) {\n        s.data_byte |= 0x80;\n"
     "      } else if (!(is_short(s.first_pulse) && is_medium(s.second_pulse))) {",
     "if (is_short(s.first_pulse) && is_medium(s.second_pulse)) {\n"
     "      } else if (is_medium(s.first_pulse) && is_short(s.second_pulse)) {\n"
     "        s.data_byte |= 0x80;\n      } else {"),
    ("std-type-3-refused", "src/names/std_header.hpp",
     "s.data_byte != 1 && s.data_byte != 3", "s.data_byte != 1"),
    ("std-first-countdown-unchecked", "src/names/std_header.hpp",
     "(n >= 1 && n <= kCountdownBytes", "(n >= 2 && n <= kCountdownBytes"),
    ("cd9-zero-from-38", "src/names/countdown_header.hpp",
     "kCountdown9{67, 95, 39, 66", "kCountdown9{67, 95, 38, 66"),
    ("cd12-one-to-95", "src/names/countdown_header.hpp",
     "kCountdown12{68, 94, 42, 67", "kCountdown12{68, 95, 42, 67"),
    ("pilot-958", "src/names/countdown_header.hpp", "kPilotMinCount = 959", "kPilotMinCount = 958"),
    ("cd-countdown-unchecked", "src/names/countdown_header.hpp",
     "(n >= 1 && n <= E.countdown_bytes && s.shift != E.countdown_bytes + 1 - n) ||", "false ||"),
    ("cd-header-bit-unchecked", "src/names/countdown_header.hpp",
     "      if (!bit) {\n        s.state = State::kPilotSearch;\n        return 0;\n      }\n"
     "      if (++s.bit_count == 8) {",
     "      if (++s.bit_count == 8) {"),
    ("cd-pilot-bit-unchecked", "src/names/countdown_header.hpp",
     "      if (!bit) {\n        s.state = State::kPilotSearch;\n        return 0;\n      }\n"
     "      if (++s.bit_count < 8) return 0;",
     "      if (++s.bit_count < 8) return 0;"),
    ("noise-clears-search", "src/names/countdown_header.hpp",
     "      s.shift = static_cast<std::uint8_t>((s.shift << 1) | (one ? 1 : 0));\n"
     "      if (s.shift == kPilotByte) {",
     "      s.shift = bit ? static_cast<std::uint8_t>((s.shift << 1) | (one ? 1 : 0)) : 0;\n"
     "      if (s.shift == kPilotByte) {"),
    ("filter-keeps-caret", "src/names/pulse_feed.cpp", "name[i] <= 0x5D", "name[i] <= 0x5E"),
    ("trim-stops-at-1", "src/names/pulse_feed.cpp",
     "for (int i = 15; i >= 0 && name[i] == 0x20", "for (int i = 15; i > 0 && name[i] == 0x20"),
    ("no-reset-after-report", "src/names/pulse_feed.cpp",
     "reset = 1;\n    } else {", "reset = 0;\n    } else {"),
    ("skim-ignores-cd12", "src/names/pulse_feed.cpp",
     " | (next12 == kPilotByte)) break;", ") break;"),
    ("odd-byte-fed", "src/names/pulse_feed.cpp",
     "const std::uint32_t words = count / 2;", "const std::uint32_t words = (count + 1) / 2;"),
    # reading recordings and writing them back
    ("dump-ffff-not-joined", "src/recording/reader.cpp",
     "    going_on = word == kContinues;  // the pulse goes on in the next word\n    length[count]",
     "    going_on = false;\n    length[count]"),
    ("tap-long-entry-in-cycles", "src/recording/reader.cpp",
     "emit(out, 2 * pending_, pending_offset_);", "emit(out, pending_, pending_offset_);"),
    ("tap-byte-4-cycles", "src/recording/reader.cpp",
     "out.length[count] = 16 * std::uint64_t{b[at]};", "out.length[count] = 8 * std::uint64_t{b[at]};"),
    ("tap-offset-off", "src/recording/reader.cpp",
     "out.offset[count] = base + at;", "out.offset[count] = base + at + 1;"),
    ("odd-byte-not-noted", "src/recording/reader.cpp", "if (have_ - at_ == 1)", "if (false)"),
    ("tap-size-not-noted", "src/recording/reader.cpp",
     "if (size - kTapHeaderSize != header_.length)", "if (false)"),
    ("version-3-accepted", "src/recording/reader.cpp", "if (header_.version > 2) {", "if (header_.version > 3) {"),
    ("pulse-at-end-dropped", "src/recording/reader.cpp",
     "  if (going_on_) emit(out, pending_, pending_offset_);\n", "\n"),
    ("tap-byte-256", "src/recording/writers.cpp",
     "if (value >= 1 && value <= 255)", "if (value >= 1 && value <= 256)"),
    ("long-pause-cut", "src/recording/writers.cpp", "} while (cycles >= 0.5);", "} while (false);"),
    ("tap-length-not-written", "src/recording/writers.cpp",
     "return flush() && sink_.write_at(0, h.data(), h.size());", "return flush();"),
    ("dump-65535-not-continued", "src/recording/writers.cpp",
     "for (; words >= kContinues; words -= kContinues)", "for (; words > kContinues; words -= kContinues)"),
    # the tools' files and signals
    ("temp-kept-on-failure", "src/platform/posix/tool_io.cpp",
     "  if (!temp_.empty()) ::unlink(temp_.c_str());\n}", "}"),
    ("sigxfsz-kills", "src/platform/posix/tool_io.cpp", "signal(SIGXFSZ, SIG_IGN);", ""),
    ("sigterm-not-caught", "src/platform/posix/tool_io.cpp",
     "for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {", "for (int s : {SIGINT, SIGHUP, SIGQUIT}) {"),
    ("wav-options-ignored", "tools/convert/convert.cpp",
     "if (opt_.wav_options && kind_ != Output::kWav)", "if (false)"),
    ("tick-hz-ignored", "tools/convert/convert.cpp",
     "if (opt_.tick_hz > 0 && from_tap() && kind_ == Output::kWav)", "if (false)"),
    ("c16-signature-only-with-b", "tools/convert/convert.cpp",
     "header.c16_signature = header.platform == 2;", "header.c16_signature = header.platform == 2 && opt_.both_edges;"),
    ("wav-no-pad", "src/audio/wav.cpp", "if (data_bytes() % 2 != 0) buffer_.push_back(0);", ""),
    ("riff-size-without-pad", "src/audio/wav.cpp", "put(h, 36 + data + data % 2, 4);", "put(h, 36 + data, 4);"),
    # tapewren-scan
    ("no-file-exit-0", "tools/scan/job.cpp", "    outcome.code = 4;\n", "    outcome.code = 0;\n"),
    ("bad-exit-0", "tools/scan/job.cpp", "    outcome.code = 3;\n", "    outcome.code = 0;\n"),
    ("pictures-numbered-from-0", "tools/scan/scan.cpp", "? numbered(opt.histogram, n + 1)", "? numbered(opt.histogram, n)"),
    ("c16-signature-not-noted", "tools/scan/job.cpp", "if (h.c16_signature && h.platform != 2) {", "if (false) {"),
    ("edges-not-guessed", "tools/scan/job.cpp", "ds.half_waves = guess_half_waves(path);", "ds.half_waves = false;"),
    ("name-end-offset-off", "tools/scan/job.cpp",
     "i + 1 < pulses_->count ? pulses_->offset[i + 1] : pulses_->end", "pulses_->offset[i]"),
    ("prg-without-address", "tools/scan/report.cpp", "if (f.kind == Kind::kProgram)\n    bytes =", "if (false)\n    bytes ="),
    ("notes-not-shown", "tools/scan/report.cpp", "for (const auto& note : f.notes) v += \" (\" + note + \")\";", ""),
    ("single-copy-shown-twice", "tools/scan/report.cpp", "if (!f.loader->copies) return copy_text(b.copy[0]);", ""),
    ("pauses-not-told", "tools/scan/report.cpp", "percent(s.pause_seconds, s.seconds)", "percent(0, s.seconds)"),
    # the decoder: search, machinery, loaders
    ("run-found-late", "src/tape/machinery/search.hpp", "kRunFound = 32;", "kRunFound = 512;"),
    ("bytes-found-late", "src/tape/machinery/search.hpp", "kBytesFound = 40;", "kBytesFound = 64;"),
    ("pauses-in-the-bytes", "src/tape/machinery/search.cpp", "if (p >= kBitMin && p <= kBitMax) {", "if (p >= kBitMin) {"),
    ("pilot-start-not-found", "src/tape/machinery/search.cpp",
     "const std::uint32_t lead = bits_ <= lead_max + kSettle ? bits_ - 1 : lead_max;",
     "const std::uint32_t lead = 0;"),
    ("repeat-never-used", "src/tape/machinery/cbm_rom.cpp",
     "const bool in_repeat = repeat && i < repeat->bytes.size() && !repeat->bad[i];", "const bool in_repeat = false;"),
    ("parity-not-checked", "src/tape/machinery/cbm_rom.cpp", "byte_bad_ || ones % 2 == 0", "byte_bad_"),
    ("checksum-not-checked", "src/tape/machinery/cbm_rom.cpp", "return x == bytes.back();", "return true;"),
    ("no-drift-tracking", "src/tape/machinery/cbm_rom.cpp",
     "if (c != PulseClasses::kNone) classes_.track(c, p);", ""),
    ("copies-paired-by-order", "src/tape/machinery/cbm_rom.cpp",
     "if (held_ && copy.copy == 2 && pairs(*held_, copy)) {", "if (held_ && copy.copy == 2) {"),
    ("early-end-not-noted", "src/tape/machinery/cbm_rom.cpp", "if (got < expected && data->complete)", "if (false)"),
    ("seq-read-past-zero", "src/tape/machinery/cbm_rom.cpp",
     "const auto end = std::find(records.begin(), records.end(), 0);", "const auto end = records.end();"),
    ("seq-copies-cut", "src/tape/machinery/cbm_rom.cpp",
     "sum.complete &= !r.found || r.complete;", "sum.complete = false;"),
    ("resync-index-off", "src/tape/machinery/cbm_rom.cpp",
     "pulse_no_ - 1 - marker_pulse_no_", "pulse_no_ + 19 - marker_pulse_no_"),
    ("header-only-ok", "src/tape/machinery/cbm_rom.cpp",
     "f.kind = Kind::kHeaderOnly;\n    f.verdict = Verdict::kIncomplete;", "f.kind = Kind::kHeaderOnly;\n    f.verdict = Verdict::kOk;"),
    ("trailer-not-counted", "src/tape/machinery/cbm_rom.cpp",
     "if (trailer_) sink_.span(block_.time, block.time[i], block_pulses_ - 1);", ""),
    ("repeat-not-told", "src/tape/machinery/cbm_rom.cpp", "b.copy = repeat > first_copy ? 2 : 1;", "b.copy = 1;"),
    ("c16-ends-like-c64", "src/tape/loaders/rom_c16.cpp", "RomTiming{32, 64, true}", "RomTiming{32, 64, false}"),
    ("c16-classes-of-c64", "src/tape/loaders/rom_c16.cpp", "RomTiming{32, 64, true}", "RomTiming{22, 29, true}"),
    ("c64-classes-of-vic", "src/tape/loaders/rom_c64.cpp", "RomTiming{22, 29, false}", "RomTiming{23, 31, false}"),
    ("turbo-speed-window-narrow", "src/tape/machinery/bitstream.hpp",
     "threshold * 20 < format_.threshold * 13 || threshold * 20 > format_.threshold * 27",
     "threshold * 20 < format_.threshold * 19 || threshold * 20 > format_.threshold * 21"),
    ("turbo-msb-last", "src/tape/loaders/turbo_tape.cpp", "kBits = {0x20 * 16, 25, true};", "kBits = {0x20 * 16, 25, false};"),
    ("turbo-checksum-not-checked", "src/tape/loaders/turbo_tape.cpp",
     "complete && !bytes_.empty() && x == bytes_.back(), complete};", "complete, complete};"),
    ("turbo-filler-not-followed", "src/tape/loaders/turbo_tape.cpp",
     "        if (v == 0x02) {\n          // The next pilot", "        if (v == 0x03) {\n          // The next pilot"),
    ("turbo-trailer-not-counted", "src/tape/loaders/turbo_tape.cpp",
     "        if (v == 0) return true;\n        end_span();\n        return false;",
     "        return false;"),
    ("countdown12-name-off", "src/tape/loaders/countdown12.cpp",
     "kNameAt = 6, kNameEnd = 22;", "kNameAt = 5, kNameEnd = 21;"),
    ("half-waves-always-paired", "src/tape/decoder.cpp",
     "const bool pair = (first > p ? first - p : p - first) * 4 <= larger;", "const bool pair = true;"),
    ("pauses-not-summed", "src/tape/decoder.cpp", "pause_time += duration;", ""),
    ("machine-not-guessed", "src/tape/decoder.cpp",
     "if (settings.machine < 0 && !guessed && f.loader->machine >= 0) {", "if (false) {"),
    ("files-not-held-for-order", "src/tape/decoder.cpp",
     "for (const auto& l : loaders) before = std::min(before, l->holding());", ""),
    ("stretches-not-listed", "src/tape/decoder.cpp",
     "if (start > covered + join_) out.emplace_back(covered, start);", ""),
    ("edge-guess-inverted", "src/tape/decoder.cpp", "    if (lo * 8 <= hi) {\n      ++half_like_;", "    if (lo * 8 <= hi) {\n      ++whole_like_;"),
    ("control-codes-kept", "src/tape/names.cpp", "if ((c & 0x7F) < 0x20) continue;", ""),
    ("leading-dash-kept", "src/tape/names.cpp", "reserved |= s[0] == '-' || s[0] == '.';", ""),
    ("reserved-names-kept", "src/tape/names.cpp", "return reserved ? \"_\" + s : s;", "return s;"),
    # turbo loaders
    ("freeload-sync-5b", "src/tape/loaders/freeload.cpp", "kSync[] = {0x5A};", "kSync[] = {0x5B};"),
    ("freeload-end-inclusive", "src/tape/loaders/freeload.cpp",
     "start_end(le16(h), le16(h + 2))", "start_end(le16(h), static_cast<std::uint16_t>(le16(h + 2) + 1))"),
    ("us-gold-pilot-40", "src/tape/loaders/us_gold.cpp", "0x20, 32, kSync", "0x40, 32, kSync"),
    ("microload-size-not-negated", "src/tape/loaders/microload.cpp",
     "head.size = 0x10000u - le16(h + 2);", "head.size = le16(h + 2);"),
    ("wildload-key-high-byte", "src/tape/loaders/wildload.cpp", "v ^ (address & 0xFF)", "v ^ (address >> 8)"),
    ("wildload-start-off-by-one", "src/tape/loaders/wildload.cpp",
     "last() - block_.data.size() + 1)", "last() - block_.data.size())"),
    ("novaload-start-no-256", "src/tape/loaders/novaload.cpp", "le16(n + 1) + 256)", "le16(n + 1))"),
    ("novaload-check-not-summed", "src/tape/loaders/novaload.cpp",
     "sums_ok_ &= v == static_cast<std::uint8_t>(sum_);\n        sum_ += v;",
     "sums_ok_ &= v == static_cast<std::uint8_t>(sum_);"),
    ("novaload-name-17", "src/tape/loaders/novaload.cpp",
     "if (v > 16 || v == 0x55) return fail();", "if (v > 17 || v == 0x55) return fail();"),
    ("novaload-s-sum-without-page", "src/tape/loaders/novaload.cpp",
     "for (std::size_t k = 0; k + 1 < bytes_.size(); ++k) sum += bytes_[k];",
     "for (std::size_t k = 1; k + 1 < bytes_.size(); ++k) sum += bytes_[k];"),
    ("novaload-s-block-257", "src/tape/loaders/novaload.cpp",
     "if (bytes_.size() < 258) return true;", "if (bytes_.size() < 257) return true;"),
    ("ocean-flag-only-0", "src/tape/loaders/ocean.cpp",
     "if (bytes_.empty() && v > 1) return end_chain();", "if (bytes_.empty() && v > 0) return end_chain();"),
    ("ocean-f3-end-page-3", "src/tape/loaders/ocean.cpp", "if (bytes_[1] == 2 &&", "if (bytes_[1] == 3 &&"),
    ("bleep-first-pilot-0e", "src/tape/loaders/bleepload.cpp",
     "pilot_ = 0x0F;\n    number_ = 0;", "pilot_ = 0x0E;\n    number_ = 0;"),
    ("bleep-number-unchecked", "src/tape/loaders/bleepload.cpp", " && number == number_, complete}", ", complete}"),
    ("bleep-skip-count-off", "src/tape/loaders/bleepload.cpp",
     "bytes_[head + n] + 1 : 1;", "bytes_[head + n] : 1;"),
    ("bleep-s-pilot-fixed", "src/tape/loaders/bleepload.cpp",
     "        if (special_ && number_ == 0) pilot_ = v;\n", ""),
    ("bleep-s-last-at-512", "src/tape/loaders/bleepload.cpp",
     "le16(3) - load() == 0x100", "le16(3) - load() == 0x200"),
    ("burner-sync-at-92", "src/tape/loaders/burner.cpp",
     "f.header_bytes[at + 0x10] ^ kKey", "f.header_bytes[at + 0x0F] ^ kKey"),
    ("burner-pilot-count-unchecked", "src/tape/loaders/burner.cpp",
     "synced_ = v == sync_ && pilots_ >= 16;", "synced_ = v == sync_;"),
    ("anirog-addresses-at-0", "src/tape/loaders/anirog.cpp",
     "BlockHead head = start_end(le16(h + 1), le16(h + 3));", "BlockHead head = start_end(le16(h), le16(h + 2));"),
    ("anirog-flag-unchecked", "src/tape/loaders/anirog.cpp",
     "head.ok = h[0] == 1 && le16(h + 3) > le16(h + 1);", "head.ok = le16(h + 3) > le16(h + 1);"),
    ("turbo220-head-4", "src/tape/loaders/turbo220.cpp", "sizeof kSync, 6, read_head", "sizeof kSync, 4, read_head"),
    ("tequila-all-msb", "src/tape/loaders/tequila.cpp",
     "BlockLayout::Sum::kNone, 2, true}", "BlockLayout::Sum::kNone, 2, false}"),
    ("lk-avalon-little-endian", "src/tape/loaders/lk_avalon.cpp",
     "start_end(be16(h + 2), be16(h))", "start_end(le16(h + 2), le16(h))"),
    ("lk-avalon-sum-data-only", "src/tape/loaders/lk_avalon.cpp",
     "BlockLayout::Sum::kXorHeadAndData}", "BlockLayout::Sum::kXorData}"),
    ("turbo526-bits-of-250", "src/tape/loaders/turbo_tape.cpp",
     "std::make_unique<TurboTape>(info, sink, k526Bits)", "std::make_unique<TurboTape>(info, sink, kBits)"),
    ("am-action-size-off-by-one", "src/tape/loaders/american_action.cpp",
     "be16(1 + name_)) + 1;", "be16(1 + name_));"),
    ("am-action-load-0820-only", "src/tape/loaders/american_action.cpp",
     "(l == 0x01 || l == 0x20)", "(l == 0x20)"),
    ("power-load-end-high-at-10", "src/tape/loaders/power_load.cpp",
     "f.data[9] | f.data[11] << 8", "f.data[9] | f.data[10] << 8"),
    ("power-load-check-byte-not-waited", "src/tape/loaders/power_load.cpp",
     "if (bytes_.size() <= size_) return true;", "if (bytes_.size() < size_) return true;"),
    ("lexpeed-table-b6", "src/tape/loaders/lexpeed.cpp", "kTable = 0xB7;", "kTable = 0xB6;"),
    ("visiload-lead-unchecked", "src/tape/loaders/visiload.cpp", "    framed_ &= bits_.framed();\n", ""),
    ("visiload-order-flag-66", "src/tape/loaders/visiload.cpp",
     "bits_.set_msb_first(d == 0x26);", "bits_.set_msb_first(d == 0x66);"),
    ("cyber-f3-sync-cd", "src/tape/loaders/cyberload.cpp", "sync_ = 0xCC;", "sync_ = 0xCD;"),
    ("cyber-f3-size-0", "src/tape/loaders/cyberload.cpp", "bytes_[2] == 0 ? 256 : bytes_[2]", "bytes_[2]"),
    ("cyber-f4-header-sum-from-1", "src/tape/loaders/cyberload.cpp",
     "std::tuple{21u, 0u, 20u}", "std::tuple{21u, 1u, 20u}"),
    ("cyber-f4-block-sums-unchecked", "src/tape/loaders/cyberload.cpp",
     "sums &= got == n && k + n < bytes_.size() && bytes_[k + n] == x;", "sums &= got == n;"),
    ("cyber-timer-bytes-swapped", "src/tape/loaders/cyberload.cpp",
     "threshold_ = static_cast<std::uint32_t>(d[i + 6] << 8 | d[i + 1]);",
     "threshold_ = static_cast<std::uint32_t>(d[i + 1] << 8 | d[i + 6]);"),
    ("turbo-chain-not-contiguous", "src/tape/machinery/turbo.hpp",
     "block.report.complete && open_->start + open_->data.size() == block.start &&",
     "block.report.complete &&"),
    ("turbo-chain-joins-bad", "src/tape/machinery/turbo.hpp",
     "if (open_ && open_->verdict == Verdict::kOk && block.report.checksum_ok &&",
     "if (open_ && block.report.checksum_ok &&"),
    ("turbo-bad-as-incomplete", "src/tape/machinery/turbo.hpp",
     "Verdict::kBad;\n    f.offset = offset;", "Verdict::kIncomplete;\n    f.offset = offset;"),
    ("bits-threshold-not-followed", "src/tape/machinery/bitstream.hpp",
     "if ((++seen_ & 7) == 0) set();", "++seen_;"),
    ("sync-pilot-minimum-dropped", "src/tape/machinery/bitstream.hpp",
     "    if (matched_ == 0 && count_ < min_) return Step::kFail;\n", ""),
    ("search-no-nine-bit-pilots", "src/tape/machinery/search.cpp",
     "if (!bytes_open_ && (periodic8_ == kBytesFound || periodic9_ == kBytesFound)) {",
     "if (!bytes_open_ && periodic8_ == kBytesFound) {"),
    ("block-end-from-data", "src/tape/machinery/block_loader.hpp",
     "    f.end = static_cast<std::uint16_t>(head_.start + head_.size);\n", ""),
    ("nameless-number-from-0", "tools/scan/report.cpp",
     '" %03d $%04X", counts_.files, f.start', '" %03d $%04X", counts_.files - 1, f.start'),
    ("nameless-always-tape", "tools/scan/report.cpp",
     '(boot_name_.empty() ? std::string("TAPE") : boot_name_)', 'std::string("TAPE")'),
    ("boot-name-from-any-file", "tools/scan/report.cpp",
     "if (named(f)) boot_name_ = tape::safe_file_name(f.name);", "boot_name_ = tape::safe_file_name(f.name);"),
    ("visiload-zero-addresses-a-block", "src/tape/loaders/visiload.cpp",
     "if (bytes_.size() == extra_ + 4 && end() == 0 && start() == 0) {", "if (false) {"),
    ("visiload-pilot-keeps-format", "src/tape/loaders/visiload.cpp",
     "      bits_.reset_format();\n      extra_ = 0;\n", "      extra_ = 0;\n"),
    ("lexpeed-master-known-late", "src/tape/loaders/lexpeed.cpp",
     "return bytes_.size() >= sizeof kMaster &&", "return bytes_.size() >= 12 &&"),
    ("bleep-trailer-ends-chain", "src/tape/loaders/bleepload.cpp",
     "if (bytes_.size() == 8) trailer();", "if (bytes_.size() == 8) return end_chain();"),
    ("ocean-trailer-any-length", "src/tape/loaders/ocean.cpp",
     "if (trailing_ && bits_.skipped() < 256) return end_chain();", ""),
    ("ocean-end-without-blocks-trails", "src/tape/loaders/ocean.cpp",
     "      if (blocks_ == 0) return end_chain();  // an end with nothing before it: not a chain\n", ""),
    ("span-without-trailing-bits", "src/tape/machinery/turbo.hpp",
     "std::max({last_end_, bit_end_, span_time_})", "std::max(last_end_, span_time_)"),
    # reports, pictures and the command line
    ("shares-overlap-counted", "src/tape/decoder.cpp",
     "s.seconds(s.blocks.outside(s.pauses))", "s.seconds(s.blocks.outside(Coverage{0}))"),
    ("marks-of-every-loader", "src/tape/decoder.cpp",
     "if (std::find(s.found.begin(), s.found.end(), s.infos[i]) != s.found.end())", "if (i < s.loaders.size())"),
    ("json-quote-unescaped", "tools/scan/json.cpp", "if (c == '\"' || c == '\\\\') {", "if (c == '\\\\') {"),
    ("json-copy-state-fixed", "tools/scan/report.cpp", '.text("state", copy_text(c))', '.text("state", "ok")'),
    ("json-number-from-0", "tools/scan/report.cpp", '.integer("number", number)', '.integer("number", number - 1)'),
    ("json-end-is-start", "tools/scan/report.cpp",
     '.integer_or_null("end", addresses ? f.end : -1)', '.integer_or_null("end", addresses ? f.start : -1)'),
    ("json-share-blocks-only", "tools/scan/report.cpp",
     "(s.block_seconds + s.pause_seconds) / s.seconds", "s.block_seconds / s.seconds"),
    ("json-bad-count-of-incomplete", "tools/scan/report.cpp", '.integer("bad", c.verdicts[2])', '.integer("bad", c.verdicts[3])'),
    ("map-bad-coloured-ok", "tools/scan/pictures.cpp",
     'case tape::Verdict::kBad:\n      return "#ff7f0e";', 'case tape::Verdict::kBad:\n      return "#2ca02c";'),
    ("map-time-scale-halved", "tools/scan/pictures.cpp",
     "return left + plot_w * s / t1; };", "return left + plot_w * s / (2 * t1); };"),
    ("map-rows-half-length", "tools/scan/pictures.cpp",
     "const double us_per_row = 8 / half_cycles_per_us;", "const double us_per_row = 4 / half_cycles_per_us;"),
    ("hist-mark-one-bin-low", "tools/scan/pictures.cpp",
     "static_cast<std::size_t>(m.cycles / 8) == b", "static_cast<std::size_t>(m.cycles / 8) == b + 1"),
    ("hist-empty-bin-marks-dropped", "tools/scan/pictures.cpp",
     "      if (m.cycles > 0 && static_cast<std::size_t>(m.cycles / 8) == b)",
     "      if (m.cycles > 0 && h[b] > 0 && static_cast<std::size_t>(m.cycles / 8) == b)"),
    ("channels-all-live", "tools/scan/scan.cpp",
     "channels.push_back(std::make_unique<Channel>());", "channels.push_back(std::make_unique<Channel>(true));"),
    ("folder-always-recursive", "tools/scan/scan.cpp", "  if (recursive)\n    for", "  if (true)\n    for"),
    ("folder-not-sorted", "tools/scan/scan.cpp", "  std::sort(files.begin(), files.end());\n", ""),
    ("folder-tap-by-name-only", "tools/scan/scan.cpp",
     'return h == "C64-TAPE-RAW" || h == "C16-TAPE-RAW";', "return false;"),
    ("extract-stems-not-numbered", "tools/scan/scan.cpp",
     "for (int k = 2; std::find(stems.begin(), stems.end(), name) != stems.end(); ++k)",
     "for (int k = 2; false; ++k)"),
    ("totals-unreadable-uncounted", "tools/scan/scan.cpp", "    unreadable += !o.read;\n", ""),
    ("cli-inline-value-dropped", "src/cli/cli.cpp", "      inline_ = a.substr(eq + 1);", "      inline_ = \"\";"),
    ("cli-help-on-stderr", "src/cli/cli.cpp", "std::fputs(tool.usage, stdout);", "std::fputs(tool.usage, stderr);"),
    ("cli-usage-exit-1", "src/cli/cli.cpp", "  return kUsageError;\n", "  return 1;\n"),
    ("cli-plus4-unknown", "src/cli/cli.cpp", 't == "c16" || t == "plus4" || t == "2"', 't == "c16" || t == "2"'),
    ("cli-double-dash-kept", "src/cli/cli.cpp", "    operands_only_ = true;\n    return next();", "    operands_only_ = true;"),
]


def run(cmd, cwd, timeout):
    try:
        return subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


def failing_gtests(binary, cwd):
    r = run([binary, "--gtest_brief=1"], cwd, 600)
    if r is None:
        return ["(timeout)"]
    return sorted({l.split()[3] for l in r.stdout.splitlines() if l.startswith("[  FAILED  ]") and len(l.split()) > 3 and "," not in l}) or (
        ["(crash)"] if r.returncode != 0 else [])


def main():
    args = sys.argv[1:]
    only = None
    if args[:1] == ["--only"]:
        only = set(args[1].split(","))
        args = args[2:]
    out_path = os.path.abspath(args[0])
    top = subprocess.check_output(["git", "rev-parse", "--show-toplevel"], text=True).strip()
    work = os.path.join(top, "build-faults")
    src, build = os.path.join(work, "src"), os.path.join(work, "build")
    os.makedirs(work, exist_ok=True)
    subprocess.run(f"rm -rf {src} && mkdir -p {src} && git archive HEAD | tar -xm -C {src}",
                   shell=True, cwd=top, check=True)
    tapes = os.path.normpath(os.path.join(top, "..", "shared", "tapes"))
    subprocess.run(["cmake", "-S", src, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                    f"-DTAPEWREN_TAPES_DIR={tapes}"],
                   check=True, capture_output=True)
    subprocess.run(["cmake", "--build", build, "-j", "2"], check=True, capture_output=True)
    caught = total = 0
    with open(out_path, "w") as out:
        for name, path, old, new in FAULTS:
            if only and name not in only:
                continue
            file = os.path.join(src, path)
            text = open(file).read()
            if old not in text:
                print(f"{name}\tn/a", file=out, flush=True)
                continue
            open(file, "w").write(text.replace(old, new, 1))
            try:
                if run(["cmake", "--build", build, "-j", "2"], top, 900).returncode != 0:
                    print(f"{name}\tdoes-not-build", file=out, flush=True)
                    continue
                total += 1
                hits = []
                for binary in ("tests/unit_tests", "tests/posix_tests"):
                    hits += failing_gtests(os.path.join(build, binary), build)
                if not hits:
                    r = run(["ctest", "--test-dir", build, "-j", "2", "-LE", "wine", "--timeout", "120"], top, 1800)
                    hits = ["(timeout)"] if r is None else [
                        l.split()[3] for l in r.stdout.splitlines() if " Test " in l and "***" in l][:6]
                caught += bool(hits)
                print(f"{name}\t{'caught' if hits else 'MISSED'}\t{' '.join(hits[:6])}", file=out, flush=True)
            finally:
                open(file, "w").write(text)
        print(f"# {caught} of {total} planted faults caught", file=out, flush=True)


if __name__ == "__main__":
    main()
