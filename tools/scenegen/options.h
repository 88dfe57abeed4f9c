// Command line of the scene generator: one table of options, from which both the
// parser and the --help text are made, so every option is documented.
#pragma once

#include <string>
#include <vector>

#include "scene.h"

namespace orva::scenegen {

constexpr int OPTIONS_OK = 0;
constexpr int OPTIONS_BAD = 1;
constexpr int OPTIONS_HELP = 2;

// Parses the arguments after the program name ("--name value" or "--name=value").
// Returns OPTIONS_OK, OPTIONS_HELP for --help, or OPTIONS_BAD with a message.
int parse_options(const std::vector<std::string>& args, SceneOptions& opt, std::string& error);

std::string help_text(const char* program);

}  // namespace orva::scenegen
