#include "cli/kivjson.h"

#include <cstdio>

namespace kiv::cli {

std::string_view projectVersion() { return KIV_VERSION; }

nlohmann::ordered_json makeEnvelope(std::string_view name, int formatMajor, int formatMinor, int argc,
                                    char** argv) {
  nlohmann::ordered_json doc;
  doc["json_format_version"] = {formatMajor, formatMinor};
  nlohmann::ordered_json args = nlohmann::ordered_json::array();
  for (int i = 0; i < argc; ++i) args.push_back(argv[i] != nullptr ? argv[i] : "");
  doc["utility_invoked"] = {{"name", name}, {"version", projectVersion()}, {"argv", std::move(args)}};
  doc["exit_status"] = 0;
  doc["messages"] = nlohmann::ordered_json::array();
  return doc;
}

void addMessage(nlohmann::ordered_json& doc, std::string_view severity, std::string_view text) {
  doc["messages"].push_back({{"severity", severity}, {"string", text}});
}

void printDocument(nlohmann::ordered_json& doc, int exitStatus) {
  doc["exit_status"] = exitStatus;
  // The outcome closes the document, after each program's own fields.
  for (const char* key : {"exit_status", "messages"}) {
    nlohmann::ordered_json value = std::move(doc[key]);
    doc.erase(key);
    doc[key] = std::move(value);
  }
  const std::string text = doc.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace kiv::cli
