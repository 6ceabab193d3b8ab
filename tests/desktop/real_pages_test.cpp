// Tovrin on pages nobody here wrote, with commands phrased as people phrase
// them: the saved web interface of Debian's printing system, and Python's
// documentation as Debian installs it. Each task is checked by what the page
// shows afterwards (its address, a field, a box, what is in view) or by the
// sentence an answer must hold. The rate per kind is printed; every task not
// marked as a known miss must pass.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string_view>

#include "desktop/browser_fixture.h"

namespace tovrin::testing {
namespace {

enum class Check {
  address,  // the page's address afterwards holds `expect`
  line,     // a line of the page afterwards holds `expect`
  noLine,   // no line of the page afterwards is `expect`, whole
  answer,   // Tovrin's reply holds `expect`
  inView,   // the first element whose label holds `expect` is inside the view
};

struct Task {
  const char* kind;
  const char* page;     // "cups:/path", "python:relative/path.html" or a tests/pages name
  const char* command;  // as typed, after "tovrin run"
  Check check;
  const char* expect;
  const char* before = nullptr;     // a command run first on the same page
  bool knownMiss = false;           // fails today; reported, not asserted
  const char* readyText = nullptr;  // a large page is ready once a line holds it
};

std::string urlOf(const std::string& page) {
  if (page.rfind("cups:", 0) == 0) return savedSiteURL("cups", page.substr(5));
  if (page.rfind("python:", 0) == 0)
    return "file:///usr/share/doc/python3.11/html/" + page.substr(7);
  return pageURL(page);
}

// Words split on spaces, as a shell would pass them.
std::vector<std::string> words(const std::string& command) {
  std::vector<std::string> out = {"run"};
  std::istringstream in(command);
  for (std::string w; in >> w;)
    out.push_back(w);
  return out;
}

// Sanitizers slow every read several times over: a page as large as
// Python's "Built-in Types" is then cut by the read's time limit, as the
// limit intends, and its end is not reached. Those tasks run only in a
// plain build.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// The last words of Python's "Built-in Types" page, in its footer's links.
constexpr const char* kEndOfStdtypes = "Built-in Exceptions";

// Every page of Python's documentation ends with this. Chromium fills a
// page's tree in batches, and on a busy machine two reads a moment apart
// can agree on a page cut short; its last words cannot be read before it
// is whole.
constexpr const char* kEndOfPythonPage = "Created using Sphinx";

const Task kTasks[] = {
    // Moving around in words people use.
    {"navigate", "cups:/", "go to the administration page", Check::address, "/admin"},
    {"navigate", "cups:/", "take me to the printers page", Check::address, "/printers"},
    {"navigate", "cups:/", "follow the link to jobs", Check::address, "/jobs"},
    {"navigate", "cups:/", "head over to help", Check::address, "/help"},
    {"navigate", "cups:/help/options.html", "jump to printing multiple copies", Check::inView,
     "Printing Multiple Copies"},
    {"navigate", "cups:/help/options.html", "take me to the section about canceling a print job",
     Check::inView, "Canceling a Print Job"},
    {"navigate", "cups:/help/options.html", "back to the top", Check::inView,
     "Command-Line Printing and Options", "scroll to the bottom"},
    {"navigate", "python:tutorial/index.html", "follow the link to using the python interpreter",
     Check::address, "interpreter.html"},
    {"navigate", "python:library/os.path.html", "take me to os.path.normpath", Check::inView,
     "os.path.normpath"},
    {"navigate", "cups:/", "bring me to the classes page", Check::address, "/classes"},
    {"navigate", "cups:/", "navigate to jobs", Check::address, "/jobs"},
    {"navigate", "cups:/help/options.html", "skip to setting the orientation", Check::inView,
     "Setting the Orientation"},
    {"navigate", "cups:/help/options.html", "show me the standard printing options section",
     Check::inView, "Standard Printing Options"},
    {"navigate", "python:tutorial/index.html", "go to the page about classes", Check::address,
     "classes.html"},
    // Answers from structured text.
    {"answer", "cups:/printers/Blue_Laser", "what is the location of this printer?", Check::answer,
     "Room 214, second floor"},
    {"answer", "cups:/printers/Blue_Laser", "which room is the printer in?", Check::answer,
     "Room 214"},
    {"answer", "cups:/printers/", "which room is the plotter in?", Check::answer, "Room 305"},
    {"answer", "cups:/printers/", "what is the description of front desk?", Check::answer,
     "Colour printer at the front desk"},
    {"answer", "python:glossary.html", "what is a decorator?", Check::answer,
     "A function returning another function"},
    {"answer", "python:glossary.html", "what is an iterable?", Check::answer,
     "An object capable of returning its members one at a time"},
    {"answer", "python:library/os.path.html", "what does os.path.basename do?", Check::answer,
     "Return the base name of pathname"},
    {"answer", "cups:/", "summarize this page", Check::answer,
     "The standards-based, open source printing system"},
    {"answer", "cups:/printers/Blue_Laser", "what driver does it use?", Check::answer,
     "Local Raw Printer"},
    {"answer", "python:glossary.html", "what does GIL mean?", Check::answer,
     "global interpreter lock"},
    {"answer", "python:glossary.html", "define generator", Check::answer,
     "A function which returns a generator iterator"},
    {"answer", "cups:/", "what is this page about?", Check::answer, "printing system"},
    // Ordinals over the things the noun names.
    {"ordinal", "cups:/printers/", "open the second row", Check::address, "/printers/Front_Desk"},
    {"ordinal", "cups:/printers/", "click the first result", Check::address,
     "/printers/Blue_Laser"},
    {"ordinal", "cups:/printers/", "open the last entry", Check::address, "/printers/Plotter_A0"},
    {"ordinal", "cups:/printers/", "click the 2nd result", Check::address, "/printers/Front_Desk"},
    {"ordinal", "cups:/printers/", "open the third printer in the list", Check::address,
     "/printers/Plotter_A0"},
    // Fields without a label of their own.
    {"field", "cups:/printers/", "type blue into the search box and press enter", Check::address,
     "QUERY=blue"},
    {"field", "cups:/printers/", "search for plotter", Check::address, "QUERY=plotter"},
    {"field", "cups:/printers/", "type laser in the search field", Check::line, ": laser"},
    {"field", "settings.html", "type zed into the nickname box", Check::line, ": zed"},
    {"field", "python:tutorial/index.html", "search for decorator", Check::address,
     "search.html?q=decorator"},
    {"field", "cups:/printers/", "put front into the search box then press return", Check::address,
     "QUERY=front"},
    {"field", "cups:/printers/", "look up laser", Check::address, "QUERY=laser"},
    // Vocabulary for boxes and switches.
    {"vocabulary", "cups:/admin", "tick allow remote administration", Check::line,
     "☑ Allow remote administration"},
    {"vocabulary", "cups:/admin", "uncheck allow printing from the internet", Check::line,
     "☐ Allow printing from the Internet"},
    {"vocabulary", "cups:/admin", "check allow users to cancel any job", Check::answer,
     "is already checked"},
    {"vocabulary", "cups:/admin", "turn on save debugging information", Check::line,
     "☑ Save debugging information"},
    {"vocabulary", "settings.html", "untick send me the monthly newsletter", Check::line,
     "Checked: none"},
    {"vocabulary", "settings.html", "switch dark theme on", Check::line,
     "Checked: newsletter, dark"},
    {"vocabulary", "cups:/admin", "enable share printers connected to this system", Check::line,
     "☑ Share printers connected to this system"},
    {"vocabulary", "cups:/admin", "disable allow users to cancel any job", Check::line,
     "☐ Allow users to cancel any job"},
    {"vocabulary", "settings.html", "turn off dark theme", Check::answer, "is already unchecked"},
    // Labels that wrap or name their control.
    {"label", "settings.html", "click remember me", Check::line, "Checked: remember, newsletter"},
    {"label", "cups:/admin", "click allow remote administration", Check::line,
     "☑ Allow remote administration"},
    {"label", "settings.html", "read this page", Check::noLine, "Remember me on this computer"},
    // The whole of a large page (about 21,000 nodes in Chromium): its last
    // part is read too.
    {"big page", "python:library/stdtypes.html", "find zfill", Check::answer, "matches for “zfill”",
     nullptr, false, kEndOfStdtypes},
    {"big page", "python:library/stdtypes.html", "what does str.zfill do?", Check::answer,
     "Return a copy of the string left filled with ASCII", nullptr, false, kEndOfStdtypes},
    {"big page", "python:library/stdtypes.html", "what is nbytes?", Check::answer,
     "nbytes == product(shape) * itemsize", nullptr, false, kEndOfStdtypes},
    // Page text kept whole, and no container pressed for its words.
    {"text", "python:library/stdtypes.html", "find str objects, or strings", Check::line,
     "handled with str objects, or strings."},
    {"text", "python:library/os.path.html", "click return the base name of pathname", Check::answer,
     "Nothing to press matches"},
};

class RealPagesTest : public ::testing::TestWithParam<BrowserKind> {};

bool inView(const std::string& label) {
  ProcessResult r = runTovrin({"snapshot", "--json"});
  auto json = nlohmann::json::parse(r.out, nullptr, false);
  if (json.is_discarded() || !json.contains("elements")) return false;
  const auto& elements = json["elements"];
  if (elements.empty() || !elements[0]["frame"].is_array()) return false;
  const auto& area = elements[0]["frame"];
  const double top = area[1].get<double>(), bottom = top + area[3].get<double>();
  // A heading that says it, else the first element that does (a table of
  // contents may name a section above the section itself).
  for (const bool headingsOnly : {true, false}) {
    for (const auto& e : elements) {
      const std::string text = e["label"].get<std::string>();
      if (text.find(label) == std::string::npos || !e["frame"].is_array()) continue;
      if (headingsOnly && e["role"] != "AXHeading") continue;
      const double y = e["frame"][1].get<double>() + e["frame"][3].get<double>() / 2;
      return y >= top && y <= bottom;
    }
  }
  return false;
}

TEST_P(RealPagesTest, EverydayPhrasingsOnPagesFromDebian) {
  std::map<std::string, std::pair<int, int>> perKind;  // passed, tried
  std::vector<std::string> unexpected;
  std::string report;
  for (const Task& task : kTasks) {
    SCOPED_TRACE(std::string(task.page) + ": " + task.command);
    if (task.readyText && kSanitized) {
      report += std::string("skip  ") + task.kind + "  " + task.command + " (sanitizer build)\n";
      continue;
    }
    const std::string url = urlOf(task.page);
    const std::string_view page = task.page;
    const char* readyText = task.readyText                ? task.readyText
                            : page.starts_with("python:") ? kEndOfPythonPage
                                                          : nullptr;
    auto browser = Browser::start(GetParam(), url, {});
    ASSERT_TRUE(browser && browser->waitForWindow());
    // In front before the page counts as ready: Firefox may build a big
    // page's tree again when its window is activated.
    ASSERT_TRUE(browser->front());
    // The page is in the tree and loaded once a read finds its document at
    // its address with its lines (not the window's toolbar instead).
    auto loaded = [&url](const PageState& p) {
      return p.url.rfind(url, 0) == 0 && !p.title.empty() && p.lines.size() > 3;
    };
    PageState state = waitForPage(loaded);
    for (int i = 0; i < 4 && !loaded(state); ++i)
      state = waitForPage(loaded);  // a cold browser on a busy machine
    ASSERT_TRUE(loaded(state)) << url << " shows " << state.url;
    // A page goes on growing in the tree after it shows: ready once its
    // last words are read (or, for the small pages without known last
    // words, once two reads agree).
    auto hasEnd = [readyText](const PageState& p) {
      return std::any_of(p.lines.begin(), p.lines.end(), [readyText](const std::string& l) {
        return l.find(readyText) != std::string::npos;
      });
    };
    for (int i = 0; i < 3 && readyText && !hasEnd(state); ++i)
      state = waitForPage(hasEnd);
    if (readyText) {
      ASSERT_TRUE(hasEnd(state)) << "the end of " << url << " was never read";
    }
    // Reads again, at most `tries` times, until two reads in a row agree.
    auto untilTwoAgree = [&state](const std::function<PageState()>& read, int tries) {
      for (int i = 0; i < tries; ++i) {
        PageState again = read();
        if (again.lines.size() == state.lines.size()) break;
        state = std::move(again);
      }
    };
    if (!readyText) untilTwoAgree(pageState, 30);
    ASSERT_TRUE(browser->front());
    // And still whole once in front, in two reads in a row: a read that
    // finds the end may come just before Firefox starts building the tree
    // again for its activated window.
    if (readyText) {
      auto whole = [&hasEnd] { return waitForPage(hasEnd); };
      state = whole();
      untilTwoAgree(whole, 5);
    }
    if (task.before) runTovrin(words(task.before));
    ProcessResult r = runTovrin(words(task.command));
    bool passed = false;
    switch (task.check) {
      case Check::answer:
        passed = r.out.find(task.expect) != std::string::npos;
        break;
      case Check::address:
        passed = waitForPage([&](const PageState& p) {
                   return p.url.find(task.expect) != std::string::npos;
                 }).url.find(task.expect) != std::string::npos;
        break;
      case Check::line:
      case Check::noLine: {
        auto holds = [&](const PageState& p) {
          for (const std::string& line : p.lines) {
            if (task.check == Check::line ? line.find(task.expect) != std::string::npos
                                          : line == task.expect)
              return true;
          }
          return false;
        };
        const bool want = task.check == Check::line;
        passed = holds(waitForPage([&](const PageState& p) { return holds(p) == want; })) == want;
        break;
      }
      case Check::inView:
        for (int i = 0; i < 20 && !passed; ++i)
          passed = inView(task.expect);
        break;
    }
    auto& [ok, tried] = perKind[task.kind];
    ++tried;
    if (passed) ++ok;
    report += std::string(passed ? "pass  " : "MISS  ") + task.kind + "  " + task.command + "\n";
    if (passed == task.knownMiss) {
      unexpected.push_back(std::string(passed ? "passes now (drop knownMiss): " : "fails: ") +
                           task.command + "\n" + r.out + r.err);
    }
  }
  std::string rates;
  for (const auto& [kind, counts] : perKind) {
    rates += "  " + kind + ": " + std::to_string(counts.first) + "/" +
             std::to_string(counts.second) + "\n";
  }
  std::cout << browserLabel(GetParam()) << " on real pages\n" << report << rates;
  for (const std::string& u : unexpected)
    ADD_FAILURE() << u;
}

INSTANTIATE_TEST_SUITE_P(Browsers, RealPagesTest,
                         ::testing::Values(BrowserKind::chromium, BrowserKind::firefox),
                         [](const auto& param) { return std::string(browserLabel(param.param)); });

}  // namespace
}  // namespace tovrin::testing
