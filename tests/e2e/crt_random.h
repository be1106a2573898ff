// The programs' random source, reproduced so that tests know what they must draw.
#ifndef TOVIX_E2E_CRT_RANDOM_H
#define TOVIX_E2E_CRT_RANDOM_H

#include <cstdint>

namespace e2e {

class CrtRandom {
public:
    int next()
    {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFF);
    }

private:
    std::uint32_t state_ = 1;
};

}  // namespace e2e

#endif
