// The one place that decides which kernel family runs. The vector families are compiled
// with their own instruction sets and must not be entered before the processor (and the
// operating system, which has to save the wide registers) has been asked; the compiler's
// feature query checks both.
#include <cstdint>
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

// No partner is this far apart: a state has at most 2^kMaxQubits amplitudes.
constexpr std::uint64_t kNeverStaged = ~std::uint64_t{0};

std::uint64_t processor_staged_half() {
    __builtin_cpu_init();
    // 2^24 amplitudes are 256 MiB: the nearest partners whose addresses agree in the 28 low
    // bits that an AMD core's first-level cache tells lines apart by.
    return __builtin_cpu_is("amd") ? std::uint64_t{1} << 24 : kNeverStaged;
}

std::uint64_t forced_staged_half = 0;

}  // namespace

std::uint64_t staged_partner_half() {
    static const std::uint64_t processor = processor_staged_half();
    return forced_staged_half != 0 ? forced_staged_half : processor;
}

void stage_partners_from(std::uint64_t half) { forced_staged_half = half; }

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
