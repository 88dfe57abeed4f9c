// The whole-program runner of the end-to-end tests: renders a series with the
// scene generator into a scratch folder, runs the program there on its job
// file and reads back the messages, the result file and the truth file.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "e2e/key_values.h"
#include "run/scratch_dir.h"

namespace orva::testing {

class SceneRun : public ::testing::Test {
  protected:
    // Renders a series and runs the program on it; returns the exit status.
    int render_and_run(const std::string& scene_args) {
        const std::string out = dir.path().string();
        const std::string render =
            "'" ORVA_SCENEGEN "' --quiet --out '" + out + "' " + scene_args + " >/dev/null 2>&1";
        if (std::system(render.c_str()) != 0) {
            ADD_FAILURE() << "scenegen failed: " << scene_args;
            return -1;
        }
        std::remove(path("result.txt").c_str());
        const std::string command =
            "cd '" + out + "' && '" ORVA_BINARY "' job.txt result.txt 2>stderr.txt >stdout.txt";
        const int raw = std::system(command.c_str());
        messages = read_file(path("stderr.txt"));
        result = key_values(read_file(path("result.txt")));
        truth = key_values(read_file(path("truth.txt")));
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    std::string path(const std::string& name) const { return dir.file(name); }
    bool said(const std::string& text) const { return messages.find(text) != std::string::npos; }

    ScratchDir dir;
    std::string messages;
    std::map<std::string, double> result, truth;
};

}  // namespace orva::testing
