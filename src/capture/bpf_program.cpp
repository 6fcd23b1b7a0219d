#include "capture/bpf_program.h"

#include <cstring>

namespace pkdv::bpf {

namespace {

// Instruction codes: class in the low three bits; loads add a size and a
// mode, arithmetic and jumps an operation and an operand source.
constexpr std::uint16_t kClassMask = 0x07;
constexpr std::uint16_t kLoad = 0x00;
constexpr std::uint16_t kLoadX = 0x01;
constexpr std::uint16_t kStore = 0x02;
constexpr std::uint16_t kStoreX = 0x03;
constexpr std::uint16_t kArithmetic = 0x04;
constexpr std::uint16_t kJump = 0x05;
constexpr std::uint16_t kReturn = 0x06;
constexpr std::uint16_t kMisc = 0x07;

constexpr std::uint16_t kWord = 0x00;
constexpr std::uint16_t kHalf = 0x08;
constexpr std::uint16_t kByte = 0x10;
constexpr std::uint16_t kImmediate = 0x00;
constexpr std::uint16_t kAbsolute = 0x20;
constexpr std::uint16_t kIndirect = 0x40;
constexpr std::uint16_t kMemory = 0x60;
constexpr std::uint16_t kLength = 0x80;
constexpr std::uint16_t kHeaderLength = 0xa0;  // ldx 4*([k]&0xf)

constexpr std::uint16_t kOperationMask = 0xf0;
constexpr std::uint16_t kFromX = 0x08;
constexpr std::uint16_t kAdd = 0x00, kSub = 0x10, kMul = 0x20, kDiv = 0x30, kOr = 0x40, kAnd = 0x50,
                        kShiftLeft = 0x60, kShiftRight = 0x70, kNegate = 0x80, kMod = 0x90,
                        kXor = 0xa0;
constexpr std::uint16_t kAlways = 0x00, kEqual = 0x10, kGreater = 0x20, kGreaterOrEqual = 0x30,
                        kAnyBit = 0x40;
constexpr std::uint16_t kReturnA = 0x10;
constexpr std::uint16_t kAToX = 0x00, kXToA = 0x80;

constexpr std::uint32_t kMemoryCells = 16;
constexpr std::uint32_t kBitsInWord = 32;

bool is_known_code(std::uint16_t code) {
  switch (code) {
    case kLoad | kWord | kAbsolute:
    case kLoad | kHalf | kAbsolute:
    case kLoad | kByte | kAbsolute:
    case kLoad | kWord | kIndirect:
    case kLoad | kHalf | kIndirect:
    case kLoad | kByte | kIndirect:
    case kLoad | kWord | kLength:
    case kLoad | kImmediate:
    case kLoad | kMemory:
    case kLoadX | kWord | kImmediate:
    case kLoadX | kWord | kMemory:
    case kLoadX | kWord | kLength:
    case kLoadX | kByte | kHeaderLength:
    case kStore:
    case kStoreX:
    case kArithmetic | kNegate:
    case kJump | kAlways:
    case kReturn:
    case kReturn | kReturnA:
    case kMisc | kAToX:
    case kMisc | kXToA:
      return true;
    default:
      break;
  }
  const std::uint16_t operation = code & kOperationMask;
  if ((code & ~(kOperationMask | kFromX | kClassMask)) != 0) return false;
  if ((code & kClassMask) == kArithmetic) return operation <= kXor && operation != kNegate;
  if ((code & kClassMask) == kJump) return operation >= kEqual && operation <= kAnyBit;
  return false;
}

bool uses_memory_cell(std::uint16_t code) {
  return code == (kLoad | kMemory) || code == (kLoadX | kWord | kMemory) || code == kStore ||
         code == kStoreX;
}

// `steps` past the instruction after `at` stays inside the program.
bool lands_inside(std::uint32_t at, std::uint32_t steps, std::uint32_t count) {
  return steps < count - at - 1;
}

bool is_valid_at(const Instruction& in, std::uint32_t at, std::uint32_t count) {
  if (!is_known_code(in.code)) return false;
  if (uses_memory_cell(in.code) && in.k >= kMemoryCells) return false;
  const std::uint16_t operation = in.code & kOperationMask;
  switch (in.code & kClassMask) {
    case kArithmetic:
      if ((in.code & kFromX) != 0) return true;
      if ((operation == kDiv || operation == kMod) && in.k == 0) return false;
      if ((operation == kShiftLeft || operation == kShiftRight) && in.k >= kBitsInWord)
        return false;
      return true;
    case kJump:
      if (operation == kAlways) return lands_inside(at, in.k, count);
      return lands_inside(at, in.jump_true, count) && lands_inside(at, in.jump_false, count);
    default:
      return true;
  }
}

// Whether `size` bytes at `offset` lie within the captured bytes.
bool within(std::uint32_t offset, std::uint32_t size, std::uint32_t captured) {
  return offset <= captured && size <= captured - offset;
}

std::uint32_t load(const std::uint8_t* frame, std::uint32_t offset, std::uint32_t size) {
  std::uint32_t value = 0;
  for (std::uint32_t i = 0; i < size; ++i) value = value << 8 | frame[offset + i];
  return value;
}

std::uint32_t load_size(std::uint16_t code) {
  switch (code & 0x18) {
    case kHalf:
      return 2;
    case kByte:
      return 1;
    default:
      return 4;
  }
}

}  // namespace

bool read_valid_program(const void* instructions, std::uint32_t count, Program* program) {
  if (instructions == nullptr || count == 0 || count > kMostInstructions) return false;
  Program copy(count);
  std::memcpy(copy.data(), instructions, std::size_t{count} * sizeof(Instruction));
  for (std::uint32_t at = 0; at < count; ++at) {
    if (!is_valid_at(copy[at], at, count)) return false;
  }
  if ((copy.back().code & kClassMask) != kReturn) return false;
  *program = std::move(copy);
  return true;
}

std::uint32_t run(const Program& program, const std::uint8_t* frame, std::uint32_t wire_length,
                  std::uint32_t captured) {
  std::uint32_t a = 0;
  std::uint32_t x = 0;
  std::uint32_t memory[kMemoryCells] = {};
  for (std::uint32_t at = 0;; ++at) {
    const Instruction& in = program[at];
    const std::uint16_t operation = in.code & kOperationMask;
    const std::uint32_t operand = (in.code & kFromX) != 0 ? x : in.k;
    switch (in.code & kClassMask) {
      case kLoad:
      case kLoadX: {
        std::uint32_t value = 0;
        const std::uint16_t mode = in.code & 0xe0;
        if (mode == kAbsolute || mode == kIndirect) {
          const std::uint32_t base = mode == kIndirect ? x : 0;
          if (in.k > captured || base > captured - in.k) return 0;
          const std::uint32_t offset = base + in.k;
          const std::uint32_t size = load_size(in.code);
          if (!within(offset, size, captured)) return 0;
          value = load(frame, offset, size);
        } else if (mode == kHeaderLength) {
          if (in.k >= captured) return 0;
          value = (frame[in.k] & 0x0fu) << 2;
        } else if (mode == kLength) {
          value = wire_length;
        } else if (mode == kMemory) {
          value = memory[in.k];
        } else {
          value = in.k;
        }
        ((in.code & kClassMask) == kLoad ? a : x) = value;
        break;
      }
      case kStore:
        memory[in.k] = a;
        break;
      case kStoreX:
        memory[in.k] = x;
        break;
      case kArithmetic:
        switch (operation) {
          case kAdd:
            a += operand;
            break;
          case kSub:
            a -= operand;
            break;
          case kMul:
            a *= operand;
            break;
          case kDiv:
            if (operand == 0) return 0;
            a /= operand;
            break;
          case kMod:
            if (operand == 0) return 0;
            a %= operand;
            break;
          case kOr:
            a |= operand;
            break;
          case kAnd:
            a &= operand;
            break;
          case kXor:
            a ^= operand;
            break;
          case kShiftLeft:
            a = operand < kBitsInWord ? a << operand : 0;
            break;
          case kShiftRight:
            a = operand < kBitsInWord ? a >> operand : 0;
            break;
          default:  // kNegate
            a = 0u - a;
            break;
        }
        break;
      case kJump: {
        if (operation == kAlways) {
          at += in.k;
          break;
        }
        bool taken = false;
        if (operation == kEqual)
          taken = a == operand;
        else if (operation == kGreater)
          taken = a > operand;
        else if (operation == kGreaterOrEqual)
          taken = a >= operand;
        else
          taken = (a & operand) != 0;  // kAnyBit
        at += taken ? in.jump_true : in.jump_false;
        break;
      }
      case kReturn:
        return (in.code & kReturnA) != 0 ? a : in.k;
      default:  // kMisc
        if ((in.code & kXToA) != 0)
          a = x;
        else
          x = a;
        break;
    }
  }
}

}  // namespace pkdv::bpf
