#pragma once

// A language model served on this computer by a local model server, in
// either of the two dialects such servers speak: Ollama's API and the
// OpenAI-compatible chat API (llama.cpp's server and others). Only loopback
// addresses are ever contacted, whatever the configuration says, so no page
// text leaves the machine; names other than "localhost" are refused without
// a lookup. Proxy variables are not honoured. Every call has an overall time
// limit and can be given up; any failure is an absent reply.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ai/language_model.h"

namespace tovrin {

enum class ServerDialect { ollama, openai };

struct ServerConfig {
  ServerDialect dialect = ServerDialect::ollama;
  std::string address;  // as the user gave it, such as http://127.0.0.1:11434
  std::string model;
};

// Where a server on this computer listens.
struct LoopbackEndpoint {
  std::string host;  // numeric: 127.x.x.x or ::1
  int port = 0;
  std::string shown;  // 127.0.0.1:11434, [::1]:8080 (also the Host header)
};

struct ServerLimits {
  double probe = 0.3;       // seconds for the availability check
  double remember = 5.0;    // seconds an availability answer is kept
  double structured = 8.0;  // command translation and candidate choice
  double plain = 60.0;      // answers and summaries, per call
};

namespace LocalServer {

std::string_view dialectName(ServerDialect dialect);  // "ollama", "openai"
std::optional<ServerDialect> dialectFromName(std::string_view name);
std::string_view serverName(ServerDialect dialect);  // for people: "Ollama", …
int defaultPort(ServerDialect dialect);

// The endpoint of `address` when it is on this computer; otherwise why not,
// in words for the user. Nothing is looked up or contacted.
std::variant<LoopbackEndpoint, std::string> loopbackEndpoint(std::string_view address,
                                                             ServerDialect dialect);

// The JSON schema of a structured reply, properties in their declared order.
nlohmann::ordered_json schemaJson(const Schema& schema);
// One chat request: the instructions as the system message, the prompt as
// the only user message, no sampling options.
nlohmann::ordered_json chatRequest(ServerDialect dialect, const std::string& model,
                                   const std::string& instructions, const std::string& prompt,
                                   const Schema* schema);
std::string_view chatPath(ServerDialect dialect);
std::string_view modelsPath(ServerDialect dialect);
// The reply's text; nothing for an error, a refusal or a malformed body.
std::optional<std::string> replyContent(ServerDialect dialect, std::string_view body);
// A structured reply that fits `schema`; nothing otherwise.
std::optional<nlohmann::json> structuredReply(std::string_view content, const Schema& schema);
// The models a server lists; nothing when the body is not such a list.
std::optional<std::vector<std::string>> offeredModels(ServerDialect dialect, std::string_view body);
// Whether `wanted` is among `offered` (Ollama's ":latest" tag may be left out).
bool offers(const std::vector<std::string>& offered, std::string_view wanted);

}  // namespace LocalServer

class LocalServerModel final : public LanguageModel {
 public:
  explicit LocalServerModel(ServerConfig config, ServerLimits limits = {});

  struct Probe {
    enum class State { refused, unreachable, missingModel, ready };
    State state = State::unreachable;
    std::vector<std::string> models;  // what the server offers
    std::string detail;               // why it is refused or unreachable
  };
  // Asks the server now, within the probe limit.
  Probe probe();
  // The line the palette's footer and Settings show.
  std::string status();

  bool isAvailable() override;
  std::optional<nlohmann::json> respond(const std::string& instructions, const std::string& prompt,
                                        const Schema& schema) override;
  std::optional<std::string> respond(const std::string& instructions,
                                     const std::string& prompt) override;
  void cancel() override;
  std::vector<std::string> takeCallNotes() override;

  [[nodiscard]] const ServerConfig& config() const { return config_; }

 private:
  struct Exchange {
    int status = 0;  // HTTP status; 0 when none came
    std::string body;
    std::string failure;  // in words, when no usable reply came
  };
  Exchange exchange(bool post, std::string_view path, const std::string& body, double seconds);
  std::optional<std::string> chat(const std::string& instructions, const std::string& prompt,
                                  const Schema* schema, double seconds,
                                  std::optional<nlohmann::json>* structured);
  Probe remembered();
  std::string who() const;

  ServerConfig config_;
  ServerLimits limits_;
  std::optional<LoopbackEndpoint> endpoint_;
  std::string refusal_;

  std::mutex mutex_;
  std::condition_variable wake_;
  uint64_t cancels_ = 0;
  std::optional<Probe> probe_;
  std::chrono::steady_clock::time_point probedAt_;
  std::vector<std::string> notes_;
};

}  // namespace tovrin
