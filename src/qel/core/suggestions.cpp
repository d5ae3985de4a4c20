// The same weighted edit distance and cut-offs as the interpreter's
// Python/suggestions.c, so the suggested name is the one a Python function of
// the same signature would suggest.
#include "core/suggestions.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace qel::core {
namespace {

constexpr std::size_t move_cost = 2;
constexpr std::size_t case_cost = 1;
constexpr std::size_t max_string_size = 40;

std::size_t substitution_cost(char a, char b) {
    if ((a & 31) != (b & 31)) return move_cost;
    if (a == b) return 0;
    if ('A' <= a && a <= 'Z') a = static_cast<char>(a + ('a' - 'A'));
    if ('A' <= b && b <= 'Z') b = static_cast<char>(b + ('a' - 'A'));
    return a == b ? case_cost : move_cost;
}

std::size_t distance(const char* a, std::size_t a_size, const char* b, std::size_t b_size,
                     std::size_t max_cost) {
    if (a == b) return 0;
    while (a_size && b_size && a[0] == b[0]) { ++a; --a_size; ++b; --b_size; }
    while (a_size && b_size && a[a_size - 1] == b[b_size - 1]) { --a_size; --b_size; }
    if (a_size == 0 || b_size == 0) return (a_size + b_size) * move_cost;
    if (a_size > max_string_size || b_size > max_string_size) return max_cost + 1;
    if (b_size < a_size) { std::swap(a, b); std::swap(a_size, b_size); }
    if ((b_size - a_size) * move_cost > max_cost) return max_cost + 1;

    std::size_t row[max_string_size];
    for (std::size_t i = 0; i < a_size; ++i) row[i] = (i + 1) * move_cost;
    std::size_t result = 0;
    for (std::size_t bi = 0; bi < b_size; ++bi) {
        const char code = b[bi];
        std::size_t diagonal = result = bi * move_cost;
        std::size_t minimum = SIZE_MAX;
        for (std::size_t i = 0; i < a_size; ++i) {
            const std::size_t substitute = diagonal + substitution_cost(code, a[i]);
            diagonal = row[i];
            const std::size_t insert_delete = std::min(result, diagonal) + move_cost;
            result = std::min(insert_delete, substitute);
            row[i] = result;
            minimum = std::min(minimum, result);
        }
        if (minimum > max_cost) return max_cost + 1;
    }
    return result;
}

}  // namespace

Ref closest_name(PyObject* candidates, PyObject* name) {
    Py_ssize_t name_size = 0;
    const char* name_text = PyUnicode_AsUTF8AndSize(name, &name_size);
    if (!name_text) return {};
    PyObject* best = nullptr;
    Py_ssize_t best_distance = PY_SSIZE_T_MAX;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(candidates); ++i) {
        PyObject* item = PyTuple_GET_ITEM(candidates, i);
        if (PyUnicode_Compare(name, item) == 0) continue;
        Py_ssize_t item_size = 0;
        const char* item_text = PyUnicode_AsUTF8AndSize(item, &item_size);
        if (!item_text) return {};
        Py_ssize_t max_distance = (name_size + item_size + 3) * static_cast<Py_ssize_t>(move_cost) / 6;
        max_distance = std::min(max_distance, best_distance - 1);
        if (max_distance < 0) continue;
        const auto d = static_cast<Py_ssize_t>(distance(name_text, static_cast<std::size_t>(name_size), item_text,
                                                        static_cast<std::size_t>(item_size),
                                                        static_cast<std::size_t>(max_distance)));
        if (d > max_distance) continue;
        if (!best || d < best_distance) { best = item; best_distance = d; }
    }
    return Ref::retain(best);
}

}  // namespace qel::core
