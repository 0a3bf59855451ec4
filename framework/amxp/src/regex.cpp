#include "amxp/amxp_regex.h"

#include <algorithm>

#include <re2/re2.h>

namespace amxp {
namespace {

// RE2 reports a back-reference as a bad escape "\1".."\9".
bool is_back_reference(const re2::RE2& refused) {
    const std::string& what = refused.error_arg();
    return refused.error_code() == re2::RE2::ErrorBadEscape && what.size() == 2 && what[1] >= '1' && what[1] <= '9';
}

}  // namespace

Regex::Regex(std::unique_ptr<re2::RE2> compiled)
    : compiled_(std::move(compiled)), longest_text_(kRegexMaxSteps / static_cast<std::size_t>(std::max(compiled_->ProgramSize(), 1))) {}

Regex::~Regex() = default;

std::unique_ptr<Regex> Regex::compile(std::string_view pattern, Case letters, std::string& error) {
    if (pattern.size() > kRegexMaxPattern) {
        error = "pattern longer than " + std::to_string(kRegexMaxPattern) + " bytes";
        return nullptr;
    }
    re2::RE2::Options options;
    options.set_posix_syntax(true);
    options.set_perl_classes(true);    // \w \s \d, which clients used with the GNU engine
    options.set_word_boundary(true);   // \b \B
    options.set_one_line(true);
    options.set_dot_nl(true);
    options.set_encoding(re2::RE2::Options::EncodingLatin1);
    options.set_never_capture(true);
    options.set_case_sensitive(letters == Case::sensitive);
    options.set_max_mem(kRegexMaxMemory);
    options.set_log_errors(false);
    auto compiled = std::make_unique<re2::RE2>(re2::StringPiece(pattern.data(), pattern.size()), options);
    if (compiled->ok()) return std::unique_ptr<Regex>(new Regex(std::move(compiled)));
    error = is_back_reference(*compiled) ? "back-references are not supported" : compiled->error();
    return nullptr;
}

std::optional<bool> Regex::search(std::string_view text) const {
    if (text.size() > longest_text_) return std::nullopt;
    return re2::RE2::PartialMatch(re2::StringPiece(text.data(), text.size()), *compiled_);
}

}  // namespace amxp
