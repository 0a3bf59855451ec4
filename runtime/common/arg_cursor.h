// Walks a command line one word at a time and recognises "--name VALUE" and "--name=VALUE".
// Both gwrt and gwctl scan their options with it so the two accept the same spellings.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace gw {

class ArgCursor {
public:
    // `args` excludes the program name; the words are borrowed and must outlive the cursor.
    explicit ArgCursor(std::span<char* const> args) : args_(args) {}

    bool done() const { return pos_ >= args_.size(); }
    std::string_view peek() const { return done() ? std::string_view{} : args_[pos_]; }
    std::string_view next() { return done() ? std::string_view{} : args_[pos_++]; }
    std::size_t remaining() const { return args_.size() - pos_; }

    enum class Match { no, yes, missing_value };

    // When the current word is option `name` (e.g. "--socket"), consumes it with its value.
    // `missing_value` when the option is the last word; "--name=" gives an empty value, which
    // the caller may refuse.
    Match take_option(std::string_view name, std::string& value);

    // When the current word is exactly `name`, consumes it.
    bool take_flag(std::string_view name);

    // Whether the current word looks like an option ("-x" or "--x", but not "-" alone).
    bool at_option() const;

private:
    std::span<char* const> args_;
    std::size_t pos_ = 0;
};

}  // namespace gw
