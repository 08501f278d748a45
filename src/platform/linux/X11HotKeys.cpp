#include "platform/linux/X11HotKeys.hpp"

#include <array>
#include <set>
#include <utility>

#include "platform/linux/X11Errors.hpp"

// Last: Xlib defines macros such as None, True and Status.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

namespace earshot::linux_platform {

namespace {

// The eight core modifier bits; pointer buttons and the keyboard group are not part of a chord.
constexpr unsigned coreModifiers = 0xFF;

unsigned xModifiers(std::uint32_t modifiers) {
  unsigned mask = 0;
  if (modifiers & VoiceKeyCombo::control) mask |= ControlMask;
  if (modifiers & VoiceKeyCombo::option) mask |= Mod1Mask;
  if (modifiers & VoiceKeyCombo::shift) mask |= ShiftMask;
  if (modifiers & VoiceKeyCombo::command) mask |= Mod4Mask;
  return mask;
}

// Caps Lock, and the modifiers that Num Lock and Scroll Lock are mapped to right now.
std::array<unsigned, 3> lockModifiers(Display* display) {
  std::array<unsigned, 3> locks{LockMask, 0, 0};
  XModifierKeymap* map = XGetModifierMapping(display);
  if (!map) return locks;
  if (displayLost(display)) {
    XFreeModifiermap(map);
    return locks;
  }
  for (int modifier = 0; modifier < 8; ++modifier) {
    for (int k = 0; k < map->max_keypermod; ++k) {
      KeyCode code = map->modifiermap[modifier * map->max_keypermod + k];
      if (!code) continue;
      KeySym keysym = XkbKeycodeToKeysym(display, code, 0, 0);
      if (keysym == XK_Num_Lock) locks[1] |= 1u << modifier;
      if (keysym == XK_Scroll_Lock) locks[2] |= 1u << modifier;
    }
  }
  XFreeModifiermap(map);
  return locks;
}

// `modifiers` with each combination of the lock modifiers.
std::set<unsigned> withLocks(unsigned modifiers, const std::array<unsigned, 3>& locks) {
  std::set<unsigned> variants;
  for (unsigned subset = 0; subset < 8; ++subset) {
    unsigned variant = modifiers;
    for (unsigned k = 0; k < 3; ++k)
      if (subset & (1u << k)) variant |= locks[k];
    variants.insert(variant);
  }
  return variants;
}

// Whether any keyboard device holds `code` down right now. The core keyboard's own state changes
// only with the events its keyboards pass on to it: while another client grabs one of them, that
// keyboard's events go to that client alone, and a key let go there stays down on the core
// keyboard, even after the grab. Empty when no keyboard can be asked.
std::optional<bool> keyboardsHold(Display* display, KeyCode code) {
  int count = 0;
  XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
  if (!devices) return std::nullopt;
  std::optional<bool> held;
  XErrorTrap trap(display);
  for (int d = 0; d < count && held != true; ++d) {
    // A keyboard another client grabs shows as floating while the grab lasts.
    if (devices[d].use != XISlaveKeyboard && devices[d].use != XIFloatingSlave) continue;
    // Unplugged meanwhile: the trap takes the error and the keyboard is skipped.
    XDevice* device = XOpenDevice(display, static_cast<XID>(devices[d].deviceid));
    if (!device) continue;
    if (XDeviceState* state = XQueryDeviceState(display, device)) {
      auto* item = state->data;
      for (int c = 0; c < state->num_classes; ++c) {
        if (item->c_class == KeyClass) {
          const auto* keys = reinterpret_cast<const XKeyState*>(item);
          held = held.value_or(false) ||
                 ((static_cast<unsigned char>(keys->keys[code / 8]) >> (code % 8)) & 1u);
        }
        item = reinterpret_cast<XInputClass*>(reinterpret_cast<char*>(item) + item->length);
      }
      XFreeDeviceState(state);
    }
    XCloseDevice(display, device);
  }
  trap.finish();
  XIFreeDeviceInfo(devices);
  return held;
}

// Whether a release of `keyCode` waits in Xlib's queue; the queue is left as it is.
bool releaseQueued(Display* display, unsigned keyCode) {
  struct Look {
    unsigned keyCode;
    bool found = false;
  } look{keyCode};
  XEvent unused;
  XCheckIfEvent(
      display, &unused,
      [](Display*, XEvent* event, XPointer argument) -> Bool {
        auto* look = reinterpret_cast<Look*>(argument);
        if (event->type == KeyRelease && event->xkey.keycode == look->keyCode) look->found = true;
        return False;
      },
      reinterpret_cast<XPointer>(&look));
  return look.found;
}

}  // namespace

struct X11HotKeys::Connection {
  Display* display = nullptr;
  Window root = 0;
  int fd = -1;
  bool lost = false;
  unsigned ignored = LockMask;  // the lock modifiers, stripped from an event before matching
  bool xinput = false;          // the server speaks XInput 2, so each keyboard can be asked
};

X11HotKeys::X11HotKeys(MainLoop& loop, std::string display)
    : loop_(loop), name_(std::move(display)) {}

X11HotKeys::~X11HotKeys() {
  disconnect();
}

void X11HotKeys::disconnect() {
  if (!connection_) return;
  loop_.unwatch(connection_->fd);
  closeDisplay(connection_->display);
  connection_.reset();
  grabs_.clear();
  pressed_.clear();
}

bool X11HotKeys::connect() {
  if (connection_ && !lost()) return true;
  // A lost connection is gone with every grab it held; start afresh.
  disconnect();
  Display* display = openDisplayQuietly(name_.empty() ? nullptr : name_.c_str());
  if (!display) return false;
  connection_ = std::make_unique<Connection>();
  connection_->display = display;
  connection_->root = DefaultRootWindow(display);
  connection_->fd = ConnectionNumber(display);
  // Holding a key then repeats presses only, without a release before each.
  Bool supported = False;
  {
    XDeadline deadline(display);
    XkbSetDetectableAutoRepeat(display, True, &supported);
  }
  if (displayLost(display)) {
    disconnect();
    return false;
  }
  {
    XDeadline deadline(display);
    int opcode, event, error, major = 2, minor = 0;
    connection_->xinput = XQueryExtension(display, "XInputExtension", &opcode, &event, &error) &&
                          XIQueryVersion(display, &major, &minor) == Success;
  }
  loop_.watchReadable(connection_->fd, [this] { drain(); });
  return true;
}

bool X11HotKeys::lost() const {
  if (!connection_) return false;
  if (!connection_->lost && displayLost(connection_->display)) {
    // A dead socket stays readable: stop watching it. It is closed by the next connect().
    connection_->lost = true;
    loop_.unwatch(connection_->fd);
    if (!grabs_.empty() && lostSink_) {
      // Told later, on the loop: the owner may register again, which must not happen inside the
      // request that found the server gone.
      loop_.post([sink = lostSink_, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.lock()) sink("the X display went away");
      });
    }
  }
  return connection_->lost;
}

HotKeyService::StatusCode X11HotKeys::install(Sink sink) {
  if (!connect()) return noDisplay;
  sink_ = std::move(sink);
  return 0;
}

bool X11HotKeys::installed() const {
  return connection_ && !lost() && sink_;
}

HotKeyService::Registration X11HotKeys::add(VoiceKeyCombo combo, Identifier identifier) {
  if (!connection_) return {noDisplay, {}};
  if (lost()) return {connectionLost, {}};
  Display* display = connection_->display;
  XDeadline deadline(display);
  const auto keysym = keysymFor(combo.keyCode);
  // The first look-up fetches the keyboard mapping.
  const KeyCode code = keysym ? XKeysymToKeycode(display, *keysym) : 0;
  if (lost()) return {connectionLost, {}};
  if (!code) return {unknownKey, {}};
  const unsigned modifiers = xModifiers(combo.modifiers);
  // The server lets a client grab its own chord again; this process's chords are exclusive too.
  for (const auto& [handle, grab] : grabs_)
    if (grab.keyCode == code && grab.modifiers == modifiers) return {alreadyRegistered, {}};

  const auto locks = lockModifiers(display);
  if (lost()) return {connectionLost, {}};
  connection_->ignored = locks[0] | locks[1] | locks[2];
  const std::set<unsigned> variants = withLocks(modifiers, locks);

  int error;
  {
    XErrorTrap trap(display);
    if (!lost())
      for (unsigned variant : variants)
        XGrabKey(display, code, variant, connection_->root, False, GrabModeAsync, GrabModeAsync);
    error = trap.finish();
  }
  if (lost()) return {connectionLost, {}};
  drainLater();
  if (error != 0) {
    // All or nothing: a refused variant undoes the others (ungrabbing touches only our grabs).
    for (unsigned variant : variants) XUngrabKey(display, code, variant, connection_->root);
    XFlush(display);
    return {error == BadAccess ? alreadyRegistered : error, {}};
  }
  const Handle handle = nextHandle_++;
  grabs_[handle] =
      Grab{identifier, combo.keyCode, code, modifiers, {variants.begin(), variants.end()}};
  return {0, handle};
}

void X11HotKeys::remove(Handle handle) {
  auto found = grabs_.find(handle);
  if (found == grabs_.end()) return;
  const Grab grab = std::move(found->second);
  grabs_.erase(found);
  // Key code 0 is AnyKey to the server.
  if (!connection_ || lost() || !grab.keyCode) return;
  for (unsigned variant : grab.variants)
    XUngrabKey(connection_->display, grab.keyCode, variant, connection_->root);
  XFlush(connection_->display);
}

bool X11HotKeys::isKeyDown(std::uint32_t keyCode) {
  if (!connect()) return false;
  XDeadline deadline(connection_->display);
  const auto keysym = keysymFor(keyCode);
  const KeyCode code = keysym ? XKeysymToKeycode(connection_->display, *keysym) : 0;
  if (!code || lost()) return false;
  std::optional<bool> held;
  if (connection_->xinput) held = keyboardsHold(connection_->display, code);
  if (!held && !lost()) {
    char keys[32] = {};
    XQueryKeymap(connection_->display, keys);
    held = (static_cast<unsigned char>(keys[code / 8]) >> (code % 8)) & 1u;
  }
  if (lost()) return false;
  drainLater();
  return *held;
}

void X11HotKeys::regrab() {
  if (!connection_ || lost()) return;
  Display* display = connection_->display;
  const Window root = connection_->root;
  XDeadline deadline(display);
  const auto locks = lockModifiers(display);
  if (lost()) return;
  connection_->ignored = locks[0] | locks[1] | locks[2];
  for (auto& [handle, grab] : grabs_) {
    for (unsigned variant : grab.variants)
      if (grab.keyCode) XUngrabKey(display, grab.keyCode, variant, root);
    const auto keysym = keysymFor(grab.virtualKey);
    grab.keyCode = keysym ? XKeysymToKeycode(display, *keysym) : 0;
    const std::set<unsigned> variants = withLocks(grab.modifiers, locks);
    grab.variants.assign(variants.begin(), variants.end());
    if (!grab.keyCode) continue;  // gone from this layout; the next change may bring it back
    XErrorTrap trap(display);
    for (unsigned variant : grab.variants)
      XGrabKey(display, grab.keyCode, variant, root, False, GrabModeAsync, GrabModeAsync);
    // Another client may have taken the new key code meanwhile: the chord stays registered with
    // us and hears nothing until a later change frees it.
    trap.finish();
    if (lost()) return;
  }
  // The key codes pressed before the change may now be other keys.
  pressed_.clear();
}

void X11HotKeys::drainLater() {
  // Round trips may have read events into Xlib's queue, where the descriptor no longer shows them.
  if (drainPosted_ || !connection_ || lost()) return;
  if (XEventsQueued(connection_->display, QueuedAlready) == 0) return;
  drainPosted_ = true;
  loop_.post([this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.lock()) drain();
  });
}

void X11HotKeys::drain() {
  drainPosted_ = false;
  while (connection_ && !lost() && XPending(connection_->display) > 0) {
    XEvent event;
    XNextEvent(connection_->display, &event);
    if (event.type == MappingNotify && event.xmapping.request != MappingPointer) {
      // A layout switch or a keyboard plugged in: the chords may sit on other key codes now.
      XRefreshKeyboardMapping(&event.xmapping);
      regrab();
      continue;
    }
    if (event.type != KeyPress && event.type != KeyRelease) continue;
    const bool pressed = event.type == KeyPress;
    const unsigned keyCode = event.xkey.keycode;
    if (!pressed) {
      pressed_.erase(keyCode);
    } else if (!pressed_.insert(keyCode).second && connection_->xinput &&
               keyboardsHold(connection_->display, static_cast<KeyCode>(keyCode)) == false &&
               !releaseQueued(connection_->display, keyCode)) {
      // A press again without a release between: a repeat, or the key pressed anew after a
      // release we never got. When no keyboard holds it and no release is on its way (the
      // query's round trip has read every event sent before it), the server is repeating a key
      // it wrongly thinks is down; passing that on would start a hold nobody makes.
      continue;
    }
    const unsigned state = event.xkey.state & coreModifiers & ~connection_->ignored;
    // A press matches by key and modifiers; a release by key alone, since the modifiers may have
    // come up first.
    std::vector<Identifier> to;
    for (const auto& [handle, grab] : grabs_)
      if (grab.keyCode == keyCode && (!pressed || grab.modifiers == state))
        to.push_back(grab.identifier);
    // The sink may add and remove grabs: it gets a copy.
    for (const auto& identifier : to)
      if (sink_) sink_(identifier, pressed);
  }
  lost();  // XPending may have just found the server gone
}

}  // namespace earshot::linux_platform
