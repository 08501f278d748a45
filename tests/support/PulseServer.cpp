#include "support/PulseServer.hpp"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/Process.hpp"

namespace fs = std::filesystem;

namespace earshot::testing {

std::string programPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::string candidate = folder + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

PulseServer::PulseServer() : PulseServer(std::vector<Sink>{Sink{"mic", 44100, 2}}) {}

PulseServer::PulseServer(std::vector<Sink> sinks) : sinks_(std::move(sinks)) {
  for (const char* sub : {"home", "runtime", "state"}) fs::create_directories(folder_.file(sub));
  socket_ = folder_.file("runtime/native");
  std::ofstream(folder_.file("client.conf")) << "autospawn = no\n";
  running_ = start();
}

PulseServer::~PulseServer() {
  stopPlaying();
  keepers_.clear();
  daemon_.reset();
}

std::map<std::string, std::string> PulseServer::environment() const {
  return {{"PULSE_SERVER", address()},
          {"PULSE_CLIENTCONFIG", folder_.file("client.conf")},
          {"PULSE_COOKIE", folder_.file("cookie")}};
}

bool PulseServer::start() {
  std::vector<std::string> arguments{
      "-n",  // no default script: only the modules below
      "--daemonize=no",
      "--use-pid-file=no",
      "--exit-idle-time=-1",
      "--system=no",
      "--realtime=no",
      "--high-priority=no",
      "--disallow-exit=yes",
      "--log-target=file:" + folder_.file("daemon.log"),
      "-L",
      "module-native-protocol-unix socket=" + socket_ + " auth-anonymous=1"};
  for (const auto& sink : sinks_)
    arguments.insert(arguments.end(), {"-L", "module-null-sink sink_name=" + sink.name +
                                                 " rate=" + std::to_string(sink.rate) +
                                                 " channels=" + std::to_string(sink.channels)});
  auto environment = this->environment();
  environment["HOME"] = folder_.file("home");
  environment["XDG_RUNTIME_DIR"] = folder_.file("runtime");
  environment["PULSE_RUNTIME_PATH"] = folder_.file("runtime");
  environment["PULSE_STATE_PATH"] = folder_.file("state");
  // No session bus for it to find.
  environment["DBUS_SESSION_BUS_ADDRESS"] = "disabled:";
  environment["DISPLAY"] = "";
  daemon_ = std::make_unique<Child>(programPath("pulseaudio"), arguments, environment,
                                    Child::Ending::kill);
  // Up once it answers; bounded.
  for (int i = 0; i < 100; ++i) {
    if (!pactl({"info"}).empty()) {
      if (!sinks_.empty()) setDefaultSource(monitorOf(sinks_.front().name));
      for (const auto& sink : sinks_)
        keepers_.push_back(std::make_unique<Child>(
            programPath("parec"),
            std::vector<std::string>{"--device=" + monitorOf(sink.name), "--latency-msec=10",
                                     "--file-format=wav", "/dev/null"},
            this->environment(), Child::Ending::kill));
      // A fresh null sink first sleeps its longest block; a suspend and resume restarts its clock
      // at the recorders' short latency.
      for (int j = 0; j < 50 && recorders() < sinks_.size(); ++j)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      for (const auto& sink : sinks_) {
        pactl({"suspend-sink", sink.name, "1"});
        pactl({"suspend-sink", sink.name, "0"});
      }
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

std::size_t PulseServer::recorders() const {
  std::istringstream outputs(pactl({"list", "short", "source-outputs"}));
  std::size_t count = 0;
  for (std::string line; std::getline(outputs, line);) count += line.empty() ? 0 : 1;
  return count;
}

std::string PulseServer::pactl(const std::vector<std::string>& arguments) const {
  RunOptions options;
  options.environment = environment();
  options.timeout = std::chrono::seconds(5);
  const auto result = run(programPath("pactl"), arguments, options);
  if (result.status != 0) return {};
  return result.out.empty() ? std::string("\n") : result.out;
}

bool PulseServer::setDefaultSource(const std::string& source) {
  return !pactl({"set-default-source", source}).empty();
}

bool PulseServer::removeSink(const std::string& sink) {
  std::istringstream modules(pactl({"list", "short", "modules"}));
  for (std::string line; std::getline(modules, line);) {
    if (line.find("module-null-sink") == std::string::npos ||
        line.find("sink_name=" + sink + " ") == std::string::npos)
      continue;
    return !pactl({"unload-module", line.substr(0, line.find('\t'))}).empty();
  }
  return false;
}

void PulseServer::play(const std::string& file, const std::string& sink) {
  players_.push_back(std::make_unique<Child>(programPath("paplay"),
                                             std::vector<std::string>{"--device=" + sink, file},
                                             environment(), Child::Ending::kill));
}

bool PulseServer::playThrough(const std::string& file, const std::string& sink,
                              std::chrono::seconds limit) const {
  RunOptions options;
  options.environment = environment();
  options.timeout = limit;
  return run(programPath("paplay"), {"--device=" + sink, file}, options).status == 0;
}

void PulseServer::stopPlaying() {
  players_.clear();
}

void PulseServer::kill() {
  stopPlaying();
  keepers_.clear();
  daemon_.reset();
  running_ = false;
}

void PulseServer::freeze() {
  if (daemon_) ::kill(daemon_->pid(), SIGSTOP);
}

void PulseServer::thaw() {
  if (daemon_) ::kill(daemon_->pid(), SIGCONT);
}

bool PulseServer::restart() {
  kill();
  running_ = start();
  return running_;
}

}  // namespace earshot::testing
