#pragma once

#include <cstddef>

namespace moravel {

// The system's page size.
std::size_t PageSize();

// Zero-filled pages straight from the system, that cost nothing until they are
// touched; null when there are none. Given back with UnmapPages.
void* MapPages(std::size_t bytes);
void UnmapPages(void* pages, std::size_t bytes);

// A heap block aligned to `alignment` (a power of two); null when there is none.
// Given back with FreeAligned.
void* AllocateAligned(std::size_t alignment, std::size_t bytes);
void FreeAligned(void* block);

}  // namespace moravel
