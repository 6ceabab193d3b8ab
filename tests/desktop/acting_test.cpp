// Tovrin acting on real Chromium, Firefox and GNOME Web: each command runs as a whole
// `tovrin run` process, and what the page itself shows afterwards (its
// status line, read back by another process) is the proof.

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "desktop/browser_fixture.h"
#include "platform/linux/x11/x11_clipboard.h"

namespace tovrin::testing {
namespace {

class ActingTest : public ::testing::TestWithParam<BrowserKind> {};

// The page's own report of what was last done.
std::string pageStatus() {
  ProcessResult r = runTovrin({"snapshot", "--lines"});
  for (const char* prefix : {"Signed in", "Purchased", "Added ", "Searched for ", "Nothing done"}) {
    auto at = r.out.find(std::string("\t") + prefix);
    if (at == std::string::npos) continue;
    auto end = r.out.find('\n', at);
    return r.out.substr(at + 1, end - at - 1);
  }
  return "(no status line)\n" + r.out + r.err;
}

TEST_P(ActingTest, CommandsChangeWhatThePageShows) {
  auto browser = Browser::start(GetParam(), pageURL("shop.html"), {});
  ASSERT_TRUE(browser && browser->waitUntilShows("Acme Outdoor Supplies"));
  struct Step {
    std::vector<std::string> command;
    std::string outcome;  // in the printed outcome
    const char* status;   // the page's status line afterwards, where the page is in front
  };
  // Tab numbers are Ctrl+N in Chromium, Alt+N in Firefox and GNOME Web; the
  // trail says which went.
  const std::string tabChord = GetParam() == BrowserKind::chromium ? "Ctrl+1" : "Alt+1";
  const Step steps[] = {
      {{"click", "sign", "in"}, "[success] Clicked **Sign in**", "Signed in"},
      {{"--decline", "click", "buy", "now"}, "→ declined: nothing was done", "Signed in"},
      {{"--confirm", "click", "buy", "now"}, "[success] Clicked **Buy now**", "Purchased"},
      {{"--pick", "2", "click", "add", "to", "cart"},
       "→ picked\n[success] Clicked **Add to cart**",
       "Added Summit Jacket to the cart"},
      {{"type", "Zoë", "Ångström", "😀", "into", "the", "search", "box"},
       "[success] Typed in **Search Acme**",
       "Added Summit Jacket to the cart"},
      {{"press", "enter"}, "[success] Pressed **Return**", "Searched for Zoë Ångström 😀"},
      {{"scroll", "down"}, "[success] Scrolled **down**", "Searched for Zoë Ångström 😀"},
      {{"new", "tab"}, "[success] **Opened a new tab**", nullptr},
      {{"tab", "1"}, "Switched to tab **1**\nWhy?\n  Intent: Switch to tab 1", nullptr},
      {{"tab", "1"}, tabChord + " sent", "Searched for Zoë Ångström 😀"},
  };
  for (const Step& step : steps) {
    std::vector<std::string> args = {"run"};
    args.insert(args.end(), step.command.begin(), step.command.end());
    std::string shown;
    for (const auto& w : step.command)
      shown += w + " ";
    SCOPED_TRACE(shown);
    ASSERT_TRUE(browser->front());
    ProcessResult r = runTovrin(args);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(step.outcome), std::string::npos) << r.out << r.err;
    if (step.status == nullptr) continue;
    std::string status;
    for (int i = 0; i < 30 && status != step.status; ++i)
      status = pageStatus();
    EXPECT_EQ(status, step.status);
  }
}

TEST_P(ActingTest, CopiedArticleStaysOnTheClipboardAfterTovrinExits) {
  auto browser = Browser::start(GetParam(), pageURL("article.html"), {});
  ASSERT_TRUE(browser && browser->waitUntilShows("How light travels through space"));
  ProcessResult r = runTovrin({"run", "copy", "the", "article"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  auto copied = X11Clipboard().string();
  ASSERT_TRUE(copied) << "nobody serves the CLIPBOARD";
  EXPECT_NE(copied->find("Together these two effects keep the night sky dark."), std::string::npos)
      << *copied;

  // A script reading the outcome through a pipe gets its end when tovrin
  // exits, not when the clipboard's owner does (it once held the pipe open
  // until another program copied).
  FILE* pipe =
      popen((std::string(TOVRIN_BINARY) + " run --json copy the article 2>/dev/null").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string json;
  bool ended = false;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!ended && std::chrono::steady_clock::now() < until) {
    pollfd p{fileno(pipe), POLLIN, 0};
    if (poll(&p, 1, 200) != 1) continue;
    char buffer[4096];
    const ssize_t n = read(fileno(pipe), buffer, sizeof buffer);
    if (n <= 0)
      ended = true;
    else
      json.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_TRUE(ended) << "the pipe stayed open after tovrin exited";
  EXPECT_NE(json.find("\"kind\":\"success\""), std::string::npos) << json;
  if (ended) pclose(pipe);  // else pclose would wait for the owner
}

INSTANTIATE_TEST_SUITE_P(Browsers, ActingTest, ::testing::ValuesIn(kEveryBrowser),
                         [](const auto& param) { return std::string(browserLabel(param.param)); });

}  // namespace
}  // namespace tovrin::testing
