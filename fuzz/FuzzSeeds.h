// Seed recordings for the fuzz targets, made by the project's writer.
#pragma once

#include <cstdint>
#include <vector>

namespace vokfuzz {
std::vector<std::vector<std::uint8_t>> seedRecordings();
}
