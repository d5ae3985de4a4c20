// What the module keeps for the whole process, and why.
//
// The module lives in one interpreter per process (claim_interpreter refuses
// any other), and every import after the first that completed -- a second
// `import qel`, one after `del sys.modules["qel"]`, importlib.reload -- gets
// the same module object back from the create slot with nothing run again
// (module/entry.cpp). The module and the process thus last equally long, and
// everything below is static storage rather than module state: module state
// could not hold it (on a repeated import the interpreter calls the create
// slot again and resets the state pointer of the module object that slot
// returns), the hot paths reach a static without finding the module first,
// and before 3.11 a function has no way from its class to its module.
//
// On re-import none of it changes: same module, same globals dict, so every
// remembered lookup stays right. After a failed import a new attempt runs the
// module body again on a fresh module; what the failed attempt left behind
// stays, and each entry says why that is harmless.
//
// At interpreter finalisation none of it is released. Nothing here has a
// destructor that reaches the interpreter (static destructors run after it is
// gone): the references are left to the process's exit. Starting a new
// interpreter after Py_Finalize in the same process is therefore not
// supported: the pointers kept here would outlive their objects.
//
// The inventory:
//  * `owner`, `finished` (process.cpp): the interpreter the module belongs to,
//    and the module of the import that completed (strong). Set once.
//  * The `Name` statics (core/names.hpp, terminal/terminal.hpp,
//    jsonobj/jsonobj.hpp, the `Name` variables at the top of most files,
//    function-local ones in core/function.cpp and core/signature.cpp): each
//    an interned str made on first use and held.
//    The same text serves any module object, a retry's included.
//  * `FunctionType` (core/function.cpp): the static type of the module's
//    functions, readied by each run of the module body (a no-op after the
//    first). `running_calls` there: how many of those functions are running,
//    on all threads; back to 0 whenever none is.
//  * The remembered lookups (core/lookup_cache.hpp): `DictSlot`, `TypeSlot`
//    and `InstanceSlot` variables in core/str_wrapping.cpp,
//    text/string_type.cpp, terminal/stream.cpp, terminal/capture.cpp and
//    terminal/listener.cpp; under watchers (3.12 on) also the watcher ids and
//    the lists of slots they forget in (core/lookup_cache.cpp). A slot holds
//    no reference (but for one class in TypeSlot::held, under watchers) and
//    answers only for a dict or class unchanged since, so what a failed
//    attempt remembered never answers for the new module's dict.
//  * Built-ins found once (text/string_type.cpp: `ord`, held; str.replace's
//    descriptor and C function; jsonobj/normalise.cpp: dict.items's C
//    function): fixed for the life of the interpreter.
//  * The JSON snapshot (`standard`, jsonobj/normalise.cpp): the standard
//    json functions, their defaults, the default encoder and decoder, and
//    the namespaces they read, as they were when the module was built
//    (strong), to tell when the native copy equals the round trip. Noted by
//    the first build that finds the json module as expected; a retry keeps it.
//  * The stderr string ring (`ring`, `next_slot`, terminal/string_pool.cpp):
//    up to 128 strings made for the standard error writer (strong), written
//    over once only the ring holds them; with it `wrapped_characters` and
//    `last_wrapped` (terminal/stderr_writer.cpp), the wrapped forms of the
//    one-character texts and of the last text (strong). Nobody else can see
//    a string that is written over, so they serve any module object.
//  * The content reserves (`reserves`, `next_reserve`,
//    terminal/content_reserve.cpp): four listener `content` strings with
//    room to spare (strong), in an array allocated once and never destroyed;
//    each is used only while a listener's dict still holds it.
//  * The instruction-set choice (simd/isa.hpp: have_avx2, have_avx512,
//    compress_four_byte_units): read from the processor and the environment
//    on first use; changing the environment afterwards changes nothing.
// Held elsewhere: under a running IPython shell, the callbacks that keep the
// writers on the streams from cell to cell (terminal/cell_hooks.cpp) live in
// the shell's event lists, registered by the module body, so once per module.
// Not state: the `FunctionDef` tables the function objects point into, and
// the other constants (module/startup_notice.cpp's addresses among them).
#pragma once

#include "core/ref.hpp"

namespace qel::core::process {

/// Ties the module to the first interpreter that imports it; -1 with
/// ImportError set when called from any other interpreter.
int claim_interpreter();

/// The module object of the import that completed, or null (borrowed).
PyObject* finished_module();

/// Records a completed import; later imports return this module unchanged.
void remember_finished(PyObject* module);

}  // namespace qel::core::process
