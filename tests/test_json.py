"""qel.json (the factory) and qel.Json (the dictionary it makes).

Every expectation is written as what the standard module's round trip,
json.loads(json.dumps(v)), gives for the same input.
"""
import collections
import enum
import json
import math
import random

import pytest

import qel

JSON_DOC = (
    "标准json格式\n\t告别麻烦的json.loads和json.dumps\n\t该对象为您一键创建json\n\t使用方法:\n\t1. 创建: qel.json(dict)\n"
    "\t暂时只支持字典哦\n\t2. 添加内容\n\tself + dict or qel.Json\n\t也可以直接self += dict or qel.Json 或 self.update(dict or qel.Json)\n"
    "\t3. 移除内容\n\tself - key\n\t也可以直接self -= key 或 self.pop(key)\n\tStandard JSON format\n"
    "\tGoodbye to troublesome json.loads and json.dumps\n\tThis object creates JSON for you with one click\n\tUsage:\n"
    "\t1. Create: qel.json(dict)\n\tFor the time being, only dictionaries are supported\n\t2. Add content\n"
    "\tself + dict or qel.Json\n\tself += dict or qel.Json or self.update(dict or qel.Json)\n\t3. Remove content\n"
    "\tself - key\n\tself -= key or self.pop(key)"
)


def roundtrip(v):
    return json.loads(json.dumps(v))


def canon(v):
    """Data with exact types and key order, comparable even with NaN inside."""
    t = type(v)
    if t is float:
        return (t, "nan" if math.isnan(v) else v.hex())
    if isinstance(v, dict):
        return (dict, [(canon(k), canon(x)) for k, x in v.items()])
    if t is list:
        return (t, [canon(x) for x in v])
    return (t, v)


def outcome(fn):
    try:
        return ("ok", canon(fn()))
    except Exception as e:
        return ("raised", type(e), str(e))


class DictSub(dict):
    pass


class StrSub(str):
    pass


class ReversedItems(dict):
    def items(self):
        return list(reversed(list(super().items())))


class LoudInt(int):
    def __repr__(self):
        return "LoudInt(%d)" % self


class LoudFloat(float):
    def __repr__(self):
        return "LoudFloat"


class Colour(enum.IntEnum):
    RED = 7


class Json(dict):
    """Same signatures as qel.Json, for the interpreter's own argument errors."""

    def __init__(self, data):
        pass

    def update(self, value):
        pass


# A class named like the factory's, which a module-level class here cannot be.
_factory_namespace = {}
exec("class json:\n    def __call__(self, data={}):\n        pass\n", _factory_namespace)
json_ = _factory_namespace["json"]


def type_error_of(fn):
    with pytest.raises(TypeError) as info:
        fn()
    return str(info.value)


# ---- the factory ------------------------------------------------------------------


@pytest.mark.parametrize(
    "make, source",
    [
        (lambda: qel.json(), {}),
        (lambda: qel.json({}), {}),
        (lambda: qel.json('{"a": 1}'), {"a": 1}),
        (lambda: qel.json['{"a": 1}'], {"a": 1}),
        (lambda: qel.json(data='{"a": 1}'), {"a": 1}),
        (lambda: qel.json(qel.str('{"a": 1}')), {"a": 1}),
        (lambda: qel.json({"a": 1}), {"a": 1}),
        (lambda: qel.json({1: (2, 3)}), {"1": [2, 3]}),
        (lambda: qel.json('[["a", 1]]'), {"a": 1}),
        (lambda: qel.json('["ab", ["c", {"d": 1}]]'), {"a": "b", "c": {"d": 1}}),
        (lambda: qel.json(qel.json({"b": [1.5, None, True]})), {"b": [1.5, None, True]}),
        (lambda: qel.json({"z": 1, "a": 2, 0: 3}), {"z": 1, "a": 2, "0": 3}),
    ],
)
def test_factory_accepts_texts_dicts_and_json(make, source):
    made = make()
    assert type(made) is qel.Json
    assert canon(made) == canon(source)


def test_factory_results_are_equal_but_distinct():
    made = [qel.json('{"a": 1}'), qel.json['{"a": 1}'], qel.json({"a": 1})]
    assert made[0] == made[1] == made[2] == {"a": 1}
    assert len({id(m) for m in made}) == 3
    assert str(qel.json()) == "{}"
    # The shared default is never filled in.
    assert type(qel.json).__call__.__defaults__ == ({},)


@pytest.mark.parametrize(
    "data", [1, 1.5, None, [1], ("a", 1), b"{}", DictSub(a=1), collections.OrderedDict(), StrSub("{}"), True]
)
def test_factory_refuses_everything_else(data):
    random.seed(11)
    coloured = qel.str(str(type(data))).qe_addcolor()
    random.seed(11)
    with pytest.raises(TypeError) as info:
        qel.json(data)
    expected = "qel.json() argument must be a string or a dict, not %r\n" % type(data).__name__ + coloured
    assert info.value.args == (expected,)
    assert qel.str(str(info.value)).qe_rmcolor().endswith("\n%s\x1b[0m" % type(data))


@pytest.mark.parametrize("text", ["[1, 2]", "5", '"abc"', '"a"', "null", "[[1, 2, 3]]", "not json", "{", "[]"])
def test_factory_text_the_dict_update_refuses(text):
    def plain():
        d = {}
        d.update(json.loads(text))
        return d

    assert outcome(lambda: qel.json(text)) == outcome(plain)


# ---- operators ----------------------------------------------------------------------


def nested():
    return {"l": [1, {"x": [2]}], "d": {"k": [3]}, "s": "v"}


def test_add_makes_an_independent_merge():
    a = qel.json(nested())
    b = {"d": {"k2": [4]}, "n": [5], "s": "w"}
    before_a, before_b = canon(a), canon(b)
    c = a + b
    assert type(c) is qel.Json and c is not a
    expected = roundtrip(nested())
    expected.update(roundtrip(b))
    assert canon(c) == canon(expected)
    assert canon(a) == before_a and canon(b) == before_b
    c["l"][1]["x"].append(9)
    c["d"]["k2"].append(9)
    b["n"].append(6)
    assert canon(a) == before_a
    assert c["n"] == [5] and b["d"]["k2"] == [4]


def test_sub_makes_an_independent_copy_without_the_key():
    a = qel.json(nested())
    before = canon(a)
    c = a - "s"
    assert type(c) is qel.Json and c is not a
    assert canon(c) == canon({k: v for k, v in roundtrip(nested()).items() if k != "s"})
    c["l"][1]["x"].append(9)
    assert canon(a) == before


def test_augmented_assignment_rebinds():
    a = qel.json({"a": [1]})
    old = a
    a += {"b": 2}
    assert a is not old and old == {"a": [1]} and a == {"a": [1], "b": 2}
    a -= "a"
    assert a == {"b": 2} and old == {"a": [1]}
    a["b"] = 3
    assert old == {"a": [1]}


@pytest.mark.parametrize("value", [[1], None, "{}", DictSub(a=1), collections.OrderedDict(), 1])
def test_add_refuses_all_but_dict_and_json(value):
    with pytest.raises(TypeError) as info:
        qel.json({"a": 1}) + value
    assert info.value.args == ('can only add qel.json or dict (not "%s") to qel.json' % type(value).__name__,)


@pytest.mark.parametrize("key", ["missing", (1, 2), 0, None])
def test_sub_missing_key(key):
    a = qel.json({"a": 1, "0": 2})
    with pytest.raises(KeyError) as info:
        a - key
    assert info.value.args == (key,)
    assert a == {"a": 1, "0": 2}


def test_sub_unhashable_key():
    assert type_error_of(lambda: qel.json() - []) == type_error_of(lambda: [] in {})


def test_operators_refuse_unencodable_content_without_changing_anything():
    a = qel.json({"a": 1})
    a["bad"] = {1, 2}  # plain dict assignment stores anything
    for op in (lambda: a + {}, lambda: a - "a", lambda: a.copy(), lambda: str(a), lambda: repr(a)):
        assert outcome(op) == outcome(lambda: json.dumps({"a": 1, "bad": {1, 2}}))
    assert a == {"a": 1, "bad": {1, 2}}


# ---- update, copy, call, text -------------------------------------------------------


def test_update_merges_a_copy_and_returns_none():
    a = qel.json({"a": 1, "b": 2})
    b = {"b": [3], 4: (5,)}
    assert a.update(b) is None
    assert canon(a) == canon({"a": 1, "b": [3], "4": [5]})
    b["b"].append(9)
    assert a["b"] == [3]


def test_update_refuses_keyword_items():
    assert type_error_of(lambda: qel.json().update(x=1)) == type_error_of(lambda: Json.update({}, x=1))
    assert type_error_of(lambda: qel.json().update({}, {})) == type_error_of(lambda: Json.update({}, {}, {}))


@pytest.mark.parametrize("value", [[["k", 1], [1, 2, 3]], [["k", 1], 5], 5, "xy", [{"k": 1}], {1, 2}])
def test_update_failures_keep_what_was_stored(value):
    a = qel.json({"a": 1})
    plain = {"a": 1}
    assert outcome(lambda: a.update(value)) == outcome(lambda: plain.update(roundtrip(value)))
    assert canon(a) == canon(plain)


def test_copy_is_a_normalised_independent_json():
    a = qel.json(nested())
    c = a.copy()
    assert type(c) is qel.Json and c == a and c is not a
    c["l"].append(0)
    assert a == roundtrip(nested())
    a[1] = (2,)
    assert canon(a.copy()) == canon(roundtrip(dict(a)))


@pytest.mark.parametrize("other", [None, [1], "ab", 1])
def test_copy_through_the_class_needs_a_dict(other):
    assert type_error_of(lambda: qel.Json.copy(other)) == type_error_of(lambda: dict.copy(other))


def test_calling_a_json_is_indexing_it():
    a = qel.json({"a": [1], "b": 2})
    assert a("a") is a["a"]
    with pytest.raises(KeyError) as info:
        a("zz")
    assert info.value.args == ("zz",)


def test_text_forms_escape_non_ascii():
    data = {"名字": "é☃\U0001f600", "n": [1.5, None]}
    a = qel.json(data)
    assert str(a) == json.dumps(data)
    assert repr(a) == "<QEL Json object %s>" % json.dumps(data)
    assert "\\u540d" in str(a) and str(a).isascii()
    assert repr(qel.json) == str(qel.json) == "<function qel.json can parse a dict to a qel.Json>"


# ---- the class itself ----------------------------------------------------------------


@pytest.mark.parametrize("data", [{"a": 1}, (1,), "x", 0, [1, 2]])
def test_json_class_cannot_be_called(data):
    with pytest.raises(RuntimeError) as info:
        qel.Json(data)
    assert info.value.args == ("Please use qel.json(%r) to create qel.Json object" % data,)


def test_json_class_call_errors():
    # A tuple supplies the format arguments itself, as `%` always does.
    for data in [(), (1, 2)]:
        assert outcome(lambda: qel.Json(data)) == outcome(
            lambda: "Please use qel.json(%r) to create qel.Json object" % data
        )
    assert type_error_of(lambda: qel.Json()) == type_error_of(lambda: Json())
    assert type_error_of(lambda: qel.Json(1, 2)) == type_error_of(lambda: Json(1, 2))
    assert type_error_of(lambda: qel.json(1, 2)) == type_error_of(lambda: json_()(1, 2))


def test_class_layout():
    assert qel.Json.__doc__ == JSON_DOC
    assert qel.Json.__bases__ == (dict,) and type(qel.Json) is type
    assert qel.Json.__call__ is dict.__getitem__
    assert list(qel.Json.__dict__)[:10] == ["__module__", "__doc__", "__init__", "__add__", "__sub__",
                                            "__call__", "__repr__", "__str__", "update", "copy"]
    factory = type(qel.json)
    assert factory.__name__ == "json" and factory.__doc__ is None and factory.__bases__ == (object,)
    assert factory.__getitem__ is factory.__call__
    assert list(factory.__dict__)[:4] == ["__module__", "__call__", "__getitem__", "__repr__"]
    assert qel.Json.__add__.__qualname__ == "Json.__add__" and factory.__call__.__qualname__ == "json.__call__"


# ---- the round trip, case by case ------------------------------------------------------


def self_containing_dict():
    d = {"a": 1}
    d["me"] = d
    return d


def self_containing_list():
    l = [1]
    l.append({"l": l})
    return {"l": l}


def nested_lists(depth):
    v = 0
    for _ in range(depth):
        v = [v]
    return {"v": v}


def shared_twice():
    inner = {"x": [1]}
    return {"a": inner, "b": [inner, inner]}


ROUND_TRIP_CASES = {
    "keys of every type": {1: "int", 1.5: "float", False: "bool", None: "none", "s": "str", 10**20: "big"},
    "special float keys": {float("nan"): 1, float("inf"): 2, -0.0: 3},
    "key collisions": {1: "a", "1": "b", True: "c", "true": "d"},
    "nested tuples": {"t": (1, (2, (3, [4, (5,)])), ())},
    "nan and infinities": {"n": float("nan"), "i": [float("inf"), float("-inf"), -float("nan")]},
    "huge ints": {"i": 2**64, "j": -(2**63) - 1, "k": 2**63 - 1, "l": -(2**63)},
    "int over the digit limit": {"i": 10**5000},
    "lone surrogates": {"\ud800": "\udfff", "x": "a\udc00b"},
    "surrogate pair as code points": {"p": "\ud83d\ude00", "\ud83d\ude00": 1},
    "non-BMP and controls": {"e": "\U0001f600\x00\n\t\"\\", "é": "ÿ中"},
    "int and float subclasses": {"i": LoudInt(5), "f": LoudFloat(2.5), "e": Colour.RED, "b": [LoudInt(-1)]},
    "str subclasses": {StrSub("k"): StrSub("v"), "q": qel.str("qq")},
    "dict subclasses": {"d": DictSub(a=1), "o": collections.OrderedDict(b=2), "r": ReversedItems(x=1, y=2)},
    "self-containing dict": self_containing_dict(),
    "self-containing list": self_containing_list(),
    "shared but not circular": shared_twice(),
    "beyond the native depth": nested_lists(150),
    "far too deep": nested_lists(100000),
    "unencodable value": {"s": {1, 2}},
    "unencodable key": {(1, 2): 3},
    "bytes": {"b": b"x"},
    "float -0.0 and tiny": {"z": -0.0, "t": 5e-324, "m": 1.7976931348623157e308},
    "empty containers": {"d": {}, "l": [], "t": (), "s": ""},
}


@pytest.mark.parametrize("data", ROUND_TRIP_CASES.values(), ids=ROUND_TRIP_CASES.keys())
def test_factory_update_copy_match_the_round_trip(data):
    expected = outcome(lambda: roundtrip(data))
    assert outcome(lambda: qel.json(data)) == expected
    assert outcome(lambda: qel.json({"v": data})) == outcome(lambda: roundtrip({"v": data}))
    a = qel.json({"pre": 0})
    assert outcome(lambda: a.update(data) or a) == outcome(lambda: {"pre": 0, **roundtrip(data)})
    raw = qel.json()
    dict.update(raw, data)
    assert outcome(raw.copy) == expected
    assert outcome(lambda: qel.json({"x": 1}) + data) == outcome(lambda: {"x": 1, **roundtrip(data)})
    assert outcome(lambda: raw + {}) == outcome(lambda: roundtrip(roundtrip(data)))


def test_nan_comes_back_as_the_decoders_constant():
    # Not just equal data: the same objects the round trip hands out.
    made = qel.json({"n": float("-nan"), "i": float("inf")})
    expected = roundtrip({"n": float("-nan"), "i": float("inf")})
    assert made["n"] is expected["n"] and made["i"] is expected["i"]


def sharing(v, seen=None):
    """The pattern of object identity inside a value (which leaves are the same object)."""
    seen = {} if seen is None else seen
    if isinstance(v, dict):
        return [(seen.setdefault(id(k), len(seen)), sharing(x, seen)) for k, x in v.items()]
    if isinstance(v, list):
        return [sharing(x, seen) for x in v]
    return seen.setdefault(id(v), len(seen))


def test_object_sharing_is_that_of_the_round_trip():
    # The decoder keeps one object per distinct key text; values are fresh.
    key = "".join(["ke", "y"])
    leaves = [key, "kk", "kk", 1, 1, 10**6, 10**6, 2.5, 2.5, "", "é", "中", None, True]
    data = {key: {key: leaves, "kk": 1}, "kk": {key: key}}
    made = qel.json(data)
    expected = roundtrip(data)
    assert sharing(dict(made)) == sharing(expected)
    assert list(made)[0] is made["kk"].popitem()[0]
    # Nothing is shared with the source but what the interpreter always shares.
    assert [x is y for x, y in zip(made[key][key], leaves)] == [x is y for x, y in zip(expected[key][key], leaves)]


def test_replaced_json_functions_are_used(monkeypatch):
    calls = []
    real_dumps, real_loads = json.dumps, json.loads

    def dumps(v):
        calls.append("dumps")
        return real_dumps(v)

    def loads(s):
        calls.append("loads")
        return real_loads(s)

    monkeypatch.setattr(json, "dumps", dumps)
    monkeypatch.setattr(json, "loads", loads)
    assert qel.vanilla.json is json
    qel.json({"a": 1})
    assert calls == ["dumps", "loads"]
    monkeypatch.undo()

    class Stand:
        str = str

        class json:
            dumps = staticmethod(lambda v: '{"from": "stand-in"}')
            loads = staticmethod(json.loads)

    monkeypatch.setattr(qel, "vanilla", Stand)
    assert qel.json({"a": 1}) == {"from": "stand-in"}


def test_low_recursion_limit_matches_the_round_trip(py):
    # Deep data near the recursion limit: the outcome must be the round trip's,
    # which fails where the interpreter would run out of calls.
    result = py(
        """
        import json, sys, qel

        def outcome(fn):
            try:
                fn()
                return "ok"
            except RecursionError as e:
                return "RecursionError: " + str(e)

        v = 0
        for _ in range(40):
            v = [v]
        data = {"v": v}

        def at_depth(n, fn):
            return at_depth(n - 1, fn) if n else outcome(fn)

        def depth():
            f, n = sys._getframe(), 0
            while f:
                f, n = f.f_back, n + 1
            return n

        sys.setrecursionlimit(depth() + 60)
        for n in (0, 20, 35, 45, 50):
            print(n, at_depth(n, lambda: json.loads(json.dumps(data))) == at_depth(n, lambda: qel.json(data)))
        """
    )
    assert result.text.split() == ["0", "True", "20", "True", "35", "True", "45", "True", "50", "True"]


# ---- `+` and `-` read the left operand through the module's current pieces ------------


def faithful_add(a, value):
    """`a + value` as written: json(str(a)), then its update, with today's globals."""
    new = qel.json(qel.str(a))
    new.update(value)
    return new


class ReversedJson(qel.Json):
    def items(self):
        return list(reversed(list(dict.items(self))))


def tweak_subclass_items(monkeypatch):
    j = dict.__new__(ReversedJson)
    dict.update(j, {"k": [1], "z": 2})
    return j


def tweak_instance_items(monkeypatch):
    a = qel.json({"k": [1], "z": 2})
    a.items = lambda: [("z", 2), ("k", [1])]
    return a


def tweak_class_str(monkeypatch):
    monkeypatch.setattr(qel.Json, "__str__", lambda self: '{"from": "__str__"}')
    return qel.json({"k": 1})


def tweak_module_str(monkeypatch):
    monkeypatch.setattr(qel, "str", lambda x: '{"from": "str", "k": 0}')
    return qel.json({"k": 1})


def tweak_str_type(monkeypatch):
    class Loud(qel.str):
        def __new__(cls, x):
            return super().__new__(cls, '{"from": "str.__new__", "k": 0}')

    monkeypatch.setattr(qel, "str", Loud)
    return qel.json({"k": 1})


def tweak_module_json(monkeypatch):
    def factory(text):
        made = dict.__new__(qel.Json)
        dict.__setitem__(made, "text", text)
        return made

    monkeypatch.setattr(qel, "json", factory)
    return dict.__new__(qel.Json)


def tweak_factory_call(monkeypatch):
    def call(self, data):
        made = dict.__new__(qel.Json)
        dict.__setitem__(made, "seen", type(data).__name__)
        return made

    monkeypatch.setattr(type(qel.json), "__call__", call)
    return qel.json.__getitem__({"k": 1})


def tweak_update(monkeypatch):
    def update(self, value):
        dict.update(self, {"got": json.dumps(value)})

    a = qel.json({"k": [1, {"n": None}]})
    monkeypatch.setattr(qel.Json, "update", update)
    return a


def tweak_vanilla_without_str(monkeypatch):
    class Vanilla:
        json = json

    a = qel.json({"k": 1})
    monkeypatch.setattr(qel, "vanilla", Vanilla)
    return a


TWEAKS = [tweak_subclass_items, tweak_instance_items, tweak_class_str, tweak_module_str, tweak_str_type,
          tweak_module_json, tweak_factory_call, tweak_update, tweak_vanilla_without_str]


@pytest.mark.parametrize("tweak", TWEAKS, ids=[t.__name__ for t in TWEAKS])
def test_operators_follow_what_str_and_json_do_now(tweak, monkeypatch):
    a = tweak(monkeypatch)
    assert outcome(lambda: a + {"b": 1}) == outcome(lambda: faithful_add(a, {"b": 1}))
    assert outcome(lambda: a + {}) == outcome(lambda: faithful_add(a, {}))
    if outcome(lambda: "k" in a)[1] == canon(True):
        def faithful_sub():
            new = qel.json(qel.str(a))
            del new["k"]
            return new

        assert outcome(lambda: a - "k") == outcome(faithful_sub)


def test_key_order_of_a_subclass_comes_from_its_items():
    assert list(tweak_subclass_items(None) + {}) == ["z", "k"]


# ---- changes inside the standard json module are followed too --------------------------


def patch_encoder_attribute(monkeypatch):
    monkeypatch.setattr(json._default_encoder, "sort_keys", True)


def patch_dumps_defaults(monkeypatch):
    monkeypatch.setitem(json.dumps.__kwdefaults__, "sort_keys", True)


def patch_string_encoder(monkeypatch):
    monkeypatch.setattr(json.encoder, "encode_basestring_ascii", lambda s: json.encoder.py_encode_basestring(s.upper()))


def patch_decoder_method(monkeypatch):
    decode = json.JSONDecoder.decode
    monkeypatch.setattr(json.JSONDecoder, "decode", lambda self, s: {"decoded": decode(self, s)})


def patch_encoder_class(monkeypatch):
    class Sorted(json.JSONEncoder):
        def iterencode(self, o, _one_shot=False):
            return json.JSONEncoder(sort_keys=True).iterencode(o, _one_shot)

    monkeypatch.setattr(json._default_encoder, "__class__", Sorted)


STDLIB_PATCHES = [patch_encoder_attribute, patch_dumps_defaults, patch_string_encoder, patch_decoder_method,
                  patch_encoder_class]


@pytest.mark.parametrize("patch", STDLIB_PATCHES, ids=[p.__name__ for p in STDLIB_PATCHES])
def test_changes_to_the_standard_module_are_followed(patch, monkeypatch):
    doc = {"b": {"z": "x", "y": [1]}, "a": "text"}
    a = qel.json({"k": "v"})
    patch(monkeypatch)
    assert outcome(lambda: qel.json(doc)) == outcome(lambda: roundtrip(doc))
    assert outcome(lambda: a + doc) == outcome(lambda: {**roundtrip(roundtrip({"k": "v"})), **roundtrip(doc)})
    monkeypatch.undo()
    assert outcome(lambda: qel.json(doc)) == outcome(lambda: roundtrip(doc))


@pytest.mark.parametrize("make", [tweak_subclass_items, tweak_instance_items, lambda mp: qel.json({"k": [1], "z": 2})])
def test_update_and_add_read_a_json_argument_through_its_items(make):
    value = make(None)
    a = qel.json({"pre": 1})
    if type(value) is qel.Json:  # `+` refuses every other dict subclass
        assert outcome(lambda: a + value) == outcome(lambda: {"pre": 1, **roundtrip(value)})
    assert outcome(lambda: a.update(value) or a) == outcome(lambda: {"pre": 1, **roundtrip(value)})
