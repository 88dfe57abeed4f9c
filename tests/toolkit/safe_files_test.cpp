// Output files never written through links or into special files; inputs
// never waited for.
#include "toolkit/safe_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

class SafeFiles : public ::testing::Test {
  protected:
    SafeFiles() {
        std::string pattern = (fs::temp_directory_path() / "orva_safe_XXXXXX").string();
        dir = mkdtemp(pattern.data());
        std::ofstream(dir / "victim") << "precious";
    }
    ~SafeFiles() override { fs::remove_all(dir); }
    std::string at(const char* name) const { return (dir / name).string(); }
    fs::path dir;
};

TEST_F(SafeFiles, OutputReplacesLinksAndRefusesSpecialFiles) {
    std::ofstream(at("old")) << "old content";
    fs::create_symlink(at("victim"), at("symlink"));
    fs::create_hard_link(at("victim"), at("hardlink"));
    fs::create_directory(at("dir"));
    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
    const struct {
        const char* name;
        bool ok;
        const char* reason;
    } cases[] = {
        {"new", true, ""},
        {"old", true, ""},
        {"symlink", true, ""},
        {"hardlink", true, ""},
        {"dir", false, "it is a directory"},
        {"fifo", false, "it is a FIFO (named pipe)"},
    };
    for (const auto& c : cases) {
        std::string reason;
        EXPECT_EQ(write_output_file(at(c.name).c_str(), "new", reason), c.ok) << c.name;
        EXPECT_EQ(reason, c.reason) << c.name;
        if (c.ok) {
            EXPECT_EQ(contents(at(c.name)), "new") << c.name;
            EXPECT_FALSE(fs::is_symlink(at(c.name))) << c.name;
        }
    }
    EXPECT_EQ(contents(at("victim")), "precious");
    EXPECT_TRUE(fs::is_fifo(at("fifo")));

    // A device is never opened for writing.
    std::string reason;
    std::FILE* full = open_output_stream("/dev/full", reason);
    EXPECT_EQ(full, nullptr);
    EXPECT_EQ(reason, "it is a character device");
}

TEST_F(SafeFiles, InputTakesRegularFilesAndOnlyAskedForFifosWithoutWaiting) {
    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
    fs::create_directory(at("dir"));
    std::string reason;
    EXPECT_EQ(open_input_fd(at("fifo").c_str(), false, reason), -1);
    EXPECT_EQ(reason, "it is a FIFO (named pipe)");
    EXPECT_EQ(open_input_fd(at("dir").c_str(), false, reason), -1);
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(open_input_fd("/dev/zero", false, reason), -1);
    EXPECT_EQ(reason, "it is a character device");
    // No writer: the open does not wait and reading ends at once.
    std::FILE* pipe = open_input_stream(at("fifo").c_str(), true, reason);
    ASSERT_NE(pipe, nullptr);
    EXPECT_EQ(std::fgetc(pipe), EOF);
    std::fclose(pipe);
    std::FILE* file = open_input_stream(at("victim").c_str(), false, reason);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fgetc(file), 'p');
    std::fclose(file);
}

}  // namespace
}  // namespace orva
