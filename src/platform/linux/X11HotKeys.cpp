#include "platform/linux/X11HotKeys.hpp"

#include <array>
#include <set>
#include <utility>

#include "platform/linux/X11Errors.hpp"

// Last: Xlib defines macros such as None, True and Status.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace earshot::linux_platform {

namespace {

struct KeyName {
  std::uint32_t keyCode;
  KeySym keysym;
};

// The system's virtual key codes (the positions of a US keyboard) and the keysym of each.
constexpr std::array keyNames{
    KeyName{0, XK_a},
    KeyName{1, XK_s},
    KeyName{2, XK_d},
    KeyName{3, XK_f},
    KeyName{4, XK_h},
    KeyName{5, XK_g},
    KeyName{6, XK_z},
    KeyName{7, XK_x},
    KeyName{8, XK_c},
    KeyName{9, XK_v},
    KeyName{11, XK_b},
    KeyName{12, XK_q},
    KeyName{13, XK_w},
    KeyName{14, XK_e},
    KeyName{15, XK_r},
    KeyName{16, XK_y},
    KeyName{17, XK_t},
    KeyName{18, XK_1},
    KeyName{19, XK_2},
    KeyName{20, XK_3},
    KeyName{21, XK_4},
    KeyName{22, XK_6},
    KeyName{23, XK_5},
    KeyName{24, XK_equal},
    KeyName{25, XK_9},
    KeyName{26, XK_7},
    KeyName{27, XK_minus},
    KeyName{28, XK_8},
    KeyName{29, XK_0},
    KeyName{30, XK_bracketright},
    KeyName{31, XK_o},
    KeyName{32, XK_u},
    KeyName{33, XK_bracketleft},
    KeyName{34, XK_i},
    KeyName{35, XK_p},
    KeyName{36, XK_Return},
    KeyName{37, XK_l},
    KeyName{38, XK_j},
    KeyName{39, XK_apostrophe},
    KeyName{40, XK_k},
    KeyName{41, XK_semicolon},
    KeyName{42, XK_backslash},
    KeyName{43, XK_comma},
    KeyName{44, XK_slash},
    KeyName{45, XK_n},
    KeyName{46, XK_m},
    KeyName{47, XK_period},
    KeyName{48, XK_Tab},
    KeyName{49, XK_space},
    KeyName{50, XK_grave},
    KeyName{51, XK_BackSpace},
    KeyName{53, XK_Escape},
    KeyName{54, XK_Super_R},
    KeyName{55, XK_Super_L},
    KeyName{56, XK_Shift_L},
    KeyName{57, XK_Caps_Lock},
    KeyName{58, XK_Alt_L},
    KeyName{59, XK_Control_L},
    KeyName{60, XK_Shift_R},
    KeyName{61, XK_Alt_R},
    KeyName{62, XK_Control_R},
    KeyName{64, XK_F17},
    KeyName{65, XK_KP_Decimal},
    KeyName{67, XK_KP_Multiply},
    KeyName{69, XK_KP_Add},
    KeyName{71, XK_Num_Lock},
    KeyName{75, XK_KP_Divide},
    KeyName{76, XK_KP_Enter},
    KeyName{78, XK_KP_Subtract},
    KeyName{79, XK_F18},
    KeyName{80, XK_F19},
    KeyName{81, XK_KP_Equal},
    KeyName{82, XK_KP_0},
    KeyName{83, XK_KP_1},
    KeyName{84, XK_KP_2},
    KeyName{85, XK_KP_3},
    KeyName{86, XK_KP_4},
    KeyName{87, XK_KP_5},
    KeyName{88, XK_KP_6},
    KeyName{89, XK_KP_7},
    KeyName{90, XK_F20},
    KeyName{91, XK_KP_8},
    KeyName{92, XK_KP_9},
    KeyName{96, XK_F5},
    KeyName{97, XK_F6},
    KeyName{98, XK_F7},
    KeyName{99, XK_F3},
    KeyName{100, XK_F8},
    KeyName{101, XK_F9},
    KeyName{103, XK_F11},
    KeyName{105, XK_F13},
    KeyName{106, XK_F16},
    KeyName{107, XK_F14},
    KeyName{109, XK_F10},
    KeyName{111, XK_F12},
    KeyName{113, XK_F15},
    KeyName{114, XK_Insert},
    KeyName{115, XK_Home},
    KeyName{116, XK_Prior},
    KeyName{117, XK_Delete},
    KeyName{118, XK_F4},
    KeyName{119, XK_End},
    KeyName{120, XK_F2},
    KeyName{121, XK_Next},
    KeyName{122, XK_F1},
    KeyName{123, XK_Left},
    KeyName{124, XK_Right},
    KeyName{125, XK_Down},
    KeyName{126, XK_Up},
};

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

}  // namespace

std::optional<unsigned long> keysymFor(std::uint32_t keyCode) {
  for (const auto& name : keyNames)
    if (name.keyCode == keyCode) return name.keysym;
  return std::nullopt;
}

std::vector<std::uint32_t> knownKeyCodes() {
  std::vector<std::uint32_t> codes;
  for (const auto& name : keyNames) codes.push_back(name.keyCode);
  return codes;
}

struct X11HotKeys::Connection {
  Display* display = nullptr;
  Window root = 0;
  int fd = -1;
  bool lost = false;
  unsigned ignored = LockMask;  // the lock modifiers, stripped from an event before matching
};

X11HotKeys::X11HotKeys(MainLoop& loop, std::string display)
    : loop_(loop), name_(std::move(display)) {}

X11HotKeys::~X11HotKeys() {
  disconnect();
}

void X11HotKeys::disconnect() {
  if (!connection_) return;
  loop_.unwatch(connection_->fd);
  XCloseDisplay(connection_->display);
  connection_.reset();
  grabs_.clear();
}

bool X11HotKeys::connect() {
  if (connection_ && !connection_->lost) return true;
  // A lost connection is gone with every grab it held; start afresh.
  disconnect();
  Display* display = openDisplayQuietly(name_.empty() ? nullptr : name_.c_str());
  if (!display) return false;
  connection_ = std::make_unique<Connection>();
  connection_->display = display;
  connection_->root = DefaultRootWindow(display);
  connection_->fd = ConnectionNumber(display);
  XSetIOErrorExitHandler(
      display, [](Display*, void* self) { static_cast<X11HotKeys*>(self)->lose(); }, this);
  // Holding a key then repeats presses only, without a release before each.
  Bool supported = False;
  {
    XDeadline deadline(display);
    XkbSetDetectableAutoRepeat(display, True, &supported);
  }
  loop_.watchReadable(connection_->fd, [this] { drain(); });
  return true;
}

void X11HotKeys::lose() {
  // Called from inside Xlib; the connection is closed later, outside it.
  connection_->lost = true;
  loop_.unwatch(connection_->fd);
}

HotKeyService::StatusCode X11HotKeys::install(Sink sink) {
  if (!connect()) return noDisplay;
  sink_ = std::move(sink);
  return 0;
}

bool X11HotKeys::installed() const {
  return connection_ && !connection_->lost && sink_;
}

HotKeyService::Registration X11HotKeys::add(VoiceKeyCombo combo, Identifier identifier) {
  if (!connection_) return {noDisplay, {}};
  if (connection_->lost) return {connectionLost, {}};
  Display* display = connection_->display;
  XDeadline deadline(display);
  const auto keysym = keysymFor(combo.keyCode);
  const KeyCode code = keysym ? XKeysymToKeycode(display, *keysym) : 0;
  if (!code) return {unknownKey, {}};
  const unsigned modifiers = xModifiers(combo.modifiers);
  // The server lets a client grab its own chord again; this process's chords are exclusive too.
  for (const auto& [handle, grab] : grabs_)
    if (grab.keyCode == code && grab.modifiers == modifiers) return {alreadyRegistered, {}};

  const auto locks = lockModifiers(display);
  connection_->ignored = locks[0] | locks[1] | locks[2];
  std::set<unsigned> variants;
  for (unsigned subset = 0; subset < 8; ++subset) {
    unsigned variant = modifiers;
    for (unsigned k = 0; k < 3; ++k)
      if (subset & (1u << k)) variant |= locks[k];
    variants.insert(variant);
  }

  int error;
  {
    XErrorTrap trap(display);
    for (unsigned variant : variants)
      XGrabKey(display, code, variant, connection_->root, False, GrabModeAsync, GrabModeAsync);
    error = trap.finish();
  }
  drainLater();
  if (connection_->lost) return {connectionLost, {}};
  if (error != 0) {
    // All or nothing: a refused variant undoes the others (ungrabbing touches only our grabs).
    for (unsigned variant : variants) XUngrabKey(display, code, variant, connection_->root);
    XFlush(display);
    return {error == BadAccess ? alreadyRegistered : error, {}};
  }
  const Handle handle = nextHandle_++;
  grabs_[handle] = Grab{identifier, code, modifiers, {variants.begin(), variants.end()}};
  return {0, handle};
}

void X11HotKeys::remove(Handle handle) {
  auto found = grabs_.find(handle);
  if (found == grabs_.end()) return;
  const Grab grab = std::move(found->second);
  grabs_.erase(found);
  if (!connection_ || connection_->lost) return;
  for (unsigned variant : grab.variants)
    XUngrabKey(connection_->display, grab.keyCode, variant, connection_->root);
  XFlush(connection_->display);
}

bool X11HotKeys::isKeyDown(std::uint32_t keyCode) {
  if (!connect()) return false;
  XDeadline deadline(connection_->display);
  const auto keysym = keysymFor(keyCode);
  const KeyCode code = keysym ? XKeysymToKeycode(connection_->display, *keysym) : 0;
  if (!code) return false;
  char keys[32] = {};
  XQueryKeymap(connection_->display, keys);
  drainLater();
  return (static_cast<unsigned char>(keys[code / 8]) >> (code % 8)) & 1u;
}

void X11HotKeys::drainLater() {
  // Round trips may have read events into Xlib's queue, where the descriptor no longer shows them.
  if (drainPosted_ || !connection_ || connection_->lost) return;
  if (XEventsQueued(connection_->display, QueuedAlready) == 0) return;
  drainPosted_ = true;
  loop_.post([this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.lock()) drain();
  });
}

void X11HotKeys::drain() {
  drainPosted_ = false;
  while (connection_ && !connection_->lost && XPending(connection_->display) > 0) {
    XEvent event;
    XNextEvent(connection_->display, &event);
    if (event.type != KeyPress && event.type != KeyRelease) continue;
    const bool pressed = event.type == KeyPress;
    const unsigned state = event.xkey.state & coreModifiers & ~connection_->ignored;
    // A press matches by key and modifiers; a release by key alone, since the modifiers may have
    // come up first.
    std::vector<Identifier> to;
    for (const auto& [handle, grab] : grabs_)
      if (grab.keyCode == event.xkey.keycode && (!pressed || grab.modifiers == state))
        to.push_back(grab.identifier);
    // The sink may add and remove grabs: it gets a copy.
    for (const auto& identifier : to)
      if (sink_) sink_(identifier, pressed);
  }
}

}  // namespace earshot::linux_platform
