// Counts the threads a process creates: linked into the end-to-end tests, which read the count,
// and preloaded into the listener by bench_listen_stalls, where every creation appends the
// monotonic clock's nanoseconds to the file named by EARSHOT_THREAD_LOG.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

std::atomic<long> created{0};

void log() {
  const char* path = std::getenv("EARSHOT_THREAD_LOG");
  if (!path) return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  char line[32];
  const int length = std::snprintf(line, sizeof line, "%lld\n",
                                   static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
  const int file = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (file < 0) return;
  if (write(file, line, static_cast<std::size_t>(length)) < 0) {
    // Nothing to be done: the bench counts fewer.
  }
  close(file);
}

}  // namespace

extern "C" long earshotThreadsCreated() {
  return created.load();
}

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument) {
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
  ++created;
  log();
  return real(thread, attributes, start, argument);
}
