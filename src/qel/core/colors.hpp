// The colour vocabulary: SGR escape sequences written straight into strings.
#pragma once

#include <array>

namespace qel::core::colors {

inline constexpr const char* reset = "\x1b[0m";
inline constexpr const char* bold = "\x1b[1m";
inline constexpr const char* bold_red = "\x1b[31;1m";
inline constexpr const char* red = "\x1b[31m";

/// `__string__.fcolor`: red, green, yellow, blue, magenta, cyan, and SGR 38
/// (38, not the white 37, which the module never uses).
inline constexpr std::array<const char*, 7> foreground = {
    "\x1b[31m", "\x1b[32m", "\x1b[33m", "\x1b[34m", "\x1b[35m", "\x1b[36m", "\x1b[38m",
};

/// `__string__.color`: a background colour, one space and a reset, so each
/// paints exactly one cell and leaves no colour behind.
inline constexpr std::array<const char*, 7> blocks = {
    "\x1b[41m \x1b[0m", "\x1b[42m \x1b[0m", "\x1b[43m \x1b[0m", "\x1b[44m \x1b[0m",
    "\x1b[45m \x1b[0m", "\x1b[46m \x1b[0m", "\x1b[47m \x1b[0m",
};

/// The standard information format; a message line is this plus "\n".
inline constexpr const char* info_format = "\x1b[33;4m[ю QEL]\x1b[0;32m: \x1b[35m%s\x1b[0m";
inline constexpr const char* info_line_format = "\x1b[33;4m[ю QEL]\x1b[0;32m: \x1b[35m%s\x1b[0m\n";

}  // namespace qel::core::colors
