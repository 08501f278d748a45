// Runs a command with its standard output discarded and prints "<peak resident KB> <seconds>
// <CPU seconds>" of the whole process: peak_memory <program> <argument>...
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: peak_memory <program> <argument>...\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) < 0) return 1;
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
  std::printf("%ld %.2f %.2f\n", usage.ru_maxrss, took.count(),
              seconds(usage.ru_utime) + seconds(usage.ru_stime));
  return 0;
}
