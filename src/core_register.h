// The core register this build of the extension binds: the register of one process, or, in
// the build for MPI jobs (ZELVANIC_MPI, integrations/mpi), the register spread over the job's
// processes. Both have the same constructor, methods and results, so one binding serves both.
#pragma once

#include <functional>

#include "qubit/state/result.h"

#ifdef ZELVANIC_MPI
#include "distributed/distributed_register.h"
namespace zelvanic {
using CoreRegister = distributed::DistributedRegister;
}
#else
#include "qubit/register/register.h"
namespace zelvanic {
using CoreRegister = qubit::QuantumRegister;
}
#endif

namespace zelvanic {
using CoreGateResult = qubit::Result<std::reference_wrapper<CoreRegister>>;
}
