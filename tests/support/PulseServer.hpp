#pragma once

// A private PulseAudio daemon for a test: its own socket, runtime folder and HOME, no autospawn,
// never idle-exiting. Null sinks stand in for microphones: what is played into a sink comes out
// of its monitor source ("<sink>.monitor"). Each monitor is kept recording by a recorder of its
// own, as a real microphone keeps running: an idle null sink sleeps up to two seconds before it
// notices a new low-latency stream, which no hardware source does.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/Child.hpp"
#include "support/TemporaryFolder.hpp"

namespace earshot::testing {

class PulseServer {
 public:
  struct Sink {
    std::string name;
    unsigned rate = 44100;
    unsigned channels = 2;
  };

  // Starts the daemon with these sinks; the first one's monitor is the default source.
  explicit PulseServer(std::vector<Sink> sinks);
  // One sink, "mic" (44.1 kHz stereo).
  PulseServer();
  // Stops every player and the daemon.
  ~PulseServer();
  PulseServer(const PulseServer&) = delete;
  PulseServer& operator=(const PulseServer&) = delete;

  // The daemon answers on its socket.
  bool running() const { return running_; }
  // Such as "unix:/tmp/earshot-abc/runtime/native".
  std::string address() const { return "unix:" + socket_; }
  static std::string monitorOf(const std::string& sink) { return sink + ".monitor"; }

  // What a client needs to reach this daemon (and no other): the server, a private client
  // configuration without autospawn, a private cookie.
  std::map<std::string, std::string> environment() const;

  bool setDefaultSource(const std::string& source);
  // Unloads the null sink (and so its monitor), as unplugging a microphone does.
  bool removeSink(const std::string& sink);
  // `pactl` with these arguments; its standard output, or empty on failure.
  std::string pactl(const std::vector<std::string>& arguments) const;

  // Plays `file` into `sink` in real time; the player runs until it ends, or until stopPlaying()
  // or the destructor.
  void play(const std::string& file, const std::string& sink);
  void stopPlaying();
  // Plays `file` into `sink` in real time and returns once it has all been played; false when the
  // player fails or is still playing after `limit`.
  bool playThrough(const std::string& file, const std::string& sink,
                   std::chrono::seconds limit = std::chrono::seconds(30)) const;

  // Ends the daemon at once (SIGKILL), as a crash would.
  void kill();
  // Starts it again on the same socket with the same sinks. True once it answers.
  bool restart();
  // Stops the daemon (SIGSTOP): its socket takes connections and requests and nothing answers,
  // as with a hung server. thaw() lets it go on; the destructor ends it either way.
  void freeze();
  void thaw();

 private:
  bool start();
  std::size_t recorders() const;

  TemporaryFolder folder_;
  std::string socket_;
  std::vector<Sink> sinks_;
  std::unique_ptr<Child> daemon_;
  std::vector<std::unique_ptr<Child>> players_;
  std::vector<std::unique_ptr<Child>> keepers_;
  bool running_ = false;
};

// The full path of a program found on PATH; empty when missing.
std::string programPath(const std::string& name);

}  // namespace earshot::testing
