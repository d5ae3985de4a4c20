// Steps of the module body owned by the terminal-output subsystem, and the
// names its files share.
#pragma once

#include "core/klass.hpp"

namespace qel::terminal {

/// Code in terminal/ names what core/ defines unqualified; every file of
/// the folder includes this header, directly or through its own.
using namespace qel::core;

/// Attribute names shared by the terminal files: those of `sys` and the
/// stream objects, a listener's `content` and `terminal_listener.listeners`.
inline Name stdout_name{"stdout"};
inline Name stderr_name{"stderr"};
inline Name write_name{"write"};
inline Name vanilla_write_name{"vanilla_write"};
inline Name content_name{"content"};
inline Name listeners_name{"listeners"};

/// `terminal_listener`; its class body hooks the current sys.stdout.
int define_terminal_listener(const Globals& g);

/// `qel_send_message(text)`: one message line on standard error.
int define_send_message(const Globals& g);

/// `colorful_ps()`: coloured interactive prompts.
int define_colorful_ps(const Globals& g);

/// `terminal_stderr`: hooks the current sys.stderr, then leaves the namespace again.
int install_stderr_writer(const Globals& g);

/// Under a running IPython shell, keeps both writers on their streams in
/// every later cell (see cell_hooks.cpp); elsewhere does nothing.
int keep_hooks_across_cells(const Globals& g);

/// Calls `colorful_ps()` once, as the import does on every platform.
int color_prompts(const Globals& g);

}  // namespace qel::terminal
