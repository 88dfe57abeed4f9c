// Output files never written through links or into special files; inputs
// never waited for.
#include "toolkit/safe_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace orva {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& p) {
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(SafeFiles, OutputReplacesLinksRefusesSpecialFilesInputNeverWaits) {
    std::string pattern = (fs::temp_directory_path() / "orva_safe_XXXXXX").string();
    const fs::path dir = mkdtemp(pattern.data());
    const auto at = [&dir](const char* name) { return (dir / name).string(); };
    std::ofstream(at("victim")) << "precious";
    fs::create_symlink(at("victim"), at("symlink"));
    fs::create_hard_link(at("victim"), at("hardlink"));
    fs::create_directory(at("dir"));
    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
    const struct {
        const char* name;
        const char* reason;  // empty: written
    } cases[] = {{"new", ""},
                 {"symlink", ""},
                 {"hardlink", ""},
                 {"dir", "it is a directory"},
                 {"fifo", "it is a FIFO (named pipe)"}};
    for (const auto& c : cases) {
        std::string reason;
        EXPECT_EQ(write_output_file(at(c.name).c_str(), "new", reason), *c.reason == '\0');
        EXPECT_EQ(reason, c.reason) << c.name;
        if (*c.reason == '\0') {
            EXPECT_EQ(contents(at(c.name)), "new") << c.name;
        }
    }
    EXPECT_EQ(contents(at("victim")), "precious");
    EXPECT_FALSE(fs::is_symlink(at("symlink")));

    // A FIFO nobody writes to: refused as an image, read as empty where allowed.
    std::string reason;
    EXPECT_EQ(open_input_fd(at("fifo").c_str(), false, reason), -1);
    std::FILE* pipe = open_input_stream(at("fifo").c_str(), true, reason);
    ASSERT_NE(pipe, nullptr);
    EXPECT_EQ(std::fgetc(pipe), EOF);
    std::fclose(pipe);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace orva
