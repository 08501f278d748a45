#include "platform/linux/GLibSilence.hpp"

#include <glib.h>

#include <mutex>

namespace earshot::linux_platform {

namespace {

GLogWriterOutput dropRecord(GLogLevelFlags, const GLogField*, gsize, gpointer) {
  return G_LOG_WRITER_HANDLED;
}

void dropMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

void dropText(const gchar*) {}

}  // namespace

void silenceGLib() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_log_set_writer_func(dropRecord, nullptr, nullptr);
    g_log_set_default_handler(dropMessage, nullptr);
    g_set_print_handler(dropText);
    g_set_printerr_handler(dropText);
  });
}

}  // namespace earshot::linux_platform
