// Randomness for names that only have to be hard to guess and rarely collide.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaro {

// Fills `out` with bytes from the system's random source; false when it has none to give now.
bool SystemRandomBytes(unsigned char* out, std::size_t size);

// This process's number.
uint64_t ProcessNumber();

}  // namespace tessaro
