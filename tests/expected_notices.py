"""What the start-up notices look like on standard error, written out plainly.

The host is the build setting QEL_HOME_HOST; run the tests with the same
value the module was built with (unset for the default build).
"""
import os

HOST = os.environ.get("QEL_HOME_HOST", "qel.invalid")
HOME_PAGE = f"https://{HOST}/qel/"
VERSION_FILE = f"https://{HOST}/qel/qel.version"

WELCOME = (
    "欢迎使用QEL-Python库! 您当前使用的是QEL-2.2版, 可在作者个人网址\""
    + HOME_PAGE
    + "\"找到本库最新版~ Welcome to the QEL Python library! You are currently using the "
    "QEL-2.2 version, which can be found on the author's website \""
    + HOME_PAGE
    + "\" find the latest version of this library~"
)
FAILED = (
    "\x1b[31m无法获取最新QEL库版本号, 可能是网络链接问题或服务器故障. Unable to get the "
    "latest version number of QEL library, possible network link problem or server failure."
)


def newer(shown):
    return f"检测到新版本: {shown}. New version detected: {shown}."


def stderr_bytes(*texts):
    """Each notice is one message line, passed whole to the bold-red writer."""
    line = "\x1b[33;4m[ю QEL]\x1b[0;32m: \x1b[35m{}\x1b[0m\n"
    return "".join("\x1b[31;1m" + line.format(t) + "\x1b[0m" for t in texts).encode("utf-8")
