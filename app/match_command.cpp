#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "accessibility/browser.h"
#include "commands.h"
#include "content/page_snapshot.h"
#include "intent/element_matcher.h"
#include "intent/intent_json.h"
#include "intent/intent_parser.h"
#include "scene_source.h"

namespace tovrin::cli {
namespace {

struct MatchOptions {
  DesktopChoice desktop;
  std::string purpose = "click";
  std::vector<std::string> words;
  bool json = false;
};

int run(const MatchOptions& options) {
  MatchPurpose purpose = MatchPurpose::click;
  if (options.purpose == "link") purpose = MatchPurpose::link;
  if (options.purpose == "field") purpose = MatchPurpose::field;
  std::string phrase;
  for (const auto& w : options.words)
    phrase += (phrase.empty() ? "" : " ") + w;

  auto desktop = openDesktop(options.desktop);
  if (!desktop) return 2;
  auto target = frontBrowser(*desktop);
  if (!target) return 1;
  auto snap = readPage(*desktop, *target);
  if (!snap) return 1;
  TargetSpec spec = IntentParser::parseTarget(
      phrase, purpose == MatchPurpose::field ? RoleHint::field : RoleHint::any);
  MatchResult result = ElementMatcher::matches(spec, snap->elements, purpose);

  if (options.json) {
    nlohmann::ordered_json j;
    j["ordinalApplied"] = result.ordinalApplied;
    j["matches"] = nlohmann::ordered_json::array();
    for (const Match& m : result.matches) {
      j["matches"].push_back({{"score", m.score},
                              {"id", m.element.id},
                              {"role", m.element.role},
                              {"label", m.element.label()},
                              {"reason", m.reason}});
    }
    std::cout << dumpJson(j) << '\n';
    return 0;
  }
  for (const Match& m : result.matches) {
    char score[32];
    std::snprintf(score, sizeof score, "%.1f", m.score);
    std::cout << score << '\t' << m.element.id << '\t' << m.element.role << '\t'
              << m.element.label() << '\t' << m.reason << '\n';
  }
  std::cout << "ordinalApplied: " << (result.ordinalApplied ? "true" : "false") << '\n';
  return 0;
}

}  // namespace

Command addMatchCommand(CLI::App& app) {
  auto options = std::make_shared<MatchOptions>();
  CLI::App* sub = app.add_subcommand(
      "match", "Show which elements of the front page a target phrase means, scored and explained");
  addDesktopOptions(*sub, options->desktop);
  sub->add_option("--purpose", options->purpose,
                  "What the element is for: click (default), link or field")
      ->check(CLI::IsMember({"click", "link", "field"}));
  sub->add_flag("--json", options->json, "Print the matches as one JSON object");
  sub->add_option("phrase", options->words,
                  "The target phrase, e.g. \"the second Add to cart button\"")
      ->required();
  return Command{sub, [options] { return run(*options); }};
}

}  // namespace tovrin::cli
