#pragma once

#include <nlohmann/json.hpp>

#include "Listing.h"

namespace moravel::cli {

// The JSON object of a listed item: name, path, kind, size, attributes and
// firstCluster; a directory entry's dates, its size field, short and file name;
// what the details hold (clusters and fragments, a volume's boot sector, a
// disk's source); and children when it was expanded.
nlohmann::ordered_json ItemJson(const ListedItem& listed);

}  // namespace moravel::cli
