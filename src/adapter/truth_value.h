// Exports whose result is an 8-bit truth value (the probes, PKDV_CloseAdapter,
// PKDV_SetBPFProgram) leave 0 or 1 in the whole 32-bit result register:
// clients declare them as returning a 32-bit BOOL and test every bit.
#pragma once

#include <cstdint>

namespace pkdv {

// 0 or 1 in all 32 bits. Defined out of line and never inlined, so an export
// that returns this call's value narrowed to 8 bits has nothing left to do to
// the register and passes it on as it is.
std::uint32_t full_width_truth(bool value);

}  // namespace pkdv
