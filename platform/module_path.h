#pragma once
// The full path of the running executable.

#include <string>

namespace qx {

// No fixed MAX_PATH limit; empty when the platform cannot give the path.
[[nodiscard]] std::wstring executablePath();

}  // namespace qx
