// What every QuantumRegister method does, written once: match the arguments, hold the
// register exclusively, convert the arguments in parameter order, call one core operation,
// and hand its outcome back (the same object for a gate, a new PyDiracKet for a measurement,
// a list for the read-out, ValueError for a failure, the fatal-error exception for a stop),
// all inside the guard that keeps C++ exceptions from reaching the interpreter.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "argument_kinds.h"
#include "argument_matcher.h"
#include "entry_guard.h"
#include "objects.h"
#include "panic.h"
#include "python.h"
#include "text_signature.h"

namespace zelvanic {

PyObject* hand_back(PyObject* self, CoreGateResult& outcome);
PyObject* hand_back(PyObject* self, const std::vector<double>& outcome);
PyObject* already_borrowed();

// What a core call's outcome becomes in Python. Most outcomes are made into objects after
// the call, which leaves the register as it was when they fail; a gate's or a read-out's
// failure to hand back changes nothing. A measurement cannot be taken back once it has
// collapsed the register, so its ket is made before the call (`made()` false: MemoryError
// is set and the call must not run) and only filled in after it, which cannot fail.
template <class Outcome>
struct Outcomes {
    bool made() const { return true; }
    PyObject* hand_back(PyObject* self, Outcome& outcome) {
        return zelvanic::hand_back(self, outcome);
    }
};

template <>
struct Outcomes<qubit::DiracKet> {
    Outcomes() : ket(new_blank_ket()) {}
    Outcomes(const Outcomes&) = delete;
    Outcomes& operator=(const Outcomes&) = delete;
    ~Outcomes() { Py_XDECREF(ket); }  // a call that stopped leaves its ket unused
    bool made() const { return ket != nullptr; }
    PyObject* hand_back(PyObject*, const qubit::DiracKet& outcome) noexcept {
        fill_ket(ket, outcome);
        return std::exchange(ket, nullptr);
    }
    PyObject* ket;
};

// The register is released before the outcome is handed back, since making Python objects can
// run Python code that calls the register again. An exception releases it on its way out.
template <class Call, class Outcome>
PyObject* run_core(PyObject* self, ExclusiveHold& hold, Outcomes<Outcome>& outcomes, Call&& call) {
    auto outcome = call();
    hold.release();
    return outcomes.hand_back(self, outcome);
}

template <TextSignature Doc, auto Core, class... Kinds>
struct Method {
    static_assert(kParamCount<Doc> == sizeof...(Kinds), "one argument kind per parameter");
    using Indices = std::index_sequence_for<Kinds...>;

    template <std::size_t... I>
    static bool convert(const std::array<PyObject*, sizeof...(Kinds)>& given,
                        std::tuple<typename Kinds::Held...>& held, std::index_sequence<I...>) {
        return ((Kinds::check(given[I], std::get<I>(held)) ||
                 (name_the_argument(kParamNames<Doc>[I]), false)) &&
                ...);
    }

    template <std::size_t... I>
    static auto call(CoreRegister& reg, std::tuple<typename Kinds::Held...>& held,
                     std::index_sequence<I...>) {
        return std::invoke(Core, reg, Kinds::take(std::get<I>(held))...);
    }

    using Outcome = std::remove_cvref_t<decltype(call(
        std::declval<CoreRegister&>(), std::declval<std::tuple<typename Kinds::Held...>&>(),
        Indices{}))>;

    static PyObject* fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
        return guarded([&]() -> PyObject* {
            RegisterObject* object = built_register(self);
            if (object == nullptr) return nullptr;
            static const Signature signature{
                "QuantumRegister." + std::string(kMethodName<Doc>.data()) + "()", kParamNames<Doc>};
            std::array<PyObject*, sizeof...(Kinds)> given;
            if (!match_arguments(signature, args, nargs, kwnames, given)) return nullptr;
            Outcomes<Outcome> outcomes;
            if (!outcomes.made()) return nullptr;
            ExclusiveHold hold(object->borrow);
            if (!hold) return already_borrowed();
            std::tuple<typename Kinds::Held...> held;
            if (!convert(given, held, Indices{})) return nullptr;
            return run_core(self, hold, outcomes,
                            [&] { return call(object->reg, held, Indices{}); });
        });
    }

    static PyObject* noargs(PyObject* self, PyObject*) {
        return guarded([&]() -> PyObject* {
            RegisterObject* object = built_register(self);
            if (object == nullptr) return nullptr;
            Outcomes<Outcome> outcomes;
            if (!outcomes.made()) return nullptr;
            ExclusiveHold hold(object->borrow);
            if (!hold) return already_borrowed();
            return run_core(self, hold, outcomes, [&] { return std::invoke(Core, object->reg); });
        });
    }
};

// One row of the method table.
template <TextSignature Doc, auto Core, class... Kinds>
PyMethodDef method() {
    using M = Method<Doc, Core, Kinds...>;
    if constexpr (sizeof...(Kinds) == 0) {
        return {kMethodName<Doc>.data(), reinterpret_cast<PyCFunction>(M::noargs), METH_NOARGS,
                Doc.text};
    } else {
        return {kMethodName<Doc>.data(),
                reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(M::fastcall)),
                METH_FASTCALL | METH_KEYWORDS, Doc.text};
    }
}

}  // namespace zelvanic
