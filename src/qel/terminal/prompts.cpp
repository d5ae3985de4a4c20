// colorful_ps: the interactive prompts in bold, each character in a random colour.
#include "core/colors.hpp"
#include "core/names.hpp"
#include "terminal/terminal.hpp"

namespace qel::terminal {
namespace {

Name ps1_name{"ps1"};
Name ps2_name{"ps2"};
Name qe_addcolor_name{"qe_addcolor"};
Name qe_remove_name{"qe_remove"};

/// "\x1b[1m" + str(plain).qe_addcolor().qe_remove("\x1b[0m"): the colouring
/// ends with a reset, which would undo the bold for the text typed after it.
Ref colored_prompt(const Call& call, const char* plain) {
    Ref str = call.global(names::str);
    Ref text = Ref::adopt(PyUnicode_FromString(plain));
    if (!str || !text) return {};
    Ref prompt = Ref::adopt(PyObject_CallOneArg(str.get(), text.get()));
    if (!prompt) return {};
    prompt = Ref::adopt(PyObject_CallMethodNoArgs(prompt.get(), qe_addcolor_name.get()));
    if (!prompt) return {};
    Ref reset = Ref::adopt(PyUnicode_FromString(colors::reset));
    if (!reset) return {};
    prompt = Ref::adopt(PyObject_CallMethodOneArg(prompt.get(), qe_remove_name.get(), reset.get()));
    Ref bold = Ref::adopt(PyUnicode_FromString(colors::bold));
    if (!prompt || !bold) return {};
    return Ref::adopt(PyNumber_Add(bold.get(), prompt.get()));
}

Ref colorful_ps_impl(const Call& call) {
    const struct { const Name& name; const char* plain; } prompts[] = {{ps1_name, ">>> "}, {ps2_name, "... "}};
    for (auto& p : prompts) {
        Ref value = colored_prompt(call, p.plain);
        if (!value) return {};
        Ref sys = call.global(names::sys);
        if (!sys || PyObject_SetAttr(sys.get(), p.name.get(), value.get()) < 0) return {};
    }
    return none();
}

const FunctionDef colorful_ps_def{
    "colorful_ps", {}, colorful_ps_impl,
    "设置Python shell (终端环境) PS信息设置为彩色. Set the python shell (terminal environment) PS information to color."};

}  // namespace

int define_colorful_ps(const Globals& g) {
    return g.set(names::colorful_ps, make_function(colorful_ps_def, g, nullptr));
}

int color_prompts(const Globals& g) {
    Ref function = g.get(names::colorful_ps);
    if (!function) return -1;
    Ref result = Ref::adopt(PyObject_CallNoArgs(function.get()));
    return result ? 0 : -1;
}

}  // namespace qel::terminal
