#include "accessibility/ax.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/scene_tree.h"

namespace tovrin {
namespace {

TEST(AXTest, TextDecoding) {
  const std::pair<std::optional<AXValue>, const char*> cases[] = {
      {std::nullopt, ""},
      {AXValue(std::string("  as is ")), "  as is "},
      {AXValue(AXAttributedString{"styled"}), "styled"},
      {AXValue(AXNumber{3}), "3"},
      {AXValue(AXNumber{-2.5}), "-2.5"},
      {AXValue(AXNumber{0.1}), "0.1"},
      {AXValue(true), ""},
      {AXValue(AXElement()), ""},
      {AXValue(AXURL{"https://x"}), ""},
      {AXValue(AXNull{}), ""},
  };
  for (const auto& [value, expected] : cases)
    EXPECT_EQ(AX::str(value), expected);
}

TEST(AXTest, BooleanDecodingFallsBackToTheCallersDefault) {
  EXPECT_TRUE(AX::boolean(AXValue(true), false));
  EXPECT_TRUE(AX::boolean(AXValue(AXNumber{2}), false));
  EXPECT_FALSE(AX::boolean(AXValue(AXNumber{0}), true));
  EXPECT_TRUE(AX::boolean(AXValue(std::string("no")), true));
  EXPECT_FALSE(AX::boolean(std::nullopt, false));
  EXPECT_TRUE(AX::boolean(std::nullopt, true));
}

TEST(AXTest, FramesNeedAPointASizeAndFiniteNumbers) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  AXValue pos = AXPoint{10, 20};
  EXPECT_EQ(AX::rect(pos, AXValue(AXSize{30, 40})), (Frame{10, 20, 30, 40}));
  EXPECT_EQ(AX::rect(pos, AXValue(AXSize{0, 0})), (Frame{10, 20, 0, 0}));
  EXPECT_EQ(AX::rect(pos, AXValue(AXSize{-5, 3})), (Frame{10, 20, -5, 3}));
  EXPECT_FALSE(AX::rect(pos, std::nullopt));
  EXPECT_FALSE(AX::rect(pos, AXValue(AXSize{nan, 3})));
  EXPECT_FALSE(AX::rect(AXValue(AXPoint{inf, 0}), AXValue(AXSize{1, 1})));
  EXPECT_FALSE(AX::rect(AXValue(AXSize{1, 1}), AXValue(AXPoint{1, 1})));  // boxes swapped
  EXPECT_FALSE(AX::rect(AXValue(std::string("0,0")), AXValue(AXSize{1, 1})));
}

TEST(AXTest, MultiAlwaysAnswersOneEntryPerName) {
  auto desktop = testing::browserDesktop(R"(
AXWindow "W" id=w
  AXButton "Gone" vanish=0 id=gone
  AXButton "Odd" attr.AXHelp={'error':-25212} attr.AXDescription=null id=odd
)");
  std::vector<std::string> names = {"AXRole", "AXTitle", "AXHelp", "AXDescription", "AXNoSuch"};
  auto gone = AX::multi(desktop->elementNamed("gone"), names);
  ASSERT_EQ(gone.size(), names.size());
  for (const auto& v : gone)
    EXPECT_FALSE(v);

  auto odd = AX::multi(desktop->elementNamed("odd"), names);
  ASSERT_EQ(odd.size(), names.size());
  EXPECT_EQ(AX::str(odd[0]), "AXButton");
  EXPECT_EQ(AX::str(odd[1]), "Odd");
  EXPECT_FALSE(odd[2]);  // error box
  EXPECT_FALSE(odd[3]);  // null
  EXPECT_FALSE(odd[4]);  // unsupported

  EXPECT_TRUE(AX::multi(AXElement(), names).size() == names.size());
}

TEST(AXTest, ElementAttributesMustHoldElements) {
  auto desktop = testing::browserDesktop(R"(
AXWindow "W" id=w
  AXGroup "Junk" attr.AXChildren='not-a-list' attr.AXParent=42 id=junk
    AXButton "Never seen"
)");
  AXElement junk = desktop->elementNamed("junk");
  EXPECT_TRUE(AX::elements(junk, "AXChildren").empty());
  EXPECT_FALSE(AX::parent(junk));
  EXPECT_EQ(AX::parent(desktop->elementNamed("w")).has_value(), true);  // the application
  EXPECT_TRUE(AX::actions(junk).empty());
}

TEST(AXTest, UntrustedDesktopReadsNothing) {
  nlohmann::json scene = {
      {"trusted", false},
      {"apps", {{{"pid", 5}, {"windows", {testing::treeJson("AXWindow \"W\" id=w")}}}}}};
  auto desktop = testing::sceneDesktop(scene);
  AXElement w = desktop->elementNamed("w");
  EXPECT_FALSE(desktop->isProcessTrusted());
  EXPECT_FALSE(AX::copy(w, "AXTitle"));
  EXPECT_EQ(AX::perform(w, "AXRaise"), AXErr::kAPIDisabled);
}

}  // namespace
}  // namespace tovrin
