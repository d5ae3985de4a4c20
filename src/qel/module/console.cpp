// Console colour: a Windows console prints escape sequences literally unless
// the output handle's mode asks it to interpret them.
#include "core/names.hpp"
#include "module/frame.hpp"
#include "module/import_from.hpp"
#include "module/startup.hpp"

namespace qel::module::startup {

namespace {

constexpr long std_output_handle = -11;
// ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING.
// Set as the whole mode, not merged with the previous one.
constexpr long colour_mode = 1 | 2 | 4;

}  // namespace

int enable_console_colours(const Globals& g) {
    int windows = frame::on_windows(g);
    if (windows <= 0) return windows;

    Ref windll = import_from(g, "ctypes", "windll");
    if (g.set(names::windll, windll) < 0) return -1;
    Ref kernel32 = Ref::adopt(PyObject_GetAttrString(windll.get(), "kernel32"));
    if (!kernel32) return -1;
    Ref handle = Ref::adopt(PyObject_CallMethod(kernel32.get(), "GetStdHandle", "l", std_output_handle));
    if (!handle) return -1;
    // The result is not looked at: with standard output redirected to a file
    // the call fails, and then there is no console to colour anyway.
    Ref ignored = Ref::adopt(
        PyObject_CallMethod(kernel32.get(), "SetConsoleMode", "Ol", handle.get(), colour_mode));
    return ignored ? 0 : -1;
}

}  // namespace qel::module::startup
