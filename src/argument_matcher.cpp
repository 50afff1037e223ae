#include "argument_matcher.h"

#include <cstring>

namespace zelvanic {
namespace {

class Matcher {
public:
    Matcher(const Signature& signature, std::span<PyObject*> out) : sig_(signature), out_(out) {
        for (PyObject*& slot : out_) slot = nullptr;
    }

    bool positional(PyObject* const* args, Py_ssize_t count) {
        const auto size = static_cast<Py_ssize_t>(sig_.params.size());
        if (count > size) {
            PyErr_Format(PyExc_TypeError, "%s takes %zd positional arguments but %zd %s given",
                         sig_.function.c_str(), size, count, count == 1 ? "was" : "were");
            return false;
        }
        for (Py_ssize_t i = 0; i < count; ++i) out_[i] = args[i];
        return true;
    }

    bool keyword(PyObject* name, PyObject* value) {
        Py_ssize_t length = 0;
        const char* text = PyUnicode_AsUTF8AndSize(name, &length);
        if (text == nullptr) return false;
        for (std::size_t i = 0; i < sig_.params.size(); ++i) {
            const char* param = sig_.params[i];
            if (std::strlen(param) != static_cast<std::size_t>(length) ||
                std::memcmp(param, text, length) != 0) {
                continue;
            }
            if (out_[i] != nullptr) {
                PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'",
                             sig_.function.c_str(), param);
                return false;
            }
            out_[i] = value;
            return true;
        }
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'",
                     sig_.function.c_str(), name);
        return false;
    }

    // Names joined as 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
    bool finish() const {
        std::string names;
        std::size_t missing = 0;
        for (std::size_t i = 0; i < out_.size(); ++i) missing += out_[i] == nullptr;
        if (missing == 0) return true;
        std::size_t written = 0;
        for (std::size_t i = 0; i < out_.size(); ++i) {
            if (out_[i] != nullptr) continue;
            if (written > 0 && missing > 2) names += ",";
            if (written > 0 && written + 1 == missing) names += " and";
            if (written > 0) names += " ";
            names += '\'';
            names += sig_.params[i];
            names += '\'';
            ++written;
        }
        PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s",
                     sig_.function.c_str(), missing, missing == 1 ? "argument" : "arguments",
                     names.c_str());
        return false;
    }

private:
    const Signature& sig_;
    std::span<PyObject*> out_;
};

}  // namespace

bool match_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, std::span<PyObject*> out) {
    const Py_ssize_t positional = PyVectorcall_NARGS(nargs);
    if (kwnames == nullptr && static_cast<std::size_t>(positional) == out.size()) {
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = args[i];  // the common call
        return true;
    }
    Matcher matcher(signature, out);
    if (!matcher.positional(args, positional)) return false;
    const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < keywords; ++i) {
        if (!matcher.keyword(PyTuple_GET_ITEM(kwnames, i), args[positional + i])) return false;
    }
    return matcher.finish();
}

bool match_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                     std::span<PyObject*> out) {
    Matcher matcher(signature, out);
    if (!matcher.positional(&PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args))) return false;
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject *name, *value;
        while (PyDict_Next(kwargs, &position, &name, &value)) {
            if (!matcher.keyword(name, value)) return false;
        }
    }
    return matcher.finish();
}

}  // namespace zelvanic
