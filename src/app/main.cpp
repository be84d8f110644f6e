// tapewren-record: records a tape through the Tapewren device into a dump file.
#include "app/live_names.hpp"
#include "app/recorder.hpp"
#include "platform/host.hpp"

int main(int argc, char** argv) {
  namespace platform = tapewren::platform;
  platform::open_missing_standard_streams();
  platform::survive_lost_console();
  tapewren::LiveNames names(platform::console());
  tapewren::Host host{platform::link(), platform::keyboard(), platform::interrupts(),
                      platform::console(), names};
  return tapewren::run_recorder(argc, argv, host);
}
