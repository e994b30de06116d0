// The renderer's reference clock as the output's clock timer sees it: a
// private time (100 ns units) that can be pulled by a delta.
#pragma once

#include <cstdint>

struct IOutputClock {
    virtual std::int64_t GetPrivateTime() = 0;
    virtual void AdjustTime(std::int64_t delta) = 0;

protected:
    ~IOutputClock() = default;
};
