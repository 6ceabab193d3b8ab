// What a local model server sends back, from arbitrary bytes: the envelope
// of either dialect, the structured replies and their mapping onto intents,
// the model lists, and the address check. The first byte picks the dialect.

#include <cstddef>
#include <cstdint>
#include <string>

#include "ai/local_ai.h"
#include "ai/local_server.h"
#include "ai/scripted_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tovrin;
  if (size == 0) return 0;
  const ServerDialect dialect = (data[0] & 1) ? ServerDialect::openai : ServerDialect::ollama;
  const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
  (void)LocalServer::offeredModels(dialect, body);
  (void)LocalServer::loopbackEndpoint(body, dialect);
  std::string content = LocalServer::replyContent(dialect, body).value_or(body);
  for (const Schema* schema : {&LLMIntent::schema(), &LLMChoice::schema()}) {
    auto reply = LocalServer::structuredReply(content, *schema);
    if (!reply) continue;
    // Through the jobs as a model's answer.
    ScriptedModel model;
    model.when("", *reply);
    (void)Impl::parseIntent(model, "type hello into the search field");
    (void)Impl::choose(model, "mug", {"Jacket", "Mug", "Tent"});
  }
  return 0;
}
