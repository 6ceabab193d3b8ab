#pragma once

// What one typed command asks for. The rule parser and the model bridge both
// produce an Intent; the action engine dispatches on it; the palette shows its
// title as the live preview. Plain values, copied freely.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tovrin {

// The kind of element a command names.
enum class RoleHint { any, button, link, field, checkbox, tab, image, heading, result };

std::string_view rawValue(RoleHint role);
// The word used in display texts ("element" for any).
std::string_view noun(RoleHint role);
// Exact, case-sensitive.
std::optional<RoleHint> roleHintFromRaw(std::string_view raw);

enum class ProfileField { name, email, phone };

std::string_view rawValue(ProfileField field);
std::optional<ProfileField> profileFieldFromRaw(std::string_view raw);

enum class KeyAction {
  copy,
  paste,
  selectAll,
  enter,
  escape,
  tab,
  deleteKey,
  up,
  down,
  left,
  right
};

std::string_view rawValue(KeyAction key);
std::string_view title(KeyAction key);
std::optional<KeyAction> keyActionFromRaw(std::string_view raw);

// What element a command refers to.
// How a secret typed into a page is shown: eight bullets, whatever its length.
inline constexpr std::string_view kSecretShown = "\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022";

struct TargetSpec {
  std::string query;               // descriptive words; may be empty
  std::optional<int64_t> ordinal;  // 1-based; -1 = last
  RoleHint role = RoleHint::any;
  std::optional<std::string> nextTo;  // anchor phrase

  // "second “sign in” button", "last link", "element" when empty.
  [[nodiscard]] std::string summary() const;
  // Whether the words name a secret's field (password, passcode, PIN): what
  // is typed there is shown as bullets, never as itself.
  [[nodiscard]] bool namesSecret() const;
};

struct ScrollSpec {
  struct Section {
    std::string text;
  };
  struct Down {};
  struct Up {};
  struct Top {};
  struct Bottom {};
  std::variant<Section, Down, Up, Top, Bottom> value;
};

struct NavAction {
  struct TabIndex {
    int64_t index = 0;  // 1-based, as typed
  };
  struct TabNamed {
    std::string name;
  };
  struct Back {};
  struct Forward {};
  struct Reload {};
  struct NewTab {};
  struct CloseTab {};
  struct NextTab {};
  struct PreviousTab {};
  std::variant<TabIndex, TabNamed, Back, Forward, Reload, NewTab, CloseTab, NextTab, PreviousTab>
      value;
};

struct Intent {
  struct Click {
    TargetSpec target;
    // "tick", "turn off": the state a check box or switch should end in;
    // pressed only when it is not already there.
    std::optional<bool> checked{};
  };
  struct OpenLink {
    TargetSpec target;
  };
  struct OpenLinks {
    std::string matching;  // the topic the link texts must mention
  };
  struct Ask {
    std::string question;
  };
  struct Find {
    std::string text;
  };
  struct FindAll {
    std::string text;
  };
  struct Scroll {
    ScrollSpec spec;
  };
  struct Type {
    std::string text;
    std::optional<TargetSpec> field;  // absent: the focused field
    bool replace = false;             // replace the field's content instead of appending
    std::optional<KeyAction> then{};  // "… and press enter": a key once the text is in
  };
  struct FillProfile {
    ProfileField profile = ProfileField::name;
    std::optional<TargetSpec> field;  // absent: the engine picks the field
  };
  struct Key {
    KeyAction key = KeyAction::enter;
  };
  struct Navigate {
    NavAction nav;
  };
  struct List {
    RoleHint role = RoleHint::any;
  };
  // "take me to pricing": a heading on this page or a link away from it,
  // whichever the words and the page support.
  struct GoTo {
    std::string place;
  };
  // "search for printers": typed into the page's search box and submitted,
  // or found on the page when it has none.
  struct Search {
    std::string text;
  };
  struct OpenArticle {};
  struct Read {};
  struct Summarize {};
  struct CopyArticle {};

  using Value =
      std::variant<Click, OpenLink, OpenLinks, Ask, Find, FindAll, Scroll, Type, FillProfile, Key,
                   Navigate, List, OpenArticle, Read, Summarize, CopyArticle, GoTo, Search>;
  Value value;

  // The one-line preview of what Return will do.
  [[nodiscard]] std::string title() const;
  // The case's name: "click", "openLink", … "copyArticle".
  [[nodiscard]] std::string_view caseName() const;

  template <typename T>
  [[nodiscard]] const T* as() const {
    return std::get_if<T>(&value);
  }
};

// Short ways to make the payload-free navigation and scroll intents:
// navigateIntent<NavAction::Back>(), scrollIntent<ScrollSpec::Down>().
template <typename T>
Intent navigateIntent() {
  return Intent{Intent::Navigate{NavAction{T{}}}};
}
template <typename T>
Intent scrollIntent() {
  return Intent{Intent::Scroll{ScrollSpec{T{}}}};
}

}  // namespace tovrin
