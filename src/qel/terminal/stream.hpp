// What the two stream writers share: reaching the stream's own write, and
// putting a writer on a stream object without ever chaining two writers.
#pragma once

#include "terminal/terminal.hpp"

namespace qel::terminal {

/// The writers, so that installing can recognise a stream that already has one.
extern const FunctionDef stdout_writer_def;
extern const FunctionDef stderr_writer_def;

/// Whether `o` is one of the two writers (of any import of the module).
bool is_writer(PyObject* o);

/// `sys.<stream>` as the module's `sys` global names it now.
Ref current_stream(const Globals& g, const Name& stream);

/// Calls `sys.<stream>.vanilla_write(text)`, everything looked up now.
/// 0, or -1 with an exception set.
int write_through(const Call& call, const Name& stream, PyObject* text);

/// Stores the stream's current `write` as its `vanilla_write`, except when
/// that `write` is already one of this module's writers (an import retried
/// after a failed one): the stream then keeps the `vanilla_write` it has, so
/// a writer never ends up calling another writer.
int keep_vanilla_write(PyObject* stream);

}  // namespace qel::terminal

namespace qel::terminal {

/// Runs inside the body of `terminal_listener`: defines the holder class
/// `__stdout__` with the standard output writer, puts the writer on the
/// current sys.stdout, and deletes the holder from the class namespace again.
int hook_stdout(ClassBuilder& listener_class);

}  // namespace qel::terminal
