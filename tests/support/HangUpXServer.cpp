#include "support/HangUpXServer.hpp"

#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace earshot::testing {

namespace {

// Appends `value` in this machine's byte order, which is the order a local client asks for.
template <typename T>
void put(std::vector<std::uint8_t>& out, T value) {
  std::uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  out.insert(out.end(), bytes, bytes + sizeof(T));
}

void pad(std::vector<std::uint8_t>& out, std::size_t count) {
  out.insert(out.end(), count, 0);
}

// A successful setup reply: one pixmap format, one 24-bit screen with one TrueColor visual.
std::vector<std::uint8_t> setupReply() {
  std::vector<std::uint8_t> body;
  put<std::uint32_t>(body, 0);         // release
  put<std::uint32_t>(body, 0x200000);  // resource id base
  put<std::uint32_t>(body, 0x1fffff);  // resource id mask
  put<std::uint32_t>(body, 0);         // motion buffer size
  put<std::uint16_t>(body, 4);         // vendor length
  put<std::uint16_t>(body, 65535);     // maximum request length
  for (std::uint8_t byte : {1, 1, 0, 0, 32, 32, 8, 255}) body.push_back(byte);
  pad(body, 4);
  for (char c : {'f', 'a', 'k', 'e'}) body.push_back(static_cast<std::uint8_t>(c));
  for (std::uint8_t byte : {24, 32, 32}) body.push_back(byte);  // depth, bits per pixel, pad
  pad(body, 5);
  for (std::uint32_t word : {0x100u, 0x20u, 0xffffffu, 0u, 0u}) put(body, word);
  for (std::uint16_t half : {640, 480, 200, 150, 1, 1}) put(body, half);
  put<std::uint32_t>(body, 0x21);                                // root visual
  for (std::uint8_t byte : {0, 0, 24, 1}) body.push_back(byte);  // one depth
  body.push_back(24);
  pad(body, 1);
  put<std::uint16_t>(body, 1);  // one visual
  pad(body, 4);
  put<std::uint32_t>(body, 0x21);
  body.push_back(4);  // TrueColor
  body.push_back(8);
  put<std::uint16_t>(body, 256);
  for (std::uint32_t mask : {0xff0000u, 0xff00u, 0xffu}) put(body, mask);
  pad(body, 4);

  std::vector<std::uint8_t> reply{1, 0};
  put<std::uint16_t>(reply, 11);
  put<std::uint16_t>(reply, 0);
  put<std::uint16_t>(reply, static_cast<std::uint16_t>(body.size() / 4));
  reply.insert(reply.end(), body.begin(), body.end());
  return reply;
}

}  // namespace

HangUpXServer::HangUpXServer()
    : reply_(setupReply()), server_(900, [this](int client) { serve(client); }) {}

void HangUpXServer::serve(int client) {
  // The client's greeting arrives in one piece; its content does not matter.
  pollfd greeting{client, POLLIN, 0};
  char ignored[1024];
  if (poll(&greeting, 1, 1000) > 0 && read(client, ignored, sizeof ignored) > 0 &&
      write(client, reply_.data(), reply_.size()) == static_cast<ssize_t>(reply_.size()))
    ++answered_;
  close(client);
}

}  // namespace earshot::testing
