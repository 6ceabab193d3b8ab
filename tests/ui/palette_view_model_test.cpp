#include "ui/palette_view_model.h"

#include <gtest/gtest.h>

#include "ai/scripted_model.h"
#include "support/scene_tree.h"
#include "ui/palette_controls.h"

namespace tovrin {
namespace {

// A palette over a simulated browser, with work run only when the test says.
struct Palette {
  std::shared_ptr<SimulatedDesktop> desktop;
  std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
  std::shared_ptr<ScriptedModel> model = std::make_shared<ScriptedModel>(false);
  std::shared_ptr<PaletteViewModel> vm;
  std::vector<std::string> phases;  // each phase change, as text
  std::string last = "idle";

  explicit Palette(std::shared_ptr<SimulatedDesktop> d) : desktop(std::move(d)) {
    Platform platform = desktop->platform();
    auto tracker = std::make_shared<BrowserTracker>(platform);
    tracker->start();
    vm = PaletteViewModel::make({.platform = platform,
                                 .tracker = tracker,
                                 .model = model,
                                 .highlighter = std::make_shared<Highlighter>(platform),
                                 .executor = executor});
    vm->reset();
    vm->onChange([this] {
      std::string text = describe();
      if (text != last) phases.push_back(text);
      last = text;
    });
  }
  explicit Palette(std::string_view tree = testing::kShopWindow)
      : Palette(testing::browserDesktop(tree)) {}

  std::string describe() const {
    const auto& p = vm->phase();
    if (std::holds_alternative<PaletteViewModel::Idle>(p)) return "idle";
    if (const auto* w = std::get_if<PaletteViewModel::Working>(&p)) return "working: " + w->status;
    if (const auto* r = std::get_if<ActionResult>(&p)) return "result: " + r->headline;
    if (const auto* c = std::get_if<Confirmation>(&p)) return "confirm: " + c->title;
    return "choose: " + std::get<ChoiceSet>(p).prompt;
  }

  void submit(std::string text) {
    vm->input = std::move(text);
    vm->inputChanged();
    vm->submit();
    executor->runAll();
  }
  std::vector<std::string> outlines() const {
    std::vector<std::string> out;
    for (const Effect& e : desktop->effects()) {
      if (e.describe().rfind("outline", 0) == 0) out.push_back(e.describe());
    }
    return out;
  }
};

TEST(PaletteViewModelTest, ACommandGoesThroughItsPhases) {
  Palette p;
  p.submit("click sign in");
  EXPECT_EQ(p.phases,
            (std::vector<std::string>{"working: Reading Google Chrome…",
                                      "working: Click “sign in”…", "result: Clicked **Sign in**"}));
  p.phases.clear();
  p.submit("   ");
  EXPECT_TRUE(p.phases.empty() || p.phases == std::vector<std::string>{"idle"});
}

TEST(PaletteViewModelTest, FallbacksFindOrAskAndTheModel) {
  struct Case {
    const char* input;
    std::string last;
  };
  const Case cases[] = {
      {"bananas", "result: Nothing on the page matches “bananas”"},
      {"how do I cancel my order today", "result: **how do I cancel my order today**"},
      {"cheap flights to lisbon in may", "result: **cheap flights to lisbon in may**"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    Palette p;
    p.submit(c.input);
    EXPECT_EQ(p.phases.back(), c.last);
  }
  Palette p;
  p.submit("bananas");
  EXPECT_EQ(p.phases[1], "working: Understanding…");
  EXPECT_EQ(p.phases[2], "working: Find “bananas”…");

  Palette withModel;
  withModel.model->setAvailable(true);
  withModel.model->when(
      "Command: log me in please now",
      nlohmann::json{
          {"action", "click"}, {"target", "sign in"}, {"ordinal", 0}, {"text", ""}, {"field", ""}});
  withModel.submit("log me in please now");
  EXPECT_EQ(withModel.phases,
            (std::vector<std::string>{"working: Reading Google Chrome…", "working: Understanding…",
                                      "working: Click “sign in”…", "result: Clicked **Sign in**"}));
}

TEST(PaletteViewModelTest, ConfirmationsAndChoices) {
  Palette p;
  p.submit("click buy now");
  EXPECT_EQ(p.phases.back(), "confirm: Click “Buy now”?");
  p.vm->submit();  // Return confirms
  p.executor->runAll();
  EXPECT_EQ(p.phases.back(), "result: Clicked **Buy now**");

  p.submit("click add to cart");
  EXPECT_EQ(p.phases.back(), "choose: Which one do you mean?");
  EXPECT_EQ(p.vm->selected, 0);
  EXPECT_EQ(p.outlines().back(), "outline 10,200,80,30 for 6s");  // the first option, outlined
  p.vm->move(-1);                                                 // wraps to the last
  EXPECT_EQ(p.vm->selected, 2);
  EXPECT_EQ(p.outlines().back(), "outline 10,400,80,30 for 6s");
  p.vm->move(+1);
  EXPECT_EQ(p.vm->selected, 0);
  p.vm->move(+1);
  p.vm->submit();  // Return picks the selected option
  p.executor->runAll();
  EXPECT_EQ(p.phases.back(), "result: Clicked **Add to cart**");
  std::vector<std::string> presses;
  for (const Effect& e : p.desktop->effects()) {
    if (e.describe().rfind("AXPress", 0) == 0) presses.push_back(e.describe());
  }
  EXPECT_EQ(presses.back(), "AXPress AXButton “Add to cart” #add2 → 0");
}

TEST(PaletteViewModelTest, DigitsPickAndNumbersBeyondTheOptionsRunNothing) {
  Palette p;
  p.submit("click add to cart");
  EXPECT_EQ(handleKey(*p.vm, {.keyCode = 25, .characters = "9"}), KeyRouting::consumed);
  EXPECT_EQ(p.vm->selected, 8);
  EXPECT_EQ(p.phases.back(), "choose: Which one do you mean?");
  EXPECT_EQ(handleKey(*p.vm, {.keyCode = 19, .characters = "3"}), KeyRouting::consumed);
  p.executor->runAll();
  EXPECT_EQ(p.phases.back(), "result: Clicked **Add to cart**");
  EXPECT_EQ(handleKey(*p.vm, {.keyCode = 0, .characters = "a"}), KeyRouting::passThrough);
}

TEST(PaletteViewModelTest, EscapeInEachPhase) {
  Palette p;
  EXPECT_FALSE(p.vm->escape());  // idle: the controller closes the palette
  EXPECT_EQ(handleKey(*p.vm, {.keyCode = 53, .characters = ""}), KeyRouting::consumedAndClose);

  for (const char* command : {"click sign in", "click buy now", "click add to cart"}) {
    SCOPED_TRACE(command);
    p.submit(command);
    EXPECT_TRUE(p.vm->escape());
    EXPECT_EQ(p.describe(), "idle");
  }
  EXPECT_EQ(p.outlines().back(), "outline hidden");  // leaving a choice hides its outline
}

TEST(PaletteViewModelTest, ACancelledCommandIsDropped) {
  Palette p;
  p.vm->input = "click sign in";
  p.vm->submit();
  EXPECT_EQ(p.describe(), "working: Reading Google Chrome…");
  EXPECT_TRUE(p.vm->escape());
  p.executor->runAll();  // the command's work, and its outcome, arrive after Escape
  EXPECT_EQ(p.describe(), "idle");
  EXPECT_EQ(p.phases, (std::vector<std::string>{"working: Reading Google Chrome…", "idle"}));
}

TEST(PaletteViewModelTest, TypingLeavesResultsButNotWork) {
  Palette p;
  p.submit("click sign in");
  p.vm->input = "click";
  p.vm->inputChanged();
  EXPECT_EQ(p.describe(), "idle");
  p.vm->input = "click sign in";
  p.vm->submit();
  p.vm->inputChanged();  // still working
  EXPECT_EQ(p.describe(), "working: Reading Google Chrome…");
  p.executor->runAll();
}

TEST(PaletteViewModelTest, NoBrowserNoAccess) {
  nlohmann::json none = {
      {"apps", {{{"pid", 9}, {"bundleID", "com.apple.finder"}, {"frontmost", true}}}}};
  Palette p(testing::sceneDesktop(none));
  p.submit("click sign in");
  const auto* r = std::get_if<ActionResult>(&p.vm->phase());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->headline, "No supported browser in front");
  EXPECT_EQ(r->body, "Open Chrome, Chromium, Firefox, GNOME Web, Brave or Edge, then press the hotkey again.");
  EXPECT_TRUE(r->debug.empty());

  nlohmann::json untrusted = {
      {"trusted", false},
      {"apps", {{{"pid", 1}, {"bundleID", "com.google.Chrome"}, {"frontmost", true}}}}};
  Palette q(testing::sceneDesktop(untrusted));
  EXPECT_FALSE(q.vm->trusted());
  q.submit("click sign in");
  EXPECT_EQ(q.describe(), "idle");  // the onboarding view is showing
}

TEST(PaletteViewModelTest, PreviewAndSuggestions) {
  Palette p;
  p.vm->input = "  click the second Sign In button \t";
  EXPECT_EQ(p.vm->preview(), "Click second “Sign In” button");
  p.vm->input = "bananas";
  EXPECT_EQ(p.vm->preview(), std::nullopt);
  p.vm->input = "   ";
  EXPECT_EQ(p.vm->preview(), std::nullopt);

  auto titles = [&](const char* input) {
    p.vm->input = input;
    std::vector<std::string> out;
    for (const Suggestion& s : p.vm->suggestions())
      out.push_back(s.title + "|" + s.fill + (s.runs ? "|runs" : ""));
    return out;
  };
  const std::vector<std::string> scroll = {
      "Scroll down|Scroll down|runs", "Scroll up|Scroll up|runs",
      "Bottom|Scroll to the bottom|runs", "Top|Scroll to the top|runs"};
  EXPECT_EQ(titles("Scroll"), scroll);
  EXPECT_EQ(titles("  scroll to"), scroll);
  EXPECT_EQ(titles(""), (std::vector<std::string>{
                            "Read page|Read page|runs", "Summarize|Summarize this page|runs",
                            "Find…|Find ", "Click…|Click ", "Scroll…|Scroll "}));

  const std::string token = p.vm->focusToken();
  p.vm->use(p.vm->suggestions()[2]);  // "Find…" fills without running
  EXPECT_EQ(p.vm->input, "Find ");
  EXPECT_EQ(p.describe(), "idle");
  EXPECT_NE(p.vm->focusToken(), token);
  p.vm->use(p.vm->suggestions()[0]);  // "Read page" runs
  p.executor->runAll();
  EXPECT_EQ(p.phases.back(), "result: Read **Acme Shop** — 16 words");
}

TEST(PaletteViewModelTest, RevealUsesTheLatestEngine) {
  Palette p;
  p.submit("find acme plus");
  const auto* r = std::get_if<ActionResult>(&p.vm->phase());
  ASSERT_NE(r, nullptr);
  ASSERT_FALSE(r->items.empty());
  p.desktop->clearEffects();
  p.vm->reveal(r->items[0]);
  p.executor->runAll();
  EXPECT_FALSE(p.desktop->effects().empty());
  p.vm->reveal(FoundItem{"x", "no element", std::nullopt});  // nothing to do
  EXPECT_EQ(p.executor->pending(), 0u);
}

TEST(PaletteControlsTest, HotkeyPresetsAndTheMenu) {
  auto desktop = testing::browserDesktop("AXWindow \"W\"");
  Defaults* defaults = desktop.get();
  EXPECT_EQ(HotkeySettings::current(defaults).title, "⌥ Space");
  EXPECT_EQ(openMenuTitle(defaults), "Open Tovrin (⌥ Space)");
  desktop->setInteger("hotkeyPreset", 2);
  EXPECT_EQ(HotkeySettings::current(defaults).title, "⌘⇧ Space");
  EXPECT_EQ(HotkeySettings::current(defaults).modifiers, 768u);
  desktop->setInteger("hotkeyPreset", 7);
  EXPECT_EQ(HotkeySettings::current(defaults).id, 0);
  desktop->setString("hotkeyPreset", "2");  // not a number: the default
  EXPECT_EQ(HotkeySettings::current(defaults).id, 0);
  EXPECT_EQ(HotkeySettings::current(nullptr).id, 0);
  EXPECT_EQ(toggle(true), Toggle::hide);
  EXPECT_EQ(toggle(false), Toggle::show);
}

TEST(PaletteControlsTest, ArrowsMoveTheSelectionOnlyWhileChoosing) {
  Palette p;
  EXPECT_EQ(handleKey(*p.vm, {.keyCode = 125, .characters = ""}), KeyRouting::passThrough);
  p.submit("click add to cart");
  EXPECT_EQ(handleKey(*p.vm, {.keyCode = 125, .characters = ""}), KeyRouting::consumed);
  EXPECT_EQ(p.vm->selected, 1);
  EXPECT_EQ(handleKey(*p.vm, {.keyCode = 126, .characters = ""}), KeyRouting::consumed);
  EXPECT_EQ(p.vm->selected, 0);
}

}  // namespace
}  // namespace tovrin
