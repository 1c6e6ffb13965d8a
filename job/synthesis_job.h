#pragma once
// The work that one press of Start sets off, on a thread of its own.

namespace qx {

class SynthesisJob {
public:
    static void run() noexcept;
};

}  // namespace qx
