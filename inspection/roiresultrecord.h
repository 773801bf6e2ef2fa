#pragma once
// One measured region of one detection pass, as the detection pass hands it to the report link.
// Eight 32-bit numbers in the order the report maps them onto its keys.

#include <cstdint>

struct RoiResultRecord
{
    int32_t camera = 0;   // camera index, from 0
    int32_t detect = 0;   // detection slot
    int32_t roi = 0;      // region number within the slot
    int32_t function = 0; // region function code
    int32_t value = 0;    // blob area sum (temperature x 100 for the temperature alarm)
    int32_t low = 0;      // lower limit, 0 where the function has none
    int32_t high = 0;     // upper limit, -1 for similarity
    int32_t pass = 0;     // the camera's verdict so far: 0 once this or an earlier region failed
};
