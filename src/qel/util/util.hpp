// Steps of the module body owned by the small-utilities subsystem.
#pragma once

#include "core/globals.hpp"

namespace qel::util {

/// Code in util/ names what core/ defines unqualified; every file of
/// the folder includes this header, directly or through its own.
using namespace qel::core;

/// `Solution` with its function `numberOfSteps`.
int define_solution(const Globals& g);

/// `rdletters`: a random string of letters.
int define_rdletters(const Globals& g);

/// `multiple`: the multiples of a number within a closed range.
int define_multiple(const Globals& g);

}  // namespace qel::util
