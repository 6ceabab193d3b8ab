#include "ai/local_ai.h"

#include <gtest/gtest.h>

#include "ai/scripted_model.h"
#include "intent/intent_json.h"

namespace tovrin {
namespace {

using Json = nlohmann::json;

Json reply(std::string action, std::string target = "", int64_t ordinal = 0, std::string text = "",
           std::string field = "") {
  return {{"action", action},
          {"target", target},
          {"ordinal", ordinal},
          {"text", text},
          {"field", field}};
}

std::string translated(const Json& modelReply, std::string_view command = "do the thing") {
  ScriptedModel model;
  model.when("", modelReply);
  auto intent = Impl::parseIntent(model, command);
  return intent ? dumpJson(toJson(*intent)) : "null";
}

std::string target(const char* query, const char* ordinal) {
  return std::string(R"({"query":")") + query + R"(","ordinal":)" + ordinal +
         R"(,"role":"any","nextTo":null})";
}

TEST(LocalAITest, ActionsMapOntoIntents) {
  const std::pair<Json, std::string> cases[] = {
      {reply("click", " Sign in ", 2),
       R"({"intent":"click","target":)" + target("Sign in", "2") + "}"},
      {reply("click", "", -1), R"({"intent":"click","target":)" + target("", "-1") + "}"},
      {reply("click", "  ", 0), "null"},
      {reply("Click", "Sign in"), "null"},  // actions compare exactly
      {reply("open_link", ""), R"({"intent":"openLink","target":)" + target("", "null") + "}"},
      {reply("read"), R"({"intent":"read"})"},
      {reply("summarize"), R"({"intent":"summarize"})"},
      {reply("ask", "ignored"), R"({"intent":"ask","text":"do the thing"})"},
      {reply("find", "refund"), R"({"intent":"find","text":"refund"})"},
      {reply("find", ""), "null"},
      {reply("scroll_down"), R"({"intent":"scroll","scroll":"down"})"},
      {reply("scroll_up"), R"({"intent":"scroll","scroll":"up"})"},
      {reply("scroll_top"), R"({"intent":"scroll","scroll":"top"})"},
      {reply("scroll_bottom"), R"({"intent":"scroll","scroll":"bottom"})"},
      {reply("scroll_to", "pricing"),
       R"({"intent":"scroll","scroll":"section","section":"pricing"})"},
      {reply("scroll_to", ""), "null"},
      {reply("back"), R"({"intent":"navigate","nav":"back"})"},
      {reply("forward"), R"({"intent":"navigate","nav":"forward"})"},
      {reply("reload"), R"({"intent":"navigate","nav":"reload"})"},
      {reply("new_tab"), R"({"intent":"navigate","nav":"newTab"})"},
      {reply("close_tab"), R"({"intent":"navigate","nav":"closeTab"})"},
      {reply("next_tab"), R"({"intent":"navigate","nav":"nextTab"})"},
      {reply("previous_tab"), R"({"intent":"navigate","nav":"previousTab"})"},
      {reply("copy"), R"({"intent":"key","key":"copy"})"},
      {reply("paste"), R"({"intent":"key","key":"paste"})"},
      {reply("select_all"), R"({"intent":"key","key":"selectAll"})"},
      {reply("enter"), R"({"intent":"key","key":"enter"})"},
      {reply("escape"), R"({"intent":"key","key":"escape"})"},
      {reply("list_buttons"), R"({"intent":"list","role":"button"})"},
      {reply("list_links"), R"({"intent":"list","role":"link"})"},
      {reply("unknown"), "null"},
      {reply("delete_everything"), "null"},
      {reply("click", "x", 99),
       R"({"intent":"click","target":)" + target("x", "99") + "}"},  // no range check
      {Json{{"action", "click"}}, "null"},                           // missing properties
      {Json{{"action", "click"}, {"target", "x"}, {"ordinal", "2"}, {"text", ""}, {"field", ""}},
       "null"},
      {Json::array(), "null"},
  };
  for (const auto& [modelReply, expected] : cases) {
    SCOPED_TRACE(modelReply.dump());
    EXPECT_EQ(translated(modelReply), expected);
  }
}

TEST(LocalAITest, TypingOnlyWhatTheUserWrote) {
  EXPECT_EQ(
      translated(reply("type", "", 0, "hello", "search"), "enter Hello into search"),
      R"({"intent":"type","text":"hello","field":{"query":"search","ordinal":null,"role":"field","nextTo":null},"replace":false})");
  EXPECT_EQ(translated(reply("type", "", 0, "hello"), "fill the search"), "null");
  EXPECT_EQ(translated(reply("type", "", 0, ""), "type nothing"), "null");
  EXPECT_EQ(translated(reply("type", "", 0, "STRASSE"), "type straße"),
            R"({"intent":"type","text":"STRASSE","field":null,"replace":false})");
}

TEST(LocalAITest, TranslationPromptAndSchemaAreExact) {
  ScriptedModel model;
  model.when("", std::nullopt);  // the model fails
  EXPECT_FALSE(Impl::parseIntent(model, "frobnicate the widget"));
  ASSERT_EQ(model.calls().size(), 1u);
  EXPECT_EQ(model.calls()[0].prompt, "Command: frobnicate the widget");
  EXPECT_EQ(model.calls()[0].schema, "LLMIntent");
  EXPECT_EQ(model.calls()[0].instructions,
            "You translate a short command for controlling a web browser into a structured action. "
            "Never invent "
            "text to type. If unsure, use unknown.");
  EXPECT_EQ(LLMIntent::schema().properties[2].description,
            "Ordinal requested: 1 for first, 2 for second, -1 for last, 0 if none.");
  EXPECT_EQ(std::string(Impl::kAnswerInstructions).size(), 216u);
}

TEST(LocalAITest, Choose) {
  const std::vector<std::string> options = {"Button “Save”", "Link “Save as”", "Button “Cancel”"};
  struct Case {
    Json reply;
    std::optional<std::size_t> expected;
  };
  for (const Case& c :
       {Case{{{"index", 1}}, 1}, Case{{{"index", 3}}, std::nullopt},
        Case{{{"index", -1}}, std::nullopt}, Case{{{"index", "1"}}, std::nullopt}}) {
    ScriptedModel model;
    model.when("", c.reply);
    EXPECT_EQ(LocalAI::choose(model, "save", options), c.expected);
    ASSERT_EQ(model.calls().size(), 1u);
    EXPECT_EQ(
        model.calls()[0].prompt,
        "User wants: save\nOptions:\n0: Button “Save”\n1: Link “Save as”\n2: Button “Cancel”");
    EXPECT_EQ(model.calls()[0].instructions,
              "You pick which on-screen element best matches the user's description. Answer only "
              "with the index.");
  }
  ScriptedModel unavailable(false);
  unavailable.when("", Json{{"index", 0}});
  EXPECT_EQ(LocalAI::choose(unavailable, "save", options), std::nullopt);
  EXPECT_EQ(LocalAI::choose(unavailable, "save", {}), std::nullopt);
  EXPECT_TRUE(unavailable.calls().empty());  // never asked
  UnavailableModel none;
  EXPECT_EQ(LocalAI::choose(none, "save", options), std::nullopt);
}

TEST(LocalAITest, Answer) {
  ScriptedModel model;
  model.when("Question: how much?", std::string("It costs $5."));
  EXPECT_EQ(Impl::answer(model, "how much?", "Shop", "A\n---\nB"), "It costs $5.");
  EXPECT_EQ(model.calls()[0].prompt,
            "Page title: Shop\n\nExcerpts:\nA\n---\nB\n\nQuestion: how much?");
  EXPECT_EQ(model.calls()[0].instructions,
            "You answer questions about a web page using ONLY the excerpts provided. If the "
            "excerpts do not "
            "contain the answer, reply exactly: \"The page doesn't say.\" Be concise (at most 4 "
            "sentences). "
            "Never use outside knowledge.");
  EXPECT_EQ(Impl::answer(model, "other", "Shop", ""), std::nullopt);
}

std::string prompt(const std::string& part, int bullets) {
  return "Title: T\n\n" + part + "\n\nSummarize in at most " + std::to_string(bullets) +
         " bullet points.";
}

TEST(LocalAITest, SummarizeInPieces) {
  // 12,000 characters: three pieces, three partial calls, one final call.
  std::string text = std::string(5000, 'a') + std::string(5000, 'b') + std::string(2000, 'c');
  ScriptedModel model;
  model.when("aaaa", std::string("- A"));
  model.when("bbbb", std::string("- B"));
  model.when("cccc", std::string("- C"));
  model.when("- A\n- B\n- C", std::string("- all"));
  EXPECT_EQ(Impl::summarize(model, "T", text), "- all");
  std::vector<std::string> prompts;
  for (const auto& call : model.calls())
    prompts.push_back(call.prompt);
  EXPECT_EQ(prompts, (std::vector<std::string>{
                         prompt(std::string(5000, 'a'), 3), prompt(std::string(5000, 'b'), 3),
                         prompt(std::string(2000, 'c'), 3), prompt("- A\n- B\n- C", 6)}));
  EXPECT_EQ(model.calls()[0].instructions,
            "Summarize the given web page text faithfully using only that text. Use short bullet "
            "points. No outside "
            "knowledge.");

  // 30,000 characters: four partials, then stop; a failed final call gives the partials.
  std::string longText;
  for (char c : std::string("defghi"))
    longText += std::string(5000, c);
  ScriptedModel four;
  four.when("Summarize in at most 3", std::string("- part"));
  EXPECT_EQ(Impl::summarize(four, "T", longText), "- part\n- part\n- part\n- part");
  ASSERT_EQ(four.calls().size(), 5u);
  EXPECT_EQ(four.calls()[3].prompt, prompt(std::string(5000, 'g'), 3));

  // A failed piece is skipped and the next one still taken.
  ScriptedModel flaky;
  flaky.when("dddd", std::nullopt);
  flaky.when("Summarize in at most 3", std::string("- ok"));
  flaky.when("Summarize in at most 6", std::string("- final"));
  EXPECT_EQ(Impl::summarize(flaky, "T", longText), "- final");
  EXPECT_EQ(flaky.calls().size(), 6u);  // d fails, e f g h succeed, then the final call

  // Short texts take one call; characters, not bytes, decide.
  ScriptedModel shortOne;
  shortOne.when("", std::string("- one"));
  std::string accents;
  for (int i = 0; i < 5000; ++i)
    accents += "é";
  EXPECT_EQ(Impl::summarize(shortOne, "T", accents), "- one");
  EXPECT_EQ(shortOne.calls().size(), 1u);

  ScriptedModel failing;
  EXPECT_EQ(Impl::summarize(failing, "T", longText), std::nullopt);
}

}  // namespace
}  // namespace tovrin
