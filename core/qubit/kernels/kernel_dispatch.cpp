// The one place that decides which kernel family runs. The vector families are compiled
// with their own instruction sets and must not be entered before the processor (and the
// operating system, which has to save the wide registers) has been asked; the compiler's
// feature query checks both.
#include <vector>

#include "qubit/kernels/kernels.h"

namespace qubit {
namespace {

bool has_avx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

bool has_avx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f");
}

const KernelFamily& fastest() {
    if (has_avx512()) return kAvx512Kernels;
    if (has_avx2()) return kAvx2Kernels;
    return kPlainKernels;
}

}  // namespace

const KernelFamily& active_kernels() {
    static const KernelFamily& chosen = fastest();
    return chosen;
}

std::vector<const KernelFamily*> supported_kernels() {
    std::vector<const KernelFamily*> families{&kPlainKernels};
    if (has_avx2()) families.push_back(&kAvx2Kernels);
    if (has_avx512()) families.push_back(&kAvx512Kernels);
    return families;
}

}  // namespace qubit
