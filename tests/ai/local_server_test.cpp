// The local model server backend against a fake server on this computer:
// the exact requests of the four jobs in both dialects, every way a reply
// can fail (each ending in nothing within its limit), the loopback-only
// promise, giving up a call, and the flows that use the model.

#include "ai/local_server.h"

#include <gtest/gtest.h>
#include <ifaddrs.h>

#include <cstdlib>
#include <future>

#include "actions/action_engine.h"
#include "ai/fake_model_server.h"
#include "ai/local_ai.h"
#include "ai/model_settings.h"
#include "support/scene_tree.h"
#include "ui/palette_view_model.h"

namespace tovrin {
namespace {

using testing::FakeModelServer;
using testing::SilentPort;
using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

const ServerLimits kQuick{.probe = 0.3, .remember = 5.0, .structured = 0.6, .plain = 0.6};

std::string joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines)
    out += l + "\n";
  return out;
}

// The schema as the request carries it, in either dialect.
nlohmann::json sentSchema(ServerDialect dialect, const nlohmann::json& request) {
  if (dialect == ServerDialect::ollama) return request.value("format", nlohmann::json());
  if (!request.contains("response_format")) return nlohmann::json();
  EXPECT_EQ(request["response_format"]["type"], "json_schema");
  return request["response_format"]["json_schema"].value("schema", nlohmann::json());
}

TEST(LocalServerTest, TheFourJobsSendTheirExactInstructionsPromptsAndSchemas) {
  struct Job {
    const char* name;
    std::string reply;
    const Schema* schema;
    std::string instructions;
    std::string prompt;
    std::function<std::string(LanguageModel&)> run;  // the job's value, as text
    std::string expected;
  };
  const std::vector<Job> jobs = {
      {"translation", R"({"action":"click","target":"Sign in","ordinal":0,"text":"","field":""})",
       &LLMIntent::schema(), Impl::kTranslateInstructions, "Command: log me in now please",
       [](LanguageModel& m) {
         auto intent = Impl::parseIntent(m, "log me in now please");
         return intent ? intent->title() : std::string("nothing");
       },
       "Click “Sign in”"},
      {"choice", R"({"index":1})", &LLMChoice::schema(), Impl::kChooseInstructions,
       "User wants: the mug one\nOptions:\n0: Add Summit Jacket to cart\n1: Add Camp Mug to cart",
       [](LanguageModel& m) {
         auto index =
             Impl::choose(m, "the mug one", {"Add Summit Jacket to cart", "Add Camp Mug to cart"});
         return index ? std::to_string(*index) : std::string("nothing");
       },
       "1"},
      {"answer", "It costs $5 per month.", nullptr, Impl::kAnswerInstructions,
       "Page title: Acme\n\nExcerpts:\nAcme Plus costs $5 per month.\n\nQuestion: what does it "
       "cost?",
       [](LanguageModel& m) {
         return Impl::answer(m, "what does it cost?", "Acme", "Acme Plus costs $5 per month.")
             .value_or("nothing");
       },
       "It costs $5 per month."},
      {"summary", "- Acme sells jackets", nullptr, Impl::kSummaryInstructions,
       "Title: Acme\n\nJackets and mugs.\n\nSummarize in at most 6 bullet points.",
       [](LanguageModel& m) {
         return Impl::summarize(m, "Acme", "Jackets and mugs.").value_or("nothing");
       },
       "- Acme sells jackets"},
  };
  for (ServerDialect dialect : {ServerDialect::ollama, ServerDialect::openai}) {
    FakeModelServer server;
    ASSERT_TRUE(server.ok());
    for (const Job& job : jobs) {
      SCOPED_TRACE(std::string(LocalServer::dialectName(dialect)) + " " + job.name);
      server.answer([&](const nlohmann::json&) { return FakeModelServer::Reply{job.reply}; });
      LocalServerModel model({dialect, server.address(), "llama3.2"});
      EXPECT_EQ(job.run(model), job.expected);
      const auto requests = server.requests();
      ASSERT_FALSE(requests.empty());
      const nlohmann::json& sent = requests.back().body;
      EXPECT_EQ(requests.back().path, LocalServer::chatPath(dialect));
      EXPECT_EQ(sent["model"], "llama3.2");
      EXPECT_EQ(sent["stream"], false);
      ASSERT_EQ(sent["messages"].size(), 2u) << "one fresh exchange, no history";
      EXPECT_EQ(sent["messages"][0]["role"], "system");
      EXPECT_EQ(sent["messages"][0]["content"], job.instructions);
      EXPECT_EQ(sent["messages"][1]["role"], "user");
      EXPECT_EQ(sent["messages"][1]["content"], job.prompt);
      for (const char* sampling : {"options", "temperature", "max_tokens", "top_p", "seed"})
        EXPECT_FALSE(sent.contains(sampling)) << sampling << " is left to the server";
      if (job.schema) {
        const nlohmann::json schema = sentSchema(dialect, sent);
        EXPECT_EQ(schema, nlohmann::json::parse(LocalServer::schemaJson(*job.schema).dump()));
        // The descriptions go word for word, in the declared order.
        ASSERT_EQ(schema["required"].size(), job.schema->properties.size());
        for (std::size_t i = 0; i < job.schema->properties.size(); ++i) {
          const SchemaProperty& p = job.schema->properties[i];
          EXPECT_EQ(schema["required"][i], p.name);
          EXPECT_EQ(schema["properties"][p.name]["description"], p.description);
        }
        if (dialect == ServerDialect::openai) {
          EXPECT_EQ(sent["response_format"]["json_schema"]["name"], job.schema->name);
        }
      } else {
        EXPECT_FALSE(sent.contains("format") || sent.contains("response_format"));
      }
      const auto notes = model.takeCallNotes();
      ASSERT_EQ(notes.size(), 1u);
      EXPECT_EQ(notes[0].rfind("Asked llama3.2 via " +
                                   std::string(LocalServer::serverName(dialect)) + ": answered in ",
                               0),
                0u)
          << notes[0];
    }
  }
}

TEST(LocalServerTest, EveryFailureEndsInNothingWithinItsLimit) {
  struct Case {
    const char* name;
    ServerDialect dialect;
    FakeModelServer::Reply reply;
    bool structured;   // the choice job, else the answer job
    std::string note;  // in the trail's line
  };
  const std::vector<Case> cases = {
      {"plain text for a schema",
       ServerDialect::ollama,
       {"Sure, the second one."},
       true,
       "did not fit LLMChoice"},
      {"wrong type", ServerDialect::openai, {R"({"index":"1"})"}, true, "did not fit"},
      {"missing property", ServerDialect::ollama, {R"({"choice":1})"}, true, "did not fit"},
      {"index out of range", ServerDialect::ollama, {R"({"index":7})"}, true, "answered"},
      {"malformed body",
       ServerDialect::openai,
       {"", 200, 0, "{\"choices\": [ {"},
       false,
       "no usable reply"},
      {"refusal",
       ServerDialect::openai,
       {"", 200, 0,
        R"({"choices":[{"message":{"role":"assistant","content":null,"refusal":"I can't help"}}]})"},
       false,
       "no usable reply"},
      {"error object",
       ServerDialect::ollama,
       {"", 404, 0, R"({"error":"model not found"})"},
       false,
       "HTTP 404"},
      {"server error", ServerDialect::openai, {"oops", 500}, false, "HTTP 500"},
      {"empty answer", ServerDialect::ollama, {"  \n"}, false, "no usable reply"},
      {"slower than the limit", ServerDialect::ollama, {"late", 200, 1.2}, false, "timed out"},
  };
  FakeModelServer server;
  ASSERT_TRUE(server.ok());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.answer([&](const nlohmann::json&) { return c.reply; });
    LocalServerModel model({c.dialect, server.address(), "llama3.2"}, kQuick);
    const auto start = Clock::now();
    if (c.structured) {
      EXPECT_EQ(Impl::choose(model, "mug", {"Jacket", "Mug"}), std::nullopt);
    } else {
      EXPECT_EQ(Impl::answer(model, "cost?", "Acme", "…"), std::nullopt);
    }
    EXPECT_LT(since(start), kQuick.structured + 0.5);
    const std::string notes = joined(model.takeCallNotes());
    EXPECT_NE(notes.find(c.note), std::string::npos) << notes;
  }
  // Nobody at the address, and somebody who never answers.
  SilentPort closed(false), silent(true);
  for (const SilentPort* port : {&closed, &silent}) {
    LocalServerModel model({ServerDialect::openai, port->address(), "m"}, kQuick);
    const auto start = Clock::now();
    EXPECT_FALSE(model.isAvailable());
    EXPECT_EQ(model.respond("i", "p"), std::nullopt);
    EXPECT_EQ(model.respond("i", "p", LLMChoice::schema()), std::nullopt);
    EXPECT_LT(since(start), kQuick.probe + 2 * kQuick.structured + 0.8);
  }
}

TEST(LocalServerTest, AvailabilityNeedsTheModelAndIsRememberedForAWhile) {
  FakeModelServer server;
  ASSERT_TRUE(server.ok());
  server.offer({"llama3.2:latest", "qwen2.5:7b"});
  struct Case {
    std::string model;
    bool available;
    std::string status;
  };
  const std::string where = "127.0.0.1:" + std::to_string(server.port());
  const std::vector<Case> cases = {
      {"llama3.2", true, "On-device model: llama3.2 via Ollama (" + where + ")"},
      {"qwen2.5:7b", true, "On-device model: qwen2.5:7b via Ollama (" + where + ")"},
      {"mistral", false, "Ollama at " + where + " doesn't offer mistral — using built-in rules"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    LocalServerModel model({ServerDialect::ollama, server.address(), c.model}, kQuick);
    const std::size_t before = server.requests().size();
    EXPECT_EQ(model.isAvailable(), c.available);
    EXPECT_EQ(model.isAvailable(), c.available);
    EXPECT_EQ(model.status(), c.status);
    EXPECT_EQ(server.requests().size(), before + 1) << "asked once, then remembered";
  }
  SilentPort closed(false);
  LocalServerModel gone({ServerDialect::openai, closed.address(), "m"}, kQuick);
  EXPECT_EQ(gone.status(), "an OpenAI-compatible server at " +
                               closed.address().substr(std::string("http://").size()) +
                               " isn't answering — using built-in rules");
}

TEST(LocalServerTest, OnlyAddressesOnThisComputerAreAccepted) {
  struct Case {
    const char* address;
    ServerDialect dialect;
    const char* shown;  // nothing: refused
  };
  const Case cases[] = {
      {"http://127.0.0.1:11434", ServerDialect::ollama, "127.0.0.1:11434"},
      {"localhost", ServerDialect::ollama, "127.0.0.1:11434"},
      {"HTTP://LocalHost:8080/", ServerDialect::openai, "127.0.0.1:8080"},
      {"http://127.0.0.1:8080/v1", ServerDialect::openai, "127.0.0.1:8080"},
      {"127.5.6.7:9", ServerDialect::ollama, "127.5.6.7:9"},
      {"http://[::1]:8080", ServerDialect::openai, "[::1]:8080"},
      {"http://10.0.0.5:11434", ServerDialect::ollama, nullptr},
      {"http://192.168.1.20", ServerDialect::ollama, nullptr},
      {"http://0.0.0.0:11434", ServerDialect::ollama, nullptr},
      {"http://[::ffff:127.0.0.1]:80", ServerDialect::ollama, nullptr},
      {"http://example.com:11434", ServerDialect::ollama, nullptr},
      {"http://127.0.0.1.example.com", ServerDialect::ollama, nullptr},
      {"https://127.0.0.1:11434", ServerDialect::ollama, nullptr},
      {"http://127.0.0.1:0", ServerDialect::ollama, nullptr},
      {"http://127.0.0.1:99999", ServerDialect::ollama, nullptr},
      {"http://127.0.0.1:11434/api", ServerDialect::ollama, nullptr},
      {"http://127.0.0.1:8080/v1", ServerDialect::ollama, nullptr},
      {"", ServerDialect::ollama, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    auto checked = LocalServer::loopbackEndpoint(c.address, c.dialect);
    if (c.shown) {
      ASSERT_TRUE(std::holds_alternative<LoopbackEndpoint>(checked))
          << std::get<std::string>(checked);
      EXPECT_EQ(std::get<LoopbackEndpoint>(checked).shown, c.shown);
    } else {
      EXPECT_TRUE(std::holds_alternative<std::string>(checked));
    }
  }
}

// A local address that is not loopback, where a server can listen.
std::string otherLocalAddress() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};
  std::string found;
  for (ifaddrs* a = list; a && found.empty(); a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text, sizeof text);
    if (std::string(text).rfind("127.", 0) != 0) found = text;
  }
  freeifaddrs(list);
  return found;
}

struct ScopedEnv {
  std::vector<std::string> names;
  ScopedEnv(std::initializer_list<const char*> vars, const std::string& value) {
    for (const char* n : vars) {
      names.emplace_back(n);
      setenv(n, value.c_str(), 1);
    }
  }
  ~ScopedEnv() {
    for (const std::string& n : names)
      unsetenv(n.c_str());
  }
};

TEST(LocalServerTest, NothingLeavesThisComputer) {
  // A server on this machine's network address is never contacted, whatever
  // the store says.
  const std::string other = otherLocalAddress();
  if (!other.empty()) {
    FakeModelServer outside(other);
    ASSERT_TRUE(outside.ok());
    auto store = testing::browserDesktop("AXWindow \"w\"")->platform().defaults;
    store->setString(ModelSettings::kDialectKey, "ollama");
    store->setString(ModelSettings::kAddressKey, outside.address());
    store->setString(ModelSettings::kNameKey, "llama3.2");
    ConfiguredModel model(store, kQuick);
    EXPECT_FALSE(model.isAvailable());
    EXPECT_EQ(model.respond("i", "p"), std::nullopt);
    const std::string status = model.status();
    EXPECT_NE(status.find("is not this computer"), std::string::npos) << status;
    EXPECT_NE(status.find("using built-in rules"), std::string::npos) << status;
    EXPECT_TRUE(outside.requests().empty());
  }
  // Proxy variables are not honoured: the request goes straight to the
  // server, never through the proxy.
  FakeModelServer server, proxy;
  ASSERT_TRUE(server.ok() && proxy.ok());
  server.answer([](const nlohmann::json&) { return FakeModelServer::Reply{"fine"}; });
  ScopedEnv env({"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}, proxy.address());
  LocalServerModel model({ServerDialect::openai, server.address(), "llama3.2"}, kQuick);
  EXPECT_EQ(model.respond("i", "p"), "fine");
  EXPECT_TRUE(proxy.requests().empty());
}

TEST(LocalServerTest, GivingUpEndsTheCallUnderWayButNotTheNext) {
  FakeModelServer server;
  ASSERT_TRUE(server.ok());
  server.answer([](const nlohmann::json& request) {
    const bool slow = request["messages"][1]["content"] == "slow";
    return FakeModelServer::Reply{"done", 200, slow ? 1.5 : 0.0};
  });
  LocalServerModel model({ServerDialect::ollama, server.address(), "llama3.2"});
  const auto start = Clock::now();
  auto call = std::async(std::launch::async, [&] { return model.respond("i", "slow"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  model.cancel();
  EXPECT_EQ(call.get(), std::nullopt);
  EXPECT_LT(since(start), 1.0);
  EXPECT_NE(joined(model.takeCallNotes()).find("given up"), std::string::npos);
  EXPECT_EQ(model.respond("i", "quick"), "done");
}

TEST(LocalServerTest, TheStoredSettingIsFollowedAtEachUse) {
  FakeModelServer server;
  ASSERT_TRUE(server.ok());
  auto store = testing::browserDesktop("AXWindow \"w\"")->platform().defaults;
  ConfiguredModel model(store, kQuick);
  EXPECT_EQ(model.status(), kBuiltInRulesStatus);
  EXPECT_FALSE(model.isAvailable());

  ModelSettings::save(*store, ServerConfig{ServerDialect::ollama, server.address(), "llama3.2"});
  EXPECT_TRUE(model.isAvailable());
  ModelSettings::save(*store, std::nullopt);
  EXPECT_FALSE(model.isAvailable());
  EXPECT_EQ(store->string(ModelSettings::kAddressKey), server.address()) << "kept for next time";

  store->setString(ModelSettings::kDialectKey, "gpt4all");
  EXPECT_FALSE(model.isAvailable());
  EXPECT_NE(model.status().find("“gpt4all” is not ollama or openai"), std::string::npos);
}

// The flows that use the model, on a simulated page, with the model named
// in the trail.
TEST(LocalServerTest, FlowsUseTheModelAndNameItInTheTrail) {
  auto desktop = testing::browserDesktop(R"(
AXWindow "Shop" id=w
  AXWebArea "Acme Shop" frame=0,100,1000,800
    AXButton "Sign in" actions=AXPress frame=10,110,80,30 id=signin
    AXButton "Add Summit Jacket to cart" actions=AXPress frame=10,200,200,30 id=jacket
    AXButton "Add Camp Mug to cart" actions=AXPress frame=10,300,200,30 id=mug
    AXStaticText value="Acme Plus costs $5 per month."
)");
  FakeModelServer server;
  ASSERT_TRUE(server.ok());
  server.answer([](const nlohmann::json& request) {
    const std::string instructions = request["messages"][0]["content"];
    if (instructions == Impl::kTranslateInstructions)
      return FakeModelServer::Reply{
          R"({"action":"click","target":"Sign in","ordinal":0,"text":"","field":""})"};
    if (instructions == Impl::kChooseInstructions) return FakeModelServer::Reply{R"({"index":1})"};
    if (instructions == Impl::kAnswerInstructions)
      return FakeModelServer::Reply{"Acme Plus costs $5 per month."};
    return FakeModelServer::Reply{"- Acme sells jackets and mugs"};
  });
  auto model = std::make_shared<LocalServerModel>(
      ServerConfig{ServerDialect::ollama, server.address(), "llama3.2"});
  Platform platform = desktop->platform();
  auto tracker = std::make_shared<BrowserTracker>(platform);
  tracker->start();
  auto vm = PaletteViewModel::make({.platform = platform,
                                    .tracker = tracker,
                                    .model = model,
                                    .highlighter = std::make_shared<Highlighter>(platform),
                                    .executor = std::make_shared<InlineExecutor>()});
  struct Step {
    const char* command;
    const char* pressed;  // the element's label, or nothing
    const char* shown;    // in the headline or body
    const char* trail;
  };
  const Step steps[] = {
      {"log me in now please", "Sign in", "Sign in", "Asked llama3.2 via Ollama: answered in"},
      {"click add to cart", "Add Camp Mug to cart", "Add Camp Mug to cart",
       "on-device model picked"},
      {"what does acme plus cost?", nullptr, "$5 per month", "Answered by the on-device model"},
      {"summarize this page", nullptr, "Acme sells jackets and mugs",
       "Summarized by the on-device model"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.command);
    desktop->clearEffects();
    vm->reset();
    vm->input = step.command;
    vm->submit();
    const auto* result = std::get_if<ActionResult>(&vm->phase());
    ASSERT_NE(result, nullptr);
    const std::string shown = result->headline + "\n" + result->body.value_or("");
    EXPECT_NE(shown.find(step.shown), std::string::npos) << shown;
    const std::string trail = joined(result->debug);
    EXPECT_NE(trail.find(step.trail), std::string::npos) << trail;
    EXPECT_NE(trail.find("Asked llama3.2 via Ollama: answered in"), std::string::npos) << trail;
    std::string presses;
    for (const Effect& e : desktop->effects()) {
      if (e.describe().find("AXPress") != std::string::npos) presses += e.describe() + "\n";
    }
    if (step.pressed) {
      EXPECT_NE(presses.find(step.pressed), std::string::npos) << presses;
    } else {
      EXPECT_EQ(presses, "");
    }
  }
}

// Background work on a thread of its own, interface work when the test says.
class ThreadExecutor final : public Executor {
 public:
  void onMain(std::function<void()> work) override { main.onMain(std::move(work)); }
  void inBackground(std::function<void()> work) override {
    worker = std::async(std::launch::async, std::move(work));
  }
  ManualExecutor main;
  std::future<void> worker;
};

TEST(LocalServerTest, EscapeWhileTheModelTranslatesStopsWaitingAndDoesNothing) {
  auto desktop = testing::browserDesktop(testing::kShopWindow);
  FakeModelServer server;
  ASSERT_TRUE(server.ok());
  server.answer([](const nlohmann::json&) {
    return FakeModelServer::Reply{
        R"({"action":"click","target":"Sign in","ordinal":0,"text":"","field":""})", 200, 1.5};
  });
  Platform platform = desktop->platform();
  auto tracker = std::make_shared<BrowserTracker>(platform);
  tracker->start();
  auto executor = std::make_shared<ThreadExecutor>();
  auto vm = PaletteViewModel::make({.platform = platform,
                                    .tracker = tracker,
                                    .model = std::make_shared<LocalServerModel>(ServerConfig{
                                        ServerDialect::ollama, server.address(), "llama3.2"}),
                                    .highlighter = std::make_shared<Highlighter>(platform),
                                    .executor = executor});
  desktop->clearEffects();
  vm->input = "log me in now please";
  vm->submit();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto start = Clock::now();
  EXPECT_TRUE(vm->escape());
  ASSERT_EQ(executor->worker.wait_for(std::chrono::seconds(1)), std::future_status::ready)
      << "the command thread is still waiting on the model";
  EXPECT_LT(since(start), 0.8);
  executor->main.runAll();
  EXPECT_TRUE(std::holds_alternative<PaletteViewModel::Idle>(vm->phase()));
  for (const Effect& e : desktop->effects())
    EXPECT_EQ(e.describe().find("AXPress"), std::string::npos) << e.describe();
  executor->worker = {};  // its finished work holds the executor itself
}

// Where a real server runs on this machine, the four jobs against it.
TEST(LocalServerTest, ARealServerOnThisMachineDoesTheFourJobs) {
  const char* host = std::getenv("OLLAMA_HOST");
  const char* name = std::getenv("TOVRIN_TEST_MODEL");
  LocalServerModel probe(
      {ServerDialect::ollama, host && *host ? host : "http://127.0.0.1:11434", name ? name : ""});
  const LocalServerModel::Probe found = probe.probe();
  if (found.state == LocalServerModel::Probe::State::unreachable ||
      found.state == LocalServerModel::Probe::State::refused || found.models.empty())
    GTEST_SKIP() << "no local model server answers (set OLLAMA_HOST to use one)";
  ServerLimits patient;
  patient.structured = 60;
  patient.plain = 120;
  LocalServerModel model(
      {ServerDialect::ollama, probe.config().address, name && *name ? name : found.models.front()},
      patient);
  ASSERT_TRUE(model.isAvailable());
  // What a model makes of a command or a choice is its own; the calls must
  // come back, and the free-text jobs with some text.
  (void)Impl::parseIntent(model, "please press the sign in button for me");
  (void)Impl::choose(model, "the mug", {"Jacket", "Camp mug", "Tent"});
  EXPECT_TRUE(
      Impl::answer(model, "What does Acme Plus cost?", "Acme", "Acme Plus costs $5 per month."));
  EXPECT_TRUE(Impl::summarize(model, "Acme", "Acme sells jackets, mugs and tents."));
}

}  // namespace
}  // namespace tovrin
