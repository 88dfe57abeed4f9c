// The whole-program runner of the end-to-end tests: renders a series with the
// scene generator into a scratch folder, runs the program there (diagnostic
// pictures off) and reads back its messages, exit status, result file and the
// scene's truth file.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "support/files.h"

namespace orva::testing {

// Lines "KEY number"; '#' lines and lines without a number are skipped.
inline std::map<std::string, double> key_values(const std::string& text) {
    std::map<std::string, double> values;
    std::istringstream lines(text);
    std::string line, key;
    double value = 0.0;
    while (std::getline(lines, line))
        if (!line.empty() && line[0] != '#' && std::istringstream(line) >> key >> value)
            values[key] = value;
    return values;
}

class SceneRun : public ::testing::Test {
  protected:
    void render(const std::string& scene_args) {
        const std::string command = "'" ORVA_SCENEGEN "' --quiet --out '" + dir.path().string() +
                                    "' " + scene_args + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << scene_args;
        truth = key_values(read_file(path("truth.txt")));
    }
    // Runs the program on `args` in the folder, after the shell commands
    // `setup` (limits, environment); standard error is read through a pipe,
    // so that a file-size limit does not cut it.
    int run(const std::string& args = "job.txt result.txt", const std::string& setup = "") {
        const std::string command = "cd '" + dir.path().string() + "' && { (" + setup +
                                    " ORVA_DIAG_DIR= exec '" ORVA_BINARY "' " + args +
                                    " 2>&1 >/dev/null); echo $? >status.txt; } | cat >stderr.txt";
        if (std::system(command.c_str()) != 0) ADD_FAILURE() << command;
        messages = read_file(path("stderr.txt"));
        result = key_values(read_file(path("result.txt")));
        return std::stoi(read_file(path("status.txt")));
    }
    int render_and_run(const std::string& scene_args) {
        render(scene_args);
        std::remove(path("result.txt").c_str());
        return ::testing::Test::HasFatalFailure() ? -1 : run();
    }
    std::string path(const std::string& name) const { return dir.file(name); }
    bool said(const std::string& text) const { return messages.find(text) != std::string::npos; }

    ScratchDir dir;
    std::string messages;
    std::map<std::string, double> result, truth;
};

}  // namespace orva::testing
