#include "job/synthesis_job.h"

namespace qx {

void SynthesisJob::run() noexcept {}

}  // namespace qx
