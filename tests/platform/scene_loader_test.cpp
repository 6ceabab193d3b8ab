#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "accessibility/ax.h"
#include "accessibility/crawler.h"
#include "platform/simulated_desktop.h"
#include "support/scene_tree.h"

namespace tovrin {
namespace {

std::string loadError(std::string_view json) {
  auto loaded = SimulatedDesktop::fromJson(json, "s.json");
  if (auto* error = std::get_if<SceneError>(&loaded)) return error->message;
  return "(loaded)";
}

TEST(SceneLoaderTest, MalformedScenesAreRefusedWithWhereAndWhat) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"apps": [)",
       "s.json: not valid JSON: parse error at line 1, column 11: syntax error while "
       "parsing value - unexpected end of input; expected '[', '{', or a literal"},
      {R"([])", "s.json: (top level): expected an object, found an array"},
      {R"({"apps": [{"pid": 1}], "extra": 1})", "s.json: extra: unknown key"},
      {R"({"apps": [{}]})", "s.json: apps[0]: missing key “pid”"},
      {R"({"apps": [{"pid": 0}]})", "s.json: apps[0].pid: number out of range"},
      {R"({"apps": [{"pid": 1}, {"pid": 1}]})", "s.json: apps[1].pid: duplicate pid"},
      {R"({"apps": [{"pid": 1.5}]})",
       "s.json: apps[0].pid: expected a whole number, found a number"},
      {R"({"apps": [{"pid": 1, "frontmost": true}, {"pid": 2, "frontmost": true}]})",
       "s.json: apps: more than one application is frontmost"},
      {R"({"apps": [{"pid": 1, "focusedWindow": 0}]})",
       "s.json: apps[0].focusedWindow: no window 0 (the app has 0)"},
      {R"({"apps": [{"pid": 1, "windows": [{"role": 5}]}]})",
       "s.json: apps[0].windows[0].role: expected a string, found a number"},
      {R"({"apps": [{"pid": 1, "windows": [{"children": [{}, {"titel": "x"}]}]}]})",
       "s.json: apps[0].windows[0].children[1].titel: unknown key"},
      {R"({"apps": [{"pid": 1, "windows": [{"frame": [0, 0, 10]}]}]})",
       "s.json: apps[0].windows[0].frame: expected [x, y, width, height]"},
      {R"({"apps": [{"pid": 1, "windows": [{"frame": [0, 0, 10, "wide"]}]}]})",
       "s.json: apps[0].windows[0].frame[3]: expected a number (or \"nan\", \"inf\", \"-inf\"), "
       "found a string"},
      {R"({"apps": [{"pid": 1, "windows": [{"value": [1]}]}]})",
       "s.json: apps[0].windows[0].value: expected a string, number or boolean, found an array"},
      {R"({"apps": [{"pid": 1, "windows": [{"children": [{"ref": "nobody"}]}]}]})",
       "s.json: apps[0].windows[0].children[0].ref: no element has the id “nobody”"},
      {R"({"apps": [{"pid": 1, "windows": [{"id": "a", "children": [{"id": "a"}]}]}]})",
       "s.json: apps[0].windows[0].children[0].id: duplicate id “a”"},
      {R"({"apps": [{"pid": 1, "windows": [{"behavior": {"delay": -1}}]}]})",
       "s.json: apps[0].windows[0].behavior.delay: expected seconds, 0 or more"},
      {R"({"apps": [{"pid": 1, "windows": [{"behavior": {"readError": 0}}]}]})",
       "s.json: apps[0].windows[0].behavior.readError: 0 is success, not an error"},
      {R"({"apps": [{"pid": 1, "windows": [{"behavior": {"attributes": {"AXValue": {"pointy": [1, 2]}}}}]}]})",
       "s.json: apps[0].windows[0].behavior.attributes.AXValue.pointy: unknown value kind"},
      {R"({"apps": [{"pid": 1, "windows": [{"behavior": {"attributes": {"AXParent": {"element": "x"}}}}]}]})",
       "s.json: apps[0].windows[0].behavior.attributes.AXParent.element: no element has the id "
       "“x”"},
      {R"({"screens": [{"x": 0, "y": 0, "width": 10}]})",
       "s.json: screens[0]: missing key “height”"},
  };
  for (const auto& [json, expected] : cases) {
    SCOPED_TRACE(json);
    EXPECT_EQ(loadError(json), expected);
  }
}

TEST(SceneLoaderTest, FilesThatCannotBeRead) {
  auto loaded = SimulatedDesktop::load("/nonexistent/scene.json");
  ASSERT_TRUE(std::holds_alternative<SceneError>(loaded));
  EXPECT_EQ(std::get<SceneError>(loaded).message, "/nonexistent/scene.json: cannot open the file");
}

TEST(SceneLoaderTest, AbsurdScenesLoadAndReadSafely) {
  // 10,000-deep nesting written as JSON, not through the test notation.
  std::string deep =
      R"({"apps": [{"pid": 1, "bundleID": "com.google.Chrome", "frontmost": true, "windows": [)";
  for (int i = 0; i < 10000; ++i)
    deep += R"({"role": "AXGroup", "children": [)";
  deep += R"({"role": "AXButton", "title": "Bottom"})";
  for (int i = 0; i < 10000; ++i)
    deep += "]}";
  deep += "]}]}";
  auto loaded = SimulatedDesktop::fromJson(deep, "deep.json");
  ASSERT_TRUE(std::holds_alternative<std::shared_ptr<SimulatedDesktop>>(loaded)) << loadError(deep);
  auto desktop = std::get<std::shared_ptr<SimulatedDesktop>>(loaded);
  auto window = AX::elements(desktop->createApplication(1), "AXWindows");
  ASSERT_EQ(window.size(), 1u);
  EXPECT_EQ(Crawler::crawl(window[0], {.maxNodes = 6000, .maxDepth = 80}, *desktop).size(), 81u);

  // NaN and infinite frames load; they read as no frame.
  auto nan = testing::browserDesktop(R"(
AXWindow "W" id=w frame=nan,0,inf,-inf
)");
  EXPECT_FALSE(AX::frame(nan->elementNamed("w")));
}

TEST(SimulatedDesktopTest, EffectsAreAppliedAndRecordedInOrder) {
  auto desktop = testing::browserDesktop(R"(
AXWindow "W"
  AXCheckBox "Remember me" value=0 actions=AXPress id=box
  AXRadioButton "Card" value=0 actions=AXPress id=radio
  AXButton "Pay" actions=AXPress press=-25202 id=pay
  AXTextField "Email" settable=AXValue,AXFocused id=email
  AXTextField "Name" focused settable=AXFocused id=name
  AXButton "Static" id=plain
)");
  AXElement box = desktop->elementNamed("box");
  EXPECT_EQ(AX::perform(box, "AXPress"), 0);
  EXPECT_EQ(AX::str(AX::copy(box, "AXValue")), "1");
  EXPECT_EQ(AX::perform(box, "AXPress"), 0);
  EXPECT_EQ(AX::str(AX::copy(box, "AXValue")), "0");
  EXPECT_EQ(AX::perform(desktop->elementNamed("radio"), "AXPress"), 0);
  EXPECT_EQ(AX::perform(desktop->elementNamed("radio"), "AXPress"), 0);
  EXPECT_EQ(AX::str(desktop->attribute("radio", "AXValue")), "1");  // radios stay on
  EXPECT_EQ(AX::perform(desktop->elementNamed("pay"), "AXPress"), AXErr::kInvalidUIElement);
  EXPECT_EQ(AX::perform(desktop->elementNamed("plain"), "AXPress"), AXErr::kActionUnsupported);
  AXElement email = desktop->elementNamed("email");
  EXPECT_EQ(AX::set(email, "AXValue", std::string("ada@example.com")), 0);
  EXPECT_EQ(AX::set(email, "AXFocused", true), 0);
  EXPECT_EQ(AX::set(desktop->elementNamed("plain"), "AXValue", std::string("x")),
            AXErr::kAttributeUnsupported);
  EXPECT_FALSE(AX::boolean(desktop->attribute("name", "AXFocused"), false));  // focus moved

  std::vector<std::string> lines;
  for (const Effect& e : desktop->effects())
    lines.push_back(e.describe());
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "AXPress AXCheckBox “Remember me” #box → 0",
                       "AXPress AXCheckBox “Remember me” #box → 0",
                       "AXPress AXRadioButton “Card” #radio → 0",
                       "AXPress AXRadioButton “Card” #radio → 0",
                       "AXPress AXButton “Pay” #pay → -25202",
                       "AXPress AXButton “Static” #plain → -25206",
                       "set AXTextField “Email” #email AXValue = “ada@example.com” → 0",
                       "set AXTextField “Email” #email AXFocused = true → 0",
                       "set AXButton “Static” #plain AXValue = “x” → -25205",
                   }));
}

TEST(SimulatedDesktopTest, VanishingElementsLeaveTheirParent) {
  auto desktop = testing::browserDesktop(R"(
AXWindow "W" id=w
  AXButton "Once" vanish=1 actions=AXPress id=once
  AXButton "Stays"
)");
  AXElement once = desktop->elementNamed("once");
  EXPECT_EQ(AX::str(AX::copy(once, "AXTitle")), "Once");  // the first read is answered
  EXPECT_EQ(AX::actions(once),
            std::vector<std::string>{"AXPress"});  // and the action names with it
  EXPECT_EQ(AX::perform(once, "AXPress"), AXErr::kInvalidUIElement);  // then it is gone
  EXPECT_FALSE(AX::copy(once, "AXTitle"));
  EXPECT_EQ(AX::elements(desktop->elementNamed("w"), "AXChildren").size(), 1u);
}

TEST(SimulatedDesktopTest, ElementAtPositionFindsTheDeepestOnTop) {
  auto desktop = testing::browserDesktop(R"(
AXWindow "W" frame=0,0,800,600
  AXGroup frame=0,0,800,600
    AXButton "Under" frame=10,10,100,40 id=under
    AXButton "Over" frame=50,10,100,40 id=over
    AXButton "Hidden" frame=10,100,100,40 hidden
)");
  AXElement system = desktop->createSystemWide();
  EXPECT_EQ(desktop->elementAtPosition(system, 20, 20).value, desktop->elementNamed("under"));
  EXPECT_EQ(desktop->elementAtPosition(system, 60, 20).value, desktop->elementNamed("over"));
  auto group = desktop->elementAtPosition(system, 20, 110);
  EXPECT_EQ(AX::str(AX::copy(group.value, "AXRole")), "AXGroup");
  EXPECT_EQ(desktop->elementAtPosition(system, 900, 900).code, AXErr::kNoValue);
}

TEST(SimulatedDesktopTest, ReadsFromManyThreadsAtOnce) {
  auto desktop = testing::browserDesktop(R"(
AXWindow "W" id=w
  AXButton "A" actions=AXPress
  AXButton "B" actions=AXPress
)");
  std::vector<std::thread> threads;
  std::vector<std::size_t> sizes(4);
  for (std::size_t t = 0; t < sizes.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        sizes[t] = Crawler::crawl(desktop->elementNamed("w"), {}, *desktop).size();
      }
    });
  }
  for (auto& t : threads)
    t.join();
  for (std::size_t s : sizes)
    EXPECT_EQ(s, 3u);
}

}  // namespace
}  // namespace tovrin

namespace tovrin {
namespace {

std::vector<std::string> effectLines(const SimulatedDesktop& desktop) {
  std::vector<std::string> lines;
  for (const Effect& e : desktop.effects())
    lines.push_back(e.describe());
  return lines;
}

TEST(SimulatedDesktopTest, KeysTypeIntoTheFocusedField) {
  auto desktop = testing::browserDesktop(R"(
AXWindow "W"
  AXTextField "Email" value="old" focused settable=AXValue,AXFocused id=email
  AXTextField "Stubborn" settable=AXValue,AXFocused id=stubborn
)");
  SyntheticInput& input = *desktop;
  auto type = [&](const std::string& text) {
    input.postKey(412, {.keyCode = 0, .text = text, .down = true});
    input.postKey(412, {.keyCode = 0, .text = text, .down = false});
  };
  type("+x");
  EXPECT_EQ(AX::str(desktop->attribute("email", "AXValue")), "old+x");
  input.postKey(412, {.keyCode = 0, .flags = KeyFlags::kCommand});  // select all
  type("é");
  type("👍🏽");
  EXPECT_EQ(AX::str(desktop->attribute("email", "AXValue")), "é👍🏽");
  input.postKey(412, {.keyCode = 51});  // delete removes one character, not one byte
  EXPECT_EQ(AX::str(desktop->attribute("email", "AXValue")), "é");
  input.postKey(412, {.keyCode = 0, .flags = KeyFlags::kCommand});
  input.postKey(412, {.keyCode = 8, .flags = KeyFlags::kCommand});  // copy
  EXPECT_EQ(desktop->string(), "é");

  // A field that ignores synthetic keys still takes a value set directly.
  nlohmann::json scene = {
      {"apps", {{{"pid", 1}, {"frontmost", true}, {"windows", {testing::treeJson(R"(
AXWindow "W"
  AXTextField "Deaf" focused settable=AXValue id=deaf
)")}}}}}};
  scene["apps"][0]["windows"][0]["children"][0]["behavior"] = {{"ignoresKeys", true}};
  auto deaf = testing::sceneDesktop(scene);
  deaf->postKey(1, {.keyCode = 0, .text = "a"});
  EXPECT_EQ(AX::str(deaf->attribute("deaf", "AXValue")), "");
  EXPECT_EQ(AX::set(deaf->elementNamed("deaf"), "AXValue", std::string("set")), 0);
  EXPECT_EQ(AX::str(deaf->attribute("deaf", "AXValue")), "set");
}

TEST(SimulatedDesktopTest, ClicksWheelAndWorkspaceEffects) {
  auto desktop = testing::browserDesktop(R"(
AXWindow "W" frame=0,0,800,600
  AXWebArea "Page" frame=0,0,800,600
    AXCheckBox "Refuses AXPress" value=0 actions=AXPress press=-25202 frame=10,10,100,20 id=box
      AXStaticText value="label" frame=10,10,50,20
    AXTextField "Name" frame=10,50,200,20 settable=AXValue,AXFocused id=name
)");
  SyntheticInput& input = *desktop;
  input.postMouse(20, 15, true);
  input.postMouse(21, 16, false);  // a click on the label reaches the checkbox
  EXPECT_EQ(AX::str(desktop->attribute("box", "AXValue")), "1");
  input.postMouse(20, 55, true);
  input.postMouse(200, 300, false);  // a drag is not a click
  EXPECT_FALSE(AX::boolean(desktop->attribute("name", "AXFocused"), false));
  input.postMouse(20, 55, true);
  input.postMouse(20, 55, false);
  EXPECT_TRUE(AX::boolean(desktop->attribute("name", "AXFocused"), false));
  input.postScrollWheel(400, 300, -200);
  EXPECT_EQ(AX::frame(desktop->elementNamed("name")), (Frame{10, -150, 200, 20}));

  EXPECT_TRUE(desktop->openURLs({"https://a.example/", "https://b.example/"}, "com.google.Chrome"));
  desktop->showOutline({10, 20, 100, 30}, 1.5);
  desktop->hideOutline();
  desktop->setString("profile.email", "ada@example.com");
  desktop->setInteger("hotkeyPreset", 2);
  EXPECT_EQ(desktop->string("profile.email"), "ada@example.com");
  EXPECT_EQ(desktop->integer("hotkeyPreset"), 2);
  EXPECT_EQ(desktop->integer("profile.email"), std::nullopt);
  EXPECT_FALSE(desktop->activate(999));

  EXPECT_EQ(effectLines(*desktop),
            (std::vector<std::string>{
                "mouse down at 20,15", "mouse up at 21,16", "mouse down at 20,55",
                "mouse up at 200,300", "mouse down at 20,55", "mouse up at 20,55",
                "scroll wheel -200 at 400,300", "open https://a.example/ in com.google.Chrome",
                "open https://b.example/ in com.google.Chrome", "outline 10,20,100,30 for 1.5s",
                "outline hidden", "defaults profile.email = “ada@example.com”",
                "defaults hotkeyPreset = 2"}));
}

TEST(SimulatedDesktopTest, SceneDefaultsAndClipboard) {
  auto desktop = testing::sceneDesktop(
      {{"defaults", {{"profile.name", "Ada"}, {"hotkeyPreset", 1}}}, {"clipboard", "copied"}});
  EXPECT_EQ(desktop->string("profile.name"), "Ada");
  EXPECT_EQ(desktop->integer("hotkeyPreset"), 1);
  EXPECT_EQ(desktop->string(), "copied");
  EXPECT_EQ(loadError(R"({"defaults": {"profile.name": true}})"),
            "s.json: defaults.profile.name: expected a string or a whole number, found a boolean");
}

}  // namespace
}  // namespace tovrin
