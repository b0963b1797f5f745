// The JSON envelope every program of the project prints with --json: one
// object on standard output, built here so that all programs carry the same
// version, invocation and status fields.
#ifndef KIV_CLI_KIVJSON_H
#define KIV_CLI_KIVJSON_H

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace kiv::cli {

// The project's version, set once in CMake.
std::string_view projectVersion();

// An envelope for one run: json_format_version [major, minor],
// utility_invoked {name, version, argv}, exit_status (0 until set) and an
// empty messages list. Each program keeps its own format version, raised
// as the manual page's JSON OUTPUT section says.
nlohmann::ordered_json makeEnvelope(std::string_view name, int formatMajor, int formatMinor, int argc,
                                    char** argv);

// Appends {"severity": severity, "string": text} to messages.
void addMessage(nlohmann::ordered_json& doc, std::string_view severity, std::string_view text);

// Sets exit_status and writes the document, ended by a newline, on standard
// output, exit_status and messages last. Invalid UTF-8 (an argument, a file name) is replaced, not fatal.
void printDocument(nlohmann::ordered_json& doc, int exitStatus);

}  // namespace kiv::cli

#endif
