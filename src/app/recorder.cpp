// The run sequence: banner, command line, port, dump file, prompt, record command, capture.
// The port is always opened before the dump file is created and closed before it.
#include "app/recorder.hpp"

#include "app/command_line.hpp"
#include "link/protocol.hpp"

namespace tapewren {

int run_recorder(int argc, char** argv, Host& host) {
  Console& con = host.console;
  Settings settings;
  CaptureState state;
  con.out("Tapewren record utility, rel 1.0\n");
  con.out("Communicates with a Tapewren device to record tapes\n\n");

  const int parsed = parse_command_line(argc, argv, con, settings);
  if (parsed != kRunRecording) return parsed;

  std::unique_ptr<Port> port = open_serial_port(host.link, con, settings.port_name);
  if (!port) return 1;
  std::unique_ptr<DumpFile> file = create_dump_file(host.link, con, settings.out_path);
  if (!file) {
    port->close();
    return 1;
  }
  const auto close_both = [&] {
    port->close();
    file->close();
  };
  if (!wait_for_prompt(*port, con, settings.port_name) ||
      !send_record_command(*port, con, settings.port_name, settings.edge_mode(),
                           settings.machine_type, settings.video_standard)) {
    close_both();
    return 1;
  }

  CaptureIo io{*port, *file, host.keyboard, host.interrupts, con, host.observer};
  const int signal = run_capture_loop(io, settings.port_name, settings.out_path, state);
  close_both();
  con.out("Total bytes saved: %ld\n", static_cast<long>(state.byte_total));
  con.flush_out();
  return signal ? 128 + signal : 0;
}

}  // namespace tapewren
