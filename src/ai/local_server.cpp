#include "ai/local_server.h"

#include <arpa/inet.h>
#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <thread>

namespace tovrin {

namespace {

using SteadyClock = std::chrono::steady_clock;

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  });
  return out;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '/'))
    text.remove_suffix(1);
  return text;
}

std::string seconds(double s) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f s", s);
  return buffer;
}

// Page text may hold invalid UTF-8; it is sent with replacement characters
// rather than failing the call.
std::string dump(const nlohmann::ordered_json& j) {
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string describe(httplib::Error error) {
  switch (error) {
    case httplib::Error::Connection:
      return "nothing is listening there";
    case httplib::Error::ConnectionTimeout:
      return "the connection timed out";
    case httplib::Error::Read:
      return "the server closed the connection";
    case httplib::Error::Write:
      return "the request could not be sent";
    case httplib::Error::Canceled:
      return "given up";
    default:
      return "the exchange failed (" + httplib::to_string(error) + ")";
  }
}

// The JSON library throws on a number too large for a double even when
// asked not to throw; a server's reply is no reason to stop.
nlohmann::json parsed(std::string_view text) {
  try {
    return nlohmann::json::parse(text, nullptr, false);
  } catch (const nlohmann::json::exception&) {
    return nlohmann::json::value_t::discarded;
  }
}

}  // namespace

namespace LocalServer {

std::string_view dialectName(ServerDialect dialect) {
  return dialect == ServerDialect::ollama ? "ollama" : "openai";
}

std::optional<ServerDialect> dialectFromName(std::string_view name) {
  const std::string n = lower(name);
  if (n == "ollama") return ServerDialect::ollama;
  if (n == "openai") return ServerDialect::openai;
  return std::nullopt;
}

std::string_view serverName(ServerDialect dialect) {
  return dialect == ServerDialect::ollama ? "Ollama" : "an OpenAI-compatible server";
}

int defaultPort(ServerDialect dialect) {
  return dialect == ServerDialect::ollama ? 11434 : 8080;
}

std::variant<LoopbackEndpoint, std::string> loopbackEndpoint(std::string_view address,
                                                             ServerDialect dialect) {
  std::string_view rest = trimmed(address);
  const std::string given(rest);
  if (rest.empty()) return std::string("No address given for the model server");
  if (const auto scheme = rest.find("://"); scheme != std::string_view::npos) {
    if (lower(rest.substr(0, scheme)) != "http") {
      return "“" + given +
             "” is not an http:// address; a model server on this computer is "
             "reached over plain http://";
    }
    rest.remove_prefix(scheme + 3);
  }
  std::string host;
  if (!rest.empty() && rest.front() == '[') {
    const auto close = rest.find(']');
    if (close == std::string_view::npos) return "“" + given + "” is not a valid address";
    host = std::string(rest.substr(1, close - 1));
    rest.remove_prefix(close + 1);
  } else {
    const auto end = rest.find_first_of(":/");
    host = std::string(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
  }
  int port = defaultPort(dialect);
  if (!rest.empty() && rest.front() == ':') {
    rest.remove_prefix(1);
    const auto end = rest.find('/');
    const std::string_view digits = rest.substr(0, end);
    if (digits.empty() || digits.size() > 5 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        std::stoi(std::string(digits)) < 1 || std::stoi(std::string(digits)) > 65535) {
      return "“" + given + "” has no valid port (1 to 65535)";
    }
    port = std::stoi(std::string(digits));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
  }
  // People paste the OpenAI-style base address with its version.
  if (dialect == ServerDialect::openai && rest == "/v1") rest = {};
  if (!rest.empty()) {
    return "“" + given + "” has a path; give only the server's address, such as http://127.0.0.1:" +
           std::to_string(defaultPort(dialect));
  }
  host = lower(host);
  if (host == "localhost") host = "127.0.0.1";
  in_addr v4{};
  in6_addr v6{};
  bool loopback = false;
  std::string shown;
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) {
    loopback = (ntohl(v4.s_addr) >> 24) == 127;
    shown = host;
  } else if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
    loopback = IN6_IS_ADDR_LOOPBACK(&v6);
    host = "::1";
    shown = "[::1]";
  }
  if (!loopback) {
    return "“" + (host.empty() ? given : host) +
           "” is not this computer. Tovrin only uses a model server on this computer "
           "(127.0.0.1, ::1 or localhost), so that no page text leaves it";
  }
  return LoopbackEndpoint{host, port, shown + ":" + std::to_string(port)};
}

nlohmann::ordered_json schemaJson(const Schema& schema) {
  nlohmann::ordered_json properties = nlohmann::ordered_json::object();
  nlohmann::ordered_json required = nlohmann::ordered_json::array();
  for (const SchemaProperty& p : schema.properties) {
    properties[p.name] = {{"type", p.type == SchemaProperty::Type::integer ? "integer" : "string"},
                          {"description", p.description}};
    required.push_back(p.name);
  }
  return {{"type", "object"},
          {"properties", properties},
          {"required", required},
          {"additionalProperties", false}};
}

nlohmann::ordered_json chatRequest(ServerDialect dialect, const std::string& model,
                                   const std::string& instructions, const std::string& prompt,
                                   const Schema* schema) {
  nlohmann::ordered_json request = {
      {"model", model},
      {"messages",
       {{{"role", "system"}, {"content", instructions}}, {{"role", "user"}, {"content", prompt}}}},
      {"stream", false}};
  if (schema) {
    if (dialect == ServerDialect::ollama) {
      request["format"] = schemaJson(*schema);
    } else {
      request["response_format"] = {
          {"type", "json_schema"},
          {"json_schema",
           {{"name", schema->name}, {"strict", true}, {"schema", schemaJson(*schema)}}}};
    }
  }
  return request;
}

std::string_view chatPath(ServerDialect dialect) {
  return dialect == ServerDialect::ollama ? "/api/chat" : "/v1/chat/completions";
}

std::string_view modelsPath(ServerDialect dialect) {
  return dialect == ServerDialect::ollama ? "/api/tags" : "/v1/models";
}

std::optional<std::string> replyContent(ServerDialect dialect, std::string_view body) {
  const auto j = parsed(body);
  if (j.is_discarded() || !j.is_object() || j.contains("error")) return std::nullopt;
  const nlohmann::json* message = nullptr;
  if (dialect == ServerDialect::ollama) {
    auto it = j.find("message");
    if (it != j.end()) message = &*it;
  } else {
    auto choices = j.find("choices");
    if (choices != j.end() && choices->is_array() && !choices->empty() &&
        choices->front().is_object()) {
      auto it = choices->front().find("message");
      if (it != choices->front().end()) message = &*it;
    }
  }
  if (!message || !message->is_object()) return std::nullopt;
  if (auto refusal = message->find("refusal");
      refusal != message->end() && refusal->is_string() && !refusal->get<std::string>().empty())
    return std::nullopt;
  auto content = message->find("content");
  if (content == message->end() || !content->is_string()) return std::nullopt;
  std::string text = content->get<std::string>();
  // An empty reply is no answer; shown, it would read as one.
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return std::nullopt;
  return text;
}

std::optional<nlohmann::json> structuredReply(std::string_view content, const Schema& schema) {
  auto j = parsed(content);
  if (j.is_discarded() || !schema.accepts(j)) return std::nullopt;
  return j;
}

std::optional<std::vector<std::string>> offeredModels(ServerDialect dialect,
                                                      std::string_view body) {
  const auto j = parsed(body);
  if (j.is_discarded() || !j.is_object()) return std::nullopt;
  const char* list = dialect == ServerDialect::ollama ? "models" : "data";
  const char* key = dialect == ServerDialect::ollama ? "name" : "id";
  auto it = j.find(list);
  if (it == j.end() || !it->is_array()) return std::nullopt;
  std::vector<std::string> out;
  for (const auto& entry : *it) {
    if (!entry.is_object()) continue;
    auto name = entry.find(key);
    if (name != entry.end() && name->is_string()) out.push_back(name->get<std::string>());
  }
  return out;
}

bool offers(const std::vector<std::string>& offered, std::string_view wanted) {
  if (wanted.empty()) return false;
  const std::string tagged = std::string(wanted) + ":latest";
  return std::any_of(offered.begin(), offered.end(), [&](const std::string& name) {
    return name == wanted || name == tagged || name + ":latest" == wanted;
  });
}

}  // namespace LocalServer

LocalServerModel::LocalServerModel(ServerConfig config, ServerLimits limits)
    : config_(std::move(config)), limits_(limits) {
  auto checked = LocalServer::loopbackEndpoint(config_.address, config_.dialect);
  if (auto* endpoint = std::get_if<LoopbackEndpoint>(&checked)) {
    endpoint_ = *endpoint;
  } else {
    refusal_ = std::get<std::string>(checked);
  }
}

std::string LocalServerModel::who() const {
  return config_.model + " via " + std::string(LocalServer::serverName(config_.dialect));
}

LocalServerModel::Exchange LocalServerModel::exchange(bool post, std::string_view path,
                                                      const std::string& body, double limit) {
  Exchange out;
  if (!endpoint_) {
    out.failure = refusal_;
    return out;
  }
  const auto deadline = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                                 std::chrono::duration<double>(limit));
  const auto timeout =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::duration<double>(limit));
  httplib::ClientImpl client(endpoint_->host, endpoint_->port);
  client.set_connection_timeout(timeout);
  client.set_read_timeout(timeout);
  client.set_write_timeout(timeout);
  client.set_keep_alive(false);
  const httplib::Headers headers = {{"Host", endpoint_->shown}, {"Accept", "application/json"}};

  // The overall limit and the user's Escape: a watchdog stops the exchange,
  // repeatedly, since a stop that comes before the socket opens is lost.
  bool done = false, timedOut = false, cancelled = false;
  uint64_t cancelsAtStart = 0;
  {
    std::lock_guard lock(mutex_);
    cancelsAtStart = cancels_;
  }
  std::thread watchdog([&] {
    std::unique_lock lock(mutex_);
    const bool woke =
        wake_.wait_until(lock, deadline, [&] { return done || cancels_ != cancelsAtStart; });
    if (done) return;
    (woke ? cancelled : timedOut) = true;
    while (!done) {
      lock.unlock();
      client.stop();
      lock.lock();
      wake_.wait_for(lock, std::chrono::milliseconds(20), [&] { return done; });
    }
  });
  httplib::Result result = post ? client.Post(std::string(path), headers, body, "application/json")
                                : client.Get(std::string(path), headers);
  {
    std::lock_guard lock(mutex_);
    done = true;
  }
  wake_.notify_all();
  watchdog.join();

  if (cancelled) {
    out.failure = "given up";
  } else if (timedOut || (!result && SteadyClock::now() >= deadline)) {
    // The socket's own read limit is the overall one: whichever ends the
    // exchange first, it ran out of time.
    out.failure = "timed out";
  } else if (!result) {
    out.failure = describe(result.error());
  } else {
    out.status = result->status;
    out.body = std::move(result->body);
    if (out.status != 200) out.failure = "HTTP " + std::to_string(out.status);
  }
  return out;
}

LocalServerModel::Probe LocalServerModel::probe() {
  Probe p;
  if (!endpoint_) {
    p.state = Probe::State::refused;
    p.detail = refusal_;
    return p;
  }
  Exchange reply = exchange(false, LocalServer::modelsPath(config_.dialect), {}, limits_.probe);
  if (!reply.failure.empty()) {
    p.detail = reply.failure;
    return p;
  }
  auto models = LocalServer::offeredModels(config_.dialect, reply.body);
  if (!models) {
    p.detail = "its reply is not a list of models";
    return p;
  }
  p.models = std::move(*models);
  p.state = LocalServer::offers(p.models, config_.model) ? Probe::State::ready
                                                         : Probe::State::missingModel;
  return p;
}

LocalServerModel::Probe LocalServerModel::remembered() {
  {
    std::lock_guard lock(mutex_);
    if (probe_ && SteadyClock::now() - probedAt_ < std::chrono::duration<double>(limits_.remember))
      return *probe_;
  }
  Probe fresh = probe();
  std::lock_guard lock(mutex_);
  probe_ = fresh;
  probedAt_ = SteadyClock::now();
  return fresh;
}

std::string LocalServerModel::status() {
  const Probe p = remembered();
  const std::string server = std::string(LocalServer::serverName(config_.dialect));
  const std::string where = endpoint_ ? endpoint_->shown : config_.address;
  switch (p.state) {
    case Probe::State::ready:
      return "On-device model: " + who() + " (" + where + ")";
    case Probe::State::missingModel:
      return server + " at " + where + " doesn't offer " + config_.model +
             " — using built-in rules";
    case Probe::State::unreachable:
      return server + " at " + where + " isn't answering — using built-in rules";
    case Probe::State::refused:
      break;
  }
  return "Model server refused: " + p.detail + " — using built-in rules";
}

bool LocalServerModel::isAvailable() {
  return remembered().state == Probe::State::ready;
}

std::optional<std::string> LocalServerModel::chat(const std::string& instructions,
                                                  const std::string& prompt, const Schema* schema,
                                                  double limit,
                                                  std::optional<nlohmann::json>* structured) {
  const auto start = SteadyClock::now();
  const std::string body =
      dump(LocalServer::chatRequest(config_.dialect, config_.model, instructions, prompt, schema));
  Exchange reply = exchange(true, LocalServer::chatPath(config_.dialect), body, limit);
  std::optional<std::string> content;
  std::string failure = reply.failure;
  if (failure.empty()) {
    content = LocalServer::replyContent(config_.dialect, reply.body);
    if (!content) failure = "no usable reply";
  }
  if (content && schema) {
    *structured = LocalServer::structuredReply(*content, *schema);
    if (!*structured) failure = "the reply did not fit " + schema->name;
  }
  const double took = std::chrono::duration<double>(SteadyClock::now() - start).count();
  std::lock_guard lock(mutex_);
  notes_.push_back("Asked " + who() + ": " +
                   (failure.empty() ? "answered in " + seconds(took)
                                    : "no answer after " + seconds(took) + " (" + failure + ")"));
  // A server that went away shows in the status at once, not a few seconds on.
  if (reply.status == 0 && failure != "given up") probe_.reset();
  if (!failure.empty()) return std::nullopt;
  return content;
}

std::optional<nlohmann::json> LocalServerModel::respond(const std::string& instructions,
                                                        const std::string& prompt,
                                                        const Schema& schema) {
  std::optional<nlohmann::json> structured;
  if (!chat(instructions, prompt, &schema, limits_.structured, &structured)) return std::nullopt;
  return structured;
}

std::optional<std::string> LocalServerModel::respond(const std::string& instructions,
                                                     const std::string& prompt) {
  return chat(instructions, prompt, nullptr, limits_.plain, nullptr);
}

void LocalServerModel::cancel() {
  {
    std::lock_guard lock(mutex_);
    ++cancels_;
  }
  wake_.notify_all();
}

std::vector<std::string> LocalServerModel::takeCallNotes() {
  std::lock_guard lock(mutex_);
  return std::exchange(notes_, {});
}

}  // namespace tovrin
