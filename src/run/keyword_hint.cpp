// Closest known keyword by optimal-string-alignment distance on upper-case
// letters, else the longest known keyword the word starts with.
#include "run/keyword_hint.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace orva {

namespace {

// Every keyword the job-file reader acts on; keep in step with it.
constexpr const char* KNOWN_KEYWORDS[] = {
    "NUMBER_OF_IMAGES", "NUM_IMG",       "DATA_START", "DATA_END",     "DATA",      "BACK",
    "LOOP_POSITION",    "LOOP_POS",      "BORDER",     "BORDER_L",     "BORDER_R",  "BORDER_B",
    "BORDER_T",         "IMAGE_SPECIAL", "SHADOW",     "CENTRE_COORD", "LOOP_TYPE", "PREALIGN",
    "VERS23",           "SET_CROSS",     "LOGOUTX",    "REPORT",       "TRACK",
};
constexpr std::size_t SHORT_KEYWORD = 4;
constexpr std::size_t LONGEST_WORD = 64;  // longer words are no misspelt keyword

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::size_t edit_distance(const std::string& a, const std::string& b) {
    const std::size_t n = a.size(), m = b.size();
    std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
    for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= n; ++i) {
        for (std::size_t j = 1; j <= m; ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[n][m];
}

}  // namespace

const char* closest_keyword(std::string_view word) {
    if (word.empty() || word.size() > LONGEST_WORD) return nullptr;
    const std::string w = upper(word);
    const char* best = nullptr;
    std::size_t best_distance = 0;
    const char* prefix = nullptr;
    for (const char* known : KNOWN_KEYWORDS) {
        const std::string k = known;
        const std::size_t limit = k.size() <= SHORT_KEYWORD ? 1 : 2;
        const std::size_t d = edit_distance(w, k);
        if (d <= limit && (best == nullptr || d < best_distance)) {
            best = known;
            best_distance = d;
        }
        if (w.rfind(k, 0) == 0 && (prefix == nullptr || k.size() > std::string(prefix).size()))
            prefix = known;
    }
    return best != nullptr ? best : prefix;
}

}  // namespace orva
