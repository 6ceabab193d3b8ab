#pragma once

// A local model server for tests, on an ephemeral port, speaking both
// dialects (Ollama's /api/… and the OpenAI-compatible /v1/…). It records
// every request; a test decides each chat reply from the request.

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

namespace tovrin::testing {

class FakeModelServer {
 public:
  struct Reply {
    Reply(std::string text = {}, int code = 200, double seconds = 0, std::string raw = {})
        : content(std::move(text)), status(code), delay(seconds), rawBody(std::move(raw)) {}
    std::string content;  // the model's text, put in the dialect's envelope
    int status;
    double delay;         // seconds before answering
    std::string rawBody;  // sent as is instead of an envelope
  };
  struct Request {
    std::string path;
    nlohmann::json body;
  };

  explicit FakeModelServer(std::string host = "127.0.0.1") : host_(std::move(host)) {
    auto models = [this](bool ollama) {
      return [this, ollama](const httplib::Request& req, httplib::Response& res) {
        record(req);
        nlohmann::json list = nlohmann::json::array();
        std::lock_guard lock(mutex_);
        for (const std::string& m : models_)
          list.push_back(ollama ? nlohmann::json{{"name", m}} : nlohmann::json{{"id", m}});
        res.set_content((ollama ? nlohmann::json{{"models", list}}
                                : nlohmann::json{{"object", "list"}, {"data", list}})
                            .dump(),
                        "application/json");
      };
    };
    auto chat = [this](bool ollama) {
      return [this, ollama](const httplib::Request& req, httplib::Response& res) {
        record(req);
        Reply reply;
        {
          std::lock_guard lock(mutex_);
          auto body = nlohmann::json::parse(req.body, nullptr, false);
          reply = answer_ ? answer_(body) : Reply{};
        }
        if (reply.delay > 0)
          std::this_thread::sleep_for(std::chrono::duration<double>(reply.delay));
        res.status = reply.status;
        if (!reply.rawBody.empty()) {
          res.set_content(reply.rawBody, "application/json");
          return;
        }
        nlohmann::json message = {{"role", "assistant"}, {"content", reply.content}};
        res.set_content(
            (ollama ? nlohmann::json{{"model", "m"}, {"message", message}, {"done", true}}
                    : nlohmann::json{{"choices", {{{"index", 0}, {"message", message}}}}})
                .dump(),
            "application/json");
      };
    };
    server_.Get("/api/tags", models(true));
    server_.Get("/v1/models", models(false));
    server_.Post("/api/chat", chat(true));
    server_.Post("/v1/chat/completions", chat(false));
    port_ = server_.bind_to_any_port(host_);
    if (port_ > 0) {
      thread_ = std::thread([this] { server_.listen_after_bind(); });
      while (!server_.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  ~FakeModelServer() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }

  [[nodiscard]] bool ok() const { return port_ > 0; }
  [[nodiscard]] int port() const { return port_; }
  [[nodiscard]] std::string address() const {
    return "http://" + (host_.find(':') != std::string::npos ? "[" + host_ + "]" : host_) + ":" +
           std::to_string(port_);
  }
  void answer(std::function<Reply(const nlohmann::json& request)> answer) {
    std::lock_guard lock(mutex_);
    answer_ = std::move(answer);
  }
  void offer(std::vector<std::string> models) {
    std::lock_guard lock(mutex_);
    models_ = std::move(models);
  }
  [[nodiscard]] std::vector<Request> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void record(const httplib::Request& req) {
    std::lock_guard lock(mutex_);
    requests_.push_back({req.path, nlohmann::json::parse(req.body, nullptr, false)});
  }

  std::string host_;
  httplib::Server server_;
  std::thread thread_;
  int port_ = -1;
  mutable std::mutex mutex_;
  std::function<Reply(const nlohmann::json&)> answer_;
  std::vector<std::string> models_ = {"llama3.2:latest"};
  std::vector<Request> requests_;
};

// A port on which something accepts connections and never answers (the
// kernel completes the handshake; nobody reads), or nothing listens.
class SilentPort {
 public:
  explicit SilentPort(bool listening) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), size) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &size) == 0)
      port_ = ntohs(addr.sin_port);
    if (listening) {
      ::listen(fd_, 16);
    } else {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~SilentPort() {
    if (fd_ >= 0) ::close(fd_);
  }
  [[nodiscard]] std::string address() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace tovrin::testing
