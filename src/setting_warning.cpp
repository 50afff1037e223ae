#include "setting_warning.h"

#include <mutex>
#include <set>
#include <string>

#include "python.h"

namespace zelvanic {
namespace {

// Long values are cut: the line is for a person, and PySys_FormatStderr stops at 1000 bytes.
constexpr std::size_t kShownBytes = 60;

}  // namespace

void warn_if_refused(const char* name, const qubit::CountSetting& setting,
                     std::string_view wanted) {
    if (setting.kind != qubit::CountSetting::Kind::refused) return;
    static std::mutex reported_lock;
    static std::set<std::string> reported;
    {
        const std::lock_guard<std::mutex> lock(reported_lock);
        if (!reported.insert(std::string(name) + '=' + setting.text).second) return;
    }
    const std::string shown = setting.text.substr(0, kShownBytes);
    const std::string wanted_text(wanted);
    // The text as Python's repr shows it, so that control characters stay on this one line.
    PyObject* exception = take_exception();
    PyObject* text = PyUnicode_DecodeLocale(shown.c_str(), "surrogateescape");
    if (text == nullptr) {
        PyErr_Clear();
        PySys_FormatStderr("zelvanic: ignoring %s: wanted %s; using the default\n", name,
                           wanted_text.c_str());
    } else {
        PySys_FormatStderr("zelvanic: ignoring %s=%R%s: wanted %s; using the default\n", name, text,
                           shown.size() < setting.text.size() ? "..." : "", wanted_text.c_str());
        Py_DECREF(text);
    }
    if (exception != nullptr) restore_exception(exception);
}

}  // namespace zelvanic
