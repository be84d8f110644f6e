// The device's side of the conversation as the recorder sees it.
#include "protocol.hpp"

#include <cstdio>
#include <cstring>

namespace tapewren {

bool ends_with_reply(const std::uint8_t* run, std::size_t n, ReplyIndex reply) {
  const std::size_t len = reply_length(reply);
  return n >= len && std::memcmp(run + n - len, reply_table[reply], len) == 0;
}

std::unique_ptr<Port> open_serial_port(LinkFactory& factory, Console& console, const char* name) {
  std::unique_ptr<Port> port = factory.open_port(name);
  if (!port) console.err("Unable to open %s\n", name);
  return port;
}

std::unique_ptr<DumpFile> create_dump_file(LinkFactory& factory, Console& console,
                                           const char* path) {
  std::unique_ptr<DumpFile> file = factory.create_file(path);
  if (!file) console.err("Unable to open file %s for write\n", path);
  return file;
}

bool wait_for_prompt(Port& port, Console& console, const char* port_name) {
  std::uint8_t buffer[kChunkSize];
  for (;;) {
    const ReadResult r = port.read(buffer, kChunkSize);
    if (!r.ok) {
      console.err("Error reading prompt from %s (%ld)\n", port_name, static_cast<long>(r.count));
      return false;
    }
    // Whatever the device says before the prompt is discarded.
    if (ends_with_reply(buffer, r.count, REPLY_PROMPT)) return true;
  }
}

bool send_record_command(Port& port, Console& console, const char* port_name, int edge_mode,
                         int machine_type, int video_standard) {
  char command[kChunkSize];
  const int len = std::snprintf(command, sizeof command, "u %d %d %d\r", edge_mode, machine_type,
                                video_standard);
  if (!port.write(reinterpret_cast<const std::uint8_t*>(command),
                  static_cast<std::uint32_t>(len))) {
    console.err("Error writing command to %s\n", port_name);
    return false;
  }
  return true;
}

void send_stop_request(Port& port) {
  static const std::uint8_t kSpace = ' ';
  port.write(&kSpace, 1);
}

}  // namespace tapewren
