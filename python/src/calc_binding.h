// The bindings of kelvara.calc (calc_binding.cpp), registered by the module (module.cpp).
#pragma once

#include <pybind11/pybind11.h>

#include <functional>

namespace kelvara_python {

// Runs a call into the core as module.cpp's inCore does: the interpreter's lock given up, the
// core's lock held, the console captured, warnings passed on and errors raised as
// kelvara.Error.
using CoreCall = std::function<void(const std::function<void()>&)>;

// Adds _kelvara.Calculation to the module.
void registerCalc(pybind11::module_& m, CoreCall call);

}  // namespace kelvara_python
