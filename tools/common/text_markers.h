// Message tables with markers: "%d", "%1" ... stand for the values a message names.
// '%' is never part of a GBK character, so the texts are scanned byte by byte, in one
// pass: a value (a path, a device name) is never read as markers.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace toolio {

// valueOf(key) gives the value of the marker "%key"; "%%" is a '%'.
std::string fillMarkers(const char* text, const std::function<std::string(char key)>& valueOf);

// The row of `key` in a message table of rows {key, text, ...}; nullptr when it has none.
template <typename Row, std::size_t N, typename Key>
const Row* rowOf(const Row (&table)[N], Key key) {
  for (const Row& row : table)
    if (row.key == key) return &row;
  return nullptr;
}

}  // namespace toolio
