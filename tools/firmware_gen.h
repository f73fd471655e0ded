#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Stand-in images of exactly the sizes the program carries, made deterministically
// because the writer's real firmware is not ours to ship. The two code images look
// like firmware to a packer (instruction words from a small set, vector table,
// literal pools, string tables, data tables, zero and 0xFF areas), so they pack to a
// realistic fraction of their size; the picture is a real 800 x 480 image (see
// picture_format.h).

constexpr std::size_t kApplicationImageSize = 3198584;
constexpr std::size_t kBootImageSize = 133488;

std::vector<std::uint8_t> GenerateApplicationImage();
std::vector<std::uint8_t> GenerateBootImage();
std::vector<std::uint8_t> GeneratePicture();
