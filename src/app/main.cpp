// tapewren-record: records a tape through the Tapewren device into a dump file.
#include "app/recorder.hpp"
#include "platform/host.hpp"

namespace {

// Names are not intercepted yet: stored chunks go nowhere else.
class NoNameInterception : public tapewren::ChunkObserver {
 public:
  void on_stored(const std::uint8_t*, std::uint32_t) override {}
};

}  // namespace

int main(int argc, char** argv) {
  namespace platform = tapewren::platform;
  NoNameInterception names;
  tapewren::Host host{platform::link(), platform::keyboard(), platform::interrupts(),
                      platform::console(), names};
  return tapewren::run_recorder(argc, argv, host);
}
