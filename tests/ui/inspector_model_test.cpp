#include "ui/inspector_model.h"

#include <gtest/gtest.h>

#include "support/scene_tree.h"

namespace tovrin {
namespace {

std::shared_ptr<InspectorModel> modelFor(const std::shared_ptr<SimulatedDesktop>& desktop) {
  auto tracker = std::make_shared<BrowserTracker>(desktop->platform());
  tracker->start();
  return InspectorModel::make({.platform = desktop->platform(),
                               .tracker = tracker,
                               .executor = std::make_shared<InlineExecutor>()});
}

std::size_t count(const InspectorNode& node) {
  std::size_t n = 1;
  if (node.children) {
    for (const InspectorNode& c : *node.children)
      n += count(c);
  }
  return n;
}

TEST(InspectorTest, NodesAndHeadings) {
  auto desktop = testing::browserDesktop(R"(
AXWindow "W" id=w
  AXTextField "Password" subrole=AXSecureTextField value="hunter2"
  AXGroup
  AXButton "A title of sixty characters, which is longer than fifty-one"
  AXStaticText value="  spaced \n out  "
)");
  auto model = modelFor(desktop);
  model->reload();
  EXPECT_EQ(model->status, "Google Chrome — window tree (depth ≤ 14, ≤ 2500 nodes)");
  ASSERT_EQ(model->roots.size(), 1u);
  const auto& kids = *model->roots[0].children;
  ASSERT_EQ(kids.size(), 4u);
  EXPECT_EQ(kids[0].value, "(hidden)");
  EXPECT_EQ(kids[0].heading(), "TextField  “Password”");
  EXPECT_EQ(kids[1].heading(), "Group");
  EXPECT_FALSE(kids[1].children);  // no children: absent, not empty
  EXPECT_EQ(kids[2].heading(), "Button  “A title of sixty characters, which is longer than…”");
  EXPECT_EQ(kids[3].heading(), "StaticText  “spaced out”");
  EXPECT_EQ(kids[3].path, std::vector<std::string>{"Window  “W”"});
  EXPECT_EQ(model->selectedNode(), &model->roots[0]);

  auto unknown = testing::browserDesktop("AXWindow \"W\" id=w\n  AXButton attr.AXRole=null\n");
  auto m2 = modelFor(unknown);
  m2->reload();
  EXPECT_EQ((*m2->roots[0].children)[0].heading(), "Unknown");
}

TEST(InspectorTest, TheBudgetCutsLargeTreesWithEmptyChildLists) {
  // The window and two groups of 1,248 buttons take 2,499 nodes; the third
  // group is the 2,500th and has no budget left for its children.
  std::string tree = "AXWindow \"Big\" id=w\n";
  for (int g = 0; g < 3; ++g) {
    tree += "  AXGroup \"g" + std::to_string(g) + "\"\n";
    for (int b = 0; b < 1248; ++b)
      tree += "    AXButton \"b\"\n";
  }
  auto model = modelFor(testing::browserDesktop(tree));
  model->reload();
  ASSERT_EQ(model->roots.size(), 1u);
  EXPECT_EQ(count(model->roots[0]), 2500u);
  const auto& groups = *model->roots[0].children;
  ASSERT_EQ(groups.size(), 3u);
  ASSERT_TRUE(groups[2].children);  // read, but every child skipped: empty, not absent
  EXPECT_TRUE(groups[2].children->empty());
}

TEST(InspectorTest, StatusWithoutBrowserOrAccess) {
  nlohmann::json none = {
      {"apps", {{{"pid", 9}, {"bundleID", "com.apple.finder"}, {"frontmost", true}}}}};
  auto model = modelFor(testing::sceneDesktop(none));
  model->reload();
  EXPECT_EQ(model->status, "No supported browser found.");
  EXPECT_TRUE(model->roots.empty());

  nlohmann::json locked = {
      {"trusted", false},
      {"apps", {{{"pid", 1}, {"bundleID", "com.google.Chrome"}, {"frontmost", true}}}}};
  auto m2 = modelFor(testing::sceneDesktop(locked));
  m2->reload();
  EXPECT_EQ(m2->status, "Accessibility access is required.");

  nlohmann::json noWindow = {
      {"apps",
       {{{"pid", 1}, {"bundleID", "com.google.Chrome"}, {"name", "Chrome"}, {"frontmost", true}}}}};
  auto m3 = modelFor(testing::sceneDesktop(noWindow));
  m3->reload();
  EXPECT_EQ(m3->status, "Couldn't read a Chrome window.");
}

TEST(InspectorTest, PickingWalksUpFortyAncestors) {
  std::string tree = "AXWindow \"W\" id=w frame=0,0,500,500\n";
  for (int depth = 1; depth <= 45; ++depth) {
    tree += std::string(static_cast<std::size_t>(depth) * 2, ' ') + "AXGroup \"level " +
            std::to_string(depth) + "\" frame=0,0,500,500\n";
  }
  tree += std::string(92, ' ') + "AXButton \"Deep\" frame=10,10,20,20 actions=AXPress\n";
  auto desktop = testing::browserDesktop(tree);
  auto model = modelFor(desktop);
  model->startPicking();
  model->startPicking();  // armed once
  EXPECT_TRUE(model->picking);
  EXPECT_EQ(model->status, "Click any element in the browser…");
  model->pickAt(15, 15);
  EXPECT_FALSE(model->picking);
  EXPECT_EQ(model->status, "Picked element from the browser");
  const InspectorNode* node = model->selectedNode();
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->heading(), "Button  “Deep”");
  ASSERT_EQ(node->path.size(), 40u);
  EXPECT_EQ(node->path.front(), "Group  “level 6”");  // the outermost of the forty
  EXPECT_EQ(node->path.back(), "Group  “level 45”");
  auto lines = node->hierarchyLines();
  EXPECT_EQ(lines[1], "  └ Group  “level 7”");

  auto rows = node->detailRows();
  EXPECT_EQ(rows[6], (std::pair<std::string, std::string>{"Position", "x 10, y 10"}));
  EXPECT_EQ(rows[7], (std::pair<std::string, std::string>{"Size", "20 × 20"}));
  EXPECT_EQ(rows[1], (std::pair<std::string, std::string>{"Title", "Deep"}));
  EXPECT_EQ(rows[2], (std::pair<std::string, std::string>{"Value", "—"}));

  model->startPicking();
  model->pickAt(9000, 9000);
  EXPECT_EQ(model->status, "Nothing accessible under the pointer.");
  EXPECT_FALSE(model->picking);
  EXPECT_EQ(InspectorModel::accessibilityY(100, 900), 800);
}

}  // namespace
}  // namespace tovrin
