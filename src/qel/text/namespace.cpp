// `__string__`: a plain namespace class holding the colour lists and renderers.
#include "core/colors.hpp"
#include "core/names.hpp"
#include "text/renderers.hpp"
#include "text/text.hpp"

namespace qel::text {
namespace {

/// A list of the module's `str` made from each text, in order.
template <std::size_t N>
Ref str_list(const Globals& g, const std::array<const char*, N>& texts) {
    Ref str = g.get(names::str);
    Ref list = Ref::adopt(PyList_New(0));
    if (!str || !list) return {};
    for (const char* t : texts) {
        Ref plain = Ref::adopt(PyUnicode_FromString(t));
        if (!plain) return {};
        Ref item = Ref::adopt(PyObject_CallOneArg(str.get(), plain.get()));
        if (!item || PyList_Append(list.get(), item.get()) < 0) return {};
    }
    return list;
}

}  // namespace

int define_string_namespace(const Globals& g) {
    ClassBuilder string_namespace(g, "__string__", "__string__", nullptr);
    string_namespace.add("color", str_list(g, colors::blocks)).add("fcolor", str_list(g, colors::foreground));
    add_renderers(string_namespace);
    return g.set(names::string_namespace, string_namespace.build());
}

}  // namespace qel::text
