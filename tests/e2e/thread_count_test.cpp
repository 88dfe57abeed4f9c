// The same job at 1, 2 and 5 threads gives the same files, byte for byte: the
// result, marker, logs, cross images, diagnostic files, and standard output
// and error together (so that their interleaving counts too). In one job of
// each method (TRACK too) an image fails to load and is skipped; in another an image of
// another size ends the run, and nothing of the images after it may be printed.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "run/scratch_dir.h"

namespace orva {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::write_file;

bool shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// Every file below dir by relative name; the logs' run durations are left out.
std::map<std::string, std::string> files_below(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        std::string content = read_file(entry.path().string());
        if (entry.path().extension() == ".txt") {
            std::istringstream lines(content);
            content.clear();
            for (std::string line; std::getline(lines, line);)
                if (line.find("duration:") == std::string::npos) content += line + "\n";
        }
        files[fs::relative(entry.path(), dir).string()] = content;
    }
    return files;
}

int run_with_threads(const fs::path& dir, int threads) {
    const std::string d = dir.string();
    const std::string command = "cd '" + d + "' && ORVA_THREADS=" + std::to_string(threads) +
                                " ORVA_DIAG_DIR='" + d +
                                "/diag' '" ORVA_BINARY "' job.txt result.txt >messages.txt 2>&1";
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

TEST(ThreadCount, OutputsDoNotDependOnIt) {
    testing::ScratchDir scratch;
    const fs::path input = scratch.path() / "input";
    auto truncate_image_3 = [&] {
        const std::string name = (input / "img_03.png").string();
        const std::string png = read_file(name);
        write_file(name, png.substr(0, png.size() / 2));
    };
    const struct {
        const char* scene;
        std::function<void()> damage;
        int status;
        const char* last_output;  // written only when the run got to the end
    } jobs[] = {
        {"--format png --size 400x300 --images 8 --set-cross --logoutx --seed 41", truncate_image_3,
         0, "diag/diffmask_06.jpg"},
        {"--format png --size 400x300 --images 7 --vers23 --set-cross --logoutx --seed 43",
         truncate_image_3, 0, "log_res2.txt"},
        {"--format png --size 400x300 --images 8 --line TRACK --set-cross --logoutx --seed 41",
         truncate_image_3, 0, "log_res2.txt"},
        {"--format png --size 400x300 --images 8 --background --logoutx --seed 42",
         [&] {
             ASSERT_TRUE(shell("'" ORVA_SCENEGEN "' --quiet --out '" + input.string() +
                               "/odd' --size 404x300 --images 1"));
             fs::copy_file(input / "odd" / "img_00.png", input / "img_05.png",
                           fs::copy_options::overwrite_existing);
             fs::remove_all(input / "odd");
         },
         14, nullptr},
    };
    for (const auto& job : jobs) {
        fs::remove_all(input);
        ASSERT_TRUE(
            shell("'" ORVA_SCENEGEN "' --quiet --out '" + input.string() + "' " + job.scene));
        job.damage();
        std::map<std::string, std::string> first;
        for (const int threads : {1, 2, 5}) {
            const fs::path dir = scratch.path() / ("threads_" + std::to_string(threads));
            fs::remove_all(dir);
            fs::copy(input, dir);
            fs::create_directory(dir / "diag");
            EXPECT_EQ(run_with_threads(dir, threads), job.status) << job.scene;
            const std::map<std::string, std::string> files = files_below(dir);
            if (threads == 1) {
                first = files;
                continue;
            }
            EXPECT_EQ(files.size(), first.size()) << job.scene;
            for (const auto& [name, content] : first)
                EXPECT_TRUE(files.count(name) && files.at(name) == content)
                    << name << " differs at " << threads << " threads: " << job.scene;
        }
        // The runs got as far as they should: diagnostic files, or no text of
        // the images after the one that ended the run.
        const std::string& messages = first["messages.txt"];
        if (job.status == 0) {
            EXPECT_TRUE(first.count(job.last_output) && first.count("cross_05.jpg")) << job.scene;
        } else {
            EXPECT_NE(messages.find("Image img_05.png has 404 x 300 pixels"), std::string::npos);
            EXPECT_EQ(messages.find("img_06"), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace orva
