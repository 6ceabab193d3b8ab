#include "ui/page_prefetch.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/scene_tree.h"
#include "ui/palette_view_model.h"

namespace tovrin {
namespace {

constexpr const char* kReadAhead = "Read while the command was typed";

// A palette that reads ahead, over a simulated browser; queued work runs
// only when the test says.
struct ReadingPalette {
  std::shared_ptr<SimulatedDesktop> desktop = testing::browserDesktop(testing::kShopWindow);
  std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
  std::shared_ptr<PagePrefetch> prefetch = PagePrefetch::make(executor);
  std::shared_ptr<PaletteViewModel> vm;

  ReadingPalette() {
    Platform platform = desktop->platform();
    auto tracker = std::make_shared<BrowserTracker>(platform);
    tracker->start();
    vm = PaletteViewModel::make({.platform = platform,
                                 .tracker = tracker,
                                 .model = nullptr,
                                 .highlighter = std::make_shared<Highlighter>(platform),
                                 .executor = executor});
    vm->readAheadWith(prefetch);
  }
  void open() {
    vm->reset();
    vm->opened();
  }
  // The trail of the command's outcome.
  std::vector<std::string> submit(const std::string& text) {
    vm->input = text;
    vm->submit();
    executor->runAll();
    const auto* r = std::get_if<ActionResult>(&vm->phase());
    return r ? r->debug : std::vector<std::string>{"(no result)"};
  }
};

bool has(const std::vector<std::string>& trail, const std::string& line) {
  return std::find(trail.begin(), trail.end(), line) != trail.end();
}

TEST(PagePrefetchTest, ACommandSeesThePageAsItIsAtReturn) {
  struct Case {
    const char* what;
    bool changeBeforeReturn;
    bool readAhead;  // the command used the read made while it was typed
  };
  const Case cases[] = {
      {"nothing changed", false, true},
      {"the page changed after the read", true, false},
  };
  constexpr const char* kNotUsed = "read ahead not used: the page changed after it was read";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReadingPalette p;
    std::vector<std::string> reports;
    p.prefetch->onRead([&](const std::string& line) { reports.push_back(line); });
    p.open();
    p.executor->runAll();  // the read, while the user types
    if (c.changeBeforeReturn) {
      // What another program (or the page itself) does meanwhile.
      p.desktop->performAction(p.desktop->elementNamed("add1"), "AXPress");
    }
    const auto trail = p.submit("click sign in");
    EXPECT_TRUE(has(trail, "AXPress succeeded")) << ::testing::PrintToString(trail);
    EXPECT_EQ(has(trail, kReadAhead), c.readAhead) << ::testing::PrintToString(trail);
    // A read set aside says why, for the trace: unheard, a stale read and
    // a read cut short look alike.
    EXPECT_EQ(has(reports, kNotUsed), !c.readAhead) << ::testing::PrintToString(reports);
  }
}

TEST(PagePrefetchTest, AReadIsHandedOutOnceAndOnlyForItsBrowser) {
  auto desktop = testing::browserDesktop(testing::kShopWindow);
  auto executor = std::make_shared<ManualExecutor>();
  auto prefetch = PagePrefetch::make(executor);
  BrowserTracker tracker(desktop->platform());
  tracker.start();
  auto target = tracker.current();
  ASSERT_TRUE(target);
  prefetch->begin(*target);
  executor->runAll();

  BrowserTarget other = *target;
  other.app.pid += 1;
  EXPECT_EQ(prefetch->take(other), nullptr) << "another browser's command reads its own page";
  auto snap = prefetch->take(*target);
  ASSERT_NE(snap, nullptr);
  EXPECT_EQ(snap->pageTitle, "Acme Shop");
  EXPECT_EQ(prefetch->take(*target), nullptr) << "a second command reads afresh";
}

TEST(PagePrefetchTest, NoPageReadOutlivesThePalette) {
  // Closed after a command: neither the palette nor its last engine keeps
  // the page.
  ReadingPalette p;
  p.open();
  p.executor->runAll();
  p.submit("click sign in");
  std::weak_ptr<const PageSnapshot> read = p.vm->engine()->snapshot();
  ASSERT_FALSE(read.expired());
  p.vm->closed();
  p.executor->runAll();
  EXPECT_TRUE(read.expired());
  EXPECT_EQ(p.vm->engine(), nullptr);

  // Closed before Return, and before the read had its turn: nothing is read
  // for the next command.
  ReadingPalette q;
  q.open();
  q.vm->closed();
  q.executor->runAll();
  q.open();
  q.vm->closed();
  auto trail = q.submit("click sign in");
  EXPECT_FALSE(has(trail, kReadAhead)) << ::testing::PrintToString(trail);

  // A command's outcome that arrives after the palette closed is dropped
  // with the page text it may carry.
  ReadingPalette r;
  r.open();
  r.executor->runAll();
  r.vm->input = "what does acme plus cost";
  r.vm->submit();
  r.vm->closed();
  r.executor->runAll();
  EXPECT_TRUE(std::holds_alternative<PaletteViewModel::Idle>(r.vm->phase()));
}

}  // namespace
}  // namespace tovrin
