// What the capture loop needs from the user's side of the console: a key poll and the news
// that the user asked the process to end (Ctrl-C and its kin).
#pragma once

namespace tapewren {

class Keyboard {
 public:
  virtual ~Keyboard() = default;
  // Puts the keyboard into single-key, no-echo mode for the loop, and back again.
  virtual void enter() {}
  virtual void leave() {}
  // The next waiting key code (0 to 255) without blocking, or -1 when none is waiting.
  virtual int next_key() = 0;
};

class Interrupts {
 public:
  virtual ~Interrupts() = default;
  // Starts listening for termination requests.
  virtual void arm() {}
  // The number of the termination signal received so far, or 0.
  virtual int pending() = 0;
  // How the signal is named in the message, e.g. "SIGINT".
  virtual const char* name(int signal) = 0;
};

// Keeps the keyboard in the loop's mode for as long as it lives, on every way out.
class KeyboardMode {
 public:
  explicit KeyboardMode(Keyboard& keyboard) : keyboard_(keyboard) { keyboard_.enter(); }
  ~KeyboardMode() { keyboard_.leave(); }
  KeyboardMode(const KeyboardMode&) = delete;
  KeyboardMode& operator=(const KeyboardMode&) = delete;

 private:
  Keyboard& keyboard_;
};

}  // namespace tapewren
