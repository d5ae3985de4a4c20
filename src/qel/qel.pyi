# Type information for the qel extension module, for editors and type checkers.
#
# The module shadows the names `str` and `json`: inside this file `str` is the
# module's extended string type and `builtins.str` the interpreter's own.
import builtins
import os as os
import socket as socket
import sys as sys
import types
from random import randint as rd
from string import ascii_uppercase as ascii_uppercase
from traceback import print_stack as print_stack
from typing import (
    Any,
    ClassVar,
    Dict,
    Iterable,
    List,
    Literal,
    Mapping,
    Optional,
    SupportsIndex,
    Tuple,
    Union,
)

qel_version: float

# Bound by the version check only: `PoolManager` once urllib3 was imported,
# `new_qel` once the version file was read and converted.
PoolManager: type
new_qel: float

if sys.platform == "win32":
    windll: Any

class vanilla:
    """The interpreter's own objects whose names the module reuses."""
    str: ClassVar[type[builtins.str]]
    json: ClassVar[types.ModuleType]

class str(builtins.str):
    """A str with a readable repr and methods that colour, escape and tag text."""
    def __repr__(self) -> builtins.str: ...
    def qe_addcolor(self) -> str: ...
    def qe_decode(self, encoding: builtins.str = "utf-8") -> str: ...
    def qe_goto_unicode(self, ifx: object = 1) -> str: ...
    def qe_goto_qel(self) -> str: ...
    def qe_remove(self, to_rm: builtins.str, times: SupportsIndex = -1) -> str: ...
    def qe_rmcolor(self) -> str: ...
    def qe_only(self, char: object) -> Optional[Literal[1]]: ...

class terminal_listener:
    """Records what is written to standard output and standard error while open."""
    listeners: ClassVar[List[terminal_listener]]
    # The class attribute is an empty `str`; captures make it a plain string.
    content: builtins.str
    log: object
    def __init__(self, log: object = 0) -> None: ...
    def read(self) -> str: ...
    def close(self) -> None: ...
    def __del__(self) -> None: ...
    def __str__(self) -> str: ...
    def __repr__(self) -> str: ...

_Fill = Union[builtins.str, List[str]]

class __string__:
    color: ClassVar[List[str]]
    fcolor: ClassVar[List[str]]
    # The renderers are plain functions meant to be called through the class;
    # "static" is how a stub says that such a call takes no instance.
    @staticmethod
    def hut(Str: _Fill = "ю") -> None: ...
    @staticmethod
    def lute(Str: _Fill = "ю") -> None: ...
    class qel:
        @staticmethod
        def qel(Str: _Fill = "ю") -> None: ...
        class vb:
            @staticmethod
            def rover_tam(Str: _Fill = "ю") -> None: ...

def qel_send_message(text: object, /) -> None: ...
def colorful_ps() -> None: ...

_Pairs = Union[Mapping[Any, Any], Iterable[Tuple[Any, Any]]]

class Json(Dict[builtins.str, Any]):
    """A dict that holds only JSON data; made by `qel.json(...)`."""
    def __init__(self, data: object) -> None: ...  # always raises RuntimeError
    def __add__(self, value: Dict[Any, Any]) -> Json: ...
    def __sub__(self, key: object) -> Json: ...
    def __call__(self, key: builtins.str, /) -> Any: ...
    def update(self, value: _Pairs) -> None: ...  # type: ignore[override]
    def copy(self) -> Json: ...
    def __str__(self) -> builtins.str: ...
    def __repr__(self) -> builtins.str: ...

# At run time this class is also named `json`; the module name `json` is its
# one instance, so the class is reached only as `type(qel.json)`.
class _JsonFactory:
    def __call__(self, data: Union[builtins.str, Dict[Any, Any]] = ...) -> Json: ...
    def __getitem__(self, data: Union[builtins.str, Dict[Any, Any]]) -> Json: ...
    def __repr__(self) -> builtins.str: ...

json: _JsonFactory

class Solution:
    @staticmethod
    def numberOfSteps(num: int = ..., numc: object = ...) -> Optional[int]: ...

def rdletters(lt: int = 12, up: int = 1) -> Optional[builtins.str]: ...
def multiple(num: int = ..., max: int = ..., min: int = 0) -> Optional[List[int]]: ...
