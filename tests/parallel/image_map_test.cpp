// Per-image work at one and at several threads: the items' text on two
// streams and the in-order steps come in index order, and the first failing
// item ends the map with its status.
#include "parallel/image_map.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "parallel/ordered_text.h"

namespace orva {
namespace {

std::string contents(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) text += static_cast<char>(c);
    return text;
}

TEST(MapImages, TextAndStepsInIndexOrderUpToTheFirstFailure) {
    for (const char* threads : {"1", "4"}) {
        setenv(THREADS_VARIABLE, threads, 1);
        std::FILE* a_file = std::tmpfile();
        std::FILE* b_file = std::tmpfile();
        std::FILE* a = ordered_stream(a_file);
        std::FILE* b = ordered_stream(b_file);
        std::string steps, want_a, want_b, want_steps;
        const int status = map_images(
            12,
            [&](int i, int) {
                std::fprintf(a, "a%d ", i);
                std::fprintf(b, "b%d ", i);
                std::fprintf(a, "c%d ", i);
                return i == 9 ? 7 : 0;
            },
            [&](int i) {
                steps.append(std::to_string(i)).append(" ");
                return 0;
            });
        for (int i = 0; i <= 9; ++i) {
            const std::string n = std::to_string(i);
            want_a.append("a").append(n).append(" c").append(n).append(" ");
            want_b.append("b").append(n).append(" ");
            if (i < 9) want_steps.append(n).append(" ");
        }
        EXPECT_EQ(status, 7) << threads;
        EXPECT_EQ(contents(a_file), want_a) << threads;
        EXPECT_EQ(contents(b_file), want_b) << threads;
        EXPECT_EQ(steps, want_steps) << threads;
        std::fclose(a_file);
        std::fclose(b_file);
    }
    unsetenv(THREADS_VARIABLE);
}

}  // namespace
}  // namespace orva
