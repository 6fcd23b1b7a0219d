// Classic BPF programs as clients hand them in. Each is checked before any
// capture library sees it: capture libraries end the process on an
// instruction they do not know, or read outside the frame on a jump out of
// the program. The capture units also run programs themselves on savefiles,
// where the capture library would use the result only as keep or drop and
// never cut the frame to the length the program returns.
#pragma once

#include <cstdint>
#include <vector>

namespace pkdv::bpf {

struct Instruction {
  std::uint16_t code;
  std::uint8_t jump_true;
  std::uint8_t jump_false;
  std::uint32_t k;
};
static_assert(sizeof(Instruction) == 8);

using Program = std::vector<Instruction>;

// The longest program the kernel and the capture libraries accept.
inline constexpr std::uint32_t kMostInstructions = 4096;

// Copies `count` instructions from the client's bytes (any alignment) when
// they form a program that every capture library and the kernel run alike:
// 1 to kMostInstructions instructions, each of a known kind, scratch memory
// cells 0 to 15, no constant division by 0 or shift by 32 or more, every jump
// landing inside the program, the last instruction a return. False otherwise
// (`program` is then left as it was).
bool read_valid_program(const void* instructions, std::uint32_t count, Program* program);

// Runs a valid program on a frame of `wire_length` bytes of which `captured`
// are at `frame`: the number of bytes to keep, 0 to drop the frame. A load
// outside the captured bytes drops the frame, as a division by 0 does.
std::uint32_t run(const Program& program, const std::uint8_t* frame, std::uint32_t wire_length,
                  std::uint32_t captured);

}  // namespace pkdv::bpf
