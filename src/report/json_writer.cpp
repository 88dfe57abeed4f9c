// JSON text: escaping, UTF-8 repair, locale-independent numbers, layout.
#include "report/json_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace orva {

namespace {

constexpr const char* REPLACEMENT_CHARACTER = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// Length of the valid UTF-8 sequence starting at text[i], or 0 when there is none.
std::size_t utf8_length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        if (lead == 0xE0) lo = 0xA0;  // no overlong forms
        if (lead == 0xED) hi = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + n > text.size()) return 0;
    if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return n;
}

void append_escaped(std::string& out, unsigned char c) {
    switch (c) {
        case '"':
            out += "\\\"";
            return;
        case '\\':
            out += "\\\\";
            return;
        case '\b':
            out += "\\b";
            return;
        case '\f':
            out += "\\f";
            return;
        case '\n':
            out += "\\n";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\t':
            out += "\\t";
            return;
        default:
            break;
    }
    if (c < 0x20) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        out += buf;
    } else {
        out += static_cast<char>(c);
    }
}

}  // namespace

std::string json_quote(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8_length(text, i);
        if (n == 0) {
            out += REPLACEMENT_CHARACTER;
            ++i;
        } else if (n == 1) {
            append_escaped(out, static_cast<unsigned char>(text[i]));
            ++i;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    out += '"';
    return out;
}

template <typename Real>
std::string number_text(Real value) {
    if (!std::isfinite(value)) return "null";
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, result.ptr);
}

std::string json_number(double value) {
    return number_text(value);
}
std::string json_number(float value) {
    return number_text(value);
}

void JsonWriter::newline() {
    out_ += '\n';
    out_.append(2 * levels_.size(), ' ');
}

void JsonWriter::before_value() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (levels_.empty()) return;
    Level& level = levels_.back();
    if (level.has_members) out_ += level.compact ? ", " : ",";
    if (!level.compact) newline();
    level.has_members = true;
}

void JsonWriter::open(char bracket, bool compact) {
    before_value();
    out_ += bracket;
    // Inside a compact container everything stays on the line.
    levels_.push_back({false, compact || (!levels_.empty() && levels_.back().compact)});
}

void JsonWriter::close(char bracket) {
    const Level level = levels_.back();
    levels_.pop_back();
    if (level.has_members && !level.compact) newline();
    out_ += bracket;
    if (levels_.empty()) out_ += '\n';
}

void JsonWriter::begin_object(bool compact) {
    open('{', compact);
}
void JsonWriter::end_object() {
    close('}');
}
void JsonWriter::begin_array(bool compact) {
    open('[', compact);
}
void JsonWriter::end_array() {
    close(']');
}

void JsonWriter::key(std::string_view name) {
    before_value();
    out_ += json_quote(name);
    out_ += ": ";
    after_key_ = true;
}

void JsonWriter::string(std::string_view text) {
    before_value();
    out_ += json_quote(text);
}

void JsonWriter::number(double value) {
    before_value();
    out_ += json_number(value);
}

void JsonWriter::number(float value) {
    before_value();
    out_ += json_number(value);
}

void JsonWriter::integer(long value) {
    before_value();
    char buf[32];
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    out_.append(buf, result.ptr);
}

void JsonWriter::boolean(bool value) {
    before_value();
    out_ += value ? "true" : "false";
}

void JsonWriter::null() {
    before_value();
    out_ += "null";
}

void JsonWriter::optional_field(std::string_view name, std::string_view text) {
    key(name);
    if (text.empty())
        null();
    else
        string(text);
}

}  // namespace orva
