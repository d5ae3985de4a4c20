// The module globals, by name. Functions look these up when they run, so that
// rebinding a module attribute from outside changes later calls.
#pragma once

#include "core/ref.hpp"

namespace qel::core::names {

inline Name qel_version{"qel_version"};
inline Name socket{"socket"};
inline Name json{"json"};
inline Name sys{"sys"};
inline Name os{"os"};
inline Name ascii_uppercase{"ascii_uppercase"};
inline Name print_stack{"print_stack"};
inline Name rd{"rd"};
inline Name vanilla{"vanilla"};
inline Name str{"str"};
inline Name terminal_listener{"terminal_listener"};
inline Name string_namespace{"__string__"};
inline Name qel_send_message{"qel_send_message"};
inline Name colorful_ps{"colorful_ps"};
inline Name file{"__file__"};
inline Name windll{"windll"};
inline Name terminal_stderr{"terminal_stderr"};
inline Name Json{"Json"};
inline Name PoolManager{"PoolManager"};
inline Name new_qel{"new_qel"};
inline Name Solution{"Solution"};
inline Name rdletters{"rdletters"};
inline Name multiple{"multiple"};

}  // namespace qel::core::names
