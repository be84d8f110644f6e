// The byte exchange with the Tapewren device: its replies, the record command and the
// stop request, plus opening the port and creating the dump file with their messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "io.hpp"

namespace tapewren {

// Every read of the port asks for this many bytes.
constexpr std::uint32_t kChunkSize = 64;

// The device's replies, picked by position. Both terminators end with the prompt: after a
// recording the device is back at it.
enum ReplyIndex { REPLY_PROMPT = 0, REPLY_ACK = 1, REPLY_END_OK = 2, REPLY_END_KO = 3 };
inline constexpr const char* reply_table[4] = {"> ", "OK\r\n", "OK!\r\n> ", "KO!\r\n> "};

// Length of a reply, taken from its text wherever it is needed.
constexpr std::size_t reply_length(ReplyIndex reply) {
  return std::char_traits<char>::length(reply_table[reply]);
}

// True when the run of n bytes ends with reply_table[reply], byte for byte.
bool ends_with_reply(const std::uint8_t* run, std::size_t n, ReplyIndex reply);

// Prints "Unable to open ..." and returns null when the port cannot be opened.
std::unique_ptr<Port> open_serial_port(LinkFactory& factory, Console& console, const char* name);
// Prints "Unable to open file ... for write" and returns null when the file cannot be created.
std::unique_ptr<DumpFile> create_dump_file(LinkFactory& factory, Console& console,
                                           const char* path);

// Reads until a read ends with the prompt; false after a failed read (message printed).
bool wait_for_prompt(Port& port, Console& console, const char* port_name);
// Sends "u E M V\r"; false when the write fails (message printed).
bool send_record_command(Port& port, Console& console, const char* port_name, int edge_mode,
                         int machine_type, int video_standard);
// One space byte; the result is deliberately not looked at.
void send_stop_request(Port& port);

}  // namespace tapewren
