// The start-up notice and the version check. The check asks the home host for
// the latest version number; whatever goes wrong there (no urllib3, no network,
// an error page, even Ctrl-C) must not stop the import, so it ends in a
// one-line failure notice instead.
#include "core/names.hpp"
#include "module/import_from.hpp"
#include "module/startup.hpp"

#include <string>

#ifndef QEL_HOME_HOST
#define QEL_HOME_HOST "qel.invalid"
#endif

namespace qel::module::startup {

namespace {

const std::string home_host = QEL_HOME_HOST;

// The welcome text goes through the %-operator, so any percent sign in the
// address is doubled first to come out as itself.
std::string percent_doubled(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '%') out += '%';
    }
    return out;
}

std::string welcome_template() {
    const std::string home_page = percent_doubled("https://" + home_host + "/qel/");
    return "欢迎使用QEL-Python库! 您当前使用的是QEL-%s版, 可在作者个人网址\"" + home_page +
           "\"找到本库最新版~ Welcome to the QEL Python library! You are currently using the "
           "QEL-%s version, which can be found on the author's website \"" +
           home_page + "\" find the latest version of this library~";
}

const std::string version_file_address = "https://" + home_host + "/qel/qel.version";

constexpr const char* newer_version_template = "检测到新版本: %s. New version detected: %s.";

constexpr const char* check_failed_text =
    "\x1b[31m无法获取最新QEL库版本号, 可能是网络链接问题或服务器故障. Unable to get the latest "
    "version number of QEL library, possible network link problem or server failure.";

Ref text_of(const std::string& utf8) {
    return Ref::adopt(PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size())));
}

/// `template % (value, value)`
Ref format_twice(const Ref& format, const Ref& value) {
    if (!format || !value) return {};
    Ref pair = Ref::adopt(PyTuple_Pack(2, value.get(), value.get()));
    if (!pair) return {};
    return Ref::adopt(PyUnicode_Format(format.get(), pair.get()));
}

/// Calls the module's current `qel_send_message` with `text`.
int send_message(const Globals& g, const Ref& text) {
    if (!text) return -1;
    Ref send = g.get(names::qel_send_message);
    if (!send) return -1;
    return Ref::adopt(PyObject_CallOneArg(send.get(), text.get())) ? 0 : -1;
}

/// 1 when os.environ holds `variable` with the exact value "1", 0 when not.
int switched_on(const Globals& g, const char* variable) {
    Ref os = g.get(names::os);
    if (!os) return -1;
    Ref environ = Ref::adopt(PyObject_GetAttrString(os.get(), "environ"));
    Ref key = Ref::adopt(PyUnicode_FromString(variable));
    Ref one = Ref::adopt(PyUnicode_FromString("1"));
    if (!environ || !key || !one) return -1;
    int present = PySequence_Contains(environ.get(), key.get());
    if (present <= 0) return present;
    Ref value = Ref::adopt(PyObject_GetItem(environ.get(), key.get()));
    if (!value) return -1;
    return PyObject_RichCompareBool(value.get(), one.get(), Py_EQ);
}

/// The guarded part of the check; -1 with whatever exception it met.
int check_version(const Globals& g) {
    Ref pool_manager = import_from(g, "urllib3", "PoolManager");
    if (g.set(names::PoolManager, pool_manager) < 0) return -1;

    // The package's defaults for pools, retries and time-outs all apply.
    Ref pool = Ref::adopt(PyObject_CallNoArgs(pool_manager.get()));
    if (!pool) return -1;
    Ref response = Ref::adopt(PyObject_CallMethod(pool.get(), "request", "ss", "GET",
                                                  version_file_address.c_str()));
    if (!response) return -1;
    Ref data = Ref::adopt(PyObject_GetAttrString(response.get(), "data"));
    if (!data) return -1;
    // The status is not looked at: an error page fails the float conversion.
    Ref latest = Ref::adopt(PyObject_CallOneArg(reinterpret_cast<PyObject*>(&PyFloat_Type), data.get()));
    if (g.set(names::new_qel, latest) < 0) return -1;

    Ref running = g.get(names::qel_version);
    if (!running) return -1;
    int newer = PyObject_RichCompareBool(running.get(), latest.get(), Py_LT);
    if (newer <= 0) return newer;
    return send_message(g, format_twice(Ref::adopt(PyUnicode_FromString(newer_version_template)), latest));
}

}  // namespace

int notice_and_version_check(const Globals& g) {
    int quiet = switched_on(g, "qel.no_info");
    if (quiet != 0) return quiet < 0 ? -1 : 0;

    Ref version = g.get(names::qel_version);
    if (send_message(g, format_twice(text_of(welcome_template()), version)) < 0) return -1;

    int no_check = switched_on(g, "qel.no_check");
    if (no_check != 0) return no_check < 0 ? -1 : 0;

    if (check_version(g) < 0) {
        // Every exception, KeyboardInterrupt and SystemExit included, becomes
        // the failure notice; bindings made before it stay.
        PyErr_Clear();
        return send_message(g, Ref::adopt(PyUnicode_FromString(check_failed_text)));
    }
    return 0;
}

}  // namespace qel::module::startup
