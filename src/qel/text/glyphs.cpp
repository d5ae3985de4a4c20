// The one drawing routine shared by every renderer.
#include "text/glyphs.hpp"

#include "core/names.hpp"

namespace qel::text {

Ref draw_glyph(const Call& call, const Glyph& glyph, PyObject* fill) {
    const Py_ssize_t n = PyList_GET_SIZE(fill);
    Ref low = Ref::adopt(PyLong_FromLong(0));
    Ref high = Ref::adopt(PyLong_FromSsize_t(n - 1));
    Ref blank = Ref::adopt(PyUnicode_FromOrdinal(glyphs::blank));
    Ref line_feed = Ref::adopt(PyUnicode_FromOrdinal('\n'));
    Ref picture = Ref::adopt(PyList_New(0));
    if (!low || !high || !blank || !line_feed || !picture) return {};

    bool first_row = true;
    for (std::string_view row : glyph.rows) {
        if (!first_row && PyList_Append(picture.get(), line_feed.get()) < 0) return {};
        first_row = false;
        for (char cell : row) {
            if (cell != glyphs::ink) {
                if (PyList_Append(picture.get(), blank.get()) < 0) return {};
                continue;
            }
            // Looked up per cell, as a name in a loop body would be.
            Ref rd = call.global(names::rd);
            if (!rd) return {};
            PyObject* bounds[] = {low.get(), high.get()};
            Ref index = Ref::adopt(PyObject_Vectorcall(rd.get(), bounds, 2, nullptr));
            if (!index) return {};
            Ref item = Ref::adopt(PyObject_GetItem(fill, index.get()));
            if (!item || PyList_Append(picture.get(), item.get()) < 0) return {};
        }
    }
    // join() checks every item is a str, as the picture may hold whatever the
    // caller's list held.
    Ref nothing = Ref::adopt(PyUnicode_FromStringAndSize(nullptr, 0));
    if (!nothing) return {};
    return Ref::adopt(PyUnicode_Join(nothing.get(), picture.get()));
}

}  // namespace qel::text
