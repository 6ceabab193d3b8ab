#pragma once

// Which local model server Tovrin uses, kept in the per-user store the
// command line and the desktop application share: off (the default), or a
// dialect, an address and a model name. The model the palette holds reads
// the store at each use, so a change made in Settings or by
// `tovrin model set` applies to the next command.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "accessibility/platform.h"
#include "ai/local_server.h"

namespace tovrin {

inline constexpr const char* kBuiltInRulesStatus = "Using built-in rules (no local model set up)";

namespace ModelSettings {
inline constexpr const char* kDialectKey = "model/dialect";  // off, ollama or openai
inline constexpr const char* kAddressKey = "model/address";
inline constexpr const char* kNameKey = "model/name";

struct Stored {
  std::optional<ServerConfig> config;  // nothing: off
  std::string problem;                 // a stored value Tovrin cannot use
};
Stored load(Defaults& store);
// Nothing turns the model off (the address and name are kept for next time).
void save(Defaults& store, const std::optional<ServerConfig>& config);
}  // namespace ModelSettings

class ConfiguredModel final : public LanguageModel {
 public:
  explicit ConfiguredModel(std::shared_ptr<Defaults> store, ServerLimits limits = {});

  // The server model of the stored setting; null when off.
  std::shared_ptr<LocalServerModel> current();
  // The palette's footer line (asks the server when its answer is old).
  std::string status();

  bool isAvailable() override;
  std::optional<nlohmann::json> respond(const std::string& instructions, const std::string& prompt,
                                        const Schema& schema) override;
  std::optional<std::string> respond(const std::string& instructions,
                                     const std::string& prompt) override;
  void cancel() override;
  std::vector<std::string> takeCallNotes() override;

 private:
  std::shared_ptr<Defaults> store_;
  ServerLimits limits_;
  std::mutex mutex_;
  std::shared_ptr<LocalServerModel> model_;
  std::string problem_;
  // Notes of a model replaced while its call was under way are not lost.
  std::vector<std::shared_ptr<LocalServerModel>> retired_;
};

}  // namespace tovrin
