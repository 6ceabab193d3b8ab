#include "ai/model_settings.h"

namespace tovrin {

namespace ModelSettings {

Stored load(Defaults& store) {
  Stored out;
  const std::string dialect = store.string(kDialectKey).value_or("off");
  if (dialect.empty() || dialect == "off") return out;
  auto known = LocalServer::dialectFromName(dialect);
  if (!known) {
    out.problem = "the stored model server kind “" + dialect + "” is not ollama or openai";
    return out;
  }
  ServerConfig config{*known, store.string(kAddressKey).value_or(""),
                      store.string(kNameKey).value_or("")};
  if (config.model.empty()) {
    out.problem = "no model name is set for " + std::string(LocalServer::serverName(*known));
    return out;
  }
  out.config = std::move(config);
  return out;
}

void save(Defaults& store, const std::optional<ServerConfig>& config) {
  if (!config) {
    store.setString(kDialectKey, "off");
    return;
  }
  store.setString(kAddressKey, config->address);
  store.setString(kNameKey, config->model);
  store.setString(kDialectKey, std::string(LocalServer::dialectName(config->dialect)));
}

}  // namespace ModelSettings

ConfiguredModel::ConfiguredModel(std::shared_ptr<Defaults> store, ServerLimits limits)
    : store_(std::move(store)), limits_(limits) {}

std::shared_ptr<LocalServerModel> ConfiguredModel::current() {
  ModelSettings::Stored stored = store_ ? ModelSettings::load(*store_) : ModelSettings::Stored{};
  std::lock_guard lock(mutex_);
  problem_ = stored.problem;
  const bool same = model_ && stored.config && model_->config().dialect == stored.config->dialect &&
                    model_->config().address == stored.config->address &&
                    model_->config().model == stored.config->model;
  if (!same) {
    if (model_) retired_.push_back(model_);
    model_ = stored.config ? std::make_shared<LocalServerModel>(*stored.config, limits_) : nullptr;
  }
  return model_;
}

std::string ConfiguredModel::status() {
  auto model = current();
  if (model) return model->status();
  std::lock_guard lock(mutex_);
  if (!problem_.empty()) return "Model setting not used: " + problem_ + " — using built-in rules";
  return kBuiltInRulesStatus;
}

bool ConfiguredModel::isAvailable() {
  auto model = current();
  return model && model->isAvailable();
}

std::optional<nlohmann::json> ConfiguredModel::respond(const std::string& instructions,
                                                       const std::string& prompt,
                                                       const Schema& schema) {
  auto model = current();
  return model ? model->respond(instructions, prompt, schema) : std::nullopt;
}

std::optional<std::string> ConfiguredModel::respond(const std::string& instructions,
                                                    const std::string& prompt) {
  auto model = current();
  return model ? model->respond(instructions, prompt) : std::nullopt;
}

void ConfiguredModel::cancel() {
  std::vector<std::shared_ptr<LocalServerModel>> all;
  {
    std::lock_guard lock(mutex_);
    all = retired_;
    if (model_) all.push_back(model_);
  }
  for (const auto& m : all)
    m->cancel();
}

std::vector<std::string> ConfiguredModel::takeCallNotes() {
  std::vector<std::shared_ptr<LocalServerModel>> all;
  {
    std::lock_guard lock(mutex_);
    all.swap(retired_);
    if (model_) all.push_back(model_);
  }
  std::vector<std::string> notes;
  for (const auto& m : all) {
    for (std::string& n : m->takeCallNotes())
      notes.push_back(std::move(n));
  }
  return notes;
}

}  // namespace tovrin
