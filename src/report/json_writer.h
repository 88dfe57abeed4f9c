// A small JSON text writer: objects, arrays, strings, numbers, booleans and
// null, two spaces of indentation per level; a compact object or array stays
// on one line.
//
// Strings are escaped as JSON requires (quote, backslash and every control
// character); bytes that are not valid UTF-8 become U+FFFD, so the text is
// always valid UTF-8. Numbers are written in the shortest form that reads back
// to the same double, independent of the C locale; NaN and infinities, which
// JSON cannot hold, are written as null.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orva {

class JsonWriter {
  public:
    void begin_object(bool compact = false);
    void end_object();
    void begin_array(bool compact = false);
    void end_array();
    // The name of the next member of the current object.
    void key(std::string_view name);

    void string(std::string_view text);
    void number(double value);
    void number(float value);  // shortest text of the float itself: 0.1f gives 0.1
    void integer(long value);
    void boolean(bool value);
    void null();

    // key(name) followed by the value.
    void field(std::string_view name, std::string_view text) { key(name), string(text); }
    void field(std::string_view name, const char* text) { key(name), string(text); }
    void field(std::string_view name, double value) { key(name), number(value); }
    void field(std::string_view name, float value) { key(name), number(value); }
    void field(std::string_view name, int value) { key(name), integer(value); }
    void field(std::string_view name, long value) { key(name), integer(value); }
    void field(std::string_view name, bool value) { key(name), boolean(value); }
    // A string member, or null when text is empty.
    void optional_field(std::string_view name, std::string_view text);

    // The text so far, with a final line end once the outermost value is closed.
    const std::string& text() const { return out_; }

  private:
    void before_value();
    void open(char bracket, bool compact);
    void close(char bracket);
    void newline();

    std::string out_;
    struct Level {
        bool has_members = false;
        bool compact = false;
    };
    std::vector<Level> levels_;  // one entry per open object or array
    bool after_key_ = false;
};

// The JSON string literal of text, quotes included.
std::string json_quote(std::string_view text);

// The JSON number text of value ("null" when it is not finite).
std::string json_number(double value);
std::string json_number(float value);

}  // namespace orva
