#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "accessibility/browser.h"
#include "actions/action_engine.h"
#include "ai/local_ai.h"
#include "ai/scripted_model.h"
#include "base/unicode.h"
#include "commands.h"
#include "intent/intent_json.h"
#include "intent/intent_parser.h"
#include "scene_source.h"
#include "text/text_util.h"

namespace tovrin::cli {
namespace {

using Json = nlohmann::ordered_json;

struct RunOptions {
  DesktopChoice desktop;
  std::string modelScript;
  std::vector<std::string> profile;
  std::vector<std::string> words;
  bool confirm = false;
  bool decline = false;
  int pick = 0;
  int reveal = 0;
  bool json = false;
};

}  // namespace

// A model script: {"available": true, "replies": [{"prompt": "text in the
// prompt", "json": {…}} | {"prompt": …, "text": "…"} | {"prompt": …, "fail": true}]}.
std::shared_ptr<LanguageModel> loadModelScript(const std::string& path, std::string& error) {
  if (path.empty()) return std::make_shared<UnavailableModel>();
  std::ifstream file(path);
  if (!file) {
    error = path + ": cannot open the file";
    return nullptr;
  }
  std::stringstream text;
  text << file.rdbuf();
  auto j = nlohmann::json::parse(text.str(), nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    error = path + ": not a JSON object";
    return nullptr;
  }
  auto model = std::make_shared<ScriptedModel>(j.value("available", true));
  for (const auto& row : j.value("replies", nlohmann::json::array())) {
    if (!row.is_object() || !row.contains("prompt") || !row["prompt"].is_string()) {
      error = path + ": each reply needs a “prompt” text";
      return nullptr;
    }
    ScriptedModel::Reply reply;
    if (row.contains("json")) reply = row["json"];
    if (row.contains("text") && row["text"].is_string()) reply = row["text"].get<std::string>();
    model->when(row["prompt"].get<std::string>(), reply);
  }
  return model;
}

namespace {

// The palette's order: the rules, then the model, then a plain find (fewer
// than five words) or a question.
Intent understand(const std::string& command, LanguageModel& model,
                  std::vector<std::string>& notes) {
  if (auto intent = IntentParser::parse(command)) return *intent;
  const std::string t = unicode::trimWhitespace(command);
  if (model.isAvailable()) {
    if (auto intent = Impl::parseIntent(model, t)) {
      notes.push_back("(understood by the on-device model)");
      return *intent;
    }
  }
  std::size_t words = 0;
  for (const std::string& piece : unicode::splitOnSpace(t))
    words += piece.empty() ? 0 : 1;
  if (words < 5) return Intent{Intent::Find{t}};
  return Intent{Intent::Ask{t}};
}

Json resultJson(const ActionResult& r) {
  Json j;
  j["kind"] = std::string(kindName(r.kind));
  j["headline"] = r.headline;
  j["body"] = r.body ? Json(*r.body) : Json(nullptr);
  j["items"] = Json::array();
  for (const FoundItem& item : r.items) {
    j["items"].push_back({{"text", item.text},
                          {"elementID", item.element ? Json(item.element->id) : Json(nullptr)}});
  }
  j["debug"] = r.debug;
  j["copyText"] = r.copyText ? Json(*r.copyText) : Json(nullptr);
  return j;
}

Json outcomeJson(const Outcome& outcome, const std::vector<std::string>& effects) {
  Json j;
  j["outcome"] = outcome.result() ? "result" : outcome.confirmation() ? "confirm" : "choose";
  for (const char* key :
       {"kind", "headline", "body", "items", "debug", "copyText", "confirmation", "choices"}) {
    j[key] = nullptr;
  }
  if (const ActionResult* r = outcome.result()) {
    const Json fields = resultJson(*r);  // named: a range-for would not keep a temporary alive
    for (const auto& [key, value] : fields.items())
      j[key] = value;
  } else if (const Confirmation* c = outcome.confirmation()) {
    j["debug"] = c->debug;
    j["confirmation"] = {
        {"title", c->title}, {"message", c->message}, {"confirmLabel", c->confirmLabel}};
  } else if (const ChoiceSet* s = outcome.choices()) {
    Json options = Json::array();
    for (const ChoiceOption& o : s->options)
      options.push_back({{"title", o.title}, {"subtitle", o.subtitle}});
    j["choices"] = {{"prompt", s->prompt}, {"options", options}};
  }
  j["effects"] = effects;
  return j;
}

void printOutcome(const Outcome& outcome) {
  if (const ActionResult* r = outcome.result()) {
    std::cout << "[" << kindName(r->kind) << "] " << r->headline << '\n';
    if (r->body) std::cout << *r->body << '\n';
    for (std::size_t i = 0; i < r->items.size(); ++i) {
      std::cout << "  " << i + 1 << ". " << r->items[i].text << '\n';
    }
    std::cout << "Why?\n";
    for (const std::string& line : r->debug)
      std::cout << "  " << line << '\n';
  } else if (const Confirmation* c = outcome.confirmation()) {
    std::cout << "[confirm] " << c->title << '\n'
              << c->message << '\n'
              << "Button: " << c->confirmLabel << '\n';
    std::cout << "Why?\n";
    for (const std::string& line : c->debug)
      std::cout << "  " << line << '\n';
  } else if (const ChoiceSet* s = outcome.choices()) {
    std::cout << "[choose] " << s->prompt << '\n';
    for (std::size_t i = 0; i < s->options.size(); ++i) {
      std::cout << "  " << i + 1 << ". " << s->options[i].title << " — " << s->options[i].subtitle
                << '\n';
    }
  }
}

int run(const RunOptions& options) {
  std::string command;
  for (const auto& w : options.words)
    command += (command.empty() ? "" : " ") + w;
  if (unicode::trimWhitespace(command).empty()) {
    std::cerr << "tovrin run: the command is empty\n";
    return 2;
  }
  auto session = openSession(options.desktop, options.modelScript, options.profile);
  if (!session) return 2;
  auto desktop = session->desktop.simulated;
  auto model = session->model;
  if (desktop) desktop->clearEffects();

  Platform platform = session->desktop.platform;
  std::vector<std::string> notes;
  Intent intent = understand(command, *model, notes);
  std::optional<BrowserTarget> target;
  if (options.json) {
    // A script reading the outcome gets one, also when there is no browser.
    auto found = findBrowser(session->desktop);
    if (auto* why = std::get_if<ActionResult>(&found)) {
      std::cout << dumpJson(outcomeJson(Outcome{*why}, {})) << '\n';
      return 1;
    }
    target = std::get<BrowserTarget>(found);
  } else {
    target = frontBrowser(session->desktop);
    if (!target) return 1;
  }
  auto highlighter = std::make_shared<Highlighter>(platform);
  auto engine = ActionEngine::make(*target, {.model = model, .highlighter = highlighter});
  Outcome outcome = engine->run(intent);
  std::vector<Outcome> stages = {outcome};

  if (options.pick > 0) {
    const ChoiceSet* set = outcome.choices();
    if (set == nullptr || static_cast<std::size_t>(options.pick) > set->options.size()) {
      std::cerr << "tovrin: --pick " << options.pick << ": there is no such option\n";
      return 2;
    }
    outcome = set->options[static_cast<std::size_t>(options.pick - 1)].run();
    stages.push_back(outcome);
  }
  if (const Confirmation* c = outcome.confirmation(); c && options.confirm) {
    outcome = Outcome{c->perform()};
    stages.push_back(outcome);
  }
  if (options.reveal > 0) {
    const ActionResult* r = outcome.result();
    if (r == nullptr || static_cast<std::size_t>(options.reveal) > r->items.size() ||
        !r->items[static_cast<std::size_t>(options.reveal - 1)].element) {
      std::cerr << "tovrin: --reveal " << options.reveal
                << ": there is no such item with an element\n";
      return 2;
    }
    engine->reveal(*r->items[static_cast<std::size_t>(options.reveal - 1)].element);
  }
  std::vector<std::string> effects;
  if (desktop) {
    desktop->sleep(60);  // let pending outlines time out, so their hiding is recorded too
    for (const Effect& e : desktop->effects())
      effects.push_back(e.describe());
  } else if (const ActionResult* r = outcome.result();
             r && r->kind == ActionResult::Kind::failure) {
    // The palette's words say what failed; the command line can also say why.
    if (auto reason = unreadableReason(*session->desktop.real, target->app)) {
      std::cerr << *reason << '\n';
    }
  }
  if (options.json) {
    std::cout << dumpJson(outcomeJson(outcome, effects)) << '\n';
  } else {
    for (const std::string& note : notes)
      std::cout << note << '\n';
    for (std::size_t i = 0; i < stages.size(); ++i) {
      if (i > 0) std::cout << (stages[i - 1].confirmation() ? "→ confirmed\n" : "→ picked\n");
      printOutcome(stages[i]);
    }
    if (outcome.confirmation() && options.decline) std::cout << "→ declined: nothing was done\n";
    if (desktop) {
      std::cout << "Effects:\n";
      if (effects.empty()) std::cout << "  (none)\n";
      for (const std::string& e : effects)
        std::cout << "  " << e << '\n';
    }
  }
  if (const ActionResult* r = outcome.result())
    return r->kind == ActionResult::Kind::failure ? 1 : 0;
  return 0;
}

}  // namespace

Command addRunCommand(CLI::App& app) {
  auto options = std::make_shared<RunOptions>();
  CLI::App* sub =
      app.add_subcommand("run", "Run a command on the front browser, as the palette would");
  addDesktopOptions(*sub, options->desktop);
  sub->add_option("--model", options->modelScript,
                  "A script for the on-device model (default: no model)");
  addProfileOption(*sub, options->profile);
  auto* confirm =
      sub->add_flag("--confirm", options->confirm, "Approve the confirmation the command asks for");
  auto* decline = sub->add_flag("--decline", options->decline, "Decline it (nothing is done)");
  confirm->excludes(decline);
  sub->add_option("--pick", options->pick, "Pick option N of the choice the command offers")
      ->check(CLI::PositiveNumber);
  sub->add_option("--reveal", options->reveal, "Reveal item N of the result")
      ->check(CLI::PositiveNumber);
  sub->add_flag("--json", options->json, "Print the outcome as one JSON object");
  sub->add_option("command", options->words, "The command, e.g. \"click sign in\"")->required();
  return Command{sub, [options] { return run(*options); }};
}

}  // namespace tovrin::cli
