#include <gtest/gtest.h>

#include "engine_fixture.h"

namespace tovrin {
namespace {

using testing::contains;
using testing::EngineFixture;
using testing::headline;
using testing::resultOf;

TEST(ClickFlowTest, TheRoadOfOneCommand) {
  auto loaded = SimulatedDesktop::load(testing::sourcePath("examples/scenes/shop.json"));
  EngineFixture f(std::get<std::shared_ptr<SimulatedDesktop>>(loaded));
  Outcome o = f.run("click sign in");
  EXPECT_EQ(resultOf(o).headline, "Clicked **Sign in**");
  EXPECT_EQ(resultOf(o).debug,
            (std::vector<std::string>{
                "Intent: Click “sign in”",
                "Browser: Google Chrome (Chrome adapter)",
                "Read 64 elements, 32 text lines in 0.00s",
                "Page: Acme Shop",
                "Candidates: “Sign in” 100",
                "Selected: Button “Sign in” — label matches “sign in” (score 100)",
                "Element: AXButton (1200,96 90×32) actions=AXPress,AXShowMenu",
                "AXPress succeeded",
            }));
  f.desktop->sleep(2);
  EXPECT_EQ(f.effects(),
            (std::vector<std::string>{"outline 1200,96,90,32 for 1.5s",
                                      "AXPress AXButton “Sign in” #signin → 0", "outline hidden"}));
}

constexpr const char* kPage = R"(
AXWindow "Shop" id=w
  AXWebArea "Shop" frame=0,100,1000,900
    AXHeading "Plans" value=2 frame=0,100,200,30
    AXButton "Delete account" actions=AXPress frame=10,150,100,30 id=delete
    AXButton "Subscribe" actions=AXPress frame=10,200,100,30
    AXHeading "Basket" value=2 frame=0,300,200,30
    AXButton "Add to cart" actions=AXPress frame=10,350,100,30 id=add1
    AXButton "Add to cart" actions=AXPress frame=10,400,100,30 id=add2
    AXLink "Pricing" url=https://x.example/p actions=AXPress frame=10,500,100,30
    AXLink "Pricing" url=https://x.example/p actions=AXPress frame=11,501,100,30
    AXButton "Help centre" actions=AXPress frame=10,600,100,30
    AXButton "Refused" actions=AXPress press=-25206 frame=10,700,100,30 id=refused
    AXButton "Refused, nowhere" actions=AXPress press=-25206 id=nowhere
    AXButton "Gone soon" actions=AXPress vanish=1 frame=10,800,100,30 id=gone
    AXButton "Stopped" actions=AXPress stall=1 frame=10,850,100,30 id=stopped
)";

TEST(ClickFlowTest, PressesAndTheirFallbacks) {
  struct Case {
    const char* command;
    std::string headline;
    std::vector<std::string> effects;  // AXPress and mouse effects, in order
  };
  const Case cases[] = {
      {"click help centre", "Clicked **Help centre**", {"AXPress AXButton “Help centre” → 0"}},
      {"click refused",
       "Clicked **Refused**",
       {"AXPress AXButton “Refused” #refused → -25206", "mouse down at 60,715",
        "mouse up at 60,715"}},
      {"click refused, nowhere",
       "Couldn't click “Refused, nowhere”",
       {"AXPress AXButton “Refused, nowhere” #nowhere → -25206"}},
      // Read once by the crawl, gone by the press: no blind click where it was.
      {"click gone soon",
       "That element is no longer available",
       {"AXPress AXButton “Gone soon” #gone → -25202"}},
      // Its browser stopped answering after the read: the press times out and
      // no click lands where the button used to be.
      {"click stopped",
       "Couldn't click “Stopped”",
       {"AXPress AXButton “Stopped” #stopped → -25204"}},
      // Two links at the same place collapse into one candidate.
      {"click pricing", "Clicked **Pricing**", {"AXPress AXLink “Pricing” → 0"}},
      {"click frobnicator", "Couldn't find “frobnicator”", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    EngineFixture f(kPage);
    Outcome o = f.run(c.command);
    EXPECT_EQ(headline(o), c.headline);
    std::vector<std::string> presses;
    for (const std::string& e : f.effects()) {
      if (e.rfind("AXPress", 0) == 0 || e.rfind("mouse", 0) == 0) presses.push_back(e);
    }
    EXPECT_EQ(presses, c.effects);
  }
  EXPECT_TRUE(contains(resultOf(EngineFixture(kPage).run("click refused")).debug,
                       "Falling back to a mouse click at element center"));
  EXPECT_EQ(resultOf(EngineFixture(kPage).run("click gone soon")).body,
            "The page changed after it was read. Try the command again.");
  EXPECT_TRUE(contains(resultOf(EngineFixture(kPage).run("click pricing")).debug,
                       "Candidates: “Pricing” 100"));
}

TEST(ClickFlowTest, RiskyPressesWaitForConfirmation) {
  EngineFixture f(kPage);
  Outcome o = f.run("click delete account");
  const Confirmation* c = o.confirmation();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->title, "Click “Delete account”?");
  EXPECT_EQ(c->message, "This may delete content or cancel something.");
  EXPECT_EQ(c->confirmLabel, "Click");
  EXPECT_TRUE(f.effectsContaining("AXPress").empty());  // declining is simply not calling perform
  ActionResult done = c->perform();
  EXPECT_EQ(done.headline, "Clicked **Delete account**");
  EXPECT_EQ(f.effectsContaining("AXPress"),
            std::vector<std::string>{"AXPress AXButton “Delete account” #delete → 0"});
}

TEST(ClickFlowTest, SameLabelsGoToTheUserAndAPickPressesThatOne) {
  EngineFixture f(kPage);
  f.model->setAvailable(true);
  Outcome o = f.run("click add to cart");
  const ChoiceSet* set = o.choices();
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->prompt, "Which one do you mean?");
  ASSERT_EQ(set->options.size(), 2u);
  EXPECT_EQ(set->options[1].title, "Add to cart");
  EXPECT_EQ(set->options[1].subtitle,
            "Button · under “Basket” · middle of view");  // (415 − 100) / 900
  EXPECT_TRUE(f.model->calls().empty());                  // equal labels: the model is not asked
  Outcome picked = set->options[1].run();
  EXPECT_EQ(resultOf(picked).debug.front(),
            "Picked by you from Button · under “Basket” · middle of view");
  EXPECT_EQ(f.effectsContaining("AXPress"),
            std::vector<std::string>{"AXPress AXButton “Add to cart” #add2 → 0"});
}

constexpr const char* kRivals = R"(
AXWindow "W" id=w
  AXWebArea "W" frame=0,0,1000,1000
    AXHeading "Reports" value=2
    AXButton "Download report PDF" actions=AXPress
    AXButton "Download report CSV" actions=AXPress
    AXButton "Save" actions=AXPress
    AXButton "Save draft" actions=AXPress
)";

TEST(ClickFlowTest, RivalsGoToTheModelThenTheUser) {
  // Both labels score 82 / 1.07 + 8 ≈ 84.6: rivals with different labels.
  EngineFixture without(kRivals);
  EXPECT_EQ(headline(without.run("click download report")), "choose: Which one do you mean?");

  EngineFixture with(kRivals);
  with.model->setAvailable(true);
  with.model->when("User wants:", nlohmann::json{{"index", 1}});
  Outcome o = with.run("click download report");
  EXPECT_EQ(resultOf(o).headline, "Clicked **Download report CSV**");
  EXPECT_TRUE(
      contains(resultOf(o).debug, "Ambiguous — on-device model picked “Download report CSV”"));
  ASSERT_EQ(with.model->calls().size(), 1u);
  EXPECT_EQ(with.model->calls()[0].prompt,
            "User wants: “download report”\nOptions:\n0: Button: Download report PDF — Reports\n"
            "1: Button: Download report CSV — Reports");
}

TEST(ClickFlowTest, ClearWinnersAndLowConfidence) {
  // 100 for "Save" against 84.6 for "Save draft": no rival within 6 points.
  EngineFixture f(kRivals);
  EXPECT_EQ(headline(f.run("click save")), "Clicked **Save**");

  // A weak best match (70 / 1.56 ≈ 44.9) with no rival (the other scores 38.0):
  // the model may pick; without an answer the top is pressed.
  const char* weak = R"(
AXWindow "W" id=w
  AXWebArea "W"
    AXButton "Try the new experimental beta program with all features today" actions=AXPress
    AXButton "Beta and features and many more words here to make this label long enough" actions=AXPress
)";
  EngineFixture lone(weak);
  lone.model->setAvailable(true);
  Outcome o = lone.run("click beta features");
  EXPECT_EQ(resultOf(o).headline,
            "Clicked **Try the new experimental beta program with all features today**");
  EXPECT_EQ(lone.model->calls().size(), 1u);
}

TEST(ClickFlowTest, OpenLinkFallsBackToButtonsAndTheModelFindsUnmatchedTargets) {
  const char* page = R"(
AXWindow "W" id=w
  AXWebArea "W"
    AXButton "Pricing" actions=AXPress
    AXButton "Start" actions=AXPress
)";
  EngineFixture f(page);
  EXPECT_EQ(headline(f.run("open pricing")), "Clicked **Pricing**");

  f.model->setAvailable(true);
  f.model->when("User wants: “begin”", nlohmann::json{{"index", 1}});
  Outcome o = f.run("click begin");
  EXPECT_EQ(resultOf(o).headline, "Clicked **Start**");
  EXPECT_TRUE(contains(resultOf(o).debug,
                       "Selected: Button “Start” — chosen by on-device model (score 40)"));
  EXPECT_EQ(f.model->calls().back().prompt,
            "User wants: “begin”\nOptions:\n0: Button: Pricing\n1: Button: Start");
}

TEST(ClickFlowTest, AChoicePickedAfterThePageChangedFailsCleanly) {
  nlohmann::json scene = {{"apps",
                           {{{"pid", 1},
                             {"bundleID", "com.google.Chrome"},
                             {"frontmost", true},
                             {"focusedWindow", 0},
                             {"windows", {testing::treeJson(R"(
AXWindow "W"
  AXWebArea "One" frame=0,0,800,600
    AXButton "Add to cart" actions=AXPress frame=0,0,10,10
    AXButton "Add to cart" actions=AXPress frame=0,50,10,10
    AXLink "Next page" actions=AXPress frame=0,100,10,10 id=next
)")}}}}},
                          {"pages", {testing::treeJson(R"(
AXWebArea "Two" id=two frame=0,0,800,600
  AXStaticText value="Another page"
)")}}};
  scene["apps"][0]["windows"][0]["children"][0]["children"][2]["behavior"] = {{"loads", "two"}};
  EngineFixture f(testing::sceneDesktop(scene));
  Outcome o = f.run("click add to cart");
  ASSERT_NE(o.choices(), nullptr);
  EXPECT_EQ(AX::perform(f.desktop->elementNamed("next"), "AXPress"),
            0);  // the page changes meanwhile
  Outcome picked = o.choices()->options[0].run();
  EXPECT_EQ(resultOf(picked).headline, "That element is no longer available");
}

TEST(ClickFlowTest, NoWindowMeansNoRead) {
  nlohmann::json scene = {
      {"apps",
       {{{"pid", 1}, {"bundleID", "com.google.Chrome"}, {"name", "Chrome"}, {"frontmost", true}}}}};
  EngineFixture f(testing::sceneDesktop(scene));
  Outcome o = f.run("click sign in");
  const ActionResult& r = resultOf(o);
  EXPECT_EQ(r.headline, "Couldn't read Chrome");
  EXPECT_EQ(r.body, "No window is accessible. Make sure Chrome has an open window and try again.");
  EXPECT_EQ(r.debug.size(), 2u);
}

// The simulated desktop's input, on a desktop that cannot tell where windows
// lie (Wayland): keys pass, clicks and the wheel are not offered.
class NoPointsInput final : public SyntheticInput {
 public:
  explicit NoPointsInput(std::shared_ptr<SyntheticInput> inner) : inner_(std::move(inner)) {}
  bool postKey(int32_t pid, const KeyEvent& event) override { return inner_->postKey(pid, event); }
  bool postMouse(double, double, bool) override { return false; }
  bool postScrollWheel(double, double, int32_t) override { return false; }
  [[nodiscard]] bool canPostAtPoints() const override { return false; }

 private:
  std::shared_ptr<SyntheticInput> inner_;
};

TEST(ClickFlowTest, WhereWindowPositionsAreUnknownNothingIsClickedBlindly) {
  struct Case {
    const char* command;
    const char* headline;
    std::string bodyOrLastStep;
  };
  const Case cases[] = {
      {"click refused", "Couldn't click “Refused”",
       "The element doesn't support pressing and Tovrin can't click at a position on this "
       "desktop."},
      // The wheel is not there to turn: the page is scrolled with keys.
      {"scroll down", "Scrolled **down**", "Fell back to Page Down / Page Up key"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    EngineFixture f(kPage);
    auto target = BrowserTracker(f.desktop->platform()).current();
    ASSERT_TRUE(target);
    target->platform.input = std::make_shared<NoPointsInput>(target->platform.input);
    f.desktop->clearEffects();
    Outcome o = ActionEngine::make(*target, {.model = f.model, .highlighter = f.highlighter})
                    ->run(*IntentParser::parse(c.command));
    const ActionResult& r = resultOf(o);
    EXPECT_EQ(r.headline, c.headline);
    EXPECT_EQ(r.body ? *r.body : r.debug.back(), c.bodyOrLastStep);
    EXPECT_TRUE(f.effectsContaining("mouse").empty());
    EXPECT_TRUE(f.effectsContaining("scroll wheel").empty());
  }
}

}  // namespace
// The wrong element pressed and called a success is the fault to prevent:
// an ordinal whose collection is unclear asks; one over a results list
// counts in that list, past the navigation bar's links.
TEST(ClickFlowTest, AnOrdinalPressesOnlyWithinItsCollectionAndOtherwiseAsks) {
  constexpr const char* kResults = R"(
AXWindow "W" id=w
  AXWebArea "Search" frame=0,0,1000,900
    AXGroup "Navigation"
      AXLink "Documentation for every release" actions=AXPress frame=10,10,300,20 id=nav
    AXList "Results"
      AXGroup
        AXLink "Installing printers on a network" actions=AXPress frame=10,100,300,20 id=r1
      AXGroup
        AXLink "Sharing a printer with other computers" actions=AXPress frame=10,130,300,20 id=r2
    AXGroup "Rooms"
      AXGroup actions=AXPress frame=10,300,300,40 id=room1
        AXStaticText value="Floor plan of building A" frame=10,300,300,20
    AXGroup "Floors"
      AXGroup actions=AXPress frame=10,400,300,40 id=floor1
        AXStaticText value="Floor plan of building B" frame=10,400,300,20
)";
  {
    EngineFixture f(kResults);
    Outcome o = f.run("click the first result");
    EXPECT_EQ(resultOf(o).headline, "Clicked **Installing printers on a network**");
    EXPECT_EQ(
        f.effectsContaining("AXPress"),
        std::vector<std::string>{"AXPress AXLink “Installing printers on a network” #r1 → 0"});
  }
  {
    EngineFixture f(kResults);
    Outcome o = f.run("click the second floor plan");
    ASSERT_NE(o.choices(), nullptr) << resultOf(o).headline << " / "
                                    << (resultOf(o).debug.empty() ? "" : resultOf(o).debug.back());
    EXPECT_EQ(o.choices()->options.size(), 2u);
    EXPECT_TRUE(f.effectsContaining("AXPress").empty());
  }
}

}  // namespace tovrin
