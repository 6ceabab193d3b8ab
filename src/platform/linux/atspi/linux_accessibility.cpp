#include "platform/linux/atspi/linux_accessibility.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

#include "platform/linux/atspi/atspi_mapping.h"
#include "platform/linux/atspi/atspi_transport.h"
#include "platform/linux/atspi/page_watch.h"
#include "platform/linux/process/process_info.h"

namespace tovrin {
namespace atspi {

namespace {

constexpr const char* kRegistry = "org.a11y.atspi.Registry";
constexpr const char* kRootPath = "/org/a11y/atspi/accessible/root";
constexpr const char* kNullPath = "/org/a11y/atspi/null";
constexpr const char* kAccessible = "org.a11y.atspi.Accessible";
constexpr uint64_t kSystemWideKey = 1;
// Requests in flight during a page read, and how far ahead of the walk
// they may reach.
constexpr int kInFlight = 96;
constexpr int kLookahead = 128;
// Elements list few actions; past these, none is a press in practice.
constexpr std::size_t kMaxActions = 4;

Variant args(GVariant* v) {
  return Variant::take(v);
}

std::string childString(GVariant* tuple, int index) {
  if (!tuple) return {};
  GVariant* child = g_variant_get_child_value(tuple, static_cast<gsize>(index));
  std::string out;
  if (g_variant_is_of_type(child, G_VARIANT_TYPE_VARIANT)) {
    GVariant* inner = g_variant_get_variant(child);
    if (g_variant_is_of_type(inner, G_VARIANT_TYPE_STRING))
      out = g_variant_get_string(inner, nullptr);
    g_variant_unref(inner);
  } else if (g_variant_is_of_type(child, G_VARIANT_TYPE_STRING)) {
    out = g_variant_get_string(child, nullptr);
  }
  g_variant_unref(child);
  return out;
}

// An object reference "(so)", possibly wrapped in a variant.
std::optional<std::pair<std::string, std::string>> objectRef(GVariant* value) {
  if (!value) return std::nullopt;
  GVariant* v = g_variant_ref(value);
  while (g_variant_is_of_type(v, G_VARIANT_TYPE_VARIANT)) {
    GVariant* inner = g_variant_get_variant(v);
    g_variant_unref(v);
    v = inner;
  }
  std::optional<std::pair<std::string, std::string>> out;
  if (g_variant_is_of_type(v, G_VARIANT_TYPE("(so)"))) {
    const gchar* bus = nullptr;
    const gchar* path = nullptr;
    g_variant_get(v, "(&s&o)", &bus, &path);
    out = std::make_pair(std::string(bus), std::string(path));
  }
  g_variant_unref(v);
  return out;
}

}  // namespace

// An element as the bus names it, or a run of text Tovrin made from its
// parent's text.
struct Ref {
  std::string bus;
  std::string path;
  uint64_t parent = 0;        // synthetic runs: the element whose text it is
  std::string text;           // synthetic runs: the words
  mutable uint64_t seen = 0;  // the last read that met or used it
  [[nodiscard]] bool synthetic() const { return parent != 0; }
};

// One element's reads in progress. Replies may come after the caller gave
// up (a deadline); they then land here harmlessly.
struct Fetch {
  uint64_t key = 0;
  NodeInfo info;
  std::vector<uint64_t> children;  // after synthesis of text runs
  std::size_t nullChildren = 0;    // references the browser gave that lead nowhere
  bool childrenRead = false;
  bool childrenUnasked = false;  // its text holds no element, so none was asked for
  std::optional<uint64_t> parentKey;
  std::optional<std::pair<std::string, std::string>> parentRef;
  int outstanding = 0;
  bool started = false;
  bool done = false;
  bool gone = false;                              // the element no longer exists
  bool timedOut = false;                          // the application did not answer
  std::vector<std::shared_ptr<Fetch>> lookahead;  // fetches of children started early
};

struct AppState {
  std::string toolkitName;
  Toolkit toolkit = Toolkit::other;
  bool toolkitKnown = false;
};

// Everything that lives on the AT-SPI thread.
struct Session {
  Accessibility* owner = nullptr;
  std::unique_ptr<Transport> transport;
  double callTimeout = 2.0;
  // Keys are never reused, so a handle kept past its element's pruning
  // fails as a vanished element instead of naming another one. Keys 0 (none)
  // and 1 (system-wide) are not in the table.
  std::unordered_map<uint64_t, Ref> refs;
  std::unordered_map<std::string, uint64_t> keys;
  std::unordered_map<std::string, AppState> apps;
  uint64_t nextKey = 2;
  uint64_t generation = 1;         // one per page read
  std::size_t rememberAtMost = 0;  // 0: no limit
  uint64_t busInstance = 0;

  // On a bus joined again the old unique names are handed out anew, to
  // other applications: what was known under them is forgotten, so an old
  // handle fails as gone instead of naming another program's element.
  void followBus() {
    if (!transport || transport->busInstance() == busInstance) return;
    busInstance = transport->busInstance();
    refs.clear();
    keys.clear();
    apps.clear();
  }

  AXElement element(uint64_t key) { return AXElement(owner->shared_from_this(), key); }
  const Ref* ref(uint64_t key) const {
    auto it = refs.find(key);
    if (it == refs.end()) return nullptr;
    it->second.seen = generation;
    return &it->second;
  }
  // Replies may land after their element was pruned; they then see a ref
  // that leads nowhere.
  const Ref& at(uint64_t key) const {
    static const Ref none;
    const Ref* r = ref(key);
    return r ? *r : none;
  }

  uint64_t remember(std::string k, Ref r) {
    r.seen = generation;
    const uint64_t key = nextKey++;
    refs.emplace(key, std::move(r));
    keys.emplace(std::move(k), key);
    return key;
  }
  uint64_t intern(const std::string& bus, const std::string& path) {
    std::string k = bus + '\n' + path;
    if (auto it = keys.find(k); it != keys.end()) {
      refs[it->second].seen = generation;
      return it->second;
    }
    return remember(std::move(k), Ref{bus, path, 0, {}});
  }
  uint64_t internRun(uint64_t parent, std::size_t index, std::string text) {
    std::string k = "#" + std::to_string(parent) + '\n' + std::to_string(index);
    if (auto it = keys.find(k); it != keys.end()) {
      Ref& r = refs[it->second];
      r.text = std::move(text);
      r.seen = generation;
      return it->second;
    }
    return remember(std::move(k), Ref{at(parent).bus, {}, parent, std::move(text)});
  }

  // A long-running palette meets every element of every page it reads; the
  // table would grow without end. Past its limit it forgets what neither this
  // read nor the one before met or used (with their text runs' words).
  // Applications are kept: their handles live as long as the browser.
  void beginRead(uint64_t root) {
    ++generation;
    if (auto it = refs.find(root); it != refs.end()) it->second.seen = generation;
    if (rememberAtMost == 0 || refs.size() <= rememberAtMost) return;
    std::erase_if(refs, [&](const auto& entry) {
      return entry.second.seen + 1 < generation && entry.second.path != kRootPath;
    });
    std::erase_if(keys, [&](const auto& entry) { return !refs.contains(entry.second); });
  }

  double deadlineIn(double seconds) const { return monotonicNow() + seconds; }

  // One call, waited for.
  Reply call(const std::string& dest, const std::string& path, const char* iface,
             const char* method, GVariant* arguments = nullptr) {
    auto box = std::make_shared<std::optional<Reply>>();
    transport->send(Call{dest, path, iface, method, args(arguments)},
                    [box](Reply r) { *box = std::move(r); });
    transport->wait([&] { return box->has_value(); }, deadlineIn(callTimeout + 0.5));
    if (!box->has_value()) {
      Reply timeout;
      timeout.status = Reply::Status::timeout;
      return timeout;
    }
    return std::move(**box);
  }

  AppState& app(const std::string& bus) {
    AppState& state = apps[bus];
    if (!state.toolkitKnown) {
      state.toolkitKnown = true;
      Reply r = call(bus, kRootPath, "org.freedesktop.DBus.Properties", "Get",
                     g_variant_new("(ss)", "org.a11y.atspi.Application", "ToolkitName"));
      if (r.ok()) state.toolkitName = childString(r.value.get(), 0);
      state.toolkit = toolkitFromName(state.toolkitName);
      // WebKit's web process serves the page plugged into its browser's
      // window and has no application object of its own.
      if (r.status == Reply::Status::error) {
        state.toolkitName = "WebKitGTK";
        state.toolkit = Toolkit::webkit;
      }
    }
    return state;
  }
  Toolkit toolkitOf(uint64_t key) { return app(at(key).bus).toolkit; }

  void send(const std::shared_ptr<Fetch>& fetch, const char* iface, const char* method,
            GVariant* arguments, std::function<void(Fetch&, GVariant*)> onValue,
            const std::function<void()>& onDone, std::function<void()> onFailure = {}) {
    const Ref& r = at(fetch->key);
    sendTo(fetch, r.bus, r.path, iface, method, arguments, std::move(onValue), onDone,
           std::move(onFailure));
  }

  // A request about another object (its parent) that belongs to this
  // element's read.
  void sendTo(const std::shared_ptr<Fetch>& fetch, const std::string& bus, const std::string& path,
              const char* iface, const char* method, GVariant* arguments,
              std::function<void(Fetch&, GVariant*)> onValue, const std::function<void()>& onDone,
              std::function<void()> onFailure = {}) {
    ++fetch->outstanding;
    transport->send(
        Call{bus, path, iface, method, args(arguments)},
        [fetch, onValue = std::move(onValue), onDone,
         onFailure = std::move(onFailure)](Reply reply) {
          if (reply.ok()) {
            onValue(*fetch, reply.value.get());
          } else if (onFailure && !reply.gone() && reply.status != Reply::Status::timeout) {
            onFailure();
          } else if (reply.gone()) {
            fetch->gone = true;
          } else if (reply.status == Reply::Status::timeout) {
            fetch->timedOut = true;
          }
          if (--fetch->outstanding == 0) onDone();
        });
  }

  void getProperty(const std::shared_ptr<Fetch>& fetch, const char* name,
                   std::function<void(Fetch&, GVariant*)> onValue,
                   const std::function<void()>& onDone) {
    send(fetch, "org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", kAccessible, name),
         std::move(onValue), onDone);
  }

  // Starts reading what `attributes` need of one element; `finished` runs
  // when everything has come back (or failed).
  void start(const std::shared_ptr<Fetch>& fetch,
             std::shared_ptr<const std::vector<std::string>> attributes,
             std::function<bool(std::string_view)> readsActions, std::function<void()> finished,
             bool bulk = false, bool inPage = false) {
    fetch->started = true;
    const Ref& r = at(fetch->key);
    if (r.synthetic()) {
      fetch->info.synthetic = true;
      fetch->info.text = r.text;
      fetch->childrenRead = true;
      fetch->parentKey = r.parent;
      fetch->done = true;
      finished();
      return;
    }
    auto stageTwo = [this, fetch, attributes, readsActions, finished, bulk, inPage]() {
      if (fetch->gone || !fetch->info.role || !ref(fetch->key)) {
        fetch->done = true;
        finished();
        return;
      }
      const uint32_t role = *fetch->info.role;
      const Toolkit toolkit = app(at(fetch->key).bus).toolkit;
      const AXRoleNames names = axRole(fetch->info);
      const bool actions = readsActions && readsActions(names.role);
      Needs needs = needsFor(*attributes, role, toolkit, actions, bulk, inPage);
      auto complete = [this, fetch, toolkit, finished]() {
        synthesizeRuns(*fetch, toolkit);
        fetch->done = true;
        finished();
      };
      ++fetch->outstanding;  // held until every request of this stage is sent
      if (needs.states) {
        send(
            fetch, kAccessible, "GetState", nullptr,
            [](Fetch& f, GVariant* v) {
              GVariantIter* iter = nullptr;
              g_variant_get(v, "(au)", &iter);
              guint32 word = 0;
              int index = 0;
              uint64_t bits = 0;
              while (g_variant_iter_next(iter, "u", &word)) {
                if (index < 2) bits |= static_cast<uint64_t>(word) << (32 * index);
                ++index;
              }
              g_variant_iter_free(iter);
              f.info.states = bits;
              f.info.hasStates = true;
              // Firefox keeps answering for an element whose DOM node was
              // removed, marking it defunct: it is gone all the same.
              if (f.info.has(State::kDefunct)) f.gone = true;
            },
            complete);
      }
      if (needs.name && needs.description) {
        // One request for both: requests, not bytes, are what cost.
        send(
            fetch, "org.freedesktop.DBus.Properties", "GetAll", g_variant_new("(s)", kAccessible),
            [](Fetch& f, GVariant* v) {
              GVariantIter* iter = nullptr;
              g_variant_get(v, "(a{sv})", &iter);
              const gchar* key = nullptr;
              GVariant* value = nullptr;
              while (g_variant_iter_next(iter, "{&sv}", &key, &value)) {
                if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
                  if (std::string_view(key) == "Name") {
                    f.info.name = g_variant_get_string(value, nullptr);
                  } else if (std::string_view(key) == "Description") {
                    f.info.description = g_variant_get_string(value, nullptr);
                  }
                }
                g_variant_unref(value);
              }
              g_variant_iter_free(iter);
            },
            complete);
        needs.name = needs.description = false;
      }
      if (needs.name && toolkit == Toolkit::chromium && role == Role::kStatic) {
        // Chromium names a text leaf after its words, but an inline element
        // of a paragraph (<em>, <code>) has no name: its words are only in
        // its text. The text holds a leaf's words too, so it is the one
        // request for both.
        send(
            fetch, "org.a11y.atspi.Text", "GetText", g_variant_new("(ii)", 0, -1),
            [](Fetch& g, GVariant* text) {
              std::string words = withoutSurrogatePadding(childString(text, 0));
              std::erase(words, '\0');
              for (std::size_t at = words.find("\xEF\xBF\xBC"); at != std::string::npos;
                   at = words.find("\xEF\xBF\xBC", at))
                words.erase(at, 3);
              g.info.name = std::move(words);
            },
            complete,
            [this, fetch, complete] {
              getProperty(
                  fetch, "Name", [](Fetch& f, GVariant* v) { f.info.name = childString(v, 0); },
                  complete);
            });
      } else if (needs.name) {
        getProperty(
            fetch, "Name", [](Fetch& f, GVariant* v) { f.info.name = childString(v, 0); },
            complete);
      }
      if (needs.characterCount) {
        send(
            fetch, "org.freedesktop.DBus.Properties", "Get",
            g_variant_new("(ss)", "org.a11y.atspi.Text", "CharacterCount"),
            [](Fetch& f, GVariant* v) {
              GVariant* boxed = g_variant_get_child_value(v, 0);
              GVariant* inner = g_variant_get_variant(boxed);
              if (g_variant_is_of_type(inner, G_VARIANT_TYPE_INT32))
                f.info.characterCount = g_variant_get_int32(inner);
              g_variant_unref(inner);
              g_variant_unref(boxed);
            },
            complete);
      }
      if (needs.description) {
        getProperty(
            fetch, "Description",
            [](Fetch& f, GVariant* v) { f.info.description = childString(v, 0); }, complete);
      }
      if (needs.parent) {
        getProperty(
            fetch, "Parent",
            [](Fetch& f, GVariant* v) {
              GVariant* inner = g_variant_get_child_value(v, 0);
              f.parentRef = objectRef(inner);
              g_variant_unref(inner);
            },
            complete);
      }
      if (needs.attributes) {
        send(
            fetch, kAccessible, "GetAttributes", nullptr,
            [](Fetch& f, GVariant* v) {
              std::map<std::string, std::string> out;
              GVariantIter* iter = nullptr;
              g_variant_get(v, "(a{ss})", &iter);
              const gchar* k = nullptr;
              const gchar* val = nullptr;
              while (g_variant_iter_next(iter, "{&s&s}", &k, &val))
                out[k] = val;
              g_variant_iter_free(iter);
              f.info.attributes = std::move(out);
            },
            complete);
      }
      if (needs.extents) {
        send(
            fetch, "org.a11y.atspi.Component", "GetExtents", g_variant_new("(u)", 0u),
            [](Fetch& f, GVariant* v) {
              gint32 x = 0, y = 0, w = 0, h = 0;
              g_variant_get(v, "((iiii))", &x, &y, &w, &h);
              f.info.extents = std::array<int32_t, 4>{x, y, w, h};
            },
            complete);
      }
      if (needs.extents && toolkit == Toolkit::webkit && role == Role::kDocumentWeb) {
        // WebKit gives its document's whole length; what shows of it is the
        // view it scrolls in. That view, and the plug above it, move with
        // the page in WebKit's own answers: the view's place comes from the
        // socket of the browser's window that holds the plug, three levels
        // up.
        viewOf(fetch, 3, complete);
      }
      if (needs.actions && bulk) {
        // A page read needs only to know whether an element can be pressed,
        // and both browsers list that action first.
        send(
            fetch, "org.a11y.atspi.Action", "GetName", g_variant_new("(i)", 0),
            [](Fetch& f, GVariant* v) {
              f.info.actions = std::vector<std::string>{childString(v, 0)};
            },
            complete);
        needs.actions = false;
      }
      if (needs.actions && toolkit == Toolkit::webkit) {
        // WebKit never answers GetActions (the call waits out its timeout),
        // but tells how many actions there are.
        send(
            fetch, "org.freedesktop.DBus.Properties", "Get",
            g_variant_new("(ss)", "org.a11y.atspi.Action", "NActions"),
            [this, fetch, complete](Fetch&, GVariant* v) {
              GVariant* boxed = g_variant_get_child_value(v, 0);
              GVariant* inner = g_variant_get_variant(boxed);
              const gint32 count = g_variant_is_of_type(inner, G_VARIANT_TYPE_INT32)
                                       ? g_variant_get_int32(inner)
                                       : 0;
              g_variant_unref(inner);
              g_variant_unref(boxed);
              nameActions(fetch, static_cast<std::size_t>(std::max(count, 0)), complete);
            },
            complete);
      } else if (needs.actions) {
        send(
            fetch, "org.a11y.atspi.Action", "GetActions", nullptr,
            [this, fetch, complete](Fetch&, GVariant* v) {
              std::size_t count = 0;
              GVariantIter* iter = nullptr;
              g_variant_get(v, "(a(sss))", &iter);
              const gchar *n = nullptr, *d = nullptr, *k = nullptr;
              while (g_variant_iter_next(iter, "(&s&s&s)", &n, &d, &k))
                ++count;
              g_variant_iter_free(iter);
              // GetActions gives localized names ("Press" in Firefox,
              // nothing in Chromium); the names themselves come one by one.
              nameActions(fetch, count, complete);
            },
            complete);
      }
      // A hypertext container lists every child as U+FFFC in its text:
      // text without one has no children to ask for.
      auto askChildren = [this, fetch, complete, role, toolkit]() {
        send(
            fetch, kAccessible, "GetChildren", nullptr,
            [this, fetch, complete, role, toolkit](Fetch& f, GVariant* v) {
              GVariantIter* iter = nullptr;
              g_variant_get(v, "(a(so))", &iter);
              const gchar* bus = nullptr;
              const gchar* path = nullptr;
              f.children.clear();
              while (g_variant_iter_next(iter, "(&s&o)", &bus, &path)) {
                if (std::string_view(path) == kNullPath || !*bus) {
                  ++f.nullChildren;
                  continue;
                }
                f.children.push_back(intern(bus, path));
              }
              g_variant_iter_free(iter);
              f.childrenRead = true;
              // A GTK socket (where GNOME Web plugs in its page) lists its
              // child only one by one.
              if (f.children.empty() && role == Role::kFiller && toolkit == Toolkit::other) {
                askChildrenByIndex(fetch, complete);
              }
            },
            complete);
      };
      const bool childrenFromText =
          needs.children && needs.text && bulk && keepsTextInContainer(role, toolkit);
      if (needs.text) {
        send(
            fetch, "org.a11y.atspi.Text", "GetText", g_variant_new("(ii)", 0, -1),
            [childrenFromText, askChildren](Fetch& f, GVariant* v) {
              f.info.text = withoutSurrogatePadding(childString(v, 0));
              if (!childrenFromText) return;
              if (f.info.text->find("\xEF\xBF\xBC") != std::string::npos) {
                askChildren();
              } else {
                f.children.clear();
                f.childrenRead = true;
                f.childrenUnasked = true;
              }
            },
            complete,
            [childrenFromText, askChildren] {
              if (childrenFromText) askChildren();
            });
      }
      if (needs.children && !childrenFromText) {
        askChildren();
      } else {
        fetch->childrenRead = true;
      }
      if (--fetch->outstanding == 0) complete();
    };
    ++fetch->outstanding;
    send(
        fetch, kAccessible, "GetRole", nullptr,
        [](Fetch& f, GVariant* v) {
          guint32 role = 0;
          g_variant_get(v, "(u)", &role);
          f.info.role = role;
        },
        stageTwo);
    if (--fetch->outstanding == 0) stageTwo();
  }

  // The extents of the ancestor `levels` up from the element (or from
  // `path` on `bus`), as the view its document shows in.
  void viewOf(const std::shared_ptr<Fetch>& fetch, int levels, const std::function<void()>& done,
              std::string bus = {}, std::string path = {}) {
    if (bus.empty()) {
      bus = at(fetch->key).bus;
      path = at(fetch->key).path;
    }
    sendTo(
        fetch, bus, path, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", kAccessible, "Parent"),
        [this, fetch, levels, done](Fetch&, GVariant* v) {
          GVariant* inner = g_variant_get_child_value(v, 0);
          auto parent = objectRef(inner);
          g_variant_unref(inner);
          if (!parent || parent->second == kNullPath || parent->first.empty()) return;
          if (levels > 1) {
            viewOf(fetch, levels - 1, done, parent->first, parent->second);
            return;
          }
          sendTo(
              fetch, parent->first, parent->second, "org.a11y.atspi.Component", "GetExtents",
              g_variant_new("(u)", 0u),
              [](Fetch& f, GVariant* e) {
                gint32 x = 0, y = 0, w = 0, h = 0;
                g_variant_get(e, "((iiii))", &x, &y, &w, &h);
                f.info.view = std::array<int32_t, 4>{x, y, w, h};
              },
              done);
        },
        done);
  }

  // The first `count` action names of an element, one request each.
  void nameActions(const std::shared_ptr<Fetch>& fetch, std::size_t count,
                   const std::function<void()>& done) {
    count = std::min(count, kMaxActions);
    fetch->info.actions = std::vector<std::string>(count);
    for (std::size_t i = 0; i < count; ++i) {
      send(
          fetch, "org.a11y.atspi.Action", "GetName", g_variant_new("(i)", static_cast<gint32>(i)),
          [i](Fetch& g, GVariant* name) {
            if (g.info.actions && i < g.info.actions->size()) {
              (*g.info.actions)[i] = childString(name, 0);
            }
          },
          done);
    }
  }

  void askChildrenByIndex(const std::shared_ptr<Fetch>& fetch, const std::function<void()>& done) {
    send(
        fetch, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", kAccessible, "ChildCount"),
        [this, fetch, done](Fetch&, GVariant* v) {
          GVariant* boxed = g_variant_get_child_value(v, 0);
          GVariant* inner = g_variant_get_variant(boxed);
          const gint32 count = g_variant_is_of_type(inner, G_VARIANT_TYPE_INT32)
                                   ? std::min(g_variant_get_int32(inner), 64)
                                   : 0;
          g_variant_unref(inner);
          g_variant_unref(boxed);
          auto slots =
              std::make_shared<std::vector<uint64_t>>(static_cast<std::size_t>(std::max(count, 0)));
          for (gint32 i = 0; i < count; ++i) {
            send(
                fetch, kAccessible, "GetChildAtIndex", g_variant_new("(i)", i),
                [this, slots, i](Fetch& f, GVariant* child) {
                  GVariant* value = g_variant_get_child_value(child, 0);
                  auto ref = objectRef(value);
                  g_variant_unref(value);
                  if (ref && ref->second != kNullPath && !ref->first.empty()) {
                    (*slots)[static_cast<std::size_t>(i)] = intern(ref->first, ref->second);
                  }
                  f.children.clear();
                  for (uint64_t key : *slots) {
                    if (key != 0) f.children.push_back(key);
                  }
                },
                done);
          }
        },
        done);
  }

  // Browsers keep a paragraph's words in its text, with U+FFFC for each
  // child element; those words become runs of their own, so every browser
  // gives the reader the same shape. Chromium also lists them as text
  // leaves: the runs stand in for those leaves, which are then never read
  // one by one (two requests each, most of a big page's elements).
  void synthesizeRuns(Fetch& fetch, Toolkit toolkit) {
    if (!fetch.info.text || !fetch.info.role || !fetch.childrenRead) return;
    if (!keepsTextInContainer(*fetch.info.role, toolkit)) return;
    const std::string& text = *fetch.info.text;
    if (*fetch.info.role == Role::kStatic && text.find("\xEF\xBF\xBC") == std::string::npos) return;
    if (fetch.nullChildren > 0) return;
    std::vector<uint64_t> elements;
    const bool leavesListed = toolkit == Toolkit::chromium && !fetch.childrenUnasked;
    if (leavesListed) {
      auto leaves = textLeavesByPosition(text, fetch.children.size());
      if (!leaves) return;
      for (std::size_t i = 0; i < fetch.children.size(); ++i) {
        if (!(*leaves)[i]) elements.push_back(fetch.children[i]);
      }
    } else {
      elements = fetch.children;
    }
    auto pieces = splitHypertext(text, elements.size());
    if (!pieces) {
      // The elements line up, so only white space lies between them: its
      // leaves would show nothing.
      if (leavesListed) fetch.children = std::move(elements);
      return;
    }
    if (*fetch.info.role == Role::kListItem && !pieces->empty() && pieces->front().child < 0) {
      std::string& first = pieces->front().text;
      first.erase(0, listMarkerLength(first));
      if (first.empty()) pieces->erase(pieces->begin());
    }
    std::vector<uint64_t> children;
    for (std::size_t i = 0; i < pieces->size(); ++i) {
      const TextPiece& piece = (*pieces)[i];
      if (piece.child >= 0) {
        children.push_back(elements[static_cast<std::size_t>(piece.child)]);
      } else {
        children.push_back(internRun(fetch.key, i, piece.text));
      }
    }
    fetch.children = std::move(children);
  }

  std::shared_ptr<Fetch> fetchNow(uint64_t key, std::vector<std::string> attributes,
                                  bool withActions = false) {
    auto fetch = std::make_shared<Fetch>();
    fetch->key = key;
    auto names = std::make_shared<const std::vector<std::string>>(std::move(attributes));
    std::function<bool(std::string_view)> reads;
    if (withActions) reads = [](std::string_view) { return true; };
    start(fetch, names, reads, [] {});
    transport->wait([&] { return fetch->done; }, deadlineIn(callTimeout * 2 + 0.5));
    if (!fetch->done) fetch->timedOut = true;
    return fetch;
  }

  // Several elements' reads at once, waited for together.
  std::vector<std::shared_ptr<Fetch>> fetchAll(const std::vector<uint64_t>& targets,
                                               std::vector<std::string> attributes) {
    auto names = std::make_shared<const std::vector<std::string>>(std::move(attributes));
    std::vector<std::shared_ptr<Fetch>> out;
    auto pending = std::make_shared<int>(0);
    for (uint64_t key : targets) {
      auto f = std::make_shared<Fetch>();
      f->key = key;
      ++*pending;
      start(f, names, {}, [pending] { --*pending; });
      out.push_back(f);
    }
    transport->wait([&] { return *pending == 0; }, deadlineIn(callTimeout + 0.5));
    return out;
  }

  std::optional<AXValue> valueOf(const Fetch& fetch, const std::string& name) {
    if (name == "AXChildren") {
      if (!fetch.childrenRead) return std::nullopt;
      AXElementArray list;
      for (uint64_t child : fetch.children)
        list.push_back(element(child));
      return AXValue(std::move(list));
    }
    if (name == "AXParent") {
      if (fetch.parentKey) return AXValue(element(*fetch.parentKey));
      // An application's parent is the registry's desktop, no element of its.
      if (at(fetch.key).path == kRootPath) return std::nullopt;
      if (fetch.parentRef && fetch.parentRef->second != kNullPath &&
          fetch.parentRef->first != kRegistry && !fetch.parentRef->first.empty()) {
        return AXValue(element(intern(fetch.parentRef->first, fetch.parentRef->second)));
      }
      return std::nullopt;
    }
    if (name == "AXElementBusy") return AXValue(fetch.info.has(State::kBusy));
    return axValue(name, fetch.info, app(at(fetch.key).bus).toolkit);
  }

  int32_t codeOf(const Fetch& fetch) const {
    if (fetch.gone) return AXErr::kInvalidUIElement;
    if (fetch.timedOut && !fetch.info.role) return AXErr::kCannotComplete;
    return AXErr::kSuccess;
  }

  std::optional<AXValue> urlOf(uint64_t key) {
    const Ref* r = ref(key);
    if (!r || r->synthetic()) return std::nullopt;
    const std::string bus = r->bus, path = r->path;
    auto fetch = fetchNow(key, {"AXRole"});
    if (!fetch->info.role) return std::nullopt;
    const uint32_t role = *fetch->info.role;
    std::string url;
    if (role == Role::kLink) {
      Reply reply = call(bus, path, "org.a11y.atspi.Hyperlink", "GetURI", g_variant_new("(i)", 0));
      if (reply.ok()) url = childString(reply.value.get(), 0);
    } else if (role == Role::kDocumentWeb || role == Role::kDocumentFrame) {
      for (const char* name : {"DocURL", "URI"}) {
        Reply reply = call(bus, path, "org.a11y.atspi.Document", "GetAttributeValue",
                           g_variant_new("(s)", name));
        if (reply.ok()) url = childString(reply.value.get(), 0);
        if (!url.empty()) break;
      }
    }
    if (url.empty()) return std::nullopt;
    return AXValue(AXURL{url});
  }

  // Chromium started without --force-renderer-accessibility shows bare
  // windows until an assistive technology asks a window for all its
  // properties at once; then it builds its trees. Asks, and waits a moment
  // for the window's contents to appear.
  int32_t wakeChromium(uint64_t application) {
    bool timedOut = false;
    std::vector<Window> windows = windowsOf(application, timedOut);
    if (timedOut) return AXErr::kCannotComplete;
    auto readable = [&] {
      for (const Window& w : windows) {
        auto f = fetchNow(w.key, {"AXChildren"});
        if (!f->children.empty() && f->nullChildren == 0) return true;
      }
      return windows.empty();
    };
    if (readable()) return AXErr::kSuccess;
    for (const Window& w : windows) {
      (void)call(at(w.key).bus, at(w.key).path, "org.freedesktop.DBus.Properties", "GetAll",
                 g_variant_new("(s)", kAccessible));
    }
    const double deadline = monotonicNow() + 1.5;
    while (monotonicNow() < deadline) {
      if (readable()) return AXErr::kSuccess;
      transport->wait([] { return false; }, monotonicNow() + 0.05);
    }
    return AXErr::kCannotComplete;
  }

  // The visible child of `parent` whose extents hold the point.
  std::optional<uint64_t> childAt(uint64_t parent, int32_t x, int32_t y) {
    auto f = fetchNow(parent, {"AXChildren"});
    std::vector<uint64_t> real;
    for (uint64_t child : f->children) {
      if (!at(child).synthetic()) real.push_back(child);
    }
    std::vector<std::shared_ptr<Fetch>> children = fetchAll(real, {"AXRole", "AXPosition"});
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      const Fetch& c = **it;
      if (c.done && mayHoldPoint(c.info, toolkitOf(c.key), x, y)) return c.key;
    }
    return std::nullopt;
  }

  // --- Applications and windows ---

  std::vector<std::pair<std::string, std::string>> registryChildren() {
    std::vector<std::pair<std::string, std::string>> out;
    Reply r = call(kRegistry, kRootPath, kAccessible, "GetChildren");
    if (!r.ok()) return out;
    GVariantIter* iter = nullptr;
    g_variant_get(r.value.get(), "(a(so))", &iter);
    const gchar* bus = nullptr;
    const gchar* path = nullptr;
    while (g_variant_iter_next(iter, "(&s&o)", &bus, &path))
      out.emplace_back(bus, path);
    g_variant_iter_free(iter);
    return out;
  }

  std::optional<int32_t> pidOf(const std::string& bus) {
    Reply r = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                   "GetConnectionUnixProcessID", g_variant_new("(s)", bus.c_str()));
    if (!r.ok()) return std::nullopt;
    guint32 pid = 0;
    g_variant_get(r.value.get(), "(u)", &pid);
    return static_cast<int32_t>(pid);
  }

  std::vector<AccessibleApplication> applications() {
    std::vector<AccessibleApplication> out;
    for (const auto& [bus, path] : registryChildren()) {
      AccessibleApplication a;
      a.busName = bus;
      a.pid = pidOf(bus).value_or(0);
      Reply name = call(bus, kRootPath, "org.freedesktop.DBus.Properties", "Get",
                        g_variant_new("(ss)", kAccessible, "Name"));
      if (name.ok()) a.name = childString(name.value.get(), 0);
      a.toolkit = app(bus).toolkitName;
      out.push_back(std::move(a));
    }
    return out;
  }

  // Every application's top-level windows with their names and whether
  // one is the active window: where the session offers no other way to
  // tell which window is in front (Wayland), this is it.
  std::vector<AccessibleFrame> frames() {
    std::vector<AccessibleFrame> out;
    for (const auto& [bus, path] : registryChildren()) {
      const int32_t pid = pidOf(bus).value_or(0);
      auto app = fetchNow(intern(bus, kRootPath), {"AXChildren"});
      if (app->timedOut) continue;
      for (const auto& f : fetchAll(app->children, {"AXRole", "AXTitle"})) {
        if (!f->done || !f->info.role) continue;
        out.push_back({pid, bus, f->info.name.value_or(""), f->info.has(State::kActive),
                       f->info.has(State::kShowing)});
      }
    }
    return out;
  }

  std::optional<std::string> busForPid(int32_t pid) {
    for (const auto& [bus, path] : registryChildren()) {
      if (pidOf(bus) == pid) return bus;
    }
    return std::nullopt;
  }

  struct Window {
    uint64_t key;
    NodeInfo info;
  };
  std::vector<Window> windowsOf(uint64_t application, bool& timedOut) {
    std::vector<Window> out;
    auto app = fetchNow(application, {"AXChildren"});
    timedOut = app->timedOut;
    for (const auto& f : fetchAll(app->children, {"AXRole", "AXPosition"})) {
      if (f->done && f->info.role) out.push_back({f->key, f->info});
    }
    return out;
  }

  std::optional<AXValue> applicationAttribute(uint64_t key, const std::string& name) {
    bool timedOut = false;
    std::vector<Window> windows = windowsOf(key, timedOut);
    if (name == "AXWindows") {
      AXElementArray list;
      for (const Window& w : windows)
        list.push_back(element(w.key));
      return AXValue(std::move(list));
    }
    if (name == "AXFocusedWindow") {
      for (const Window& w : windows) {
        if (w.info.has(State::kActive)) return AXValue(element(w.key));
      }
      return std::nullopt;
    }
    if (name == "AXMainWindow") {
      for (const Window& w : windows) {
        if (w.info.has(State::kShowing) && w.info.has(State::kVisible))
          return AXValue(element(w.key));
      }
      return std::nullopt;
    }
    if (name == "AXFocusedUIElement") {
      for (const Window& w : windows) {
        if (!w.info.has(State::kShowing)) continue;
        if (auto focused = findFocused(w.key)) return AXValue(element(*focused));
      }
      return std::nullopt;
    }
    return std::nullopt;
  }

  // The focused element below `root`: a walk of states and children only,
  // skipping what is not visible, bounded like a page read.
  std::optional<uint64_t> findFocused(uint64_t root) {
    TreeRequest request;
    request.attributes = {"AXFocused", "AXHidden", "AXChildren", "AXRole"};
    request.childrenIndex = 2;
    request.hiddenIndex = 1;
    request.roleIndex = 3;
    request.maxNodes = 20000;
    request.maxDepth = 80;
    request.timeLimit = 3.0;
    SystemClock clock;
    std::vector<TreeNode> nodes =
        walk(root, request, clock, [](const NodeInfo& info) { return info.has(State::kFocused); });
    for (const TreeNode& node : nodes) {
      if (node.values.size() > 0 && node.values[0] && std::get_if<bool>(&*node.values[0]) &&
          std::get<bool>(*node.values[0])) {
        return node.element.key();
      }
    }
    return std::nullopt;
  }

  // --- The pipelined walk ---

  struct Entry {
    std::shared_ptr<Fetch> fetch;
    std::optional<int> parent;
    int depth = 0;
  };

  std::vector<TreeNode> walk(uint64_t rootKey, const TreeRequest& request, Clock& clock,
                             const std::function<bool(const NodeInfo&)>& stopAt = {}) {
    std::vector<TreeNode> result;
    const double clockDeadline = clock.now() + request.timeLimit;
    const double busDeadline = monotonicNow() + request.timeLimit;
    // A read may wait out a browser busy with a heavy page, up to its own
    // deadline; presses and other single calls keep the call timeout.
    transport->setPatience(request.timeLimit);
    struct Impatient {
      Transport& t;
      ~Impatient() { t.setPatience(0); }
    } impatient{*transport};
    auto names = std::make_shared<const std::vector<std::string>>(request.attributes);
    auto inFlight = std::make_shared<int>(0);
    std::function<bool(std::string_view)> readsActions = request.readsActions;

    // Below a web area the walk is in a page (set once the root is known).
    bool inPage = false;
    auto begin = [&](const std::shared_ptr<Fetch>& f) {
      ++*inFlight;
      start(
          f, names, readsActions, [inFlight] { --*inFlight; }, true, inPage);
    };
    auto descends = [&](const Fetch& f, int depth) {
      if (depth >= request.maxDepth) return false;
      if (hidden(f.info, toolkitOf(f.key))) return false;
      const bool webArea = axRole(f.info).role == "AXWebArea";
      return !(request.stopAtWebArea && webArea && depth >= 1);
    };
    std::unordered_set<uint64_t> visited;

    // Starts the reads of the elements the walk will reach next, in the
    // order it will reach them, as far as they are known.
    auto schedule = [&](std::vector<Entry>& stack) {
      int seen = 0;
      std::vector<std::pair<Fetch*, int>> pending;
      for (auto it = stack.rbegin();
           it != stack.rend() && *inFlight < kInFlight && seen < kLookahead; ++it) {
        if (!it->fetch->started) begin(it->fetch);
        pending.clear();
        pending.emplace_back(it->fetch.get(), it->depth);
        while (!pending.empty() && *inFlight < kInFlight && seen < kLookahead) {
          auto [f, depth] = pending.back();
          pending.pop_back();
          ++seen;
          if (!f->done || !descends(*f, depth)) continue;
          if (f->lookahead.size() != f->children.size()) {
            f->lookahead.clear();
            for (uint64_t child : f->children) {
              auto c = std::make_shared<Fetch>();
              c->key = child;
              f->lookahead.push_back(std::move(c));
            }
          }
          for (auto c = f->lookahead.rbegin(); c != f->lookahead.rend(); ++c) {
            if (visited.count((*c)->key)) continue;
            if (!(*c)->started) {
              if (*inFlight >= kInFlight) break;
              begin(*c);
            }
            pending.emplace_back(c->get(), depth + 1);
          }
        }
      }
    };

    auto root = std::make_shared<Fetch>();
    root->key = rootKey;
    std::vector<Entry> stack = {{root, std::nullopt, 0}};
    while (!stack.empty()) {
      if (static_cast<int>(result.size()) >= request.maxNodes) break;
      if (clock.now() > clockDeadline) break;
      Entry& top = stack.back();
      if (!top.fetch->started) begin(top.fetch);
      if (*inFlight < kInFlight * 3 / 4 || !top.fetch->done) schedule(stack);
      if (!top.fetch->done &&
          !transport->wait([&] { return stack.back().fetch->done; }, busDeadline)) {
        break;  // the deadline passed with the browser still silent
      }
      Entry entry = std::move(stack.back());
      stack.pop_back();
      Fetch& f = *entry.fetch;
      if (result.empty()) inPage = axRole(f.info).role == "AXWebArea";
      if (!visited.insert(f.key).second) continue;
      if (hidden(f.info, toolkitOf(f.key))) continue;
      if (entry.parent &&
          isMarkerLeaf(f, result[static_cast<std::size_t>(*entry.parent)], request)) {
        continue;
      }

      TreeNode node;
      node.element = element(f.key);
      node.parent = entry.parent;
      node.depth = entry.depth;
      node.values.reserve(names->size());
      for (const std::string& name : *names)
        node.values.push_back(valueOf(f, name));
      const AXRoleNames role = axRole(f.info);
      if (f.info.actions && readsActions && readsActions(role.role)) {
        node.actions = axActions(*f.info.actions);
      }
      if (role.role == "AXWebArea" && entry.parent) {
        // Firefox does not know its document's extents; the frame holding
        // it does.
        copyMissingFrame(node, result[static_cast<std::size_t>(*entry.parent)], request);
      }
      const int id = static_cast<int>(result.size());
      const bool stop = stopAt && stopAt(f.info);
      if (!stop && descends(f, entry.depth)) {
        if (f.lookahead.size() != f.children.size()) {
          f.lookahead.clear();
          for (uint64_t child : f.children) {
            auto c = std::make_shared<Fetch>();
            c->key = child;
            f.lookahead.push_back(std::move(c));
          }
        }
        for (auto it = f.lookahead.rbegin(); it != f.lookahead.rend(); ++it) {
          stack.push_back({*it, id, entry.depth + 1});
        }
        f.lookahead.clear();
      }
      result.push_back(std::move(node));
      if (stop) break;
    }
    return result;
  }

  // The leaf holding a list item's bullet or number: a text leaf in
  // Chromium, a text object in WebKit. Tovrin shows items with a marker of
  // its own.
  bool isMarkerLeaf(const Fetch& f, const TreeNode& parent, const TreeRequest& request) {
    const Toolkit toolkit = toolkitOf(f.key);
    const std::optional<std::string>* words = nullptr;
    if (f.info.role == Role::kStatic && toolkit != Toolkit::gecko && toolkit != Toolkit::webkit) {
      words = &f.info.name;
    } else if (f.info.role == Role::kText && toolkit == Toolkit::webkit) {
      words = &f.info.text;
    }
    if (!words || !*words || (*words)->empty()) return false;
    if (request.roleIndex >= parent.values.size() || !parent.values[request.roleIndex])
      return false;
    const auto* role = std::get_if<std::string>(&*parent.values[request.roleIndex]);
    return role && *role == "AXListItem" && listMarkerLength(**words) == (*words)->size();
  }

  static void copyMissingFrame(TreeNode& node, const TreeNode& parent, const TreeRequest& request) {
    for (std::size_t i = 0; i < request.attributes.size(); ++i) {
      const std::string& name = request.attributes[i];
      if ((name == "AXPosition" || name == "AXSize") && !node.values[i] &&
          i < parent.values.size()) {
        node.values[i] = parent.values[i];
      }
    }
  }
};

}  // namespace atspi

// --- LinuxAccessibility ---

LinuxAccessibility::LinuxAccessibility(Options options)
    : options_(std::move(options)), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

std::shared_ptr<LinuxAccessibility> LinuxAccessibility::open(Options options, std::string& error) {
  std::shared_ptr<LinuxAccessibility> self(new LinuxAccessibility(std::move(options)));
  if (self->wakeFd_ < 0) {
    error = "no event descriptor for the accessibility thread (too many open files?)";
    return nullptr;
  }
  std::promise<std::string> started;
  auto ready = started.get_future();
  self->thread_ = std::thread(
      [raw = self.get(), p = std::move(started)]() mutable { raw->threadMain(std::move(p)); });
  error = ready.get();
  if (!error.empty()) return nullptr;
  return self;
}

void LinuxAccessibility::threadMain(std::promise<std::string> started) {
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  {
    atspi::Session session;
    session.rememberAtMost = options_.rememberAtMost;
    session.owner = this;
    std::string error;
    if (!options_.replayFile.empty()) {
      session.transport = atspi::replayFrom(options_.replayFile, error);
    } else {
      session.transport = atspi::connectBus(error);
      if (session.transport && !options_.recordFile.empty()) {
        session.transport = atspi::recordTo(std::move(session.transport), options_.recordFile);
      }
    }
    const bool ok = session.transport != nullptr;
    started.set_value(ok ? std::string() : error);
    while (ok) {
      std::function<void(atspi::Session&)> task;
      {
        std::lock_guard lock(mutex_);
        if (!tasks_.empty()) {
          task = std::move(tasks_.front());
          tasks_.pop_front();
        } else if (stopping_) {
          break;
        }
      }
      if (!task) {
        session.transport->idle(wakeFd_);
        continue;
      }
      session.followBus();
      task(session);
      session.followBus();
    }
    session.transport.reset();
  }
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
}

LinuxAccessibility::~LinuxAccessibility() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wakeThread();
  if (thread_.joinable()) thread_.join();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void LinuxAccessibility::wakeThread() {
  const uint64_t one = 1;
  ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
  (void)ignored;
}

template <typename T>
T LinuxAccessibility::onBusThread(std::function<T(atspi::Session&)> task) {
  auto promise = std::make_shared<std::promise<T>>();
  auto future = promise->get_future();
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return T{};
    tasks_.push_back(
        [promise, task = std::move(task)](atspi::Session& s) { promise->set_value(task(s)); });
  }
  wakeThread();
  return future.get();
}

namespace {
bool isApplicationKey(const atspi::Session& s, uint64_t key) {
  const atspi::Ref* r = s.ref(key);
  return r && !r->synthetic() && r->path == "/org/a11y/atspi/accessible/root";
}
bool isApplicationAttribute(std::string_view name) {
  return name == "AXWindows" || name == "AXFocusedWindow" || name == "AXMainWindow" ||
         name == "AXFocusedUIElement";
}
}  // namespace

AXResult<std::optional<AXValue>> LinuxAccessibility::copyAttributeValue(
    const AXElement& element, std::string_view attribute) {
  auto result = copyMultipleAttributeValues(element, {std::string(attribute)});
  AXResult<std::optional<AXValue>> out;
  out.code = result.code;
  if (result.code == AXErr::kSuccess && result.value && !result.value->empty()) {
    AXValue& v = result.value->front();
    if (std::holds_alternative<AXErrorValue>(v)) {
      out.code = std::get<AXErrorValue>(v).code;
    } else if (!std::holds_alternative<AXNull>(v)) {
      out.value = std::move(v);
    } else {
      out.code = AXErr::kNoValue;
    }
  }
  return out;
}

AXResult<std::optional<std::vector<AXValue>>> LinuxAccessibility::copyMultipleAttributeValues(
    const AXElement& element, const std::vector<std::string>& attributes) {
  using Result = AXResult<std::optional<std::vector<AXValue>>>;
  const uint64_t key = element.key();
  if (element.api() != this) return Result{AXErr::kIllegalArgument, std::nullopt};
  return onBusThread<Result>([key, attributes](atspi::Session& s) -> Result {
    if (!s.ref(key)) return Result{AXErr::kInvalidUIElement, std::nullopt};
    std::vector<AXValue> values(attributes.size(), AXValue(AXNull{}));
    std::vector<std::string> plain;
    for (std::size_t i = 0; i < attributes.size(); ++i) {
      const std::string& name = attributes[i];
      if (isApplicationKey(s, key) && isApplicationAttribute(name)) {
        if (auto v = s.applicationAttribute(key, name)) values[i] = std::move(*v);
      } else if (name == "AXURL") {
        if (auto v = s.urlOf(key)) values[i] = std::move(*v);
      } else {
        plain.push_back(name);
      }
    }
    if (!plain.empty()) {
      auto fetch = s.fetchNow(key, plain);
      if (int32_t code = s.codeOf(*fetch); code != AXErr::kSuccess)
        return Result{code, std::nullopt};
      for (std::size_t i = 0; i < attributes.size(); ++i) {
        if (std::find(plain.begin(), plain.end(), attributes[i]) == plain.end()) continue;
        if (auto v = s.valueOf(*fetch, attributes[i])) values[i] = std::move(*v);
      }
    }
    return Result{AXErr::kSuccess, std::move(values)};
  });
}

AXResult<std::optional<std::vector<std::string>>> LinuxAccessibility::copyActionNames(
    const AXElement& element) {
  using Result = AXResult<std::optional<std::vector<std::string>>>;
  const uint64_t key = element.key();
  if (element.api() != this) return Result{AXErr::kIllegalArgument, std::nullopt};
  return onBusThread<Result>([key](atspi::Session& s) -> Result {
    if (!s.ref(key)) return Result{AXErr::kInvalidUIElement, std::nullopt};
    if (s.ref(key)->synthetic()) return Result{AXErr::kSuccess, std::vector<std::string>{}};
    auto fetch = s.fetchNow(key, {"AXRole"}, true);
    if (int32_t code = s.codeOf(*fetch); code != AXErr::kSuccess) return Result{code, std::nullopt};
    return Result{AXErr::kSuccess,
                  atspi::axActions(fetch->info.actions.value_or(std::vector<std::string>{}))};
  });
}

int32_t LinuxAccessibility::performAction(const AXElement& element, std::string_view action) {
  const uint64_t key = element.key();
  const std::string name(action);
  if (element.api() != this) return AXErr::kIllegalArgument;
  return onBusThread<int32_t>([key, name](atspi::Session& s) -> int32_t {
    const atspi::Ref* r = s.ref(key);
    if (!r) return AXErr::kInvalidUIElement;
    // A run of text Tovrin made is scrolled into view with the element
    // whose text it is; it has nothing to press.
    if (r->synthetic() && name == "AXScrollToVisible") r = s.ref(r->parent);
    if (!r || r->synthetic()) return AXErr::kActionUnsupported;
    const std::string bus = r->bus, path = r->path;
    if (name == "AXScrollToVisible") {
      // To the top edge: Chromium's "anywhere" moves the page least, which
      // leaves a section brought in from above at the bottom of the view,
      // where the reader does not look. The page stops at its own ends.
      // WebKit takes the top edge for the bottom one; its top-left corner
      // is the top.
      const guint32 where = s.toolkitOf(key) == atspi::Toolkit::webkit ? 0u : 2u;
      atspi::Reply reply =
          s.call(bus, path, "org.a11y.atspi.Component", "ScrollTo", g_variant_new("(u)", where));
      return reply.ok()                                      ? AXErr::kSuccess
             : reply.gone()                                  ? AXErr::kInvalidUIElement
             : reply.status == atspi::Reply::Status::timeout ? AXErr::kCannotComplete
                                                             : AXErr::kActionUnsupported;
    }
    auto fetch = s.fetchNow(key, {"AXRole"}, true);
    if (int32_t code = s.codeOf(*fetch); code != AXErr::kSuccess) return code;
    auto index =
        atspi::rawActionIndex(fetch->info.actions.value_or(std::vector<std::string>{}), name);
    if (!index) return AXErr::kActionUnsupported;
    atspi::Reply reply =
        s.call(bus, path, "org.a11y.atspi.Action", "DoAction", g_variant_new("(i)", *index));
    if (reply.gone()) return AXErr::kInvalidUIElement;
    if (reply.status == atspi::Reply::Status::timeout) return AXErr::kCannotComplete;
    if (!reply.ok()) return AXErr::kFailure;
    gboolean accepted = FALSE;
    g_variant_get(reply.value.get(), "(b)", &accepted);
    return accepted ? AXErr::kSuccess : AXErr::kCannotComplete;
  });
}

int32_t LinuxAccessibility::setAttributeValue(const AXElement& element, std::string_view attribute,
                                              const AXValue& value) {
  const uint64_t key = element.key();
  const std::string name(attribute);
  if (element.api() != this) return AXErr::kIllegalArgument;
  std::optional<std::string> text;
  if (const auto* s = std::get_if<std::string>(&value)) text = *s;
  const bool truth = std::holds_alternative<bool>(value) && std::get<bool>(value);
  return onBusThread<int32_t>([key, name, text, truth](atspi::Session& s) -> int32_t {
    const atspi::Ref* r = s.ref(key);
    if (!r) return AXErr::kInvalidUIElement;
    if (r->synthetic()) return AXErr::kAttributeUnsupported;
    const std::string bus = r->bus, path = r->path;
    if (name == "AXManualAccessibility" && truth && path == atspi::kRootPath) {
      return s.wakeChromium(key);
    }
    atspi::Reply reply;
    if (name == "AXFocused" && truth) {
      reply = s.call(bus, path, "org.a11y.atspi.Component", "GrabFocus");
    } else if (name == "AXValue" && text) {
      reply = s.call(bus, path, "org.a11y.atspi.EditableText", "SetTextContents",
                     g_variant_new("(s)", text->c_str()));
    } else {
      // AXEnhancedUserInterface and the like have no Linux meaning.
      return AXErr::kAttributeUnsupported;
    }
    if (reply.gone()) return AXErr::kInvalidUIElement;
    if (reply.status == atspi::Reply::Status::timeout) return AXErr::kCannotComplete;
    if (!reply.ok()) return AXErr::kAttributeUnsupported;
    gboolean accepted = FALSE;
    g_variant_get(reply.value.get(), "(b)", &accepted);
    return accepted ? AXErr::kSuccess : AXErr::kCannotComplete;
  });
}

AXResult<bool> LinuxAccessibility::isAttributeSettable(const AXElement& element,
                                                       std::string_view attribute) {
  const uint64_t key = element.key();
  const std::string name(attribute);
  if (element.api() != this) return {AXErr::kIllegalArgument, false};
  return onBusThread<AXResult<bool>>([key, name](atspi::Session& s) -> AXResult<bool> {
    const atspi::Ref* r = s.ref(key);
    if (!r) return {AXErr::kInvalidUIElement, false};
    if (r->synthetic()) return {AXErr::kSuccess, false};
    auto fetch = s.fetchNow(key, {"AXRole"});
    if (int32_t code = s.codeOf(*fetch); code != AXErr::kSuccess) return {code, false};
    if (name == "AXFocused") return {AXErr::kSuccess, fetch->info.has(atspi::State::kFocusable)};
    if (name == "AXValue") {
      // Chromium's fields carry no EditableText interface: their text
      // changes only by typing, so saying settable would promise a
      // fallback that cannot happen.
      if (s.app(r->bus).toolkit == atspi::Toolkit::chromium) return {AXErr::kSuccess, false};
      return {AXErr::kSuccess, fetch->info.has(atspi::State::kEditable) &&
                                   !fetch->info.has(atspi::State::kReadOnly)};
    }
    return {AXErr::kSuccess, false};
  });
}

AXResult<AXElement> LinuxAccessibility::elementAtPosition(const AXElement& systemWide, double x,
                                                          double y) {
  if (systemWide.api() != this || systemWide.key() != atspi::kSystemWideKey) {
    return {AXErr::kIllegalArgument, {}};
  }
  if (!std::isfinite(x) || !std::isfinite(y)) return {AXErr::kIllegalArgument, {}};
  std::optional<int32_t> pid = options_.pidAtPoint ? options_.pidAtPoint(x, y) : std::nullopt;
  if (!pid) return {AXErr::kNoValue, {}};
  const int32_t px = static_cast<int32_t>(std::lround(x));
  const int32_t py = static_cast<int32_t>(std::lround(y));
  return onBusThread<AXResult<AXElement>>([pid, px, py](atspi::Session& s) -> AXResult<AXElement> {
    auto bus = s.busForPid(*pid);
    if (!bus) return {AXErr::kNoValue, {}};
    bool timedOut = false;
    uint64_t app = s.intern(*bus, atspi::kRootPath);
    std::optional<uint64_t> current;
    // Showing windows first; Chromium marks a window that was covered as not
    // showing for a moment after it is raised.
    auto windows = s.windowsOf(app, timedOut);
    for (bool showingOnly : {true, false}) {
      for (const auto& w : windows) {
        if (current || (showingOnly && !w.info.has(atspi::State::kShowing))) continue;
        auto fetch = s.fetchNow(w.key, {"AXPosition", "AXSize"});
        if (!fetch->info.extents) continue;
        const auto& e = *fetch->info.extents;
        if (px >= e[0] && py >= e[1] && px < e[0] + e[2] && py < e[1] + e[3]) current = w.key;
      }
    }
    if (!current) return {timedOut ? AXErr::kCannotComplete : AXErr::kNoValue, {}};
    for (int depth = 0; depth < 64; ++depth) {
      const atspi::Ref* r = s.ref(*current);
      std::optional<uint64_t> next;
      atspi::Reply reply = s.call(r->bus, r->path, "org.a11y.atspi.Component",
                                  "GetAccessibleAtPoint", g_variant_new("(iiu)", px, py, 0u));
      if (reply.ok()) {
        GVariant* inner = g_variant_get_child_value(reply.value.get(), 0);
        auto ref = atspi::objectRef(inner);
        g_variant_unref(inner);
        if (ref && ref->second != atspi::kNullPath && !ref->first.empty()) {
          next = s.intern(ref->first, ref->second);
        }
      }
      // Firefox answers only inside its documents: above them, find the
      // child under the point by its extents, the last (top-most) first.
      if (!next || *next == *current) next = s.childAt(*current, px, py);
      if (!next || *next == *current) break;
      current = next;
    }
    // Hit-testing reaches the text inside a button or link, which the tree
    // does not list; the control is what lies under the pointer.
    auto hit = s.fetchNow(*current, {"AXRole", "AXParent"});
    if (hit->info.role == atspi::Role::kStatic && hit->parentRef) {
      uint64_t parent = s.intern(hit->parentRef->first, hit->parentRef->second);
      auto control = s.fetchNow(parent, {"AXRole"});
      const std::string role = atspi::axRole(control->info).role;
      if (role == "AXButton" || role == "AXLink" || role == "AXCheckBox" ||
          role == "AXRadioButton" || role == "AXMenuItem" || role == "AXTab" ||
          role == "AXPopUpButton") {
        current = parent;
      }
    }
    return {AXErr::kSuccess, s.element(*current)};
  });
}

std::shared_ptr<PageWatch> LinuxAccessibility::watchPages(int32_t pid) {
  if (!options_.replayFile.empty()) return nullptr;
  // GNOME Web's page lives in WebKit's sandboxed web process, whose changes
  // did not reach a listener here (a button added went unheard): its pages
  // are never trusted to stay as read.
  if (ProcessInfo::identify(ProcessInfo::executableName(pid), "").applicationID ==
      "org.gnome.Epiphany") {
    return nullptr;
  }
  std::string bus = onBusThread<std::string>(
      [pid](atspi::Session& s) -> std::string { return s.busForPid(pid).value_or(""); });
  return atspi::LinuxPageWatch::open(pid, std::move(bus));
}

AXElement LinuxAccessibility::createApplication(int32_t pid) {
  uint64_t key = onBusThread<uint64_t>([pid](atspi::Session& s) -> uint64_t {
    auto bus = s.busForPid(pid);
    if (!bus) return 0;
    return s.intern(*bus, atspi::kRootPath);
  });
  if (key == 0) {
    // No such application on the bus: a handle whose every request fails.
    key = onBusThread<uint64_t>([pid](atspi::Session& s) -> uint64_t {
      return s.intern(":missing-" + std::to_string(pid), atspi::kRootPath);
    });
  }
  return AXElement(shared_from_this(), key);
}

AXElement LinuxAccessibility::createSystemWide() {
  return AXElement(shared_from_this(), atspi::kSystemWideKey);
}

int32_t LinuxAccessibility::setMessagingTimeout(const AXElement&, double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0) return AXErr::kIllegalArgument;
  return onBusThread<int32_t>([seconds](atspi::Session& s) -> int32_t {
    s.callTimeout = seconds;
    s.transport->setCallTimeout(seconds);
    return AXErr::kSuccess;
  });
}

bool LinuxAccessibility::isProcessTrusted() {
  return options_.trusted ? options_.trusted() : true;
}

// Linux has no permission prompt: granting is turning support on.
bool LinuxAccessibility::isProcessTrustedWithPrompt() {
  if (!isProcessTrusted() && options_.grant) options_.grant();
  return isProcessTrusted();
}

std::vector<TreeNode> LinuxAccessibility::readTree(const AXElement& root,
                                                   const TreeRequest& request, Clock& clock) {
  if (!root || root.api() != this) return {};
  const uint64_t key = root.key();
  return onBusThread<std::vector<TreeNode>>([key, &request, &clock](atspi::Session& s) {
    if (!s.ref(key)) return std::vector<TreeNode>{};
    s.beginRead(key);
    return s.walk(key, request, clock);
  });
}

std::vector<AccessibleApplication> LinuxAccessibility::applications() {
  return onBusThread<std::vector<AccessibleApplication>>(
      [](atspi::Session& s) { return s.applications(); });
}

std::vector<AccessibleFrame> LinuxAccessibility::frames() {
  return onBusThread<std::vector<AccessibleFrame>>([](atspi::Session& s) { return s.frames(); });
}

TreeAccess LinuxAccessibility::treeAccess(int32_t pid) {
  return onBusThread<TreeAccess>([pid](atspi::Session& s) {
    auto bus = s.busForPid(pid);
    if (!bus) return TreeAccess::notOnBus;
    bool timedOut = false;
    auto windows = s.windowsOf(s.intern(*bus, atspi::kRootPath), timedOut);
    if (timedOut) return TreeAccess::unresponsive;
    if (windows.empty()) return TreeAccess::noWindow;
    for (const auto& w : windows) {
      auto fetch = s.fetchNow(w.key, {"AXChildren"});
      if (fetch->timedOut) return TreeAccess::unresponsive;
      for (uint64_t child : fetch->children) {
        auto inner = s.fetchNow(child, {"AXRole"});
        if (inner->info.role) return TreeAccess::readable;
      }
    }
    return TreeAccess::bareSkeleton;
  });
}

}  // namespace tovrin
