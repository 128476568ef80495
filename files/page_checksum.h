// Checksums of parameter memory: the configuration report's page checksum, also kept with every
// unit history record.
//
// State model: none.
//   Crc32          CRC-32 (the zip/PNG polynomial, reflected, init and final xor 0xFFFFFFFF)
//   PagesChecksum  CRC-32 over the parameter pages first..last, each at its length, in order
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "definitions/pardef.h"

namespace lumo {

uint32_t Crc32(const uint8_t* data, size_t n, uint32_t crc = 0);

// lengths[p] < 0 leaves page p out (not read, or not in the device).
uint32_t PagesChecksum(const PageImage& image, const std::vector<int>& lengths);

}  // namespace lumo
