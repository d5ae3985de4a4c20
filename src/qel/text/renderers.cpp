#include "text/renderers.hpp"

namespace qel::text {

void add_renderers(ClassBuilder&) {}

}  // namespace qel::text
