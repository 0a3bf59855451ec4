// Bounds on definition input: files come from outside, so every size and depth that the input
// controls is capped here, and a file that crosses a cap is refused with a message.
#pragma once

#include <cstddef>

namespace amxo {

inline constexpr std::size_t kMaxFileSize = 4u * 1024u * 1024u;
// Longest token (a name or a quoted text) and longest text after ${name} expansion; the latter
// stops definitions that double a configuration value over and over from eating memory.
inline constexpr std::size_t kMaxTokenLength = 64u * 1024u;
inline constexpr std::size_t kMaxExpandedLength = 64u * 1024u;
// Nesting of blocks ({ }, [ ], instance bodies): the parser and builder recurse once per level.
inline constexpr int kMaxNesting = 32;
// Files open at once through include, and files and bytes read by one load in all: a file
// that includes another many times, which does the same, would otherwise multiply the work.
inline constexpr int kMaxIncludeDepth = 16;
inline constexpr int kMaxFilesPerLoad = 1024;
inline constexpr std::size_t kMaxBytesPerLoad = 16u * 1024u * 1024u;
// Event bindings of one load: each is a compiled filter that every event of the data model
// goes through.
inline constexpr std::size_t kMaxEventBindingsPerLoad = 4096;

}  // namespace amxo
